#pragma once
// The X11 side of the desktop program: the display connection and the window hints Qt leaves
// as they were.

class QWidget;
struct xcb_connection_t;

namespace quillo {

// A window once shown minimized keeps "start iconic" in its WM_HINTS after the window manager
// has restored it, so showing it again after a hide maps it minimized and out of sight. Resets
// that hint to the normal state; does nothing off X11 or before the window exists.
void ShowNormallyNextTime(QWidget& Window);

// Qt's connection to the X server; nullptr on every other platform.
xcb_connection_t* XcbConnection();

} // namespace quillo
