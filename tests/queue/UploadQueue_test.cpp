#include "core/queue/UploadQueue.h"

#include "core/app/MyUtils.h"
#include "core/l10n/ResMessages.h"
#include "support/TestEnvironment.h"

#include <QFile>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

using namespace quillo;

namespace {

std::string MakeFile(const std::string& name, std::int64_t size) {
    const std::string path = test::MakeScratchDir(QStringLiteral("queue")).toStdString() + "/" + name;
    QFile f(QString::fromStdString(path));
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    EXPECT_TRUE(f.resize(size));
    return path;
}

TUploadJobData Task(const std::string& file, TJobState state = jsDelayed, std::int64_t size = 0) {
    TUploadJobData t;
    t.FileName = file;
    t.State = state;
    t.FileSize = size;
    return t;
}

// An upload thread stand-in: the queue only sees an opaque TUploader pointer and the deleter,
// which here runs whatever the test wants to happen while "the thread is being destroyed".
struct TFakeThread {
    std::function<void()> OnDestroy;
    int* Destroyed = nullptr;
};

void DestroyFake(TUploader* u) {
    auto* fake = reinterpret_cast<TFakeThread*>(u);
    if (fake->OnDestroy)
        fake->OnDestroy();
    if (fake->Destroyed)
        ++*fake->Destroyed;
    delete fake;
}

TUploaderHandle FakeThread(int* destroyed, std::function<void()> onDestroy = {}) {
    auto* fake = new TFakeThread{std::move(onDestroy), destroyed};
    return TUploaderHandle(reinterpret_cast<TUploader*>(fake), TUploaderDeleter{&DestroyFake});
}

// Records every notification as a line of text.
struct TRecorder final : TUploadQueueObserver {
    std::vector<std::string> Log;
    void Add(const char* what, TQueueList l, std::size_t a, const char* sep, std::size_t b) {
        Log.push_back(std::string(what) + (l == qlTasks ? "T" : "F") + std::to_string(a) + sep +
                      std::to_string(b));
    }
    void RowsAboutToBeInserted(TQueueList l, std::size_t f, std::size_t c) override {
        Add("+? ", l, f, "x", c);
    }
    void RowsInserted(TQueueList l, std::size_t f, std::size_t c) override { Add("+ ", l, f, "x", c); }
    void RowsAboutToBeRemoved(TQueueList l, std::size_t f, std::size_t c) override {
        Add("-? ", l, f, "x", c);
    }
    void RowsRemoved(TQueueList l, std::size_t f, std::size_t c) override { Add("- ", l, f, "x", c); }
    void RowAboutToBeMoved(TQueueList l, std::size_t f, std::size_t t) override { Add(">? ", l, f, ">", t); }
    void RowMoved(TQueueList l, std::size_t f, std::size_t t) override { Add("> ", l, f, ">", t); }
    void RowsChanged(TQueueList l, std::size_t f, std::size_t t) override { Add("* ", l, f, "..", t); }
    void ListAboutToBeReset(TQueueList l) override { Log.push_back(l == qlTasks ? "0? T" : "0? F"); }
    void ListReset(TQueueList l) override { Log.push_back(l == qlTasks ? "0 T" : "0 F"); }
    void QueueSummaryChanged(const std::string& text) override { Log.push_back("S " + text); }
};

std::vector<std::string> Names(const TUploadQueue& q) {
    std::vector<std::string> r;
    for (std::size_t i = 0; i < q.TaskCount(); ++i)
        r.push_back(q.Task(i).FileName);
    return r;
}

} // namespace

TEST(JobStates, OneBytePerSetAndAllMeansNoFilter) {
    static_assert(sizeof(TJobState) == 1 && sizeof(TJobStates) == 1);
    EXPECT_EQ(AllJobStates.Byte(), 0x1F);
    EXPECT_TRUE(AllJobStates.IsAll());
    const TJobStates s{jsDelayed, jsError};
    EXPECT_EQ(s.Byte(), 0x12);
    EXPECT_TRUE(s.Contains(jsError));
    EXPECT_FALSE(s.Contains(jsQueued));
    EXPECT_FALSE(s.IsAll());
    EXPECT_EQ((TJobStates{jsQueued, jsDelayed, jsUploading, jsFinished, jsError}), AllJobStates);
}

TEST(UploadQueue, AddTaskKeepsUploadNameOnlyWhenItDiffersBeyondLetterCase) {
    const std::string file = MakeFile("Report.PDF", 5000);
    struct {
        std::string Given, Stored;
    } cases[] = {
        {"", ""},
        {"Report.PDF", ""},
        {"report.pdf", ""},
        {"REPORT.pdf", ""},
        {"Report.pdf.zip", "Report.pdf.zip"},
        {"Kqwe.pdf", "Kqwe.pdf"},
    };
    TUploadQueue q;
    for (const auto& c : cases) {
        const std::size_t i = q.AddTask(file, c.Given, "desc", "HTTP Method");
        const TUploadJobData& t = q.Task(i);
        EXPECT_EQ(t.UploadName, c.Stored) << c.Given;
        EXPECT_EQ(t.State, jsDelayed);
        EXPECT_EQ(t.FileSize, 5000);
        EXPECT_EQ(t.Description, "desc");
        EXPECT_EQ(t.Method, "HTTP Method");
        EXPECT_EQ(t.StartTime, 0);
        EXPECT_EQ(t.StatusText, "");
        EXPECT_EQ(EffectiveUploadName(t), c.Stored.empty() ? "Report.PDF" : c.Stored);
    }
    EXPECT_EQ(q.TaskCount(), std::size(cases));
}

TEST(UploadQueue, AddTaskOfAFileThatCannotBeOpenedRaisesAndAppendsNothing) {
    TUploadQueue q;
    TRecorder rec;
    q.AddObserver(&rec);
    for (const std::string& path : {test::ScratchRoot().toStdString() + "/no-such-file",
                                    test::MakeScratchDir(QStringLiteral("folder")).toStdString()})
        EXPECT_THROW(q.AddTask(path, "", "", "HTTP Method"), EFOpenError) << path;
    std::vector<std::unique_ptr<TUploadJobData>> withHole;
    withHole.push_back(std::make_unique<TUploadJobData>());
    withHole.push_back(nullptr);
    EXPECT_THROW(q.AppendAll(std::move(withHole), {}), std::invalid_argument);
    EXPECT_EQ(q.TaskCount(), 0u);
    EXPECT_TRUE(rec.Log.empty());
    q.RemoveObserver(&rec);
}

TEST(UploadQueue, MoveToFinishedAppendsAtTheEndWithTheTaskFields) {
    TUploadQueue q;
    TFinishedUploadJobData old;
    old.FileName = "/old";
    q.AppendFinished(old);
    TUploadJobData t = Task("/a/first.bin", jsFinished, 7);
    q.AppendTask(Task("/a/zero"));
    t.UploadName = "up.bin";
    t.Description = "d";
    t.Method = "FTP Method";
    t.StartTime = 45000.25;
    t.EndTime = 45000.5;
    t.StatusText = "download-link=x\r\nkill-link=y\r\n";
    t.ResumeInfo = "upserver=z";
    q.AppendTask(std::move(t));
    q.AppendTask(Task("/a/third"));
    EXPECT_EQ(q.MoveToFinished(1), 1u);
    ASSERT_EQ(q.FinishedCount(), 2u);
    const TFinishedUploadJobData& f = q.Finished(1);
    EXPECT_EQ(f.FileName, "/a/first.bin");
    EXPECT_EQ(f.FileSize, 7);
    EXPECT_EQ(f.UploadName, "up.bin");
    EXPECT_EQ(f.Description, "d");
    EXPECT_EQ(f.Method, "FTP Method");
    EXPECT_EQ(f.StartTime, 45000.25);
    EXPECT_EQ(f.EndTime, 45000.5);
    EXPECT_EQ(f.Result, "download-link=x\r\nkill-link=y\r\n");
    EXPECT_EQ(Names(q), (std::vector<std::string>{"/a/zero", "/a/third"}));
}

TEST(UploadQueue, CountTasksInFiltersByStateUnlessAll) {
    TUploadQueue q;
    for (TJobState s : {jsQueued, jsQueued, jsDelayed, jsUploading, jsFinished, jsError, jsError, jsError})
        q.AppendTask(Task("/f", s));
    struct {
        TJobStates Set;
        int Count;
    } cases[] = {
        {{}, 0},           {{jsQueued}, 2},   {{jsQueued, jsUploading}, 3}, {{jsDelayed, jsError}, 4},
        {{jsFinished}, 1}, {AllJobStates, 8},
    };
    for (const auto& c : cases)
        EXPECT_EQ(q.CountTasksIn(c.Set), c.Count) << int(c.Set.Byte());
}

TEST(UploadQueue, SummaryCountsTasksAndRoundsMegabytes) {
    struct {
        std::vector<std::int64_t> Sizes;
        std::string Text;
    } cases[] = {
        {{}, "No files"},
        {{1048576, 2097152, 419430}, "3 files (3 MB)"},
        {{1572864}, "1 files (2 MB)"},
        {{5'000'000'000'000}, "1 files (4,768,372 MB)"},
        {std::vector<std::int64_t>(1234, 1048576), "1,234 files (1,234 MB)"},
    };
    for (const auto& c : cases) {
        TUploadQueue q;
        for (std::int64_t s : c.Sizes)
            q.AppendTask(Task("/f", jsQueued, s));
        TRecorder rec;
        q.AddObserver(&rec);
        EXPECT_EQ(q.UpdateQueueSummary(), c.Text);
        EXPECT_EQ(q.QueueSummary(), c.Text);
        EXPECT_EQ(rec.Log, std::vector<std::string>{"S " + c.Text});
        q.RemoveObserver(&rec);
    }
}

TEST(UploadQueue, SummaryComesFromTheNumberedMessages) {
    auto table = std::make_shared<TResStringTable>();
    (*table)[rmQueueSummary] = "%.0n Dateien (%.0n MB)";
    (*table)[rmNoFiles] = "Keine Dateien";
    SetResStringTable(table);
    TUploadQueue q;
    EXPECT_EQ(q.UpdateQueueSummary(), "Keine Dateien");
    q.AppendTask(Task("/f", jsQueued, 3 * 1048576));
    EXPECT_EQ(q.UpdateQueueSummary(), "1 Dateien (3 MB)");
    SetResStringTable(nullptr);
}

TEST(UploadQueue, ObserversHearEveryChangeBeforeAndAfter) {
    TUploadQueue q;
    TRecorder rec;
    q.AddObserver(&rec);
    q.AppendTask(Task("/a"));
    q.AppendTask(Task("/b"));
    q.AppendTask(Task("/c", jsFinished));
    q.MoveTask(0, 2);
    q.MoveTask(2, 1);
    q.TaskChanged(1);
    q.MoveToFinished(0); // "/b"
    q.DeleteTask(0);
    q.DeleteFinished(0);
    q.AllTasksChanged();
    q.Clear();
    EXPECT_EQ(rec.Log, (std::vector<std::string>{
                           "+? T0x1", "+ T0x1", "+? T1x1", "+ T1x1", "+? T2x1", "+ T2x1", // appends
                           ">? T0>2", "> T0>2",                                           // a,b,c -> b,c,a
                           ">? T2>1", "> T2>1",                                           // -> b,a,c
                           "* T1..1",                                                     //
                           "+? F0x1", "+ F0x1", "-? T0x1", "- T0x1",                      // b finished
                           "-? T0x1", "- T0x1",                                           // a deleted
                           "-? F0x1", "- F0x1",                                           //
                           "* T0..0",                                                     // c left
                           "0? T",    "0 T",    "0? F",    "0 F",
                       }));
    q.RemoveObserver(&rec);
    q.AppendTask(Task("/d"));
    EXPECT_EQ(rec.Log.size(), 24u);
}

TEST(UploadQueue, MovesKeepIdsAndFollowTheRowTable) {
    // Exchanging each selected row with the unselected row above: {2,3,5} of 1..6 gives
    // 2,3,1,5,4,6.
    TUploadQueue q;
    for (int i = 1; i <= 6; ++i)
        q.AppendTask(Task(std::to_string(i)));
    const std::vector<TJobId> ids = q.TaskIds();
    q.MoveTask(1, 0);
    q.MoveTask(2, 1);
    q.MoveTask(4, 3);
    EXPECT_EQ(Names(q), (std::vector<std::string>{"2", "3", "1", "5", "4", "6"}));
    for (int i = 0; i < 6; ++i) {
        const std::size_t at = *q.IndexOfTask(ids[i]);
        EXPECT_EQ(q.Task(at).FileName, std::to_string(i + 1));
        EXPECT_EQ(q.FindTask(ids[i]), &q.Task(at));
    }
}

TEST(UploadQueue, IdsSurviveRemovalOfOtherRowsAndDieWithTheirOwn) {
    TUploadQueue q;
    for (int i = 0; i < 5; ++i)
        q.AppendTask(Task(std::to_string(i)));
    const std::vector<TJobId> ids = q.TaskIds();
    q.DeleteTask(1);
    EXPECT_FALSE(q.IndexOfTask(ids[1]));
    EXPECT_EQ(q.FindTask(ids[1]), nullptr);
    EXPECT_FALSE(q.DeleteTaskById(ids[1]));
    EXPECT_EQ(*q.IndexOfTask(ids[3]), 2u);
    EXPECT_TRUE(q.DeleteTaskById(ids[0]));
    EXPECT_EQ(*q.IndexOfTask(ids[4]), 2u);
    EXPECT_EQ(Names(q), (std::vector<std::string>{"2", "3", "4"}));
    // Ids are never handed out twice.
    q.AppendTask(Task("new"));
    for (TJobId old : ids)
        EXPECT_NE(q.TaskIds().back(), old);
}

TEST(UploadQueue, IndexOutsideTheListIsReportedNotUndefined) {
    TUploadQueue q;
    q.AppendTask(Task("/a"));
    EXPECT_THROW(q.Task(1), std::out_of_range);
    EXPECT_THROW(q.DeleteTask(5), std::out_of_range);
    EXPECT_THROW(q.DeleteFinished(0), std::out_of_range);
    EXPECT_THROW(q.MoveTask(0, 1), std::out_of_range);
    EXPECT_EQ(q.TaskCount(), 1u);
}

TEST(UploadQueue, RunningCountFollowsAttachedThreads) {
    TUploadQueue q;
    int destroyed = 0;
    q.AppendTask(Task("/a"));
    q.AppendTask(Task("/b"));
    TUploadJobData withThread = Task("/c", jsUploading);
    withThread.Uploader = FakeThread(&destroyed);
    q.AppendTask(std::move(withThread));
    EXPECT_EQ(q.RunningCount(), 1);
    q.AttachUploader(0, FakeThread(&destroyed));
    EXPECT_EQ(q.RunningCount(), 2);
    EXPECT_THROW(q.AttachUploader(0, FakeThread(&destroyed)), std::logic_error);
    EXPECT_EQ(destroyed, 1); // the refused handle was destroyed, the task's kept
    EXPECT_EQ(q.RunningCount(), 2);
    EXPECT_FALSE(q.ReleaseThread(1));
    EXPECT_TRUE(q.ReleaseThread(0));
    EXPECT_EQ(destroyed, 2);
    EXPECT_EQ(q.RunningCount(), 1);
    EXPECT_EQ(q.Task(0).Uploader, nullptr);
    // Deleting an uploading task stops its thread and lowers the count.
    q.DeleteTask(2);
    EXPECT_EQ(destroyed, 3);
    EXPECT_EQ(q.RunningCount(), 0);
    EXPECT_EQ(q.TaskCount(), 2u);
}

TEST(UploadQueue, ThreadsEndBeforeTheirRecordsWhenTheQueueGoes) {
    int destroyed = 0;
    std::string seen;
    {
        TUploadQueue q;
        q.AppendTask(Task("/a", jsUploading));
        TUploadJobData* task = &q.Task(0);
        // The thread's final event writes into its task while the thread is destroyed.
        q.AttachUploader(0, FakeThread(&destroyed, [&] {
                             task->StatusText = "Aborted by user";
                             seen = task->FileName;
                         }));
    }
    EXPECT_EQ(destroyed, 1);
    EXPECT_EQ(seen, "/a");
}

TEST(UploadQueue, NestedCallsWhileAThreadIsDestroyedAreSafe) {
    // While DeleteTask waits for a thread, the event loop runs a nested tick or command:
    // removing rows above, deleting the very task, or moving it.
    struct TCase {
        const char* Name;
        std::function<void(TUploadQueue&, TJobId self)> Nested;
        std::vector<std::string> Left;
    };
    const std::vector<TCase> cases = {
        {"removes a row above", [](TUploadQueue& q, TJobId) { q.DeleteTask(0); }, {"/c"}},
        {"deletes the task itself",
         [](TUploadQueue& q, TJobId self) { EXPECT_TRUE(q.DeleteTaskById(self)); },
         {"/a", "/c"}},
        {"moves the task", [](TUploadQueue& q, TJobId) { q.MoveTask(1, 2); }, {"/a", "/c"}},
        {"appends a task", [](TUploadQueue& q, TJobId) { q.AppendTask(Task("/d")); }, {"/a", "/c", "/d"}},
        {"moves it to the finished list",
         [](TUploadQueue& q, TJobId self) { q.MoveToFinishedById(self); },
         {"/a", "/c"}},
    };
    for (const TCase& c : cases) {
        TUploadQueue q;
        q.AppendTask(Task("/a"));
        q.AppendTask(Task("/b", jsUploading));
        q.AppendTask(Task("/c"));
        const TJobId self = q.Task(1).Id();
        TUploadJobData* record = &q.Task(1);
        int destroyed = 0;
        q.AttachUploader(1, FakeThread(&destroyed, [&] {
                             c.Nested(q, self);
                             record->StatusText = "still alive"; // the record outlives the nested removal
                         }));
        q.DeleteTask(1);
        EXPECT_EQ(destroyed, 1) << c.Name;
        EXPECT_EQ(q.RunningCount(), 0) << c.Name;
        EXPECT_EQ(Names(q), c.Left) << c.Name;
        EXPECT_EQ(q.FindTask(self), nullptr) << c.Name;
    }
}

TEST(UploadQueue, ChangingTheQueueFromANotificationIsRefused) {
    struct TMeddler final : TUploadQueueObserver {
        TUploadQueue* Q = nullptr;
        bool Threw = false;
        void RowsInserted(TQueueList, std::size_t, std::size_t) override {
            try {
                Q->DeleteTask(0);
            } catch (const std::logic_error&) {
                Threw = true;
            }
        }
    } meddler;
    TUploadQueue q;
    meddler.Q = &q;
    q.AddObserver(&meddler);
    q.AppendTask(Task("/a"));
    EXPECT_TRUE(meddler.Threw);
    EXPECT_EQ(q.TaskCount(), 1u);
    q.RemoveObserver(&meddler);
}
