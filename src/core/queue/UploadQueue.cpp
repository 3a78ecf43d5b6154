#include "core/queue/UploadQueue.h"

#include "core/app/MyUtils.h"
#include "core/l10n/ResMessages.h"

#include <algorithm>
#include <limits>
#include <stdexcept>
#include <type_traits>

namespace quillo {

namespace {
struct TNotifyScope {
    explicit TNotifyScope(int& depth) : FDepth(depth) { ++FDepth; }
    ~TNotifyScope() { --FDepth; }
    int& FDepth;
};
} // namespace

TUploadQueue::TUploadQueue() = default;

TUploadQueue::~TUploadQueue() {
    // A thread's last event writes into its task: every thread must be gone before any record.
    FObservers.clear();
    for (TJobId id : TaskIds())
        ReleaseThreadById(id);
}

void TUploadQueue::CheckNotNotifying() const {
    if (FNotifying)
        throw std::logic_error("The upload queue was changed from inside one of its notifications");
}

template <class F> void TUploadQueue::Notify(F&& call) {
    if (FObservers.empty())
        return;
    TNotifyScope scope(FNotifying);
    const std::vector<TUploadQueueObserver*> observers = FObservers; // one may remove itself
    for (TUploadQueueObserver* o : observers)
        call(*o);
}

namespace {
template <class TRecord> std::shared_ptr<TRecord> Shared(TRecord&& record) {
    return std::make_shared<TRecord>(std::move(record));
}
template <class TRecord> std::shared_ptr<TRecord> Shared(std::unique_ptr<TRecord>&& record) {
    return std::shared_ptr<TRecord>(std::move(record));
}
} // namespace

template <class TRecord, class TItem>
void TUploadQueue::AppendRecords(TQueueList which, TJobList<TRecord>& list, std::vector<TItem>&& records) {
    if (records.empty())
        return;
    CheckNotNotifying();
    if constexpr (!std::is_same_v<TItem, TRecord>)
        for (const TItem& item : records)
            if (!item)
                throw std::invalid_argument("No record to append to the upload queue");
    const std::size_t first = list.Size();
    const std::size_t count = records.size();
    Notify([&](TUploadQueueObserver& o) { o.RowsAboutToBeInserted(which, first, count); });
    list.Reserve(count);
    for (TItem& item : records) {
        TRecord& r = list.Append(Shared(std::move(item)), FNextId++);
        if constexpr (std::is_same_v<TRecord, TUploadJobData>)
            FRunningCount += r.Uploader ? 1 : 0;
    }
    records.clear();
    records.shrink_to_fit();
    Notify([&](TUploadQueueObserver& o) { o.RowsInserted(which, first, count); });
}

template <class TRecord>
void TUploadQueue::RemoveRecord(TQueueList which, TJobList<TRecord>& list, std::size_t index) {
    CheckNotNotifying();
    list.Slot(index);
    Notify([&](TUploadQueueObserver& o) { o.RowsAboutToBeRemoved(which, index, 1); });
    // Whoever else still holds the record (a thread release in progress) lets it go later.
    list.RemoveAt(index);
    Notify([&](TUploadQueueObserver& o) { o.RowsRemoved(which, index, 1); });
}

template <class TRecord>
std::size_t TUploadQueue::RemoveRecords(TQueueList which, TJobList<TRecord>& list,
                                        const std::vector<TJobId>& ids) {
    CheckNotNotifying();
    std::vector<char> marks(list.Size(), 0);
    std::size_t count = 0;
    for (TJobId id : ids)
        if (const std::optional<std::size_t> index = list.IndexOf(id); index && !marks[*index]) {
            marks[*index] = 1;
            ++count;
        }
    if (count == 0)
        return 0;
    // Runs of adjacent rows, last first, so that earlier indexes stay right.
    std::vector<std::pair<std::size_t, std::size_t>> runs;
    for (std::size_t i = 0; i < marks.size(); ++i)
        if (marks[i]) {
            if (!runs.empty() && runs.back().first + runs.back().second == i)
                ++runs.back().second;
            else
                runs.push_back({i, 1});
        }
    // Each run costs a shift of the rows after it; beyond a few runs one pass and a reset is cheaper
    // for the list and for the views.
    constexpr std::size_t kMaxRuns = 16;
    if (runs.size() > kMaxRuns) {
        Notify([&](TUploadQueueObserver& o) { o.ListAboutToBeReset(which); });
        list.RemoveMarked(marks);
        Notify([&](TUploadQueueObserver& o) { o.ListReset(which); });
        return count;
    }
    for (auto run = runs.rbegin(); run != runs.rend(); ++run) {
        Notify([&](TUploadQueueObserver& o) { o.RowsAboutToBeRemoved(which, run->first, run->second); });
        list.RemoveRange(run->first, run->second);
        Notify([&](TUploadQueueObserver& o) { o.RowsRemoved(which, run->first, run->second); });
    }
    return count;
}

template <class TRecord>
void TUploadQueue::MoveRecord(TQueueList which, TJobList<TRecord>& list, std::size_t from, std::size_t to) {
    CheckNotNotifying();
    list.Slot(from);
    list.Slot(to);
    if (from == to)
        return;
    Notify([&](TUploadQueueObserver& o) { o.RowAboutToBeMoved(which, from, to); });
    list.Move(from, to);
    Notify([&](TUploadQueueObserver& o) { o.RowMoved(which, from, to); });
}

template <class TRecord> void TUploadQueue::ResetList(TQueueList which, TJobList<TRecord>& list) {
    Notify([&](TUploadQueueObserver& o) { o.ListAboutToBeReset(which); });
    list.Clear();
    Notify([&](TUploadQueueObserver& o) { o.ListReset(which); });
}

// ---- upload queue ----------------------------------------------------------------------------

TUploadJobData& TUploadQueue::Task(std::size_t index) {
    return *FTasks.Slot(index);
}
const TUploadJobData& TUploadQueue::Task(std::size_t index) const {
    return *FTasks.Slot(index);
}
TUploadJobData* TUploadQueue::FindTask(TJobId id) {
    return FTasks.Find(id);
}
const TUploadJobData* TUploadQueue::FindTask(TJobId id) const {
    return FTasks.Find(id);
}
std::optional<std::size_t> TUploadQueue::IndexOfTask(TJobId id) const {
    return FTasks.IndexOf(id);
}
std::vector<TJobId> TUploadQueue::TaskIds() const {
    return FTasks.Ids();
}

std::size_t TUploadQueue::AddTask(const std::string& fileName, const std::string& uploadName,
                                  const std::string& description, const std::string& method) {
    TUploadJobData task;
    task.State = jsDelayed;
    task.FileName = fileName;
    if (UpperCaseAscii(uploadName) != UpperCaseAscii(ExtractFileName(fileName)))
        task.UploadName = uploadName;
    task.FileSize = GetFileSize64(fileName); // raises before anything is appended
    task.Description = description;
    task.Method = method;
    return AppendTask(std::move(task));
}

std::size_t TUploadQueue::AppendTask(TUploadJobData task) {
    std::vector<TUploadJobData> one;
    one.push_back(std::move(task));
    AppendRecords(qlTasks, FTasks, std::move(one));
    return FTasks.Size() - 1;
}

void TUploadQueue::DeleteTask(std::size_t index) {
    CheckNotNotifying();
    std::shared_ptr<TUploadJobData> task = FTasks.Slot(index);
    ReleaseThreadOf(task);
    // Destroying the thread may have run nested code that moved or removed rows.
    if (const std::optional<std::size_t> now = FTasks.IndexOf(task.get()))
        RemoveRecord(qlTasks, FTasks, *now);
}

bool TUploadQueue::DeleteTaskById(TJobId id) {
    const std::optional<std::size_t> index = IndexOfTask(id);
    if (index)
        DeleteTask(*index);
    return index.has_value();
}

std::size_t TUploadQueue::DeleteTasks(const std::vector<TJobId>& ids) {
    CheckNotNotifying();
    // Releasing a thread may run nested code that changes the queue: ids, not indexes.
    for (TJobId id : ids)
        ReleaseThreadById(id);
    return RemoveRecords(qlTasks, FTasks, ids);
}

std::size_t TUploadQueue::MoveToFinished(std::size_t index) {
    CheckNotNotifying();
    const std::size_t at = AppendFinished(MakeFinishedRecord(Task(index)));
    DeleteTask(index);
    return at;
}

std::optional<std::size_t> TUploadQueue::MoveToFinishedById(TJobId id) {
    const std::optional<std::size_t> index = IndexOfTask(id);
    if (!index)
        return std::nullopt;
    return MoveToFinished(*index);
}

void TUploadQueue::MoveTask(std::size_t from, std::size_t to) {
    MoveRecord(qlTasks, FTasks, from, to);
}

void TUploadQueue::TaskChanged(std::size_t index) {
    FTasks.Slot(index);
    Notify([&](TUploadQueueObserver& o) { o.RowsChanged(qlTasks, index, index); });
}

void TUploadQueue::TaskChangedById(TJobId id) {
    if (const std::optional<std::size_t> index = IndexOfTask(id))
        TaskChanged(*index);
}

void TUploadQueue::AllTasksChanged() {
    if (FTasks.Size())
        Notify([&](TUploadQueueObserver& o) { o.RowsChanged(qlTasks, 0, FTasks.Size() - 1); });
}

int TUploadQueue::CountTasksIn(TJobStates states) const {
    if (states.IsAll())
        return static_cast<int>(FTasks.Size());
    int n = 0;
    for (std::size_t i = 0; i < FTasks.Size(); ++i)
        if (states.Contains(FTasks.Slot(i)->State))
            ++n;
    return n;
}

// ---- upload threads --------------------------------------------------------------------------

bool TUploadQueue::ReleaseThreadOf(std::shared_ptr<TUploadJobData> task) {
    if (!task->Uploader)
        return false;
    // `task` keeps the record alive, and it is uncounted before the thread goes: the thread's
    // last event (delivered while we wait for it) writes into the record and may run nested
    // code that removes it from the list.
    TUploaderHandle uploader = std::move(task->Uploader);
    --FRunningCount;
    uploader.reset();
    return true;
}

bool TUploadQueue::ReleaseThread(std::size_t index) {
    return ReleaseThreadOf(FTasks.Slot(index));
}

bool TUploadQueue::ReleaseThreadById(TJobId id) {
    const std::optional<std::size_t> index = IndexOfTask(id);
    return index && ReleaseThread(*index);
}

void TUploadQueue::AttachUploader(std::size_t index, TUploaderHandle uploader) {
    TUploadJobData& task = Task(index);
    if (task.Uploader)
        throw std::logic_error("The task already holds an upload thread");
    if (!uploader)
        return;
    task.Uploader = std::move(uploader);
    ++FRunningCount;
}

// ---- finished list ---------------------------------------------------------------------------

const TFinishedUploadJobData& TUploadQueue::Finished(std::size_t index) const {
    return *FFinished.Slot(index);
}
const TFinishedUploadJobData* TUploadQueue::FindFinished(TJobId id) const {
    return FFinished.Find(id);
}
std::optional<std::size_t> TUploadQueue::IndexOfFinished(TJobId id) const {
    return FFinished.IndexOf(id);
}
std::vector<TJobId> TUploadQueue::FinishedIds() const {
    return FFinished.Ids();
}

std::size_t TUploadQueue::AppendFinished(TFinishedUploadJobData record) {
    std::vector<TFinishedUploadJobData> one;
    one.push_back(std::move(record));
    AppendRecords(qlFinished, FFinished, std::move(one));
    return FFinished.Size() - 1;
}

void TUploadQueue::DeleteFinished(std::size_t index) {
    RemoveRecord(qlFinished, FFinished, index);
}

bool TUploadQueue::DeleteFinishedById(TJobId id) {
    const std::optional<std::size_t> index = IndexOfFinished(id);
    if (index)
        DeleteFinished(*index);
    return index.has_value();
}

std::size_t TUploadQueue::DeleteFinishedRecords(const std::vector<TJobId>& ids) {
    return RemoveRecords(qlFinished, FFinished, ids);
}

void TUploadQueue::MoveFinished(std::size_t from, std::size_t to) {
    MoveRecord(qlFinished, FFinished, from, to);
}

void TUploadQueue::ReorderFinished(const std::vector<std::size_t>& Order) {
    CheckNotNotifying();
    FFinished.Permute(Order);
    if (FFinished.Size() > 0)
        Notify([&](TUploadQueueObserver& o) { o.RowsChanged(qlFinished, 0, FFinished.Size() - 1); });
}

// ---- whole lists -----------------------------------------------------------------------------

void TUploadQueue::AppendAll(std::vector<TUploadJobData> tasks,
                             std::vector<TFinishedUploadJobData> finished) {
    AppendRecords(qlTasks, FTasks, std::move(tasks));
    AppendRecords(qlFinished, FFinished, std::move(finished));
}

void TUploadQueue::AppendAll(std::vector<std::unique_ptr<TUploadJobData>> tasks,
                             std::vector<std::unique_ptr<TFinishedUploadJobData>> finished) {
    AppendRecords(qlTasks, FTasks, std::move(tasks));
    AppendRecords(qlFinished, FFinished, std::move(finished));
}

void TUploadQueue::Clear() {
    CheckNotNotifying();
    for (TJobId id : TaskIds())
        ReleaseThreadById(id);
    ResetList(qlTasks, FTasks);
    ResetList(qlFinished, FFinished);
}

// ---- summary ---------------------------------------------------------------------------------

std::int64_t TUploadQueue::TotalTaskBytes() const {
    // Sizes come from a file that may have been tampered with: saturate instead of overflowing.
    std::int64_t sum = 0;
    for (std::size_t i = 0; i < FTasks.Size(); ++i)
        if (__builtin_add_overflow(sum, FTasks.Slot(i)->FileSize, &sum))
            sum = FTasks.Slot(i)->FileSize > 0 ? std::numeric_limits<std::int64_t>::max()
                                               : std::numeric_limits<std::int64_t>::min();
    return sum;
}

std::string TUploadQueue::UpdateQueueSummary() {
    if (FTasks.Size() == 0)
        FQueueSummary = ResString(rmNoFiles);
    else
        FQueueSummary =
            FormatText(ResString(rmQueueSummary), {static_cast<double>(FTasks.Size()),
                                                   static_cast<double>(TotalTaskBytes()) / 1048576.0});
    Notify([&](TUploadQueueObserver& o) { o.QueueSummaryChanged(FQueueSummary); });
    return FQueueSummary;
}

// ---- observers -------------------------------------------------------------------------------

void TUploadQueue::AddObserver(TUploadQueueObserver* observer) {
    if (observer && std::find(FObservers.begin(), FObservers.end(), observer) == FObservers.end())
        FObservers.push_back(observer);
}

void TUploadQueue::RemoveObserver(TUploadQueueObserver* observer) {
    FObservers.erase(std::remove(FObservers.begin(), FObservers.end(), observer), FObservers.end());
}

} // namespace quillo
