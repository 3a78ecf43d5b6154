#pragma once
// The about box: a borderless light-blue box over its owner with the banner, the product name,
// the version from the program's version record, the release date, the copyright line, the
// link to the service's start page and a Close button. Escape, Enter and Close all end it.
// User-interface thread only.

#include "core/app/EXEUtils.h"
#include "ui/FormBase.h"

#include <QDialog>

class QLabel;
class QPushButton;

// Declared outside the namespace so that its meta-object's class name is the layout's plain
// class name, the one language files address.
class TFrm_About final : public quillo::TFormBase<QDialog> {
    Q_OBJECT
public:
    static constexpr int DesignedClientWidth = 393;
    static constexpr int DesignedClientHeight = 217;
    static constexpr int BannerHeight = 98;

    // Info: the version record the box shows (the running program's by default).
    explicit TFrm_About(QWidget* Owner = nullptr,
                        const quillo::TEXEVersionInfo& Info = quillo::ProgramVersionInfo());

    QLabel* Image1 = nullptr;
    QLabel* lab_product = nullptr;
    QLabel* lab_version = nullptr;
    QLabel* lab_releasedate = nullptr;
    QLabel* lab_copyright = nullptr;
    QLabel* lab_siteurl = nullptr;
    QPushButton* btn_close = nullptr;

    // Key is the typed character; Escape (27) closes the box with OK. True when handled.
    bool FormKeyPress(int Key);
    // Opens the label's address in the desktop's browser; a failure is not reported.
    void lab_siteurlClick();

protected:
    void CreateWidgets() override;
    void FormCreate() override;
    // Keyboard events reach the box before the focused control, so Escape works everywhere.
    bool eventFilter(QObject* Watched, QEvent* Event) override;

private:
    const quillo::TEXEVersionInfo FInfo;
};

namespace quillo {
using ::TFrm_About;
// Help > About...: shows the box modally over Owner (centred on it) and destroys it afterwards.
void ShowAboutBox(QWidget* Owner);
} // namespace quillo
