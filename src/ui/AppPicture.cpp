#include "ui/AppPicture.h"

#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>

namespace quillo {

QPixmap ApplicationPicture(int Size, qreal DevicePixelRatio) {
    QPixmap pm(QSize(Size, Size) * DevicePixelRatio);
    pm.setDevicePixelRatio(DevicePixelRatio);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal s = Size;
    // The tray: an open box at the bottom.
    QPainterPath tray;
    tray.moveTo(0.12 * s, 0.58 * s);
    tray.lineTo(0.12 * s, 0.88 * s);
    tray.lineTo(0.88 * s, 0.88 * s);
    tray.lineTo(0.88 * s, 0.58 * s);
    p.setPen(QPen(QColor(0xd8, 0xd8, 0xd8), 0.09 * s, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    p.drawPath(tray);
    // The arrow, rising out of it.
    QPainterPath arrow;
    arrow.moveTo(0.50 * s, 0.08 * s);
    arrow.lineTo(0.80 * s, 0.40 * s);
    arrow.lineTo(0.61 * s, 0.40 * s);
    arrow.lineTo(0.61 * s, 0.72 * s);
    arrow.lineTo(0.39 * s, 0.72 * s);
    arrow.lineTo(0.39 * s, 0.40 * s);
    arrow.lineTo(0.20 * s, 0.40 * s);
    arrow.closeSubpath();
    p.setPen(QPen(QColor(0x0b, 0x4f, 0x9c), 0.03 * s, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(QColor(0x2f, 0x8f, 0xe8));
    p.drawPath(arrow);
    return pm;
}

QIcon ApplicationIcon() {
    const QIcon set = QGuiApplication::windowIcon();
    if (!set.isNull() && !set.availableSizes().isEmpty())
        return set;
    QIcon icon;
    for (int size : {16, 22, 24, 32, 48, 64, 128})
        icon.addPixmap(ApplicationPicture(size));
    return icon;
}

} // namespace quillo
