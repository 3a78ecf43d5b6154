// The commands of the upload queue in the main window: adding files, start, stop, stop all,
// delete, properties, moving, renaming in place, scrambling and restoring names, select all,
// and their enable rules. The work on the queue is the core's (QueueCommands.h, AddFiles.h);
// here the window turns its selection into task ids, asks what must be asked and repaints.
#include "ui/MainWindow.h"

#include "core/app/MyUtils.h"
#include "core/l10n/ResMessages.h"
#include "core/queue/JobTexts.h"
#include "core/queue/QueueCommands.h"
#include "ui/MessageBox.h"
#include "ui/QueueModels.h"
#include "ui/UpTaskProps.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QSignalBlocker>
#include <QTableView>
#include <QTimer>
#include <QTreeWidget>

#include <utility>

namespace quillo {

namespace {

TOpenFilesDialog& InstalledOpenFilesDialog() {
    static TOpenFilesDialog dialog;
    return dialog;
}

// "Caption|pattern|Caption|pattern..." as Qt's name filters. Only the captions are shown, as the
// list is written; "*.*" means every file here, also one without a dot in its name.
QStringList NameFilters(const QString& Filter) {
    const QStringList parts = Filter.split(QLatin1Char('|'));
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString pattern = parts[i + 1].trimmed();
        pattern.replace(QLatin1Char(';'), QLatin1Char(' '));
        pattern.replace(QStringLiteral("*.*"), QStringLiteral("*"));
        filters << parts[i].trimmed() + QStringLiteral(" (") + pattern + QLatin1Char(')');
    }
    return filters;
}

std::vector<std::string> RunOpenFilesDialog(QWidget* Owner, const QString& Title, const QString& Filter) {
    QFileDialog dialog(Owner, Title);
    dialog.setObjectName(QStringLiteral("OpenDialog1"));
    dialog.setFileMode(QFileDialog::ExistingFiles);
    dialog.setNameFilters(NameFilters(Filter));
    dialog.setOption(QFileDialog::HideNameFilterDetails, true);
    if (dialog.exec() != QDialog::Accepted)
        return {};
    std::vector<std::string> paths;
    // The file system's own bytes, also for a name that is not UTF-8.
    for (const QString& file : dialog.selectedFiles())
        paths.push_back(QFile::encodeName(file).toStdString());
    return paths;
}

// What the enable rules ask of a view's selection, from its ranges (never a walk of every row).
TSelectionSummary SummaryOf(const QAbstractItemView* View, const TUploadQueue* Tasks) {
    TSelectionSummary sum;
    const int rows = View->model()->rowCount();
    for (const QItemSelectionRange& range : View->selectionModel()->selection()) {
        const int top = qMax(0, range.top());
        const int bottom = qMin(rows - 1, range.bottom());
        if (top > bottom)
            continue;
        sum.Count += std::size_t(bottom - top + 1);
        sum.FirstSelected = sum.FirstSelected || top == 0;
        sum.LastSelected = sum.LastSelected || bottom == rows - 1;
        if (Tasks)
            for (int row = top; row <= bottom && sum.States.Byte() != AllJobStates.Byte(); ++row)
                sum.States.Include(Tasks->Task(std::size_t(row)).State);
    }
    return sum;
}

// The caption editor of the task list: Return keeps the text, Escape drops it, leaving the
// editor keeps it (as a list view's own label editing does).
class TCaptionEditor final : public QLineEdit {
public:
    explicit TCaptionEditor(QWidget* Parent) : QLineEdit(Parent) {}
    std::function<void(bool Accept)> OnEnd;

protected:
    void keyPressEvent(QKeyEvent* Event) override {
        switch (Event->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
            End(true);
            return;
        case Qt::Key_Escape:
            End(false);
            return;
        default:
            QLineEdit::keyPressEvent(Event);
        }
    }
    void focusOutEvent(QFocusEvent* Event) override {
        QLineEdit::focusOutEvent(Event);
        // A menu or a box of our own taking the keyboard for a moment is not the end.
        if (Event->reason() != Qt::PopupFocusReason)
            End(true);
    }

private:
    void End(bool Accept) {
        if (OnEnd)
            OnEnd(Accept);
    }
};

} // namespace

TOpenFilesDialog SetOpenFilesDialog(TOpenFilesDialog Dialog) {
    return std::exchange(InstalledOpenFilesDialog(), std::move(Dialog));
}

// ---- installation ------------------------------------------------------------------------------

void TMainWindow::CreateQueueCommandActions() {
    act_renametask = NewAction("act_renametask", tr("&Rename"), tr("Rename"), Qt::Key_F2);
    act_scramblename = NewAction("act_scramblename", tr("S&cramble name"), tr("Scramble name"));
    act_restoreoriginalname =
        NewAction("act_restoreoriginalname", tr("Restore &original name"), tr("Restore original name"));
    act_selectalltasks = NewAction("act_selectalltasks", tr("Select all"), tr("Select all"),
                                   QKeySequence(Qt::CTRL | Qt::Key_A));
    // The keypad's Enter opens the properties as well as the main Return key does.
    act_tasksproperties->setShortcuts(
        {QKeySequence(Qt::CTRL | Qt::Key_Return), QKeySequence(Qt::CTRL | Qt::Key_Enter)});
    // A tool button drops a trailing "..." from the caption it is given by default: the button
    // shows the caption itself, also once a language file has replaced it.
    const auto keepDots = [Action = act_newtasks] {
        const QString shown = Action->text().remove(QLatin1Char('&'));
        if (Action->iconText() != shown)
            Action->setIconText(shown);
    };
    keepDots();
    connect(act_newtasks, &QAction::changed, this, keepDots);
    // Up and Down sit only on the tool bar, which the keyboard cannot reach.
    act_movetasksup->setShortcut(QKeySequence(Qt::ALT | Qt::Key_Up));
    act_movetasksdown->setShortcut(QKeySequence(Qt::ALT | Qt::Key_Down));
}

void TMainWindow::FillTaskListContextMenu() {
    QMenu* m = TaskListContextMenu;
    m->addAction(act_queuetasks);
    m->addAction(act_pausetasks);
    m->addSeparator();
    m->addAction(act_starttasks);
    m->addAction(act_stopalltasks);
    m->addSeparator();
    m->addAction(act_renametask);
    m->addAction(act_scramblename);
    m->addAction(act_restoreoriginalname);
    m->addSeparator();
    m->addAction(act_deletetasks);
    m->addAction(act_tasksproperties);
}

void TMainWindow::InstallQueueCommands() {
    FillTaskListContextMenu();
    using THandler = void (TMainWindow::*)();
    const std::pair<QAction*, THandler> commands[] = {
        {act_newtasks, &TMainWindow::act_newtasksExecute},
        {act_tasksproperties, &TMainWindow::act_taskspropertiesExecute},
        {act_queuetasks, &TMainWindow::act_queuetasksExecute},
        {act_pausetasks, &TMainWindow::act_pausetasksExecute},
        {act_starttasks, &TMainWindow::act_starttasksExecute},
        {act_stopalltasks, &TMainWindow::act_stopalltasksExecute},
        {act_deletetasks, &TMainWindow::act_deletetasksExecute},
        {act_movetasksup, &TMainWindow::act_movetasksupExecute},
        {act_movetasksdown, &TMainWindow::act_movetasksdownExecute},
        {act_renametask, &TMainWindow::act_renametaskExecute},
        {act_scramblename, &TMainWindow::act_scramblenameExecute},
        {act_restoreoriginalname, &TMainWindow::act_restoreoriginalnameExecute},
        {act_selectalltasks, &TMainWindow::act_selectalltasksExecute},
    };
    for (auto [action, handler] : commands) {
        // Shortcuts work wherever the focus is in the window, also for the commands that sit
        // only in the context menu or in no menu at all.
        addAction(action);
        InstallCommand(action, [this, handler = handler] {
            try {
                (this->*handler)();
            } catch (const std::exception&) {
                CommandFailed();
            }
        });
    }

    connect(ListViewUploadJobs, &QAbstractItemView::doubleClicked, this, [this] {
        try {
            ListViewUploadJobsDblClick();
        } catch (const std::exception&) {
            CommandFailed();
        }
    });

    // Dropped files: on the drop window the dialog stays above everything (the window may be in
    // the tray); on the main window it is an ordinary dialog.
    FAddFiles = [this](const std::vector<std::string>& Paths, bool StayOnTop) {
        std::vector<std::string> paths = Paths;
        try {
            return AddFiles(this, FScheduler, paths, StayOnTop);
        } catch (const std::exception&) {
            // The tasks before the failing file were kept: the window shows them and the error.
            CommandFailed();
            return true;
        }
    };

    WatchForQueueCommandUpdates();
    UpdateQueueCommands();
}

void TMainWindow::WatchForQueueCommandUpdates() {
    const auto post = [this] { PostQueueCommandsUpdate(); };
    for (QAbstractItemView* view : {static_cast<QAbstractItemView*>(ListViewUploadJobs),
                                    static_cast<QAbstractItemView*>(ListViewFinishedUploadJobs)}) {
        connect(view->selectionModel(), &QItemSelectionModel::selectionChanged, this, post);
        connect(view->selectionModel(), &QItemSelectionModel::currentChanged, this, post);
        QAbstractItemModel* model = view->model();
        connect(model, &QAbstractItemModel::dataChanged, this, post);
        connect(model, &QAbstractItemModel::rowsInserted, this, post);
        connect(model, &QAbstractItemModel::rowsRemoved, this, post);
        connect(model, &QAbstractItemModel::rowsMoved, this, post);
        connect(model, &QAbstractItemModel::modelReset, this, post);
        connect(model, &QAbstractItemModel::layoutChanged, this, post);
    }
    connect(TreeView, &QTreeWidget::itemSelectionChanged, this, post);
    connect(qApp, &QApplication::focusChanged, this, post);
    // A menu always opens with the rules of this moment.
    for (QMenu* menu : {mi_File, mi_Upload, TaskListContextMenu})
        connect(menu, &QMenu::aboutToShow, this, [this] { UpdateQueueCommands(); });
    // Every tick: states change without any signal of the views (the scheduler window opens,
    // a task starts).
    TSchedulerHooks& hooks = FScheduler.Hooks();
    hooks.StatusChanged = [this, status = std::move(hooks.StatusChanged)](const TSchedulerStatus& Status) {
        if (status)
            status(Status);
        PostQueueCommandsUpdate();
    };
}

void TMainWindow::PostQueueCommandsUpdate() {
    if (FQueueCommandsUpdatePosted)
        return;
    FQueueCommandsUpdatePosted = true;
    QTimer::singleShot(0, this, [this] {
        FQueueCommandsUpdatePosted = false;
        PlaceCaptionEditor();
        UpdateQueueCommands();
    });
}

void TMainWindow::UpdateQueueCommands() {
    TCommandContext c;
    const QTableView* shown = CurrentView();
    c.Shown = !shown                                ? slNone
              : shown == ListViewUploadJobs         ? slTasks
              : shown == ListViewFinishedUploadJobs ? slFinished
                                                    : slNone;
    if (c.Shown == slTasks && !ListViewUploadJobs->isVisibleTo(this))
        c.Shown = slNone;
    c.TaskViewFocused = focusWidget() == ListViewUploadJobs;
    c.EditingCaption = EditingTaskCaption();
    // A selection without a focus row offers nothing, as the list view's own rule has it.
    if (ListViewUploadJobs->currentIndex().row() >= 0)
        c.Tasks = SummaryOf(ListViewUploadJobs, &FQueue);
    c.Finished = SummaryOf(ListViewFinishedUploadJobs, nullptr);
    c.TaskCount = FQueue.TaskCount();
    c.RunningCount = FQueue.RunningCount();
    const TCommandEnables e = ComputeCommandEnables(c);
    act_queuetasks->setEnabled(e.QueueTasks);
    act_pausetasks->setEnabled(e.PauseTasks);
    act_starttasks->setEnabled(e.StartTasks);
    act_stopalltasks->setEnabled(e.StopAllTasks);
    act_deletetasks->setEnabled(e.DeleteTasks);
    act_tasksproperties->setEnabled(e.TasksProperties);
    act_movetasksup->setEnabled(e.MoveTasksUp);
    act_movetasksdown->setEnabled(e.MoveTasksDown);
    act_renametask->setEnabled(e.RenameTask);
    act_scramblename->setEnabled(e.ScrambleName);
    act_restoreoriginalname->setEnabled(e.RestoreOriginalName);
    act_selectalltasks->setEnabled(e.SelectAllTasks);
    act_newtasks->setEnabled(e.NewTasks);
}

// The rule the enable rules apply, on the same summary of the selection.
bool TMainWindow::SelectedTasksInStates(TJobStates States) const {
    const QTableView* view = ListViewUploadJobs;
    return view->isVisibleTo(this) && view->currentIndex().row() >= 0 &&
           quillo::SelectedTasksInStates(SummaryOf(view, &FQueue), States);
}

// Called inside the handler's catch block: the failure joins the error report, as every exception
// that reaches the event loop does, and the program goes on.
void TMainWindow::CommandFailed() {
    ApplicationEventsException(this, std::current_exception());
}

// ---- the commands ------------------------------------------------------------------------------

void TMainWindow::act_newtasksExecute() {
    const TOpenFilesDialog& dialog = InstalledOpenFilesDialog();
    const QString title = ResQString(rmAddFilesCaption);
    const QString filter = ResQString(rmAddFilesFilter);
    std::vector<std::string> paths =
        dialog ? dialog(this, title, filter) : RunOpenFilesDialog(this, title, filter);
    if (paths.empty())
        return;
    // Chosen from the tray menu the window comes up afterwards, also when adding failed.
    struct TShowAfterwards {
        TMainWindow* W;
        ~TShowAfterwards() { W->ShowApplication(true); }
    } show{this};
    AddFiles(this, FScheduler, paths, false);
}

void TMainWindow::act_queuetasksExecute() {
    FScheduler.ChangeTaskStates({jsDelayed, jsError}, jsQueued, SelectedTaskIds());
}

void TMainWindow::act_pausetasksExecute() {
    FScheduler.ChangeTaskStates({jsQueued, jsUploading, jsError}, jsDelayed, SelectedTaskIds());
}

// Finished tasks (not yet moved into the finished list) and running ones are left alone: a
// finished upload started again would upload the file a second time.
void TMainWindow::act_starttasksExecute() {
    FScheduler.ChangeTaskStates({jsQueued, jsDelayed, jsError}, jsUploading, SelectedTaskIds());
}

void TMainWindow::act_stopalltasksExecute() {
    if (FQueue.RunningCount() != 0 &&
        ShowMessageBox(this, ResQString(rmConfirmStopAll), ResQString(rmConfirmation), mbOKCancel,
                       miWarning) != mrOK)
        return;
    FScheduler.StopRunningTasks();
    FScheduler.ChangeTaskStates({jsQueued, jsUploading}, jsDelayed);
}

void TMainWindow::act_deletetasksExecute() {
    if (ListViewUploadJobs->isVisibleTo(this))
        DeleteSelectedTasks();
}

void TMainWindow::act_taskspropertiesExecute() {
    if (CurrentView() != ListViewUploadJobs)
        return;
    EditTaskProperties(this, FScheduler, SelectedTaskIds());
    ShowDetails(ListViewUploadJobs);
}

void TMainWindow::act_movetasksupExecute() {
    MoveSelection(true);
}

void TMainWindow::act_movetasksdownExecute() {
    MoveSelection(false);
}

void TMainWindow::act_renametaskExecute() {
    if (!ListViewUploadJobsEditing())
        return;
    const int row = TMainWindow::SelectedRows(ListViewUploadJobs).front();
    const TUploadJobData& task = FQueue.Task(std::size_t(row));
    if (!FCaptionEditor) {
        auto* editor = new TCaptionEditor(ListViewUploadJobs->viewport());
        editor->setObjectName(QStringLiteral("ListViewUploadJobsEditor"));
        editor->setAccessibleName(tr("Upload name"));
        editor->OnEnd = [this](bool Accept) { EndCaptionEditing(Accept); };
        FCaptionEditor = editor;
    }
    FEditedTask = task.Id();
    ListViewUploadJobs->scrollTo(ListViewUploadJobs->model()->index(row, 0));
    FCaptionEditor->setText(QString::fromStdString(EffectiveUploadName(task)));
    FCaptionEditor->setModified(false);
    PlaceCaptionEditor();
    FCaptionEditor->show();
    FCaptionEditor->selectAll();
    FCaptionEditor->setFocus(Qt::OtherFocusReason);
    UpdateQueueCommands();
}

void TMainWindow::act_scramblenameExecute() {
    ScrambleNames();
}

void TMainWindow::act_restoreoriginalnameExecute() {
    RestoreOriginalNames();
}

void TMainWindow::act_selectalltasksExecute() {
    QAbstractItemModel* model = ListViewUploadJobs->model();
    const int rows = model->rowCount();
    if (rows == 0)
        return;
    QItemSelectionModel* selection = ListViewUploadJobs->selectionModel();
    {
        // One change, announced once below: not one notification per row.
        const QSignalBlocker block(selection);
        selection->select(
            QItemSelection(model->index(0, 0), model->index(rows - 1, model->columnCount() - 1)),
            QItemSelectionModel::ClearAndSelect);
        if (!ListViewUploadJobs->currentIndex().isValid())
            selection->setCurrentIndex(model->index(0, 0), QItemSelectionModel::NoUpdate);
    }
    ListViewUploadJobs->viewport()->update();
    ListViewOnSelectItem(ListViewUploadJobs);
    UpdateQueueCommands();
}

// ---- operations --------------------------------------------------------------------------------

void TMainWindow::DeleteSelectedTasks() {
    const std::vector<TJobId> ids = SelectedTaskIds();
    if (ids.empty())
        return;
    if (ShowMessageBox(this, ResQString(rmConfirmDeleteTasks), ResQString(rmConfirmation), mbOKCancel,
                       miQuestion) != mrOK)
        return;
    const std::optional<std::size_t> first = FQueue.IndexOfTask(ids.front());
    QItemSelectionModel* selection = ListViewUploadJobs->selectionModel();
    {
        // The marks go first: the view then has no selected row to carry through the removal.
        const QSignalBlocker block(selection);
        selection->clearSelection();
    }
    quillo::DeleteSelectedTasks(FScheduler, ids);
    // The focus stays where the first deleted task was, for the keyboard to go on from.
    if (first && FQueue.TaskCount() > 0) {
        const QSignalBlocker block(selection);
        selection->setCurrentIndex(
            ListViewUploadJobs->model()->index(int(std::min(*first, FQueue.TaskCount() - 1)), 0),
            QItemSelectionModel::NoUpdate);
    }
    ListViewUploadJobs->viewport()->update();
    ShowDetails(ListViewUploadJobs);
    UpdateQueueCommands();
}

void TMainWindow::ScrambleNames() {
    if (quillo::ScrambleNames(FScheduler, SelectedTaskIds()) > 0)
        ShowDetails(ListViewUploadJobs);
}

void TMainWindow::RestoreOriginalNames() {
    if (quillo::RestoreOriginalNames(FScheduler, SelectedTaskIds()) > 0)
        ShowDetails(ListViewUploadJobs);
}

void TMainWindow::MoveSelection(bool Up) {
    QTableView* view = CurrentView();
    if (!view)
        return;
    const TQueueList list = view == ListViewUploadJobs ? qlTasks : qlFinished;
    TListSelection s = SelectionOf(view);
    if (Up ? !CanMoveUp(s) : !CanMoveDown(s))
        return;
    QItemSelectionModel* selection = view->selectionModel();
    {
        // The views hear one layout change instead of a move per exchange (each of which the
        // views would follow over the whole list); the marks and the focus, moved along by the
        // core, are put back at the end in one go.
        const QSignalBlocker block(selection);
        selection->clearSelection();
        auto* model = static_cast<TQueueListModel*>(view->model());
        model->BeginLayoutChange();
        try {
            if (Up)
                MoveSelectionUp(FQueue, list, s);
            else
                MoveSelectionDown(FQueue, list, s);
        } catch (...) {
            model->EndLayoutChange();
            throw;
        }
        model->EndLayoutChange();
        ApplySelection(view, s);
    }
    view->viewport()->update();
    if (s.Focus)
        view->scrollTo(view->model()->index(int(*s.Focus), 0));
    ShowDetails(view);
    UpdateQueueCommands();
}

// ---- the task list's own handlers --------------------------------------------------------------

void TMainWindow::ListViewUploadJobsDblClick() {
    const std::vector<TJobId> ids = SelectedTaskIds();
    if (ids.empty())
        return;
    const TUploadJobData* task = FQueue.FindTask(ids.front());
    if (!task || task->State == jsUploading)
        return;
    EditTaskProperties(this, FScheduler, ids);
    ShowDetails(ListViewUploadJobs);
}

bool TMainWindow::ListViewUploadJobsEditing() const {
    const std::vector<int> rows = SelectedRows(ListViewUploadJobs);
    return !rows.empty() && std::size_t(rows.front()) < FQueue.TaskCount() &&
           FQueue.Task(std::size_t(rows.front())).State != jsUploading;
}

bool TMainWindow::EditingTaskCaption() const {
    return FCaptionEditor && !FCaptionEditor->isHidden();
}

void TMainWindow::EndCaptionEditing(bool Accept) {
    // Hiding the editor takes its focus away, which ends the editing once more: the first end
    // clears the task, the others find nothing to do.
    if (!EditingTaskCaption() || FEditedTask == NoJobId)
        return;
    const TJobId task = std::exchange(FEditedTask, NoJobId);
    const QString text = FCaptionEditor->text();
    const bool typed = FCaptionEditor->isModified();
    const bool hadFocus = FCaptionEditor->hasFocus();
    FCaptionEditor->hide();
    if (hadFocus)
        ListViewUploadJobs->setFocus(Qt::OtherFocusReason);
    // The caption as shown (a name that is not UTF-8 drawn with replacement characters) is no
    // new name: only what the user typed is.
    if (Accept && typed)
        ListViewUploadJobsEdited(task, text);
    PostQueueCommandsUpdate();
}

void TMainWindow::ListViewUploadJobsEdited(TJobId Task, const QString& Text) {
    std::string problem;
    switch (RenameTask(FQueue, Task, Text.toStdString(), &problem)) {
    case rrRenamed:
        ShowDetails(ListViewUploadJobs);
        break;
    case rrRefused:
        ShowMessageBox(this, QString::fromStdString(problem), ResQString(rmError), mbOK, miError);
        break;
    case rrUnchanged:
        break;
    }
}

// The editor sits on the first cell of its task's row, wherever that row has moved; a task that
// left the queue or started uploading meanwhile ends the editing without a change.
void TMainWindow::PlaceCaptionEditor() {
    if (!EditingTaskCaption())
        return;
    const std::optional<std::size_t> row = FQueue.IndexOfTask(FEditedTask);
    if (!row || FQueue.Task(*row).State == jsUploading) {
        EndCaptionEditing(false);
        return;
    }
    FCaptionEditor->setGeometry(
        ListViewUploadJobs->visualRect(ListViewUploadJobs->model()->index(int(*row), 0)));
}

} // namespace quillo
