// The main window's layout (menus, tool bar, tree, list views, details panel, status bar), its
// commands' places, and the start steps.
#include "ui/MainWindow.h"

#include "core/app/DataFolder.h"
#include "core/app/Settings.h"
#include "core/l10n/ResMessages.h"
#include "core/net/IdStackWindowsEx.h"
#include "core/queue/JobsFile.h"
#include "ui/CompletionActions.h"
#include "ui/MessageBox.h"
#include "ui/Pictures.h"
#include "ui/ProgressDelegate.h"
#include "ui/QueueModels.h"
#include "ui/WindowPlacement.h"

#include <QAction>
#include <QFrame>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QScreen>
#include <QSplitter>
#include <QStackedWidget>
#include <QStatusBar>
#include <QTableView>
#include <QTextEdit>
#include <QToolBar>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <cstdio>

namespace quillo {

namespace {

// A selection must stay readable when the focus is elsewhere (the details panel describes it).
void KeepSelectionVisibleWithoutFocus(QWidget* W) {
    QPalette p = W->palette();
    for (QPalette::ColorRole role : {QPalette::Highlight, QPalette::HighlightedText})
        p.setColor(QPalette::Inactive, role, p.color(QPalette::Active, role));
    W->setPalette(p);
}

bool HasVisibleItem(const QWidget* MenuOrBar) {
    for (const QAction* a : MenuOrBar->actions())
        if (a->isVisible() && !a->isSeparator())
            return true;
    return false;
}

} // namespace

TMainWindow::TMainWindow(const TMainWindowStart& Start, QWidget* Parent)
    : TFormBase<QMainWindow>(Parent), FScheduler(FQueue, {}, MakeSchedulerHooks()), FStart(Start) {
    setObjectName(QStringLiteral("TMainWindow"));
    setWindowTitle(QString::fromLatin1(ApplicationTitle));
    FQueue.AddObserver(this);
    connect(qApp, &QGuiApplication::commitDataRequest, this, &TMainWindow::CommitData, Qt::DirectConnection);
    CreateForm();
}

TMainWindow::~TMainWindow() {
    // An upload thread may deliver its last event while it is destroyed: end them while the
    // scheduler that handles those events still exists.
    for (TJobId id : FQueue.TaskIds())
        FQueue.ReleaseThreadById(id);
    // The models watch the queue, which goes before the widgets do.
    delete FUploadJobsModel;
    delete FFinishedUploadJobsModel;
    FUploadJobsModel = nullptr;
    FFinishedUploadJobsModel = nullptr;
    FQueue.RemoveObserver(this);
}

TSchedulerHooks TMainWindow::MakeSchedulerHooks() {
    TSchedulerHooks hooks;
    hooks.StatusChanged = [this](const TSchedulerStatus& Status) {
        StatusPanels[0]->setText(QString::fromStdString(Status.Text));
        StatusPanels[2]->setText(QString::fromStdString(Status.Speed));
    };
    hooks.TaskRefreshed = [this](TJobId Task) { TaskRefreshed(Task); };
    hooks.ViewsChanged = [this] { RefreshCurrentView(); };
    // The model has already repainted the task's row; only its details may need rewriting.
    hooks.ThreadEvent = [this](TJobId Task, TInternetThreadEvent) { TaskRefreshed(Task); };
    hooks.StealthMode = [this] { return FStealthMode; };
    hooks.JobsError = [this](const std::string& Caption, const std::string& Text) {
        ReportError(QString::fromStdString(Caption), QString::fromStdString(Text));
    };
    return hooks;
}

void TMainWindow::CreateWidgets() {
    menuBar()->setObjectName(QStringLiteral("MainMenu"));
    CreateActions();
    // Built with the other widgets so that a language file reaches them too.
    CreateQueueCommandActions();
    CreateFileMenu();
    CreateUploadMenu();
    CreateToolsMenu();
    CreateHelpMenu();
    CreateToolBar();

    // Tree and lists over the bottom block (search bar, error report, details panel); the user
    // moves both borders.
    Splitter2 = new QSplitter(Qt::Vertical, this);
    Splitter2->setObjectName(QStringLiteral("Splitter2"));
    Splitter2->setChildrenCollapsible(false);
    Splitter2->setHandleWidth(7);

    Splitter1 = new QSplitter(Qt::Horizontal, Splitter2);
    Splitter1->setObjectName(QStringLiteral("Splitter1"));
    Splitter1->setChildrenCollapsible(false);
    Splitter1->setHandleWidth(5);

    TreeView = new QTreeWidget(Splitter1);
    TreeView->setObjectName(QStringLiteral("TreeView"));
    TreeView->setAccessibleName(QStringLiteral("Views"));
    TreeView->setHeaderHidden(true);
    TreeView->setRootIsDecorated(false);
    TreeView->setIndentation(19);
    TreeView->setIconSize(QSize(16, 16));
    TreeView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    TreeView->setMouseTracking(true); // hot tracking
    TreeView->setAttribute(Qt::WA_Hover);
    KeepSelectionVisibleWithoutFocus(TreeView);
    for (int picture : {ipUploadQueueNode, ipFinishedNode}) {
        auto* node = new QTreeWidgetItem(TreeView);
        node->setIcon(0, SmallPicture(picture));
    }
    TreeView->setSelectionMode(QAbstractItemView::SingleSelection);
    // A click makes a node current before it selects it: the selection is what counts.
    connect(TreeView, &QTreeWidget::itemSelectionChanged, this, [this] { TreeViewChange(); });

    CreateListViews(Splitter1);
    Splitter1->addWidget(TreeView);
    Splitter1->addWidget(ListViews);
    Splitter1->setStretchFactor(0, 0);
    Splitter1->setStretchFactor(1, 1);
    Splitter1->setSizes({149, DesignedClientWidth - 149 - 5});

    auto* bottom = new QWidget(Splitter2);
    auto* bottomLayout = new QVBoxLayout(bottom);
    bottomLayout->setContentsMargins(0, 0, 0, 0);
    bottomLayout->setSpacing(0);
    searchpanel = new QWidget(bottom);
    searchpanel->setObjectName(QStringLiteral("searchpanel"));
    searchpanel->setFixedHeight(38);
    searchpanel->hide();
    Memo1 = new QPlainTextEdit(bottom);
    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setAccessibleName(QStringLiteral("Error report"));
    Memo1->setReadOnly(true);
    Memo1->setFixedHeight(109);
    Memo1->hide();
    CreateDetailsPanel(bottom);
    bottomLayout->addWidget(searchpanel);
    bottomLayout->addWidget(Memo1);
    bottomLayout->addWidget(Panel1, 1);

    Splitter2->addWidget(Splitter1);
    Splitter2->addWidget(bottom);
    Splitter2->setStretchFactor(0, 1);
    Splitter2->setStretchFactor(1, 0);
    Splitter2->setSizes({DesignedClientHeight - 104, 104});
    setCentralWidget(Splitter2);

    CreateContextMenus();
    CreateStatusBar();
    // The tray menu is built with the other widgets, so a language file translates it too.
    CreateTray();
    CreateLinksAndSearchWidgets();
}

void TMainWindow::CreateListViews(QWidget* Parent) {
    ListViews = new QStackedWidget(Parent);
    ListViews->setObjectName(QStringLiteral("ListViews"));
    FUploadJobsModel = new TUploadJobsModel(FQueue);
    FFinishedUploadJobsModel = new TFinishedUploadJobsModel(FQueue);

    const auto make = [&](const char* Name, const char* Accessible, TQueueListModel* Model) {
        auto* view = new QTableView(ListViews);
        view->setObjectName(QString::fromLatin1(Name));
        view->setAccessibleName(QString::fromLatin1(Accessible));
        view->setModel(Model);
        view->setShowGrid(true);
        view->setSelectionBehavior(QAbstractItemView::SelectRows);
        view->setSelectionMode(QAbstractItemView::ExtendedSelection);
        view->setEditTriggers(QAbstractItemView::NoEditTriggers);
        view->setWordWrap(false);
        view->setTabKeyNavigation(false);
        view->setIconSize(QSize(16, 16));
        view->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
        view->setContextMenuPolicy(Qt::CustomContextMenu);
        KeepSelectionVisibleWithoutFocus(view);
        // Every row is one line high: the view never measures 100,000 rows.
        QHeaderView* rows = view->verticalHeader();
        rows->hide();
        rows->setSectionResizeMode(QHeaderView::Fixed);
        rows->setDefaultSectionSize(qMax(20, view->fontMetrics().height() + 6));
        QHeaderView* columns = view->horizontalHeader();
        columns->setHighlightSections(false);
        columns->setStretchLastSection(false);
        columns->setSectionsMovable(false);
        columns->setSectionResizeMode(QHeaderView::Interactive);
        for (std::size_t i = 0; i < Model->Columns().size(); ++i)
            columns->resizeSection(int(i), Model->Columns()[i].Width);
        connect(view->selectionModel(), &QItemSelectionModel::selectionChanged, this,
                [this, view] { ListViewOnSelectItem(view); });
        // The splitter changes the view's width as well as the window does.
        view->installEventFilter(this);
        ListViews->addWidget(view);
        return view;
    };
    ListViewUploadJobs = make("ListViewUploadJobs", "Upload queue", FUploadJobsModel);
    ListViewUploadJobs->setItemDelegateForColumn(TUploadJobsModel::tcStatus,
                                                 new TProgressDelegate(TQueueListModel::ProgressRole, this));
    ListViewFinishedUploadJobs =
        make("ListViewFinishedUploadJobs", "Finished uploads", FFinishedUploadJobsModel);
    ListViews->setCurrentWidget(ListViewUploadJobs);
}

void TMainWindow::CreateDetailsPanel(QWidget* Parent) {
    Panel1 = new QWidget(Parent);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setMinimumSize(25, 25);
    auto* layout = new QVBoxLayout(Panel1);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    Bevel1 = new QFrame(Panel1);
    Bevel1->setObjectName(QStringLiteral("Bevel1"));
    Bevel1->setFrameShape(QFrame::HLine);
    Bevel1->setFrameShadow(QFrame::Sunken);
    Bevel1->setFixedHeight(10);
    RichEdit1 = new QTextEdit(Panel1);
    RichEdit1->setObjectName(QStringLiteral("RichEdit1"));
    RichEdit1->setAccessibleName(QStringLiteral("Details"));
    RichEdit1->setReadOnly(true);
    RichEdit1->setAcceptRichText(false);
    RichEdit1->setLineWrapMode(QTextEdit::NoWrap);
    RichEdit1->setFrameShape(QFrame::NoFrame);
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(15);
    RichEdit1->setFont(font);
    RichEdit1->document()->setDefaultFont(font);
    // The panel reads as part of the window, not as a field to type in.
    QPalette p = RichEdit1->palette();
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
        p.setColor(group, QPalette::Base, p.color(group, QPalette::Window));
    RichEdit1->setPalette(p);
    layout->addWidget(Bevel1);
    layout->addWidget(RichEdit1, 1);
}

void TMainWindow::CreateStatusBar() {
    StatusBar = new QStatusBar(this);
    StatusBar->setObjectName(QStringLiteral("StatusBar"));
    StatusBar->setSizeGripEnabled(false);
    StatusBar->setMinimumHeight(23);
    setStatusBar(StatusBar);
    // The panels keep their designed widths and are placed by hand (PlaceStatusPanels): the
    // bar's own layout would share the room out by size hints instead.
    static constexpr Qt::Alignment kAlign[3] = {Qt::AlignLeft, Qt::AlignRight, Qt::AlignHCenter};
    static constexpr const char* kAccessible[3] = {"Activity", "Queue summary", "Upload speed"};
    for (int i = 0; i < 3; ++i) {
        auto* panel = new QLabel(StatusBar);
        panel->setObjectName(QStringLiteral("StatusPanel%1").arg(i));
        panel->setAccessibleName(QString::fromLatin1(kAccessible[i]));
        panel->setAlignment(kAlign[i] | Qt::AlignVCenter);
        panel->setFrameShape(QFrame::StyledPanel);
        panel->setFrameShadow(QFrame::Sunken);
        panel->setContentsMargins(3, 0, 3, 0);
        panel->resize(StatusPanelWidths[i], 23);
        StatusPanels[i] = panel;
    }
    StatusPanels[0]->setText(ResQString(rmIdle));
    StatusBar->installEventFilter(this);
}

// ---- actions, menus, tool bar ----------------------------------------------------------------

QAction* TMainWindow::NewAction(const char* Name, const QString& Caption, const QString& Hint,
                                const QKeySequence& Shortcut) {
    auto* a = new QAction(Caption, this);
    a->setObjectName(QString::fromLatin1(Name));
    if (!Hint.isEmpty()) {
        a->setToolTip(Hint);
        a->setStatusTip(Hint);
    }
    if (!Shortcut.isEmpty())
        a->setShortcut(Shortcut);
    // Hidden until the command's handler is installed: no item of the window does nothing.
    a->setVisible(false);
    return a;
}

void TMainWindow::CreateActions() {
    act_newtasks = NewAction("act_newtasks", tr("&Add..."), tr("Add files for upload"), Qt::Key_Insert);
    act_newtasks->setIcon(ToolBarPicture(0));
    act_tasksproperties = NewAction("act_tasksproperties", tr("&Properties..."), tr("Change task properties"),
                                    QKeySequence(Qt::CTRL | Qt::Key_Return));
    act_exit = NewAction("act_exit", tr("E&xit"));

    act_queuetasks = NewAction("act_queuetasks", tr("&Start"), tr("Queue file(s) for upload"));
    act_queuetasks->setIcon(ToolBarPicture(1));
    act_pausetasks = NewAction("act_pausetasks", tr("S&top"), tr("Pause upload"));
    act_pausetasks->setIcon(ToolBarPicture(2));
    act_starttasks = NewAction("act_starttasks", tr("Start &Now!"), tr("Force file upload"));
    act_stopalltasks = NewAction("act_stopalltasks", tr("Stop &All"), tr("Stop all"));
    act_deletetasks = NewAction("act_deletetasks", tr("&Delete"), tr("Remove item"), Qt::Key_Delete);
    act_deletetasks->setIcon(ToolBarPicture(5));
    act_movetasksup = NewAction("act_movetasksup", tr("&Up"), tr("Move up"));
    act_movetasksup->setIcon(ToolBarPicture(4));
    act_movetasksdown = NewAction("act_movetasksdown", tr("Do&wn"), tr("Move down"));
    act_movetasksdown->setIcon(ToolBarPicture(3));

    act_search = NewAction("act_search", tr("&Search"), {}, QKeySequence(Qt::CTRL | Qt::Key_F));
    act_search->setCheckable(true);
    act_shutdowntoggle =
        NewAction("act_shutdowntoggle", tr("Auto s&hutdown"), tr("Autoshutdown when finished"));
    act_shutdowntoggle->setCheckable(true);
    act_selectlanguage = NewAction("act_selectlanguage", tr("&Language..."));
    act_showsettings = NewAction("act_showsettings", tr("S&ettings..."));

    act_help = NewAction("act_help", tr("&Help"));
    act_checkforupdate = NewAction("act_checkforupdate", tr("&Check for new version"));
    act_about = NewAction("act_about", tr("&About..."));
}

void TMainWindow::CreateFileMenu() {
    mi_File = menuBar()->addMenu(tr("&File"));
    mi_File->setObjectName(QStringLiteral("mi_File"));
    mi_File->addAction(act_newtasks);
    mi_File->addAction(act_tasksproperties);
    mi_File->addSeparator();
    mi_File->addAction(act_exit);
}

void TMainWindow::CreateUploadMenu() {
    mi_Upload = menuBar()->addMenu(tr("&Upload"));
    mi_Upload->setObjectName(QStringLiteral("mi_Upload"));
    mi_Upload->addAction(act_queuetasks);
    mi_Upload->addAction(act_pausetasks);
    mi_Upload->addSeparator();
    mi_Upload->addAction(act_starttasks);
    mi_Upload->addAction(act_stopalltasks);
    mi_Upload->addSeparator();
    mi_Upload->addAction(act_deletetasks);
}

void TMainWindow::CreateToolsMenu() {
    mi_Tools = menuBar()->addMenu(tr("&Tools"));
    mi_Tools->setObjectName(QStringLiteral("mi_Tools"));
    mi_Tools->addAction(act_search);
    mi_Tools->addAction(act_shutdowntoggle);
    mi_Tools->addSeparator();
    mi_Tools->addAction(act_selectlanguage);
    mi_Tools->addAction(act_showsettings);
}

void TMainWindow::CreateHelpMenu() {
    mi_Help = menuBar()->addMenu(tr("&Help"));
    mi_Help->setObjectName(QStringLiteral("mi_Help"));
    mi_Help->addAction(act_help);
    mi_Help->addAction(act_checkforupdate);
    mi_Help->addSeparator();
    mi_Help->addAction(act_about);
}

void TMainWindow::CreateToolBar() {
    ToolBar = addToolBar(tr("Tool bar"));
    ToolBar->setObjectName(QStringLiteral("ToolBar"));
    ToolBar->setMovable(false);
    ToolBar->setFloatable(false);
    ToolBar->setIconSize(QSize(32, 32));
    ToolBar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    ToolBar->setContextMenuPolicy(Qt::PreventContextMenu);
    for (QAction* a : {act_newtasks, act_queuetasks, act_pausetasks, act_movetasksup, act_movetasksdown,
                       act_deletetasks}) {
        ToolBar->addAction(a);
        if (QWidget* button = ToolBar->widgetForAction(a))
            button->setMinimumSize(47, 55);
    }
}

void TMainWindow::CreateContextMenus() {
    TaskListContextMenu = new QMenu(this);
    TaskListContextMenu->setObjectName(QStringLiteral("TaskListContextMenu"));
    LinksListContextMenu = new QMenu(this);
    LinksListContextMenu->setObjectName(QStringLiteral("LinksListContextMenu"));
    connect(ListViewUploadJobs, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& Pos) { PopupContextMenu(TaskListContextMenu, ListViewUploadJobs, Pos); });
    connect(ListViewFinishedUploadJobs, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& Pos) {
                PopupContextMenu(LinksListContextMenu, ListViewFinishedUploadJobs, Pos);
            });
}

void TMainWindow::PopupContextMenu(QMenu* Menu, QAbstractItemView* View, const QPoint& Pos) {
    if (HasVisibleItem(Menu))
        Menu->popup(View->viewport()->mapToGlobal(Pos));
}

void TMainWindow::InstallCommand(QAction* Action, std::function<void()> Execute) {
    connect(Action, &QAction::triggered, this, [Execute = std::move(Execute)] { Execute(); });
    // Start Now! works but is never offered.
    Action->setVisible(Action != act_starttasks);
    UpdateMenuVisibility();
}

// A menu, or the tool bar, appears once it holds a visible command.
void TMainWindow::UpdateMenuVisibility() {
    for (QMenu* menu : {mi_File, mi_Upload, mi_Tools, mi_Help})
        menu->menuAction()->setVisible(HasVisibleItem(menu));
    ToolBar->setVisible(HasVisibleItem(ToolBar));
}

// ---- start ---------------------------------------------------------------------------------

void TMainWindow::FormCreate() {
    TreeView->topLevelItem(0)->setText(0, ResQString(rmNodeUploadQueue));
    TreeView->topLevelItem(1)->setText(0, ResQString(rmNodeFinished));
    InstallQueueCommands();
    InstallCommand(act_exit, [this] { act_exitExecute(); });
    InstallCommand(act_shutdowntoggle, [this] { act_shutdowntoggleExecute(); });
    InstallToolCommands();
    InstallLinksAndSearchCommands();
    FStealthMode = AppSettings.General.StartInStealthMode;
    ApplySettings();
    PlaceWindow();
    LoadJobs(FQueue, JobsFileName(), FScheduler.Hooks().JobsError);
    ShowAtStart(FStart);
    // The loader has already turned tasks stored as Uploading into Error, so the first call
    // finds nothing; like every state change it writes the jobs file back.
    FScheduler.ChangeTaskStates({jsUploading}, jsQueued);
    if (AppSettings.General.AutostartUploading)
        FScheduler.ChangeTaskStates(AllJobStates, jsQueued);
    FScheduler.SetTimerEnabled(true);
    FQueue.UpdateQueueSummary();
    // The tree shows which view is in front from the start; this also writes the summary into
    // the details panel.
    TreeView->setCurrentItem(TreeView->topLevelItem(0));
}

void TMainWindow::ApplySettings() {
    TIdStackWindowsEx::Instance().SetSendLimitKb(AppSettings.UploadManager.SpeedLimit);
    act_shutdowntoggle->setChecked(AppSettings.General.ShutDownWhenFinished);
    RegisterBossKey();
    FScheduler.ResetSchedulerWindow();
}

void TMainWindow::PlaceWindow() {
    QList<QRect> areas;
    for (const QScreen* screen : QGuiApplication::screens())
        areas.append(screen->availableGeometry());
    if (const auto stored = UsableWindowRect(AppSettings.General.WindowRect, areas)) {
        SetBounds(*stored);
        return;
    }
    const QSize designed(DesignedClientWidth, DesignedClientHeight);
    const QScreen* screen = QGuiApplication::primaryScreen();
    SetBounds(screen ? CentredRect(designed, screen->availableGeometry()) : QRect(QPoint(0, 0), designed));
}

QRect TMainWindow::Bounds() const {
    return QRect(pos(), size());
}

void TMainWindow::SetBounds(const QRect& B) {
    move(B.topLeft());
    resize(B.size());
}

void TMainWindow::ReportError(const QString& Caption, const QString& Text) {
    if (FQuietErrors)
        std::fprintf(stderr, "quillo: %s: %s\n", qPrintable(Caption), qPrintable(Text));
    else
        ShowMessageBox(this, Text, Caption, mbOK, miError);
}

void TMainWindow::QueueSummaryChanged(const std::string& Text) {
    StatusPanels[1]->setText(QString::fromStdString(Text));
}

void TMainWindow::act_shutdowntoggleExecute() {
    UpdateSettings([](TAppSettings& s) { s.General.ShutDownWhenFinished = !s.General.ShutDownWhenFinished; });
    act_shutdowntoggle->setChecked(AppSettings.General.ShutDownWhenFinished);
    try {
        SaveSettings();
    } catch (const ESettingsError& e) {
        ReportError(ResQString(rmError), QString::fromStdString(e.what()));
    }
}

} // namespace quillo
