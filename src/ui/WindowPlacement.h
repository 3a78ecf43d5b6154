#pragma once
// Where the main window goes at start: its stored bounds when they still make sense, otherwise
// its designed size centred on the screen.

#include "core/app/Settings.h"

#include <QList>
#include <QRect>
#include <QSize>

#include <optional>

namespace quillo {

// The stored WindowRect as a rectangle, when it has a sane size and some part of it lies in one
// of the screen areas (a hand-edited file or a monitor that is gone must not put the window
// out of reach). With no screen areas known, any sane rectangle is accepted.
std::optional<QRect> UsableWindowRect(const TWindowRect& Stored, const QList<QRect>& ScreenAreas);

// A window of the given size centred in Area; on an area smaller than the window the top-left
// corner stays inside it, so the title bar can still be reached.
QRect CentredRect(QSize Size, const QRect& Area);

// The WindowRect that stores Bounds (right = left + width, bottom = top + height).
TWindowRect ToWindowRect(const QRect& Bounds);

} // namespace quillo
