// The main window's close sequence, the end of the desktop session, and show requests.
#include "ui/MainWindow.h"

#include "core/app/Settings.h"
#include "core/l10n/ResMessages.h"
#include "ui/MessageBox.h"
#include "ui/WindowPlacement.h"

#include <QCloseEvent>
#include <QSessionManager>

#include <utility>

namespace quillo {

void TMainWindow::act_exitExecute() {
    FQueue.FExitRequested = true;
    close();
}

// Without a tray icon to fall back on, the close box ends the program the same way as Exit
// (the question included), so the program can always be ended from its window.
void TMainWindow::closeEvent(QCloseEvent* Event) {
    if (!FormCloseQuery()) {
        Event->ignore();
        return;
    }
    FormClose();
    Event->accept();
}

bool TMainWindow::FormCloseQuery() {
    if (FQueue.RunningCount() < 1)
        return true;
    return ShowMessageBox(this, ResQString(rmConfirmClose), ResQString(rmConfirmation), mbOKCancel,
                          miWarning) == mrOK;
}

void TMainWindow::FormClose() {
    CloseSteps(true);
}

void TMainWindow::CloseSteps(bool ReleaseLock) {
    // A slot freed from now on must not start the next task while the program ends.
    if (ReleaseLock)
        FScheduler.SetTimerEnabled(false);
    FScheduler.StopRunningTasks();
    FScheduler.SaveJobs();
    FScheduler.FlushJobs(); // written in the background: on disk before the program ends
    const QRect b = Bounds();
    UpdateSettings([&](TAppSettings& s) { s.General.WindowRect = ToWindowRect(b); });
    // The store replaces the file atomically, so a failed save leaves the previous file whole;
    // the user learns why and the program still ends as asked.
    try {
        SaveSettings();
    } catch (const ESettingsError& e) {
        ReportError(ResQString(rmError), QString::fromStdString(e.what()));
    }
    if (ReleaseLock && FInstanceLockRelease)
        std::exchange(FInstanceLockRelease, nullptr)();
}

bool TMainWindow::HandleQueryEndSession() {
    return FormCloseQuery();
}

// The session manager may still cancel the log-off after this, so the single-instance lock is
// kept: the process keeps running and must stay the only one. The kernel drops the lock when
// the session really ends the process.
void TMainWindow::HandleEndSession(bool SessionEnds, bool Interactive) {
    if (!SessionEnds)
        return;
    const bool wasQuiet = std::exchange(FQuietErrors, !Interactive);
    CloseSteps(false);
    FQuietErrors = wasQuiet;
}

void TMainWindow::CommitData(QSessionManager& Manager) {
    const bool interactive = Manager.allowsInteraction();
    if (interactive) {
        const bool mayEnd = HandleQueryEndSession();
        if (!mayEnd) {
            Manager.release();
            Manager.cancel();
            return;
        }
    }
    HandleEndSession(true, interactive);
    if (interactive)
        Manager.release();
}

void TMainWindow::SetInstanceLockRelease(std::function<void()> Release) {
    FInstanceLockRelease = std::move(Release);
}

void TMainWindow::HandleShowRequest(int WParam) {
    if (isVisible()) {
        if (WParam == 1)
            HideApplication(true);
        return;
    }
    if (!FStealthMode)
        ShowApplication(true);
}

void TMainWindow::ShowApplication(bool Restore) {
    if (Restore && isMinimized())
        setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
}

void TMainWindow::HideApplication(bool Minimize) {
    if (Minimize)
        setWindowState(windowState() | Qt::WindowMinimized);
    hide();
}

void TMainWindow::showEvent(QShowEvent* Event) {
    QMainWindow::showEvent(Event);
    FormShow();
}

// Whenever the window appears it comes to the front, wherever it was shown from.
void TMainWindow::FormShow() {
    raise();
    activateWindow();
}

} // namespace quillo
