#pragma once
// The user's commands on the upload queue and the finished list, without the window: the window
// gathers what the user chose (the selected rows, a confirmation, a typed name), calls one of
// these and repaints. Every operation is linear in the length of the list, so that a queue of
// 100,000 tasks stays responsive. User-interface thread only.

#include "core/queue/UploadQueue.h"

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace quillo {

class TScheduler;

// The selection of one list view: a mark per row (Selected.size() is the list's length) and the
// row that carries the focus mark, if any.
struct TListSelection {
    std::vector<char> Selected;
    std::optional<std::size_t> Focus;

    static TListSelection OfRows(std::size_t RowCount, const std::vector<std::size_t>& Rows,
                                 std::optional<std::size_t> Focus = std::nullopt);
    std::vector<std::size_t> Rows() const;
};

// The ids of the selected rows of a list, top to bottom.
std::vector<TJobId> SelectedIds(const TUploadQueue& Queue, TQueueList List, const TListSelection& Selection);

// ---- Enable rules ----------------------------------------------------------------------------

struct TSelectionSummary {
    std::size_t Count = 0;      // selected rows
    TJobStates States;          // the states found among the selected tasks (upload queue only)
    bool FirstSelected = false; // the top row is selected
    bool LastSelected = false;  // the bottom row is selected
};

TSelectionSummary SummarizeSelection(const TUploadQueue& Queue, TQueueList List,
                                     const TListSelection& Selection);

// Some item is selected and, with one item, its task's state is in States; with several, some
// selected task's state is.
bool SelectedTasksInStates(const TSelectionSummary& Tasks, TJobStates States);

// Which list the tree view shows (its first node: the upload queue, its second: the finished list).
enum TShownList : std::uint8_t { slNone, slTasks, slFinished };

struct TCommandContext {
    TShownList Shown = slNone;
    bool TaskViewFocused = false;
    bool EditingCaption = false; // the task list view edits a caption in place
    TSelectionSummary Tasks;
    TSelectionSummary Finished;
    std::size_t TaskCount = 0;
    int RunningCount = 0;
};

struct TCommandEnables {
    bool QueueTasks = false;          // Start
    bool PauseTasks = false;          // Stop
    bool StartTasks = false;          // Start Now!
    bool StopAllTasks = false;        // Stop All
    bool DeleteTasks = false;         // Delete
    bool TasksProperties = false;     // Properties...
    bool MoveTasksUp = false;         // Up (either list)
    bool MoveTasksDown = false;       // Down (either list)
    bool RenameTask = false;          // Rename
    bool ScrambleName = false;        // Scramble name
    bool RestoreOriginalName = false; // Restore original name
    bool SelectAllTasks = false;      // Ctrl+A in the task list
    bool NewTasks = true;             // Add...
};

TCommandEnables ComputeCommandEnables(const TCommandContext& Context);

// ---- Moving ----------------------------------------------------------------------------------

// Up: some row is selected and the top one is not. Down: some row is selected and the bottom one
// is not.
bool CanMoveUp(const TListSelection& Selection);
bool CanMoveDown(const TListSelection& Selection);

// Every run of adjacent selected rows moves one place up (down); the selection and the focus mark
// move with their rows. Running tasks may move. The jobs file is not written.
void MoveSelectionUp(TUploadQueue& Queue, TQueueList List, TListSelection& Selection);
void MoveSelectionDown(TUploadQueue& Queue, TQueueList List, TListSelection& Selection);

// ---- Stopping --------------------------------------------------------------------------------

// Stop All once the user confirmed (the window asks only while RunningCount() > 0): the running
// uploads stop, then every Queued or Uploading task becomes Delayed; the jobs file is written.
void StopAllTasks(TScheduler& Scheduler);

// ---- Deleting --------------------------------------------------------------------------------

// Deletes the tasks (a running upload is stopped first), writes the jobs file and updates the
// queue summary. Returns how many were deleted; an empty selection changes and writes nothing.
std::size_t DeleteSelectedTasks(TScheduler& Scheduler, const std::vector<TJobId>& Selected);
// The same for finished records (no summary: it counts the upload queue only).
std::size_t DeleteSelectedFinished(TScheduler& Scheduler, const std::vector<TJobId>& Selected);

// ---- Names -----------------------------------------------------------------------------------

// Why the service could not store Name as an upload name: empty after trimming, "." or "..", a
// path separator ('/' or '\'), or a control character. nullopt when it can.
std::optional<std::string> UploadNameProblem(const std::string& Name);

// A new random UploadName for every selected task that is not Uploading, each its own; then the
// jobs file is written. Returns how many changed.
std::size_t ScrambleNames(TScheduler& Scheduler, const std::vector<TJobId>& Selected);
// Clears UploadName of every selected task that is not Uploading; then the jobs file is written.
std::size_t RestoreOriginalNames(TScheduler& Scheduler, const std::vector<TJobId>& Selected);

enum TRenameResult : std::uint8_t {
    rrRenamed,   // the trimmed text is the new UploadName (also when it is the file's own name)
    rrUnchanged, // blanks only, the task is gone, or it is Uploading: nothing changes
    rrRefused,   // a name the service could not store; Problem says why, nothing changes
};

// In-place renaming of one task. The jobs file is not written (the next save keeps the name).
TRenameResult RenameTask(TUploadQueue& Queue, TJobId Task, const std::string& Text,
                         std::string* Problem = nullptr);

// ---- Properties ------------------------------------------------------------------------------

// What the properties dialog gives for tasks already queued: an empty name or method and no
// state change nothing.
struct TTaskPropertiesChoice {
    std::string UploadName; // trimmed
    std::string Method;
    std::optional<TJobState> State;
};

// Applies the choice to every selected task that is not Uploading (its Description is never
// touched), then writes the jobs file. A name the service could not store is refused before
// anything changes (nullopt result and the reason in Problem); otherwise the number of tasks changed.
std::optional<std::size_t> ApplyTaskProperties(TScheduler& Scheduler, const std::vector<TJobId>& Selected,
                                               const TTaskPropertiesChoice& Choice,
                                               std::string* Problem = nullptr);

} // namespace quillo
