#include "ui/X11WindowHints.h"

#include <QGuiApplication>
#include <QWidget>

#include <xcb/xcb.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace quillo {

namespace {
// ICCCM 4.1.2.4: flags, input, initial_state, ...; StateHint is flag bit 1, NormalState 1.
constexpr int kHintsWords = 9;
constexpr uint32_t kStateHint = 1u << 1;
constexpr uint32_t kNormalState = 1;
} // namespace

xcb_connection_t* XcbConnection() {
    // Only the xcb platform's windows are X11 windows (the offscreen one may still offer a
    // display connection of its own).
    if (!qGuiApp || QGuiApplication::platformName() != QLatin1String("xcb"))
        return nullptr;
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->connection() : nullptr;
}

void ShowNormallyNextTime(QWidget& Window) {
    xcb_connection_t* c = XcbConnection();
    if (!c || !Window.testAttribute(Qt::WA_WState_Created))
        return;
    const auto window = static_cast<xcb_window_t>(Window.winId());
    xcb_get_property_reply_t* reply = xcb_get_property_reply(
        c, xcb_get_property(c, 0, window, XCB_ATOM_WM_HINTS, XCB_ATOM_WM_HINTS, 0, kHintsWords), nullptr);
    if (!reply)
        return;
    uint32_t hints[kHintsWords] = {};
    const int words =
        reply->format == 32 ? std::min(xcb_get_property_value_length(reply) / 4, kHintsWords) : 0;
    if (words >= 3)
        std::memcpy(hints, xcb_get_property_value(reply), std::size_t(words) * 4);
    std::free(reply);
    if (words < 3 || !(hints[0] & kStateHint) || hints[2] == kNormalState)
        return;
    hints[2] = kNormalState;
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_HINTS, XCB_ATOM_WM_HINTS, 32,
                        uint32_t(words), hints);
    xcb_flush(c);
}

} // namespace quillo
