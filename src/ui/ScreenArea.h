#pragma once
// Keeping a window on the screen's free area: used wherever a window is placed from a stored or
// computed position (the drop window, the about box).

#include <QPoint>
#include <QRect>

#include <algorithm>

namespace quillo {

// The top-left corner that puts Window inside Area: an edge that sticks out is pulled back to
// the area's edge, the left (top) one first when the window is larger than the area.
inline QPoint ClampIntoArea(const QRect& Window, const QRect& Area) {
    const auto pull = [](int At, int Size, int First, int Length) {
        return std::max(First, std::min(At, First + Length - Size));
    };
    return {pull(Window.x(), Window.width(), Area.left(), Area.width()),
            pull(Window.y(), Window.height(), Area.top(), Area.height())};
}

} // namespace quillo
