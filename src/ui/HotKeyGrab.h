#pragma once
// The boss key as a system-wide hot key: an X11 key grab on the root window, taken for every
// combination of the lock modifiers (Caps Lock, Num Lock, Scroll Lock) so that the key works
// whatever lock is on, and seen in a native event filter. Where no X11 display is there (a
// Wayland session, the offscreen platform) no key can be grabbed. User-interface thread only.

#include <cstdint>
#include <functional>
#include <memory>

namespace quillo {

class THotKeyGrabber {
public:
    virtual ~THotKeyGrabber() = default;
    // False where no hot key can ever work (no X11 display).
    virtual bool Available() const = 0;
    // Grabs the key (modifier flags 1 Alt, 2 Ctrl, 4 Shift, 8 Win; a Windows virtual-key code),
    // replacing an earlier grab. False, with nothing grabbed, when the key has no X11 key on
    // this keyboard or another program owns the combination.
    virtual bool Grab(uint8_t Modifiers, uint8_t Key) = 0;
    // Gives the grab back; harmless when nothing is grabbed.
    virtual void Release() = 0;

    // Called on each press of the grabbed key (not on auto-repeat).
    std::function<void()> OnPressed;
};

// The grabber of the running platform (X11, or one that grabs nothing), unless a test has
// installed a factory.
std::unique_ptr<THotKeyGrabber> CreateHotKeyGrabber();
using THotKeyGrabberFactory = std::function<std::unique_ptr<THotKeyGrabber>()>;
void SetHotKeyGrabberFactory(THotKeyGrabberFactory Factory);

} // namespace quillo
