#include "core/queue/AddFiles.h"

#include "core/app/MyUtils.h"
#include "core/queue/AsciiCaseBlind.h"
#include "core/queue/Scheduler.h"
#include "core/queue/UploadQueue.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <set>
#include <sys/stat.h>
#include <unordered_set>
#include <utility>

namespace quillo {

namespace {

std::string WithSlash(std::string folder) {
    if (folder.empty() || folder.back() != '/')
        folder.push_back('/');
    return folder;
}

void Skip(TSkippedEntries* skipped, std::string path, std::string reason, TSkipKind kind) {
    if (skipped)
        skipped->push_back({std::move(path), std::move(reason), kind});
}

// The names of a folder's entries other than "." and ".."; false with the reason when the folder
// cannot be read. Read in one go and closed at once, so that a deep tree does not hold one open
// handle per level.
bool ReadFolder(const std::string& folder, std::vector<std::string>& names, std::string& reason) {
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) {
        reason = std::strerror(errno);
        return false;
    }
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(dir);
        if (!entry)
            break;
        const char* n = entry->d_name;
        if (std::strcmp(n, ".") != 0 && std::strcmp(n, "..") != 0)
            names.emplace_back(n);
    }
    const int readError = errno;
    ::closedir(dir);
    if (readError != 0) {
        reason = std::strerror(readError);
        return false;
    }
    return true;
}

using TFolderKey = std::pair<dev_t, ino_t>;

} // namespace

void ListFilesRecursive(const std::string& Folder, std::vector<std::string>& List, TSkippedEntries* Skipped) {
    struct TFrame {
        std::string Path; // with a trailing '/'
        std::vector<std::string> Names;
        std::size_t Next = 0;
    };
    std::set<TFolderKey> visited;
    std::vector<TFrame> stack;
    const auto enter = [&](std::string path) {
        TFrame frame{WithSlash(std::move(path)), {}, 0};
        std::string reason;
        if (ReadFolder(frame.Path, frame.Names, reason))
            stack.push_back(std::move(frame));
        else
            Skip(Skipped, frame.Path.substr(0, frame.Path.size() - 1), "cannot read the folder: " + reason,
                 skUnreadable);
    };

    struct stat st {};
    if (::stat(Folder.c_str(), &st) == 0)
        visited.insert({st.st_dev, st.st_ino});
    enter(Folder);
    while (!stack.empty()) {
        TFrame& top = stack.back();
        if (top.Next == top.Names.size()) {
            stack.pop_back();
            continue;
        }
        std::string path = top.Path + top.Names[top.Next++];
        if (::stat(path.c_str(), &st) != 0) {
            const int error = errno;
            struct stat link {};
            std::string reason = ::lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode)
                                     ? "the link leads nowhere"
                                     : std::strerror(error);
            Skip(Skipped, std::move(path), std::move(reason), skUnreadable);
        } else if (S_ISDIR(st.st_mode)) {
            if (visited.insert({st.st_dev, st.st_ino}).second)
                enter(std::move(path)); // `top` is not used after this
            else
                Skip(Skipped, std::move(path), "a link to a folder listed already", skListedAlready);
        } else if (S_ISREG(st.st_mode)) {
            List.push_back(std::move(path));
        } else {
            Skip(Skipped, std::move(path), "not a regular file (a socket, pipe or device)", skNotAFile);
        }
    }
}

void ExpandFolders(std::vector<std::string>& Paths, TSkippedEntries* Skipped, bool SortEachFolder) {
    std::vector<std::string> files, fromFolders;
    files.reserve(Paths.size());
    for (std::string& p : Paths) {
        struct stat st {};
        if (::stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
            const std::size_t first = fromFolders.size();
            ListFilesRecursive(p, fromFolders, Skipped);
            if (SortEachFolder)
                std::sort(fromFolders.begin() + static_cast<std::ptrdiff_t>(first), fromFolders.end());
        } else
            files.push_back(std::move(p));
    }
    files.insert(files.end(), std::make_move_iterator(fromFolders.begin()),
                 std::make_move_iterator(fromFolders.end()));
    Paths = std::move(files);
}

void RemoveDuplicates(std::vector<std::string>& Paths, const TUploadQueue& Queue) {
    if (Paths.empty() || Queue.TaskCount() == 0)
        return;
    std::unordered_set<std::string_view, TAsciiCaseBlindHash, TAsciiCaseBlindEqual> queued;
    queued.reserve(Queue.TaskCount());
    for (std::size_t i = 0; i < Queue.TaskCount(); ++i)
        queued.insert(Queue.Task(i).FileName);
    std::erase_if(Paths, [&](const std::string& p) { return queued.count(p) > 0; });
}

std::int64_t TotalFileSize(const std::vector<std::string>& Paths) {
    std::int64_t total = 0;
    for (const std::string& p : Paths)
        total += GetFileSize64(p);
    return total;
}

TAddFilesPlan PlanAddFiles(std::vector<std::string> Paths, const TUploadQueue& Queue,
                           const TAddFilesOptions& Options) {
    TAddFilesPlan plan;
    if (Paths.empty()) {
        plan.NothingGiven = true;
        return plan;
    }
    ExpandFolders(Paths, &plan.Skipped, Options.SortEachFolder);
    if (Options.DropRepeatedPaths) {
        // Views into Paths, which does not change until the set is done with.
        std::unordered_set<std::string_view, TAsciiCaseBlindHash, TAsciiCaseBlindEqual> seen;
        std::vector<char> repeated(Paths.size(), 0);
        for (std::size_t i = 0; i < Paths.size(); ++i)
            repeated[i] = seen.insert(Paths[i]).second ? 0 : 1;
        seen.clear();
        std::size_t kept = 0;
        for (std::size_t i = 0; i < Paths.size(); ++i)
            if (!repeated[i]) {
                if (kept != i)
                    Paths[kept] = std::move(Paths[i]);
                ++kept;
            }
        Paths.resize(kept);
    }
    plan.Expanded = Paths.size();
    RemoveDuplicates(Paths, Queue);
    if (Paths.size() != plan.Expanded)
        plan.Duplicates = !Paths.empty() ? dnSome : plan.Expanded == 1 ? dnTheFile : dnAllTheFiles;
    plan.Files = std::move(Paths);
    return plan;
}

TAddFilesResult AddPlannedFiles(TScheduler& Scheduler, const std::vector<std::string>& Files,
                                const TNewTaskChoice& Choice, bool StopAtFirstFailure) {
    TUploadQueue& queue = Scheduler.Queue();
    TAddFilesResult result;
    for (const std::string& f : Files) {
        try {
            const std::size_t index = queue.AddTask(f, Choice.UploadName, "", Choice.Method);
            ++result.Added;
            Scheduler.SetTaskState(index, Choice.State, false);
        } catch (const std::exception& e) {
            result.Failed.push_back({f, e.what(), skFailed});
            if (StopAtFirstFailure)
                break;
        }
    }
    // Waits for the write so that Saved tells the truth: an add that is not on disk is lost.
    Scheduler.SaveJobs();
    result.Saved = Scheduler.FlushJobs();
    queue.UpdateQueueSummary();
    return result;
}

} // namespace quillo
