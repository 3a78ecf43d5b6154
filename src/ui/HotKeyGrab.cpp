#include "ui/HotKeyGrab.h"

#include "ui/HotKeys.h"
#include "ui/X11WindowHints.h"

#include <QAbstractNativeEventFilter>
#include <QByteArray>
#include <QGuiApplication>
#include <QObject>
#include <QTimer>

#include <xcb/xcb.h>

#include <cstdlib>
#include <vector>

namespace quillo {

namespace {

THotKeyGrabberFactory gFactory;

constexpr uint32_t xkNumLock = 0xff7f;
constexpr uint32_t xkScrollLock = 0xff14;

// Grabs nothing: where no display server offers key grabs.
class TNoHotKeyGrabber final : public THotKeyGrabber {
public:
    bool Available() const override { return false; }
    bool Grab(uint8_t, uint8_t) override { return false; }
    void Release() override {}
};

class TX11HotKeyGrabber final : public THotKeyGrabber, private QAbstractNativeEventFilter {
public:
    explicit TX11HotKeyGrabber(xcb_connection_t* Connection) : FConnection(Connection) {
        for (xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(FConnection)); it.rem;
             xcb_screen_next(&it))
            FRoots.push_back(it.data->root);
        QCoreApplication::instance()->installNativeEventFilter(this);
    }
    ~TX11HotKeyGrabber() override {
        Release();
        if (QCoreApplication::instance())
            QCoreApplication::instance()->removeNativeEventFilter(this);
    }
    TX11HotKeyGrabber(const TX11HotKeyGrabber&) = delete;
    TX11HotKeyGrabber& operator=(const TX11HotKeyGrabber&) = delete;

    bool Available() const override { return true; }

    bool Grab(uint8_t Modifiers, uint8_t Key) override {
        Release();
        const uint32_t keySym = VirtualKeyToKeySym(Key);
        if (keySym == 0)
            return false;
        std::vector<xcb_keycode_t> codes = KeyCodesOf({keySym});
        if (codes.empty())
            return false;
        FModifiers = ModifierFlagsToX11(Modifiers);
        FLockMasks = LockMasks();
        std::vector<uint16_t> lockCombos{0};
        for (uint16_t lock : FLockMasks) {
            const std::size_t n = lockCombos.size();
            for (std::size_t i = 0; i < n; ++i)
                lockCombos.push_back(uint16_t(lockCombos[i] | lock));
        }
        // All grabs or none: one that another program owns (BadAccess) undoes the others.
        for (xcb_window_t root : FRoots)
            for (xcb_keycode_t code : codes)
                for (uint16_t lock : lockCombos) {
                    const xcb_void_cookie_t cookie =
                        xcb_grab_key_checked(FConnection, 1, root, uint16_t(FModifiers | lock), code,
                                             XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
                    if (xcb_generic_error_t* error = xcb_request_check(FConnection, cookie)) {
                        std::free(error);
                        Release();
                        return false;
                    }
                    FGrabs.push_back({root, code, uint16_t(FModifiers | lock)});
                }
        FKeyCodes = std::move(codes);
        FFlags = Modifiers;
        FKey = Key;
        xcb_flush(FConnection);
        return true;
    }

    void Release() override {
        for (const TGrab& g : FGrabs)
            xcb_ungrab_key(FConnection, g.Code, g.Root, g.Modifiers);
        if (!FGrabs.empty())
            xcb_flush(FConnection);
        FGrabs.clear();
        FKeyCodes.clear();
    }

private:
    struct TGrab {
        xcb_window_t Root;
        xcb_keycode_t Code;
        uint16_t Modifiers;
    };

    // Every key code that carries one of the key symbols, in any column of the keyboard map.
    std::vector<xcb_keycode_t> KeyCodesOf(std::initializer_list<uint32_t> KeySyms) const {
        std::vector<xcb_keycode_t> codes;
        const xcb_setup_t* setup = xcb_get_setup(FConnection);
        const int first = setup->min_keycode;
        const int count = setup->max_keycode - setup->min_keycode + 1;
        xcb_get_keyboard_mapping_reply_t* reply = xcb_get_keyboard_mapping_reply(
            FConnection, xcb_get_keyboard_mapping(FConnection, xcb_keycode_t(first), uint8_t(count)),
            nullptr);
        if (!reply)
            return codes;
        const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(reply);
        const int perCode = reply->keysyms_per_keycode;
        for (int i = 0; i < count; ++i)
            for (int j = 0; j < perCode; ++j) {
                bool match = false;
                for (uint32_t s : KeySyms)
                    match = match || syms[i * perCode + j] == s;
                if (match) {
                    codes.push_back(xcb_keycode_t(first + i));
                    break;
                }
            }
        std::free(reply);
        return codes;
    }

    // Caps Lock, and the modifiers that Num Lock and Scroll Lock are mapped to on this display.
    std::vector<uint16_t> LockMasks() const {
        std::vector<uint16_t> masks{XCB_MOD_MASK_LOCK};
        const std::vector<xcb_keycode_t> lockKeys = KeyCodesOf({xkNumLock, xkScrollLock});
        xcb_get_modifier_mapping_reply_t* reply =
            xcb_get_modifier_mapping_reply(FConnection, xcb_get_modifier_mapping(FConnection), nullptr);
        if (!reply)
            return masks;
        const xcb_keycode_t* codes = xcb_get_modifier_mapping_keycodes(reply);
        const int perModifier = reply->keycodes_per_modifier;
        // Shift, Lock and Control (0 to 2) are never lock keys of this kind.
        for (int m = 3; m < 8; ++m) {
            bool isLock = false;
            for (int k = 0; k < perModifier; ++k) {
                const xcb_keycode_t code = codes[m * perModifier + k];
                for (xcb_keycode_t c : lockKeys)
                    isLock = isLock || (code != 0 && code == c);
            }
            const uint16_t mask = uint16_t(1u << m);
            if (isLock && (mask & FModifiers) == 0)
                masks.push_back(mask);
        }
        std::free(reply);
        return masks;
    }

    bool IsOurs(xcb_keycode_t Code, uint16_t State, xcb_window_t Window) const {
        bool onRoot = false;
        for (xcb_window_t r : FRoots)
            onRoot = onRoot || r == Window;
        bool codeMatches = false;
        for (xcb_keycode_t c : FKeyCodes)
            codeMatches = codeMatches || c == Code;
        uint16_t state = State & 0xff;
        for (uint16_t lock : FLockMasks)
            state &= uint16_t(~lock);
        return onRoot && codeMatches && state == FModifiers;
    }

    bool nativeEventFilter(const QByteArray& Type, void* Message, qintptr*) override {
        if (FGrabs.empty() || Type != "xcb_generic_event_t")
            return false;
        auto* event = static_cast<xcb_generic_event_t*>(Message);
        const uint8_t type = event->response_type & 0x7f;
        if (type == XCB_MAPPING_NOTIFY) {
            // Another keyboard layout may put the key on another key code: grab it anew, once
            // Qt has taken the new map too.
            if (reinterpret_cast<xcb_mapping_notify_event_t*>(event)->request != XCB_MAPPING_POINTER)
                QTimer::singleShot(0, &FContext, [this] { Grab(FFlags, FKey); });
            return false;
        }
        if (type != XCB_KEY_PRESS && type != XCB_KEY_RELEASE)
            return false;
        auto* key = reinterpret_cast<xcb_key_press_event_t*>(event);
        if (!IsOurs(key->detail, key->state, key->event))
            return false;
        if (type == XCB_KEY_RELEASE) {
            FReleaseTime = key->time;
            return true;
        }
        // Auto-repeat sends a release and a press with the same time stamp: one switch per press.
        const bool repeat = FReleaseTime != 0 && key->time == FReleaseTime;
        if (!repeat && OnPressed)
            OnPressed();
        return true;
    }

    xcb_connection_t* FConnection;
    std::vector<xcb_window_t> FRoots;
    std::vector<TGrab> FGrabs;
    std::vector<xcb_keycode_t> FKeyCodes;
    std::vector<uint16_t> FLockMasks;
    uint16_t FModifiers = 0;
    xcb_timestamp_t FReleaseTime = 0;
    // The grabbed key as the settings store it.
    uint8_t FFlags = 0;
    uint8_t FKey = 0;
    // Gives queued work a lifetime: it is dropped when the grabber goes.
    QObject FContext;
};

} // namespace

std::unique_ptr<THotKeyGrabber> CreateHotKeyGrabber() {
    if (gFactory)
        return gFactory();
    if (xcb_connection_t* connection = XcbConnection())
        return std::make_unique<TX11HotKeyGrabber>(connection);
    return std::make_unique<TNoHotKeyGrabber>();
}

void SetHotKeyGrabberFactory(THotKeyGrabberFactory Factory) {
    gFactory = std::move(Factory);
}

} // namespace quillo
