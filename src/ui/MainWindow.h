#pragma once
// TMainWindow: the program's main window. It owns the upload queue and the finished list for
// its whole life and runs the start (FormCreate) and close (FormCloseQuery, FormClose) steps of
// the program. Everything here runs on the user-interface thread.

#include "core/queue/Scheduler.h"
#include "core/queue/UploadQueue.h"

#include <QMainWindow>

#include <functional>

class QAction;
class QLabel;
class QMenu;
class QSessionManager;
class QSplitter;
class QTextEdit;
class QTreeView;
class QTreeWidget;
class QWidget;

namespace quillo {

// How the program was started, as far as the main window cares.
struct TMainWindowStart {
    // "-m"/"-M" as the first argument: start without showing the window.
    bool StartHidden = false;
};

class TMainWindow final : public QMainWindow, private TUploadQueueObserver {
    Q_OBJECT
public:
    static constexpr int DesignedClientWidth = 1014;
    static constexpr int DesignedClientHeight = 800;

    // Builds the widgets and runs FormCreate: settings applied, bounds restored, jobs file
    // loaded, tasks that were uploading queued again (every task with AutostartUploading),
    // scheduler timer on. The window is shown by the event loop's first turn unless the start
    // says otherwise (StartHidden, stealth mode).
    explicit TMainWindow(const TMainWindowStart& Start = {}, QWidget* Parent = nullptr);
    ~TMainWindow() override;
    TMainWindow(const TMainWindow&) = delete;
    TMainWindow& operator=(const TMainWindow&) = delete;

    // The queue and the finished list, and the scheduler that runs the queue's uploads.
    TUploadQueue FQueue;
    TScheduler FScheduler;

    // Stealth mode: nothing of the program is shown and show requests are ignored.
    bool FStealthMode = false;

    // Applies the settings that can change at run time (speed limit, auto-shutdown mark, the
    // scheduler window).
    void ApplySettings();

    // The Exit command: marks the exit request (never cleared) and closes the window.
    void act_exitExecute();
    // Flips ShutDownWhenFinished and saves the settings; the menu mark follows.
    void act_shutdowntoggleExecute();

    // True when closing may go on; asks the user while uploads are running.
    bool FormCloseQuery();
    // Stops the uploads (they become Delayed), saves the jobs file, the window bounds and the
    // settings, and releases the single-instance lock. Failures are reported in a box and do not
    // stop the close.
    void FormClose();

    // Session end: the question of FormCloseQuery (false refuses the log-off), then the steps of
    // FormClose without destroying the window when the session really ends; the single-instance
    // lock stays, since the log-off may still be cancelled.
    // Interactive false: the end cannot wait for anyone (the session manager allows no dialog,
    // a termination signal); failures then go to the standard error stream instead of boxes.
    bool HandleQueryEndSession();
    void HandleEndSession(bool SessionEnds, bool Interactive = true);

    // A show request (another start of the program): 0 shows a hidden window, 1 toggles it.
    // Ignored in stealth mode.
    void HandleShowRequest(int WParam);
    // Shows the window (un-minimized when Restore) and brings it to the front / hides it.
    void ShowApplication(bool Restore);
    void HideApplication(bool Minimize);

    // The window's bounds in screen pixels as stored in WindowRect: left and top of the frame,
    // right = left + width, bottom = top + height of the client area, so that storing and
    // restoring never makes the window creep by its frame.
    QRect Bounds() const;
    void SetBounds(const QRect& Bounds);

    // Called once at the end of FormClose: releases the single-instance lock of the program.
    void SetInstanceLockRelease(std::function<void()> Release);

    // Widgets other parts of the window fill in.
    QTreeWidget* TreeView = nullptr;
    QSplitter* Splitter1 = nullptr;
    QTreeView* ListViewUploadJobs = nullptr;
    QTreeView* ListViewFinishedUploadJobs = nullptr;
    QWidget* Panel1 = nullptr;
    QTextEdit* RichEdit1 = nullptr;
    QLabel* StatusPanels[3] = {nullptr, nullptr, nullptr};

    QMenu* mi_File = nullptr;
    QMenu* mi_Tools = nullptr;
    QAction* act_exit = nullptr;
    QAction* act_shutdowntoggle = nullptr; // the menu item Tools > Auto shutdown

protected:
    void closeEvent(QCloseEvent* Event) override;
    void showEvent(QShowEvent* Event) override;

private:
    void CreateWidgets();
    void CreateMenus();
    void FormCreate(const TMainWindowStart& Start);
    void FormShow();
    void PlaceWindow();
    void CommitData(QSessionManager& Manager);
    void CloseSteps(bool ReleaseLock);
    void QueueSummaryChanged(const std::string& Text) override;
    TSchedulerHooks MakeSchedulerHooks();
    // An error box, or a line on stderr while the program ends without a user to answer.
    void ReportError(const QString& Caption, const QString& Text);

    std::function<void()> FInstanceLockRelease;
    bool FQuietErrors = false;
};

} // namespace quillo
