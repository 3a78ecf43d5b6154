// The main window's tool commands: the settings dialog, the language, the about box, and what
// the program does once the queue has run dry (window back, sound, notification, shutdown).
#include "ui/MainWindow.h"

#include "core/app/EXEUtils.h"
#include "core/l10n/ResMessages.h"
#include "ui/CompletionActions.h"
#include "ui/FrmAbout.h"
#include "ui/FrmLanguages.h"
#include "ui/SettingsBox.h"

#include <QSystemTrayIcon>
#include <QTreeWidget>

namespace quillo {

TProductInfo BuiltInProductInfo() {
    TProductInfo info;
    const TEXEVersionInfo& record = ProgramVersionInfo();
    info.ProductName = record.Value("ProductName");
    info.LegalCopyright = record.Value("LegalCopyright");
    info.Comments = record.Value("Comments");
    info.FileVersion = {record.Major(), record.Minor(), record.Release(), record.Build()};
    // A program file without its record (stripped by a packager, say) still names itself.
    if (info.ProductName.empty())
        info.ProductName = "Quillo Uploader";
    return info;
}

void TMainWindow::InstallToolCommands() {
    InstallCommand(act_showsettings, [this] { act_showsettingsExecute(); });
    InstallCommand(act_selectlanguage, [this] { act_selectlanguageExecute(); });
    InstallCommand(act_about, [this] { act_aboutExecute(); });

    // The window comes back first, then the sound and the notification play over it.
    FScheduler.Hooks().NotifyUploadFinished = [this] {
        if (!ApplicationVisible())
            ShowApplication(true);
    };
    FCompletion = std::make_unique<TCompletionActions>(this);
    FCompletion->ShowNotification = [this](const QString& Title, const QString& Text) {
        if (TrayIcon && TrayIcon->isVisible())
            TrayIcon->showMessage(Title, Text, QSystemTrayIcon::Information);
    };
    FCompletion->InstallInto(FScheduler.Hooks(), FQueue);
}

void TMainWindow::act_showsettingsExecute() {
    // The boss key is typed into the dialog: it must not switch stealth mode meanwhile.
    FSettingsOpen = true;
    const bool accepted = ShowSettingsBox(this);
    FSettingsOpen = false;
    if (accepted)
        ApplySettings();
}

void TMainWindow::act_selectlanguageExecute() {
    SelectLanguageDialog(this);
    // A language file cannot address the tree's nodes: their texts are numbered messages.
    TreeView->topLevelItem(0)->setText(0, ResQString(rmNodeUploadQueue));
    TreeView->topLevelItem(1)->setText(0, ResQString(rmNodeFinished));
}

void TMainWindow::act_aboutExecute() {
    ShowAboutBox(this);
}

} // namespace quillo
