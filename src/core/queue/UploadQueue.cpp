#include "core/queue/UploadQueue.h"

#include "core/app/MyUtils.h"
#include "core/l10n/ResMessages.h"

#include <algorithm>
#include <stdexcept>

namespace quillo {

namespace {
// Marks the queue as busy notifying for the duration of a callback round.
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
    // A copy: an observer may remove itself.
    const std::vector<TUploadQueueObserver*> observers = FObservers;
    for (TUploadQueueObserver* o : observers)
        call(*o);
}

TUploadQueue::TTaskPtr& TUploadQueue::TaskSlot(std::size_t index) {
    if (index >= FTasks.size())
        throw std::out_of_range("Task index " + std::to_string(index) + " is outside the upload queue");
    return FTasks[index];
}

TUploadQueue::TFinishedPtr& TUploadQueue::FinishedSlot(std::size_t index) {
    if (index >= FFinished.size())
        throw std::out_of_range("Index " + std::to_string(index) + " is outside the finished list");
    return FFinished[index];
}

TUploadJobData& TUploadQueue::Task(std::size_t index) {
    return *TaskSlot(index);
}

const TUploadJobData& TUploadQueue::Task(std::size_t index) const {
    return *const_cast<TUploadQueue*>(this)->TaskSlot(index);
}

TUploadJobData* TUploadQueue::FindTask(TJobId id) {
    const auto it = FTaskById.find(id);
    return it == FTaskById.end() ? nullptr : it->second;
}

const TUploadJobData* TUploadQueue::FindTask(TJobId id) const {
    return const_cast<TUploadQueue*>(this)->FindTask(id);
}

std::optional<std::size_t> TUploadQueue::IndexOfTask(TJobId id) const {
    const TUploadJobData* task = FindTask(id);
    if (!task)
        return std::nullopt;
    return task->FIndex;
}

std::vector<TJobId> TUploadQueue::TaskIds() const {
    std::vector<TJobId> ids;
    ids.reserve(FTasks.size());
    for (const TTaskPtr& t : FTasks)
        ids.push_back(t->FId);
    return ids;
}

bool TUploadQueue::InQueue(const TUploadJobData* task) const {
    return task->FIndex < FTasks.size() && FTasks[task->FIndex].get() == task;
}

void TUploadQueue::RenumberTasks(std::size_t first, std::size_t last) {
    for (std::size_t i = first; i <= last && i < FTasks.size(); ++i)
        FTasks[i]->FIndex = i;
}

void TUploadQueue::RenumberFinished(std::size_t first, std::size_t last) {
    for (std::size_t i = first; i <= last && i < FFinished.size(); ++i)
        FFinished[i]->FIndex = i;
}

std::size_t TUploadQueue::AddTask(const std::string& fileName, const std::string& uploadName,
                                  const std::string& description, const std::string& method) {
    TUploadJobData task;
    task.State = jsDelayed;
    task.FileName = fileName;
    if (UpperCaseAscii(uploadName) != UpperCaseAscii(JobFileNamePart(fileName)))
        task.UploadName = uploadName;
    task.FileSize = GetFileSize64(fileName); // raises before anything is appended
    task.Description = description;
    task.Method = method;
    return AppendTask(std::move(task));
}

std::size_t TUploadQueue::AppendTask(TUploadJobData task) {
    std::vector<TUploadJobData> one;
    one.push_back(std::move(task));
    AppendAll(std::move(one), {});
    return FTasks.size() - 1;
}

void TUploadQueue::AppendAll(std::vector<TUploadJobData> tasks,
                             std::vector<TFinishedUploadJobData> finished) {
    CheckNotNotifying();
    if (!tasks.empty()) {
        const std::size_t first = FTasks.size();
        const std::size_t count = tasks.size();
        Notify([&](TUploadQueueObserver& o) { o.RowsAboutToBeInserted(qlTasks, first, count); });
        FTasks.reserve(first + count);
        FTaskById.reserve(first + count);
        for (TUploadJobData& t : tasks) {
            auto p = std::make_shared<TUploadJobData>(std::move(t));
            p->FId = FNextId++;
            p->FIndex = FTasks.size();
            if (p->Uploader)
                ++FRunningCount;
            FTaskById.emplace(p->FId, p.get());
            FTasks.push_back(std::move(p));
        }
        tasks.clear();
        Notify([&](TUploadQueueObserver& o) { o.RowsInserted(qlTasks, first, count); });
    }
    if (!finished.empty()) {
        const std::size_t first = FFinished.size();
        const std::size_t count = finished.size();
        Notify([&](TUploadQueueObserver& o) { o.RowsAboutToBeInserted(qlFinished, first, count); });
        FFinished.reserve(first + count);
        FFinishedById.reserve(first + count);
        for (TFinishedUploadJobData& f : finished) {
            auto p = std::make_shared<TFinishedUploadJobData>(std::move(f));
            p->FId = FNextId++;
            p->FIndex = FFinished.size();
            FFinishedById.emplace(p->FId, p.get());
            FFinished.push_back(std::move(p));
        }
        Notify([&](TUploadQueueObserver& o) { o.RowsInserted(qlFinished, first, count); });
    }
}

void TUploadQueue::ReleaseThreadOf(const TTaskPtr& task) {
    if (!task->Uploader)
        return;
    // Keep the record alive and uncounted before the thread goes: its last event (delivered
    // while we wait for it) writes into the record and may run nested code that removes it.
    TTaskPtr keepAlive = task;
    TUploaderHandle uploader = std::move(keepAlive->Uploader);
    keepAlive->Uploader.reset();
    --FRunningCount;
    uploader.reset();
}

bool TUploadQueue::ReleaseThread(std::size_t index) {
    const TTaskPtr& slot = TaskSlot(index);
    const bool had = static_cast<bool>(slot->Uploader);
    ReleaseThreadOf(TTaskPtr(slot));
    return had;
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

void TUploadQueue::RemoveTaskAt(std::size_t index) {
    CheckNotNotifying();
    Notify([&](TUploadQueueObserver& o) { o.RowsAboutToBeRemoved(qlTasks, index, 1); });
    TTaskPtr gone = std::move(FTasks[index]);
    FTasks.erase(FTasks.begin() + static_cast<std::ptrdiff_t>(index));
    FTaskById.erase(gone->FId);
    gone->FIndex = static_cast<std::size_t>(-1);
    RenumberTasks(index, FTasks.size());
    Notify([&](TUploadQueueObserver& o) { o.RowsRemoved(qlTasks, index, 1); });
    // A nested thread release may still hold the record; it goes when the last holder lets go.
}

void TUploadQueue::DeleteTask(std::size_t index) {
    CheckNotNotifying();
    TTaskPtr task = TaskSlot(index);
    ReleaseThreadOf(task);
    // Destroying the thread may have run nested code that moved or removed rows.
    if (!InQueue(task.get()))
        return;
    RemoveTaskAt(task->FIndex);
}

bool TUploadQueue::DeleteTaskById(TJobId id) {
    const std::optional<std::size_t> index = IndexOfTask(id);
    if (!index)
        return false;
    DeleteTask(*index);
    return true;
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
    CheckNotNotifying();
    TaskSlot(from);
    TaskSlot(to);
    if (from == to)
        return;
    Notify([&](TUploadQueueObserver& o) { o.RowAboutToBeMoved(qlTasks, from, to); });
    if (from < to)
        std::rotate(FTasks.begin() + from, FTasks.begin() + from + 1, FTasks.begin() + to + 1);
    else
        std::rotate(FTasks.begin() + to, FTasks.begin() + from, FTasks.begin() + from + 1);
    RenumberTasks(std::min(from, to), std::max(from, to));
    Notify([&](TUploadQueueObserver& o) { o.RowMoved(qlTasks, from, to); });
}

void TUploadQueue::TaskChanged(std::size_t index) {
    TaskSlot(index);
    Notify([&](TUploadQueueObserver& o) { o.RowsChanged(qlTasks, index, index); });
}

void TUploadQueue::TaskChangedById(TJobId id) {
    if (const std::optional<std::size_t> index = IndexOfTask(id))
        TaskChanged(*index);
}

void TUploadQueue::AllTasksChanged() {
    if (!FTasks.empty())
        Notify([&](TUploadQueueObserver& o) { o.RowsChanged(qlTasks, 0, FTasks.size() - 1); });
}

int TUploadQueue::CountTasksIn(TJobStates states) const {
    if (states.IsAll())
        return static_cast<int>(FTasks.size());
    int n = 0;
    for (const TTaskPtr& t : FTasks)
        if (states.Contains(t->State))
            ++n;
    return n;
}

TFinishedUploadJobData& TUploadQueue::Finished(std::size_t index) {
    return *FinishedSlot(index);
}

const TFinishedUploadJobData& TUploadQueue::Finished(std::size_t index) const {
    return *const_cast<TUploadQueue*>(this)->FinishedSlot(index);
}

TFinishedUploadJobData* TUploadQueue::FindFinished(TJobId id) {
    const auto it = FFinishedById.find(id);
    return it == FFinishedById.end() ? nullptr : it->second;
}

std::optional<std::size_t> TUploadQueue::IndexOfFinished(TJobId id) const {
    const TFinishedUploadJobData* f = const_cast<TUploadQueue*>(this)->FindFinished(id);
    if (!f)
        return std::nullopt;
    return f->FIndex;
}

std::vector<TJobId> TUploadQueue::FinishedIds() const {
    std::vector<TJobId> ids;
    ids.reserve(FFinished.size());
    for (const TFinishedPtr& f : FFinished)
        ids.push_back(f->FId);
    return ids;
}

std::size_t TUploadQueue::AppendFinished(TFinishedUploadJobData record) {
    std::vector<TFinishedUploadJobData> one;
    one.push_back(std::move(record));
    AppendAll({}, std::move(one));
    return FFinished.size() - 1;
}

void TUploadQueue::DeleteFinished(std::size_t index) {
    CheckNotNotifying();
    FinishedSlot(index);
    Notify([&](TUploadQueueObserver& o) { o.RowsAboutToBeRemoved(qlFinished, index, 1); });
    FFinishedById.erase(FFinished[index]->FId);
    FFinished.erase(FFinished.begin() + static_cast<std::ptrdiff_t>(index));
    RenumberFinished(index, FFinished.size());
    Notify([&](TUploadQueueObserver& o) { o.RowsRemoved(qlFinished, index, 1); });
}

bool TUploadQueue::DeleteFinishedById(TJobId id) {
    const std::optional<std::size_t> index = IndexOfFinished(id);
    if (!index)
        return false;
    DeleteFinished(*index);
    return true;
}

void TUploadQueue::MoveFinished(std::size_t from, std::size_t to) {
    CheckNotNotifying();
    FinishedSlot(from);
    FinishedSlot(to);
    if (from == to)
        return;
    Notify([&](TUploadQueueObserver& o) { o.RowAboutToBeMoved(qlFinished, from, to); });
    if (from < to)
        std::rotate(FFinished.begin() + from, FFinished.begin() + from + 1, FFinished.begin() + to + 1);
    else
        std::rotate(FFinished.begin() + to, FFinished.begin() + from, FFinished.begin() + from + 1);
    RenumberFinished(std::min(from, to), std::max(from, to));
    Notify([&](TUploadQueueObserver& o) { o.RowMoved(qlFinished, from, to); });
}

void TUploadQueue::FinishedChanged(std::size_t index) {
    FinishedSlot(index);
    Notify([&](TUploadQueueObserver& o) { o.RowsChanged(qlFinished, index, index); });
}

void TUploadQueue::Clear() {
    CheckNotNotifying();
    for (TJobId id : TaskIds())
        ReleaseThreadById(id);
    Notify([&](TUploadQueueObserver& o) { o.ListAboutToBeReset(qlTasks); });
    for (TTaskPtr& t : FTasks)
        t->FIndex = static_cast<std::size_t>(-1);
    FTasks.clear();
    FTaskById.clear();
    Notify([&](TUploadQueueObserver& o) { o.ListReset(qlTasks); });
    Notify([&](TUploadQueueObserver& o) { o.ListAboutToBeReset(qlFinished); });
    FFinished.clear();
    FFinishedById.clear();
    Notify([&](TUploadQueueObserver& o) { o.ListReset(qlFinished); });
}

std::int64_t TUploadQueue::TotalTaskBytes() const {
    std::int64_t sum = 0;
    for (const TTaskPtr& t : FTasks)
        sum += t->FileSize;
    return sum;
}

std::string TUploadQueue::UpdateQueueSummary() {
    if (FTasks.empty())
        FQueueSummary = ResString(rmNoFiles);
    else
        FQueueSummary =
            FormatText(ResString(rmQueueSummary), {static_cast<double>(FTasks.size()),
                                                   static_cast<double>(TotalTaskBytes()) / 1048576.0});
    Notify([&](TUploadQueueObserver& o) { o.QueueSummaryChanged(FQueueSummary); });
    return FQueueSummary;
}

void TUploadQueue::AddObserver(TUploadQueueObserver* observer) {
    if (observer && std::find(FObservers.begin(), FObservers.end(), observer) == FObservers.end())
        FObservers.push_back(observer);
}

void TUploadQueue::RemoveObserver(TUploadQueueObserver* observer) {
    FObservers.erase(std::remove(FObservers.begin(), FObservers.end(), observer), FObservers.end());
}

} // namespace quillo
