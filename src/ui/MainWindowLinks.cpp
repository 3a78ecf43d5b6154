// The finished list's commands: sorting by a column, copying and exporting links, the rename
// script, deleting and selecting entries. The texts themselves come from the core
// (FinishedLinks, RenameScript); this file gathers the selection, asks for files and reports.
#include "ui/MainWindow.h"

#include "core/l10n/ResMessages.h"
#include "core/queue/QueueCommands.h"
#include "core/queue/RenameScript.h"
#include "ui/FreezeUpdates.h"
#include "ui/QueueModels.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QFileDialog>
#include <QHeaderView>
#include <QKeySequence>
#include <QMenu>
#include <QTableView>

namespace quillo {

namespace {

// "Text file|*.txt" -> "Text file (*.txt)", and the extension it stands for ("txt").
QString QtNameFilter(const QString& Filter) {
    const qsizetype bar = Filter.indexOf(QLatin1Char('|'));
    return bar < 0 ? Filter
                   : Filter.left(bar) + QStringLiteral(" (") + Filter.mid(bar + 1) + QLatin1Char(')');
}

QString FilterSuffix(const QString& Filter) {
    const qsizetype dot = Filter.lastIndexOf(QStringLiteral("*."));
    if (dot < 0)
        return {};
    QString suffix = Filter.mid(dot + 2);
    suffix.remove(QLatin1Char(')'));
    return suffix.contains(QLatin1Char('*')) ? QString() : suffix;
}

QString RealSaveFileDialog(QWidget* Owner, const TMainWindow::TSaveDialogRequest& Request) {
    QFileDialog dialog(Owner, Request.Title);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    QStringList filters;
    for (const QString& filter : Request.Filters)
        filters.append(QtNameFilter(filter));
    dialog.setNameFilters(filters);
    dialog.setDefaultSuffix(Request.DefaultSuffix);
    // A name typed without extension gets the one of the filter in use.
    QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog](const QString& Filter) {
        const QString suffix = FilterSuffix(Filter);
        if (!suffix.isEmpty())
            dialog.setDefaultSuffix(suffix);
    });
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().constFirst();
}

} // namespace

void TMainWindow::CreateLinksAndSearchWidgets() {
    CreateLinkCommands();
    CreateSearchPanel();
    CreateErrorReport();
}

void TMainWindow::InstallLinksAndSearchCommands() {
    // In the order of TLinkCommand.
    const std::array<std::function<void()>, LinkCommands.size()> execute{
        [this] { act_copydownloadlinksExecute(); }, [this] { act_copydownloadlinksandmd5Execute(); },
        [this] { act_copydeletelinksExecute(); },   [this] { ExportLinks(emDownloadLinks); },
        [this] { ExportLinks(emDeleteLinks); },     [this] { ExportLinks(emAllDetails); },
        [this] { act_makerenamescriptExecute(); },  [this] { act_deleteselectedlinksExecute(); },
        [this] { act_selectalllinksExecute(); },
    };
    for (const TLinkCommandInfo& info : LinkCommands)
        InstallCommand(LinkAction(info.Command), execute[std::size_t(info.Command)]);
    connect(ListViewFinishedUploadJobs->horizontalHeader(), &QHeaderView::sectionClicked, this,
            [this](int Column) { ListViewFinishedUploadJobsColumnClick(Column); });
    // The enable rules depend on the focus, the selection and the list's length.
    connect(qApp, &QApplication::focusChanged, this, [this] { UpdateLinkCommands(); });
    connect(ListViewFinishedUploadJobs->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { UpdateLinkCommands(); });
    QAbstractItemModel* model = ListViewFinishedUploadJobs->model();
    for (auto signal : {&QAbstractItemModel::rowsInserted, &QAbstractItemModel::rowsRemoved})
        connect(model, signal, this, [this] { UpdateLinkCommands(); });
    connect(model, &QAbstractItemModel::modelReset, this, [this] { UpdateLinkCommands(); });
    connect(LinksListContextMenu, &QMenu::aboutToShow, this, [this] { UpdateLinkCommands(); });
    UpdateLinkCommands();
    InstallSearchCommands();
}

void TMainWindow::CreateLinkCommands() {
    for (const TLinkCommandInfo& info : LinkCommands) {
        QAction* a = NewAction(info.Name, QString::fromLatin1(info.Caption), {},
                               QKeySequence(QString::fromLatin1(info.Shortcut)));
        // Shortcuts only work for actions of a widget of the window: the context menu is a
        // window of its own, shown only now and then.
        addAction(a);
        a->setEnabled(false);
        FLinkActions[std::size_t(info.Command)] = a;
    }
    QMenu* menu = LinksListContextMenu;
    menu->addAction(LinkAction(lcCopyDownloadLinks));
    menu->addAction(LinkAction(lcCopyDownloadLinksAndMD5));
    menu->addAction(LinkAction(lcCopyDeleteLinks));
    menu->addSeparator();
    mi_ExportLinks = menu->addMenu(QString::fromLatin1(ExportSubmenuCaption));
    mi_ExportLinks->setObjectName(QStringLiteral("mi_ExportLinks"));
    mi_ExportLinks->addAction(LinkAction(lcExportDownloadLinks));
    mi_ExportLinks->addAction(LinkAction(lcExportDeleteLinks));
    mi_ExportLinks->addAction(LinkAction(lcExportAll));
    menu->addAction(LinkAction(lcMakeRenameScript));
    menu->addSeparator();
    menu->addAction(LinkAction(lcDeleteSelected));
    menu->addAction(LinkAction(lcSelectAll));
}

void TMainWindow::UpdateLinkCommands() {
    QTableView* view = ListViewFinishedUploadJobs;
    // Only the list that has the focus answers Delete and Ctrl+A: the finished list is hidden
    // whenever the task list can have the focus, so their commands are never enabled together.
    // While a menu is open it has the keyboard; the commands stay as they were when it opened
    // (the context menu's own items among them).
    if (!QApplication::activePopupWidget())
        FFinishedViewFocused = view->hasFocus() && view->isVisibleTo(this);
    const bool focus = FFinishedViewFocused;
    const std::size_t selected = std::size_t(SelectedRowCount(view));
    const std::size_t entries = FQueue.FinishedCount();
    bool anyExport = false;
    for (const TLinkCommandInfo& info : LinkCommands) {
        const bool enabled = LinkCommandEnabled(info.Command, focus, selected, entries);
        LinkAction(info.Command)->setEnabled(enabled);
        if (info.Command == lcExportDownloadLinks || info.Command == lcExportDeleteLinks ||
            info.Command == lcExportAll)
            anyExport = anyExport || enabled;
    }
    mi_ExportLinks->setEnabled(anyExport);
}

TRows TMainWindow::SelectedFinishedRows() const {
    const std::vector<int> rows = SelectedRows(ListViewFinishedUploadJobs);
    return TRows(rows.begin(), rows.end());
}

void TMainWindow::ListViewFinishedUploadJobsColumnClick(int Column) {
    {
        TFreezeUpdates bulk(ListViewFinishedUploadJobs);
        SortFinishedList(FQueue, Column);
    }
    // The marks stayed on their rows, which now hold other entries.
    ShowDetails(ListViewFinishedUploadJobs);
}

void TMainWindow::CopyToClipboard(const std::string& Text) {
    // A clipboard that cannot be had copies nothing, without a word.
    if (QClipboard* clipboard = QGuiApplication::clipboard())
        clipboard->setText(QString::fromUtf8(Text.data(), qsizetype(Text.size())));
}

void TMainWindow::act_copydownloadlinksExecute() {
    CopyToClipboard(DownloadLinksText(FQueue, SelectedFinishedRows()));
}

void TMainWindow::act_copydownloadlinksandmd5Execute() {
    CopyToClipboard(DownloadLinksAndMD5Text(FQueue, SelectedFinishedRows()));
}

void TMainWindow::act_copydeletelinksExecute() {
    CopyToClipboard(DeleteLinksText(FQueue, SelectedFinishedRows()));
}

QString TMainWindow::AskSaveFileName(const TSaveDialogRequest& Request) {
    return FSaveFileDialog ? FSaveFileDialog(this, Request) : RealSaveFileDialog(this, Request);
}

// A file that cannot be written goes to the error report, with its name and the reason.
bool TMainWindow::WriteLinksFile(const QString& FileName, const std::string& Text, unsigned NewFileMode) {
    try {
        WriteExportFile(QFile::encodeName(FileName).toStdString(), Text, NewFileMode);
        return true;
    } catch (const std::exception&) {
        ApplicationEventsException(this, std::current_exception());
        return false;
    }
}

void TMainWindow::ExportLinks(int ExportMode) {
    const QString fileName = AskSaveFileName({ResQString(rmExportLinksCaption),
                                              QStringLiteral("txt"),
                                              {ResQString(rmTextFile) + QStringLiteral("|*.txt")}});
    if (fileName.isEmpty())
        return;
    WriteLinksFile(fileName, ExportLinksText(FQueue, SelectedFinishedRows(), ExportMode));
}

void TMainWindow::act_makerenamescriptExecute() {
    const QString fileName =
        AskSaveFileName({ResQString(rmSaveBatchCaption),
                         QStringLiteral("bat"),
                         {ResQString(rmBatchScript) + QStringLiteral("|*.bat"),
                          QString::fromLatin1(ShellScriptFilterName) + QStringLiteral("|*.") +
                              QString::fromLatin1(ShellScriptExtension)}});
    if (fileName.isEmpty())
        return;
    const TRenameScriptKind kind = RenameScriptKindFor(QFile::encodeName(fileName).toStdString());
    const TRenameScript script = MakeRenameScript(FQueue, SelectedFinishedRows(), kind);
    // A shell script is made to be run: executable, as far as the umask allows.
    if (!WriteLinksFile(fileName, script.Text, kind == rsShell ? 0777 : 0666))
        return;
    for (const std::string& entry : script.LeftOut)
        AddErrorReportLine(QString::fromStdString(entry));
}

void TMainWindow::act_deleteselectedlinksExecute() {
    if (!ListViewFinishedUploadJobs->isVisibleTo(this))
        return;
    std::vector<TJobId> ids;
    for (const std::size_t row : NormalizedRows(SelectedFinishedRows(), FQueue.FinishedCount()))
        ids.push_back(FQueue.Finished(row).Id());
    DeleteSelectedFinished(FScheduler, ids);
}

void TMainWindow::act_selectalllinksExecute() {
    ListViewFinishedUploadJobs->selectAll();
}

} // namespace quillo
