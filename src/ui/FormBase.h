#pragma once
// Every window of the program is built the same way: its widgets first, then the active language
// applied to them, then its own creation logic. TFormBase runs those three steps in that order,
// so a window added later is translated without anyone remembering to.
//
// Use: derive from TFormBase<QDialog> (or QMainWindow, QWidget), put Q_OBJECT in the derived
// class, build the widgets in CreateWidgets, put what the window does once its texts are final in
// FormCreate, and call CreateForm() as the last statement of the constructor. Widgets and actions
// carry the component names of the stored layouts as their objectName; the class name of the
// window (its meta-object's className()) is the layout's class name. Language files address both.

#include <QWidget>

#include <functional>

namespace quillo {

// The translation step every new window goes through, installed by the localizer. Empty: windows
// keep the texts they were built with. User-interface thread only.
using TFormTranslator = std::function<void(QWidget& Form)>;
// Returns the translator installed before, so that a temporary one can put it back.
TFormTranslator SetFormTranslator(TFormTranslator Translator);

// Applies the installed translator to one window; also used to translate open windows again
// after another language was chosen.
void TranslateForm(QWidget& Form);

template <class TQtBase> class TFormBase : public TQtBase {
public:
    using TQtBase::TQtBase;

protected:
    void CreateForm() {
        CreateWidgets();
        TranslateForm(*this);
        FormCreate();
    }
    virtual void CreateWidgets() = 0;
    virtual void FormCreate() {}
};

} // namespace quillo
