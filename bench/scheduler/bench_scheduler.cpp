// Two figures of the queue scheduler:
//  1. 1,000 small files uploaded with the HTTP method through the scheduler against the stand-in
//     service on loopback, in files per second, next to curl posting the same files one process
//     per file (the reference of the same run). The tick is driven every 10 ms instead of every
//     second, so that the scheduler's own work is measured; with the real one-second timer a
//     queue of small files cannot go faster than ParallelThreads files per second.
//  2. The cost of one tick with 100,000 tasks in the queue: an idle tick (nothing to start or
//     collect, every task walked), and a tick that collects one finished task (which writes the
//     jobs file), next to a bare loop over the same records.
// Usage: bench_scheduler [files=1000] [tasks=100000]
#include "common/BenchSupport.h"
#include "core/app/DataFolder.h"
#include "core/app/Settings.h"
#include "core/engine/PluginManager.h"
#include "core/queue/Scheduler.h"
#include "support/BrimvaultService.h"
#include "support/TestEnvironment.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

using namespace quillo;
using namespace quillo::bench;

namespace {

// Touches every cache line of a 64 MiB buffer, so that the task records are out of the caches
// again, as they are between two real ticks a second apart.
void EvictCaches(std::vector<char>& evict) {
    for (std::size_t i = 0; i < evict.size(); i += 64)
        evict[i] = char(evict[i] + 1);
}

// Milliseconds of one tick.
double TimeTick(TScheduler& scheduler) {
    QElapsedTimer t;
    t.start();
    scheduler.TimerTimer();
    return t.nsecsElapsed() / 1e6;
}

double UploadThroughScheduler(const std::vector<QString>& files, int parallel) {
    TUploadQueue queue;
    TSchedulerOptions options;
    options.OwnTimer = false;
    options.JobsFile = JobsFileName();
    TScheduler scheduler(queue, options);
    UpdateSettings([&](TAppSettings& s) { s.UploadManager.ParallelThreads = parallel; });
    for (const QString& f : files)
        scheduler.SetTaskState(queue.AddTask(f.toStdString(), "", "", HttpMethodName), jsQueued, false);
    QElapsedTimer t;
    t.start();
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        scheduler.TimerTimer();
        if (queue.TaskCount() == 0)
            QCoreApplication::exit(0);
    });
    ticker.start(10);
    QCoreApplication::exec();
    const double seconds = t.nsecsElapsed() / 1e9;
    if (queue.FinishedCount() != files.size())
        std::printf("  warning: only %zu of %zu uploads finished\n", queue.FinishedCount(), files.size());
    return files.size() / seconds;
}

double UploadWithCurl(const std::vector<QString>& files, const QString& url) {
    QElapsedTimer t;
    t.start();
    for (const QString& f : files) {
        QProcess curl;
        curl.start("curl", {"-s", "-o", "/dev/null", "--noproxy", "*", "-F", "FILE1=@" + f, url});
        curl.waitForFinished(30000);
    }
    return files.size() / (t.nsecsElapsed() / 1e9);
}

void TickCost(int tasks) {
    TUploadQueue queue;
    std::vector<TUploadJobData> records(static_cast<std::size_t>(tasks));
    for (int i = 0; i < tasks; ++i) {
        TUploadJobData& r = records[std::size_t(i)];
        r.State = (i % 3 == 0) ? jsError : jsDelayed;
        r.FileName = "/data/files/file-" + std::to_string(i) + ".bin";
        r.FileSize = 1000 + i;
        r.Method = HttpMethodName;
        r.StatusText = r.State == jsError ? "Connection refused" : "";
    }
    queue.AppendAll(std::move(records), {});
    TSchedulerOptions options;
    options.OwnTimer = false;
    TScheduler scheduler(queue, options);
    UpdateSettings([&](TAppSettings& s) { s.UploadManager.ParallelThreads = 2; });

    // Between two real ticks a second passes and the records leave the caches: evict them.
    std::vector<char> evict(64 << 20);
    std::vector<double> idle, bare, collect;
    for (int round = 0; round < 30; ++round) {
        EvictCaches(evict);
        idle.push_back(TimeTick(scheduler));

        EvictCaches(evict);
        QElapsedTimer t;
        t.start();
        int count = 0;
        for (std::size_t i = 0; i < queue.TaskCount(); ++i)
            count += queue.Task(i).State == jsQueued ? 1 : 0;
        bare.push_back(t.nsecsElapsed() / 1e6);
        if (count < 0)
            std::puts("");
    }
    for (int round = 0; round < 5; ++round) {
        queue.Task(std::size_t(round * 1000)).State = jsFinished;
        collect.push_back(TimeTick(scheduler));
    }
    const double jobsMb = QFile(QString::fromStdString(JobsFileName())).size() / 1048576.0;
    std::printf("tick with %d tasks, idle (every task walked), caches cold: median %.2f ms\n", tasks,
                Median(idle));
    std::printf("  reference, one bare loop reading each State, caches cold:  median %.2f ms  (ratio %.1f)\n",
                Median(bare), Median(bare) > 0 ? Median(idle) / Median(bare) : 0.0);
    std::printf("tick that collects one finished task and writes the jobs file (%.1f MB): median %.1f ms\n",
                jobsMb, Median(collect));

    // Every task Queued and no slot free (the limit reached): the tick still walks them all.
    for (std::size_t i = 0; i < queue.TaskCount(); ++i)
        queue.Task(i).State = jsQueued;
    UpdateSettings([&](TAppSettings& s) { s.UploadManager.ParallelThreads = 0; });
    std::vector<double> full;
    for (int round = 0; round < 30; ++round) {
        EvictCaches(evict);
        full.push_back(TimeTick(scheduler));
    }
    std::printf("tick with %d Queued tasks and no free slot, caches cold: median %.2f ms\n", tasks,
                Median(full));
}

} // namespace

int main(int argc, char** argv) {
    test::InstallTestEnvironment();
    QCoreApplication app(argc, argv);
    const int fileCount = argc > 1 ? std::atoi(argv[1]) : 1000;
    const int taskCount = argc > 2 ? std::atoi(argv[2]) : 100000;

    test::TBrimvaultService service;
    if (!service.Start()) {
        std::fprintf(stderr, "cannot start the stand-in service: %s\n", qPrintable(service.ErrorText()));
        return 1;
    }
    ::setenv("QUILLO_SITE", service.SiteHost().toUtf8().constData(), 1);
    RegisterBuiltinUploaders();
    UpdateSettings([](TAppSettings& s) { s.UploadManager.CalculateMD5 = true; });

    const QString dir = test::MakeScratchDir("bench-files");
    std::vector<QString> files;
    for (int i = 0; i < fileCount; ++i) {
        const QString path = dir + QStringLiteral("/small-%1.txt").arg(i);
        QFile f(path);
        f.open(QIODevice::WriteOnly);
        f.write(QByteArray(2048 + i, char('a' + i % 26)));
        files.push_back(path);
    }
    std::printf("%d small files (2-3 KB) over HTTP to the stand-in on loopback\n", fileCount);
    for (int parallel : {1, 4}) {
        const double rate = UploadThroughScheduler(files, parallel);
        std::printf("  scheduler, ParallelThreads %d:             %.1f files/s\n", parallel, rate);
        if (parallel == 4) {
            const std::vector<QString> sample(files.begin(),
                                              files.begin() + std::min<std::size_t>(files.size(), 200));
            const double curlRate = UploadWithCurl(sample, service.UploadUrl());
            std::printf("  reference, curl one process per file:       %.1f files/s  (ratio %.2f)\n",
                        curlRate, curlRate > 0 ? rate / curlRate : 0.0);
        }
    }
    service.Stop();
    TickCost(taskCount);
    return 0;
}
