#pragma once
// TScheduler turns the upload queue into running uploads: a one-second tick starts Queued tasks
// from the top of the queue as upload threads (never more than ParallelThreads at once and, with
// the scheduler window on, only inside it), moves finished tasks into the finished list, releases
// threads that ended, runs the completion actions once per batch and produces the status-bar
// texts. Every state change of a task outside the thread-event handler and the jobs-file loader
// goes through SetTaskState.
//
// Threads. Everything here runs on the user-interface thread (the thread that owns the queue and
// runs the Qt event loop); upload threads deliver their events there synchronously.
//
// Re-entrancy. Destroying an upload thread serves the event loop while it waits, so a tick or a
// command may run inside any call that releases a thread. Every walk over the queue therefore
// holds a snapshot of task ids (never indexes) and looks each task up again before touching it:
// a task removed meanwhile is passed over, none is visited twice. A tick that would run nested
// inside another tick is skipped (the next one catches up).
//
// Slots. A task that ends on its own (finished or failed) hands its slot over at once: right
// after its thread's last event, its thread is released and the next Queued tasks start (queue
// order, ParallelThreads, the scheduler window), while the scheduler runs (its timer enabled,
// no Exit requested). The tick still does everything else and catches up on what was missed.
//
// Saves. SaveJobs takes a snapshot of both lists (JobsToBytes) and hands it to a background
// writer (TJobsWriter), which writes, fsyncs and renames it; saves asked for while one is being
// written are coalesced into one that follows. Write failures reach Hooks().JobsError on this
// thread. A success is saved at once: its snapshot is taken right after the thread's last event,
// and only once that write has ended does the front end hear of the success (the ThreadEvent
// hook with ieFinished) and does the task move into the finished list, so tasks reach it in the
// order they finished and no success is ever reported that a crash could still lose. Owners call
// FlushJobs before they end.
//
// Owners. The GUI's main window and the headless front end each own one TScheduler beside their
// TUploadQueue. Front-end work (repainting, sound, the shutdown window, the status bar) is
// reached through TSchedulerHooks; every hook may be left empty.

#include "core/engine/InternetThread.h"
#include "core/queue/JobsFile.h"
#include "core/queue/JobsWriter.h"
#include "core/queue/UploadJob.h"
#include "core/queue/UploadQueue.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QObject;
class QTimer;

namespace quillo {

// The time sources of the scheduler; tests script them. Empty members mean the real clocks.
struct TSchedulerClock {
    std::function<double()> Now;    // local date-time (days since 1899-12-30)
    std::function<uint32_t()> Tick; // monotonic milliseconds, modulo 2^32
};

// The texts of the status bar after a tick.
struct TSchedulerStatus {
    std::string Text;  // panel 0: "Uploading..." / "Idle." and the scheduled and shutdown notices
    std::string Speed; // panel 2: "Upload speed: %s KB/sec", or the idle notice
    bool operator==(const TSchedulerStatus&) const = default;
};

struct TSchedulerHooks {
    // End of every tick.
    std::function<void(const TSchedulerStatus& Status)> StatusChanged;
    // SetTaskState with refresh set: repaint that task's row and rebuild the details panel.
    std::function<void(TJobId Task)> TaskRefreshed;
    // Finished tasks were collected or threads released: repaint the visible list view.
    std::function<void()> ViewsChanged;
    // After OnUploadThreadEvent has copied an event into its task (the front ends repaint or
    // print progress); for a success only once the jobs file holding it has been written (the
    // task is then still in the queue, Finished, and moves into the finished list right after).
    // Task is NoJobId when the task has left the queue meanwhile.
    std::function<void(TJobId Task, TInternetThreadEvent Event)> ThreadEvent;
    // Stealth mode of the GUI (silences the sound, skips the shutdown countdown).
    std::function<bool()> StealthMode;
    // Every completed batch: nothing is Queued or Uploading any more after a launch.
    std::function<void()> BatchCompleted;
    // "NotifyUploadFinished" on and not stealth: bring the application back and play the sound.
    std::function<void()> NotifyUploadFinished;
    // "ShutDownWhenFinished" on (the jobs file has just been written): in stealth mode shut down
    // at once, otherwise show the countdown window.
    std::function<void(bool Stealth)> ShutDown;
    // Where jobs-file errors go (the GUI shows a box, the CLI prints); empty: dropped.
    TJobsErrorReporter JobsError;
};

struct TSchedulerOptions {
    TSchedulerClock Clock;
    // The jobs file every save writes; empty: JobsFileName().
    std::string JobsFile;
    // Run a QTimer of 1000 ms that calls TimerTimer while the timer is enabled. Tests that drive
    // the tick by hand switch it off (SetTimerEnabled then only records the state).
    bool OwnTimer = true;
    // Called on the writer thread before each write of the jobs file (tests hold a write open).
    std::function<void(const std::string& FileName)> BeforeWrite;
};

class TScheduler final {
public:
    TScheduler(TUploadQueue& Queue, TSchedulerOptions Options = {}, TSchedulerHooks Hooks = {});
    // Releases every thread still attached (their last events are handled meanwhile), without
    // changing states or writing the jobs file: the owner calls StopRunningTasks and saves first.
    ~TScheduler();
    TScheduler(const TScheduler&) = delete;
    TScheduler& operator=(const TScheduler&) = delete;

    TSchedulerHooks& Hooks() { return FHooks; }
    TUploadQueue& Queue() { return FQueue; }

    // The timer of the main window: disabled until start-up enables it; every ChangeTaskStates
    // disables it for its duration and enables it afterwards.
    void SetTimerEnabled(bool Enabled);
    bool TimerEnabled() const { return FTimerEnabled; }

    // The one-second tick.
    void TimerTimer();

    // The single way in which a task changes state outside the event handler and the loader.
    void SetTaskState(std::size_t Index, TJobState NewState, bool Refresh);
    // Attaches and starts an upload thread; on failure the task ends in Error with the reason.
    void LaunchTask(std::size_t Index);
    // Destroys the task's thread, if any (the thread's final event is handled meanwhile).
    void ReleaseThread(std::size_t Index);

    // SetTaskState(NewState) for every task whose state is in Filter (AllJobStates: every task),
    // in queue order, then writes the jobs file. The timer is off meanwhile and on afterwards.
    void ChangeTaskStates(TJobStates Filter, TJobState NewState);
    // The same restricted to the selected tasks (ids of the task list's selected rows, any
    // order; the walk still follows the queue). An empty selection changes and writes nothing.
    void ChangeTaskStates(TJobStates Filter, TJobState NewState, const std::vector<TJobId>& Selected);

    // Steps of the tick, also used by the commands.
    void LaunchQueuedTasks();
    void CollectFinishedTasks();
    void StopRunningTasks();

    // The handler every upload thread gets at creation.
    void OnUploadThreadEvent(TInternetThread& Thread, TInternetThreadEvent Event);

    // Takes a snapshot of the lists and hands it to the background writer; returns at once.
    // Errors reach Hooks().JobsError later, on this thread.
    void SaveJobs();
    // Waits until every save asked for so far has been written (taking a snapshot still owed to
    // a success first), reports what failed and confirms the successes written meanwhile. True
    // when the last write succeeded (or nothing was ever written). Never starts a task.
    bool FlushJobs();

    // True while the time of day lies in the scheduler window; cleared by ApplySettings so that
    // the next tick decides afresh.
    bool FInsideSchedulerWindow = false;
    void ResetSchedulerWindow() { FInsideSchedulerWindow = false; }

    // The texts of the last tick.
    const TSchedulerStatus& Status() const { return FStatus; }
    // The texts as the tick would write them now.
    TSchedulerStatus ComposeStatus() const;

    // Idle notice of the speed panel.
    static const char* IdleSpeedNotice();

    double Now() const;
    uint32_t Tick() const;

private:
    // A success waiting for the write of a snapshot that holds it.
    struct TUnconfirmed {
        TJobId Id = NoJobId;
        std::uint64_t Seq = 0; // the snapshot holding it, once taken
        bool InSnapshot = false;
    };
    // SaveJobs calls inside one of these are merged into one snapshot at its end.
    class TSaveBatch;

    std::string JobsFile() const;
    void TakeSnapshot();
    void TakeBatchedSnapshot();
    void HandleWrites();
    void ConfirmSaved();
    void MembershipChanged(bool Save);
    bool Unconfirmed(TJobId Id) const;
    bool MayLaunch() const;
    void PostAfterThreadEnded();
    void AfterThreadEnded();

    // The walks proper, over ids a scan has picked (re-checked one by one).
    void LaunchTasks(const std::vector<TJobId>& Queued);
    void CollectTasks(const std::vector<TJobId>& Ended);
    void ChangeTaskStatesOf(const std::vector<TJobId>& Ids, TJobStates Filter, TJobState NewState);
    void LaunchFailed(TJobId Id, const std::string& Message);
    void Refreshed(TJobId Id, bool Refresh);
    void HoldTimer();
    void ReleaseTimer();

    TUploadQueue& FQueue;
    TSchedulerOptions FOptions;
    TSchedulerHooks FHooks;
    std::unique_ptr<QTimer> FTimer;
    bool FTimerEnabled = false;
    int FTimerHolds = 0;
    int FTickDepth = 0;
    TSchedulerStatus FStatus;

    std::deque<TUnconfirmed> FUnconfirmed; // in the order the tasks finished
    std::vector<TJobId> FEndedThreads;     // threads that ended on their own, to release
    bool FStepPosted = false;
    bool FSnapshotWanted = false; // a success waits for its snapshot
    int FSaveBatchDepth = 0;
    bool FBatchedSave = false;
    std::uint64_t FSubmitted = 0; // last snapshot handed to the writer
    std::uint64_t FWritten = 0;   // last snapshot whose write has ended
    bool FLastWriteOk = true;
    // Queued calls from the writer thread and from event handlers reach this thread through it.
    std::unique_ptr<QObject> FContext;
    std::unique_ptr<TJobsWriter> FWriter; // after FContext: ends first
    TFinishedBytesCache FFinishedBytes; // the finished list as the last snapshot wrote it
};

} // namespace quillo
