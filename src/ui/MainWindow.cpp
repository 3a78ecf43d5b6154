#include "ui/MainWindow.h"

#include "core/app/DataFolder.h"
#include "core/app/Settings.h"
#include "core/l10n/ResMessages.h"
#include "core/net/IdStackWindowsEx.h"
#include "core/queue/JobsFile.h"
#include "ui/MessageBox.h"
#include "ui/WindowPlacement.h"

#include <QAction>
#include <QFrame>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QMenuBar>
#include <QScreen>
#include <QSplitter>
#include <QStatusBar>
#include <QTextEdit>
#include <QTimer>
#include <QTreeView>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <cstdint>
#include <cstdio>

namespace quillo {

namespace {

constexpr const char* kApplicationTitle = "Quillo Uploader";

QTreeView* MakeListView(QWidget* Parent, const char* Name) {
    auto* view = new QTreeView(Parent);
    view->setObjectName(QString::fromLatin1(Name));
    view->setRootIsDecorated(false);
    view->setUniformRowHeights(true);
    view->setAllColumnsShowFocus(true);
    view->setSelectionMode(QAbstractItemView::ExtendedSelection);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    return view;
}

} // namespace

TMainWindow::TMainWindow(const TMainWindowStart& Start, QWidget* Parent)
    : QMainWindow(Parent), FScheduler(FQueue, {}, MakeSchedulerHooks()) {
    setObjectName(QStringLiteral("TMainWindow"));
    setWindowTitle(QString::fromLatin1(kApplicationTitle));
    CreateWidgets();
    CreateMenus();
    CreateTray();
    FQueue.AddObserver(this);
    connect(qApp, &QGuiApplication::commitDataRequest, this, &TMainWindow::CommitData, Qt::DirectConnection);
    FormCreate(Start);
}

TMainWindow::~TMainWindow() {
    // An upload thread may deliver its last event while it is destroyed: end them while the
    // scheduler that handles those events still exists.
    for (TJobId id : FQueue.TaskIds())
        FQueue.ReleaseThreadById(id);
    FQueue.RemoveObserver(this);
}

TSchedulerHooks TMainWindow::MakeSchedulerHooks() {
    TSchedulerHooks hooks;
    hooks.StatusChanged = [this](const TSchedulerStatus& Status) {
        StatusPanels[0]->setText(QString::fromStdString(Status.Text));
        StatusPanels[2]->setText(QString::fromStdString(Status.Speed));
    };
    hooks.StealthMode = [this] { return FStealthMode; };
    hooks.JobsError = [this](const std::string& Caption, const std::string& Text) {
        ReportError(QString::fromStdString(Caption), QString::fromStdString(Text));
    };
    return hooks;
}

void TMainWindow::CreateWidgets() {
    // Top block (tree | lists) over the details panel; the user can move both borders.
    auto* splitter2 = new QSplitter(Qt::Vertical, this);
    splitter2->setObjectName(QStringLiteral("Splitter2"));
    splitter2->setChildrenCollapsible(false);

    Splitter1 = new QSplitter(Qt::Horizontal, splitter2);
    Splitter1->setObjectName(QStringLiteral("Splitter1"));
    Splitter1->setChildrenCollapsible(false);

    TreeView = new QTreeWidget(Splitter1);
    TreeView->setObjectName(QStringLiteral("TreeView"));
    TreeView->setHeaderHidden(true);
    TreeView->setRootIsDecorated(false);
    TreeView->setIndentation(19);
    TreeView->addTopLevelItem(new QTreeWidgetItem(TreeView));
    TreeView->addTopLevelItem(new QTreeWidgetItem(TreeView));

    auto* lists = new QWidget(Splitter1);
    auto* listsLayout = new QVBoxLayout(lists);
    listsLayout->setContentsMargins(0, 0, 0, 0);
    ListViewUploadJobs = MakeListView(lists, "ListViewUploadJobs");
    ListViewFinishedUploadJobs = MakeListView(lists, "ListViewFinishedUploadJobs");
    ListViewFinishedUploadJobs->hide();
    listsLayout->addWidget(ListViewUploadJobs);
    listsLayout->addWidget(ListViewFinishedUploadJobs);

    Splitter1->addWidget(TreeView);
    Splitter1->addWidget(lists);
    Splitter1->setStretchFactor(0, 0);
    Splitter1->setStretchFactor(1, 1);
    Splitter1->setSizes({149, DesignedClientWidth - 149});

    Panel1 = new QWidget(splitter2);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setMinimumSize(25, 25);
    auto* panelLayout = new QVBoxLayout(Panel1);
    panelLayout->setContentsMargins(0, 0, 0, 0);
    panelLayout->setSpacing(0);
    auto* bevel1 = new QFrame(Panel1);
    bevel1->setObjectName(QStringLiteral("Bevel1"));
    bevel1->setFrameShape(QFrame::HLine);
    bevel1->setFrameShadow(QFrame::Sunken);
    RichEdit1 = new QTextEdit(Panel1);
    RichEdit1->setObjectName(QStringLiteral("RichEdit1"));
    RichEdit1->setReadOnly(true);
    RichEdit1->setLineWrapMode(QTextEdit::NoWrap);
    panelLayout->addWidget(bevel1);
    panelLayout->addWidget(RichEdit1);

    splitter2->addWidget(Splitter1);
    splitter2->addWidget(Panel1);
    splitter2->setStretchFactor(0, 1);
    splitter2->setStretchFactor(1, 0);
    splitter2->setSizes({DesignedClientHeight - 104, 104});
    setCentralWidget(splitter2);

    // Panel 0 takes what panels 1 and 2 leave.
    static constexpr int kPanelWidths[3] = {400, 170, 180};
    static constexpr Qt::Alignment kPanelAlign[3] = {Qt::AlignLeft, Qt::AlignRight, Qt::AlignHCenter};
    for (int i = 0; i < 3; ++i) {
        auto* panel = new QLabel(this);
        panel->setObjectName(QStringLiteral("StatusPanel%1").arg(i));
        panel->setAlignment(kPanelAlign[i] | Qt::AlignVCenter);
        panel->setMinimumWidth(i == 0 ? 0 : kPanelWidths[i]);
        if (i == 0)
            statusBar()->addWidget(panel, 1);
        else
            statusBar()->addPermanentWidget(panel);
        StatusPanels[i] = panel;
    }
    StatusPanels[0]->setText(ResQString(rmIdle));
}

void TMainWindow::CreateMenus() {
    mi_File = menuBar()->addMenu(tr("&File"));
    act_exit = new QAction(tr("E&xit"), this);
    act_exit->setObjectName(QStringLiteral("act_exit"));
    connect(act_exit, &QAction::triggered, this, &TMainWindow::act_exitExecute);
    mi_File->addAction(act_exit);

    mi_Tools = menuBar()->addMenu(tr("&Tools"));
    act_shutdowntoggle = new QAction(tr("Auto shutdown"), this);
    act_shutdowntoggle->setObjectName(QStringLiteral("act_shutdowntoggle"));
    act_shutdowntoggle->setStatusTip(tr("Autoshutdown when finished"));
    act_shutdowntoggle->setCheckable(true);
    connect(act_shutdowntoggle, &QAction::triggered, this, &TMainWindow::act_shutdowntoggleExecute);
    mi_Tools->addAction(act_shutdowntoggle);
}

void TMainWindow::FormCreate(const TMainWindowStart& Start) {
    TreeView->topLevelItem(0)->setText(0, ResQString(rmNodeUploadQueue));
    TreeView->topLevelItem(1)->setText(0, ResQString(rmNodeFinished));
    FStealthMode = AppSettings.General.StartInStealthMode;
    ApplySettings();
    PlaceWindow();
    LoadJobs(FQueue, JobsFileName(), FScheduler.Hooks().JobsError);
    ShowAtStart(Start);
    // The loader has already turned tasks stored as Uploading into Error, so the first call
    // finds nothing; like every state change it writes the jobs file back.
    FScheduler.ChangeTaskStates({jsUploading}, jsQueued);
    if (AppSettings.General.AutostartUploading)
        FScheduler.ChangeTaskStates(AllJobStates, jsQueued);
    FScheduler.SetTimerEnabled(true);
    FQueue.UpdateQueueSummary();
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
