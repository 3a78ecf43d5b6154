// A drag source for the end-to-end tests: drops local files on one window of an X display with
// the X drag-and-drop protocol (XDND, version 5), as a file manager does when a person drags files
// from it. The test names the window; this program offers the files as text/uri-list, moves the
// "pointer" over the middle of the window until the window accepts, drops, hands the data over
// when the window asks for it, and waits for the window to say it has finished.
//
//   xdnd-source WINDOW-ID FILE...      exit 0: dropped and taken; 1: refused or no answer;
//                                      2: bad arguments or no display
//
// It never moves the real pointer and never installs anything; it talks only to $DISPLAY.
#include <xcb/xcb.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr uint32_t kXdndVersion = 5;
// Each wait of the exchange; the machine running the tests may be slow and loaded.
constexpr auto kStepTimeout = std::chrono::seconds(30);

struct TFree {
    void operator()(void* P) const { std::free(P); }
};
template <class T> using TReply = std::unique_ptr<T, TFree>;

xcb_atom_t Atom(xcb_connection_t* C, const char* Name) {
    TReply<xcb_intern_atom_reply_t> r(
        xcb_intern_atom_reply(C, xcb_intern_atom(C, 0, uint16_t(std::strlen(Name)), Name), nullptr));
    return r ? r->atom : xcb_atom_t(XCB_ATOM_NONE);
}

// "file:///a%20b" for "/a b": every byte outside the unreserved set and '/' is escaped.
std::string FileUri(const std::string& Path) {
    static const char* const kHex = "0123456789ABCDEF";
    std::string uri = "file://";
    for (const unsigned char c : Path) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                           std::strchr("/-._~", c) != nullptr;
        if (plain && c != 0) {
            uri += char(c);
        } else {
            uri += '%';
            uri += kHex[c >> 4];
            uri += kHex[c & 15];
        }
    }
    return uri;
}

class TDragSource {
public:
    TDragSource(xcb_connection_t* C, xcb_window_t Target, std::string Data)
        : FC(C), FTarget(Target), FData(std::move(Data)) {
        FRoot = xcb_setup_roots_iterator(xcb_get_setup(FC)).data->root;
        for (auto& [atom, name] :
             std::initializer_list<std::pair<xcb_atom_t*, const char*>>{{&XdndAware, "XdndAware"},
                                                                        {&XdndSelection, "XdndSelection"},
                                                                        {&XdndEnter, "XdndEnter"},
                                                                        {&XdndPosition, "XdndPosition"},
                                                                        {&XdndStatus, "XdndStatus"},
                                                                        {&XdndLeave, "XdndLeave"},
                                                                        {&XdndDrop, "XdndDrop"},
                                                                        {&XdndFinished, "XdndFinished"},
                                                                        {&XdndActionCopy, "XdndActionCopy"},
                                                                        {&UriList, "text/uri-list"},
                                                                        {&Targets, "TARGETS"},
                                                                        {&Stamp, "_QUILLO_XDND_STAMP"}})
            *atom = Atom(FC, name);
        FWindow = xcb_generate_id(FC);
        const uint32_t events = XCB_EVENT_MASK_PROPERTY_CHANGE;
        xcb_create_window(FC, XCB_COPY_FROM_PARENT, FWindow, FRoot, -10, -10, 1, 1, 0,
                          XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK, &events);
        xcb_flush(FC);
    }

    // The whole exchange; false with the reason printed when the window did not take the files.
    bool Run() {
        const uint32_t version = TargetVersion();
        if (version < 3) {
            std::fprintf(stderr, "xdnd-source: window 0x%x does not take drops (XdndAware %u)\n", FTarget,
                         version);
            return false;
        }
        const uint32_t used = version < kXdndVersion ? version : kXdndVersion;
        FTime = ServerTime();
        xcb_set_selection_owner(FC, FWindow, XdndSelection, FTime);

        int16_t x = 0, y = 0;
        if (!MiddleOfTarget(x, y))
            return false;
        Send(XdndEnter, {FWindow, used << 24, UriList, XCB_ATOM_NONE, XCB_ATOM_NONE});

        // A person's drag moves a little over the window: a few positions, until one is accepted.
        bool accepted = false;
        const auto deadline = std::chrono::steady_clock::now() + kStepTimeout;
        for (int step = 0; !accepted && std::chrono::steady_clock::now() < deadline; ++step) {
            const int16_t px = int16_t(x + (step % 5) - 2);
            Send(XdndPosition,
                 {FWindow, 0, (uint32_t(uint16_t(px)) << 16) | uint16_t(y), FTime, XdndActionCopy});
            const xcb_client_message_event_t* status =
                WaitForMessage(XdndStatus, std::chrono::steady_clock::now() + std::chrono::seconds(2));
            if (status)
                accepted = (status->data.data32[1] & 1) != 0;
            if (!accepted)
                std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
        if (!accepted) {
            Send(XdndLeave, {FWindow, 0, 0, 0, 0});
            std::fprintf(stderr, "xdnd-source: window 0x%x never accepted the drag\n", FTarget);
            return false;
        }

        Send(XdndDrop, {FWindow, 0, FTime, 0, 0});
        const xcb_client_message_event_t* finished =
            WaitForMessage(XdndFinished, std::chrono::steady_clock::now() + kStepTimeout);
        if (!finished) {
            std::fprintf(stderr, "xdnd-source: no XdndFinished from window 0x%x\n", FTarget);
            return false;
        }
        // From version 5 on the target says whether it took the drop.
        if (used >= 5 && (finished->data.data32[1] & 1) == 0) {
            std::fprintf(stderr, "xdnd-source: window 0x%x refused the drop\n", FTarget);
            return false;
        }
        if (!FDelivered) {
            std::fprintf(stderr, "xdnd-source: the window finished without asking for the files\n");
            return false;
        }
        return true;
    }

private:
    uint32_t TargetVersion() {
        TReply<xcb_get_property_reply_t> r(xcb_get_property_reply(
            FC, xcb_get_property(FC, 0, FTarget, XdndAware, XCB_ATOM_ATOM, 0, 1), nullptr));
        if (!r || r->format != 32 || xcb_get_property_value_length(r.get()) < 4)
            return 0;
        return *static_cast<uint32_t*>(xcb_get_property_value(r.get()));
    }

    // A timestamp of the server: the time of a change to a property of our own window.
    xcb_timestamp_t ServerTime() {
        xcb_change_property(FC, XCB_PROP_MODE_APPEND, FWindow, Stamp, XCB_ATOM_STRING, 8, 0, nullptr);
        xcb_flush(FC);
        const auto deadline = std::chrono::steady_clock::now() + kStepTimeout;
        while (std::chrono::steady_clock::now() < deadline) {
            TReply<xcb_generic_event_t> e(xcb_wait_for_event(FC));
            if (!e)
                break;
            if ((e->response_type & 0x7f) == XCB_PROPERTY_NOTIFY)
                return reinterpret_cast<xcb_property_notify_event_t*>(e.get())->time;
            Handle(e.get());
        }
        return XCB_CURRENT_TIME;
    }

    bool MiddleOfTarget(int16_t& X, int16_t& Y) {
        TReply<xcb_get_geometry_reply_t> g(
            xcb_get_geometry_reply(FC, xcb_get_geometry(FC, FTarget), nullptr));
        if (!g) {
            std::fprintf(stderr, "xdnd-source: no window 0x%x\n", FTarget);
            return false;
        }
        TReply<xcb_translate_coordinates_reply_t> t(xcb_translate_coordinates_reply(
            FC, xcb_translate_coordinates(FC, FTarget, FRoot, int16_t(g->width / 2), int16_t(g->height / 2)),
            nullptr));
        if (!t)
            return false;
        X = t->dst_x;
        Y = t->dst_y;
        return true;
    }

    void Send(xcb_atom_t Type, std::initializer_list<uint32_t> Data) {
        xcb_client_message_event_t m{};
        m.response_type = XCB_CLIENT_MESSAGE;
        m.format = 32;
        m.window = FTarget;
        m.type = Type;
        std::size_t i = 0;
        for (const uint32_t d : Data)
            m.data.data32[i++] = d;
        xcb_send_event(FC, 0, FTarget, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&m));
        xcb_flush(FC);
    }

    // Serves selection requests meanwhile; the message stays valid until the next wait.
    const xcb_client_message_event_t* WaitForMessage(xcb_atom_t Type,
                                                     std::chrono::steady_clock::time_point Deadline) {
        while (std::chrono::steady_clock::now() < Deadline) {
            TReply<xcb_generic_event_t> e(xcb_poll_for_event(FC));
            if (!e) {
                if (xcb_connection_has_error(FC))
                    return nullptr;
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
                continue;
            }
            if ((e->response_type & 0x7f) == XCB_CLIENT_MESSAGE) {
                auto* m = reinterpret_cast<xcb_client_message_event_t*>(e.get());
                if (m->type == Type && m->data.data32[0] == FTarget) {
                    FLast = *m;
                    return &FLast;
                }
                continue;
            }
            Handle(e.get());
        }
        return nullptr;
    }

    void Handle(xcb_generic_event_t* E) {
        if ((E->response_type & 0x7f) != XCB_SELECTION_REQUEST)
            return;
        auto* r = reinterpret_cast<xcb_selection_request_event_t*>(E);
        xcb_selection_notify_event_t n{};
        n.response_type = XCB_SELECTION_NOTIFY;
        n.time = r->time;
        n.requestor = r->requestor;
        n.selection = r->selection;
        n.target = r->target;
        const xcb_atom_t property = r->property == XCB_ATOM_NONE ? r->target : r->property;
        n.property = XCB_ATOM_NONE; // refused unless answered below
        if (r->selection == XdndSelection && r->target == UriList) {
            xcb_change_property(FC, XCB_PROP_MODE_REPLACE, r->requestor, property, UriList, 8,
                                uint32_t(FData.size()), FData.data());
            n.property = property;
            FDelivered = true;
        } else if (r->selection == XdndSelection && r->target == Targets) {
            const xcb_atom_t offered[] = {Targets, UriList};
            xcb_change_property(FC, XCB_PROP_MODE_REPLACE, r->requestor, property, XCB_ATOM_ATOM, 32, 2,
                                offered);
            n.property = property;
        }
        xcb_send_event(FC, 0, r->requestor, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&n));
        xcb_flush(FC);
    }

    xcb_connection_t* FC;
    xcb_window_t FTarget;
    std::string FData;
    xcb_window_t FRoot = 0;
    xcb_window_t FWindow = 0;
    xcb_timestamp_t FTime = XCB_CURRENT_TIME;
    xcb_client_message_event_t FLast{};
    bool FDelivered = false;
    xcb_atom_t XdndAware = 0, XdndSelection = 0, XdndEnter = 0, XdndPosition = 0, XdndStatus = 0,
               XdndLeave = 0, XdndDrop = 0, XdndFinished = 0, XdndActionCopy = 0, UriList = 0, Targets = 0,
               Stamp = 0;
};

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: xdnd-source WINDOW-ID FILE...\n");
        return 2;
    }
    char* end = nullptr;
    const unsigned long target = std::strtoul(argv[1], &end, 0);
    if (!end || *end != '\0' || target == 0) {
        std::fprintf(stderr, "xdnd-source: not a window id: %s\n", argv[1]);
        return 2;
    }
    std::string uris;
    for (int i = 2; i < argc; ++i)
        uris += FileUri(argv[i]) + "\r\n";

    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c)) {
        std::fprintf(stderr, "xdnd-source: cannot open the display\n");
        xcb_disconnect(c);
        return 2;
    }
    const bool ok = TDragSource(c, xcb_window_t(target), uris).Run();
    xcb_disconnect(c);
    return ok ? 0 : 1;
}
