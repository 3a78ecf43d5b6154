#pragma once
// Item models over the two lists of TUploadQueue, for the task list view and the finished list
// view. They hold no copy of the lists: the row count and every cell are read from the queue
// when the view asks for them (only visible rows are ever asked), and the queue's observer
// callbacks become the model's insert, remove, move, change and reset signals, so a progress
// event repaints its one row. User-interface thread only; a model must be destroyed before the
// queue it watches.

#include "core/queue/UploadQueue.h"

#include <QAbstractTableModel>
#include <QStringList>

#include <vector>

namespace quillo {

// One column of a list view as designed: caption, width in pixels, alignment of its cells.
struct TListColumn {
    const char* Caption;
    int Width;
    Qt::Alignment Alignment;
};

class TQueueListModel : public QAbstractTableModel, private TUploadQueueObserver {
    Q_OBJECT
public:
    // The progress of an Uploading task (0..100) in its Status cell; no value for other rows.
    static constexpr int ProgressRole = Qt::UserRole + 1;

    TQueueListModel(TUploadQueue& Queue, TQueueList List, std::vector<TListColumn> Columns,
                    QObject* Parent = nullptr);
    ~TQueueListModel() override;

    int columnCount(const QModelIndex& Parent = {}) const override;
    // Text and alignment of every cell; the rest from RowData.
    QVariant data(const QModelIndex& Index, int Role = Qt::DisplayRole) const override;
    QVariant headerData(int Section, Qt::Orientation Orientation, int Role = Qt::DisplayRole) const override;
    // Captions can be replaced (a language file translates them).
    bool setHeaderData(int Section, Qt::Orientation Orientation, const QVariant& Value,
                       int Role = Qt::EditRole) override;

    const std::vector<TListColumn>& Columns() const { return FColumns; }

    // Many single-row moves in a row (a scattered selection moved up or down): between the two
    // calls the views hear nothing of the moves, and at the end one layout change. Persistent
    // indexes keep their row numbers: the caller puts the selection and the focus back itself.
    void BeginLayoutChange();
    void EndLayoutChange();

protected:
    // The text of a cell, and any other role of it (pictures, progress); Row is in range.
    virtual std::string RowText(std::size_t Row, int Column) const = 0;
    virtual QVariant RowData(std::size_t Row, int Column, int Role) const = 0;

    TUploadQueue& FQueue;

private:
    void RowsAboutToBeInserted(TQueueList List, std::size_t First, std::size_t Count) override;
    void RowsInserted(TQueueList List, std::size_t First, std::size_t Count) override;
    void RowsAboutToBeRemoved(TQueueList List, std::size_t First, std::size_t Count) override;
    void RowsRemoved(TQueueList List, std::size_t First, std::size_t Count) override;
    void RowAboutToBeMoved(TQueueList List, std::size_t From, std::size_t To) override;
    void RowMoved(TQueueList List, std::size_t From, std::size_t To) override;
    void RowsChanged(TQueueList List, std::size_t First, std::size_t Last) override;
    void ListAboutToBeReset(TQueueList List) override;
    void ListReset(TQueueList List) override;

    TQueueList FList;
    std::vector<TListColumn> FColumns;
    QStringList FCaptions;
    bool FMoving = false;
    bool FLayoutChanging = false;
};

// ListViewUploadJobs: File Name, Size, Method, Status, Elapsed, Left, Speed.
class TUploadJobsModel final : public TQueueListModel {
    Q_OBJECT
public:
    enum TColumn { tcFileName, tcSize, tcMethod, tcStatus, tcElapsed, tcLeft, tcSpeed, tcCount };

    explicit TUploadJobsModel(TUploadQueue& Queue, QObject* Parent = nullptr);
    int rowCount(const QModelIndex& Parent = {}) const override;

    // The text of one cell of a task's row (ListViewUploadJobsData).
    static std::string CellText(const TUploadJobData& Task, int Column);

private:
    std::string RowText(std::size_t Row, int Column) const override;
    QVariant RowData(std::size_t Row, int Column, int Role) const override;
};

// ListViewFinishedUploadJobs: File Name, Size, Upload Time.
class TFinishedUploadJobsModel final : public TQueueListModel {
    Q_OBJECT
public:
    enum TColumn { fcFileName, fcSize, fcUploadTime, fcCount };

    explicit TFinishedUploadJobsModel(TUploadQueue& Queue, QObject* Parent = nullptr);
    int rowCount(const QModelIndex& Parent = {}) const override;

    // The text of one cell of a finished upload's row (ListViewFinishedUploadJobsData).
    static std::string CellText(const TFinishedUploadJobData& Finished, int Column);

private:
    std::string RowText(std::size_t Row, int Column) const override;
    QVariant RowData(std::size_t Row, int Column, int Role) const override;
};

} // namespace quillo
