#pragma once
// Small helpers shared by the benchmarks: memory figures of this process, the median of the
// rounds, a generated input file, and a timed child process (the reference tool) with its own
// peak memory.

#include <QElapsedTimer>
#include <QFile>
#include <QString>

#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace quillo::bench {

using TClock = std::chrono::steady_clock;

// Milliseconds since Start on the monotonic clock.
inline double MsSince(TClock::time_point Start) {
    return std::chrono::duration<double, std::milli>(TClock::now() - Start).count();
}

// A "Field: N kB" figure of /proc/self/status in kB; -1 when it is missing.
inline long ProcStatusKb(const std::string& Field) {
    std::ifstream Status("/proc/self/status");
    std::string Line;
    while (std::getline(Status, Line))
        if (Line.rfind(Field + ":", 0) == 0)
            return std::atol(Line.c_str() + Field.size() + 1);
    return -1;
}

// Peak resident set of this process (VmHWM) in kB.
inline long PeakRssKb() {
    return ProcStatusKb("VmHWM");
}

// Current resident set of this process (VmRSS) in kB.
inline long RssKb() {
    return ProcStatusKb("VmRSS");
}

// Bytes this process has read so far through read-like calls (rchar of /proc/self/io): files,
// sockets and pipes alike; -1 when it cannot be read.
inline int64_t ReadCharsOfProcess() {
    std::ifstream Io("/proc/self/io");
    std::string Line;
    while (std::getline(Io, Line))
        if (Line.rfind("rchar:", 0) == 0)
            return std::atoll(Line.c_str() + 6);
    return -1;
}

// Processor time (user + system) in ms: of this process so far, and of the children it has
// waited for (a timed reference run).
inline double CpuMs(int Who) {
    rusage U{};
    getrusage(Who, &U);
    return (U.ru_utime.tv_sec + U.ru_stime.tv_sec) * 1e3 + (U.ru_utime.tv_usec + U.ru_stime.tv_usec) / 1e3;
}
inline double ProcessCpuMs() {
    return CpuMs(RUSAGE_SELF);
}
inline double WaitedChildrenCpuMs() {
    return CpuMs(RUSAGE_CHILDREN);
}

// What /proc/PID/stat (or a thread's /proc/PID/task/TID/stat) tells of a process or thread:
// its command name and its processor time (user + system) so far, in ms. The kernel counts in
// clock ticks, so that is the resolution. Nothing when the file is gone or cannot be read.
struct TProcStat {
    std::string Comm;
    double CpuMs = 0;
};
inline std::optional<TProcStat> ReadProcStat(const std::string& Path) {
    std::ifstream Stat(Path);
    std::string Line;
    if (!std::getline(Stat, Line))
        return std::nullopt;
    // The name in brackets may hold blanks and brackets; the fields after it are plain.
    const size_t Open = Line.find('('), Close = Line.rfind(')');
    if (Open == std::string::npos || Close == std::string::npos || Close < Open)
        return std::nullopt;
    // After the name: state (field 3), then fields 4..13, then utime and stime (fields 14, 15).
    std::istringstream Fields(Line.substr(Close + 1));
    std::string Field;
    for (int I = 3; I <= 13 && Fields >> Field; ++I) {
    }
    double User = 0, System = 0;
    if (!(Fields >> User >> System))
        return std::nullopt;
    return TProcStat{Line.substr(Open + 1, Close - Open - 1),
                     (User + System) * 1000.0 / static_cast<double>(sysconf(_SC_CLK_TCK))};
}

// The process name of the stand-in service (a Python program) among this process's children.
inline const std::string kServiceComm = "python3";

// Processor time so far, in ms, of the running children of this process named Comm (the
// stand-in service's), from /proc; 0 when there is none.
inline double RunningChildrenCpuMs(const std::string& Comm = kServiceComm) {
    double Ms = 0;
    DIR* Tasks = opendir("/proc/self/task");
    if (!Tasks)
        return 0;
    while (const dirent* Task = readdir(Tasks)) {
        if (Task->d_name[0] == '.')
            continue;
        std::ifstream Children(std::string("/proc/self/task/") + Task->d_name + "/children");
        for (long Pid = 0; Children >> Pid;) {
            const std::optional<TProcStat> Stat = ReadProcStat("/proc/" + std::to_string(Pid) + "/stat");
            if (Stat && Stat->Comm == Comm)
                Ms += Stat->CpuMs;
        }
    }
    closedir(Tasks);
    return Ms;
}

// Processor time spent during one piece of work: by the process that uploaded and by the
// stand-in service.
struct TCpuSpent {
    double ClientMs = 0;
    double ServerMs = 0;
};

// Runs Work and returns the processor time it took; ChildClient: the uploader is a child process
// this one waits for (a reference tool), otherwise this process itself.
template <typename F> TCpuSpent MeasureCpu(bool ChildClient, F&& Work) {
    auto Client = [&] { return ChildClient ? WaitedChildrenCpuMs() : ProcessCpuMs(); };
    const double Client0 = Client(), Server0 = RunningChildrenCpuMs();
    Work();
    return {Client() - Client0, RunningChildrenCpuMs() - Server0};
}

inline double Median(std::vector<double> V) {
    std::sort(V.begin(), V.end());
    return V.empty() ? 0 : V[V.size() / 2];
}

// A file of Size pseudo-random bytes (a repeated 1 MiB block), so nothing on the way can
// compress it away.
inline bool WriteBenchFile(const QString& Path, int64_t Size) {
    QFile F(Path);
    if (!F.open(QIODevice::WriteOnly))
        return false;
    QByteArray Block(1 << 20, 0);
    uint32_t X = 2463534242u;
    for (int I = 0; I < Block.size(); ++I) {
        X ^= X << 13;
        X ^= X >> 17;
        X ^= X << 5;
        Block[I] = static_cast<char>(X);
    }
    for (int64_t Left = Size; Left > 0;) {
        const int64_t N = std::min<int64_t>(Left, Block.size());
        if (F.write(Block.constData(), N) != N)
            return false;
        Left -= N;
    }
    return true;
}

// One measured run: wall time, peak resident set in kB, success.
struct TTimedRun {
    double Seconds = 0;
    long PeakKb = 0;
    bool Ok = false;
};

// Runs Args (Args[0] a full path) with its output thrown away and its errors on ours, waits for it
// and measures its wall time and its own peak memory; Ok when it exited with 0. The child inherits
// this process's environment.
inline TTimedRun RunTimedChild(std::vector<std::string> Args) {
    std::vector<char*> Argv;
    for (auto& A : Args)
        Argv.push_back(A.data());
    Argv.push_back(nullptr);
    TTimedRun Run;
    QElapsedTimer Timer;
    Timer.start();
    pid_t Pid = 0;
    posix_spawn_file_actions_t Actions;
    posix_spawn_file_actions_init(&Actions);
    posix_spawn_file_actions_addopen(&Actions, 1, "/dev/null", O_WRONLY, 0);
    if (posix_spawn(&Pid, Argv[0], &Actions, nullptr, Argv.data(), environ) != 0) {
        posix_spawn_file_actions_destroy(&Actions);
        return Run;
    }
    posix_spawn_file_actions_destroy(&Actions);
    int Status = 0;
    rusage Usage{};
    wait4(Pid, &Status, 0, &Usage);
    Run.Seconds = Timer.nsecsElapsed() / 1e9;
    Run.PeakKb = Usage.ru_maxrss;
    Run.Ok = WIFEXITED(Status) && WEXITSTATUS(Status) == 0;
    return Run;
}

} // namespace quillo::bench
