#pragma once
// The upload queue and the finished list, owned by whoever runs the program's queue (the main
// window, the headless front end) for its whole life, together with the counters the scheduler
// keeps about it. Used on the user-interface thread only; nothing here locks.
//
// Rows are addressed two ways:
//  - by index, the position in the list at this moment (what the views and the commands use);
//  - by TJobId, which stays valid while the record is in its list, whatever else is added,
//    moved or removed. Any walk that calls out (destroying an upload thread delivers the
//    thread's final event and may run a nested tick or command) must hold ids, not indexes:
//        for (TJobId id : queue.TaskIds())
//            if (TUploadJobData* task = queue.FindTask(id)) ...
//
// Observers hear about every change of the lists so that a virtual view can follow: an
// "about to" call before the change and a "done" call after it, the way Qt item models need.

#include "core/queue/JobList.h"
#include "core/queue/UploadJob.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace quillo {

enum TQueueList : std::uint8_t { qlTasks, qlFinished };

// Every callback runs synchronously inside the queue operation. An observer must not change
// the queue from inside a callback (the operation throws std::logic_error if it tries).
class TUploadQueueObserver {
public:
    virtual ~TUploadQueueObserver() = default;

    // Rows first .. first + count - 1 are about to appear / have appeared.
    virtual void RowsAboutToBeInserted(TQueueList list, std::size_t first, std::size_t count) {}
    virtual void RowsInserted(TQueueList list, std::size_t first, std::size_t count) {}
    // Rows first .. first + count - 1 are about to go / have gone.
    virtual void RowsAboutToBeRemoved(TQueueList list, std::size_t first, std::size_t count) {}
    virtual void RowsRemoved(TQueueList list, std::size_t first, std::size_t count) {}
    // The row at `from` is about to end up / has ended up at index `to` (the rows in between
    // shift by one). For QAbstractItemModel::beginMoveRows the destination is `to + 1` when
    // moving down and `to` when moving up.
    virtual void RowAboutToBeMoved(TQueueList list, std::size_t from, std::size_t to) {}
    virtual void RowMoved(TQueueList list, std::size_t from, std::size_t to) {}
    // The contents of rows first .. last (inclusive) changed; membership and order did not.
    virtual void RowsChanged(TQueueList list, std::size_t first, std::size_t last) {}
    // The whole list is about to be / has been replaced (loading, clearing).
    virtual void ListAboutToBeReset(TQueueList list) {}
    virtual void ListReset(TQueueList list) {}
    // UpdateQueueSummary produced a new status-bar text.
    virtual void QueueSummaryChanged(const std::string& text) {}
};

class TUploadQueue final {
public:
    TUploadQueue();
    // Releases every upload thread (in queue order) before any record goes away.
    ~TUploadQueue();
    TUploadQueue(const TUploadQueue&) = delete;
    TUploadQueue& operator=(const TUploadQueue&) = delete;

    // ---- Upload queue ----------------------------------------------------------------------
    std::size_t TaskCount() const { return FTasks.Size(); }
    // index < TaskCount(); an index outside the list is the caller's error (std::out_of_range).
    TUploadJobData& Task(std::size_t index);
    const TUploadJobData& Task(std::size_t index) const;
    // nullptr when the id is not (or no longer) in the upload queue.
    TUploadJobData* FindTask(TJobId id);
    const TUploadJobData* FindTask(TJobId id) const;
    std::optional<std::size_t> IndexOfTask(TJobId id) const;
    // A snapshot of the ids in queue order, for walks that may call out.
    std::vector<TJobId> TaskIds() const;

    // Creates a task in state Delayed for an existing file: FileSize from GetFileSize64 (its
    // error passes to the caller and nothing is appended); UploadName kept only when it differs
    // from the file's own name other than in ASCII letter case. Returns the new index.
    std::size_t AddTask(const std::string& fileName, const std::string& uploadName,
                        const std::string& description, const std::string& method);
    // Appends a record as it is (the loader, tests, tools). Any Uploader in it is attached and
    // counted. Returns the new index.
    std::size_t AppendTask(TUploadJobData task);
    // Releases the task's thread, then removes the record. If a nested call removed the record
    // while its thread was being destroyed, there is nothing left to do.
    void DeleteTask(std::size_t index);
    bool DeleteTaskById(TJobId id); // false: id not in the queue
    // Deletes many tasks at once (ids no longer in the queue are ignored): every thread among them
    // is released first, then the records go in one pass. Linear in the queue's length whatever
    // the selection; observers hear one removal per run of adjacent rows, or a reset of the list
    // when the rows are scattered over many runs. Returns how many were deleted.
    std::size_t DeleteTasks(const std::vector<TJobId>& ids);
    // Appends the task's finished record (Result = StatusText) to the finished list, then
    // DeleteTask. Returns the index of the new finished record.
    std::size_t MoveToFinished(std::size_t index);
    std::optional<std::size_t> MoveToFinishedById(TJobId id);
    // The row at `from` ends up at `to`; other rows keep their relative order.
    void MoveTask(std::size_t from, std::size_t to);
    // Tell the observers that fields of a task changed (state, progress, names ...).
    void TaskChanged(std::size_t index);
    void TaskChangedById(TJobId id);
    void AllTasksChanged();

    int CountTasksIn(TJobStates states) const;

    // ---- Upload threads --------------------------------------------------------------------
    // The queue keeps RunningCount() equal to the number of tasks holding an Uploader: attach
    // and release only through these.
    int RunningCount() const { return FRunningCount; }
    // Stores the thread in the task (which must hold none) and counts it.
    void AttachUploader(std::size_t index, TUploaderHandle uploader);
    // If the task holds a thread: uncount it, clear Uploader, destroy the thread (which may
    // deliver the thread's last event and run nested code). The record stays alive meanwhile
    // even if a nested call removes it from the list. Returns whether there was a thread.
    bool ReleaseThread(std::size_t index);
    bool ReleaseThreadById(TJobId id);

    // Set by every launch; cleared by the scheduler when nothing is Queued or Uploading.
    bool FUploadsStarted = false;
    // Set when the user chose Exit; from then on the scheduler starts no task.
    bool FExitRequested = false;

    // ---- Finished list ---------------------------------------------------------------------
    std::size_t FinishedCount() const { return FFinished.Size(); }
    // Read-only: a finished record changes only through the calls below, so the list's edit stamp
    // (FinishedEditStamp) always tells whether its records are still the ones saved before.
    const TFinishedUploadJobData& Finished(std::size_t index) const;
    const TFinishedUploadJobData* FindFinished(TJobId id) const;
    std::uint64_t FinishedEditStamp() const { return FFinished.EditStamp(); }
    std::optional<std::size_t> IndexOfFinished(TJobId id) const;
    std::vector<TJobId> FinishedIds() const;
    std::size_t AppendFinished(TFinishedUploadJobData record);
    void DeleteFinished(std::size_t index);
    bool DeleteFinishedById(TJobId id);
    std::size_t DeleteFinishedRecords(const std::vector<TJobId>& ids); // as DeleteTasks
    void MoveFinished(std::size_t from, std::size_t to);
    // Puts the finished record at Order[i] at index i (a sort). The rows themselves stay, only
    // what they show changes: observers hear RowsChanged for the whole list, so a view keeps its
    // selection marks on the row positions.
    void ReorderFinished(const std::vector<std::size_t>& Order);

    // ---- Whole lists -----------------------------------------------------------------------
    // Appends many records with one insert notification per list (loading). The queue takes the
    // records over; threads held by tasks are counted.
    void AppendAll(std::vector<TUploadJobData> tasks, std::vector<TFinishedUploadJobData> finished);
    void AppendAll(std::vector<std::unique_ptr<TUploadJobData>> tasks,
                   std::vector<std::unique_ptr<TFinishedUploadJobData>> finished);
    // Releases every thread, then empties both lists (reset notifications).
    void Clear();

    // ---- Status-bar summary ----------------------------------------------------------------
    // Sum of the FileSize of every task.
    std::int64_t TotalTaskBytes() const;
    // "No files" or "<n> files (<MB> MB)", numbers with thousands separators and no decimals;
    // stores the text, tells the observers and returns it.
    std::string UpdateQueueSummary();
    const std::string& QueueSummary() const { return FQueueSummary; }

    // ---- Observers -------------------------------------------------------------------------
    // Not owned; an observer must be removed before it is destroyed.
    void AddObserver(TUploadQueueObserver* observer);
    void RemoveObserver(TUploadQueueObserver* observer);

private:
    void CheckNotNotifying() const;
    template <class F> void Notify(F&& call);
    bool ReleaseThreadOf(std::shared_ptr<TUploadJobData> task);
    template <class TRecord, class TItem>
    void AppendRecords(TQueueList which, TJobList<TRecord>& list, std::vector<TItem>&& records);
    template <class TRecord> void RemoveRecord(TQueueList which, TJobList<TRecord>& list, std::size_t index);
    template <class TRecord>
    std::size_t RemoveRecords(TQueueList which, TJobList<TRecord>& list, const std::vector<TJobId>& ids);
    template <class TRecord>
    void MoveRecord(TQueueList which, TJobList<TRecord>& list, std::size_t from, std::size_t to);
    template <class TRecord> void ResetList(TQueueList which, TJobList<TRecord>& list);

    TJobList<TUploadJobData> FTasks{"upload queue"};
    TJobList<TFinishedUploadJobData> FFinished{"finished list"};
    TJobId FNextId = 1;
    int FRunningCount = 0;
    std::string FQueueSummary;
    std::vector<TUploadQueueObserver*> FObservers;
    int FNotifying = 0;
};

} // namespace quillo
