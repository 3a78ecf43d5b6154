// The main window's views: the layout and its component names, the two list models, switching
// views, the details panel's runs, the selection rule of the queue commands, column fitting and
// the status panels.
#include "OfflineHome.h"
#include "core/app/Settings.h"
#include "core/l10n/ResMessages.h"
#include "support/TestEnvironment.h"
#include "ui/MainWindow.h"
#include "ui/MessageBox.h"
#include "ui/QueueModels.h"

#include <QAction>
#include <QApplication>
#include <QDate>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QSplitter>
#include <QStackedWidget>
#include <QStatusBar>
#include <QTableView>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextEdit>
#include <QToolBar>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace quillo {

// What the panel shows of one run: its text (line ends as "\n"), bold or not, and the name of
// its colour.
struct TShownRun {
    std::string Text;
    bool Bold;
    std::string Colour;
    bool operator==(const TShownRun&) const = default;
};

std::ostream& operator<<(std::ostream& Out, const TShownRun& R) {
    return Out << "{\"" << R.Text << "\", " << (R.Bold ? "bold" : "regular") << ", " << R.Colour << "}";
}

namespace {

constexpr bool B = true;  // bold
constexpr bool R = false; // regular

// Neighbouring runs of the same look read as one: the panel cannot show where one ends.
std::vector<TShownRun> Merged(const std::vector<TShownRun>& Runs) {
    std::vector<TShownRun> out;
    for (TShownRun run : Runs) {
        std::string::size_type at;
        while ((at = run.Text.find("\r\n")) != std::string::npos)
            run.Text.replace(at, 2, "\n");
        if (run.Text.empty())
            continue;
        if (!out.empty() && out.back().Bold == run.Bold && out.back().Colour == run.Colour)
            out.back().Text += run.Text;
        else
            out.push_back(run);
    }
    return out;
}

class MainWindowViewsTest : public testing::Test {
protected:
    void SetUp() override {
        test::UseOfflineHome();
        SetMessageBoxHandler(
            [](QWidget*, const QString&, const QString&, TMsgBoxButtons, TMsgBoxIcon) { return mrOK; });
        W = std::make_unique<TMainWindow>(TMainWindowStart{true});
        W->FProductInfo = [] {
            return TProductInfo{"Quillo Uploader", {1, 2, 3, 45}, "(c) Quillo team", "Comments here"};
        };
        W->RefreshCurrentView();
    }
    void TearDown() override {
        W.reset();
        SetMessageBoxHandler(nullptr);
        CommitSettings(TAppSettings{});
    }

    std::string ColourName(const QColor& C) const {
        const QPalette& p = W->RichEdit1->palette();
        for (TRunColour c : {rcNavy, rcGreen, rcTeal, rcRed, rcWindowText})
            if (RunColour(c, p) == C)
                return std::vector<std::string>{"windowtext", "navy", "green", "teal", "red"}[c];
        return "other " + C.name().toStdString();
    }

    // The runs of the details panel as it holds them: every block after the first begins with
    // the line end that made it, in the format it was written with.
    std::vector<TShownRun> PanelRuns() const {
        std::vector<TShownRun> runs;
        const auto add = [&](const QString& Text, const QTextCharFormat& F) {
            runs.push_back(
                {Text.toStdString(), F.fontWeight() >= QFont::Bold, ColourName(F.foreground().color())});
        };
        const QTextDocument* doc = W->RichEdit1->document();
        for (QTextBlock block = doc->begin(); block.isValid(); block = block.next()) {
            if (block != doc->begin())
                add(QStringLiteral("\n"), block.charFormat());
            for (auto it = block.begin(); !it.atEnd(); ++it)
                add(it.fragment().text(), it.fragment().charFormat());
        }
        return Merged(runs);
    }

    static std::string Res(int Id) { return ResString(Id); }

    void Select(QTableView* View, std::vector<int> Rows, bool SetCurrent = true) {
        QItemSelectionModel* s = View->selectionModel();
        s->clearSelection();
        if (SetCurrent && !Rows.empty())
            s->setCurrentIndex(View->model()->index(Rows.front(), 0), QItemSelectionModel::NoUpdate);
        for (int row : Rows)
            s->select(View->model()->index(row, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }

    std::vector<int> SelectedTaskRows() const { return TMainWindow::SelectedRows(W->ListViewUploadJobs); }

    void ShowNode(int Node) { W->TreeView->setCurrentItem(W->TreeView->topLevelItem(Node)); }

    std::size_t AddTask(TJobState State, const std::string& UploadName = {},
                        const std::string& Description = {}) {
        TUploadJobData t;
        t.FileName = "/data/holiday/movie.avi";
        t.FileSize = 1234567;
        t.Method = "FTP Method";
        t.State = State;
        t.UploadName = UploadName;
        t.Description = Description;
        t.Percent = 42;
        t.Elapsed = 3723000;
        t.TimeLeft = -1;
        t.Speed = 1000;
        t.StatusText = State == jsError ? "Connection refused" : "Uploading file (1,000 / 2,000 Bytes)...";
        return W->FQueue.AppendTask(std::move(t));
    }

    std::unique_ptr<TMainWindow> W;
};

// ---- layout ----------------------------------------------------------------------------------

TEST_F(MainWindowViewsTest, WidgetsCarryTheirComponentNamesAndDesignedSizes) {
    EXPECT_STREQ(W->metaObject()->className(), "quillo::TMainWindow");
    for (const char* name :
         {"MainMenu", "ToolBar", "TreeView", "Splitter1", "Splitter2", "ListViewUploadJobs",
          "ListViewFinishedUploadJobs", "searchpanel", "Memo1", "Panel1", "Bevel1", "RichEdit1", "StatusBar",
          "TaskListContextMenu", "LinksListContextMenu"})
        EXPECT_NE(W->findChild<QObject*>(QString::fromLatin1(name)), nullptr) << name;
    EXPECT_EQ(W->Splitter1->handleWidth(), 5);
    EXPECT_EQ(W->Splitter2->handleWidth(), 7);
    EXPECT_EQ(W->TreeView->indentation(), 19);
    EXPECT_EQ(W->Panel1->minimumSize(), QSize(25, 25));
    EXPECT_TRUE(W->searchpanel->isHidden());
    EXPECT_TRUE(W->Memo1->isHidden());
    EXPECT_TRUE(W->RichEdit1->isReadOnly());
    EXPECT_EQ(W->RichEdit1->lineWrapMode(), QTextEdit::NoWrap);
    EXPECT_EQ(W->RichEdit1->font().pixelSize(), 15);
    EXPECT_EQ(W->ToolBar->iconSize(), QSize(32, 32));
    EXPECT_EQ(W->ToolBar->toolButtonStyle(), Qt::ToolButtonTextUnderIcon);
    // Both views share one place; the task list is in front at the start.
    EXPECT_EQ(W->ListViews->currentWidget(), W->ListViewUploadJobs);
    EXPECT_TRUE(W->ListViewFinishedUploadJobs->isHidden());
    EXPECT_EQ(W->TreeView->topLevelItem(0)->isSelected(), true);
    for (QTableView* view : {W->ListViewUploadJobs, W->ListViewFinishedUploadJobs}) {
        EXPECT_TRUE(view->showGrid());
        EXPECT_EQ(view->selectionBehavior(), QAbstractItemView::SelectRows);
        EXPECT_EQ(view->selectionMode(), QAbstractItemView::ExtendedSelection);
        const QPalette& p = view->palette();
        EXPECT_EQ(p.color(QPalette::Inactive, QPalette::Highlight),
                  p.color(QPalette::Active, QPalette::Highlight));
        EXPECT_FALSE(view->accessibleName().isEmpty());
    }
}

TEST_F(MainWindowViewsTest, ColumnsHaveTheirCaptionsWidthsAndAlignments) {
    struct Column {
        const char* Caption;
        int Width;
        Qt::Alignment Align;
    };
    const Qt::Alignment L = Qt::AlignLeft, Rt = Qt::AlignRight;
    const std::vector<Column> tasks{{"File Name", 0, L}, {"Size", 89, Rt},    {"Method", 107, L},
                                    {"Status", 123, L},  {"Elapsed", 80, Rt}, {"Left", 79, Rt},
                                    {"Speed", 71, Rt}};
    const std::vector<Column> finished{{"File Name", 0, L}, {"Size", 111, Rt}, {"Upload Time", 185, Rt}};
    for (auto [view, columns] :
         {std::pair{W->ListViewUploadJobs, tasks}, std::pair{W->ListViewFinishedUploadJobs, finished}}) {
        SCOPED_TRACE(view->objectName().toStdString());
        QAbstractItemModel* m = view->model();
        ASSERT_EQ(m->columnCount(), int(columns.size()));
        for (int i = 0; i < int(columns.size()); ++i) {
            EXPECT_EQ(m->headerData(i, Qt::Horizontal).toString(), QString::fromLatin1(columns[i].Caption));
            EXPECT_EQ(Qt::Alignment(m->headerData(i, Qt::Horizontal, Qt::TextAlignmentRole).toInt()) &
                          Qt::AlignHorizontal_Mask,
                      columns[i].Align);
            if (columns[i].Width) {
                EXPECT_EQ(view->horizontalHeader()->sectionSize(i), columns[i].Width) << i;
            }
        }
    }
    // A language file replaces a caption through the model.
    W->ListViewUploadJobs->model()->setHeaderData(1, Qt::Horizontal, QStringLiteral("Größe"));
    EXPECT_EQ(W->ListViewUploadJobs->model()->headerData(1, Qt::Horizontal).toString(),
              QStringLiteral("Größe"));
}

TEST_F(MainWindowViewsTest, MenusAndToolBarHoldTheirCommandsInOrderAndShowOnlyInstalledOnes) {
    const auto names = [](const QWidget* W) {
        std::vector<std::string> out;
        for (const QAction* a : W->actions())
            out.push_back(a->isSeparator() ? "-" : a->objectName().toStdString());
        return out;
    };
    using V = std::vector<std::string>;
    EXPECT_EQ(names(W->mi_File), (V{"act_newtasks", "act_tasksproperties", "-", "act_exit"}));
    EXPECT_EQ(names(W->mi_Upload), (V{"act_queuetasks", "act_pausetasks", "-", "act_starttasks",
                                      "act_stopalltasks", "-", "act_deletetasks"}));
    // No tray on the offscreen platform: Show Drop Target waits in the Tools menu.
    EXPECT_EQ(names(W->mi_Tools), (V{"act_search", "act_shutdowntoggle", "-", "act_selectlanguage",
                                     "act_showsettings", "act_showdroptarget"}));
    EXPECT_EQ(names(W->mi_Help), (V{"act_help", "act_checkforupdate", "-", "act_about"}));
    EXPECT_EQ(names(W->ToolBar), (V{"act_newtasks", "act_queuetasks", "act_pausetasks", "act_movetasksup",
                                    "act_movetasksdown", "act_deletetasks"}));
    std::vector<QMenu*> bar;
    for (QAction* a : W->menuBar()->actions())
        bar.push_back(a->menu());
    EXPECT_EQ(bar, (std::vector<QMenu*>{W->mi_File, W->mi_Upload, W->mi_Tools, W->mi_Help}));

    // Tool-bar buttons: caption, tooltip and a picture each.
    const std::vector<std::pair<QAction*, const char*>> buttons{
        {W->act_newtasks, "Add files for upload"}, {W->act_queuetasks, "Queue file(s) for upload"},
        {W->act_pausetasks, "Pause upload"},       {W->act_movetasksup, "Move up"},
        {W->act_movetasksdown, "Move down"},       {W->act_deletetasks, "Remove item"}};
    for (auto [action, hint] : buttons) {
        EXPECT_EQ(action->toolTip(), QString::fromLatin1(hint));
        EXPECT_FALSE(action->icon().isNull());
        EXPECT_FALSE(action->icon().pixmap(32, 32).isNull());
    }
    EXPECT_EQ(W->act_newtasks->shortcut(), QKeySequence(Qt::Key_Insert));
    EXPECT_EQ(W->act_deletetasks->shortcut(), QKeySequence(Qt::Key_Delete));
    EXPECT_TRUE(W->act_search->isCheckable());

    // Only what works is offered: with the queue's and the finished list's commands, the tools
    // and Help installed, every menu and the tool bar show; Start Now! works but is never offered.
    EXPECT_TRUE(W->act_about->isVisible());
    EXPECT_TRUE(W->act_exit->isVisible());
    EXPECT_TRUE(W->act_shutdowntoggle->isVisible());
    EXPECT_TRUE(W->act_newtasks->isVisible());
    EXPECT_FALSE(W->act_starttasks->isVisible());
    EXPECT_TRUE(W->act_help->isVisible());
    EXPECT_TRUE(W->act_checkforupdate->isVisible());
    for (QMenu* menu : {W->mi_File, W->mi_Upload, W->mi_Tools, W->mi_Help})
        EXPECT_TRUE(menu->menuAction()->isVisible()) << menu->objectName().toStdString();
    EXPECT_FALSE(W->ToolBar->isHidden());

    // Installing connects the handler and shows the action.
    int ran = 0;
    QAction probe;
    probe.setVisible(false);
    W->InstallCommand(&probe, [&] { ++ran; });
    EXPECT_TRUE(probe.isVisible());
    probe.trigger();
    EXPECT_EQ(ran, 1);
}

// ---- the list models -------------------------------------------------------------------------

TEST_F(MainWindowViewsTest, EveryTaskColumnForEachState) {
    using V = std::vector<std::string>;
    struct Case {
        TJobState State;
        std::string UploadName;
        V Cells;
    } cases[] = {
        {jsQueued, "", {"movie.avi", "1,234,567", "FTP Method", "Queued", "", "", ""}},
        {jsDelayed, "", {"movie.avi", "1,234,567", "FTP Method", "Delayed", "", "", ""}},
        {jsUploading,
         "",
         {"movie.avi", "1,234,567", "FTP Method", "Uploading (42%)", "01:02:03", "??:??:??", "125.00"}},
        {jsFinished, "", {"movie.avi", "1,234,567", "FTP Method", "Finished", "", "", ""}},
        {jsError, "", {"movie.avi", "1,234,567", "FTP Method", "ERROR", "", "", ""}},
        {jsDelayed, "Kqwe.pdf", {"Kqwe.pdf", "1,234,567", "FTP Method", "Delayed", "", "", ""}},
        {jsUploading,
         "Kqwe.pdf",
         {"Kqwe.pdf", "1,234,567", "FTP Method", "Uploading (42%)", "01:02:03", "??:??:??", "125.00"}},
    };
    QAbstractItemModel* m = W->ListViewUploadJobs->model();
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << int(c.State) << " " << c.UploadName);
        const int row = int(AddTask(c.State, c.UploadName));
        ASSERT_EQ(m->rowCount(), row + 1);
        V cells;
        for (int col = 0; col < m->columnCount(); ++col)
            cells.push_back(m->index(row, col).data().toString().toStdString());
        EXPECT_EQ(cells, c.Cells);
        const QIcon picture = m->index(row, 0).data(Qt::DecorationRole).value<QIcon>();
        EXPECT_FALSE(picture.isNull());
        const QVariant progress =
            m->index(row, TUploadJobsModel::tcStatus).data(TQueueListModel::ProgressRole);
        EXPECT_EQ(progress.isValid(), c.State == jsUploading);
        if (progress.isValid()) {
            EXPECT_EQ(progress.toInt(), 42);
        }
        EXPECT_EQ(Qt::Alignment(m->index(row, 1).data(Qt::TextAlignmentRole).toInt()) &
                      Qt::AlignHorizontal_Mask,
                  Qt::AlignRight);
    }
    // The speed in kilobytes with two decimals, the time left when known.
    W->FQueue.Task(2).Speed = 8 * 1234.5678;
    W->FQueue.Task(2).TimeLeft = 61000;
    EXPECT_EQ(m->index(2, TUploadJobsModel::tcSpeed).data().toString(), QStringLiteral("1234.57"));
    EXPECT_EQ(m->index(2, TUploadJobsModel::tcLeft).data().toString(), QStringLiteral("00:01:01"));
}

TEST_F(MainWindowViewsTest, FinishedRowsShowTheFileNameSizeAndUploadTime) {
    TFinishedUploadJobData f;
    f.FileName = "/data/holiday/movie.avi";
    f.UploadName = "Kqwe.avi"; // the list shows the local name
    f.FileSize = 999;
    f.EndTime = 46000.0; // midnight: the date alone
    W->FQueue.AppendFinished(f);
    f.EndTime = 46000.5;
    f.FileSize = 1000;
    W->FQueue.AppendFinished(f);
    QAbstractItemModel* m = W->ListViewFinishedUploadJobs->model();
    ASSERT_EQ(m->rowCount(), 2);
    EXPECT_EQ(m->index(0, 0).data().toString(), QStringLiteral("movie.avi"));
    EXPECT_EQ(m->index(0, 1).data().toString(), QStringLiteral("999"));
    EXPECT_EQ(m->index(1, 1).data().toString(), QStringLiteral("1,000"));
    const QString date = m->index(0, 2).data().toString();
    const QString dateTime = m->index(1, 2).data().toString();
    EXPECT_EQ(date, QLocale::system().toString(QDate(2025, 12, 9), QLocale::ShortFormat));
    EXPECT_TRUE(dateTime.startsWith(date + QLatin1Char(' '))) << dateTime.toStdString();
    EXPECT_TRUE(dateTime.contains(QStringLiteral("12"))) << dateTime.toStdString();
    EXPECT_FALSE(m->index(0, 0).data(Qt::DecorationRole).value<QIcon>().isNull());
}

TEST_F(MainWindowViewsTest, ModelsFollowTheQueueAndAChangeRepaintsOnlyItsRow) {
    for (int i = 0; i < 5; ++i)
        AddTask(jsDelayed, "task" + std::to_string(i));
    QAbstractItemModel* m = W->ListViewUploadJobs->model();
    std::vector<std::pair<int, int>> changed;
    QObject::connect(m, &QAbstractItemModel::dataChanged,
                     [&](const QModelIndex& From, const QModelIndex& To) {
                         changed.push_back({From.row(), To.row()});
                     });
    W->FQueue.TaskChanged(3);
    EXPECT_EQ(changed, (std::vector<std::pair<int, int>>{{3, 3}}));

    // The selection travels with the moved row, and removed rows leave the view.
    Select(W->ListViewUploadJobs, {0});
    W->FQueue.MoveTask(0, 3);
    EXPECT_EQ(SelectedTaskRows(), std::vector<int>{3});
    EXPECT_EQ(m->index(3, 0).data().toString(), QStringLiteral("task0"));
    W->FQueue.MoveTask(3, 1);
    EXPECT_EQ(SelectedTaskRows(), std::vector<int>{1});
    W->FQueue.DeleteTask(0);
    EXPECT_EQ(m->rowCount(), 4);
    EXPECT_EQ(SelectedTaskRows(), std::vector<int>{0});
    EXPECT_EQ(W->SelectedTaskIds(), std::vector<TJobId>{W->FQueue.Task(0).Id()});
    W->FQueue.Clear();
    EXPECT_EQ(m->rowCount(), 0);
    EXPECT_TRUE(W->SelectedTaskIds().empty());
}

// A click makes the node current before it selects it; the view follows the selection.
TEST_F(MainWindowViewsTest, ClickingATreeNodeSwitchesTheView) {
    W->show();
    QApplication::processEvents();
    const auto click = [&](int Node) {
        const QPoint at = W->TreeView->visualItemRect(W->TreeView->topLevelItem(Node)).center();
        const QPoint global = W->TreeView->viewport()->mapToGlobal(at);
        QMouseEvent press(QEvent::MouseButtonPress, at, global, Qt::LeftButton, Qt::LeftButton,
                          Qt::NoModifier);
        QMouseEvent release(QEvent::MouseButtonRelease, at, global, Qt::LeftButton, Qt::NoButton,
                            Qt::NoModifier);
        QApplication::sendEvent(W->TreeView->viewport(), &press);
        QApplication::sendEvent(W->TreeView->viewport(), &release);
    };
    click(1);
    EXPECT_EQ(W->ListViews->currentWidget(), W->ListViewFinishedUploadJobs);
    EXPECT_EQ(W->CurrentView(), W->ListViewFinishedUploadJobs);
    click(0);
    EXPECT_EQ(W->ListViews->currentWidget(), W->ListViewUploadJobs);
}

// The Status cell of an uploading task carries a bar as long as its progress behind the text;
// other cells are drawn as usual.
TEST_F(MainWindowViewsTest, StatusCellOfAnUploadingTaskDrawsItsProgressBehindTheText) {
    W->show();
    QApplication::processEvents();
    AddTask(jsUploading);
    AddTask(jsUploading);
    AddTask(jsDelayed);
    W->FQueue.Task(0).Percent = 25;
    W->FQueue.Task(1).Percent = 75;
    W->FQueue.AllTasksChanged();
    QApplication::processEvents();
    const QImage picture = W->ListViewUploadJobs->viewport()->grab().toImage();
    const QColor bar(0xa8, 0xd8, 0x96);
    const auto barShare = [&](int Row) {
        const QRect cell = W->ListViewUploadJobs->visualRect(
            W->ListViewUploadJobs->model()->index(Row, TUploadJobsModel::tcStatus));
        // The longest run of bar colour on any line of the cell: the text covers parts of most.
        int filled = 0;
        for (int y = cell.top(); y <= cell.bottom(); ++y) {
            int line = 0;
            for (int x = cell.left(); x <= cell.right(); ++x)
                line += picture.pixelColor(x, y) == bar;
            filled = std::max(filled, line);
        }
        return double(filled) / cell.width();
    };
    EXPECT_NEAR(barShare(0), 0.25, 0.07);
    EXPECT_NEAR(barShare(1), 0.75, 0.07);
    EXPECT_EQ(barShare(2), 0.0);
    EXPECT_EQ(W->ListViewUploadJobs->model()->index(1, TUploadJobsModel::tcStatus).data().toString(),
              QStringLiteral("Uploading (42%)").replace(QStringLiteral("42"), QStringLiteral("75")));
}

// ---- details panel ---------------------------------------------------------------------------

TEST_F(MainWindowViewsTest, TaskDetailsForEachStateWithAndWithoutNameAndDescription) {
    const std::string file = "/data/holiday/movie.avi";
    const auto head = [&](bool Named) {
        std::vector<TShownRun> runs{{Res(rmDetailFile) + ": ", B, "windowtext"}, {file, R, "navy"}};
        if (Named) {
            runs.push_back({" " + Res(rmDetailUploadAs) + ": ", B, "windowtext"});
            runs.push_back({"Kqwe.pdf", R, "navy"});
        }
        runs.push_back({"\r\n", R, "navy"});
        if (Named)
            runs.push_back({Res(rmDetailDescription) + ": ", B, "windowtext"});
        runs.push_back({(Named ? "Holiday film" : "") + std::string("\r\n"), R, "navy"});
        return runs;
    };
    struct Case {
        TJobState State;
        std::vector<TShownRun> Tail;
    } cases[] = {
        {jsQueued, {{Res(rmStateQueued), B, "navy"}}},
        {jsDelayed, {{Res(rmStateDelayed), B, "navy"}}},
        {jsUploading, {{"Uploading file (1,000 / 2,000 Bytes)...", B, "navy"}}},
        {jsFinished, {{Res(rmStateFinished), B, "navy"}}},
        {jsError, {{Res(rmStateError) + ": ", B, "red"}, {"Connection refused", B, "windowtext"}}},
        {TJobState(7), {}}, // a state the program does not know writes nothing after the lines
    };
    for (bool named : {false, true}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(testing::Message() << "state " << int(c.State) << (named ? " named" : ""));
            W->FQueue.Clear();
            AddTask(c.State, named ? "Kqwe.pdf" : "", named ? "Holiday film" : "");
            Select(W->ListViewUploadJobs, {0});
            std::vector<TShownRun> expected = head(named);
            expected.insert(expected.end(), c.Tail.begin(), c.Tail.end());
            EXPECT_EQ(PanelRuns(), Merged(expected));
            EXPECT_TRUE(W->RichEdit1->isEnabled());
        }
    }
}

TEST_F(MainWindowViewsTest, FinishedDetailsWithAndWithoutHostLinksAndHash) {
    struct Case {
        const char* Name;
        std::string UploadName, Description, Result;
        std::vector<TShownRun> Expected;
    };
    const std::string file = "/data/holiday/movie.avi";
    const TShownRun fileLabel{Res(rmDetailFile) + ": ", B, "windowtext"}, fileName{file, B, "navy"},
        lineEnd{"\r\n", R, "navy"}, noDescription{"\r\n", B, "navy"},
        downloadLabel{Res(rmDetailDownloadLink) + ": ", B, "windowtext"};
    const TShownRun download{"http://h/d/1\r\n", B, "green"};
    const Case cases[] = {
        {"links only",
         "",
         "",
         "download-link=http://h/d/1",
         {fileLabel, fileName, lineEnd, noDescription, downloadLabel, download}},
        {"no download link",
         "",
         "",
         "kill-link=",
         {fileLabel, fileName, lineEnd, noDescription, downloadLabel, {"\r\n", B, "green"}}},
        {"host without upload name",
         "",
         "",
         "host=up3.example\r\ndownload-link=http://h/d/1",
         {fileLabel,
          fileName,
          {" " + Res(rmDetailUploadedTo) + " ", B, "windowtext"},
          {"up3.example", B, "red"},
          lineEnd,
          noDescription,
          downloadLabel,
          download}},
        {"host and upload name",
         "Kqwe.avi",
         "",
         "host=up3.example\r\ndownload-link=http://h/d/1",
         {fileLabel,
          fileName,
          {" " + Res(rmDetailUploadedAs) + " ", B, "windowtext"},
          {"Kqwe.avi", R, "navy"},
          {" " + Res(rmDetailTo) + " ", B, "windowtext"},
          {"up3.example", B, "red"},
          lineEnd,
          noDescription,
          downloadLabel,
          download}},
        {"upload name without host",
         "Kqwe.avi",
         "",
         "download-link=http://h/d/1",
         {fileLabel,
          fileName,
          {" " + Res(rmDetailUploadedAs) + " ", B, "windowtext"},
          {"Kqwe.avi", R, "navy"},
          lineEnd,
          noDescription,
          downloadLabel,
          download}},
        {"server the method recorded",
         "",
         "",
         "upserver=ftp7.example:2121\r\ndownload-link=http://h/d/1",
         {fileLabel,
          fileName,
          {" " + Res(rmDetailUploadedTo) + " ", B, "windowtext"},
          {"ftp7.example:2121", B, "red"},
          lineEnd,
          noDescription,
          downloadLabel,
          download}},
        {"description, kill-link and hash",
         "",
         "Holiday film",
         "download-link=http://h/d/1\r\nkill-link=http://h/k/1\r\nMD5=0123abcd",
         {fileLabel,
          fileName,
          lineEnd,
          {Res(rmDetailDescription) + ": ", B, "windowtext"},
          {"Holiday film\r\n", B, "navy"},
          downloadLabel,
          download,
          {Res(rmDetailDeleteLink) + ": ", B, "windowtext"},
          {"http://h/k/1\r\n", B, "green"},
          {Res(rmDetailMD5) + ": ", B, "windowtext"},
          {"0123abcd\r\n", B, "teal"}}},
        {"hash without kill-link",
         "",
         "",
         "MD5=0123abcd\r\ndownload-link=http://h/d/1",
         {fileLabel,
          fileName,
          lineEnd,
          noDescription,
          downloadLabel,
          download,
          {Res(rmDetailMD5) + ": ", B, "windowtext"},
          {"0123abcd\r\n", B, "teal"}}},
    };
    ShowNode(1);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        W->FQueue.Clear();
        TFinishedUploadJobData f;
        f.FileName = file;
        f.UploadName = c.UploadName;
        f.Description = c.Description;
        f.Result = c.Result;
        W->FQueue.AppendFinished(f);
        Select(W->ListViewFinishedUploadJobs, {0});
        EXPECT_EQ(PanelRuns(), Merged(c.Expected));
        EXPECT_TRUE(W->RichEdit1->isEnabled());
    }
}

TEST_F(MainWindowViewsTest, NoRowOrSeveralRowsShowTheProductSummaryWithThePanelDisabled) {
    const std::vector<TShownRun> summary{
        {"Quillo Uploader 1.2.3.45 - " + Res(rmUploaderFor) + "\n(c) Quillo team\nComments here\n", B,
         "windowtext"}};
    AddTask(jsDelayed);
    AddTask(jsQueued);
    struct Case {
        const char* Name;
        std::vector<int> Rows;
        bool Summary;
    } cases[] = {{"none", {}, true}, {"two", {0, 1}, true}, {"one", {1}, false}, {"none again", {}, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        Select(W->ListViewUploadJobs, c.Rows);
        EXPECT_EQ(W->RichEdit1->isEnabled(), !c.Summary);
        if (c.Summary)
            EXPECT_EQ(PanelRuns(), summary);
        else
            EXPECT_EQ(PanelRuns().front().Text, Res(rmDetailFile) + ": ");
    }
    // The finished view starts without a selection.
    ShowNode(1);
    EXPECT_EQ(PanelRuns(), summary);
    EXPECT_FALSE(W->RichEdit1->isEnabled());
}

TEST_F(MainWindowViewsTest, DetailsFollowTheSelectedTaskButIgnoreOthersAndHiddenViews) {
    AddTask(jsUploading);
    AddTask(jsUploading);
    Select(W->ListViewUploadJobs, {1});
    W->FQueue.Task(1).StatusText = "Uploading file (1,500 / 2,000 Bytes)...";
    W->FScheduler.Hooks().ThreadEvent(W->FQueue.Task(1).Id(), ieProgress);
    EXPECT_EQ(PanelRuns().back().Text, "Uploading file (1,500 / 2,000 Bytes)...");
    // Another task's progress leaves the panel as it is.
    W->FQueue.Task(1).StatusText = "changed without an event";
    W->FScheduler.Hooks().ThreadEvent(W->FQueue.Task(0).Id(), ieProgress);
    EXPECT_EQ(PanelRuns().back().Text, "Uploading file (1,500 / 2,000 Bytes)...");
    // RefreshCurrentView for a view that is not in front does nothing.
    W->RefreshCurrentView(W->ListViewFinishedUploadJobs);
    EXPECT_EQ(PanelRuns().back().Text, "Uploading file (1,500 / 2,000 Bytes)...");
    W->RefreshCurrentView(W->ListViewUploadJobs);
    EXPECT_EQ(PanelRuns().back().Text, "changed without an event");
    // Hidden views never write the panel.
    ShowNode(1);
    const std::vector<TShownRun> shown = PanelRuns();
    W->ShowDetails(W->ListViewUploadJobs);
    EXPECT_EQ(PanelRuns(), shown);
}

TEST_F(MainWindowViewsTest, AppendStyledTextAppendsRunsInOrder) {
    W->RichEdit1->clear();
    W->AppendStyledText(QStringLiteral("one "), rsBold, QColor(255, 0, 0));
    W->AppendStyledText(QStringLiteral("two\r\n"), rsRegular, QColor(0, 0, 128));
    W->AppendStyledText(QStringLiteral("three"), rsRegular, QColor(0, 128, 128));
    EXPECT_EQ(W->RichEdit1->toPlainText(), QStringLiteral("one two\nthree"));
    EXPECT_EQ(PanelRuns(),
              (std::vector<TShownRun>{{"one ", B, "red"}, {"two\n", R, "navy"}, {"three", R, "teal"}}));
}

// ---- the queue commands' selection rule --------------------------------------------------------

TEST_F(MainWindowViewsTest, SelectedTasksInStatesForSingleAndMultipleSelections) {
    for (TJobState s : {jsQueued, jsDelayed, jsUploading, jsError, jsDelayed})
        AddTask(s);
    const TJobStates delayedOrError{jsDelayed, jsError}, queuedOrUploading{jsQueued, jsUploading};
    struct Case {
        const char* Name;
        std::vector<int> Rows;
        TJobStates States;
        bool Expected;
    } cases[] = {
        {"nothing selected", {}, AllJobStates, false},
        {"one in the set", {1}, delayedOrError, true},
        {"one outside the set", {0}, delayedOrError, false},
        {"error task", {3}, delayedOrError, true},
        {"two, none in the set", {0, 2}, delayedOrError, false},
        {"two, one in the set", {0, 1}, delayedOrError, true},
        {"two, both in the set", {1, 4}, delayedOrError, true},
        {"three, one in the other set", {1, 2, 3}, queuedOrUploading, true},
        {"empty set", {0, 1, 2}, TJobStates{}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        Select(W->ListViewUploadJobs, c.Rows);
        EXPECT_EQ(W->SelectedTasksInStates(c.States), c.Expected);
    }
    // A selection without a focused row, or the other view in front, enables nothing.
    Select(W->ListViewUploadJobs, {1}, false);
    W->ListViewUploadJobs->selectionModel()->setCurrentIndex(QModelIndex(), QItemSelectionModel::NoUpdate);
    EXPECT_FALSE(W->SelectedTasksInStates(AllJobStates));
    Select(W->ListViewUploadJobs, {1});
    ShowNode(1);
    EXPECT_FALSE(W->SelectedTasksInStates(AllJobStates));
    ShowNode(0);
    EXPECT_TRUE(W->SelectedTasksInStates(AllJobStates));
}

// ---- sizes -----------------------------------------------------------------------------------

TEST_F(MainWindowViewsTest, StatusPanelsKeepTheirWidthsAndPanelZeroTakesTheRest) {
    W->show();
    QApplication::processEvents();
    EXPECT_EQ(W->Splitter1->sizes().front(), 149); // the tree's designed width
    for (int width : {1014, 700, 1300, 420}) {
        SCOPED_TRACE(width);
        W->resize(width, 600);
        QApplication::processEvents();
        const int bar = W->StatusBar->width();
        EXPECT_EQ(W->StatusPanels[1]->width(), 170);
        EXPECT_EQ(W->StatusPanels[2]->width(), 180);
        EXPECT_EQ(W->StatusPanels[0]->width(), bar - 170 - 180);
        EXPECT_EQ(W->StatusPanels[0]->x(), 0);
        EXPECT_EQ(W->StatusPanels[1]->x(), bar - 350);
        EXPECT_EQ(W->StatusPanels[2]->x(), bar - 180);
        EXPECT_EQ(Qt::Alignment(W->StatusPanels[1]->alignment()) & Qt::AlignHorizontal_Mask, Qt::AlignRight);
        EXPECT_EQ(Qt::Alignment(W->StatusPanels[2]->alignment()) & Qt::AlignHorizontal_Mask,
                  Qt::AlignHCenter);
    }
    W->FScheduler.TimerTimer();
    EXPECT_EQ(W->StatusPanels[0]->text().toStdString(), W->FScheduler.Status().Text);
}

TEST_F(MainWindowViewsTest, FirstColumnFitsAlsoAfterAResizeWhileItsViewWasHidden) {
    W->show();
    W->resize(1014, 800);
    QApplication::processEvents();
    const auto fitted = [](QTableView* View) {
        const QHeaderView* h = View->horizontalHeader();
        int others = 0;
        for (int i = 1; i < h->count(); ++i)
            others += h->sectionSize(i);
        return View->width() - others - 25;
    };
    EXPECT_EQ(W->ListViewUploadJobs->horizontalHeader()->sectionSize(0), fitted(W->ListViewUploadJobs));

    W->resize(1300, 800); // the finished view is hidden meanwhile
    QApplication::processEvents();
    ShowNode(1);
    EXPECT_EQ(W->ListViewFinishedUploadJobs->width(), W->ListViews->width());
    const int column = W->ListViewFinishedUploadJobs->horizontalHeader()->sectionSize(0);
    EXPECT_EQ(column, fitted(W->ListViewFinishedUploadJobs));
    EXPECT_GT(column, 542);

    // The splitter changes the view's width too.
    W->Splitter1->setSizes({400, W->Splitter1->width() - 405});
    QApplication::processEvents();
    EXPECT_EQ(W->ListViewFinishedUploadJobs->horizontalHeader()->sectionSize(0),
              fitted(W->ListViewFinishedUploadJobs));

    // Narrower than the other columns: the first keeps a usable width.
    W->resize(300, 800);
    QApplication::processEvents();
    EXPECT_EQ(W->ListViewFinishedUploadJobs->horizontalHeader()->sectionSize(0),
              TMainWindow::MinFirstColumnWidth);
    ShowNode(0);
    EXPECT_EQ(W->ListViewUploadJobs->horizontalHeader()->sectionSize(0), TMainWindow::MinFirstColumnWidth);
    W->resize(1014, 800);
    QApplication::processEvents();
    EXPECT_EQ(W->ListViewUploadJobs->horizontalHeader()->sectionSize(0),
              std::max(TMainWindow::MinFirstColumnWidth, fitted(W->ListViewUploadJobs)));
}

} // namespace
} // namespace quillo
