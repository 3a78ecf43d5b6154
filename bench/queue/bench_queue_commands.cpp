// The queue commands on a large queue: select-all-and-delete, moving a scattered selection up,
// and adding a folder against a long queue (duplicates through a hashed lookup). Each figure is
// measured at N and N/2 tasks: a ratio near 2 shows the work is linear, near 4 that it has turned
// quadratic. References from the same run: one walk over the queue's ids (for the commands) and
// listing the folder (for the add). No window and no observers: what the views cost is the
// window's benchmark. Works in a temporary folder only.
//
//   bench_queue_commands [N] [FILES]     (defaults: 100,000 tasks, a folder of 20,000 files)

#include "common/BenchSupport.h"
#include "core/queue/AddFiles.h"
#include "core/queue/QueueCommands.h"
#include "core/queue/Scheduler.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

using namespace quillo;
using namespace quillo::bench;

namespace {

void Fill(TUploadQueue& q, int n, const std::string& folder) {
    std::vector<TUploadJobData> tasks(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) {
        tasks[std::size_t(i)].State = i % 2 ? jsDelayed : jsQueued;
        tasks[std::size_t(i)].FileName = folder + "/queued-" + std::to_string(i) + ".bin";
        tasks[std::size_t(i)].Method = "HTTP Method";
    }
    q.AppendAll(std::move(tasks), {});
}

struct TFigures {
    double DeleteAll = 0, MoveUp = 0, Walk = 0, Add = 0, List = 0, Plan = 0, Save = 0;
};

TFigures Measure(int n, int files, const std::string& scratch, const std::string& folder) {
    TFigures f;
    TUploadQueue queue;
    TSchedulerOptions options;
    options.OwnTimer = false;
    options.JobsFile = scratch + "/quillo.jobs";
    TScheduler scheduler(queue, options);
    Fill(queue, n, scratch);

    // The reference: a pass that copies every task's path, the least any command over the whole
    // queue does. Median of five.
    std::vector<double> walks;
    std::size_t sum = 0;
    for (int round = 0; round < 5; ++round) {
        const auto begin = TClock::now();
        std::vector<std::string> paths;
        paths.reserve(queue.TaskCount());
        for (TJobId id : queue.TaskIds())
            paths.push_back(queue.FindTask(id)->FileName);
        sum += paths.size();
        walks.push_back(MsSince(begin));
    }
    f.Walk = Median(walks);

    // Every tenth task moves up once.
    std::vector<std::size_t> rows;
    for (int i = 5; i < n; i += 10)
        rows.push_back(std::size_t(i));
    TListSelection selection = TListSelection::OfRows(queue.TaskCount(), rows);
    auto start = TClock::now();
    MoveSelectionUp(queue, qlTasks, selection);
    f.MoveUp = MsSince(start);

    std::vector<std::string> listed;
    start = TClock::now();
    ListFilesRecursive(folder, listed);
    f.List = MsSince(start);

    start = TClock::now();
    const TAddFilesPlan plan = PlanAddFiles({folder}, queue);
    f.Plan = MsSince(start);
    const TAddFilesResult added =
        AddPlannedFiles(scheduler, plan.Files, {"", "HTTP Method", jsQueued}, false);
    f.Add = MsSince(start);
    start = TClock::now();
    scheduler.SaveJobs();
    f.Save = MsSince(start);
    if (added.Added != std::size_t(files))
        std::fprintf(stderr, "added %zu of %d files\n", added.Added, files);

    start = TClock::now();
    DeleteSelectedTasks(scheduler, queue.TaskIds());
    f.DeleteAll = MsSince(start);
    if (queue.TaskCount() != 0 || sum == 0)
        std::fprintf(stderr, "the queue is not empty\n");
    return f;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    // At least two tasks, so that the half-size run has one; a negative count would size a vector.
    const int n = argc > 1 ? std::max(2, std::atoi(argv[1])) : 100000;
    const int files = argc > 2 ? std::max(0, std::atoi(argv[2])) : 20000;
    QTemporaryDir dir;
    if (!dir.isValid())
        return 1;
    const std::string scratch = dir.path().toStdString();
    const std::string folder = scratch + "/folder";
    if (!QDir().mkpath(QString::fromStdString(folder)))
        return 1;
    for (int i = 0; i < files; ++i)
        std::ofstream(folder + "/file-" + std::to_string(i) + ".bin") << "x";

    const TFigures half = Measure(n / 2, files, scratch, folder);
    const TFigures full = Measure(n, files, scratch, folder);
    std::printf("queue of %d tasks (ratio to %d tasks in brackets; 2 = linear)\n", n, n / 2);
    std::printf("  copy every path (reference)        %8.1f ms (%.2f)\n", full.Walk, full.Walk / half.Walk);
    std::printf("  move %6d scattered tasks up      %8.1f ms (%.2f)  = %.1f walks\n", n / 10, full.MoveUp,
                full.MoveUp / half.MoveUp, full.MoveUp / full.Walk);
    std::printf("  select all and delete (and save)   %8.1f ms (%.2f)  = %.1f walks\n", full.DeleteAll,
                full.DeleteAll / half.DeleteAll, full.DeleteAll / full.Walk);
    std::printf("  list a folder of %d files (reference) %8.1f ms\n", files, full.List);
    std::printf("  add it (duplicates, tasks, save)   %8.1f ms (%.2f)  beyond the listing: %.1f ms\n",
                full.Add, full.Add / half.Add, full.Add - full.List);
    std::printf(
        "    of which expanding and dropping duplicates %.1f ms (%.2f); a save of the jobs file %.1f ms\n",
        full.Plan, full.Plan / half.Plan, full.Save);
    return 0;
}
