#include "ui/ProgressDelegate.h"

#include <QApplication>
#include <QPainter>

namespace quillo {

TProgressDelegate::TProgressDelegate(int ProgressRole, QObject* Parent)
    : QStyledItemDelegate(Parent), FProgressRole(ProgressRole) {}

void TProgressDelegate::paint(QPainter* Painter, const QStyleOptionViewItem& Option,
                              const QModelIndex& Index) const {
    const QVariant progress = Index.data(FProgressRole);
    if (!progress.isValid()) {
        QStyledItemDelegate::paint(Painter, Option, Index);
        return;
    }
    QStyleOptionViewItem opt = Option;
    initStyleOption(&opt, Index);
    const QWidget* widget = opt.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();

    // The row's own background (selection included) first, then the bar, then the text on top,
    // so the text stays readable whether the row is selected or not.
    const QString text = opt.text;
    opt.text.clear();
    style->drawControl(QStyle::CE_ItemViewItem, &opt, Painter, widget);

    const int percent = qBound(0, progress.toInt(), 100);
    const QRect frame = opt.rect.adjusted(2, 2, -2, -2);
    Painter->save();
    Painter->setRenderHint(QPainter::Antialiasing, false);
    const bool selected = opt.state & QStyle::State_Selected;
    const QColor rim = selected ? opt.palette.color(QPalette::HighlightedText) : QColor(0x6a, 0x9f, 0x5b);
    QColor fill = selected ? opt.palette.color(QPalette::HighlightedText) : QColor(0xa8, 0xd8, 0x96);
    if (selected)
        fill.setAlpha(90);
    Painter->setPen(rim);
    Painter->setBrush(Qt::NoBrush);
    Painter->drawRect(frame.adjusted(0, 0, -1, -1));
    const int width = (frame.width() - 2) * percent / 100;
    if (width > 0)
        Painter->fillRect(QRect(frame.left() + 1, frame.top() + 1, width, frame.height() - 2), fill);
    Painter->restore();

    const QPalette::ColorRole role = selected ? QPalette::HighlightedText : QPalette::Text;
    // Clear of the bar's rim.
    const QRect textRect =
        style->subElementRect(QStyle::SE_ItemViewItemText, &opt, widget).adjusted(3, 0, -3, 0);
    style->drawItemText(Painter, textRect, int(opt.displayAlignment), opt.palette,
                        opt.state & QStyle::State_Enabled, text, role);
}

} // namespace quillo
