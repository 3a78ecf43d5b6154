// The main window's close sequence and the end of the desktop session.
#include "ui/MainWindow.h"

#include "core/app/Settings.h"
#include "core/l10n/ResMessages.h"
#include "ui/MessageBox.h"
#include "ui/WindowPlacement.h"

#include <QCloseEvent>
#include <QSessionManager>

#include <utility>

namespace quillo {

// The running-uploads question and the close steps belong to Exit (the File menu's and the
// tray menu's); the close box only hides the window.
void TMainWindow::act_exitExecute() {
    FQueue.FExitRequested = true;
    if (!FCloseStepsDone) {
        if (!FormCloseQuery())
            return;
        FormClose();
    }
    close();
}

void TMainWindow::closeEvent(QCloseEvent* Event) {
    if (FCloseStepsDone) {
        Event->accept();
        return;
    }
    Event->ignore();
    HandleSysCommand(scClose);
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
    FCloseStepsDone = true;
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

// Runs once the session really ends (the program is told to quit), never while the log-off may
// still be cancelled. The single-instance lock stays: the process ends right after, and the
// kernel drops the lock with it.
void TMainWindow::HandleEndSession(bool SessionEnds, bool Interactive) {
    if (!SessionEnds)
        return;
    const bool wasQuiet = std::exchange(FQuietErrors, !Interactive);
    CloseSteps(false);
    FQuietErrors = wasQuiet;
}

// The session manager's question: only the question is answered here. Another program may still
// cancel the log-off, so the uploads go on; the close steps run when the session really ends.
void TMainWindow::CommitData(QSessionManager& Manager) {
    if (!Manager.allowsInteraction())
        return;
    const bool mayEnd = HandleQueryEndSession();
    Manager.release();
    if (!mayEnd)
        Manager.cancel();
}

void TMainWindow::SetInstanceLockRelease(std::function<void()> Release) {
    FInstanceLockRelease = std::move(Release);
}

void TMainWindow::showEvent(QShowEvent* Event) {
    QMainWindow::showEvent(Event);
    FormShow();
}

// Whenever the window appears it comes to the front, wherever it was shown from.
void TMainWindow::FormShow() {
    raise();
    activateWindow();
    if (frm_droptarget)
        frm_droptarget->update();
}

} // namespace quillo
