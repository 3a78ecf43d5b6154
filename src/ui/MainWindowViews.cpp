// The main window's views: switching them by the tree, the details panel, fitting the first
// column, the status-bar panels.
#include "ui/MainWindow.h"

#include "core/queue/QueueCommands.h"
#include "ui/FreezeUpdates.h"
#include "ui/QueueModels.h"

#include <QEvent>
#include <QHeaderView>
#include <QLabel>
#include <QStackedWidget>
#include <QStatusBar>
#include <QTableView>
#include <QTextBlockFormat>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextEdit>
#include <QTreeWidget>

#include <cmath>

namespace quillo {

namespace {

QString Q(const std::string& S) {
    return QString::fromUtf8(S.data(), qsizetype(S.size()));
}

bool IsShown(const QWidget* View, const QWidget* Window) {
    return View && View->isVisibleTo(Window);
}

} // namespace

QTableView* TMainWindow::CurrentView() const {
    const QList<QTreeWidgetItem*> selected = TreeView->selectedItems();
    if (selected.isEmpty())
        return nullptr;
    switch (TreeView->indexOfTopLevelItem(selected.first())) {
    case 0:
        return ListViewUploadJobs;
    case 1:
        return ListViewFinishedUploadJobs;
    default:
        return nullptr;
    }
}

void TMainWindow::TreeViewChange() {
    QTableView* view = CurrentView();
    if (!view)
        return;
    ListViews->setCurrentWidget(view);
    ShowDetails(view);
    FitFirstColumn(view);
}

void TMainWindow::ListViewOnSelectItem(QAbstractItemView* Sender) {
    ShowDetails(Sender);
}

int TMainWindow::SelectedRowCount(const QAbstractItemView* View) {
    const QItemSelection selection = View->selectionModel()->selection();
    if (selection.isEmpty())
        return 0;
    // Ranges may overlap, so two ranges are not yet two rows: several means some selected row
    // differs from the first one found.
    const int first = selection.first().top();
    for (const QItemSelectionRange& range : selection)
        if (range.top() != first || range.bottom() != first)
            return 2;
    return 1;
}

// The marks of a view's selection and its focus row, one mark per row.
TListSelection TMainWindow::SelectionOf(const QAbstractItemView* View) {
    TListSelection s;
    s.Selected.assign(std::size_t(View->model()->rowCount()), 0);
    for (const QItemSelectionRange& range : View->selectionModel()->selection())
        for (int row = qMax(0, range.top()); row <= range.bottom() && std::size_t(row) < s.Selected.size();
             ++row)
            s.Selected[std::size_t(row)] = 1;
    if (const int current = View->currentIndex().row(); current >= 0)
        s.Focus = std::size_t(current);
    return s;
}

// Puts the marks back as one range per run of adjacent rows, and the focus row.
void TMainWindow::ApplySelection(QAbstractItemView* View, const TListSelection& S) {
    const QAbstractItemModel* model = View->model();
    const int lastColumn = model->columnCount() - 1;
    const std::size_t n = std::min(S.Selected.size(), std::size_t(model->rowCount()));
    QItemSelection selection;
    for (std::size_t i = 0; i < n; ++i) {
        if (!S.Selected[i])
            continue;
        std::size_t j = i;
        while (j + 1 < n && S.Selected[j + 1])
            ++j;
        selection.select(model->index(int(i), 0), model->index(int(j), lastColumn));
        i = j;
    }
    View->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
    if (S.Focus && *S.Focus < n)
        View->selectionModel()->setCurrentIndex(model->index(int(*S.Focus), 0),
                                                QItemSelectionModel::NoUpdate);
}

std::vector<int> TMainWindow::SelectedRows(const QAbstractItemView* View) {
    const TListSelection s = SelectionOf(View);
    std::vector<int> rows;
    for (std::size_t row = 0; row < s.Selected.size(); ++row)
        if (s.Selected[row])
            rows.push_back(int(row));
    return rows;
}

std::vector<TJobId> TMainWindow::SelectedTaskIds() const {
    std::vector<TJobId> ids;
    for (int row : SelectedRows(ListViewUploadJobs))
        if (std::size_t(row) < FQueue.TaskCount())
            ids.push_back(FQueue.Task(std::size_t(row)).Id());
    return ids;
}

void TMainWindow::AppendStyledText(const QString& Text, TRunStyle Style, const QColor& Colour) {
    QTextCursor cursor(RichEdit1->document());
    cursor.movePosition(QTextCursor::End);
    QTextCharFormat format;
    format.setFontWeight(Style == rsBold ? QFont::Bold : QFont::Normal);
    format.setForeground(Colour);
    // A CR LF pair is one line end; the document would read CR and LF as two.
    QString text = Text;
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    cursor.insertText(text, format);
}

void TMainWindow::AppendRuns(const TStyledRuns& Runs) {
    const QPalette& palette = RichEdit1->palette();
    for (const TStyledRun& run : Runs)
        AppendStyledText(Q(run.Text), run.Style, RunColour(run.Colour, palette));
}

void TMainWindow::ShowDetails(QAbstractItemView* View) {
    if (!IsShown(View, this))
        return;
    TFreezeUpdates freeze(RichEdit1);
    RichEdit1->clear();
    // Lines as close as the panel's font means them to be: the stand-in fonts of Arial have far
    // more room between lines, and the panel is only a few lines high.
    QTextBlockFormat lines;
    lines.setLineHeight(std::round(RichEdit1->font().pixelSize() * 1.25), QTextBlockFormat::FixedHeight);
    QTextCursor(RichEdit1->document()).setBlockFormat(lines);
    const int selected = SelectedRowCount(View);
    const int row = selected == 1 ? View->selectionModel()->selection().first().top() : -1;
    RichEdit1->setEnabled(selected == 1);
    if (View == ListViewUploadJobs && row >= 0 && std::size_t(row) < FQueue.TaskCount())
        AppendRuns(TaskDetailRuns(FQueue.Task(std::size_t(row))));
    else if (View == ListViewFinishedUploadJobs && row >= 0 && std::size_t(row) < FQueue.FinishedCount())
        AppendRuns(FinishedDetailRuns(FQueue.Finished(std::size_t(row))));
    else
        AppendRuns(ProductSummaryRuns(FProductInfo ? FProductInfo() : BuiltInProductInfo()));
    RichEdit1->moveCursor(QTextCursor::Start);
}

void TMainWindow::RefreshCurrentView(QAbstractItemView* View) {
    QTableView* shown = CurrentView();
    if (!shown || (View && View != shown))
        return;
    shown->viewport()->update();
    ShowDetails(shown);
}

// A task's row has been repainted by its model; the details change only when they describe it.
void TMainWindow::TaskRefreshed(TJobId Task) {
    if (!IsShown(ListViewUploadJobs, this) || SelectedRowCount(ListViewUploadJobs) != 1)
        return;
    const int row = ListViewUploadJobs->selectionModel()->selection().first().top();
    if (Task == NoJobId ||
        (std::size_t(row) < FQueue.TaskCount() && FQueue.Task(std::size_t(row)).Id() == Task))
        ShowDetails(ListViewUploadJobs);
}

void TMainWindow::FitFirstColumn(QTableView* View) {
    QHeaderView* header = View->horizontalHeader();
    int others = 0;
    for (int i = 1; i < header->count(); ++i)
        others += header->sectionSize(i);
    header->resizeSection(0, qMax(MinFirstColumnWidth, View->width() - others - ScrollBarAllowance));
}

void TMainWindow::FormResize() {
    FitFirstColumn(ListViewUploadJobs);
    FitFirstColumn(ListViewFinishedUploadJobs);
    StatusPanels[0]->resize(StatusBar->width() - StatusPanels[1]->width() - StatusPanels[2]->width(),
                            StatusPanels[0]->height());
    PlaceStatusPanels();
}

// Panels side by side from the left, each as wide as it is set, all as high as the bar.
void TMainWindow::PlaceStatusPanels() {
    int x = 0;
    for (QLabel* panel : StatusPanels) {
        panel->setGeometry(x, 0, panel->width(), StatusBar->height());
        x += panel->width();
    }
}

void TMainWindow::resizeEvent(QResizeEvent* Event) {
    QMainWindow::resizeEvent(Event);
    FormResize();
}

bool TMainWindow::eventFilter(QObject* Watched, QEvent* Event) {
    WatchApplicationQuit(Watched, Event);
    if (Event->type() == QEvent::Resize) {
        if (Watched == ListViewUploadJobs || Watched == ListViewFinishedUploadJobs)
            FitFirstColumn(static_cast<QTableView*>(Watched));
        else if (Watched == StatusBar)
            FormResize();
    }
    return QMainWindow::eventFilter(Watched, Event);
}

} // namespace quillo
