#pragma once
// Draws the Status cell of an uploading task with a progress bar behind its text, as people
// expect of a transfer list; the text itself ("Uploading (42%)") is the model's, unchanged.
// Cells without a progress value are drawn as usual.

#include <QStyledItemDelegate>

namespace quillo {

class TProgressDelegate final : public QStyledItemDelegate {
    Q_OBJECT
public:
    // ProgressRole: the model role that holds 0..100 for a cell with a bar.
    TProgressDelegate(int ProgressRole, QObject* Parent = nullptr);
    void paint(QPainter* Painter, const QStyleOptionViewItem& Option,
               const QModelIndex& Index) const override;

private:
    int FProgressRole;
};

} // namespace quillo
