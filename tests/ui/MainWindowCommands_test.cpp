// The queue's commands in the main window, offscreen: their enable rules against selections of
// tasks in every state, and what each does to the queue, the selection and the status bar.
// Message boxes, the open-file dialog and the properties dialog are answered by the test.
#include "core/app/MyUtils.h"
#include "core/app/Settings.h"
#include "core/l10n/ResMessages.h"
#include "core/net/IdStackWindowsEx.h"
#include "scheduler/FakeUploader.h"
#include "support/TestEnvironment.h"
#include "ui/MainWindow.h"
#include "ui/MessageBox.h"
#include "ui/UpTaskProps.h"

#include <QPlainTextEdit>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace quillo {
namespace {

struct TShownBox {
    QString Text, Caption;
    TMsgBoxButtons Buttons;
    TMsgBoxIcon Icon;
};

class MainWindowCommandsTest : public testing::Test {
protected:
    void SetUp() override {
        test::UseFreshHome();
        ::setenv("QUILLO_SITE", "127.0.0.1:9", 1);
        CommitSettings(TAppSettings{});
        UpdateSettings([](TAppSettings& s) {
            s.General.LastUploadHost = "HTTP Method";
            s.UploadManager.ParallelThreads = 2;
        });
        TIdStackWindowsEx::Instance().SendLimit = 0;
        test::EnsureFakeMethodRegistered();
        test::ResetFakeUploads();
        FFolder = test::MakeScratchDir(QStringLiteral("commands")).toStdString();
        SetMessageBoxHandler([this](QWidget*, const QString& Text, const QString& Caption,
                                    TMsgBoxButtons Buttons, TMsgBoxIcon Icon) {
            FBoxes.push_back({Text, Caption, Buttons, Icon});
            return FAnswer;
        });
        W = std::make_unique<TMainWindow>(TMainWindowStart{true});
    }
    void TearDown() override {
        if (W) {
            W->FScheduler.StopRunningTasks();
            W.reset();
        }
        SetTaskPropertiesHook(nullptr);
        SetOpenFilesDialog(nullptr);
        SetMessageBoxHandler(nullptr);
        test::ResetFakeUploads();
        test::RemoveFakeMethod();
        CommitSettings(TAppSettings{});
    }

    std::string File(const std::string& Name, std::size_t Size = 100) {
        const std::string path = FFolder + "/" + Name;
        std::ofstream(path, std::ios::binary) << std::string(Size, 'x');
        return path;
    }

    // A task of every state asked for, in order, named t0, t1, ... (real files of the scratch
    // folder). Uploading tasks really run: a fake upload that waits until it is stopped.
    void MakeTasks(const std::vector<TJobState>& States) {
        for (std::size_t i = 0; i < States.size(); ++i) {
            TUploadJobData t;
            t.FileName = File("t" + std::to_string(i));
            t.FileSize = 100;
            t.Method = test::FakeMethodName;
            t.State = States[i] == jsUploading ? jsDelayed : States[i];
            W->FQueue.AppendTask(std::move(t));
        }
        for (std::size_t i = 0; i < States.size(); ++i)
            if (States[i] == jsUploading)
                W->FScheduler.SetTaskState(i, jsUploading, true);
    }

    std::vector<std::string> Names() const {
        std::vector<std::string> out;
        for (std::size_t i = 0; i < W->FQueue.TaskCount(); ++i)
            out.push_back(ExtractFileName(W->FQueue.Task(i).FileName));
        return out;
    }
    std::vector<TJobState> States() const {
        std::vector<TJobState> out;
        for (std::size_t i = 0; i < W->FQueue.TaskCount(); ++i)
            out.push_back(W->FQueue.Task(i).State);
        return out;
    }

    void Select(QTableView* View, const std::vector<int>& Rows, bool SetCurrent = true) {
        QItemSelectionModel* s = View->selectionModel();
        s->clear();
        if (SetCurrent && !Rows.empty())
            s->setCurrentIndex(View->model()->index(Rows.front(), 0), QItemSelectionModel::NoUpdate);
        for (int row : Rows)
            s->select(View->model()->index(row, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
        // The rules follow the selection once the event loop has turned, as before any next input.
        QApplication::processEvents();
    }
    void SelectTasks(const std::vector<int>& Rows, bool SetCurrent = true) {
        Select(W->ListViewUploadJobs, Rows, SetCurrent);
    }
    std::vector<int> SelectedTaskRows() const { return TMainWindow::SelectedRows(W->ListViewUploadJobs); }

    void ShowNode(int Node) {
        W->TreeView->setCurrentItem(W->TreeView->topLevelItem(Node));
        QApplication::processEvents();
    }

    // The commands that are enabled, by short names, in a fixed order.
    std::string Enabled() {
        QApplication::processEvents();
        const std::pair<QAction*, const char*> commands[] = {
            {W->act_queuetasks, "Start"},         {W->act_pausetasks, "Stop"},
            {W->act_starttasks, "Now"},           {W->act_stopalltasks, "StopAll"},
            {W->act_deletetasks, "Del"},          {W->act_tasksproperties, "Props"},
            {W->act_renametask, "Ren"},           {W->act_scramblename, "Scr"},
            {W->act_restoreoriginalname, "Rest"}, {W->act_movetasksup, "Up"},
            {W->act_movetasksdown, "Down"},       {W->act_selectalltasks, "All"},
        };
        std::string out;
        for (auto [action, name] : commands)
            if (action->isEnabled())
                out += (out.empty() ? "" : " ") + std::string(name);
        return out;
    }

    void ShowActive() {
        W->show();
        W->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(W.get()));
    }

    std::size_t BoxesWith(int Message) const {
        std::size_t n = 0;
        for (const TShownBox& b : FBoxes)
            n += b.Text == ResQString(Message);
        return n;
    }

    // OK with "HTTP Method" once the dialog runs, as a person would; a dialog that refuses to
    // close is cancelled so that the test cannot hang on it.
    static void Confirm(TFrmUploadTaskProperties& D) {
        QTimer::singleShot(0, &D, [&D] {
            D.SelectMethod(QStringLiteral("HTTP Method"));
            D.B_OK->click();
            if (D.isVisible())
                D.reject();
        });
    }

    std::string FFolder;
    std::vector<TShownBox> FBoxes;
    TMsgBoxResult FAnswer = mrOK;
    std::unique_ptr<TMainWindow> W;
};

// ---- enable rules --------------------------------------------------------------------------------

TEST_F(MainWindowCommandsTest, EnableRuleOfEveryCommandAgainstSelectionsOfTasksInEachState) {
    // Rows: 0 Queued, 1 Delayed, 2 Uploading, 3 Finished, 4 Error.
    MakeTasks({jsQueued, jsDelayed, jsUploading, jsFinished, jsError});
    ASSERT_EQ(W->FQueue.RunningCount(), 1);
    struct Case {
        std::vector<int> Rows;
        bool Focus;
        const char* Enabled;
    } cases[] = {
        {{}, false, "StopAll"},
        {{0}, true, "Stop StopAll Del Props Ren Scr Rest Down"},
        {{1}, true, "Start StopAll Del Props Ren Scr Rest Up Down"},
        {{2}, true, "Stop StopAll Del Up Down"},
        {{3}, true, "StopAll Del Up Down"},
        {{4}, true, "Start StopAll Del Props Ren Scr Rest Up"},
        // Several: some selected task's state counts.
        {{1, 2}, true, "Start Stop StopAll Del Props Ren Scr Rest Up Down"},
        {{2, 3}, true, "Stop StopAll Del Up Down"},
        {{3, 4}, true, "Start StopAll Del Props Ren Scr Rest Up"},
        {{0, 1, 2, 3, 4}, true, "Start Stop StopAll Del Props Ren Scr Rest"},
        // Marks without a focus row offer nothing.
        {{1}, false, "StopAll"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "rows " << testing::PrintToString(c.Rows) << " focus " << c.Focus);
        SelectTasks(c.Rows, c.Focus);
        EXPECT_EQ(Enabled(), c.Enabled);
    }
    // Add... is always there.
    EXPECT_TRUE(W->act_newtasks->isEnabled());
}

TEST_F(MainWindowCommandsTest, StopAllFollowsTheRunningCountAndEachTickRecomputesTheRules) {
    MakeTasks({jsDelayed, jsDelayed});
    SelectTasks({0});
    EXPECT_EQ(Enabled(), "Start Del Props Ren Scr Rest Down");
    // A state change that no view announces (a task started by the scheduler): the next tick
    // brings the rules up to date.
    W->FScheduler.SetTaskState(0, jsUploading, false);
    W->FScheduler.TimerTimer();
    EXPECT_EQ(Enabled(), "Stop StopAll Del Down");
}

TEST_F(MainWindowCommandsTest, DeleteAndSelectAllBelongToTheListThatIsShownAndFocused) {
    ShowActive();
    MakeTasks({jsDelayed, jsDelayed});
    TFinishedUploadJobData f;
    f.FileName = "/data/done.bin";
    W->FQueue.AppendFinished(f);
    W->FQueue.AppendFinished(f);
    SelectTasks({0});
    W->ListViewUploadJobs->setFocus();
    EXPECT_EQ(Enabled(), "Start Del Props Ren Scr Rest Down All");

    // The finished list in front: no task command, and Up/Down by the finished selection.
    ShowNode(1);
    Select(W->ListViewFinishedUploadJobs, {1});
    W->ListViewFinishedUploadJobs->setFocus();
    EXPECT_EQ(Enabled(), "Up");
    ShowNode(0);
    W->ListViewUploadJobs->setFocus();
    EXPECT_EQ(Enabled(), "Start Del Props Ren Scr Rest Down All");
    // The focus elsewhere: Ctrl+A is not the task list's.
    W->TreeView->setFocus();
    EXPECT_EQ(Enabled(), "Start Del Props Ren Scr Rest Down");

    // Delete and Ctrl+A are shared with the finished list's commands: never both enabled, in
    // either view with the focus anywhere.
    const auto finishedAction = [&](const char* Name) {
        return W->findChild<QAction*>(QString::fromLatin1(Name));
    };
    QAction* deleteFinished = finishedAction("act_deleteselectedlinks");
    QAction* selectAllFinished = finishedAction("act_selectalllinks");
    ASSERT_NE(deleteFinished, nullptr);
    ASSERT_NE(selectAllFinished, nullptr);
    for (int node : {0, 1, 0})
        for (QWidget* focus :
             {static_cast<QWidget*>(W->ListViewUploadJobs),
              static_cast<QWidget*>(W->ListViewFinishedUploadJobs), static_cast<QWidget*>(W->TreeView)}) {
            ShowNode(node);
            Select(W->ListViewUploadJobs, {0});
            Select(W->ListViewFinishedUploadJobs, {0});
            focus->setFocus();
            QApplication::processEvents();
            SCOPED_TRACE(testing::Message()
                         << "node " << node << " focus " << focus->objectName().toStdString());
            EXPECT_FALSE(W->act_deletetasks->isEnabled() && deleteFinished->isEnabled());
            EXPECT_FALSE(W->act_selectalltasks->isEnabled() && selectAllFinished->isEnabled());
        }
    ShowNode(0);
    SelectTasks({0});
    W->ListViewUploadJobs->setFocus();

    // Ctrl+A selects every task.
    W->ListViewUploadJobs->setFocus();
    QApplication::processEvents();
    QTest::keyClick(W->ListViewUploadJobs, Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(SelectedTaskRows(), (std::vector<int>{0, 1}));
    // An empty list has nothing to select.
    W->FQueue.Clear();
    EXPECT_EQ(Enabled(), "");
}

// ---- start, stop, stop all -------------------------------------------------------------------

TEST_F(MainWindowCommandsTest, StartQueuesOnlyTheDelayedTaskAndStopDelaysBoth) {
    UpdateSettings([](TAppSettings& s) { s.UploadManager.ParallelThreads = 1; });
    MakeTasks({jsDelayed, jsUploading});
    SelectTasks({0, 1});
    EXPECT_EQ(Enabled(), "Start Stop StopAll Del Props Ren Scr Rest");
    W->act_queuetasks->trigger();
    EXPECT_EQ(States(), (std::vector<TJobState>{jsQueued, jsUploading}));
    W->act_pausetasks->trigger();
    EXPECT_EQ(States(), (std::vector<TJobState>{jsDelayed, jsDelayed}));
    EXPECT_EQ(W->FQueue.RunningCount(), 0);
}

TEST_F(MainWindowCommandsTest, StopOnASelectionWithAnErrorTaskDelaysItToo) {
    MakeTasks({jsQueued, jsError, jsError});
    SelectTasks({2});
    EXPECT_EQ(Enabled().find("Stop "), std::string::npos) << "Stop is not enabled by Error tasks alone";
    SelectTasks({0, 1});
    ASSERT_NE(Enabled().find("Stop "), std::string::npos);
    W->act_pausetasks->trigger();
    EXPECT_EQ(States(), (std::vector<TJobState>{jsDelayed, jsDelayed, jsError}));
}

TEST_F(MainWindowCommandsTest, StopAllAsksOnceAndLeavesTwoRunningAndThreeQueuedTasksDelayed) {
    MakeTasks({jsUploading, jsUploading, jsQueued, jsQueued, jsQueued});
    ASSERT_EQ(W->FQueue.RunningCount(), 2);
    ASSERT_NE(Enabled().find("StopAll"), std::string::npos);

    FAnswer = mrCancel;
    W->act_stopalltasks->trigger();
    EXPECT_EQ(W->FQueue.RunningCount(), 2) << "a cancelled question changes nothing";
    FAnswer = mrOK;
    W->act_stopalltasks->trigger();
    EXPECT_EQ(States(), std::vector<TJobState>(5, jsDelayed));
    EXPECT_EQ(W->FQueue.RunningCount(), 0);
    ASSERT_EQ(FBoxes.size(), 2u);
    EXPECT_EQ(BoxesWith(rmConfirmStopAll), 2u);
    EXPECT_EQ(FBoxes.back().Caption, ResQString(rmConfirmation));
    EXPECT_EQ(FBoxes.back().Buttons, mbOKCancel);
    EXPECT_EQ(FBoxes.back().Icon, miWarning);
    EXPECT_EQ(Enabled().find("StopAll"), std::string::npos);
}

TEST_F(MainWindowCommandsTest, StartNowStartsTasksBeyondTheParallelLimitButNoFinishedOne) {
    UpdateSettings([](TAppSettings& s) { s.UploadManager.ParallelThreads = 1; });
    MakeTasks({jsUploading, jsDelayed, jsFinished});
    SelectTasks({1, 2});
    // Hidden, so never enabled: only the operation itself can be asked.
    W->act_starttasksExecute();
    EXPECT_EQ(States(), (std::vector<TJobState>{jsUploading, jsUploading, jsFinished}));
    EXPECT_EQ(W->FQueue.RunningCount(), 2);
    EXPECT_FALSE(W->act_starttasks->isVisible());
}

// ---- delete ------------------------------------------------------------------------------------

TEST_F(MainWindowCommandsTest, DeleteAbortsARunningUploadAndUpdatesTheSummaryAtOnce) {
    MakeTasks({jsDelayed, jsUploading, jsDelayed});
    W->FQueue.UpdateQueueSummary();
    const QString before = W->StatusPanels[1]->text();
    SelectTasks({1});

    FAnswer = mrCancel;
    W->act_deletetasks->trigger();
    EXPECT_EQ(W->FQueue.TaskCount(), 3u);
    EXPECT_EQ(W->FQueue.RunningCount(), 1);

    FAnswer = mrOK;
    W->act_deletetasks->trigger();
    // No event loop turn in between: the summary is written by the command itself.
    EXPECT_EQ(Names(), (std::vector<std::string>{"t0", "t2"}));
    EXPECT_EQ(W->FQueue.RunningCount(), 0);
    EXPECT_NE(W->StatusPanels[1]->text(), before);
    EXPECT_EQ(W->StatusPanels[1]->text().toStdString(), W->FQueue.QueueSummary());
    EXPECT_TRUE(SelectedTaskRows().empty());
    ASSERT_EQ(BoxesWith(rmConfirmDeleteTasks), 2u);
    EXPECT_EQ(FBoxes.back().Caption, ResQString(rmConfirmation));
    EXPECT_EQ(FBoxes.back().Icon, miQuestion);
    EXPECT_EQ(FBoxes.back().Buttons, mbOKCancel);
    EXPECT_EQ(Enabled().find("Del"), std::string::npos);
}

// ---- moving ------------------------------------------------------------------------------------

TEST_F(MainWindowCommandsTest, MovingTheSelectionCarriesItsMarksAndFocus) {
    struct Case {
        bool Up;
        std::vector<int> Rows; // selected, 0-based; the focus on the first
        std::vector<std::string> Order;
        std::vector<int> Selected;
        int Focus;
        const char* UpDown; // enabled afterwards
    } cases[] = {
        // Items 2, 3 and 5 of six.
        {true, {1, 2, 4}, {"t1", "t2", "t0", "t4", "t3", "t5"}, {0, 1, 3}, 0, "Down"},
        {false, {1, 2, 4}, {"t0", "t3", "t1", "t2", "t5", "t4"}, {2, 3, 5}, 2, "Up"},
        {true, {5}, {"t0", "t1", "t2", "t3", "t5", "t4"}, {4}, 4, "Up Down"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << (c.Up ? "up " : "down ") << testing::PrintToString(c.Rows));
        W->FQueue.Clear();
        MakeTasks(std::vector<TJobState>(6, jsDelayed));
        SelectTasks(c.Rows);
        (c.Up ? W->act_movetasksup : W->act_movetasksdown)->trigger();
        EXPECT_EQ(Names(), c.Order);
        EXPECT_EQ(SelectedTaskRows(), c.Selected);
        EXPECT_EQ(W->ListViewUploadJobs->currentIndex().row(), c.Focus);
        QApplication::processEvents();
        std::string upDown;
        for (auto [a, n] : {std::pair{W->act_movetasksup, "Up"}, std::pair{W->act_movetasksdown, "Down"}})
            if (a->isEnabled())
                upDown += (upDown.empty() ? "" : " ") + std::string(n);
        EXPECT_EQ(upDown, c.UpDown);
    }
}

TEST_F(MainWindowCommandsTest, UpAndDownMoveTheFinishedListWhenItIsShown) {
    for (const char* name : {"a", "b", "c"}) {
        TFinishedUploadJobData f;
        f.FileName = std::string("/data/") + name;
        W->FQueue.AppendFinished(f);
    }
    ShowNode(1);
    Select(W->ListViewFinishedUploadJobs, {2});
    W->act_movetasksup->trigger();
    EXPECT_EQ(W->FQueue.Finished(1).FileName, "/data/c");
    EXPECT_EQ(TMainWindow::SelectedRows(W->ListViewFinishedUploadJobs), std::vector<int>{1});
}

// ---- names ---------------------------------------------------------------------------------------

TEST_F(MainWindowCommandsTest, RenamingInPlaceKeepsTheOldNameForBlanksAndRefusesNamesTheServiceCannotStore) {
    ShowActive();
    struct Case {
        const char* Typed;
        Qt::Key End;
        const char* Name; // UploadName afterwards
        bool Refused;
    } cases[] = {
        {"   ", Qt::Key_Return, "old.bin", false},
        {"  new name.bin ", Qt::Key_Return, "new name.bin", false},
        {"t0", Qt::Key_Return, "t0", false}, // the file's own name, stored as typed
        {"other.bin", Qt::Key_Escape, "old.bin", false},
        {"a/b.bin", Qt::Key_Return, "old.bin", true},
        {"..", Qt::Key_Return, "old.bin", true},
    };
    MakeTasks({jsDelayed});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Typed);
        W->FQueue.Task(0).UploadName = "old.bin";
        FBoxes.clear();
        SelectTasks({0});
        W->ListViewUploadJobs->setFocus();
        QTest::keyClick(W->ListViewUploadJobs, Qt::Key_F2);
        ASSERT_TRUE(W->EditingTaskCaption());
        QLineEdit* editor = W->FCaptionEditor;
        EXPECT_EQ(editor->text(), QStringLiteral("old.bin"));
        EXPECT_EQ(editor->selectedText(), QStringLiteral("old.bin"));
        EXPECT_EQ(Enabled().find("Del"), std::string::npos) << "Delete belongs to the editor";
        editor->clear();
        QTest::keyClicks(editor, QString::fromLatin1(c.Typed));
        QTest::keyClick(editor, c.End);
        EXPECT_FALSE(W->EditingTaskCaption());
        EXPECT_EQ(W->FQueue.Task(0).UploadName, c.Name);
        EXPECT_EQ(FBoxes.size(), c.Refused ? 1u : 0u);
        if (c.Refused) {
            EXPECT_EQ(FBoxes.front().Caption, ResQString(rmError));
        }
    }
    // An Uploading task cannot be renamed.
    W->FScheduler.SetTaskState(0, jsUploading, true);
    EXPECT_FALSE(W->ListViewUploadJobsEditing());
    W->act_renametask->trigger();
    EXPECT_FALSE(W->EditingTaskCaption());
}

TEST_F(MainWindowCommandsTest, TheCaptionEditorEndsWithoutChangeWhenItsTaskStartsUploading) {
    ShowActive();
    MakeTasks({jsDelayed, jsDelayed});
    SelectTasks({1});
    W->act_renametask->trigger();
    ASSERT_TRUE(W->EditingTaskCaption());
    W->FCaptionEditor->setText(QStringLiteral("typed.bin"));
    W->FScheduler.SetTaskState(1, jsUploading, true);
    QApplication::processEvents();
    EXPECT_FALSE(W->EditingTaskCaption());
    EXPECT_EQ(W->FQueue.Task(1).UploadName, "");
}

TEST_F(MainWindowCommandsTest, ScrambleDrawsANameForEachTaskAndRestoreShowsTheFileNamesAgain) {
    MakeTasks({jsDelayed, jsQueued, jsError, jsUploading});
    SelectTasks({0, 1, 2, 3});
    W->act_scramblename->trigger();
    std::set<std::string> names;
    for (std::size_t i = 0; i < 3; ++i) {
        const std::string& n = W->FQueue.Task(i).UploadName;
        EXPECT_FALSE(n.empty());
        names.insert(n);
        EXPECT_EQ(W->ListViewUploadJobs->model()->index(int(i), 0).data().toString().toStdString(), n);
    }
    EXPECT_EQ(names.size(), 3u) << "each task draws its own name";
    EXPECT_EQ(W->FQueue.Task(3).UploadName, "") << "an Uploading task keeps its name";

    W->act_restoreoriginalname->trigger();
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(W->FQueue.Task(i).UploadName, "");
        EXPECT_EQ(W->ListViewUploadJobs->model()->index(int(i), 0).data().toString().toStdString(),
                  "t" + std::to_string(i));
    }
}

// ---- properties, adding --------------------------------------------------------------------------

TEST_F(MainWindowCommandsTest, DoubleClickAndPropertiesOpenTheDialogExceptForAnUploadingTask) {
    MakeTasks({jsError, jsUploading});
    int dialogs = 0;
    SetTaskPropertiesHook([&](TFrmUploadTaskProperties& d) {
        ++dialogs;
        Confirm(d);
    });
    SelectTasks({0});
    W->ListViewUploadJobsDblClick();
    EXPECT_EQ(dialogs, 1);
    // The dialog proposes "Queue for upload" for a task in Error: OK queues it.
    EXPECT_EQ(W->FQueue.Task(0).State, jsQueued);
    SelectTasks({1});
    W->ListViewUploadJobsDblClick();
    W->act_tasksproperties->trigger();
    EXPECT_EQ(dialogs, 1);
}

TEST_F(MainWindowCommandsTest, AddAsksForFilesWithItsTitleAndFiltersThenForTheirProperties) {
    const std::string file = File("movie.avi", 2048);
    QString title, filter;
    SetOpenFilesDialog([&](QWidget*, const QString& Title, const QString& Filter) {
        title = Title;
        filter = Filter;
        return std::vector<std::string>{file};
    });
    QString caption;
    SetTaskPropertiesHook([&](TFrmUploadTaskProperties& d) {
        caption = d.windowTitle();
        Confirm(d);
    });
    W->act_newtasks->trigger();
    EXPECT_EQ(title, QStringLiteral("Add Files to Upload"));
    EXPECT_EQ(filter, QStringLiteral("All files (*.*)|*.*|Rar files|*.rar|Zip files|*.zip|DivX "
                                     "video|*.avi|MP3 files|*.mp3"));
    EXPECT_EQ(caption, ResQString(rmNewTaskPropsCaption));
    ASSERT_EQ(W->FQueue.TaskCount(), 1u);
    EXPECT_EQ(W->FQueue.Task(0).FileName, file);
    EXPECT_EQ(W->FQueue.Task(0).Method, "HTTP Method");
    EXPECT_EQ(W->FQueue.Task(0).State, jsQueued);
    EXPECT_TRUE(W->isVisible()) << "the window comes up after Add... (also from the tray)";

    // Cancelled in the file dialog: no properties dialog.
    caption.clear();
    SetOpenFilesDialog([](QWidget*, const QString&, const QString&) { return std::vector<std::string>{}; });
    W->act_newtasks->trigger();
    EXPECT_TRUE(caption.isEmpty());
}

TEST_F(MainWindowCommandsTest, TheRealFileDialogOffersSeveralFilesAndTheFilterCaptions) {
    QStringList filters;
    QFileDialog::FileMode mode = QFileDialog::AnyFile;
    QString title;
    QTimer::singleShot(0, [&] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* d = qobject_cast<QFileDialog*>(w); d && d->isVisible()) {
                filters = d->nameFilters();
                mode = d->fileMode();
                title = d->windowTitle();
                d->reject();
            }
    });
    W->act_newtasks->trigger();
    EXPECT_EQ(title, QStringLiteral("Add Files to Upload"));
    EXPECT_EQ(mode, QFileDialog::ExistingFiles);
    EXPECT_EQ(filters,
              (QStringList{QStringLiteral("All files (*.*) (*)"), QStringLiteral("Rar files (*.rar)"),
                           QStringLiteral("Zip files (*.zip)"), QStringLiteral("DivX video (*.avi)"),
                           QStringLiteral("MP3 files (*.mp3)")}));
    EXPECT_EQ(W->FQueue.TaskCount(), 0u);
}

TEST_F(MainWindowCommandsTest, DroppedFilesReachAddFilesOnTopFromTheDropWindowAndShowTheQueueAfterADrop) {
    const std::string a = File("a.bin");
    const std::string b = File("b.bin");
    std::vector<bool> onTop;
    SetTaskPropertiesHook([&](TFrmUploadTaskProperties& d) {
        onTop.push_back(d.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
        Confirm(d);
    });
    ShowNode(1);
    W->HandleMainWindowDrop({a});
    EXPECT_EQ(W->CurrentView(), W->ListViewUploadJobs);
    W->FDroppedFiles = {b};
    W->HandleDroppedFiles();
    EXPECT_EQ(onTop, (std::vector<bool>{false, true}));
    EXPECT_EQ(Names(), (std::vector<std::string>{"a.bin", "b.bin"}));
}

TEST_F(MainWindowCommandsTest, AFileThatVanishedIsReportedAndTheTasksBeforeItStay) {
    const std::string a = File("a.bin");
    const std::string gone = File("gone.bin");
    const std::string c = File("c.bin");
    SetTaskPropertiesHook([&](TFrmUploadTaskProperties& d) {
        std::remove(gone.c_str());
        Confirm(d);
    });
    EXPECT_TRUE(W->FAddFiles({a, gone, c}, false));
    EXPECT_EQ(Names(), (std::vector<std::string>{"a.bin"}));
    // The reason joins the error report; no box interrupts the user.
    EXPECT_TRUE(FBoxes.empty());
    EXPECT_FALSE(W->Memo1->isHidden());
    const QString report = W->Memo1->toPlainText();
    EXPECT_TRUE(report.contains(QStringLiteral("TMainWindow -> ")) && report.contains(QStringLiteral("gone.bin")))
        << report.toStdString();
}

// ---- places ------------------------------------------------------------------------------------

TEST_F(MainWindowCommandsTest, TheContextMenuHoldsItsCommandsInOrderAndEveryCommandIsOffered) {
    std::vector<std::string> names;
    for (const QAction* a : W->TaskListContextMenu->actions())
        names.push_back(a->isSeparator() ? "-" : a->objectName().toStdString());
    EXPECT_EQ(names, (std::vector<std::string>{"act_queuetasks", "act_pausetasks", "-", "act_starttasks",
                                               "act_stopalltasks", "-", "act_renametask", "act_scramblename",
                                               "act_restoreoriginalname", "-", "act_deletetasks",
                                               "act_tasksproperties"}));
    struct Shown {
        QAction* Action;
        const char* Caption;
        const char* Hint;
        QKeySequence Key;
    } shown[] = {
        {W->act_newtasks, "Add...", "Add files for upload", QKeySequence(Qt::Key_Insert)},
        {W->act_queuetasks, "Start", "Queue file(s) for upload", {}},
        {W->act_pausetasks, "Stop", "Pause upload", {}},
        {W->act_stopalltasks, "Stop All", "Stop all", {}},
        {W->act_deletetasks, "Delete", "Remove item", QKeySequence(Qt::Key_Delete)},
        {W->act_tasksproperties, "Properties...", "Change task properties",
         QKeySequence(Qt::CTRL | Qt::Key_Return)},
        {W->act_renametask, "Rename", "Rename", QKeySequence(Qt::Key_F2)},
        {W->act_scramblename, "Scramble name", "Scramble name", {}},
        {W->act_restoreoriginalname, "Restore original name", "Restore original name", {}},
        {W->act_movetasksup, "Up", "Move up", QKeySequence(Qt::ALT | Qt::Key_Up)},
        {W->act_movetasksdown, "Down", "Move down", QKeySequence(Qt::ALT | Qt::Key_Down)},
        {W->act_selectalltasks, "Select all", "Select all", QKeySequence(Qt::CTRL | Qt::Key_A)},
    };
    for (const Shown& s : shown) {
        SCOPED_TRACE(s.Action->objectName().toStdString());
        EXPECT_TRUE(s.Action->isVisible());
        EXPECT_EQ(s.Action->text().remove(QLatin1Char('&')), QString::fromLatin1(s.Caption));
        EXPECT_EQ(s.Action->toolTip(), QString::fromLatin1(s.Hint));
        EXPECT_EQ(s.Action->shortcut(), s.Key);
    }
    EXPECT_FALSE(W->act_starttasks->isVisible());
    EXPECT_FALSE(W->ToolBar->isHidden());
    EXPECT_TRUE(W->mi_Upload->menuAction()->isVisible());
}

} // namespace
} // namespace quillo
