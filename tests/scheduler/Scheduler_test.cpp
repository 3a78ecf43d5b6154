// The scheduler driven tick by tick with a scripted clock and fake upload threads.
#include "FakeUploader.h"

#include "core/app/DataFolder.h"
#include "core/app/MyUtils.h"
#include "core/app/Settings.h"
#include "core/queue/JobsFile.h"
#include "core/queue/Scheduler.h"
#include "support/TestEnvironment.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace quillo {
namespace {

using test::foFail;
using test::foSucceed;
using test::SetFakeOutcome;
using test::WaitUntil;

constexpr double Day = 46000.0; // some day; only the time of day matters to the window
double At(int h, int m, int s = 0) {
    return Day + (h * 3600.0 + m * 60.0 + s) / 86400.0;
}

class SchedulerTest : public ::testing::Test {
protected:
    void SetUp() override {
        FHome = test::UseFreshHome().toStdString();
        test::EnsureFakeMethodRegistered();
        test::ResetFakeUploads();
        CommitSettings(TAppSettings{});
        TSchedulerOptions options;
        options.OwnTimer = false;
        options.Clock.Now = [this] { return FNow; };
        TSchedulerHooks hooks;
        hooks.StatusChanged = [this](const TSchedulerStatus& s) { FStatuses.push_back(s); };
        hooks.BatchCompleted = [this] { ++FBatches; };
        hooks.NotifyUploadFinished = [this] { ++FNotifies; };
        hooks.ShutDown = [this](bool stealth) {
            FShutDowns.push_back(stealth);
            // The machine may go down now: the jobs file must already hold the queue as it is.
            QFile f(QString::fromStdString(JobsFileName()));
            EXPECT_TRUE(f.open(QIODevice::ReadOnly));
            EXPECT_EQ(f.readAll().toStdString(), JobsToBytes(FQueue))
                << "the jobs file lags behind the shutdown";
        };
        hooks.StealthMode = [this] { return FStealth; };
        hooks.JobsError = [this](const std::string&, const std::string& text) {
            FJobsErrors.push_back(text);
        };
        FScheduler = std::make_unique<TScheduler>(FQueue, options, hooks);
    }
    void TearDown() override {
        if (FScheduler)
            FScheduler->StopRunningTasks();
        FScheduler.reset();
        CommitSettings(TAppSettings{});
    }

    std::string MakeFile(const std::string& name, const std::string& content = "data") {
        const std::string path = FHome + "/" + name;
        QFile f(QString::fromStdString(path));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(content.data(), static_cast<qint64>(content.size()));
        return path;
    }
    TJobId AddTask(const std::string& name, TJobState state,
                   const std::string& method = test::FakeMethodName) {
        const std::size_t index = FQueue.AddTask(MakeFile(name), "", "", method);
        FQueue.Task(index).State = state;
        return FQueue.Task(index).Id();
    }
    TUploadJobData& Task(TJobId id) {
        TUploadJobData* t = FQueue.FindTask(id);
        EXPECT_NE(t, nullptr);
        return *t;
    }
    TJobState StateOf(TJobId id) { return Task(id).State; }
    int Uploading() const { return FQueue.CountTasksIn({jsUploading}); }
    // Lets the task's upload end and everything that follows at once happen: its thread goes, a
    // success is saved, confirmed and moved into the finished list.
    void Finish(TJobId id, test::TFakeOutcome outcome = foSucceed) {
        SetFakeOutcome(Task(id).FileName, outcome);
        ASSERT_TRUE(WaitUntil([&] {
            const TUploadJobData* t = FQueue.FindTask(id);
            return !t || t->State != jsUploading;
        }));
        Settle();
    }
    // Runs what the last events left posted and waits for the jobs file to be written.
    void Settle() {
        QCoreApplication::processEvents();
        FScheduler->FlushJobs();
        QCoreApplication::processEvents();
    }
    // The jobs file as the last save left it.
    void ReadBack(TUploadQueue& into) {
        FScheduler->FlushJobs();
        ASSERT_TRUE(LoadJobs(into, JobsFileName(), {}));
    }
    void Tick() {
        FScheduler->TimerTimer();
        ASSERT_LE(FQueue.RunningCount(), std::max(AppSettings.UploadManager.ParallelThreads, 0));
    }
    std::vector<std::string> FinishedNames() const {
        std::vector<std::string> names;
        for (std::size_t i = 0; i < FQueue.FinishedCount(); ++i)
            names.push_back(ExtractFileName(FQueue.Finished(i).FileName));
        return names;
    }

    std::string FHome;
    double FNow = At(12, 0);
    bool FStealth = false;
    int FBatches = 0;
    int FNotifies = 0;
    std::vector<bool> FShutDowns;
    std::vector<TSchedulerStatus> FStatuses;
    std::vector<std::string> FJobsErrors;
    TUploadQueue FQueue;
    std::unique_ptr<TScheduler> FScheduler;
};

TEST_F(SchedulerTest, TwoSlotsFiveTasksStartTopmostQueuedFirst) {
    UpdateSettings([](TAppSettings& s) { s.UploadManager.ParallelThreads = 2; });
    std::vector<TJobId> t;
    for (int i = 1; i <= 5; ++i)
        t.push_back(AddTask("f" + std::to_string(i), jsQueued));

    Tick();
    EXPECT_EQ(StateOf(t[0]), jsUploading);
    EXPECT_EQ(StateOf(t[1]), jsUploading);
    EXPECT_EQ(Uploading(), 2);
    EXPECT_EQ(FQueue.RunningCount(), 2);
    EXPECT_EQ(Task(t[0]).StatusText.empty(), false);
    Tick();
    EXPECT_EQ(Uploading(), 2);

    // Task 4 is held back: when a slot frees, 3 comes first, then 5 (4 is passed over). The
    // timer is off here, so the slots are filled again by the ticks alone.
    FScheduler->SetTaskState(*FQueue.IndexOfTask(t[3]), jsDelayed, true);
    Finish(t[1]);
    EXPECT_EQ(FQueue.FindTask(t[1]), nullptr) << "a success moves on once it is saved";
    EXPECT_EQ(FQueue.RunningCount(), 1) << "the ended thread is gone at once";
    EXPECT_EQ(StateOf(t[2]), jsQueued);
    Tick();
    EXPECT_EQ(StateOf(t[2]), jsUploading);
    EXPECT_EQ(StateOf(t[4]), jsQueued);
    Finish(t[0]);
    Tick();
    EXPECT_EQ(StateOf(t[4]), jsUploading);
    EXPECT_EQ(StateOf(t[3]), jsDelayed);
    EXPECT_EQ(FinishedNames(), (std::vector<std::string>{"f2", "f1"}));
    EXPECT_EQ(FStatuses.back().Text, "Uploading...");
    EXPECT_EQ(FStatuses.back().Speed.rfind("Upload speed: ", 0), 0u) << FStatuses.back().Speed;
}

TEST_F(SchedulerTest, NoSlotsStartsNothingButStartNowDoes) {
    for (int limit : {0, -3}) {
        UpdateSettings([&](TAppSettings& s) { s.UploadManager.ParallelThreads = limit; });
        const TJobId a = AddTask("a" + std::to_string(limit), jsQueued);
        const TJobId b = AddTask("b" + std::to_string(limit), jsQueued);
        Tick();
        Tick();
        EXPECT_EQ(StateOf(a), jsQueued);
        EXPECT_EQ(StateOf(b), jsQueued);
        EXPECT_EQ(FStatuses.back().Text, "Idle.");
        FScheduler->ChangeTaskStates(AllJobStates, jsUploading, {b});
        EXPECT_EQ(StateOf(a), jsQueued);
        EXPECT_EQ(StateOf(b), jsUploading);
        FScheduler->StopRunningTasks();
        EXPECT_EQ(StateOf(b), jsDelayed);
        EXPECT_EQ(FQueue.RunningCount(), 0);
    }
}

TEST_F(SchedulerTest, WindowAcrossMidnightOpensAtStartAndAbortsAtStop) {
    UpdateSettings([](TAppSettings& s) {
        s.UploadManager.ParallelThreads = 2;
        s.Scheduler.Enabled = true;
        s.Scheduler.StartTime = 23.0 / 24;
        s.Scheduler.EndTime = 1.0 / 24;
        s.Scheduler.AbortNonFinished = true;
    });
    const TJobId a = AddTask("a", jsQueued);
    const TJobId b = AddTask("b", jsQueued);
    FNow = At(22, 59, 59);
    Tick();
    EXPECT_EQ(Uploading(), 0);
    EXPECT_EQ(FStatuses.back().Text, "Idle. Scheduled to start at 23:00:00 and to stop at 1:00:00.");
    FNow = At(23, 0);
    Tick();
    EXPECT_TRUE(FScheduler->FInsideSchedulerWindow);
    EXPECT_EQ(StateOf(a), jsUploading);
    EXPECT_EQ(StateOf(b), jsUploading);
    EXPECT_EQ(FStatuses.back().Text, "Uploading... Scheduled to stop at 1:00:00.");
    FNow = At(0, 59, 59) + 1;
    Tick();
    EXPECT_EQ(Uploading(), 2);
    FNow = At(1, 0) + 1;
    Tick();
    EXPECT_FALSE(FScheduler->FInsideSchedulerWindow);
    EXPECT_EQ(StateOf(a), jsDelayed);
    EXPECT_EQ(StateOf(b), jsDelayed);
    EXPECT_EQ(FQueue.RunningCount(), 0);
    // The stop was written to the jobs file.
    TUploadQueue reread;
    ReadBack(reread);
    EXPECT_EQ(reread.Task(0).State, jsDelayed);
    // The next night does not resume them.
    FNow = At(23, 0) + 1;
    Tick();
    EXPECT_EQ(Uploading(), 0);
}

TEST_F(SchedulerTest, WindowWithoutAbortLetsRunningTasksFinish) {
    UpdateSettings([](TAppSettings& s) {
        s.Scheduler.Enabled = true;
        s.Scheduler.StartTime = 23.0 / 24;
        s.Scheduler.EndTime = 1.0 / 24;
        s.Scheduler.AbortNonFinished = false;
        s.UploadManager.ParallelThreads = 1;
    });
    const TJobId a = AddTask("a", jsQueued);
    const TJobId b = AddTask("b", jsQueued);
    FNow = At(23, 30);
    Tick();
    FNow = At(1, 30) + 1;
    Tick();
    EXPECT_EQ(StateOf(a), jsUploading);
    Finish(a);
    Tick();
    EXPECT_EQ(StateOf(b), jsQueued) << "nothing starts outside the window";
}

TEST_F(SchedulerTest, EqualStartAndStopNeverOpens) {
    UpdateSettings([](TAppSettings& s) {
        s.Scheduler.Enabled = true;
        s.Scheduler.StartTime = 8.0 / 24;
        s.Scheduler.EndTime = 8.0 / 24;
    });
    const TJobId a = AddTask("a", jsQueued);
    for (double t : {At(0, 0), At(7, 59, 59), At(8, 0), At(8, 0, 1), At(12, 0), At(23, 59, 59)}) {
        FNow = t;
        Tick();
        EXPECT_FALSE(FScheduler->FInsideSchedulerWindow) << FormatTimeOfDay(t);
        EXPECT_EQ(StateOf(a), jsQueued) << FormatTimeOfDay(t);
    }
}

// Neither queue order nor its reverse: a task reaches the finished list when it finishes, even
// when several finish between two ticks.
TEST_F(SchedulerTest, TasksReachTheFinishedListInTheOrderTheyFinished) {
    UpdateSettings([](TAppSettings& s) { s.UploadManager.ParallelThreads = 4; });
    const TJobId a = AddTask("a", jsQueued);
    const TJobId b = AddTask("b", jsQueued);
    const TJobId c = AddTask("c", jsQueued);
    const TJobId d = AddTask("d", jsQueued);
    Tick();
    Finish(a);
    Finish(d);
    Finish(b);
    EXPECT_EQ(FinishedNames(), (std::vector<std::string>{"a", "d", "b"}));
    Tick();
    EXPECT_EQ(FinishedNames(), (std::vector<std::string>{"a", "d", "b"}));
    // The result lines without the signature became the finished record's Result.
    const TFinishedUploadJobData& done = FQueue.Finished(1);
    EXPECT_EQ(GetValueOfKey("download-link", done.Result), "http://127.0.0.1/dl/d");
    EXPECT_EQ(GetValueOfKey("signature", done.Result), "");
    EXPECT_EQ(done.Result.substr(done.Result.size() - 2), "\r\n");
    EXPECT_DOUBLE_EQ(done.EndTime, FNow);
    EXPECT_EQ(StateOf(c), jsUploading);
    EXPECT_EQ(FQueue.RunningCount(), 1);
    TUploadQueue reread;
    ReadBack(reread);
    ASSERT_EQ(reread.FinishedCount(), 3u);
    EXPECT_EQ(reread.Finished(1).FileName, FQueue.Finished(1).FileName);
    EXPECT_EQ(reread.TaskCount(), 1u);
}

TEST_F(SchedulerTest, CompletionActionsRunOncePerBatch) {
    struct TCase {
        bool Stealth, Notify, ShutDown;
        int Notifies;
        std::vector<bool> ShutDowns;
    };
    const TCase cases[] = {
        {false, true, false, 1, {}},
        {true, true, false, 0, {}},
        {false, false, true, 0, {false}},
        {true, true, true, 0, {true}},
    };
    int batch = 0;
    for (const TCase& c : cases) {
        SCOPED_TRACE(batch);
        FStealth = c.Stealth;
        FNotifies = 0;
        FShutDowns.clear();
        FBatches = 0;
        UpdateSettings([&](TAppSettings& s) {
            s.General.NotifyUploadFinished = c.Notify;
            s.General.ShutDownWhenFinished = c.ShutDown;
        });
        const TJobId a = AddTask("a" + std::to_string(batch), jsQueued);
        const TJobId b = AddTask("b" + std::to_string(batch), jsQueued);
        const TJobId held = AddTask("held" + std::to_string(batch), jsDelayed);
        ++batch;
        Tick();
        Finish(a);
        Tick();
        EXPECT_EQ(FBatches, 0) << "one task still runs";
        Finish(b, foFail);
        Tick();
        Tick();
        Tick();
        EXPECT_EQ(FBatches, 1);
        EXPECT_EQ(FNotifies, c.Notifies);
        EXPECT_EQ(FShutDowns, c.ShutDowns);
        EXPECT_EQ(StateOf(b), jsError);
        EXPECT_EQ(Task(b).StatusText, "The fake server refused the file");
        EXPECT_EQ(StateOf(held), jsDelayed) << "a delayed task does not hold completion back";
        if (c.ShutDown) {
            EXPECT_NE(FStatuses.back().Text.find("Computer will be shut down when finished."),
                      std::string::npos);
        }
    }
}

TEST_F(SchedulerTest, FailedLaunchLeavesErrorAndStartsTheNextInTheSameTick) {
    UpdateSettings([](TAppSettings& s) { s.UploadManager.ParallelThreads = 1; });
    // A path that exists but cannot be opened as a file, and a method nobody registered.
    const std::size_t folderIndex = FQueue.AddTask(MakeFile("x"), "", "", test::FakeMethodName);
    const TJobId folder = FQueue.Task(folderIndex).Id();
    Task(folder).FileName = FHome + "/a-folder";
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(Task(folder).FileName)));
    Task(folder).State = jsQueued;
    const TJobId unknown = AddTask("u", jsQueued, "http method");
    const TJobId good = AddTask("g", jsQueued);
    Tick();
    EXPECT_EQ(StateOf(folder), jsError);
    EXPECT_NE(Task(folder).StatusText.find("a-folder"), std::string::npos) << Task(folder).StatusText;
    EXPECT_EQ(Task(folder).Uploader, nullptr);
    EXPECT_EQ(StateOf(unknown), jsError);
    EXPECT_EQ(Task(unknown).StatusText, "There is no upload method named \"http method\"");
    EXPECT_EQ(StateOf(good), jsUploading);
    EXPECT_EQ(FQueue.RunningCount(), 1);
}

TEST_F(SchedulerTest, StoppedTaskKeepsAbortInfoAndDelayedState) {
    const TJobId a = AddTask("a", jsQueued);
    Task(a).ResumeInfo = "upserver=127.0.0.1\r\n";
    Tick();
    ASSERT_EQ(StateOf(a), jsUploading);
    ASSERT_TRUE(WaitUntil([&] { return Task(a).StatusText == "Uploading file..."; }));
    FScheduler->ChangeTaskStates({jsQueued, jsUploading, jsError}, jsDelayed, {a});
    EXPECT_EQ(StateOf(a), jsDelayed);
    EXPECT_EQ(Task(a).StatusText, "Aborted by user");
    EXPECT_EQ(Task(a).ResumeInfo, "upserver=127.0.0.1\r\n");
    EXPECT_EQ(FQueue.RunningCount(), 0);
    EXPECT_TRUE(FScheduler->TimerEnabled()) << "every change of states switches the timer on";
}

TEST_F(SchedulerTest, SelectedChangeWithEmptySelectionWritesNothing) {
    AddTask("a", jsDelayed);
    FScheduler->ChangeTaskStates({jsDelayed}, jsQueued, std::vector<TJobId>{});
    FScheduler->FlushJobs();
    EXPECT_FALSE(QFile::exists(QString::fromStdString(JobsFileName())));
    EXPECT_FALSE(FScheduler->TimerEnabled());
    FScheduler->ChangeTaskStates({jsDelayed}, jsQueued);
    FScheduler->FlushJobs();
    EXPECT_TRUE(QFile::exists(QString::fromStdString(JobsFileName())));
    EXPECT_EQ(FQueue.Task(0).State, jsQueued);
}

// Destroying a thread serves the event loop: a command and a tick that run meanwhile must not
// make the outer walk skip, repeat or lose a task.
TEST_F(SchedulerTest, WalksSurviveNestedCommandsWhileThreadsEnd) {
    UpdateSettings([](TAppSettings& s) { s.UploadManager.ParallelThreads = 4; });
    const TJobId a = AddTask("a", jsQueued);
    const TJobId b = AddTask("b", jsQueued);
    const TJobId c = AddTask("c", jsQueued);
    const TJobId d = AddTask("d", jsQueued);
    Tick();
    ASSERT_EQ(FQueue.RunningCount(), 4);
    Finish(d);
    test::SetFakeAbortDelayMs(150);
    int nested = 0;
    QTimer::singleShot(20, [&] {
        ++nested;
        FQueue.DeleteTaskById(b);
        FScheduler->TimerTimer();
        FScheduler->ChangeTaskStates({jsUploading}, jsQueued, {c});
    });
    FScheduler->StopRunningTasks();
    EXPECT_EQ(nested, 1);
    EXPECT_EQ(FQueue.FindTask(b), nullptr);
    EXPECT_EQ(StateOf(a), jsDelayed);
    // c was re-queued by the nested command, so the outer walk left it alone.
    EXPECT_EQ(StateOf(c), jsQueued);
    EXPECT_EQ(FinishedNames(), (std::vector<std::string>{"d"})) << "d was collected once";
    int withThread = 0;
    for (std::size_t i = 0; i < FQueue.TaskCount(); ++i)
        withThread += FQueue.Task(i).Uploader ? 1 : 0;
    EXPECT_EQ(FQueue.RunningCount(), withThread);
    Tick();
    EXPECT_EQ(StateOf(c), jsUploading);
}

// The front end hears of a success only when the jobs file already holds it as finished: a
// crash right after "finished" is shown can no longer lose the upload's links.
TEST_F(SchedulerTest, ASuccessReachesTheFrontEndOnlyOnceTheJobsFileHoldsIt) {
    const TJobId a = AddTask("a", jsQueued);
    std::vector<TInternetThreadEvent> events;
    std::vector<std::string> onDisk;
    FScheduler->Hooks().ThreadEvent = [&](TJobId id, TInternetThreadEvent e) {
        EXPECT_EQ(id, a);
        events.push_back(e);
        if (e != ieFinished)
            return;
        ASSERT_NE(FQueue.FindTask(id), nullptr) << "still in the queue when the front end hears of it";
        EXPECT_EQ(Task(id).State, jsFinished);
        EXPECT_TRUE(Task(id).ResumeInfo.empty());
        TUploadQueue disk;
        ASSERT_TRUE(LoadJobs(disk, JobsFileName(), {}));
        for (std::size_t i = 0; i < disk.FinishedCount(); ++i)
            onDisk.push_back(ExtractFileName(disk.Finished(i).FileName));
        EXPECT_EQ(disk.TaskCount(), 0u);
    };
    Tick();
    Finish(a);
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.front(), ieStarted);
    EXPECT_EQ(events.back(), ieFinished);
    EXPECT_EQ(std::count(events.begin(), events.end(), ieFinished), 1);
    EXPECT_EQ(onDisk, (std::vector<std::string>{"a"}));
    EXPECT_EQ(FinishedNames(), (std::vector<std::string>{"a"}));
}

} // namespace
} // namespace quillo

namespace quillo {
namespace {

TEST_F(SchedulerTest, StartNowOnAnEndedTaskReplacesItsOldThread) {
    const TJobId a = AddTask("a", jsQueued);
    Tick();
    Finish(a, foFail);
    ASSERT_EQ(StateOf(a), jsError);
    test::SetFakeOutcome(Task(a).FileName, test::foPending);
    FScheduler->ChangeTaskStates(AllJobStates, jsUploading, {a});
    EXPECT_EQ(StateOf(a), jsUploading);
    EXPECT_EQ(FQueue.RunningCount(), 1);
    Finish(a);
    Tick();
    EXPECT_EQ(FinishedNames(), (std::vector<std::string>{"a"}));
    EXPECT_EQ(FQueue.RunningCount(), 0);
}

TEST_F(SchedulerTest, DestroyingTheSchedulerEndsRunningThreadsFirst) {
    const TJobId a = AddTask("a", jsQueued);
    Tick();
    ASSERT_EQ(StateOf(a), jsUploading);
    test::SetFakeAbortDelayMs(50);
    FScheduler.reset();
    EXPECT_EQ(FQueue.RunningCount(), 0);
    EXPECT_EQ(StateOf(a), jsError) << "the abort event was handled while the scheduler existed";
    EXPECT_EQ(Task(a).StatusText, "Aborted by user");
}

} // namespace
} // namespace quillo

namespace quillo {
namespace {

TEST_F(SchedulerTest, IdleStatusTexts) {
    struct TCase {
        bool Scheduler, ShutDown, Hibernate;
        const char* Text;
    };
    const TCase cases[] = {
        {false, false, false, "Idle."},
        {true, false, false, "Idle. Scheduled to start at 22:30:00 and to stop at 6:15:00."},
        {false, true, false, "Idle. Computer will be shut down when finished."},
        {false, true, true, "Idle. Computer will be hibernated when finished."},
        {true, true, true,
         "Idle. Scheduled to start at 22:30:00 and to stop at 6:15:00. Computer will be hibernated when "
         "finished."},
        {false, false, true, "Idle."},
    };
    for (const TCase& c : cases) {
        UpdateSettings([&](TAppSettings& s) {
            s.Scheduler.Enabled = c.Scheduler;
            s.Scheduler.StartTime = 22.5 / 24;
            s.Scheduler.EndTime = 6.25 / 24;
            s.General.ShutDownWhenFinished = c.ShutDown;
            s.General.Hibernate = c.Hibernate;
        });
        FNow = At(12, 0);
        Tick();
        EXPECT_EQ(FStatuses.back().Text, c.Text);
        EXPECT_EQ(FStatuses.back().Speed, TScheduler::IdleSpeedNotice());
    }
}

} // namespace
} // namespace quillo

namespace quillo {
namespace {

// While the scheduler runs, a task that ends on its own gives its slot to the next Queued task
// at once, without waiting for a tick; with the scheduler held back in any way it does not.
TEST_F(SchedulerTest, AnEndedTaskHandsItsSlotToTheNextQueuedTaskAtOnce) {
    UpdateSettings([](TAppSettings& s) { s.UploadManager.ParallelThreads = 2; });
    FScheduler->SetTimerEnabled(true);
    std::vector<TJobId> t;
    for (int i = 0; i < 5; ++i)
        t.push_back(AddTask("h" + std::to_string(i), jsQueued));
    FScheduler->SetTaskState(*FQueue.IndexOfTask(t[2]), jsDelayed, false);
    Tick();
    ASSERT_EQ(Uploading(), 2);
    Finish(t[0]);
    EXPECT_EQ(StateOf(t[3]), jsUploading) << "the topmost Queued task, passing over the Delayed one";
    EXPECT_EQ(FQueue.RunningCount(), 2);
    Finish(t[1], foFail);
    EXPECT_EQ(StateOf(t[1]), jsError);
    EXPECT_EQ(StateOf(t[4]), jsUploading) << "a failure frees its slot too";
    EXPECT_EQ(FQueue.RunningCount(), 2);
    // The file written after the launches holds them (an Uploading task reads back as one that
    // the program left running).
    TUploadQueue disk;
    ReadBack(disk);
    ASSERT_EQ(disk.TaskCount(), 4u);
    for (std::size_t i : {2u, 3u})
        EXPECT_EQ(disk.Task(i).StatusText, "Upload failed because the program was improperly terminated");
    EXPECT_EQ(disk.Task(1).State, jsDelayed);
}

TEST_F(SchedulerTest, NoSlotIsHandedOverWhileTheSchedulerIsHeldBack) {
    struct TCase {
        const char* Name;
        bool Timer, Exit, Window;
    };
    const TCase cases[] = {
        {"timer off", false, false, false},
        {"Exit chosen", true, true, false},
        {"outside the scheduler window", true, false, true},
    };
    int n = 0;
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        UpdateSettings([&](TAppSettings& s) {
            s.UploadManager.ParallelThreads = 1;
            s.Scheduler.Enabled = false;
        });
        FScheduler->SetTimerEnabled(true);
        FQueue.FExitRequested = false;
        const TJobId a = AddTask("x" + std::to_string(n), jsQueued);
        const TJobId b = AddTask("y" + std::to_string(n++), jsQueued);
        Tick();
        ASSERT_EQ(StateOf(a), jsUploading);
        FScheduler->SetTimerEnabled(c.Timer);
        FQueue.FExitRequested = c.Exit;
        UpdateSettings([&](TAppSettings& s) {
            s.Scheduler.Enabled = c.Window;
            s.Scheduler.StartTime = s.Scheduler.EndTime = 0.25; // never open
        });
        Finish(a);
        EXPECT_EQ(FQueue.RunningCount(), 0);
        EXPECT_EQ(StateOf(b), jsQueued);
        FScheduler->SetTaskState(*FQueue.IndexOfTask(b), jsDelayed, false);
    }
    FQueue.FExitRequested = false;
}

// Saves asked for while one is being written are neither lost nor written out of order: the
// write under way ends, then one write of the newest lists follows.
TEST_F(SchedulerTest, SavesDuringARunningSaveAreCoalescedIntoOneThatFollows) {
    std::mutex lock;
    std::condition_variable cv;
    bool release = false;
    std::vector<std::string> written; // jobs-file bytes seen by each write as it begins
    TSchedulerOptions options;
    options.OwnTimer = false;
    options.JobsFile = FHome + "/held.jobs";
    options.BeforeWrite = [&](const std::string& file) {
        std::unique_lock<std::mutex> l(lock);
        written.push_back(file);
        cv.notify_all();
        cv.wait(l, [&] { return release; });
    };
    TScheduler scheduler(FQueue, options);
    AddTask("first", jsDelayed);
    scheduler.SaveJobs();
    {
        std::unique_lock<std::mutex> l(lock);
        ASSERT_TRUE(cv.wait_for(l, std::chrono::seconds(10), [&] { return written.size() == 1; }));
    }
    // The first write is held open; three more saves arrive, each with more in the queue.
    for (const char* name : {"second", "third", "fourth"}) {
        AddTask(name, jsDelayed);
        scheduler.SaveJobs();
    }
    const std::string newest = JobsToBytes(FQueue);
    {
        std::lock_guard<std::mutex> l(lock);
        release = true;
    }
    cv.notify_all();
    EXPECT_TRUE(scheduler.FlushJobs());
    EXPECT_EQ(written.size(), 2u) << "the three waiting saves became one";
    QFile f(QString::fromStdString(options.JobsFile));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll().toStdString(), newest);
}

// A write that fails in the background still reaches the user, on the user-interface thread,
// and FlushJobs says so; the next save that succeeds clears it.
TEST_F(SchedulerTest, AFailedBackgroundSaveIsReportedOnTheUserInterfaceThread) {
    const std::string blocker = FHome + "/plain-file";
    MakeFile("plain-file");
    std::vector<bool> onUiThread;
    TSchedulerOptions options;
    options.OwnTimer = false;
    options.JobsFile = blocker + "/quillo.jobs"; // its folder cannot be made: a file is in the way
    TSchedulerHooks hooks;
    hooks.JobsError = [&](const std::string& caption, const std::string& text) {
        EXPECT_EQ(caption, "Error");
        EXPECT_NE(text.find("Cannot save the jobs file \"" + options.JobsFile + "\""), std::string::npos)
            << text;
        onUiThread.push_back(QThread::currentThread() == QCoreApplication::instance()->thread());
    };
    TScheduler scheduler(FQueue, options, hooks);
    AddTask("a", jsDelayed);
    scheduler.SaveJobs();
    ASSERT_TRUE(WaitUntil([&] { return !onUiThread.empty(); })) << "reported through the event loop";
    EXPECT_EQ(onUiThread, (std::vector<bool>{true}));
    scheduler.SaveJobs();
    EXPECT_FALSE(scheduler.FlushJobs());
    EXPECT_EQ(onUiThread.size(), 2u);
    ASSERT_TRUE(QFile::remove(QString::fromStdString(blocker)));
    scheduler.SaveJobs();
    EXPECT_TRUE(scheduler.FlushJobs());
    EXPECT_EQ(onUiThread.size(), 2u);
}

} // namespace
} // namespace quillo
