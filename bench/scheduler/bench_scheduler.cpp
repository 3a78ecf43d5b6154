// Two figures of the queue scheduler:
//  1. 1,000 small files uploaded with the HTTP method through the scheduler with its real
//     one-second timer against the stand-in service on loopback, at ParallelThreads 2 (and 1), in
//     files per second, next to curl posting the same files one process per file, one after the
//     other (the reference of the same run). A task that ends hands its slot over at once, so the
//     timer no longer caps the rate at ParallelThreads files per second.
//  2. The user-interface time with 100,000 tasks in the queue: an idle tick (every task walked),
//     and finishing one task: the longest single event the user-interface thread handled from the
//     task's last event until it sits in the finished list, and the sum of them (the jobs file is
//     written in the background meanwhile), next to the same save done on the user-interface
//     thread (what a tick that finished a task used to cost).
// Usage: bench_scheduler [files=1000] [tasks=100000]
#include "common/BenchSupport.h"
#include "core/app/DataFolder.h"
#include "core/app/Settings.h"
#include "core/engine/BrimvaultHttpUploader.h"
#include "core/engine/PluginManager.h"
#include "core/queue/JobsFile.h"
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
#include <functional>
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

// Measures how long the user-interface thread spends in each event it handles (outermost
// deliveries only), while Watch is set.
class TTimedApp final : public QCoreApplication {
public:
    using QCoreApplication::QCoreApplication;
    std::function<void(double Ms)> Watch;

    bool notify(QObject* Receiver, QEvent* Event) override {
        const bool timed = Watch && FDepth == 0;
        QElapsedTimer t;
        if (timed)
            t.start();
        ++FDepth;
        const bool r = QCoreApplication::notify(Receiver, Event);
        --FDepth;
        if (timed && Watch) // the event may have ended the watch
            Watch(t.nsecsElapsed() / 1e6);
        return r;
    }

private:
    int FDepth = 0;
};

// The real one-second timer runs the scheduler, as in the programs.
double UploadThroughScheduler(const std::vector<QString>& files, int parallel) {
    TUploadQueue queue;
    TSchedulerOptions options;
    options.JobsFile = JobsFileName();
    TScheduler scheduler(queue, options);
    UpdateSettings([&](TAppSettings& s) { s.UploadManager.ParallelThreads = parallel; });
    for (const QString& f : files)
        scheduler.SetTaskState(queue.AddTask(f.toStdString(), "", "", HttpMethodName), jsQueued, false);
    QElapsedTimer t;
    t.start();
    scheduler.ChangeTaskStates({jsUploading}, jsQueued); // as at start-up: switches the timer on
    QTimer::singleShot(0, [&] { scheduler.TimerTimer(); });
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (queue.TaskCount() == 0)
            QCoreApplication::exit(0);
    });
    poll.start(5);
    QCoreApplication::exec();
    const double seconds = t.nsecsElapsed() / 1e9;
    scheduler.SetTimerEnabled(false);
    scheduler.FlushJobs();
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

void TickCost(int tasks, TTimedApp& app, const QString& smallFile) {
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
    std::vector<double> idle, bare;
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
    std::printf("tick with %d tasks, idle (every task walked), caches cold: median %.2f ms\n", tasks,
                Median(idle));
    std::printf("  reference, one bare loop reading each State, caches cold:  median %.2f ms  (ratio %.1f)\n",
                Median(bare), Median(bare) > 0 ? Median(idle) / Median(bare) : 0.0);

    // Finishing one task: a small real upload at the end of the queue, the scheduler running.
    scheduler.SetTimerEnabled(true);
    std::vector<double> longest, total, onUiThread;
    for (int round = 0; round < 5; ++round) {
        const std::size_t index = queue.AddTask(smallFile.toStdString(), "", "", HttpMethodName);
        const TJobId id = queue.Task(index).Id();
        queue.Task(index).State = jsQueued;
        scheduler.TimerTimer();
        if (!queue.FindTask(id) || queue.FindTask(id)->State != jsUploading) {
            std::printf("  warning: the small upload did not start\n");
            return;
        }
        EvictCaches(evict);
        double maxMs = 0, sumMs = 0;
        bool finishing = false;
        app.Watch = [&](double ms) {
            const TUploadJobData* t = queue.FindTask(id);
            if (!finishing && (!t || t->State != jsUploading))
                finishing = true; // this event ended the upload
            if (finishing) {
                maxMs = std::max(maxMs, ms);
                sumMs += ms;
            }
            if (!t && queue.FinishedCount() > 0)
                QCoreApplication::exit(0);
        };
        QCoreApplication::exec();
        app.Watch = nullptr;
        scheduler.FlushJobs();
        longest.push_back(maxMs);
        total.push_back(sumMs);

        EvictCaches(evict);
        QElapsedTimer t;
        t.start();
        SaveJobs(queue, JobsFileName(), {});
        onUiThread.push_back(t.nsecsElapsed() / 1e6);
    }
    const double jobsMb = QFile(QString::fromStdString(JobsFileName())).size() / 1048576.0;
    std::printf("finishing one task among %d (jobs file %.1f MB written in the background):\n", tasks,
                jobsMb);
    std::printf("  longest user-interface event: median %.1f ms (goal < 20 ms); all its events together: "
                "median %.1f ms\n",
                Median(longest), Median(total));
    std::printf("  reference, the same save on the user-interface thread: median %.1f ms  (ratio %.2f)\n",
                Median(onUiThread), Median(onUiThread) > 0 ? Median(longest) / Median(onUiThread) : 0.0);
    scheduler.SetTimerEnabled(false);

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
    TTimedApp app(argc, argv);
    const int fileCount = argc > 1 ? std::atoi(argv[1]) : 1000;
    const int taskCount = argc > 2 ? std::atoi(argv[2]) : 100000;
    if (fileCount < 1 || taskCount < 0) {
        std::fprintf(stderr, "usage: bench_scheduler [files (at least 1)] [tasks]\n");
        return 2;
    }

    test::TBrimvaultService service;
    if (!service.Start()) {
        std::fprintf(stderr, "cannot start the stand-in service: %s\n", qPrintable(service.ErrorText()));
        return 1;
    }
    ::setenv("QUILLO_SITE", service.SiteHost().toUtf8().constData(), 1);
    ClearUploadServerCache();
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
    std::printf("%d small files (2-3 KB) over HTTP to the stand-in on loopback, real one-second timer\n",
                fileCount);
    const double curlRate = UploadWithCurl(files, service.UploadUrl());
    std::printf("  reference, curl one process per file, one after the other: %.1f files/s\n", curlRate);
    for (int parallel : {2, 1}) {
        const double rate = UploadThroughScheduler(files, parallel);
        std::printf("  scheduler, ParallelThreads %d: %.1f files/s  (ratio to curl %.2f%s)\n", parallel, rate,
                    curlRate > 0 ? rate / curlRate : 0.0, parallel == 2 ? ", goal >= 0.8" : "");
    }
    TickCost(taskCount, app, files.front());
    service.Stop();
    return 0;
}
