// The real desktop program as its user feels it: `quillo` started as a new process on a private
// X server (Xvfb), with its own timers, watched from outside.
//  - start: from starting the process to its task list painted on the screen, with a data folder
//    of N tasks and N finished uploads (default 100,000 each), against the same start with an
//    empty data folder and against the jobs-file load alone, all measured in this run;
//  - the user-interface thread while K uploads of big files (default 4 x 200 MB) run at full
//    loopback speed to the stand-in service, K at once and no speed limit, on top of the same
//    big queue: its processor time in the busiest second, sampled from /proc every 50 ms, while
//    the transfers run and over the whole batch (launch and finishes included), against the idle
//    program with the big queue measured in the same run; and the throughput.
// The program sees its "painted" line in the events file it writes for tests (QUILLO_TEST_EVENTS).
// Everything lives in a temporary folder (data folder, HOME, XDG folders, runtime folder); the
// shutdown command is /bin/false; the only traffic is to the stand-in service on loopback.
//
//   bench_desktop [--tasks N] [--rounds R] [--uploads K] [--size BYTES] [--idle-seconds S]

#include "BigQueue.h"
#include "XServer.h"
#include "common/BenchSupport.h"
#include "core/app/DataFolder.h"
#include "core/app/Settings.h"
#include "support/BrimvaultService.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

using namespace quillo;
using namespace quillo::bench;
using namespace quillo::test;

namespace {

constexpr int kSampleMs = 50;
constexpr int kStartTimeoutMs = 60000;

struct TOptions {
    int Tasks = 100000;
    int Rounds = 5;
    int Uploads = 4;
    int64_t Size = 200LL << 20;
    double IdleSeconds = 6;
};

TOptions ParseOptions(int argc, char** argv) {
    TOptions o;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i];
        const char* value = argv[i + 1];
        if (name == "--tasks")
            o.Tasks = std::atoi(value);
        else if (name == "--rounds")
            o.Rounds = std::max(1, std::atoi(value));
        else if (name == "--uploads")
            o.Uploads = std::max(1, std::atoi(value));
        else if (name == "--size")
            o.Size = std::max<int64_t>(1, std::atoll(value));
        else if (name == "--idle-seconds")
            o.IdleSeconds = std::max(1.0, std::atof(value));
        else {
            std::fprintf(stderr, "usage: bench_desktop [--tasks N] [--rounds R] [--uploads K] [--size BYTES] "
                                 "[--idle-seconds S]\n");
            std::exit(2);
        }
    }
    return o;
}

// Ends the run through the destructors, so the program, the service and the X server are
// stopped and the temporary folder goes.
struct EBenchFailure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

[[noreturn]] void Fail(const std::string& Text) {
    throw EBenchFailure(Text);
}

double EpochSeconds() {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

// Processor time (user + system) of one thread of another process, in ms; nullopt once the
// thread is gone. The kernel counts in clock ticks (10 ms on this system), so that is the
// resolution of every figure built from it.
std::optional<double> ThreadCpuMs(qint64 Pid, qint64 Tid) {
    const std::optional<TProcStat> stat =
        ReadProcStat("/proc/" + std::to_string(Pid) + "/task/" + std::to_string(Tid) + "/stat");
    return stat ? std::optional<double>(stat->CpuMs) : std::nullopt;
}

struct TSample {
    double Epoch = 0; // s, on the clock the stand-in service stamps its log with
    double CpuMs = 0; // the user-interface thread's processor time so far
};

struct TCpuFigures {
    double BusiestMs = 0;   // in the busiest 1-s window
    double AverageMs = 0;   // per second over the whole span
    double SpanSeconds = 0; // the span sampled
};

// The busiest second of the samples whose time lies in [From, To]: for each sample, the
// processor time until the first sample at least one second later, scaled to exactly one second.
TCpuFigures BusiestSecond(const std::vector<TSample>& Samples, double From, double To) {
    std::vector<TSample> s;
    for (const TSample& x : Samples)
        if (x.Epoch >= From && x.Epoch <= To)
            s.push_back(x);
    TCpuFigures f;
    if (s.size() < 2)
        return f;
    f.SpanSeconds = s.back().Epoch - s.front().Epoch;
    f.AverageMs = (s.back().CpuMs - s.front().CpuMs) / f.SpanSeconds;
    if (f.SpanSeconds < 1) {
        f.BusiestMs = f.AverageMs;
        return f;
    }
    std::size_t j = 0;
    for (std::size_t i = 0; i < s.size(); ++i) {
        j = std::max(j, i + 1);
        while (j < s.size() && s[j].Epoch - s[i].Epoch < 1)
            ++j;
        if (j == s.size())
            break;
        f.BusiestMs = std::max(f.BusiestMs, (s[j].CpuMs - s[i].CpuMs) / (s[j].Epoch - s[i].Epoch));
    }
    return f;
}

// The desktop every start of the program gets: the private X server and scratch folders for
// everything the program or Qt might otherwise look for in the session.
class TDesktop {
public:
    TDesktop(const QString& Root, const QString& Display) : FRoot(Root) {
        for (const char* sub : {"home", "config", "data", "cache", "state", "runtime", "cwd"})
            QDir().mkpath(Root + QLatin1Char('/') + QLatin1String(sub));
        QFile::setPermissions(Root + QStringLiteral("/runtime"),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        FEnv = QProcessEnvironment::systemEnvironment();
        // No session manager, session bus, Wayland or platform theme of the session.
        for (const char* name : {"SESSION_MANAGER", "WAYLAND_DISPLAY", "AT_SPI_BUS_ADDRESS",
                                 "QT_QPA_PLATFORMTHEME", "XDG_CURRENT_DESKTOP", "XDG_SESSION_TYPE",
                                 "DESKTOP_SESSION", "QT_ACCESSIBILITY", "QT_LINUX_ACCESSIBILITY_ALWAYS_ON"})
            FEnv.remove(QString::fromLatin1(name));
        const std::pair<const char*, QString> values[] = {
            {"DISPLAY", Display},
            {"XAUTHORITY", Root + QStringLiteral("/Xauthority")}, // never created
            {"QT_QPA_PLATFORM", QStringLiteral("xcb")},
            {"DBUS_SESSION_BUS_ADDRESS", QStringLiteral("disabled:")},
            {"HOME", Root + QStringLiteral("/home")},
            {"XDG_CONFIG_HOME", Root + QStringLiteral("/config")},
            {"XDG_DATA_HOME", Root + QStringLiteral("/data")},
            {"XDG_CACHE_HOME", Root + QStringLiteral("/cache")},
            {"XDG_STATE_HOME", Root + QStringLiteral("/state")},
            {"XDG_RUNTIME_DIR", Root + QStringLiteral("/runtime")},
            {"QUILLO_SHUTDOWN_COMMAND", QStringLiteral("/bin/false")},
            {"QUILLO_SITE", QStringLiteral("127.0.0.1:9")}, // a closed port unless a run names the service
        };
        for (const auto& [name, value] : values)
            FEnv.insert(QString::fromLatin1(name), value);
    }

    // Starts the program on the data folder Home (with the site Site when given) and waits for
    // its painted task list; the time from the start in ms. The program keeps running.
    double StartUntilPainted(const QString& Home, const QString& Site = {}) {
        ++FRuns;
        FEvents = FRoot + QStringLiteral("/events-%1.txt").arg(FRuns);
        QProcessEnvironment env = FEnv;
        env.insert(QStringLiteral("QUILLO_HOME"), Home);
        env.insert(QStringLiteral("QUILLO_TEST_EVENTS"), FEvents);
        if (!Site.isEmpty())
            env.insert(QStringLiteral("QUILLO_SITE"), Site);
        FProcess = std::make_unique<QProcess>();
        FProcess->setProcessEnvironment(env);
        FProcess->setWorkingDirectory(FRoot + QStringLiteral("/cwd"));
        FLog = FRoot + QStringLiteral("/quillo-%1.log").arg(FRuns);
        FProcess->setStandardOutputFile(FLog);
        FProcess->setStandardErrorFile(FLog, QIODevice::Append);
        const auto start = TClock::now();
        FProcess->start(QStringLiteral(QUILLO_BINARY_DIR "/src/app/quillo"), {});
        if (!FProcess->waitForStarted(kStartTimeoutMs))
            Fail("cannot start quillo: " + FProcess->errorString().toStdString());
        while (!Painted()) {
            if (FProcess->state() == QProcess::NotRunning || MsSince(start) > kStartTimeoutMs)
                Fail("quillo did not paint its window; its output is in " + FLog.toStdString());
            QThread::usleep(500);
        }
        return MsSince(start);
    }

    qint64 Pid() const { return FProcess->processId(); }

    // Asks the program to end as the session would (SIGTERM: the close steps, jobs file written)
    // and waits for it.
    void Stop() {
        if (!FProcess)
            return;
        FProcess->terminate();
        if (!FProcess->waitForFinished(30000)) {
            std::fprintf(stderr, "bench_desktop: quillo did not end within 30 s; killed\n");
            FProcess->kill();
            FProcess->waitForFinished(10000);
        }
        FProcess.reset();
    }

    ~TDesktop() { Stop(); }

private:
    bool Painted() const {
        QFile f(FEvents);
        return f.open(QIODevice::ReadOnly) && ("\n" + f.readAll()).contains("\npainted tasks\n");
    }

    QString FRoot, FEvents, FLog;
    QProcessEnvironment FEnv;
    std::unique_ptr<QProcess> FProcess;
    int FRuns = 0;
};

// A fresh data folder holding only a copy of Jobs (none when empty).
QString FreshHome(const QString& Root, const QString& Jobs) {
    static int count = 0;
    const QString home = Root + QStringLiteral("/quillo-home-%1").arg(++count);
    QDir().mkpath(home);
    if (!Jobs.isEmpty() && !QFile::copy(Jobs, home + QStringLiteral("/quillo.jobs")))
        Fail("cannot copy the jobs file into " + home.toStdString());
    return home;
}

// Samples the user-interface thread's processor time every kSampleMs for Seconds, or until Done
// (asked every few samples) returns true; fails when the program has ended.
void Sample(
    qint64 Pid, std::vector<TSample>& Samples, double Seconds,
    const std::function<bool()>& Done = [] { return false; }) {
    const auto start = TClock::now();
    for (int n = 0; MsSince(start) < Seconds * 1000; ++n) {
        const double epoch = EpochSeconds();
        const std::optional<double> cpu = ThreadCpuMs(Pid, Pid);
        if (!cpu)
            Fail("the program ended while it was measured");
        Samples.push_back({epoch, *cpu});
        if (n % 5 == 4 && Done())
            return;
        QThread::msleep(kSampleMs);
    }
}

// The log's "time" of the entries whose path is Path, in log order.
std::vector<double> EntryTimes(const TBrimvaultService& Service, const QString& Path,
                               int64_t* Bytes = nullptr) {
    std::vector<double> times;
    for (const QJsonObject& e : Service.HttpRequests(Path)) {
        times.push_back(e.value(QStringLiteral("time")).toDouble());
        if (Bytes)
            *Bytes += e.value(QStringLiteral("body_size")).toInteger();
        if (e.value(QStringLiteral("status")).toInt() != 200)
            Fail("the service refused " + Path.toStdString() + ": " +
                 e.value(QStringLiteral("reply")).toString().toStdString());
    }
    return times;
}

std::string Ratio(double Value, double Reference) {
    if (Reference <= 0)
        return "n/a";
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", Value / Reference);
    return text;
}

int Run(int argc, char** argv) {
    const TOptions options = ParseOptions(argc, argv);
    QTemporaryDir scratch(QDir::tempPath() + QStringLiteral("/quillo-bench-desktop-XXXXXX"));
    if (!scratch.isValid())
        Fail("cannot create a temporary folder");
    const QString root = scratch.path();
    // This process writes the settings of the upload run through the core: it must not reach
    // the session's folders either.
    ::setenv("HOME", qPrintable(root + QStringLiteral("/home")), 1);
    ::setenv("XDG_CONFIG_HOME", qPrintable(root + QStringLiteral("/config")), 1);
    ::setenv("QUILLO_HOME", qPrintable(root + QStringLiteral("/bench-home")), 1);
    ::setenv("QUILLO_SHUTDOWN_COMMAND", "/bin/false", 1);
    QCoreApplication app(argc, argv);
    if (QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty())
        Fail("Xvfb is not installed (package xvfb; run scripts/setup.sh)");

    TXServer server;
    QString error;
    if (!server.Start(1600, 1200, root + QStringLiteral("/xvfb.log"), error))
        Fail(error.toStdString());
    TDesktop desktop(root, server.Display());

    const QString bigJobs = root + QStringLiteral("/big.jobs");
    WriteBigJobsFile(bigJobs.toStdString(), options.Tasks, "bench_desktop");

    // Reference: the jobs-file load alone, in this process.
    std::vector<double> loads;
    for (int round = 0; round < 3; ++round) {
        TUploadQueue q;
        const auto t = TClock::now();
        LoadJobs(q, bigJobs.toStdString(), {});
        loads.push_back(MsSince(t));
    }

    // Starts, the empty and the big data folder in turn, after one start that is not counted
    // (it brings the program and its libraries into the page cache).
    desktop.StartUntilPainted(FreshHome(root, {}));
    desktop.Stop();
    std::vector<double> emptyStarts, bigStarts;
    std::vector<TSample> idle;
    for (int round = 0; round < options.Rounds; ++round) {
        emptyStarts.push_back(desktop.StartUntilPainted(FreshHome(root, {})));
        desktop.Stop();
        bigStarts.push_back(desktop.StartUntilPainted(FreshHome(root, bigJobs)));
        if (round == options.Rounds - 1) {
            // The idle program with the big queue, once the start's own work is over.
            QThread::msleep(2000);
            Sample(desktop.Pid(), idle, options.IdleSeconds);
        }
        desktop.Stop();
    }
    const double big = Median(bigStarts), empty = Median(emptyStarts), load = Median(loads);
    std::printf("start of quillo under Xvfb with %d tasks and %d finished: %.1f ms to the painted task list "
                "(median of %zu)\n",
                options.Tasks, options.Tasks, big, bigStarts.size());
    std::printf(
        "  reference: the same start with an empty data folder %.1f ms (ratio %s); the jobs-file load "
        "alone %.1f ms; beyond the empty start and the load %.1f ms\n",
        empty, Ratio(big, empty).c_str(), load, big - empty - load);
    std::fflush(stdout);

    // The uploads: K big files queued on top of the big queue, K at once, no speed limit. The
    // stand-in neither keeps nor hashes what it receives, so that it is not what limits the rate.
    TBrimvaultService service;
    TBrimvaultServiceOptions serviceOptions;
    serviceOptions.Faults = {{QStringLiteral("store_uploads"), false},
                             {QStringLiteral("hash_uploads"), false}};
    if (!service.Start(serviceOptions))
        Fail(service.ErrorText().toStdString());
    const QString uploadHome = FreshHome(root, {});
    std::vector<TUploadJobData> head;
    QDir().mkpath(root + QStringLiteral("/files"));
    for (int i = 0; i < options.Uploads; ++i) {
        // Sparse: nothing to write or keep on the disk, and the bytes come from memory.
        const QString name = root + QStringLiteral("/files/big-%1.bin").arg(i + 1);
        QFile file(name);
        if (!file.open(QIODevice::WriteOnly) || !file.resize(options.Size))
            Fail("cannot make " + name.toStdString());
        TUploadJobData task;
        task.State = jsQueued;
        task.FileName = name.toStdString();
        task.FileSize = options.Size;
        task.Method = "HTTP Method";
        head.push_back(std::move(task));
    }
    WriteBigJobsFile((uploadHome + QStringLiteral("/quillo.jobs")).toStdString(), options.Tasks,
                     "bench_desktop", std::move(head));
    UpdateSettings([&](TAppSettings& s) {
        s.UploadManager.ParallelThreads = options.Uploads;
        s.UploadManager.SpeedLimit = 0;
    });
    SetDataFolderOverride(uploadHome.toStdString());
    try {
        SaveSettings();
    } catch (const ESettingsError& e) {
        Fail(std::string("cannot write the settings: ") + e.what());
    }
    SetDataFolderOverride({});

    // The first tick after the start launches the queued tasks; sampling runs from the paint
    // until the last upload is answered, and one second beyond (its task moving into the
    // finished list, the jobs file written).
    desktop.StartUntilPainted(uploadHome, service.SiteHost());
    const QString uploadPath = QStringLiteral("/cgi-bin/upload.cgi");
    const double timeout = 60 + double(options.Size) * options.Uploads / 10e6;
    std::vector<TSample> busy;
    Sample(desktop.Pid(), busy, timeout,
           [&] { return EntryTimes(service, uploadPath).size() >= std::size_t(options.Uploads); });
    Sample(desktop.Pid(), busy, 1);
    desktop.Stop();
    int64_t bytes = 0;
    const std::vector<double> ends = EntryTimes(service, uploadPath, &bytes);
    const std::vector<double> lists = EntryTimes(service, QStringLiteral("/uploadservers.txt"));
    if (ends.size() < std::size_t(options.Uploads) || lists.empty())
        Fail("the uploads did not end within " + std::to_string(int(timeout)) + " s");
    // The transfers alone run from the server list's answer (they all wait for it) to the first
    // upload's answer; the whole batch also holds the launching tick before and the finishes after.
    const double from = lists.front(), first = *std::min_element(ends.begin(), ends.end()),
                 last = *std::max_element(ends.begin(), ends.end());
    const TCpuFigures transfers = BusiestSecond(busy, from, first);
    const TCpuFigures batch = BusiestSecond(busy, from - 1, last + 1);
    const TCpuFigures resting = BusiestSecond(idle, 0, 1e300);
    std::printf(
        "user-interface thread while %d uploads of %.0f MiB run at full loopback speed (%d at once, no "
        "limit), with the %d tasks queued: busiest 1-s window %.0f ms of processor time (goal under "
        "100 ms); on average %.0f ms per second over the %.1f s until the first upload ended\n",
        options.Uploads, double(options.Size) / 1048576, options.Uploads, options.Tasks, transfers.BusiestMs,
        transfers.AverageMs, transfers.SpanSeconds);
    std::printf("  the whole batch, from 1 s before the uploads began to 1 s after the last one ended (the "
                "launch, each success written into the jobs file and moved into the finished list): busiest "
                "1-s window %.0f ms, on average %.0f ms per second over %.1f s\n",
                batch.BusiestMs, batch.AverageMs, batch.SpanSeconds);
    std::printf("  reference: the idle program with the same queue, busiest 1-s window %.0f ms, on average "
                "%.0f ms per second over %.1f s (ratios of the busiest: %s and %s); resolution %.0f ms\n",
                resting.BusiestMs, resting.AverageMs, resting.SpanSeconds,
                Ratio(transfers.BusiestMs, resting.BusiestMs).c_str(),
                Ratio(batch.BusiestMs, resting.BusiestMs).c_str(), 1000.0 / double(sysconf(_SC_CLK_TCK)));
    std::printf(
        "  upload throughput: %.1f MB in %.2f s from the server list to the last answer = %.1f MB/s in "
        "total\n",
        double(bytes) / 1e6, last - from, double(bytes) / 1e6 / std::max(last - from, 1e-3));
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    try {
        return Run(argc, argv);
    } catch (const EBenchFailure& e) {
        std::fprintf(stderr, "bench_desktop: %s\n", e.what());
        return 1;
    }
}
