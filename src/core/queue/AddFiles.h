#pragma once
// Turning the paths a user chose (files and folders, from a dialog, a drop or the command line)
// into upload tasks: folders are replaced by the files below them, files already queued are
// dropped, and the rest become tasks. The dialog in between belongs to the window; everything
// else lives here so that the desktop program and quillo-cli share one piece of code.
//
// Paths are byte strings exactly as the file system gives them: a name that is not valid UTF-8
// is listed, stat'ed, opened and uploaded under its own bytes, never converted on the way.

#include "core/queue/UploadJob.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quillo {

class TScheduler;
class TUploadQueue;

enum TSkipKind : std::uint8_t {
    skUnreadable,    // a folder that cannot be read, a link that leads nowhere: files may be missing
    skNotAFile,      // a socket, pipe or device
    skListedAlready, // a folder reached a second time through a link
    skFailed,        // a file that could not become a task (vanished, unreadable)
};

// Something that was not taken, with the reason for the user.
struct TSkippedEntry {
    std::string Path;
    std::string Reason;
    TSkipKind Kind = skFailed;
};
using TSkippedEntries = std::vector<TSkippedEntry>;

// Appends every file below Folder (a path with or without a trailing '/') to List, as Folder +
// name, depth first, each subfolder searched when it is met, in the order the file system returns
// the entries; hidden files are included. What is not taken goes to Skipped (when given):
// subfolders that cannot be read (the walk goes on without them), sockets, pipes and devices
// (not files to upload), links that lead nowhere, and folders already searched in this walk (a
// link to a folder above it would otherwise recurse without end). Never throws for the file
// system's sake.
void ListFilesRecursive(const std::string& Folder, std::vector<std::string>& List,
                        TSkippedEntries* Skipped = nullptr);

// Every entry that names an existing folder (directly or through a link) is removed and the files
// below it are appended at the end of the list; the other entries keep their order. A folder
// without files contributes nothing.
// With SortEachFolder the files of each folder are appended sorted by their path bytes instead of
// in the file system's order (quillo-cli, whose order should not depend on the file system).
void ExpandFolders(std::vector<std::string>& Paths, TSkippedEntries* Skipped = nullptr,
                   bool SortEachFolder = false);

// Removes every entry equal to the FileName of some task of the upload queue, ignoring the case of
// ASCII letters (whole paths). The finished list is not consulted; equal entries within Paths all
// stay. One hashed lookup per entry.
void RemoveDuplicates(std::vector<std::string>& Paths, const TUploadQueue& Queue);

// Sum of GetFileSize64 of every entry; its error (a file that vanished) passes to the caller.
std::int64_t TotalFileSize(const std::vector<std::string>& Paths);

// What the window tells the user after expanding and removing duplicates.
enum TDuplicateNotice : std::uint8_t {
    dnNone,       // nothing was already queued
    dnSome,       // "Some of the files you want to add are already in the upload queue ..."
    dnTheFile,    // the one file is queued already: stop
    dnAllTheFiles // every file is queued already: stop
};

struct TAddFilesPlan {
    std::vector<std::string> Files; // what is left to add, in order
    std::size_t Expanded = 0;       // entries after expanding folders
    TDuplicateNotice Duplicates = dnNone;
    TSkippedEntries Skipped;   // from the folder walks
    bool NothingGiven = false; // the list of paths was empty

    // False when nothing is to be asked: the list was empty, or every file is queued already.
    // Only empty folders leave no file and no duplicate: that still goes on (0 files).
    bool GoOn() const { return !NothingGiven && Duplicates != dnTheFile && Duplicates != dnAllTheFiles; }
};

struct TAddFilesOptions {
    bool SortEachFolder = false;
    // Keep only the first of equal entries (ASCII case-blind), e.g. a file named directly and
    // through its folder; otherwise they all stay.
    bool DropRepeatedPaths = false;
};

// Expands folders and drops files already queued; an empty Paths gives an empty plan that
// does not go on.
TAddFilesPlan PlanAddFiles(std::vector<std::string> Paths, const TUploadQueue& Queue,
                           const TAddFilesOptions& Options = {});

// The answers of the properties dialog for new tasks.
struct TNewTaskChoice {
    std::string UploadName; // trimmed; stored only where it differs from the file's own name
    std::string Method;
    TJobState State = jsQueued; // jsQueued or jsDelayed
};

struct TAddFilesResult {
    std::size_t Added = 0;
    // The files that could not become tasks (vanished, unreadable, not a regular file), with the
    // reason; in list order.
    TSkippedEntries Failed;
    bool Saved = false; // the jobs file was written
};

// Creates a task for every file in order (AddTask, then SetTaskState without refresh). With
// StopAtFirstFailure the first file that fails ends the walk, as an exception would, and the files
// after it are not tried; otherwise every file is tried. Either way the tasks created stay, the
// jobs file is written and the queue summary updated afterwards.
TAddFilesResult AddPlannedFiles(TScheduler& Scheduler, const std::vector<std::string>& Files,
                                const TNewTaskChoice& Choice, bool StopAtFirstFailure);

} // namespace quillo
