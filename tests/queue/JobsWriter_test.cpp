// The background writer of the jobs file: order, coalescing, failures, and what a kill -9 at any
// moment leaves on disk.
#include "core/queue/JobsFile.h"
#include "core/queue/JobsWriter.h"

#include "support/TestEnvironment.h"

#include <QFile>

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <random>
#include <signal.h>
#include <string>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace quillo;

namespace {

std::string ReadAll(const std::string& path) {
    QFile f(QString::fromStdString(path));
    return f.open(QIODevice::ReadOnly) ? f.readAll().toStdString() : std::string("<missing>");
}

std::string Folder() {
    return test::MakeScratchDir(QStringLiteral("writer")).toStdString();
}

// Holds every write open at its start until released; records the files in the order written.
struct THeldWrites {
    std::mutex Lock;
    std::condition_variable Changed;
    std::vector<std::string> Started;
    bool Released = false;

    TJobsWriter::TOptions Options() {
        TJobsWriter::TOptions o;
        o.BeforeWrite = [this](const std::string& file) {
            std::unique_lock<std::mutex> l(Lock);
            Started.push_back(file);
            Changed.notify_all();
            Changed.wait(l, [this] { return Released; });
        };
        return o;
    }
    bool WaitForStarts(std::size_t n) {
        std::unique_lock<std::mutex> l(Lock);
        return Changed.wait_for(l, std::chrono::seconds(10), [&] { return Started.size() >= n; });
    }
    void Release() {
        {
            std::lock_guard<std::mutex> l(Lock);
            Released = true;
        }
        Changed.notify_all();
    }
};

TEST(JobsWriter, SnapshotsWaitingBehindAWriteBecomeTheNewestOfThem) {
    const std::string dir = Folder();
    const std::string a = dir + "/a.jobs", b = dir + "/b.jobs";
    THeldWrites held;
    TJobsWriter writer(held.Options());
    EXPECT_EQ(writer.Submit(a, "a1"), 1u);
    ASSERT_TRUE(held.WaitForStarts(1));
    // Waiting behind the held write: a2 is replaced by a3; b1 is another file and keeps its
    // place in line, so a4 comes after it instead of replacing a3.
    writer.Submit(a, "a2");
    writer.Submit(a, "a3");
    writer.Submit(b, "b1");
    EXPECT_EQ(writer.Submit(a, "a4"), 5u);
    held.Release();
    writer.Wait();
    EXPECT_EQ(held.Started, (std::vector<std::string>{a, a, b, a}));
    EXPECT_EQ(ReadAll(a), "a4");
    EXPECT_EQ(ReadAll(b), "b1");
    EXPECT_EQ(writer.Completed(), 5u);
    std::vector<std::uint64_t> seqs;
    for (const TJobsWriter::TOutcome& o : writer.TakeOutcomes()) {
        EXPECT_TRUE(o.Ok) << o.Error;
        seqs.push_back(o.Seq);
    }
    EXPECT_EQ(seqs, (std::vector<std::uint64_t>{1, 3, 4, 5}));
    EXPECT_TRUE(writer.TakeOutcomes().empty());
}

TEST(JobsWriter, AFailedWriteIsAnOutcomeAndTheNextOneStillHappens) {
    const std::string dir = Folder();
    QFile blocker(QString::fromStdString(dir + "/file"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    TJobsWriter writer;
    writer.Submit(dir + "/file/quillo.jobs", "x");
    writer.Wait();
    writer.Submit(dir + "/quillo.jobs", "y");
    writer.Wait();
    const std::vector<TJobsWriter::TOutcome> outcomes = writer.TakeOutcomes();
    ASSERT_EQ(outcomes.size(), 2u);
    EXPECT_FALSE(outcomes[0].Ok);
    EXPECT_NE(outcomes[0].Error.find("Cannot create the folder"), std::string::npos) << outcomes[0].Error;
    EXPECT_TRUE(outcomes[1].Ok);
    EXPECT_EQ(ReadAll(dir + "/quillo.jobs"), "y");
}

TEST(JobsWriter, DestroyingItWritesWhatIsStillWaiting) {
    const std::string path = Folder() + "/quillo.jobs";
    THeldWrites held;
    {
        TJobsWriter writer(held.Options());
        writer.Submit(path, "old");
        ASSERT_TRUE(held.WaitForStarts(1));
        writer.Submit(path, "new");
        held.Release();
    }
    EXPECT_EQ(ReadAll(path), "new");
}

// A queue whose jobs file names its generation n in every entry and whose size changes with n,
// so that a torn or mixed file cannot pass for a whole one.
std::string Generation(unsigned n) {
    TUploadQueue q;
    for (unsigned i = 0; i < 200 + (n % 7) * 150; ++i) {
        TUploadJobData t;
        t.State = jsQueued;
        t.FileName = "/gen/" + std::to_string(n) + "/" + std::to_string(i);
        t.Method = "HTTP Method";
        q.AppendTask(std::move(t));
    }
    return JobsToBytes(q);
}

// The generation a jobs file holds, or -1 when it is not one whole generation.
long GenerationOf(const std::string& bytes) {
    const TJobsReadResult r = ReadJobsFromBytes(bytes);
    if (!r.Ok || r.Tasks.empty())
        return -1;
    const std::string& name = r.Tasks.front()->FileName;
    const long n = std::stol(name.substr(5, name.find('/', 5) - 5));
    return Generation(static_cast<unsigned>(n)) == bytes ? n : -1;
}

// A process killed at any moment while its writer saves leaves a whole file, never older than the
// last write it had seen completed.
TEST(JobsWriter, KillDuringBackgroundSavesLeavesAWholeFileNoOlderThanTheLastCompletedWrite) {
    const std::string path = Folder() + "/quillo.jobs";
    std::mt19937 rng(4711);
    std::uniform_int_distribution<int> delayUs(2000, 60000);
    int rounds = 0, older = 0;
    for (int round = 0; round < 30; ++round) {
        int pipeFds[2];
        ASSERT_EQ(::pipe(pipeFds), 0);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGKILL); // never outlive a test run that dies
            ::close(pipeFds[0]);
            std::uint64_t reported = 0;
            std::vector<unsigned> generationOfSeq(1, 0);
            TJobsWriter writer;
            for (unsigned n = 1;; ++n) {
                generationOfSeq.push_back(n);
                writer.Submit(path, Generation(n));
                // Tell the parent, in order, which generation each completed write held.
                for (const TJobsWriter::TOutcome& o : writer.TakeOutcomes())
                    if (o.Ok && o.Seq > reported) {
                        reported = o.Seq;
                        const unsigned g = generationOfSeq[o.Seq];
                        if (::write(pipeFds[1], &g, sizeof g) != sizeof g)
                            ::_exit(3);
                    }
                ::usleep(300);
            }
        }
        ::close(pipeFds[1]);
        ::usleep(static_cast<useconds_t>(delayUs(rng)));
        ::kill(child, SIGKILL);
        int status = 0;
        ::waitpid(child, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the child ended by itself: " << status;
        long lastCompleted = 0;
        unsigned g;
        while (::read(pipeFds[0], &g, sizeof g) == sizeof g)
            lastCompleted = g;
        ::close(pipeFds[0]);
        const std::string now = ReadAll(path);
        if (now == "<missing>") {
            EXPECT_EQ(lastCompleted, 0) << "round " << round << ": a completed write was lost";
            continue;
        }
        const long onDisk = GenerationOf(now);
        ASSERT_GE(onDisk, 1) << "round " << round << ": a torn file of " << now.size() << " bytes";
        ASSERT_GE(onDisk, lastCompleted) << "round " << round << ": older than a completed write";
        older += onDisk > lastCompleted ? 1 : 0;
        ++rounds;
    }
    RecordProperty("rounds_with_a_file", rounds);
    RecordProperty("rounds_newer_than_reported", older);
}

} // namespace
