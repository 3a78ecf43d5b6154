// "run": the real scheduler until nothing is Queued or Uploading any more, with a live progress
// line per task. SIGINT, SIGTERM and SIGHUP stop the running uploads the way closing the desktop
// program does: they become Delayed with their resume data, and the jobs file is written.
#include "cli/CliCommands.h"
#include "cli/CliText.h"

#include "app/TerminationSignals.h"

#include "core/app/MyUtils.h"
#include "core/app/Settings.h"
#include "core/l10n/ResMessages.h"
#include "core/net/IdStackWindowsEx.h"

#include <QCoreApplication>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <iostream>
#include <map>
#include <unistd.h>

namespace quillo::cli {

namespace {

// "name 42% 120.5 KB/s ETA 00:00:12"
std::string ProgressText(const TUploadJobData& t) {
    std::string eta = FormatMsAsClock(static_cast<uint32_t>(t.TimeLeft));
    return Printable(EffectiveUploadName(t)) + " " + std::to_string(t.Percent) + "% " +
           FormatText("%.1f", {t.Speed / 8.0}) + " KB/s ETA " + eta;
}

class TProgressPrinter {
public:
    explicit TProgressPrinter(TUploadQueue& Queue) : FQueue(Queue), FTty(::isatty(STDOUT_FILENO) == 1) {}

    void Event(TJobId id, TInternetThreadEvent event) {
        const TUploadJobData* t = id == NoJobId ? nullptr : FQueue.FindTask(id);
        if (!t)
            return;
        if (event == ieStarted) {
            Permanent("started  " + Printable(EffectiveUploadName(*t)) + " (" + Printable(t->Method) + ", " +
                      FormatThousands(t->FileSize) + " bytes)");
        } else if (event == ieFinished) {
            FLastPrinted.erase(id);
            FLastPercent.erase(id);
            if (t->State == jsFinished)
                Permanent("finished " + Printable(EffectiveUploadName(*t)));
            else
                Permanent("ERROR    " + Printable(EffectiveUploadName(*t)) + ": " +
                          Printable(SingleLine(t->StatusText)));
        } else if (event == ieProgress) {
            const uint32_t now = GetTickCount32();
            auto it = FLastPrinted.find(id);
            const bool complete = t->Percent == 100 && FLastPercent[id] != 100;
            const bool due =
                it == FLastPrinted.end() || now - it->second >= (FTty ? 200u : 1000u) || complete;
            if (!due)
                return;
            FLastPrinted[id] = now;
            FLastPercent[id] = t->Percent;
            if (FTty)
                Live();
            else
                Permanent("         " + ProgressText(*t));
        }
    }

    void Permanent(const std::string& line) {
        if (FTty)
            std::fputs("\r\x1b[K", stdout);
        std::fputs((line + "\n").c_str(), stdout);
        if (FTty)
            Live();
        std::fflush(stdout);
    }

    void ClearLive() {
        if (FTty) {
            std::fputs("\r\x1b[K", stdout);
            std::fflush(stdout);
        }
    }

private:
    // One line for every running task, redrawn in place.
    void Live() {
        std::string line;
        for (std::size_t i = 0; i < FQueue.TaskCount(); ++i) {
            const TUploadJobData& t = FQueue.Task(i);
            if (t.State != jsUploading)
                continue;
            if (!line.empty())
                line += " | ";
            line += ProgressText(t);
        }
        std::fputs(("\r\x1b[K" + line.substr(0, 200)).c_str(), stdout);
        std::fflush(stdout);
    }

    TUploadQueue& FQueue;
    bool FTty;
    std::map<TJobId, uint32_t> FLastPrinted;
    std::map<TJobId, int32_t> FLastPercent;
};

} // namespace

int CmdRun(TCliContext& Ctx, const TArgs& Args) {
    if (!NoArguments("run", Args))
        return ecUsage;
    TUploadQueue& queue = Ctx.Queue;
    TScheduler& sched = *Ctx.Scheduler;
    const TAppSettings& s = AppSettings;
    if (s.UploadManager.ParallelThreads <= 0) {
        PrintError("UploadManager.ParallelThreads is " + std::to_string(s.UploadManager.ParallelThreads) +
                   ": nothing would start (quillo-cli set UploadManager.ParallelThreads=2)");
        return ecUsage;
    }
    TIdStackWindowsEx::Instance().SetSendLimitKb(s.UploadManager.SpeedLimit);

    TProgressPrinter printer(queue);
    const double runStart = sched.Now();
    const std::size_t finishedBefore = queue.FinishedCount();
    bool stopping = false;
    int exitCode = -1;

    sched.Hooks().ThreadEvent = [&](TJobId id, TInternetThreadEvent e) { printer.Event(id, e); };
    sched.Hooks().ShutDown = [&](bool) {
        printer.Permanent("(automatic shutdown is left to the desktop program; quillo-cli never powers off)");
    };
    std::string lastStatus;
    sched.Hooks().StatusChanged = [&](const TSchedulerStatus& status) {
        if (stopping)
            return;
        if (queue.CountTasksIn({jsQueued, jsUploading}) == 0 && queue.RunningCount() == 0) {
            exitCode = ecOk;
            QCoreApplication::exit(0);
            return;
        }
        if (queue.RunningCount() == 0 && status.Text != lastStatus)
            printer.Permanent(status.Text);
        lastStatus = queue.RunningCount() == 0 ? status.Text : std::string();
    };

    // Start-up as in the desktop program: nothing can be Uploading after the load, and with
    // AutostartUploading every task is queued again.
    sched.ChangeTaskStates({jsUploading}, jsQueued);
    if (s.General.AutostartUploading)
        sched.ChangeTaskStates(AllJobStates, jsQueued);
    if (queue.CountTasksIn({jsQueued}) == 0) {
        sched.SetTimerEnabled(false);
        std::cout << "Nothing to upload: no task is queued ('quillo-cli start --all' queues the others)."
                  << std::endl;
        return ecOk;
    }

    // The handler's notifier lives no longer than this run and the locals it uses.
    QObject runScope;
    const bool handled = InstallTerminationHandler(
        [&] {
            if (stopping)
                return;
            stopping = true;
            printer.Permanent("Stopping: running uploads become Delayed and can resume later...");
            queue.FExitRequested = true;
            sched.SetTimerEnabled(false);
            sched.StopRunningTasks();
            sched.SaveJobs();
            exitCode = ecInterrupted;
            QCoreApplication::exit(ecInterrupted);
        },
        &runScope);
    if (!handled) {
        PrintError("cannot set up signal handling");
        return ecUsage;
    }

    QTimer::singleShot(0, [&] { sched.TimerTimer(); });
    QCoreApplication::exec();

    for (int sig : {SIGINT, SIGTERM, SIGHUP})
        ::signal(sig, SIG_DFL);
    sched.SetTimerEnabled(false);
    printer.ClearLive();
    if (exitCode != ecInterrupted)
        sched.SaveJobs();
    // Saves are written in the background: the last one is on disk, and every success it holds
    // has been printed, before the links are.
    sched.FlushJobs();

    if (queue.FinishedCount() > finishedBefore) {
        std::cout << "\nLinks:\n";
        PrintLinks(queue, finishedBefore);
    }
    int failed = 0;
    for (std::size_t i = 0; i < queue.TaskCount(); ++i) {
        const TUploadJobData& t = queue.Task(i);
        if (t.State == jsError && t.StartTime >= runStart)
            ++failed;
    }
    if (exitCode == ecInterrupted)
        return ecInterrupted;
    if (failed > 0) {
        PrintError(std::to_string(failed) + (failed == 1 ? " upload" : " uploads") +
                   " failed ('quillo-cli list' shows why, 'quillo-cli start' queues them again)");
        return ecTaskFailed;
    }
    return ecOk;
}

} // namespace quillo::cli
