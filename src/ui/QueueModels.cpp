#include "ui/QueueModels.h"

#include "core/app/MyUtils.h"
#include "core/queue/JobTexts.h"
#include "ui/Pictures.h"

namespace quillo {

namespace {

QString Q(const std::string& S) {
    return QString::fromUtf8(S.data(), qsizetype(S.size()));
}

constexpr Qt::Alignment kLeft = Qt::AlignLeft | Qt::AlignVCenter;
constexpr Qt::Alignment kRight = Qt::AlignRight | Qt::AlignVCenter;

} // namespace

TQueueListModel::TQueueListModel(TUploadQueue& Queue, TQueueList List, std::vector<TListColumn> Columns,
                                 QObject* Parent)
    : QAbstractTableModel(Parent), FQueue(Queue), FList(List), FColumns(std::move(Columns)) {
    for (const TListColumn& c : FColumns)
        FCaptions.append(QString::fromLatin1(c.Caption));
    FQueue.AddObserver(this);
}

TQueueListModel::~TQueueListModel() {
    FQueue.RemoveObserver(this);
}

int TQueueListModel::columnCount(const QModelIndex& Parent) const {
    return Parent.isValid() ? 0 : int(FColumns.size());
}

QVariant TQueueListModel::data(const QModelIndex& Index, int Role) const {
    if (!Index.isValid() || Index.row() >= rowCount() || Index.column() >= columnCount())
        return {};
    const auto row = std::size_t(Index.row());
    switch (Role) {
    case Qt::DisplayRole:
        return Q(RowText(row, Index.column()));
    case Qt::TextAlignmentRole:
        return int(FColumns[std::size_t(Index.column())].Alignment);
    default:
        return RowData(row, Index.column(), Role);
    }
}

QVariant TQueueListModel::headerData(int Section, Qt::Orientation Orientation, int Role) const {
    if (Orientation != Qt::Horizontal || Section < 0 || Section >= int(FColumns.size()))
        return {};
    switch (Role) {
    case Qt::DisplayRole:
        return FCaptions[Section];
    case Qt::TextAlignmentRole:
        return int(FColumns[std::size_t(Section)].Alignment);
    default:
        return {};
    }
}

bool TQueueListModel::setHeaderData(int Section, Qt::Orientation Orientation, const QVariant& Value,
                                    int Role) {
    if (Orientation != Qt::Horizontal || Section < 0 || Section >= int(FColumns.size()) ||
        (Role != Qt::EditRole && Role != Qt::DisplayRole))
        return false;
    FCaptions[Section] = Value.toString();
    emit headerDataChanged(Orientation, Section, Section);
    return true;
}

void TQueueListModel::RowsAboutToBeInserted(TQueueList List, std::size_t First, std::size_t Count) {
    if (List == FList)
        beginInsertRows({}, int(First), int(First + Count) - 1);
}

void TQueueListModel::RowsInserted(TQueueList List, std::size_t, std::size_t) {
    if (List == FList)
        endInsertRows();
}

void TQueueListModel::RowsAboutToBeRemoved(TQueueList List, std::size_t First, std::size_t Count) {
    if (List == FList)
        beginRemoveRows({}, int(First), int(First + Count) - 1);
}

void TQueueListModel::RowsRemoved(TQueueList List, std::size_t, std::size_t) {
    if (List == FList)
        endRemoveRows();
}

void TQueueListModel::BeginLayoutChange() {
    if (FLayoutChanging)
        return;
    emit layoutAboutToBeChanged();
    FLayoutChanging = true;
}

void TQueueListModel::EndLayoutChange() {
    if (!FLayoutChanging)
        return;
    FLayoutChanging = false;
    emit layoutChanged();
}

// Qt names the destination as the row the moved one is put before: one past `To` when moving
// down. A move onto itself is no move at all (beginMoveRows refuses it).
void TQueueListModel::RowAboutToBeMoved(TQueueList List, std::size_t From, std::size_t To) {
    if (List != FList || FLayoutChanging)
        return;
    const int destination = int(To > From ? To + 1 : To);
    FMoving = From != To && beginMoveRows({}, int(From), int(From), {}, destination);
}

void TQueueListModel::RowMoved(TQueueList List, std::size_t, std::size_t) {
    if (List == FList && FMoving) {
        FMoving = false;
        endMoveRows();
    }
}

void TQueueListModel::RowsChanged(TQueueList List, std::size_t First, std::size_t Last) {
    if (List == FList)
        emit dataChanged(index(int(First), 0), index(int(Last), columnCount() - 1));
}

void TQueueListModel::ListAboutToBeReset(TQueueList List) {
    if (List == FList)
        beginResetModel();
}

void TQueueListModel::ListReset(TQueueList List) {
    if (List == FList)
        endResetModel();
}

// ---- the task list -------------------------------------------------------------------------

TUploadJobsModel::TUploadJobsModel(TUploadQueue& Queue, QObject* Parent)
    : TQueueListModel(Queue, qlTasks,
                      {{"File Name", 292, kLeft},
                       {"Size", 89, kRight},
                       {"Method", 107, kLeft},
                       {"Status", 123, kLeft},
                       {"Elapsed", 80, kRight},
                       {"Left", 79, kRight},
                       {"Speed", 71, kRight}},
                      Parent) {}

int TUploadJobsModel::rowCount(const QModelIndex& Parent) const {
    return Parent.isValid() ? 0 : int(FQueue.TaskCount());
}

std::string TUploadJobsModel::CellText(const TUploadJobData& Task, int Column) {
    switch (Column) {
    case tcFileName:
        return EffectiveUploadName(Task);
    case tcSize:
        return FormatThousands(Task.FileSize);
    case tcMethod:
        return Task.Method;
    case tcStatus:
        return TaskStateText(Task);
    default:
        break;
    }
    // The progress columns mean something only while the task is uploading.
    if (Task.State != jsUploading)
        return {};
    switch (Column) {
    case tcElapsed:
        return FormatMsAsClock(uint32_t(Task.Elapsed));
    case tcLeft:
        return FormatMsAsClock(uint32_t(Task.TimeLeft)); // -1: "??:??:??"
    case tcSpeed:
        return QString::number(Task.Speed / 8, 'f', 2).toStdString(); // kilobits to kilobytes
    default:
        return {};
    }
}

std::string TUploadJobsModel::RowText(std::size_t Row, int Column) const {
    return CellText(FQueue.Task(Row), Column);
}

QVariant TUploadJobsModel::RowData(std::size_t Row, int Column, int Role) const {
    const TUploadJobData& task = FQueue.Task(Row);
    if (Role == Qt::DecorationRole && Column == tcFileName && IsValidJobState(task.State))
        return SmallPicture(task.State);
    if (Role == ProgressRole && Column == tcStatus && task.State == jsUploading)
        return qBound(0, int(task.Percent), 100);
    return {};
}

// ---- the finished list ---------------------------------------------------------------------

TFinishedUploadJobsModel::TFinishedUploadJobsModel(TUploadQueue& Queue, QObject* Parent)
    : TQueueListModel(Queue, qlFinished,
                      {{"File Name", 542, kLeft}, {"Size", 111, kRight}, {"Upload Time", 185, kRight}},
                      Parent) {}

int TFinishedUploadJobsModel::rowCount(const QModelIndex& Parent) const {
    return Parent.isValid() ? 0 : int(FQueue.FinishedCount());
}

std::string TFinishedUploadJobsModel::CellText(const TFinishedUploadJobData& Finished, int Column) {
    switch (Column) {
    case fcFileName:
        return FinishedShownName(Finished);
    case fcSize:
        return FormatThousands(Finished.FileSize);
    case fcUploadTime:
        return UploadTimeText(Finished.EndTime);
    default:
        return {};
    }
}

std::string TFinishedUploadJobsModel::RowText(std::size_t Row, int Column) const {
    return CellText(FQueue.Finished(Row), Column);
}

QVariant TFinishedUploadJobsModel::RowData(std::size_t, int Column, int Role) const {
    return Role == Qt::DecorationRole && Column == fcFileName ? SmallPicture(jsFinished) : QVariant();
}

} // namespace quillo
