// The main window with a big queue, on Qt's offscreen platform: 100,000 tasks and 100,000
// finished uploads (default; first argument N) in the jobs file.
//  - start: from creating the window to its first painted list, against loading the jobs file
//    alone (and writing it, which the start does once) measured in the same run;
//  - switching between the two views until the new one is painted, against repainting the
//    shown view without switching;
//  - one scheduler tick with 50 running uploads that each reported progress (the selected one
//    with its details), until painted: user-interface time and rows repainted, against a full
//    repaint of the view;
//  - the queue commands: moving 10,000 scattered selected tasks up once (against the same move
//    of the queue alone), adding a folder of 20,000 files to the 100,000 queued tasks (against
//    listing the folder alone), selecting all and deleting them (against the deletion of the
//    queue alone, which writes the jobs file as the command does);
//  - the finished list: a sort by each column through the column click until painted, copying
//    the download links of all entries through the command, and one search keystroke in the
//    search panel (a pattern that matches nothing, so the whole list is walked), each against
//    the core's own work on a queue without a window measured in the same run.
// Works in a temporary data folder; nothing is uploaded (the site is a closed loopback port).
//
//   bench_ui [N]

#include "BigQueue.h"
#include "common/BenchSupport.h"
#include "core/app/Settings.h"
#include "core/queue/AddFiles.h"
#include "core/queue/FinishedLinks.h"
#include "core/queue/FinishedSearch.h"
#include "core/queue/JobsFile.h"
#include "core/queue/QueueCommands.h"
#include "ui/MainWindow.h"
#include "ui/MessageBox.h"
#include "ui/UpTaskProps.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QEvent>
#include <QHeaderView>
#include <QLineEdit>
#include <QPaintEvent>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <string>
#include <vector>

using namespace quillo;
using namespace quillo::bench;

namespace {

// The uploads running in the tick measured, spread over the task list.
constexpr int kRunning = 50;

// Processor time of this thread, in ms: what the user-interface thread spent itself, without
// the waits for the disk (the jobs-file write ends with fsync) that make wall times jump on a
// busy machine.
double ThreadCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

// Counts paint events of a widget and the rows they covered.
class TPaintCounter final : public QObject {
public:
    explicit TPaintCounter(int RowHeight) : FRowHeight(RowHeight) {}
    int Paints = 0;
    int Rows = 0;
    void Reset() { Paints = Rows = 0; }

protected:
    bool eventFilter(QObject*, QEvent* Event) override {
        if (Event->type() == QEvent::Paint) {
            ++Paints;
            for (const QRect& r : static_cast<QPaintEvent*>(Event)->region())
                Rows += (r.height() + FRowHeight - 1) / FRowHeight;
        }
        return false;
    }

private:
    int FRowHeight;
};

// Runs the event loop until the counter has seen a paint (or a second has passed).
void UntilPainted(TPaintCounter& Counter) {
    const auto start = TClock::now();
    while (Counter.Paints == 0 && MsSince(start) < 1000)
        QApplication::processEvents();
}

// A window-less queue of the same jobs file with its own scheduler: the reference for the
// commands (the core's work without the views).
struct TPlainQueue {
    TUploadQueue Queue;
    std::unique_ptr<TScheduler> Scheduler;
    TPlainQueue(const std::string& Jobs, const std::string& Copy) {
        LoadJobs(Queue, Jobs, {});
        TSchedulerOptions options;
        options.OwnTimer = false;
        options.JobsFile = Copy;
        Scheduler = std::make_unique<TScheduler>(Queue, options);
    }
};

// Every Step-th row selected, starting at the second: scattered over the whole list.
TListSelection Scattered(std::size_t Rows, std::size_t Step) {
    TListSelection s;
    s.Selected.assign(Rows, 0);
    for (std::size_t i = 1; i < Rows; i += Step)
        s.Selected[i] = 1;
    s.Focus = 1;
    return s;
}

void QueueCommands(TMainWindow& W, const std::string& Root, const std::string& Jobs, int N) {
    TPaintCounter painted(W.ListViewUploadJobs->verticalHeader()->defaultSectionSize());
    W.ListViewUploadJobs->viewport()->installEventFilter(&painted);
    W.TreeView->setCurrentItem(W.TreeView->topLevelItem(0));
    QApplication::processEvents();
    const std::size_t rows = std::size_t(N);
    const std::size_t step = std::max<std::size_t>(1, rows / 10000);

    // Move up: 10,000 scattered tasks, once.
    {
        TPlainQueue plain(Jobs, Root + "/plain.jobs");
        TListSelection s = Scattered(rows, step);
        auto t = TClock::now();
        MoveSelectionUp(plain.Queue, qlTasks, s);
        const double reference = MsSince(t);

        const TListSelection marks = Scattered(rows, step);
        QItemSelection selection;
        QAbstractItemModel* model = W.ListViewUploadJobs->model();
        for (std::size_t i = 0; i < rows; ++i)
            if (marks.Selected[i])
                selection.select(model->index(int(i), 0), model->index(int(i), model->columnCount() - 1));
        W.ListViewUploadJobs->selectionModel()->setCurrentIndex(model->index(1, 0),
                                                                QItemSelectionModel::NoUpdate);
        W.ListViewUploadJobs->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
        QApplication::processEvents();
        painted.Reset();
        t = TClock::now();
        W.act_movetasksupExecute();
        UntilPainted(painted);
        const double moved = MsSince(t);
        std::printf(
            "move up of %zu scattered selected tasks among %d: %.1f ms until painted (goal under 200 ms); "
            "reference: the same move of the queue alone %.1f ms (ratio %.1f)\n",
            TMainWindow::SelectedRows(W.ListViewUploadJobs).size(), N, moved, reference,
            moved / std::max(reference, 0.01));
        W.ListViewUploadJobs->clearSelection();
    }

    // Add a folder of 20,000 files against the queue.
    {
        const std::string folder = Root + "/folder/";
        QDir().mkpath(QString::fromStdString(folder));
        for (int i = 0; i < 20000; ++i)
            std::ofstream(folder + "file-" + std::to_string(i) + ".bin") << 'x';
        std::vector<std::string> listed;
        auto t = TClock::now();
        ListFilesRecursive(folder, listed);
        const double listing = MsSince(t);
        UpdateSettings([](TAppSettings& s) { s.General.LastUploadHost = "HTTP Method"; });
        SetTaskPropertiesHook(
            [](TFrmUploadTaskProperties& D) { QTimer::singleShot(0, &D, [&D] { D.B_OK->click(); }); });
        painted.Reset();
        t = TClock::now();
        W.FAddFiles({folder}, false);
        W.FScheduler.FlushJobs();
        UntilPainted(painted);
        const double added = MsSince(t);
        SetTaskPropertiesHook(nullptr);
        std::printf("adding a folder of %zu files to %d queued tasks: %.1f ms until painted and written; "
                    "beyond listing the folder: %.1f ms (goal under 1000 ms); reference: listing the folder "
                    "alone %.1f ms\n",
                    listed.size(), N, added, added - listing, listing);
        for (TJobId id : W.FQueue.TaskIds())
            W.FQueue.FindTask(id)->State = jsDelayed;
    }

    // Select all and delete.
    {
        const std::size_t count = W.FQueue.TaskCount();
        TPlainQueue plain(Jobs, Root + "/plain.jobs");
        auto t = TClock::now();
        DeleteSelectedTasks(*plain.Scheduler, plain.Queue.TaskIds());
        plain.Scheduler->FlushJobs();
        const double reference = MsSince(t);

        W.ListViewUploadJobs->setFocus();
        painted.Reset();
        t = TClock::now();
        W.act_selectalltasksExecute();
        W.DeleteSelectedTasks();
        W.FScheduler.FlushJobs();
        UntilPainted(painted);
        const double deleted = MsSince(t);
        std::printf(
            "select all and delete of %zu tasks: %.1f ms until painted and written (goal under 1000 ms); "
            "reference: deleting %d tasks from the queue alone and writing it %.1f ms (ratio %.2f)\n",
            count, deleted, N, reference, deleted / std::max(reference, 0.01));
    }
}

} // namespace

int main(int argc, char** argv) {
    const int n = argc > 1 ? std::atoi(argv[1]) : 100000;
    if (n < kRunning) {
        std::fprintf(stderr, "usage: bench_ui [N]   (N, the tasks and finished uploads, at least %d)\n",
                     kRunning);
        return 2;
    }
    QTemporaryDir scratch;
    const std::string root = scratch.path().toStdString();
    ::setenv("QUILLO_HOME", (root + "/home").c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (root + "/config").c_str(), 1);
    ::setenv("QUILLO_SHUTDOWN_COMMAND", "/bin/true", 1);
    ::setenv("QUILLO_SITE", "127.0.0.1:9", 1);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    SetMessageBoxHandler([](QWidget*, const QString& Text, const QString&, TMsgBoxButtons, TMsgBoxIcon) {
        std::fprintf(stderr, "bench_ui: box: %s\n", qPrintable(Text));
        return mrOK;
    });
    QDir().mkpath(QString::fromStdString(root + "/home"));
    const std::string jobs = root + "/home/quillo.jobs";
    WriteBigJobsFile(jobs, n, "bench_ui");

    // References: the jobs file loaded and written back alone.
    std::vector<double> loads, saves, loadCpus, saveCpus;
    for (int round = 0; round < 3; ++round) {
        TUploadQueue q;
        auto t = TClock::now();
        double cpu = ThreadCpuMs();
        LoadJobs(q, jobs, {});
        loads.push_back(MsSince(t));
        loadCpus.push_back(ThreadCpuMs() - cpu);
        t = TClock::now();
        cpu = ThreadCpuMs();
        SaveJobs(q, root + "/copy.jobs", {});
        saves.push_back(MsSince(t));
        saveCpus.push_back(ThreadCpuMs() - cpu);
    }
    const double load = Median(loads), save = Median(saves), loadCpu = Median(loadCpus),
                 saveCpu = Median(saveCpus);

    // Start: create, show, first painted list.
    auto t = TClock::now();
    const double startCpu = ThreadCpuMs();
    TMainWindow w(TMainWindowStart{true});
    const double created = MsSince(t);
    TPaintCounter tasksPainted(w.ListViewUploadJobs->verticalHeader()->defaultSectionSize());
    TPaintCounter finishedPainted(w.ListViewFinishedUploadJobs->verticalHeader()->defaultSectionSize());
    w.ListViewUploadJobs->viewport()->installEventFilter(&tasksPainted);
    w.ListViewFinishedUploadJobs->viewport()->installEventFilter(&finishedPainted);
    w.show();
    UntilPainted(tasksPainted);
    const double start = MsSince(t), cpu = ThreadCpuMs() - startCpu;
    std::printf(
        "start with %d tasks and %d finished: %.1f ms to the first painted list (window built in %.1f ms)\n",
        n, n, start, created);
    std::printf("  reference: jobs-file load %.1f ms, write %.1f ms (the start loads once and writes once)\n",
                load, save);
    std::printf("  beyond the load: %.1f ms (goal under 500 ms); beyond load and write: %.1f ms\n",
                start - load, start - load - save);
    std::printf(
        "  processor time of the user-interface thread: start %.1f ms, load %.1f ms, write %.1f ms, so the "
        "window's own part %.1f ms\n",
        cpu, loadCpu, saveCpu, cpu - loadCpu - saveCpu);

    // Switching views, until the new one is painted; reference: repainting the shown one.
    std::vector<double> switches, repaints, switchCpus, repaintCpus;
    for (int round = 0; round < 10; ++round) {
        for (int node : {1, 0}) {
            TPaintCounter& painted = node == 1 ? finishedPainted : tasksPainted;
            painted.Reset();
            t = TClock::now();
            const double switchCpu = ThreadCpuMs();
            w.TreeView->setCurrentItem(w.TreeView->topLevelItem(node));
            UntilPainted(painted);
            switches.push_back(MsSince(t));
            switchCpus.push_back(ThreadCpuMs() - switchCpu);
        }
        tasksPainted.Reset();
        t = TClock::now();
        const double repaintCpu = ThreadCpuMs();
        w.ListViewUploadJobs->viewport()->update();
        UntilPainted(tasksPainted);
        repaints.push_back(MsSince(t));
        repaintCpus.push_back(ThreadCpuMs() - repaintCpu);
    }
    const double fullRepaint = Median(repaints);
    std::printf("switching views: %.2f ms until painted, %.2f ms processor time (medians of %zu); reference: "
                "repainting the shown view %.2f ms, %.2f ms processor time (ratio %.2f)\n",
                Median(switches), Median(switchCpus), switches.size(), fullRepaint, Median(repaintCpus),
                Median(switchCpus) / Median(repaintCpus));

    // A tick with 50 running uploads, each having reported progress; the first one is selected,
    // so its details are rewritten too.
    // Spread over the list, some in view; closer together on a short list.
    const std::size_t stride = std::min<std::size_t>(37, std::size_t(n) / kRunning);
    for (int i = 0; i < kRunning; ++i) {
        TUploadJobData& task = w.FQueue.Task(std::size_t(i) * stride);
        task.State = jsUploading;
        task.StatusText = "Uploading file...";
    }
    w.FQueue.AllTasksChanged();
    w.ListViewUploadJobs->selectRow(0);
    QApplication::processEvents();
    std::vector<double> ticks, tickCpus, schedulerParts, detailParts;
    std::vector<int> rows;
    for (int round = 0; round < 30; ++round) {
        tasksPainted.Reset();
        t = TClock::now();
        const double tickCpu = ThreadCpuMs();
        for (int i = 0; i < kRunning; ++i) {
            const std::size_t index = std::size_t(i) * stride;
            TUploadJobData& task = w.FQueue.Task(index);
            task.Percent = round * 3 % 100;
            task.Elapsed = round * 1000;
            task.TimeLeft = 60000 - round * 1000;
            task.Speed = 800 + i;
            task.StatusText = "Uploading file (" + std::to_string(round) + " / 100 Bytes)...";
            w.FQueue.TaskChanged(index);
            w.FScheduler.Hooks().ThreadEvent(task.Id(), ieProgress);
        }
        const auto tick = TClock::now();
        w.FScheduler.TimerTimer();
        schedulerParts.push_back(MsSince(tick));
        UntilPainted(tasksPainted);
        ticks.push_back(MsSince(t));
        tickCpus.push_back(ThreadCpuMs() - tickCpu);
        const auto details = TClock::now();
        w.ShowDetails(w.ListViewUploadJobs);
        detailParts.push_back(MsSince(details));
        rows.push_back(tasksPainted.Rows);
    }
    const int visible = w.ListViewUploadJobs->viewport()->height() /
                        w.ListViewUploadJobs->verticalHeader()->defaultSectionSize();
    std::printf("tick with %d uploads reporting progress: %.2f ms wall, %.2f ms processor time of the "
                "user-interface thread (medians of %zu; goal under 2 ms); %d rows repainted of %d visible\n",
                kRunning, Median(ticks), Median(tickCpus), ticks.size(), rows[rows.size() / 2], visible);
    std::printf(
        "  of which the scheduler's own tick over the whole queue %.2f ms wall; one rewrite of the details "
        "%.2f ms\n",
        Median(schedulerParts), Median(detailParts));
    std::printf("  reference: a full repaint of the task list %.2f ms (ratio %.2f)\n", fullRepaint,
                Median(ticks) / fullRepaint);
    std::vector<double> sortTimes[3], sortRefs[3];
    // The finished list: sorts through the column click, until painted; reference: the core's
    // sort of the same list without a window, in the same order of columns.
    w.TreeView->setCurrentItem(w.TreeView->topLevelItem(1));
    UntilPainted(finishedPainted);
    TUploadQueue bare;
    LoadJobs(bare, jobs, {});
    QHeaderView* header = w.ListViewFinishedUploadJobs->horizontalHeader();
    static constexpr const char* kColumns[] = {"File Name", "Size", "Upload Time"};
    for (int round = 0; round < 3; ++round)
        for (int column : {2, 0, 1}) {
            std::vector<double>& window = sortTimes[column];
            std::vector<double>& core = sortRefs[column];
            finishedPainted.Reset();
            t = TClock::now();
            emit header->sectionClicked(column);
            UntilPainted(finishedPainted);
            window.push_back(MsSince(t));
            t = TClock::now();
            SortFinishedList(bare, column);
            core.push_back(MsSince(t));
        }
    for (int column = 0; column < 3; ++column)
        std::printf(
            "sort of %d finished by %s through the column click: %.1f ms until painted (median of %zu; "
            "goal under 300 ms); reference: the core's sort alone %.1f ms (ratio %.2f)\n",
            n, kColumns[column], Median(sortTimes[column]), sortTimes[column].size(),
            Median(sortRefs[column]), Median(sortTimes[column]) / Median(sortRefs[column]));

    // Copying the download links of every entry through the command; reference: the text alone.
    w.act_selectalllinksExecute();
    TRows all(static_cast<std::size_t>(n));
    for (std::size_t i = 0; i < all.size(); ++i)
        all[i] = i;
    std::vector<double> copies, texts;
    for (int round = 0; round < 5; ++round) {
        t = TClock::now();
        w.act_copydownloadlinksExecute();
        copies.push_back(MsSince(t));
        t = TClock::now();
        const std::string text = DownloadLinksText(w.FQueue, all);
        texts.push_back(MsSince(t));
        if (round == 0 && QGuiApplication::clipboard()->text().size() != qsizetype(text.size()))
            std::fprintf(stderr, "bench_ui: the clipboard does not hold the links\n");
    }
    std::printf("copying the download links of %d finished through the command: %.1f ms (median of %zu; goal "
                "under 300 ms); reference: building the text alone %.1f ms (ratio %.2f)\n",
                n, Median(copies), copies.size(), Median(texts), Median(copies) / Median(texts));

    // One keystroke in the search box with nothing matching: the whole list is walked, the marks
    // cleared, the box coloured. Reference: the core's search alone.
    w.FBeep = [] {};
    w.act_search->trigger();
    std::vector<double> keys, searches;
    for (int round = 0; round < 10; ++round) {
        const QString pattern = QStringLiteral("*zz%1").arg(round);
        w.Edit1->setText(pattern.left(pattern.size() - 1));
        QApplication::processEvents();
        t = TClock::now();
        w.Edit1->setText(pattern);
        keys.push_back(MsSince(t));
        t = TClock::now();
        SearchFinishedList(w.FQueue, -1, false, false, pattern.toStdString());
        searches.push_back(MsSince(t));
    }
    std::printf(
        "one search keystroke over %d finished (no match, the whole list walked): %.1f ms (median of %zu; "
        "goal under 20 ms); reference: the core's search alone %.1f ms (ratio %.2f)\n",
        n, Median(keys), keys.size(), Median(searches), Median(keys) / Median(searches));

    std::printf("peak memory: %ld kB\n", PeakRssKb());

    for (TJobId id : w.FQueue.TaskIds())
        w.FQueue.FindTask(id)->State = jsDelayed;
    w.FQueue.AllTasksChanged();
    QueueCommands(w, root, jobs, n);
    return 0;
}
