#include "ui/WindowPlacement.h"

#include <algorithm>
#include <cstdint>

namespace quillo {

std::optional<QRect> UsableWindowRect(const TWindowRect& Stored, const QList<QRect>& ScreenAreas) {
    const int64_t width = int64_t(Stored.Right) - Stored.Left;
    const int64_t height = int64_t(Stored.Bottom) - Stored.Top;
    constexpr int64_t kMaxSide = 1 << 15;
    if (width <= 0 || height <= 0 || width > kMaxSide || height > kMaxSide)
        return std::nullopt;
    // Positions that far out cannot be on any screen and would overflow Qt's coordinates.
    constexpr int64_t kMaxPos = 1 << 24;
    if (Stored.Left < -kMaxPos || Stored.Left > kMaxPos || Stored.Top < -kMaxPos || Stored.Top > kMaxPos)
        return std::nullopt;
    const QRect rect(Stored.Left, Stored.Top, int(width), int(height));
    if (ScreenAreas.isEmpty())
        return rect;
    if (std::any_of(ScreenAreas.begin(), ScreenAreas.end(),
                    [&](const QRect& a) { return a.intersects(rect); }))
        return rect;
    return std::nullopt;
}

QRect CentredRect(QSize Size, const QRect& Area) {
    const int x = std::max(Area.left(), Area.left() + (Area.width() - Size.width()) / 2);
    const int y = std::max(Area.top(), Area.top() + (Area.height() - Size.height()) / 2);
    return QRect(QPoint(x, y), Size);
}

TWindowRect ToWindowRect(const QRect& Bounds) {
    return TWindowRect{Bounds.left(), Bounds.top(), Bounds.left() + Bounds.width(),
                       Bounds.top() + Bounds.height()};
}

} // namespace quillo
