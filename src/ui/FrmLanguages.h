#pragma once
// Language selection: the language stored in AppSettings.General.LanguageFile (a language file's
// name without ".lng"; empty for the built-in English texts), the dialog that chooses it, and the
// start-up step that applies it.
//
// The languages offered are the ".lng" files of the shipped folder and of "languages" in the data
// folder; a name in the data folder wins. User-interface thread only.

#include "ui/FormBase.h"

#include <QDialog>
#include <QStringList>

class QLabel;
class QListWidget;
class QPushButton;

namespace quillo {

// The start-up part: reports silent, the two language folders, windows translated through
// TFormBase. Call once after the settings are loaded, before ApplyLanguage.
void SetUpLanguages();

// Applies LanguageFile: nothing when it is empty (and nothing is undone); otherwise windows and
// messages translated from now on, the file loaded and every open window translated.
void ApplyLanguage();

// Appends the names (up to the last ".", trimmed) of the files in Folder matching Mask, hidden
// ones included; folders are left out, and so are names that come out empty.
void ListLanguages(const QString& Folder, const QString& Mask, QStringList& List);

class TFrm_Languages final : public TFormBase<QDialog> {
    Q_OBJECT
public:
    explicit TFrm_Languages(QWidget* Owner = nullptr);

    QLabel* Label1 = nullptr;
    QListWidget* ListBox1 = nullptr;
    QPushButton* Button1 = nullptr; // OK
    QPushButton* Button2 = nullptr; // Cancel

    // The chosen name; empty when no entry is selected.
    QString SelectedLanguage() const;

protected:
    void CreateWidgets() override;
    // Fills the list from both folders and selects the stored language.
    void FormCreate() override;
};

// Runs the dialog; on OK stores the choice (empty when nothing is selected), applies it and saves
// the settings (a failed save is shown in an error box). True when the dialog ended with OK.
bool SelectLanguage(QWidget* Owner);

// The main window's Tools > Language... command ends here; afterwards, whatever the result, the
// window sets its tree's two node texts again from messages 65085 and 65086.
inline bool SelectLanguageDialog(QWidget* Owner) {
    return SelectLanguage(Owner);
}

} // namespace quillo
