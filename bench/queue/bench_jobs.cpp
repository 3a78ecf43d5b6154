// Jobs-file throughput and memory: builds a queue of N tasks and N finished records (default
// 100,000 each), saves it, loads it back and prints the times, the file size and the peak memory
// of a process that only loads, relative to the file size. References measured in the same run:
// reading the file's bytes into memory (for the load), writing them to a file with fsync (for the
// save) and copying them in memory (for the snapshot a save takes on the user-interface thread);
// and the snapshot after one more finished upload through the finished list's cache, against the
// same snapshot from scratch.
// Works in a temporary folder only.
//
//   bench_jobs [N]
//   bench_jobs --load FILE     (the child that measures a load alone)
//   QUILLO_BENCH_KEEP=FILE bench_jobs   keeps the saved jobs file there

#include "common/BenchSupport.h"
#include "core/queue/JobsFile.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

using namespace quillo;
using namespace quillo::bench;

namespace {

void Report(const std::string& caption, const std::string& text) {
    std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
}

void Fill(TUploadQueue& q, int n) {
    std::vector<TUploadJobData> tasks;
    std::vector<TFinishedUploadJobData> finished;
    tasks.reserve(n);
    finished.reserve(n);
    for (int i = 0; i < n; ++i) {
        TUploadJobData t;
        t.State = static_cast<TJobState>(i % 3 == 2 ? jsError : i % 2);
        t.FileName = "/home/user/Videos/holiday-2026/clip-" + std::to_string(100000 + i) + ".mp4";
        t.FileSize = 700'000'000LL + i;
        if (i % 4 == 0)
            t.UploadName = "Kqwe_ab" + std::to_string(i % 89) + ".mpeg";
        t.Method = i % 5 ? "HTTP Method" : "FTP Method";
        if (t.State == jsError) {
            t.StatusText = "Socket Error # 10054 Connection reset by peer.";
            t.ResumeInfo = "upserver=ftp" + std::to_string(i % 7) + ".brimvault.com\r\n";
        }
        tasks.push_back(std::move(t));

        TFinishedUploadJobData f;
        f.FileName = "/home/user/Documents/reports/report-" + std::to_string(i) + ".pdf";
        f.FileSize = 1'234'567 + i;
        f.Method = "HTTP Method";
        f.StartTime = 46000.0 + i / 1440.0;
        f.EndTime = f.StartTime + 0.001;
        const std::string id = std::to_string(7'000'000 + i);
        f.Result = "download-link=http://brimvault.com/d/" + id + "/report-" + std::to_string(i) +
                   ".pdf\r\nkill-link=http://brimvault.com/kill/" + id +
                   "/8f2a61c0\r\nMD5=0123456789abcdef0123456789abcdef\r\n";
        finished.push_back(std::move(f));
    }
    q.AppendAll(std::move(tasks), std::move(finished));
}

int LoadOnly(const std::string& file) {
    const long before = RssKb();
    const auto start = TClock::now();
    TUploadQueue q;
    const bool ok = LoadJobs(q, file, Report);
    const double ms = MsSince(start);
    std::printf("%d %.1f %ld %ld %zu %zu\n", ok ? 1 : 0, ms, before, PeakRssKb(), q.TaskCount(),
                q.FinishedCount());
    return ok ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == "--load")
        return LoadOnly(argv[2]);
    QCoreApplication app(argc, argv);
    const int n = argc > 1 ? std::atoi(argv[1]) : 100000;
    QTemporaryDir dir;
    if (!dir.isValid())
        return 1;
    // QUILLO_BENCH_KEEP names a file to keep the saved jobs in (for profiling the load by hand).
    const char* keep = std::getenv("QUILLO_BENCH_KEEP");
    const std::string file =
        keep && *keep ? std::string(keep) : dir.filePath(QStringLiteral("quillo.jobs")).toStdString();

    auto start = TClock::now();
    TUploadQueue q;
    Fill(q, n);
    const double buildMs = MsSince(start);

    start = TClock::now();
    if (!SaveJobs(q, file, Report))
        return 1;
    const double saveMs = MsSince(start);
    const qint64 size = QFile(QString::fromStdString(file)).size();

    // Reference for saving: the same bytes written to a fresh file and flushed to disk.
    const std::string bytes = JobsToBytes(q);
    start = TClock::now();
    {
        const std::string ref = file + ".ref";
        const int fd = ::open(ref.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (fd < 0 || ::write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()) ||
            ::fsync(fd))
            return 1;
        ::close(fd);
    }
    const double writeRefMs = MsSince(start);

    // The part of a save that stays on the user-interface thread (the background writer does the
    // rest): the snapshot of the lists, against copying the same bytes into a fresh string.
    std::vector<double> snapshot, copy;
    for (int round = 0; round < 5; ++round) {
        start = TClock::now();
        const std::string taken = JobsToBytes(q);
        snapshot.push_back(MsSince(start));
        start = TClock::now();
        std::string copied(taken.size(), '\0');
        std::memcpy(copied.data(), taken.data(), taken.size());
        copy.push_back(MsSince(start));
        if (copied != taken)
            return 1;
    }

    // What a finished upload costs the user-interface thread: one more finished record, then the
    // snapshot through the cache of the finished list's bytes the scheduler keeps, against the
    // same snapshot from scratch. Both must give the same bytes.
    std::vector<double> cachedSnapshot, freshSnapshot;
    {
        TFinishedBytesCache cache;
        std::string taken, fresh;
        JobsToBytes(q, taken, cache);
        JobsToBytes(q, fresh);
        for (int round = 0; round < 5; ++round) {
            TFinishedUploadJobData more;
            more.FileName = "/home/user/more-" + std::to_string(round) + ".bin";
            more.Method = "HTTP Method";
            more.Result = "download-link=http://example.invalid/d/more\r\n";
            q.AppendFinished(std::move(more));
            start = TClock::now();
            JobsToBytes(q, taken, cache);
            cachedSnapshot.push_back(MsSince(start));
            start = TClock::now();
            JobsToBytes(q, fresh);
            freshSnapshot.push_back(MsSince(start));
            if (fresh != taken)
                return 1;
        }
        for (int round = 0; round < 5; ++round)
            q.DeleteFinished(q.FinishedCount() - 1);
    }

    // Reference for loading: the file's bytes read into memory (warm cache, as for the load).
    start = TClock::now();
    QFile raw(QString::fromStdString(file));
    if (!raw.open(QIODevice::ReadOnly))
        return 1;
    const QByteArray all = raw.readAll();
    const double readRefMs = MsSince(start);

    start = TClock::now();
    TUploadQueue loaded;
    const bool ok = LoadJobs(loaded, file, Report);
    const double loadMs = MsSince(start);
    if (!ok || loaded.TaskCount() != q.TaskCount() || loaded.FinishedCount() != q.FinishedCount() ||
        JobsToBytes(loaded) != bytes) {
        std::fprintf(stderr, "load did not give back what was saved\n");
        return 1;
    }

    // Memory of a load alone, in a fresh process.
    QProcess child;
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--load"), QString::fromStdString(file)});
    child.waitForFinished(-1);
    int childOk = 0;
    double childMs = 0;
    long rssBefore = 0, rssPeak = 0;
    std::size_t childTasks = 0, childFinished = 0;
    std::sscanf(child.readAllStandardOutput().constData(), "%d %lf %ld %ld %zu %zu", &childOk, &childMs,
                &rssBefore, &rssPeak, &childTasks, &childFinished);

    const double mb = static_cast<double>(size) / 1048576.0;
    std::printf("jobs file: %d tasks + %d finished records, %.1f MB (%lld bytes)\n", n, n, mb,
                static_cast<long long>(size));
    std::printf("build queue in memory: %8.1f ms\n", buildMs);
    std::printf("save (write, fsync, rename): %8.1f ms   reference write+fsync: %8.1f ms   ratio %.2f\n",
                saveMs, writeRefMs, saveMs / writeRefMs);
    std::printf("snapshot (JobsToBytes):      %8.1f ms   reference copy:        %8.1f ms   ratio %.1f   "
                "(the user-interface thread's part of a save)\n",
                Median(snapshot), Median(copy), Median(snapshot) / Median(copy));
    std::printf("snapshot after one more finished upload, through the finished list's cache: %.1f ms   "
                "from scratch: %.1f ms   ratio %.2f\n",
                Median(cachedSnapshot), Median(freshSnapshot), Median(cachedSnapshot) / Median(freshSnapshot));
    std::printf("load:                        %8.1f ms   reference read:        %8.1f ms   ratio %.1f   "
                "(%.0f MB/s)\n",
                loadMs, readRefMs, loadMs / readRefMs, mb / (loadMs / 1000.0));
    std::printf(
        "load in a fresh process:     %8.1f ms   peak RSS %.1f MB, of which %.1f MB for the load = %.2f x "
        "file size (%zu + %zu records)\n",
        childMs, rssPeak / 1024.0, (rssPeak - rssBefore) / 1024.0,
        static_cast<double>(rssPeak - rssBefore) * 1024.0 / static_cast<double>(size), childTasks,
        childFinished);
    return childOk ? 0 : 1;
}
