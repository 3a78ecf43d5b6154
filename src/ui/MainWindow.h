#pragma once
// TMainWindow: the program's main window. It owns the upload queue and the finished list for
// its whole life, shows them in two list views that share one place (switched by the tree on the
// left), describes the selected entry in the details panel under them, and runs the start
// (FormCreate) and close (FormCloseQuery, FormClose) steps of the program. Everything here runs
// on the user-interface thread.
//
// Source files by subsystem: MainWindow.cpp (layout, menus, tool bar, start), MainWindowViews.cpp
// (tree switching, details panel, column fitting, status panels), MainWindowClose.cpp (close,
// session end, show requests); the list models are QueueModels.*.
//
// Commands. Every action of the menus and the tool bar is created here with its component name,
// caption, hint, shortcut and picture, in the menus and on the tool bar in their designed order,
// but stays hidden until its handler exists: InstallCommand connects the handler and shows the
// action everywhere it appears. A menu shows itself once one of its items is visible.

#include "core/engine/UpdateCheck.h"
#include "core/queue/FinishedLinks.h"
#include "core/queue/Scheduler.h"
#include "core/queue/UploadQueue.h"
#include "ui/DetailsText.h"
#include "ui/DropWindow.h"
#include "ui/FormBase.h"
#include "ui/HotKeyGrab.h"

#include <QKeySequence>
#include <QMainWindow>
#include <QRgb>
#include <QStringList>

#include <array>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QAbstractItemView;
class QAction;
class QCheckBox;
class QLineEdit;
class QPushButton;
class QToolButton;
class QFrame;
class QLabel;
class QMenu;
class QPlainTextEdit;
class QSessionManager;
class QSplitter;
class QStackedWidget;
class QStatusBar;
class QTableView;
class QSystemTrayIcon;
class QTextEdit;
class QToolBar;
class QTreeWidget;
class QWidget;

namespace quillo {

class TCompletionActions;
struct TListSelection;

class TFinishedUploadJobsModel;
class TUploadJobsModel;

// How the program was started, as far as the main window cares.
struct TMainWindowStart {
    // "-m"/"-M" as the first argument: start without showing the window.
    bool StartHidden = false;
};

// The open-file dialog of Add...: title, filter list ("Caption|pattern|..."), the files chosen
// (empty: cancelled). Tests answer it instead of a person; nullptr restores the real dialog.
using TOpenFilesDialog =
    std::function<std::vector<std::string>(QWidget* Owner, const QString& Title, const QString& Filter)>;
TOpenFilesDialog SetOpenFilesDialog(TOpenFilesDialog Dialog);

// Replaces the question "is a tray host there?" (tests; nullptr asks the desktop again).
void SetSystemTrayProbe(std::function<bool()> Probe);

// The values of the version record the product summary shows. The about box's reader of the
// program file supplies them; until it is attached, the build's own version and product name.
TProductInfo BuiltInProductInfo();

class TMainWindow final : public TFormBase<QMainWindow>, private TUploadQueueObserver {
    Q_OBJECT
public:
    // The window's title and the tray icon's tooltip.
    static constexpr const char* ApplicationTitle = "Quillo Uploader";
    static constexpr int DesignedClientWidth = 1014;
    static constexpr int DesignedClientHeight = 800;
    // Status-bar panels 1 and 2; panel 0 takes the width they leave.
    static constexpr int StatusPanelWidths[3] = {400, 170, 180};
    // Room for the vertical scroll bar when the first column takes what the others leave, and
    // the narrowest the first column gets when the window is narrower than the other columns.
    static constexpr int ScrollBarAllowance = 25;
    static constexpr int MinFirstColumnWidth = 60;

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

    // Where the product summary of the details panel takes its values from.
    std::function<TProductInfo()> FProductInfo = BuiltInProductInfo;

    // Applies the settings that can change at run time (speed limit, auto-shutdown mark, the
    // scheduler window).
    void ApplySettings();

    // ---- commands ------------------------------------------------------------------------
    // Connects Execute to the action's trigger and shows the action in every menu and on the
    // tool bar where it sits. Called once per command, once its handler can run.
    void InstallCommand(QAction* Action, std::function<void()> Execute);

    // The Exit command (File menu and tray menu): marks the exit request (never cleared), asks
    // while uploads run, runs the close steps and closes the window.
    void act_exitExecute();
    // Flips ShutDownWhenFinished and saves the settings; the menu mark follows.
    void act_shutdowntoggleExecute();

    // ---- queue commands (MainWindowCommands.cpp) ---------------------------------------------
    // Installs every command of the upload queue (tool bar, File and Upload menus, the task
    // list's context menu, double click, in-place renaming) and hands added and dropped files to
    // AddFiles. Called once, from FormCreate.
    void InstallQueueCommands();
    void act_newtasksExecute();
    void act_queuetasksExecute();
    void act_pausetasksExecute();
    void act_starttasksExecute();
    void act_stopalltasksExecute();
    void act_deletetasksExecute();
    void act_taskspropertiesExecute();
    void act_movetasksupExecute();
    void act_movetasksdownExecute();
    void act_renametaskExecute();
    void act_scramblenameExecute();
    void act_restoreoriginalnameExecute();
    void act_selectalltasksExecute();
    // Every enable rule of the queue commands at once. Runs after each change of the selection,
    // the focus, the lists or a task, and on every tick; changes arriving together are handled
    // by one run (PostQueueCommandsUpdate).
    void UpdateQueueCommands();
    void PostQueueCommandsUpdate();
    // The task list is shown, a row is selected and has the focus, and (one row) its task's state
    // or (several rows) some selected task's state is in States.
    bool SelectedTasksInStates(TJobStates States) const;
    void DeleteSelectedTasks();
    void ScrambleNames();
    void RestoreOriginalNames();
    void ListViewUploadJobsDblClick();
    // In-place renaming of the selected task's caption: whether it may start, and its end.
    bool ListViewUploadJobsEditing() const;
    void ListViewUploadJobsEdited(TJobId Task, const QString& Text);
    // The caption editor is open (Delete then belongs to it).
    bool EditingTaskCaption() const;
    // Where an error of a command goes that no command handles itself (a file that vanished
    // while it was being added): called inside the catch block, it adds the exception being
    // handled to the error report as "TMainWindow -> EClass: message".
    void CommandFailed();

    // ---- views and details panel ---------------------------------------------------------
    // Shows the list view of the selected tree node (0 tasks, 1 finished), fits its first column
    // and describes its selection.
    void TreeViewChange();
    // Both list views' selection handler; other code calls it after changing the selection.
    void ListViewOnSelectItem(QAbstractItemView* Sender);
    // Rebuilds the details panel for View (nothing when View is hidden): the entry of its one
    // selected row, or the product summary with the panel disabled.
    void ShowDetails(QAbstractItemView* View);
    // Appends one run at the end of the details panel.
    void AppendStyledText(const QString& Text, TRunStyle Style, const QColor& Colour);
    // Repaints the rows of the shown view and rebuilds the details; with View given, only when
    // View is the one shown.
    void RefreshCurrentView(QAbstractItemView* View = nullptr);
    // Column 0 takes the width the other columns leave (never less than MinFirstColumnWidth).
    void FitFirstColumn(QTableView* View);
    // Fits both views and the status-bar panels to the window.
    void FormResize();

    // The view the tree's selected node shows; nullptr when no node is selected.
    QTableView* CurrentView() const;
    // Selected rows of a view in ascending order.
    static std::vector<int> SelectedRows(const QAbstractItemView* View);
    // A view's selection as one mark per row and its focus row; and the other way round, the
    // marks put back as one range per run of neighbouring rows (one change of the selection,
    // however many rows) and the focus row set without touching them.
    static TListSelection SelectionOf(const QAbstractItemView* View);
    static void ApplySelection(QAbstractItemView* View, const TListSelection& Selection);
    // 0, 1, or 2 for "several": what the details panel and the enable rules ask, answered
    // without walking a selection of 100,000 rows.
    static int SelectedRowCount(const QAbstractItemView* View);
    // Ids of the tasks of the task list's selected rows, in queue order.
    std::vector<TJobId> SelectedTaskIds() const;

    // ---- close, session end, show requests (MainWindowClose.cpp) -----------------------------
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

    // ---- the finished list's commands (MainWindowLinks.cpp) --------------------------------
    // What a save dialog asks for: its title, the extension added to a name typed without one,
    // and its filters as "Name|*.ext" (the first one chosen at the start).
    struct TSaveDialogRequest {
        QString Title;
        QString DefaultSuffix;
        QStringList Filters;
    };
    // Asks for the file to write and returns its name, empty when the user cancelled. The real
    // dialog (asking before an existing file is replaced) unless a test puts another one here.
    using TSaveFileDialog = std::function<QString(QWidget* Owner, const TSaveDialogRequest& Request)>;
    TSaveFileDialog FSaveFileDialog;

    // The user clicked a column header of the finished list: the list itself is sorted by it,
    // ascending; the selection marks stay on the row positions.
    void ListViewFinishedUploadJobsColumnClick(int Column);
    void act_copydownloadlinksExecute();
    void act_copydownloadlinksandmd5Execute();
    void act_copydeletelinksExecute();
    // 0 every detail, 1 download links, 2 delete links of the selected rows, into a chosen file.
    void ExportLinks(int ExportMode);
    // The rename script of the selected rows: a batch script, or a shell script for a ".sh" name.
    void act_makerenamescriptExecute();
    void act_deleteselectedlinksExecute();
    void act_selectalllinksExecute();
    // Recomputes which of the finished list's commands may run (focus, selection, entries).
    void UpdateLinkCommands();
    // The command's action (object name from the command table).
    QAction* LinkAction(TLinkCommand Command) const { return FLinkActions[std::size_t(Command)]; }
    // Selected rows of the finished view, ascending.
    TRows SelectedFinishedRows() const;

    QMenu* mi_ExportLinks = nullptr; // "Export links to a TXT file"

    // ---- search, help, update check, error report (MainWindowSearch.cpp) ----------------------
    void act_searchExecute();
    void SpeedButton1Click();
    void Edit1Change();
    void BitBtn1Click();
    // Finds finished uploads by file name from the focused row on (Next: from the row after it);
    // SelectAll marks every match instead of stopping at the first.
    void SearchFinishedList(bool Next, bool SelectAll);
    // The default system sound of a search without a hit (tests count the calls instead).
    std::function<void()> FBeep;
    // Light red: the search box after a search without a hit.
    static constexpr QRgb SearchMissColour = 0xFFFCB1C8;

    void act_helpExecute();
    // Asks the service's site for the newest version off this thread; the command stays disabled
    // until the answer, or the time-out, is in.
    void act_checkforupdateExecute();
    // Where the check asks (empty: the service's site) and how long it waits for the whole reply.
    std::string FUpdateCheckUrl;
    int FUpdateCheckTimeoutMs = TUpdateCheck::DefaultTimeoutMs;
    // The packed file version the check compares with (the program file's version record).
    std::function<std::uint32_t()> FFileVersionPacked;
    bool UpdateCheckRunning() const;

    // An exception nobody else handled: one line "Sender -> EClass: message" in the error report.
    void ApplicationEventsException(QObject* Sender, std::exception_ptr E);
    // Adds a line under the error report's fixed lines and shows the report (it stays shown).
    void AddErrorReportLine(const QString& Line);
    // The three fixed lines the error report starts with.
    static QStringList ErrorReportHeader();

    // ---- widgets, by their component names -----------------------------------------------------
    QToolBar* ToolBar = nullptr;
    QTreeWidget* TreeView = nullptr;
    QSplitter* Splitter1 = nullptr;
    QSplitter* Splitter2 = nullptr;
    QStackedWidget* ListViews = nullptr; // the one place both list views share
    QTableView* ListViewUploadJobs = nullptr;
    QTableView* ListViewFinishedUploadJobs = nullptr;
    QWidget* searchpanel = nullptr;  // hidden until the search is built
    QPlainTextEdit* Memo1 = nullptr; // the error report, hidden until it has something to say
    QWidget* Panel1 = nullptr;
    QFrame* Bevel1 = nullptr;
    QTextEdit* RichEdit1 = nullptr;
    // The search panel's controls, left to right.
    QToolButton* SpeedButton1 = nullptr;
    QLineEdit* Edit1 = nullptr;
    QPushButton* BitBtn1 = nullptr;
    QCheckBox* CheckBox1 = nullptr;
    QLabel* Label1 = nullptr;
    QStatusBar* StatusBar = nullptr;
    QLabel* StatusPanels[3] = {nullptr, nullptr, nullptr};
    TUploadJobsModel* FUploadJobsModel = nullptr;
    TFinishedUploadJobsModel* FFinishedUploadJobsModel = nullptr;

    // Menus of the menu bar, in order, and the context menus of the two lists.
    QMenu* mi_File = nullptr;
    QMenu* mi_Upload = nullptr;
    QMenu* mi_Tools = nullptr;
    QMenu* mi_Help = nullptr;
    QMenu* TaskListContextMenu = nullptr;
    QMenu* LinksListContextMenu = nullptr;

    // File
    QAction* act_newtasks = nullptr;
    QAction* act_tasksproperties = nullptr;
    QAction* act_exit = nullptr;
    // Upload (and the tool bar)
    QAction* act_queuetasks = nullptr;
    QAction* act_pausetasks = nullptr;
    QAction* act_starttasks = nullptr; // never shown
    QAction* act_stopalltasks = nullptr;
    QAction* act_deletetasks = nullptr;
    QAction* act_movetasksup = nullptr;
    QAction* act_movetasksdown = nullptr;
    // The task list's context menu only (act_selectalltasks: a shortcut, in no menu)
    QAction* act_renametask = nullptr;
    QAction* act_scramblename = nullptr;
    QAction* act_restoreoriginalname = nullptr;
    QAction* act_selectalltasks = nullptr;
    QLineEdit* FCaptionEditor = nullptr; // in-place renaming in ListViewUploadJobs
    TJobId FEditedTask = NoJobId;
    bool FQueueCommandsUpdatePosted = false;
    // Tools
    QAction* act_search = nullptr;
    QAction* act_shutdowntoggle = nullptr; // the menu item Tools > Auto shutdown
    QAction* act_selectlanguage = nullptr;
    QAction* act_showsettings = nullptr;
    // Help
    QAction* act_help = nullptr;
    QAction* act_checkforupdate = nullptr;
    QAction* act_about = nullptr;

protected:
    void CreateWidgets() override;
    void FormCreate() override;
    void closeEvent(QCloseEvent* Event) override;
    void showEvent(QShowEvent* Event) override;
    void resizeEvent(QResizeEvent* Event) override;
    void changeEvent(QEvent* Event) override;
    bool eventFilter(QObject* Watched, QEvent* Event) override;
    // A quit of the application that did not come through the close steps runs them (the end
    // of the session without a question).
    void WatchApplicationQuit(QObject* Watched, QEvent* Event);

public:
    // Tools > Settings... (the boss key is ignored while the dialog is open), Tools >
    // Language..., Help > About...
    void act_showsettingsExecute();
    void act_selectlanguageExecute();
    void act_aboutExecute();

private:
    // A command's action with its component name, caption, hint (tooltip and status tip) and
    // shortcut, hidden until InstallCommand gives it its handler.
    QAction* NewAction(const char* Name, const QString& Caption, const QString& Hint = {},
                       const QKeySequence& Shortcut = {});
    void InstallToolCommands();
    std::unique_ptr<TCompletionActions> FCompletion;
    void CreateActions();
    void CreateToolBar();
    void CreateFileMenu();
    void CreateUploadMenu();
    void CreateToolsMenu();
    void CreateHelpMenu();
    void CreateContextMenus();
    void CreateListViews(QWidget* Parent);
    void CreateDetailsPanel(QWidget* Parent);
    void CreateStatusBar();
    // The finished list's commands, the search panel and the error report: their widgets (before
    // the translation step), then their handlers (FormCreate).
    void CreateLinksAndSearchWidgets();
    void InstallLinksAndSearchCommands();
    void CreateLinkCommands();
    void CreateSearchPanel();
    void CreateErrorReport();
    void InstallSearchCommands();
    bool WriteLinksFile(const QString& FileName, const std::string& Text, unsigned NewFileMode = 0666);
    QString AskSaveFileName(const TSaveDialogRequest& Request);
    void CopyToClipboard(const std::string& Text);
    void UpdateCheckDone(const TUpdateCheckOutcome& Outcome);
    std::array<QAction*, 9> FLinkActions{};
    bool FFinishedViewFocused = false;
    // Shows or hides the search panel or the error report; the bottom block grows or shrinks by
    // its height so that the details panel keeps its size.
    void SetBottomWidgetVisible(QWidget* Widget, bool Visible);
    TUpdateCheck* FUpdateCheck = nullptr;
    void UpdateMenuVisibility();
    void PopupContextMenu(QMenu* Menu, QAbstractItemView* View, const QPoint& Pos);
    void PlaceStatusPanels();
    void AppendRuns(const TStyledRuns& Runs);
    void TaskRefreshed(TJobId Task);
    void FormShow();
    void PlaceWindow();
    void CommitData(QSessionManager& Manager);
    void CloseSteps(bool ReleaseLock);
    void QueueSummaryChanged(const std::string& Text) override;
    TSchedulerHooks MakeSchedulerHooks();
    // An error box, or a line on stderr while the program ends without a user to answer.
    void ReportError(const QString& Caption, const QString& Text);

    TMainWindowStart FStart;

    void CreateQueueCommandActions();
    void FillTaskListContextMenu();
    void WatchForQueueCommandUpdates();
    void MoveSelection(bool Up);
    void PlaceCaptionEditor();
    void EndCaptionEditing(bool Accept);

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
