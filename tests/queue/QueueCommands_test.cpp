#include "core/queue/QueueCommands.h"

#include "QueueTestSupport.h"
#include "core/app/MyUtils.h"
#include "core/queue/JobsFile.h"

#include <gtest/gtest.h>

#include <set>

using namespace quillo;

namespace {

// Tasks named "1" .. "n" (their FileName), in the given states (Delayed for the rest).
void Fill(TUploadQueue& queue, std::size_t n, std::vector<TJobState> states = {}) {
    for (std::size_t i = 0; i < n; ++i) {
        TUploadJobData t;
        t.FileName = "/files/" + std::to_string(i + 1);
        t.State = i < states.size() ? states[i] : jsDelayed;
        t.FileSize = 1048576;
        queue.AppendTask(std::move(t));
    }
}

std::string Order(const TUploadQueue& queue) {
    std::string s;
    for (std::size_t i = 0; i < queue.TaskCount(); ++i)
        s += (s.empty() ? "" : ",") + ExtractFileName(queue.Task(i).FileName);
    return s;
}

std::string FinishedOrder(const TUploadQueue& queue) {
    std::string s;
    for (std::size_t i = 0; i < queue.FinishedCount(); ++i)
        s += (s.empty() ? "" : ",") + queue.Finished(i).FileName;
    return s;
}

// A stand-in for an upload thread that counts its destruction (the queue sees only the handle).
int gDestroyed = 0;
TUploaderHandle FakeThread() {
    return TUploaderHandle(reinterpret_cast<TUploader*>(new int(0)), TUploaderDeleter{[](TUploader* u) {
                               delete reinterpret_cast<int*>(u);
                               ++gDestroyed;
                           }});
}

TEST(MoveSelection, RunsOfSelectedRowsMoveOnePlaceWithSelectionAndFocus) {
    const struct {
        bool Up;
        std::vector<std::size_t> Rows; // 0-based
        std::size_t Focus;
        std::string Order;
        std::vector<std::size_t> RowsAfter;
        std::size_t FocusAfter;
    } cases[] = {
        {true, {1, 2, 4}, 4, "2,3,1,5,4,6", {0, 1, 3}, 3},
        {false, {1, 3, 4}, 1, "1,3,2,6,4,5", {2, 4, 5}, 2},
        {true, {0, 2}, 2, "1,3,2,4,5,6", {0, 1}, 1}, // a run at the top stays, the rest moves
        {false, {5}, 5, "1,2,3,4,5,6", {5}, 5},
        {true, {3}, 2, "1,2,4,3,5,6", {2}, 3}, // the focus stays with its unselected row
    };
    for (const auto& c : cases) {
        TUploadQueue queue;
        Fill(queue, 6);
        TListSelection s = TListSelection::OfRows(6, c.Rows, c.Focus);
        if (c.Up)
            MoveSelectionUp(queue, qlTasks, s);
        else
            MoveSelectionDown(queue, qlTasks, s);
        EXPECT_EQ(Order(queue), c.Order);
        EXPECT_EQ(s.Rows(), c.RowsAfter) << c.Order;
        EXPECT_EQ(s.Focus, c.FocusAfter) << c.Order;
        for (std::size_t i = 0; i < queue.TaskCount(); ++i)
            EXPECT_EQ(queue.IndexOfTask(queue.Task(i).Id()), i);
    }
}

TEST(MoveSelection, UpIsDisabledOnceTheTopRowIsSelectedAndDownAtTheBottom) {
    TUploadQueue queue;
    Fill(queue, 6);
    TListSelection s = TListSelection::OfRows(6, {1, 2, 4});
    EXPECT_TRUE(CanMoveUp(s));
    MoveSelectionUp(queue, qlTasks, s);
    EXPECT_FALSE(CanMoveUp(s));
    EXPECT_TRUE(CanMoveDown(s));
    EXPECT_FALSE(CanMoveUp(TListSelection::OfRows(6, {})));
    EXPECT_FALSE(CanMoveDown(TListSelection::OfRows(6, {5})));
    EXPECT_FALSE(CanMoveDown(TListSelection::OfRows(0, {})));
}

TEST(MoveSelection, WorksOnTheFinishedListToo) {
    TUploadQueue queue;
    for (const char* f : {"a", "b", "c"}) {
        TFinishedUploadJobData r;
        r.FileName = f;
        queue.AppendFinished(r);
    }
    TListSelection s = TListSelection::OfRows(3, {2});
    MoveSelectionUp(queue, qlFinished, s);
    EXPECT_EQ(FinishedOrder(queue), "a,c,b");
    MoveSelectionDown(queue, qlFinished, s);
    EXPECT_EQ(FinishedOrder(queue), "a,b,c");
}

TEST(CommandEnables, FollowTheStatesOfTheSelectedTasks) {
    // Tasks: Queued, Delayed, Uploading, Error, Finished.
    const std::vector<TJobState> states = {jsQueued, jsDelayed, jsUploading, jsError, jsFinished};
    // Columns: Start, Stop, Start Now!, Delete, Properties, Rename/Scramble/Restore, Up, Down
    const struct {
        std::vector<std::size_t> Rows;
        bool Start, Stop, StartNow, Delete, Props, Up, Down;
    } cases[] = {
        {{}, false, false, false, false, false, false, false},
        {{0}, false, true, true, true, true, false, true},
        {{1}, true, false, true, true, true, true, true},
        {{2}, false, true, false, true, false, true, true},
        {{3}, true, false, true, true, true, true, true},
        {{4}, false, false, false, true, false, true, false},
        {{1, 2}, true, true, true, true, true, true, true}, // one Delayed, one Uploading
        {{2, 4}, false, true, false, true, false, true, false},
    };
    TUploadQueue queue;
    Fill(queue, states.size(), states);
    for (const auto& c : cases) {
        TCommandContext ctx;
        ctx.Shown = slTasks;
        ctx.TaskViewFocused = true;
        ctx.Tasks = SummarizeSelection(queue, qlTasks, TListSelection::OfRows(states.size(), c.Rows));
        ctx.TaskCount = queue.TaskCount();
        const TCommandEnables e = ComputeCommandEnables(ctx);
        const std::string what =
            "rows " + std::to_string(c.Rows.size()) + (c.Rows.empty() ? "" : std::to_string(c.Rows[0]));
        EXPECT_EQ(e.QueueTasks, c.Start) << what;
        EXPECT_EQ(e.PauseTasks, c.Stop) << what;
        EXPECT_EQ(e.StartTasks, c.StartNow) << what;
        EXPECT_EQ(e.DeleteTasks, c.Delete) << what;
        EXPECT_EQ(e.TasksProperties, c.Props) << what;
        EXPECT_EQ(e.RenameTask, c.Props) << what;
        EXPECT_EQ(e.ScrambleName, c.Props) << what;
        EXPECT_EQ(e.RestoreOriginalName, c.Props) << what;
        EXPECT_EQ(e.MoveTasksUp, c.Up) << what;
        EXPECT_EQ(e.MoveTasksDown, c.Down) << what;
        EXPECT_TRUE(e.NewTasks);
        EXPECT_TRUE(e.SelectAllTasks);
        EXPECT_FALSE(e.StopAllTasks);

        // The same selection while the finished list is shown offers no task command.
        ctx.Shown = slFinished;
        const TCommandEnables f = ComputeCommandEnables(ctx);
        EXPECT_FALSE(f.QueueTasks || f.PauseTasks || f.DeleteTasks || f.TasksProperties || f.RenameTask ||
                     f.SelectAllTasks || f.MoveTasksUp || f.MoveTasksDown)
            << what;
    }
}

TEST(CommandEnables, EditingFocusAndRunningCountDecideTheirCommands) {
    TUploadQueue queue;
    Fill(queue, 2);
    TCommandContext ctx;
    ctx.Shown = slTasks;
    ctx.Tasks = SummarizeSelection(queue, qlTasks, TListSelection::OfRows(2, {0}));
    ctx.TaskCount = 2;
    ctx.EditingCaption = true;
    EXPECT_FALSE(ComputeCommandEnables(ctx).DeleteTasks) << "Del edits the caption";
    EXPECT_FALSE(ComputeCommandEnables(ctx).SelectAllTasks) << "the view has no focus";
    ctx.RunningCount = 1;
    EXPECT_TRUE(ComputeCommandEnables(ctx).StopAllTasks);
    ctx.Shown = slNone;
    EXPECT_FALSE(ComputeCommandEnables(ctx).MoveTasksUp || ComputeCommandEnables(ctx).MoveTasksDown);
    ctx.Shown = slFinished;
    ctx.Finished = SummarizeSelection(queue, qlFinished, TListSelection::OfRows(0, {}));
    EXPECT_FALSE(ComputeCommandEnables(ctx).MoveTasksUp);
}

TEST(StopAllTasks, LeavesRunningAndQueuedTasksDelayedAndKeepsTheOthers) {
    test::TQueueFixture fx;
    Fill(fx.Queue, 7, {jsUploading, jsQueued, jsUploading, jsQueued, jsQueued, jsError, jsDelayed});
    gDestroyed = 0;
    fx.Queue.AttachUploader(0, FakeThread());
    fx.Queue.AttachUploader(2, FakeThread());
    StopAllTasks(*fx.Scheduler);
    EXPECT_EQ(gDestroyed, 2);
    EXPECT_EQ(fx.Queue.RunningCount(), 0);
    for (std::size_t i = 0; i < 5; ++i)
        EXPECT_EQ(fx.Queue.Task(i).State, jsDelayed) << i;
    EXPECT_EQ(fx.Queue.Task(5).State, jsError);
    TUploadQueue reloaded;
    ASSERT_TRUE(LoadJobs(reloaded, fx.SavedJobsFile(), {}));
    EXPECT_EQ(reloaded.CountTasksIn({jsDelayed}), 6);
}

struct TRemovals final : TUploadQueueObserver {
    std::vector<std::pair<std::size_t, std::size_t>> Removed;
    int Resets = 0;
    void RowsRemoved(TQueueList, std::size_t first, std::size_t count) override {
        Removed.push_back({first, count});
    }
    void ListReset(TQueueList) override { ++Resets; }
};

TEST(DeleteSelectedTasks, AbortsARunningUploadSavesAndUpdatesTheSummaryAtOnce) {
    test::TQueueFixture fx;
    Fill(fx.Queue, 4, {jsQueued, jsUploading, jsDelayed, jsError});
    gDestroyed = 0;
    fx.Queue.AttachUploader(1, FakeThread());
    fx.Queue.UpdateQueueSummary();
    TRemovals seen;
    fx.Queue.AddObserver(&seen);
    const std::vector<TJobId> ids = SelectedIds(fx.Queue, qlTasks, TListSelection::OfRows(4, {1, 2}));
    EXPECT_EQ(DeleteSelectedTasks(*fx.Scheduler, ids), 2u);
    fx.Queue.RemoveObserver(&seen);
    EXPECT_EQ(gDestroyed, 1);
    EXPECT_EQ(fx.Queue.RunningCount(), 0);
    EXPECT_EQ(Order(fx.Queue), "1,4");
    EXPECT_EQ(seen.Removed, (std::vector<std::pair<std::size_t, std::size_t>>{{1, 2}}))
        << "one run, one removal";
    EXPECT_NE(fx.Queue.QueueSummary().find("2 files"), std::string::npos) << fx.Queue.QueueSummary();
    TUploadQueue reloaded;
    ASSERT_TRUE(LoadJobs(reloaded, fx.SavedJobsFile(), {}));
    EXPECT_EQ(Order(reloaded), "1,4");
    EXPECT_EQ(DeleteSelectedTasks(*fx.Scheduler, {}), 0u);
}

TEST(DeleteSelectedTasks, ScatteredRowsGoInOnePassAndTheIdsStayRight) {
    TUploadQueue queue;
    Fill(queue, 100);
    std::vector<std::size_t> odd;
    for (std::size_t i = 1; i < 100; i += 2)
        odd.push_back(i);
    TRemovals seen;
    queue.AddObserver(&seen);
    const std::vector<TJobId> ids = SelectedIds(queue, qlTasks, TListSelection::OfRows(100, odd));
    EXPECT_EQ(queue.DeleteTasks(ids), 50u);
    queue.RemoveObserver(&seen);
    EXPECT_EQ(seen.Resets, 1);
    EXPECT_TRUE(seen.Removed.empty());
    ASSERT_EQ(queue.TaskCount(), 50u);
    for (std::size_t i = 0; i < 50; ++i) {
        EXPECT_EQ(queue.Task(i).FileName, "/files/" + std::to_string(2 * i + 1));
        EXPECT_EQ(queue.IndexOfTask(queue.Task(i).Id()), i);
    }
    for (TJobId id : ids)
        EXPECT_EQ(queue.FindTask(id), nullptr);
    EXPECT_EQ(queue.DeleteTasks(ids), 0u) << "ids already gone are ignored";
}

TEST(DeleteSelectedFinished, RemovesTheSelectedRecordsAndSaves) {
    test::TQueueFixture fx;
    for (const char* f : {"a", "b", "c"}) {
        TFinishedUploadJobData r;
        r.FileName = f;
        fx.Queue.AppendFinished(r);
    }
    EXPECT_EQ(DeleteSelectedFinished(*fx.Scheduler,
                                     SelectedIds(fx.Queue, qlFinished, TListSelection::OfRows(3, {0, 2}))),
              2u);
    EXPECT_EQ(FinishedOrder(fx.Queue), "b");
    TUploadQueue reloaded;
    ASSERT_TRUE(LoadJobs(reloaded, fx.SavedJobsFile(), {}));
    EXPECT_EQ(FinishedOrder(reloaded), "b");
}

TEST(RenameTask, TakesTrimmedNamesAndRefusesWhatTheServiceCouldNotStore) {
    const struct {
        std::string Typed;
        TRenameResult Result;
        std::string After;
    } cases[] = {
        {"  new name.bin ", rrRenamed, "new name.bin"},
        {"3", rrRenamed, "3"}, // the file's own name is stored as typed
        {"   ", rrUnchanged, "old.bin"},
        {"", rrUnchanged, "old.bin"},
        {"dir/name.bin", rrRefused, "old.bin"},
        {"dir\\name.bin", rrRefused, "old.bin"},
        {"bell\x07.bin", rrRefused, "old.bin"},
        {"esc\x1b]0;title\x07", rrRefused, "old.bin"},
        {"..", rrRefused, "old.bin"},
        {"caf\xC3\xA9.bin", rrRenamed, "caf\xC3\xA9.bin"},
    };
    for (const auto& c : cases) {
        TUploadQueue queue;
        Fill(queue, 3);
        queue.Task(2).UploadName = "old.bin";
        std::string problem;
        EXPECT_EQ(RenameTask(queue, queue.Task(2).Id(), c.Typed, &problem), c.Result) << c.Typed;
        EXPECT_EQ(queue.Task(2).UploadName, c.After) << c.Typed;
        EXPECT_EQ(problem.empty(), c.Result != rrRefused) << c.Typed;
    }
    TUploadQueue queue;
    Fill(queue, 1, {jsUploading});
    EXPECT_EQ(RenameTask(queue, queue.Task(0).Id(), "x.bin"), rrUnchanged);
    EXPECT_EQ(RenameTask(queue, 987654, "x.bin"), rrUnchanged);
}

TEST(ScrambleNames, DrawsANameForEachTaskAndRestoreBringsTheFileNamesBack) {
    test::TQueueFixture fx;
    Fill(fx.Queue, 4, {jsQueued, jsDelayed, jsError, jsUploading});
    const std::vector<TJobId> all = fx.Queue.TaskIds();
    EXPECT_EQ(ScrambleNames(*fx.Scheduler, all), 3u);
    std::set<std::string> names;
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_FALSE(fx.Queue.Task(i).UploadName.empty());
        names.insert(fx.Queue.Task(i).UploadName);
    }
    EXPECT_EQ(names.size(), 3u) << "each task draws its own name";
    EXPECT_TRUE(fx.Queue.Task(3).UploadName.empty()) << "an upload in progress keeps its name";
    TUploadQueue reloaded;
    ASSERT_TRUE(LoadJobs(reloaded, fx.SavedJobsFile(), {}));
    EXPECT_EQ(reloaded.Task(1).UploadName, fx.Queue.Task(1).UploadName);

    EXPECT_EQ(RestoreOriginalNames(*fx.Scheduler, all), 3u);
    for (std::size_t i = 0; i < 4; ++i)
        EXPECT_EQ(EffectiveUploadName(fx.Queue.Task(i)), std::to_string(i + 1));
}

TEST(ApplyTaskProperties, ChangesOnlyWhatWasChosen) {
    {
        test::TQueueFixture fx;
        Fill(fx.Queue, 1, {jsError});
        const TJobId id = fx.Queue.Task(0).Id();
        // The dialog proposes the file's own name; leaving it (in other letter case) stores nothing.
        ASSERT_EQ(ApplyTaskProperties(*fx.Scheduler, {id}, {"1", "FTP Method", jsQueued}), 1u);
        EXPECT_EQ(fx.Queue.Task(0).UploadName, "");
        EXPECT_EQ(fx.Queue.Task(0).Method, "FTP Method");
        EXPECT_EQ(fx.Queue.Task(0).State, jsQueued) << "an Error task is queued again";
        // A task with a custom name that is given its file's own name keeps it as typed.
        fx.Queue.Task(0).UploadName = "custom.bin";
        ASSERT_EQ(ApplyTaskProperties(*fx.Scheduler, {id}, {"1", "", std::nullopt}), 1u);
        EXPECT_EQ(fx.Queue.Task(0).UploadName, "1");
        // A name the service could not store changes nothing at all.
        std::string problem;
        EXPECT_FALSE(ApplyTaskProperties(*fx.Scheduler, {id}, {"a/b", "HTTP Method", jsDelayed}, &problem));
        EXPECT_FALSE(problem.empty());
        EXPECT_EQ(fx.Queue.Task(0).Method, "FTP Method");
        EXPECT_EQ(fx.Queue.Task(0).State, jsQueued);
    }
    {
        test::TQueueFixture fx;
        Fill(fx.Queue, 3, {jsDelayed, jsUploading, jsError});
        for (std::size_t i = 0; i < 3; ++i) {
            fx.Queue.Task(i).Method = "HTTP Method";
            fx.Queue.Task(i).Description = "kept";
        }
        ASSERT_EQ(ApplyTaskProperties(*fx.Scheduler, fx.Queue.TaskIds(), {"", "", std::nullopt}), 2u);
        EXPECT_TRUE(LoadJobs(*std::make_unique<TUploadQueue>(), fx.SavedJobsFile(), {}))
            << "the jobs file is written";
        ASSERT_EQ(ApplyTaskProperties(*fx.Scheduler, fx.Queue.TaskIds(), {"", "FTP Method", jsDelayed}), 2u);
        EXPECT_EQ(fx.Queue.Task(0).Method, "FTP Method");
        EXPECT_EQ(fx.Queue.Task(1).Method, "HTTP Method") << "the running task is left alone";
        EXPECT_EQ(fx.Queue.Task(2).State, jsDelayed);
        for (std::size_t i = 0; i < 3; ++i)
            EXPECT_EQ(fx.Queue.Task(i).Description, "kept");
    }
}

} // namespace
