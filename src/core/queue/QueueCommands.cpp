#include "core/queue/QueueCommands.h"

#include "core/app/MyUtils.h"
#include "core/queue/Scheduler.h"

#include <algorithm>
#include <utility>

namespace quillo {

TListSelection TListSelection::OfRows(std::size_t RowCount, const std::vector<std::size_t>& Rows,
                                      std::optional<std::size_t> Focus) {
    TListSelection s;
    s.Selected.assign(RowCount, 0);
    for (std::size_t r : Rows)
        if (r < RowCount)
            s.Selected[r] = 1;
    s.Focus = Focus;
    return s;
}

std::vector<std::size_t> TListSelection::Rows() const {
    std::vector<std::size_t> rows;
    for (std::size_t i = 0; i < Selected.size(); ++i)
        if (Selected[i])
            rows.push_back(i);
    return rows;
}

namespace {

std::size_t ListSize(const TUploadQueue& queue, TQueueList list) {
    return list == qlTasks ? queue.TaskCount() : queue.FinishedCount();
}

TJobId IdAt(const TUploadQueue& queue, TQueueList list, std::size_t row) {
    return list == qlTasks ? queue.Task(row).Id() : queue.Finished(row).Id();
}

// A selection made for another length of the list (the list changed under the window) is used
// only as far as both reach.
std::size_t Reach(const TUploadQueue& queue, TQueueList list, const TListSelection& s) {
    return std::min(ListSize(queue, list), s.Selected.size());
}

} // namespace

std::vector<TJobId> SelectedIds(const TUploadQueue& Queue, TQueueList List, const TListSelection& Selection) {
    std::vector<TJobId> ids;
    const std::size_t n = Reach(Queue, List, Selection);
    for (std::size_t i = 0; i < n; ++i)
        if (Selection.Selected[i])
            ids.push_back(IdAt(Queue, List, i));
    return ids;
}

// ---- enable rules ----------------------------------------------------------------------------

TSelectionSummary SummarizeSelection(const TUploadQueue& Queue, TQueueList List,
                                     const TListSelection& Selection) {
    TSelectionSummary sum;
    const std::size_t n = Reach(Queue, List, Selection);
    for (std::size_t i = 0; i < n; ++i) {
        if (!Selection.Selected[i])
            continue;
        ++sum.Count;
        if (List == qlTasks)
            sum.States.Include(Queue.Task(i).State);
    }
    const std::size_t size = ListSize(Queue, List);
    sum.FirstSelected = n > 0 && Selection.Selected[0];
    sum.LastSelected = n == size && n > 0 && Selection.Selected[n - 1];
    return sum;
}

bool SelectedTasksInStates(const TSelectionSummary& Tasks, TJobStates States) {
    // With one selected task "its state" and "some selected task's state" are the same test.
    return Tasks.Count > 0 && (Tasks.States.Byte() & States.Byte()) != 0;
}

TCommandEnables ComputeCommandEnables(const TCommandContext& c) {
    TCommandEnables e;
    const bool tasks = c.Shown == slTasks;
    const auto in = [&](TJobStates states) { return tasks && SelectedTasksInStates(c.Tasks, states); };
    const TJobStates editable{jsQueued, jsDelayed, jsError};
    e.QueueTasks = in({jsDelayed, jsError});
    e.PauseTasks = in({jsQueued, jsUploading});
    e.StartTasks = in(editable);
    e.StopAllTasks = c.RunningCount > 0;
    e.DeleteTasks = !c.EditingCaption && in(AllJobStates);
    e.TasksProperties = in(editable);
    e.RenameTask = in(editable);
    e.ScrambleName = in(editable);
    e.RestoreOriginalName = in(editable);
    e.SelectAllTasks = tasks && c.TaskViewFocused && c.TaskCount > 0;
    const TSelectionSummary* shown = tasks ? &c.Tasks : c.Shown == slFinished ? &c.Finished : nullptr;
    e.MoveTasksUp = shown && shown->Count > 0 && !shown->FirstSelected;
    e.MoveTasksDown = shown && shown->Count > 0 && !shown->LastSelected;
    e.NewTasks = true;
    return e;
}

// ---- moving ----------------------------------------------------------------------------------

namespace {
bool AnySelected(const TListSelection& s) {
    return std::any_of(s.Selected.begin(), s.Selected.end(), [](char c) { return c != 0; });
}
} // namespace

bool CanMoveUp(const TListSelection& s) {
    return !s.Selected.empty() && !s.Selected.front() && AnySelected(s);
}

bool CanMoveDown(const TListSelection& s) {
    return !s.Selected.empty() && !s.Selected.back() && AnySelected(s);
}

namespace {

void Exchange(TUploadQueue& queue, TQueueList list, TListSelection& s, std::size_t upper) {
    // The unselected row at `upper` and the selected one below it change places; the focus mark
    // stays with the row that had it.
    std::swap(s.Selected[upper], s.Selected[upper + 1]);
    if (s.Focus == upper)
        s.Focus = upper + 1;
    else if (s.Focus == upper + 1)
        s.Focus = upper;
    if (list == qlTasks)
        queue.MoveTask(upper + 1, upper);
    else
        queue.MoveFinished(upper + 1, upper);
}

} // namespace

void MoveSelectionUp(TUploadQueue& Queue, TQueueList List, TListSelection& Selection) {
    const std::size_t n = Reach(Queue, List, Selection);
    for (std::size_t i = 1; i < n; ++i)
        if (Selection.Selected[i] && !Selection.Selected[i - 1])
            Exchange(Queue, List, Selection, i - 1);
}

void MoveSelectionDown(TUploadQueue& Queue, TQueueList List, TListSelection& Selection) {
    const std::size_t n = Reach(Queue, List, Selection);
    if (n < 2)
        return;
    for (std::size_t i = n - 1; i-- > 0;)
        if (Selection.Selected[i] && !Selection.Selected[i + 1])
            Exchange(Queue, List, Selection, i);
}

// ---- stopping --------------------------------------------------------------------------------

void StopAllTasks(TScheduler& Scheduler) {
    Scheduler.StopRunningTasks();
    Scheduler.ChangeTaskStates({jsQueued, jsUploading}, jsDelayed);
}

// ---- deleting --------------------------------------------------------------------------------

std::size_t DeleteSelectedTasks(TScheduler& Scheduler, const std::vector<TJobId>& Selected) {
    if (Selected.empty())
        return 0;
    const std::size_t deleted = Scheduler.Queue().DeleteTasks(Selected);
    Scheduler.SaveJobs();
    Scheduler.Queue().UpdateQueueSummary();
    return deleted;
}

std::size_t DeleteSelectedFinished(TScheduler& Scheduler, const std::vector<TJobId>& Selected) {
    if (Selected.empty())
        return 0;
    const std::size_t deleted = Scheduler.Queue().DeleteFinishedRecords(Selected);
    Scheduler.SaveJobs();
    return deleted;
}

// ---- names -----------------------------------------------------------------------------------

std::optional<std::string> UploadNameProblem(const std::string& Name) {
    const std::string name = Trim(Name);
    if (name.empty())
        return std::string("The upload name is empty.");
    if (name == "." || name == "..")
        return "The upload name \"" + name + "\" names a folder, not a file.";
    for (const char c : name) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '/' || c == '\\')
            return std::string("The upload name must not contain a path separator ('/' or '\\').");
        if (u < 0x20 || u == 0x7F)
            return std::string("The upload name must not contain control characters.");
    }
    return std::nullopt;
}

namespace {

// Sets every selected, not Uploading task's UploadName to what Name() gives, then saves.
template <class F>
std::size_t SetNames(TScheduler& scheduler, const std::vector<TJobId>& selected, F&& name) {
    TUploadQueue& queue = scheduler.Queue();
    std::size_t changed = 0;
    for (TJobId id : selected) {
        TUploadJobData* t = queue.FindTask(id);
        if (!t || t->State == jsUploading)
            continue;
        t->UploadName = name();
        queue.TaskChangedById(id);
        ++changed;
    }
    scheduler.SaveJobs();
    return changed;
}

} // namespace

std::size_t ScrambleNames(TScheduler& Scheduler, const std::vector<TJobId>& Selected) {
    return SetNames(Scheduler, Selected, [] { return RandomFileName(); });
}

std::size_t RestoreOriginalNames(TScheduler& Scheduler, const std::vector<TJobId>& Selected) {
    return SetNames(Scheduler, Selected, [] { return std::string(); });
}

TRenameResult RenameTask(TUploadQueue& Queue, TJobId Task, const std::string& Text, std::string* Problem) {
    TUploadJobData* t = Queue.FindTask(Task);
    const std::string name = Trim(Text);
    if (!t || t->State == jsUploading || name.empty())
        return rrUnchanged;
    if (const std::optional<std::string> problem = UploadNameProblem(name)) {
        if (Problem)
            *Problem = *problem;
        return rrRefused;
    }
    t->UploadName = name;
    Queue.TaskChangedById(Task);
    return rrRenamed;
}

// ---- properties ------------------------------------------------------------------------------

std::optional<std::size_t> ApplyTaskProperties(TScheduler& Scheduler, const std::vector<TJobId>& Selected,
                                               const TTaskPropertiesChoice& Choice, std::string* Problem) {
    TUploadQueue& queue = Scheduler.Queue();
    std::string name = Trim(Choice.UploadName);
    if (!name.empty())
        if (const std::optional<std::string> problem = UploadNameProblem(name)) {
            if (Problem)
                *Problem = *problem;
            return std::nullopt;
        }
    // A single task still uploaded under its own name keeps no name when the user left that name
    // (in any letter case) in the box.
    if (Selected.size() == 1)
        if (const TUploadJobData* t = queue.FindTask(Selected.front());
            t && t->UploadName.empty() &&
            UpperCaseAscii(name) == UpperCaseAscii(ExtractFileName(t->FileName)))
            name.clear();
    std::size_t changed = 0;
    for (TJobId id : Selected) {
        TUploadJobData* t = queue.FindTask(id);
        if (!t || t->State == jsUploading)
            continue;
        if (!name.empty())
            t->UploadName = name;
        if (!Choice.Method.empty())
            t->Method = Choice.Method;
        queue.TaskChangedById(id);
        if (Choice.State)
            if (const std::optional<std::size_t> index = queue.IndexOfTask(id))
                Scheduler.SetTaskState(*index, *Choice.State, true);
        ++changed;
    }
    Scheduler.SaveJobs();
    return changed;
}

} // namespace quillo
