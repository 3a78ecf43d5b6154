#include "core/queue/JobsFile.h"

#include "core/l10n/ResMessages.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <set>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace quillo;

namespace {

struct TReports {
    std::vector<std::pair<std::string, std::string>> Items;
    TJobsErrorReporter Reporter() {
        return [this](const std::string& caption, const std::string& text) {
            Items.emplace_back(caption, text);
        };
    }
};

std::string Bytes(std::initializer_list<int> list) {
    std::string s;
    for (int b : list)
        s.push_back(static_cast<char>(b));
    return s;
}

std::string WithZeroAndFF(const std::string& a) {
    return a + std::string("\0\xff\r\n", 4) + a;
}

std::uint64_t Bits(double d) {
    std::uint64_t b;
    std::memcpy(&b, &d, 8);
    return b;
}

double FromBits(std::uint64_t b) {
    double d;
    std::memcpy(&d, &b, 8);
    return d;
}

// Tasks and finished records that exercise every stored field.
void FillSample(TUploadQueue& q) {
    TUploadJobData a;
    a.State = jsQueued;
    a.FileName = "/home/u/Vid\xc3\xa9o 1.avi";
    a.FileSize = 5'000'000'000LL;
    a.UploadName = "Kqwe_ab07.mpeg";
    a.Description = "line one\r\nline two";
    a.Method = "HTTP Method";
    a.StatusText = "Connection refused";
    a.ResumeInfo = "upserver=s1.example\r\nMD5=abc\r\n";
    a.Reserved = {0, 0xff, 7, 0x80};
    // Progress fields are not stored; they must come back zero.
    a.StartTime = 45000.5;
    a.EndTime = 45000.75;
    a.Elapsed = 1234;
    a.TimeLeft = -1;
    a.Percent = 42;
    a.Speed = 812.5;
    q.AppendTask(std::move(a));

    TUploadJobData b;
    b.State = jsDelayed;
    b.FileName = WithZeroAndFF("/tmp/x");
    b.FileSize = std::numeric_limits<std::int64_t>::max();
    b.Method = "FTP Method";
    q.AppendTask(std::move(b));

    TUploadJobData c;
    c.State = jsError;
    c.FileName = "";
    c.FileSize = -1;
    c.StatusText = WithZeroAndFF("err");
    q.AppendTask(std::move(c));

    TFinishedUploadJobData f;
    f.FileName = "/data/big.iso";
    f.FileSize = 0x1'0000'0001LL;
    f.UploadName = "";
    f.Description = std::string(1000, 'd');
    f.Method = "HTTP Method";
    f.StartTime = 45123.000011574074;
    f.EndTime = FromBits(0x8000000000000000ULL); // -0.0
    f.Result = "download-link=http://h/d/1\r\nkill-link=http://h/k/1\r\nMD5=00ff\r\n";
    q.AppendFinished(f);
    f.FileName = WithZeroAndFF("f2");
    f.StartTime = std::numeric_limits<double>::denorm_min();
    f.EndTime = FromBits(0x7ff8dead0000beefULL); // a NaN with a payload
    f.Result = "";
    q.AppendFinished(f);
}

void ExpectSameTask(const TUploadJobData& got, const TUploadJobData& want) {
    EXPECT_EQ(got.State, want.State);
    EXPECT_EQ(got.FileName, want.FileName);
    EXPECT_EQ(got.FileSize, want.FileSize);
    EXPECT_EQ(got.UploadName, want.UploadName);
    EXPECT_EQ(got.Description, want.Description);
    EXPECT_EQ(got.Method, want.Method);
    EXPECT_EQ(got.Reserved, want.Reserved);
    EXPECT_EQ(got.StatusText, want.StatusText);
    EXPECT_EQ(got.ResumeInfo, want.ResumeInfo);
    EXPECT_EQ(Bits(got.StartTime), 0u);
    EXPECT_EQ(Bits(got.EndTime), 0u);
    EXPECT_EQ(got.Elapsed, 0);
    EXPECT_EQ(got.TimeLeft, 0);
    EXPECT_EQ(got.Percent, 0);
    EXPECT_EQ(Bits(got.Speed), 0u);
    EXPECT_EQ(got.Uploader, nullptr);
}

void ExpectSameFinished(const TFinishedUploadJobData& got, const TFinishedUploadJobData& want) {
    EXPECT_EQ(got.FileName, want.FileName);
    EXPECT_EQ(got.FileSize, want.FileSize);
    EXPECT_EQ(got.UploadName, want.UploadName);
    EXPECT_EQ(got.Description, want.Description);
    EXPECT_EQ(got.Method, want.Method);
    EXPECT_EQ(Bits(got.StartTime), Bits(want.StartTime));
    EXPECT_EQ(Bits(got.EndTime), Bits(want.EndTime));
    EXPECT_EQ(got.Result, want.Result);
}

void ExpectSameQueue(const TUploadQueue& got, const TUploadQueue& want) {
    ASSERT_EQ(got.TaskCount(), want.TaskCount());
    ASSERT_EQ(got.FinishedCount(), want.FinishedCount());
    for (std::size_t i = 0; i < got.TaskCount(); ++i)
        ExpectSameTask(got.Task(i), want.Task(i));
    for (std::size_t i = 0; i < got.FinishedCount(); ++i)
        ExpectSameFinished(got.Finished(i), want.Finished(i));
}

std::string JobsPath() {
    return test::MakeScratchDir(QStringLiteral("jobs")).toStdString() + "/quillo.jobs";
}

std::string ReadAll(const std::string& path) {
    QFile f(QString::fromStdString(path));
    EXPECT_TRUE(f.open(QIODevice::ReadOnly));
    return f.readAll().toStdString();
}

void WriteAll(const std::string& path, const std::string& bytes) {
    QFile f(QString::fromStdString(path));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(f.write(bytes.data(), static_cast<qint64>(bytes.size())), static_cast<qint64>(bytes.size()));
}

// The bytes of each entry of the sample, in file order, so that tests know the boundaries.
std::vector<std::string> SampleEntries() {
    TUploadQueue sample;
    FillSample(sample);
    const std::size_t tasks = sample.TaskCount(), count = tasks + sample.FinishedCount();
    std::vector<std::string> entries;
    for (std::size_t keep = 0; keep < count; ++keep) {
        TUploadQueue one;
        FillSample(one);
        for (std::size_t i = count; i-- > 0;)
            if (i != keep)
                i < tasks ? one.DeleteTask(i) : one.DeleteFinished(i - tasks);
        entries.push_back(JobsToBytes(one));
    }
    return entries;
}

TFinishedUploadJobData Fin(const std::string& fileName, const std::string& result = "") {
    TFinishedUploadJobData f;
    f.FileName = fileName;
    f.Result = result;
    return f;
}

std::size_t Loaded(const TUploadQueue& q) {
    return q.TaskCount() + q.FinishedCount();
}

} // namespace

TEST(JobsFile, EntryLayoutIsByteExact) {
    TUploadQueue q;
    TUploadJobData t;
    t.State = jsDelayed;
    t.FileName = "abc";
    t.FileSize = 0x0102030405060708LL;
    t.Description = "d";
    t.Method = "M";
    t.Reserved = {9, 8, 7, 6};
    t.StatusText = "s";
    q.AppendTask(std::move(t));
    TFinishedUploadJobData f = Fin("f", "r");
    f.FileSize = -2;
    f.UploadName = "u";
    f.StartTime = 1.0;
    f.EndTime = -2.5;
    q.AppendFinished(f);
    const std::string want =
        Bytes({0x00, 0x01,                                                    // marker, Delayed
               3,    0,    0,    0,    'a',  'b',  'c',                       // FileName
               8,    7,    6,    5,    4,    3,    2,    1,                   // FileSize
               0,    0,    0,    0,                                           // UploadName
               1,    0,    0,    0,    'd',                                   // Description
               1,    0,    0,    0,    'M',                                   // Method
               9,    8,    7,    6,                                           // Reserved
               1,    0,    0,    0,    's',                                   // StatusText
               0,    0,    0,    0,                                           // ResumeInfo
               0x00, 0x03,                                                    // finished
               1,    0,    0,    0,    'f',                                   // FileName
               0xfe, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff,                // FileSize
               1,    0,    0,    0,    'u',  0,    0,    0,    0, 0, 0, 0, 0, // three strings
               0,    0,    0,    0,    0,    0,    0xf0, 0x3f,                // 1.0
               0,    0,    0,    0,    0,    0,    0x04, 0xc0,                // -2.5
               1,    0,    0,    0,    'r'});                                 // Result
    EXPECT_EQ(JobsToBytes(q), want);
}

TEST(JobsFile, RoundTripKeepsEveryStoredFieldAndZeroesProgress) {
    TUploadQueue saved;
    FillSample(saved);
    const std::string path = JobsPath();
    TReports reports;
    ASSERT_TRUE(SaveJobs(saved, path, reports.Reporter()));
    EXPECT_EQ(QFileInfo(QString::fromStdString(path)).permissions() & (QFile::ReadOther | QFile::ReadGroup),
              0)
        << "the file holds delete links";
    TUploadQueue loaded;
    ASSERT_TRUE(LoadJobs(loaded, path, reports.Reporter()));
    EXPECT_TRUE(reports.Items.empty());
    ExpectSameQueue(loaded, saved);
    // And once more: what was loaded saves to the same bytes.
    EXPECT_EQ(JobsToBytes(loaded), ReadAll(path));
}

TEST(JobsFile, LoadingAppendsToWhatTheListsHold) {
    TUploadQueue saved;
    FillSample(saved);
    TUploadQueue q;
    q.AppendTask(TUploadJobData{});
    ASSERT_TRUE(LoadJobsFromBytes(q, JobsToBytes(saved), {}));
    EXPECT_EQ(q.TaskCount(), saved.TaskCount() + 1);
    EXPECT_EQ(q.Task(1).FileName, saved.Task(0).FileName);
}

TEST(JobsFile, UploadingTaskComesBackAsErrorWithItsResumeInfo) {
    TUploadQueue saved;
    TUploadJobData t;
    t.State = jsUploading;
    t.FileName = "/f";
    t.StatusText = "Uploading file (1 / 2 Bytes)...";
    t.ResumeInfo = "upserver=ftp3\r\n";
    saved.AppendTask(std::move(t));
    const std::string bytes = JobsToBytes(saved);
    EXPECT_EQ(bytes[1], 2) << "written as it is: only a run that did not close leaves it";
    TUploadQueue q;
    ASSERT_TRUE(LoadJobsFromBytes(q, bytes, {}));
    ASSERT_EQ(q.TaskCount(), 1u);
    EXPECT_EQ(q.Task(0).State, jsError);
    EXPECT_EQ(q.Task(0).StatusText, "Upload failed because the program was improperly terminated");
    EXPECT_EQ(q.Task(0).StatusText, ResString(rmImproperlyTerminated));
    EXPECT_EQ(q.Task(0).ResumeInfo, "upserver=ftp3\r\n");
}

TEST(JobsFile, FinishedTaskIsSavedAsTheFinishedRecordItBecomes) {
    TUploadQueue q;
    q.AppendFinished(Fin("/done-before"));
    for (const char* name : {"/a", "/b", "/c", "/d"}) {
        TUploadJobData t;
        t.FileName = name;
        t.State = (name[1] == 'b' || name[1] == 'd') ? jsFinished : jsQueued;
        t.StartTime = 45000.25;
        t.EndTime = name[1] == 'b' ? 45000.5 : 45000.4; // /d finished first
        t.StatusText = std::string("download-link=") + name + "\r\n";
        q.AppendTask(std::move(t));
    }
    TUploadQueue loaded;
    TReports reports;
    ASSERT_TRUE(LoadJobsFromBytes(loaded, JobsToBytes(q), reports.Reporter()));
    EXPECT_TRUE(reports.Items.empty());
    ASSERT_EQ(loaded.TaskCount(), 2u);
    EXPECT_EQ(loaded.Task(0).FileName, "/a");
    EXPECT_EQ(loaded.Task(1).FileName, "/c");
    // The scheduler appends them in the order they finished: /d, then /b.
    ASSERT_EQ(loaded.FinishedCount(), 3u);
    EXPECT_EQ(loaded.Finished(0).FileName, "/done-before");
    EXPECT_EQ(loaded.Finished(1).FileName, "/d");
    EXPECT_EQ(loaded.Finished(2).FileName, "/b");
    EXPECT_EQ(loaded.Finished(2).Result, "download-link=/b\r\n");
    EXPECT_EQ(loaded.Finished(2).StartTime, 45000.25);
    EXPECT_EQ(loaded.Finished(2).EndTime, 45000.5);
}

// A snapshot that copies the finished list's bytes from the last one must write exactly what a
// snapshot from scratch writes, whatever happened to the list in between.
TEST(JobsFile, SnapshotThroughTheFinishedCacheEqualsOneFromScratchAfterEveryKindOfChange) {
    std::mt19937 random(7);
    auto pick = [&](std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(random); };
    auto queue = std::make_unique<TUploadQueue>();
    TFinishedBytesCache cache;
    int serial = 0;
    auto record = [&] {
        const std::string n = std::to_string(++serial);
        return Fin("/f" + n, "download-link=" + n);
    };
    for (int i = 0; i < 20; ++i)
        queue->AppendFinished(record());
    std::string cached;
    for (int step = 0; step < 400; ++step) {
        TUploadQueue& q = *queue;
        const std::size_t n = q.FinishedCount();
        const int kind = int(pick(9));
        switch (kind) {
        case 0: // the usual change: one more upload done
            q.AppendFinished(record());
            break;
        case 1: { // a task that finished moves over
            TUploadJobData t;
            t.FileName = "/t" + std::to_string(++serial);
            t.State = jsFinished;
            t.StatusText = "download-link=t\r\n";
            q.MoveToFinished(q.AppendTask(std::move(t)));
            break;
        }
        case 2:
            if (n > 0)
                q.DeleteFinished(pick(n));
            break;
        case 3: {
            std::vector<TJobId> ids;
            for (TJobId id : q.FinishedIds())
                if (pick(4) == 0)
                    ids.push_back(id);
            q.DeleteFinishedRecords(ids);
            break;
        }
        case 4:
            if (n > 1)
                q.MoveFinished(pick(n), pick(n));
            break;
        case 5: {
            std::vector<std::size_t> order(n);
            for (std::size_t i = 0; i < n; ++i)
                order[i] = i;
            std::shuffle(order.begin(), order.end(), random);
            q.ReorderFinished(order);
            break;
        }
        case 6: { // everything read anew from another file, as many records as before
            TUploadQueue other;
            for (std::size_t i = 0; i < n; ++i)
                other.AppendFinished(record());
            q.Clear();
            ASSERT_TRUE(LoadJobsFromBytes(q, JobsToBytes(other), {}));
            break;
        }
        case 7: { // another queue in the same place, with as many records
            queue = std::make_unique<TUploadQueue>();
            for (std::size_t i = 0; i < n; ++i)
                queue->AppendFinished(record());
            break;
        }
        default: { // the tasks change, the finished list does not
            TUploadJobData t;
            t.FileName = "/queued" + std::to_string(++serial);
            q.AppendTask(std::move(t));
            break;
        }
        }
        JobsToBytes(*queue, cached, cache);
        ASSERT_EQ(cached, JobsToBytes(*queue)) << "step " << step << ", change " << kind;
    }
}

TEST(JobsFile, FileCutAtEveryPositionKeepsTheCompleteEntriesAndReportsOnce) {
    const std::vector<std::string> entries = SampleEntries();
    std::string all;
    std::set<std::size_t> boundaries{0};
    for (const std::string& e : entries) {
        all += e;
        boundaries.insert(all.size());
    }
    for (std::size_t cut = 0; cut < all.size(); ++cut) {
        TUploadQueue q;
        TReports reports;
        const bool ok = LoadJobsFromBytes(q, std::string_view(all).substr(0, cut), reports.Reporter());
        std::size_t complete = 0, end = 0;
        for (const std::string& e : entries)
            if ((end += e.size()) <= cut)
                ++complete;
        const bool atBoundary = boundaries.count(cut) != 0;
        ASSERT_EQ(Loaded(q), complete) << "cut at " << cut;
        ASSERT_EQ(ok, atBoundary) << "cut at " << cut;
        ASSERT_EQ(reports.Items.size(), atBoundary ? 0u : 1u) << "cut at " << cut;
        if (!atBoundary) {
            EXPECT_EQ(reports.Items[0].first, "Error");
            EXPECT_NE(reports.Items[0].second.find("damaged"), std::string::npos) << reports.Items[0].second;
        }
    }
}

TEST(JobsFile, BytesOtherThanTheMarkerAreSkipped) {
    const std::vector<std::string> entries = SampleEntries();
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> len(0, 9), byte(1, 255);
    std::string file;
    for (const std::string& e : entries) {
        for (int n = len(rng); n > 0; --n)
            file.push_back(static_cast<char>(byte(rng)));
        file += e;
    }
    file += "\x01\xff trailing noise";
    TUploadQueue want, got;
    FillSample(want);
    TReports reports;
    ASSERT_TRUE(LoadJobsFromBytes(got, file, reports.Reporter()));
    EXPECT_TRUE(reports.Items.empty());
    ExpectSameQueue(got, want);
}

TEST(JobsFile, HostileContentEndsTheLoadWithAClearErrorKeepingWhatCameBefore) {
    const std::string good = SampleEntries().front();
    struct {
        const char* Name;
        std::string Tail;
        const char* Says;
    } cases[] = {
        {"length far beyond the data", Bytes({0, 0, 0xff, 0xff, 0xff, 0x7f, 'a', 'b'}), "damaged"},
        {"length one beyond the data", Bytes({0, 0, 3, 0, 0, 0, 'a', 'b'}), "damaged"},
        {"negative length", Bytes({0, 4, 0xff, 0xff, 0xff, 0xff, 'a'}), "damaged"},
        {"fixed field cut short", Bytes({0, 3, 0, 0, 0, 0, 1, 2, 3}), "damaged"},
        {"marker without kind", Bytes({0}), "damaged"},
        {"kind 5", Bytes({0, 5}) + good, "unknown kind 5"},
        {"kind 255", Bytes({0, 0xff}) + good, "unknown kind 255"},
    };
    for (const auto& c : cases) {
        TUploadQueue q;
        TReports reports;
        EXPECT_FALSE(LoadJobsFromBytes(q, good + c.Tail + good, reports.Reporter())) << c.Name;
        EXPECT_EQ(q.TaskCount(), 1u) << c.Name;
        ASSERT_EQ(reports.Items.size(), 1u) << c.Name;
        EXPECT_EQ(reports.Items[0].first, "Error");
        EXPECT_NE(reports.Items[0].second.find(c.Says), std::string::npos)
            << c.Name << ": " << reports.Items[0].second;
        EXPECT_NE(reports.Items[0].second.find("1 entry before it"), std::string::npos)
            << reports.Items[0].second;
    }
}

TEST(JobsFile, ReadReportsWhereTheDamageIs) {
    const std::string good = SampleEntries().front();
    const TJobsReadResult r = ReadJobsFromBytes(good + "\x07\x07" + Bytes({0, 9}), "x.jobs");
    EXPECT_FALSE(r.Ok);
    EXPECT_EQ(r.ErrorOffset, static_cast<std::int64_t>(good.size() + 2));
    EXPECT_EQ(r.Tasks.size(), 1u);
    EXPECT_NE(r.ErrorText.find("\"x.jobs\""), std::string::npos);
}

TEST(JobsFile, MissingOrEmptyFileGivesEmptyListsAndNoMessage) {
    const std::string path = JobsPath();
    for (bool create : {false, true}) {
        if (create)
            WriteAll(path, "");
        TUploadQueue q;
        TReports reports;
        EXPECT_TRUE(LoadJobs(q, path, reports.Reporter()));
        EXPECT_EQ(Loaded(q), 0u);
        EXPECT_TRUE(reports.Items.empty());
    }
}

TEST(JobsFile, DamagedFileIsReportedOnceAndKeptBesideForTheUser) {
    const std::string path = JobsPath();
    const std::vector<std::string> entries = SampleEntries();
    const std::string damaged = entries[0] + entries[1] + entries[2].substr(0, 10);
    WriteAll(path, damaged);
    TUploadQueue q;
    TReports reports;
    EXPECT_FALSE(LoadJobs(q, path, reports.Reporter()));
    EXPECT_EQ(q.TaskCount(), 2u);
    ASSERT_EQ(reports.Items.size(), 1u);
    EXPECT_EQ(reports.Items[0].first, "Error");
    EXPECT_NE(reports.Items[0].second.find(path + ".damaged"), std::string::npos) << reports.Items[0].second;
    EXPECT_EQ(ReadAll(path + ".damaged"), damaged);
}

// What a crashed file system can leave: the file's length, but only zero bytes. Read naively,
// 1 MiB of zeros is 27,594 tasks without a file name or method.
TEST(JobsFile, AFileOfZerosIsDamageNotThousandsOfEmptyTasks) {
    const std::string path = JobsPath();
    const std::string good = SampleEntries().front();
    const std::string zeros(1 << 20, '\0');
    struct {
        const char* Name;
        std::string File;
        std::size_t Kept;
    } cases[] = {
        {"only zeros", zeros, 0},
        {"zeros after an entry", good + zeros, 1},
        {"one blank finished entry", Bytes({0, 3}) + std::string(44, '\0') + good, 0},
    };
    for (const auto& c : cases) {
        WriteAll(path, c.File);
        TUploadQueue q;
        TReports reports;
        EXPECT_FALSE(LoadJobs(q, path, reports.Reporter())) << c.Name;
        EXPECT_EQ(Loaded(q), c.Kept) << c.Name;
        ASSERT_EQ(reports.Items.size(), 1u) << c.Name;
        EXPECT_EQ(reports.Items[0].first, "Error");
        EXPECT_NE(reports.Items[0].second.find("empty entry"), std::string::npos) << reports.Items[0].second;
        EXPECT_NE(reports.Items[0].second.find(path + ".damaged"), std::string::npos)
            << reports.Items[0].second;
        EXPECT_EQ(ReadAll(path + ".damaged"), c.File) << c.Name;
    }
    // A task that only lacks a file name and a method is still read: it carries other data.
    TUploadJobData sparse;
    sparse.State = jsError;
    sparse.StatusText = "err";
    TUploadQueue one;
    one.AppendTask(std::move(sparse));
    TUploadQueue back;
    TReports reports;
    EXPECT_TRUE(LoadJobsFromBytes(back, JobsToBytes(one), reports.Reporter()));
    EXPECT_EQ(back.TaskCount(), 1u);
}

TEST(JobsFile, PathThatIsNoRegularFileIsReported) {
    const std::string dir = test::MakeScratchDir(QStringLiteral("dir")).toStdString();
    ASSERT_EQ(::mkfifo((dir + "/fifo").c_str(), 0600), 0);
    for (const std::string& path : {dir, dir + "/fifo", std::string("/dev/zero")}) {
        TUploadQueue q;
        TReports reports;
        EXPECT_FALSE(LoadJobs(q, path, reports.Reporter())) << path;
        ASSERT_EQ(reports.Items.size(), 1u) << path;
        EXPECT_EQ(reports.Items[0].first, "Error");
        EXPECT_NE(reports.Items[0].second.find("\"" + path + "\""), std::string::npos)
            << reports.Items[0].second;
        EXPECT_EQ(Loaded(q), 0u);
    }
}

TEST(JobsFile, SaveCreatesTheFolderAndReplacesTheOldFile) {
    const std::string path =
        test::MakeScratchDir(QStringLiteral("save")).toStdString() + "/not/yet/there/quillo.jobs";
    TUploadQueue q;
    FillSample(q);
    TReports reports;
    ASSERT_TRUE(SaveJobs(q, path, reports.Reporter()));
    EXPECT_EQ(ReadAll(path), JobsToBytes(q));
    q.DeleteTask(0);
    ASSERT_TRUE(SaveJobs(q, path, reports.Reporter()));
    EXPECT_EQ(ReadAll(path), JobsToBytes(q));
    EXPECT_TRUE(reports.Items.empty());
    // No temporary file is left behind.
    const QStringList left = QFileInfo(QString::fromStdString(path)).dir().entryList(QDir::Files);
    EXPECT_EQ(left, QStringList{QStringLiteral("quillo.jobs")});
}

TEST(JobsFile, FailedSaveIsReportedAndLeavesTheOldFile) {
    const std::string dir = test::MakeScratchDir(QStringLiteral("fail")).toStdString();
    TUploadQueue q;
    FillSample(q);
    TReports reports;
    // The target is a folder holding a file: the rename cannot replace it.
    QDir().mkpath(QString::fromStdString(dir + "/quillo.jobs"));
    WriteAll(dir + "/quillo.jobs/keep", "old");
    EXPECT_FALSE(SaveJobs(q, dir + "/quillo.jobs", reports.Reporter()));
    // The folder cannot be created because a file is in the way.
    WriteAll(dir + "/plain", "old");
    EXPECT_FALSE(SaveJobs(q, dir + "/plain/quillo.jobs", reports.Reporter()));
    ASSERT_EQ(reports.Items.size(), 2u);
    for (const auto& r : reports.Items) {
        EXPECT_EQ(r.first, "Error");
        EXPECT_NE(r.second.find("Cannot save the jobs file"), std::string::npos) << r.second;
    }
    EXPECT_EQ(ReadAll(dir + "/quillo.jobs/keep"), "old");
    EXPECT_EQ(ReadAll(dir + "/plain"), "old");
}

// A process killed at any moment while it saves leaves the old or the new file, whole.
TEST(JobsFile, KillDuringSaveLeavesOldOrNewFile) {
    TUploadQueue a, b;
    for (int i = 0; i < 3000; ++i) {
        TUploadJobData t;
        t.State = jsQueued;
        t.FileName = "/home/user/files/a" + std::to_string(i);
        a.AppendTask(std::move(t));
    }
    for (int i = 0; i < 2000; ++i)
        b.AppendFinished(Fin("/b" + std::to_string(i), std::string(60, 'r')));
    const std::string bytesA = JobsToBytes(a), bytesB = JobsToBytes(b);
    const std::string path = JobsPath();
    ASSERT_TRUE(SaveJobs(a, path, {}));

    std::mt19937 rng(12345);
    std::uniform_int_distribution<int> delayUs(0, 40000);
    int sawA = 0, sawB = 0;
    for (int round = 0; round < 40; ++round) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGKILL); // never outlive a test run that dies
            for (unsigned n = 0;; ++n)
                SaveJobs(n % 2 ? a : b, path, {});
        }
        ::usleep(static_cast<useconds_t>(delayUs(rng)));
        ::kill(child, SIGKILL);
        int status = 0;
        ::waitpid(child, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status));
        const std::string now = ReadAll(path);
        ASSERT_TRUE(now == bytesA || now == bytesB) << "round " << round << ": " << now.size() << " bytes";
        (now == bytesA ? sawA : sawB)++;
        TUploadQueue q;
        TReports reports;
        EXPECT_TRUE(LoadJobs(q, path, reports.Reporter()));
        EXPECT_TRUE(reports.Items.empty());
    }
    RecordProperty("old_file_seen", sawA);
    RecordProperty("new_file_seen", sawB);
}
