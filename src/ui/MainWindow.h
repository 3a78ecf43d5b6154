#pragma once
// TMainWindow: the program's main window. It owns the upload queue and the finished list for
// its whole life and runs the start (FormCreate) and close (FormCloseQuery, FormClose) steps of
// the program. Everything here runs on the user-interface thread.

#include "core/queue/Scheduler.h"
#include "core/queue/UploadQueue.h"
#include "ui/DropWindow.h"
#include "ui/HotKeyGrab.h"

#include <QMainWindow>

#include <functional>
#include <memory>
#include <string>
#include <vector>

class QAction;
class QLabel;
class QMenu;
class QSessionManager;
class QSplitter;
class QSystemTrayIcon;
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

// Replaces the question "is a tray host there?" (tests; nullptr asks the desktop again).
void SetSystemTrayProbe(std::function<bool()> Probe);

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

    // The Exit command (File menu and tray menu): marks the exit request (never cleared), asks
    // while uploads run, runs the close steps and closes the window.
    void act_exitExecute();
    // Flips ShutDownWhenFinished and saves the settings; the menu mark follows.
    void act_shutdowntoggleExecute();

    // True when closing may go on; asks the user while uploads are running.
    bool FormCloseQuery();
    // Stops the uploads (they become Delayed), saves the jobs file, the window bounds and the
    // settings, and releases the single-instance lock. Failures are reported in a box and do not
    // stop the close.
    void FormClose();

    // Session end: the question of FormCloseQuery (false refuses the log-off; nothing is stopped
    // yet, since another program may still cancel it), then, once the session really ends (the
    // program is told to quit), the steps of FormClose without destroying the window; the
    // single-instance lock stays.
    // Interactive false: the end cannot wait for anyone (the session manager allows no dialog,
    // a termination signal); failures then go to the standard error stream instead of boxes.
    bool HandleQueryEndSession();
    void HandleEndSession(bool SessionEnds, bool Interactive = true);

    // Tray, stealth mode, boss key and dropped files (MainWindowTray.cpp, MainWindowDrop.cpp).

    // A show request (another start of the program, the drop window): 0 shows a hidden window,
    // 1 toggles it. Ignored in stealth mode.
    void HandleShowRequest(int WParam);
    // Shows the window (un-minimized when Restore) and brings it to the front.
    void ShowApplication(bool Restore);
    // Takes the window off the screen: into the tray, or to the task bar while there is no
    // tray to bring it back from (in stealth mode always out of sight).
    void HideApplication(bool Minimize);
    // The window is on the screen (shown and not minimized).
    bool ApplicationVisible() const;
    // A tray host is there to hold the icon (tests replace the probe: SetSystemTrayProbe).
    bool TrayAvailable() const;

    // The close box and Alt+F4 (scClose) hide the window; only Exit ends the program.
    static constexpr int scClose = 0xF060;
    void HandleSysCommand(int Command);
    void ApplicationEventsMinimize();
    void TrayIconClick();
    void TrayPopupMenuPopup();
    void PopupTrayMenu();
    void act_showmainwindowExecute();
    void act_showmainwindowUpdate();
    void act_showdroptargetExecute();
    // The boss key (identifier 0): switches stealth mode, unless the settings dialog is open.
    void HandleHotKey(int Id);
    // Grabs BossKey (releasing an earlier grab first); FHotKeyRegistered records success.
    void RegisterBossKey();
    // False where no boss key can work at all (no X11: a Wayland session), for the settings page.
    bool BossKeyPossible() const;
    // Names dropped on the drop window wait in FDroppedFiles until this runs.
    void HandleDroppedFiles();
    // Files dropped on the window itself.
    void HandleMainWindowDrop(const std::vector<std::string>& Names);

    bool FHotKeyRegistered = false;
    bool FSettingsOpen = false;
    std::vector<std::string> FDroppedFiles;
    // Adds files to the queue (properties dialog included); true when the user confirmed.
    // StayOnTop: the dialog opens above every window (a drop while the window is in the tray).
    std::function<bool(const std::vector<std::string>& Paths, bool StayOnTop)> FAddFiles;

    QSystemTrayIcon* TrayIcon = nullptr;
    QMenu* TrayPopupMenu = nullptr;
    QAction* act_newtasks = nullptr;
    QAction* act_showmainwindow = nullptr;
    QAction* act_showdroptarget = nullptr;
    std::unique_ptr<Tfrm_droptarget> frm_droptarget;

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
    void changeEvent(QEvent* Event) override;
    bool eventFilter(QObject* Watched, QEvent* Event) override;

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

    // The last steps of the start: the drop window, the tray icon, and the window shown unless
    // the start says otherwise.
    void ShowAtStart(const TMainWindowStart& Start);
    // The tray icon, its menu and actions: built with the other widgets, before the window's
    // texts are translated.
    void CreateTray();
    void UpdateTrayMenus();
    void UpdateTrayPresence();

    std::function<void()> FInstanceLockRelease;
    bool FQuietErrors = false;
    // The close steps have run (Exit, or the end of the session): the window may now close.
    bool FCloseStepsDone = false;
    bool FTrayWasAvailable = false;
    // Whether the user had the drop window shown before stealth mode hid it: what is stored.
    bool FDropShownOutsideStealth = false;
    std::unique_ptr<THotKeyGrabber> FHotKeyGrab;
    std::unique_ptr<TDropTarget> FMainDropTarget;
};

} // namespace quillo
