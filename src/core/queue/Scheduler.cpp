#include "core/queue/Scheduler.h"

#include "core/app/DataFolder.h"
#include "core/app/MyUtils.h"
#include "core/app/Settings.h"
#include "core/l10n/ResMessages.h"
#include "core/net/IdStackWindowsEx.h"
#include "core/net/TickClock.h"
#include "core/queue/TaskLaunch.h"

#include <QTimer>

#include <algorithm>
#include <exception>
#include <optional>
#include <unordered_set>
#include <utility>

namespace quillo {

namespace {

// Runs a clean-up when the scope ends, also by an exception.
template <class F> class TFinally {
public:
    explicit TFinally(F f) : FF(std::move(f)) {}
    ~TFinally() { FF(); }
    TFinally(const TFinally&) = delete;
    TFinally& operator=(const TFinally&) = delete;

private:
    F FF;
};

// Ids of the tasks that pass Test, in queue order or backwards. A pure scan that calls nothing
// out, so no index can go stale while it runs; the caller looks each task up again by id before
// touching it, because handling one task may serve nested commands and ticks. Scanning by index
// first keeps a tick over a long queue to one pass over the records plus a lookup per candidate.
template <class P> std::vector<TJobId> IdsWhere(const TUploadQueue& Queue, P Test, bool Backwards = false) {
    std::vector<TJobId> ids;
    const std::size_t n = Queue.TaskCount();
    for (std::size_t k = 0; k < n; ++k) {
        const TUploadJobData& task = Queue.Task(Backwards ? n - 1 - k : k);
        if (Test(task))
            ids.push_back(task.Id());
    }
    return ids;
}

// A task the tick moves (Finished) or whose ended thread it releases.
bool HasEnded(const TUploadJobData& t) {
    return t.State == jsFinished || (t.State != jsUploading && t.Uploader);
}

// What one pass over the queue tells a tick.
struct TQueueScan {
    std::vector<TJobId> Ended;  // backwards: the order of collection
    std::vector<TJobId> Queued; // queue order: the order of launching
    int Active = 0;             // Queued or Uploading
};

TQueueScan ScanQueue(const TUploadQueue& Queue) {
    TQueueScan scan;
    const std::size_t n = Queue.TaskCount();
    // Every thread is counted by RunningCount: once all of them have been seen, the rest of the
    // records need no look at their Uploader (which lies on another cache line than State).
    const int threads = Queue.RunningCount();
    int threadsSeen = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const TUploadJobData& t = Queue.Task(i);
        if (t.State == jsQueued) {
            scan.Queued.push_back(t.Id());
            ++scan.Active;
        } else if (t.State == jsUploading) {
            ++scan.Active;
        }
        if (t.State == jsFinished) {
            scan.Ended.push_back(t.Id());
        } else if (threadsSeen < threads && t.Uploader) {
            ++threadsSeen;
            if (t.State != jsUploading)
                scan.Ended.push_back(t.Id());
        }
    }
    std::reverse(scan.Ended.begin(), scan.Ended.end());
    return scan;
}

} // namespace

class TScheduler::TSaveBatch {
public:
    explicit TSaveBatch(TScheduler& Owner) : FOwner(Owner) { ++FOwner.FSaveBatchDepth; }
    ~TSaveBatch() {
        if (--FOwner.FSaveBatchDepth == 0)
            FOwner.TakeBatchedSnapshot();
    }
    TSaveBatch(const TSaveBatch&) = delete;
    TSaveBatch& operator=(const TSaveBatch&) = delete;

private:
    TScheduler& FOwner;
};

TScheduler::TScheduler(TUploadQueue& Queue, TSchedulerOptions Options, TSchedulerHooks Hooks)
    : FQueue(Queue), FOptions(std::move(Options)), FHooks(std::move(Hooks)) {
    FContext = std::make_unique<QObject>();
    TJobsWriter::TOptions writer;
    QObject* context = FContext.get();
    writer.Written = [this, context] {
        QMetaObject::invokeMethod(
            context, [this] { HandleWrites(); }, Qt::QueuedConnection);
    };
    writer.BeforeWrite = FOptions.BeforeWrite;
    FWriter = std::make_unique<TJobsWriter>(std::move(writer));
    if (FOptions.OwnTimer) {
        FTimer = std::make_unique<QTimer>();
        FTimer->setInterval(1000);
        QObject::connect(FTimer.get(), &QTimer::timeout, [this] { TimerTimer(); });
    }
}

TScheduler::~TScheduler() {
    if (FTimer)
        FTimer->stop();
    // A thread stopped here still delivers its last event to this scheduler: end them all while
    // it exists, whatever order the owner destroys the queue and the scheduler in.
    for (TJobId id : FQueue.TaskIds())
        FQueue.ReleaseThreadById(id);
    // The front end may be half gone: nothing is reported from here on. A success that no
    // snapshot holds yet still reaches the file, and the writer ends only once everything handed
    // to it is written.
    FHooks = TSchedulerHooks{};
    if (FSnapshotWanted || FBatchedSave)
        TakeSnapshot();
    FWriter.reset();
    FContext.reset();
}

double TScheduler::Now() const {
    return FOptions.Clock.Now ? FOptions.Clock.Now() : NowDateTime();
}

uint32_t TScheduler::Tick() const {
    return FOptions.Clock.Tick ? FOptions.Clock.Tick() : GetTickCount32();
}

const char* TScheduler::IdleSpeedNotice() {
    return "Ready.";
}

void TScheduler::SetTimerEnabled(bool Enabled) {
    FTimerEnabled = Enabled;
    if (!FTimer)
        return;
    if (Enabled && FTimerHolds == 0)
        FTimer->start();
    else if (!Enabled)
        FTimer->stop();
}

// ChangeTaskStates may nest (a command served while a thread is being destroyed): the timer
// comes back only when the outermost one ends.
void TScheduler::HoldTimer() {
    ++FTimerHolds;
    SetTimerEnabled(false);
}

void TScheduler::ReleaseTimer() {
    if (FTimerHolds > 0)
        --FTimerHolds;
    if (FTimerHolds == 0)
        SetTimerEnabled(true);
}

std::string TScheduler::JobsFile() const {
    return FOptions.JobsFile.empty() ? JobsFileName() : FOptions.JobsFile;
}

void TScheduler::SaveJobs() {
    if (FSaveBatchDepth > 0) {
        FBatchedSave = true;
        return;
    }
    TakeSnapshot();
}

void TScheduler::TakeSnapshot() {
    FBatchedSave = false;
    FSnapshotWanted = false;
    const std::string file = JobsFile();
    std::string bytes = FWriter->TakeSpare();
    bool ok = true;
    try {
        JobsToBytes(FQueue, bytes, FFinishedBytes);
    } catch (const std::exception& e) {
        ok = false;
        FLastWriteOk = false;
        if (FHooks.JobsError)
            FHooks.JobsError(ResString(rmError), JobsSaveErrorText(file, e.what()));
    }
    // A success left out by a failed snapshot is confirmed anyway: the user has been told.
    const std::uint64_t seq = ok ? FWriter->Submit(file, std::move(bytes)) : FWritten;
    if (ok)
        FSubmitted = seq;
    for (TUnconfirmed& u : FUnconfirmed)
        if (!u.InSnapshot) {
            u.InSnapshot = true;
            u.Seq = seq;
        }
    if (!ok)
        ConfirmSaved();
}

void TScheduler::TakeBatchedSnapshot() {
    if (FBatchedSave || FSnapshotWanted)
        TakeSnapshot();
}

void TScheduler::HandleWrites() {
    std::vector<TJobsWriter::TOutcome> outcomes = FWriter->TakeOutcomes();
    for (const TJobsWriter::TOutcome& o : outcomes) {
        FWritten = std::max(FWritten, o.Seq);
        FLastWriteOk = o.Ok;
    }
    for (const TJobsWriter::TOutcome& o : outcomes)
        if (!o.Ok && FHooks.JobsError)
            FHooks.JobsError(ResString(rmError), JobsSaveErrorText(o.FileName, o.Error));
    ConfirmSaved();
}

bool TScheduler::Unconfirmed(TJobId Id) const {
    return std::any_of(FUnconfirmed.begin(), FUnconfirmed.end(),
                       [Id](const TUnconfirmed& u) { return u.Id == Id; });
}

// Successes whose snapshot has been written, in the order they finished: the front end hears of
// each, then it moves into the finished list. Each is taken off the list before anything is
// called out, so a nested call never handles it twice. The move needs no save of its own: the
// file already holds each as the finished record it becomes, in this order (JobsToBytes writes
// Finished tasks after the finished list, in the order they finished).
void TScheduler::ConfirmSaved() {
    bool moved = false;
    while (!FUnconfirmed.empty() && FUnconfirmed.front().InSnapshot && FUnconfirmed.front().Seq <= FWritten) {
        const TJobId id = FUnconfirmed.front().Id;
        FUnconfirmed.pop_front();
        if (FHooks.ThreadEvent)
            FHooks.ThreadEvent(FQueue.FindTask(id) ? id : NoJobId, ieFinished);
        const TUploadJobData* task = FQueue.FindTask(id);
        if (task && task->State == jsFinished) {
            FQueue.MoveToFinishedById(id);
            moved = true;
        }
    }
    if (moved)
        MembershipChanged(false);
}

// Tasks left the queue for the finished list (or their threads went): save, repaint, summary.
void TScheduler::MembershipChanged(bool Save) {
    if (Save)
        SaveJobs();
    if (FHooks.ViewsChanged)
        FHooks.ViewsChanged();
    FQueue.UpdateQueueSummary();
}

bool TScheduler::FlushJobs() {
    // A hook called while confirming (the front end printing, a box) may ask for more saves.
    for (int round = 0; round < 16; ++round) {
        TakeBatchedSnapshot();
        FWriter->Wait();
        HandleWrites();
        if (!FBatchedSave && !FSnapshotWanted && FWritten >= FSubmitted)
            break;
    }
    return FLastWriteOk;
}

bool TScheduler::MayLaunch() const {
    return FTimerEnabled && FTimerHolds == 0 && FTickDepth == 0 && !FQueue.FExitRequested &&
           (!AppSettings.Scheduler.Enabled || FInsideSchedulerWindow);
}

void TScheduler::PostAfterThreadEnded() {
    if (FStepPosted)
        return;
    FStepPosted = true;
    QMetaObject::invokeMethod(
        FContext.get(), [this] { AfterThreadEnded(); }, Qt::QueuedConnection);
}

// Runs right after the last event of a thread that ended on its own (a thread cannot be destroyed
// from inside its own event). One snapshot covers the successes and the tasks started here.
void TScheduler::AfterThreadEnded() {
    FStepPosted = false;
    TSaveBatch batch(*this);
    for (TJobId id : std::exchange(FEndedThreads, {})) {
        const TUploadJobData* task = FQueue.FindTask(id);
        if (task && task->Uploader && task->State != jsUploading)
            FQueue.ReleaseThreadById(id);
    }
    if (MayLaunch())
        LaunchQueuedTasks();
}

void TScheduler::Refreshed(TJobId Id, bool Refresh) {
    if (!FQueue.FindTask(Id))
        return;
    FQueue.TaskChangedById(Id);
    if (Refresh && FHooks.TaskRefreshed)
        FHooks.TaskRefreshed(Id);
}

void TScheduler::TimerTimer() {
    // A tick that arrives while this one waits for a thread to end would only repeat it.
    if (FTickDepth > 0)
        return;
    ++FTickDepth;
    TFinally done([this] { --FTickDepth; });
    std::optional<TSaveBatch> batch(std::in_place, *this);

    const TAppSettings& s = AppSettings;

    if (s.Scheduler.Enabled) {
        const bool inside = TimeInWindow(Now(), s.Scheduler.StartTime, s.Scheduler.EndTime);
        if (!FInsideSchedulerWindow && inside) {
            FInsideSchedulerWindow = true;
        } else if (FInsideSchedulerWindow && !inside) {
            FInsideSchedulerWindow = false;
            if (s.Scheduler.AbortNonFinished)
                StopRunningTasks();
        }
    }

    // One pass over the records serves the whole tick as long as nothing in it called out (only
    // collecting, the completion hooks and launching can serve nested events).
    TQueueScan scan = ScanQueue(FQueue);
    bool fresh = true;
    if (!scan.Ended.empty()) {
        CollectTasks(scan.Ended);
        fresh = false;
    }

    const int active = fresh ? scan.Active : FQueue.CountTasksIn({jsQueued, jsUploading});
    if (FQueue.FUploadsStarted && active == 0) {
        fresh = false;
        FQueue.FUploadsStarted = false;
        // The hooks may show windows and wait: what this tick changed is saved first.
        batch.reset();
        // A success is heard of once it is on disk: the batch's end must come after every one
        // of its successes, so that the completion actions count them all.
        if (!FUnconfirmed.empty())
            FlushJobs();
        const bool stealth = FHooks.StealthMode && FHooks.StealthMode();
        if (FHooks.BatchCompleted)
            FHooks.BatchCompleted();
        if (AppSettings.General.NotifyUploadFinished && !stealth && FHooks.NotifyUploadFinished)
            FHooks.NotifyUploadFinished();
        if (AppSettings.General.ShutDownWhenFinished) {
            // On disk before the machine may go down.
            SaveJobs();
            FlushJobs();
            if (FHooks.ShutDown)
                FHooks.ShutDown(stealth);
        }
    }

    if (!FQueue.FExitRequested && (!AppSettings.Scheduler.Enabled || FInsideSchedulerWindow)) {
        if (fresh)
            LaunchTasks(scan.Queued);
        else
            LaunchQueuedTasks();
    }
    batch.reset();

    FStatus = ComposeStatus();
    if (FHooks.StatusChanged)
        FHooks.StatusChanged(FStatus);
}

TSchedulerStatus TScheduler::ComposeStatus() const {
    const TAppSettings& s = AppSettings;
    TSchedulerStatus status;
    if (FQueue.RunningCount() != 0) {
        status.Text = ResString(rmUploading);
        if (s.Scheduler.Enabled)
            status.Text +=
                " " + FormatText(ResString(rmScheduledStop), {FormatTimeOfDay(s.Scheduler.EndTime)});
        const double kb = TIdStackWindowsEx::Instance().CurrentSpeed.load() / 1024.0;
        status.Speed = FormatText(ResString(rmUploadSpeed), {FormatText("%.1f", {kb})});
    } else {
        status.Text = ResString(rmIdle);
        if (s.Scheduler.Enabled)
            status.Text +=
                " " + FormatText(ResString(rmScheduledStartStop), {FormatTimeOfDay(s.Scheduler.StartTime),
                                                                   FormatTimeOfDay(s.Scheduler.EndTime)});
        status.Speed = IdleSpeedNotice();
    }
    if (s.General.ShutDownWhenFinished)
        status.Text += " " + ResString(s.General.Hibernate ? rmWillHibernate : rmWillShutDown);
    return status;
}

void TScheduler::LaunchQueuedTasks() {
    if (FQueue.RunningCount() >= AppSettings.UploadManager.ParallelThreads)
        return;
    LaunchTasks(IdsWhere(FQueue, [](const TUploadJobData& t) { return t.State == jsQueued; }));
}

void TScheduler::LaunchTasks(const std::vector<TJobId>& Queued) {
    bool launched = false;
    for (TJobId id : Queued) {
        if (FQueue.RunningCount() >= AppSettings.UploadManager.ParallelThreads)
            break;
        const TUploadJobData* task = FQueue.FindTask(id);
        if (!task || task->State != jsQueued)
            continue;
        SetTaskState(*FQueue.IndexOfTask(id), jsUploading, true);
        launched = true;
    }
    if (launched)
        SaveJobs();
}

void TScheduler::CollectFinishedTasks() {
    // Backwards, and each move appends: tasks that finished in the same tick reach the finished
    // list in reverse queue order.
    CollectTasks(IdsWhere(FQueue, HasEnded, true));
}

void TScheduler::CollectTasks(const std::vector<TJobId>& Ended) {
    bool changed = false;
    for (TJobId id : Ended) {
        const TUploadJobData* task = FQueue.FindTask(id);
        if (!task || !HasEnded(*task))
            continue;
        // A success moves once the write that holds it has ended (ConfirmSaved), in the order
        // the tasks finished; until then only its thread goes.
        if (task->State == jsFinished && !Unconfirmed(id))
            FQueue.MoveToFinishedById(id);
        else if (task->Uploader && task->State != jsUploading)
            FQueue.ReleaseThreadById(id);
        else
            continue;
        changed = true;
    }
    if (changed)
        MembershipChanged(true);
}

void TScheduler::StopRunningTasks() {
    if (FQueue.RunningCount() == 0)
        return;
    bool changed = false;
    for (TJobId id : IdsWhere(FQueue, [](const TUploadJobData& t) { return t.State == jsUploading; })) {
        const TUploadJobData* task = FQueue.FindTask(id);
        if (!task || task->State != jsUploading)
            continue;
        SetTaskState(*FQueue.IndexOfTask(id), jsDelayed, true);
        changed = true;
    }
    if (changed)
        SaveJobs();
}

void TScheduler::SetTaskState(std::size_t Index, TJobState NewState, bool Refresh) {
    TUploadJobData& task = FQueue.Task(Index);
    if (task.State == NewState)
        return;
    const TJobId id = task.Id();
    if (NewState == jsUploading) {
        LaunchTask(Index);
    } else {
        FQueue.ReleaseThread(Index);
        // The release may have served a command that removed the task.
        TUploadJobData* still = FQueue.FindTask(id);
        if (!still)
            return;
        // An upload that completed just as it was stopped keeps its links: it stays Finished
        // and moves on once it is saved, instead of being queued or delayed for a second upload.
        if (still->State != jsFinished || task.Uploader)
            still->State = NewState;
    }
    Refreshed(id, Refresh);
}

void TScheduler::ReleaseThread(std::size_t Index) {
    FQueue.ReleaseThread(Index);
}

void TScheduler::LaunchFailed(TJobId Id, const std::string& Message) {
    TUploadJobData* task = FQueue.FindTask(Id);
    if (!task)
        return;
    task->State = jsError;
    task->StatusText = SingleLine(Message);
    FQueue.ReleaseThreadById(Id);
}

void TScheduler::LaunchTask(std::size_t Index) {
    TUploadJobData& task = FQueue.Task(Index);
    if (task.State == jsUploading)
        return;
    const TJobId id = task.Id();
    // A task that ended on its own keeps its thread until just after its last event; Start Now!
    // may come first. Its old thread goes before a new one is attached, or it would be lost.
    if (task.Uploader) {
        FQueue.ReleaseThreadById(id);
        if (!FQueue.FindTask(id))
            return;
    }
    TUploadJobData& t = *FQueue.FindTask(id);
    t.State = jsUploading;
    t.StartTime = Now();
    t.EndTime = t.StartTime;
    t.Elapsed = 0;
    t.TimeLeft = 0;
    t.Percent = 0;
    t.Speed = 0;
    t.Reserved = {};
    t.StatusText = ResString(rmStarting);
    FQueue.FUploadsStarted = true;

    TUploaderHandle uploader =
        CreateTaskUploader(t.Method, &t, [this](TInternetThread& thread, TInternetThreadEvent event) {
            OnUploadThreadEvent(thread, event);
        });
    if (!uploader) {
        LaunchFailed(id, UnknownMethodMessage(t.Method));
        return;
    }
    TUploader* raw = uploader.get();
    FQueue.AttachUploader(*FQueue.IndexOfTask(id), std::move(uploader));
    try {
        const TUploadManagerSettings& um = AppSettings.UploadManager;
        StartTaskUploader(*raw, t, um.SendBufferSize * 1024, um.ConnectTimeout * 1000, um.ReadTimeout * 1000);
    } catch (const std::exception& e) {
        LaunchFailed(id, e.what());
    } catch (...) {
        LaunchFailed(id, "Unknown error");
    }
}

void TScheduler::ChangeTaskStates(TJobStates Filter, TJobState NewState) {
    ChangeTaskStatesOf(FQueue.TaskIds(), Filter, NewState);
}

void TScheduler::ChangeTaskStates(TJobStates Filter, TJobState NewState,
                                  const std::vector<TJobId>& Selected) {
    if (Selected.empty())
        return;
    const std::unordered_set<TJobId> chosen(Selected.begin(), Selected.end());
    std::vector<TJobId> ids = FQueue.TaskIds();
    std::erase_if(ids, [&](TJobId id) { return !chosen.count(id); });
    if (ids.empty())
        return;
    ChangeTaskStatesOf(ids, Filter, NewState);
}

void TScheduler::ChangeTaskStatesOf(const std::vector<TJobId>& Ids, TJobStates Filter, TJobState NewState) {
    HoldTimer();
    TFinally done([this] {
        SaveJobs();
        ReleaseTimer();
    });
    for (TJobId id : Ids) {
        const TUploadJobData* task = FQueue.FindTask(id);
        if (!task)
            continue;
        if (!Filter.IsAll() && !Filter.Contains(task->State))
            continue;
        SetTaskState(*FQueue.IndexOfTask(id), NewState, true);
    }
}

void TScheduler::OnUploadThreadEvent(TInternetThread& Thread, TInternetThreadEvent Event) {
    auto* task = static_cast<TUploadJobData*>(Thread.Data());
    if (!task)
        return;
    task->StatusText = Thread.StateText();
    // The resume data of a running upload (the FTP method's server, the MD5) reaches the jobs file
    // as soon as it changes, so that a run that ends without closing can still resume.
    bool resumeChanged = false;
    if (Event != ieFinished && task->State == jsUploading) {
        std::string info = UploaderInfoText(Thread);
        if (info != task->ResumeInfo) {
            task->ResumeInfo = std::move(info);
            resumeChanged = true;
        }
    }
    // Still holding its thread: it ended on its own (a thread being stopped was taken out of its
    // task before it was destroyed).
    const bool inQueue = FQueue.FindTask(task->Id()) == task;
    const bool endedOnItsOwn = Event == ieFinished && inQueue && task->Uploader;
    switch (Event) {
    case ieFinished:
        if (Thread.WorkResult() == trSuccess) {
            task->EndTime = Now();
            task->State = jsFinished;
            task->ResumeInfo.clear();
            task->StatusText = UploaderResultText(Thread);
        } else {
            task->State = jsError;
            task->ResumeInfo = UploaderInfoText(Thread);
            task->StatusText = SingleLine(Thread.ErrorText());
        }
        break;
    case ieProgress:
        task->StatusText =
            FormatText(ResString(rmUploadingFileBytes),
                       {FormatThousands(Thread.BytesDone()), FormatThousands(Thread.BytesTotal())});
        task->Percent = Thread.Percent();
        task->Elapsed = Thread.TransferElapsedMs();
        task->TimeLeft = Thread.TransferRemainingMs();
        task->Speed = Thread.TransferSpeed();
        break;
    case ieStarted:
    case ieStatusText:
        break;
    }
    // The record outlives a nested removal while its thread is being destroyed; only a task
    // still in the queue is repainted.
    const TJobId id = inQueue ? task->Id() : NoJobId;
    if (id != NoJobId) {
        FQueue.TaskChangedById(id);
        if (resumeChanged)
            SaveJobs();
    }
    const bool success = Event == ieFinished && task->State == jsFinished && id != NoJobId;
    if (success) {
        // Heard of by the front end only once it is on disk (ConfirmSaved).
        FUnconfirmed.push_back(TUnconfirmed{id});
        FSnapshotWanted = true;
    }
    if (endedOnItsOwn)
        FEndedThreads.push_back(id);
    if (success || endedOnItsOwn)
        PostAfterThreadEnded();
    if (FHooks.ThreadEvent && !success)
        FHooks.ThreadEvent(id, Event);
}

} // namespace quillo
