#pragma once
// HotKeys: the boss key's two stored bytes (modifier flags 1 Alt, 2 Ctrl, 4 Shift, 8 Win, and a
// Windows virtual-key code, kept as they are so quillo.ini means the same everywhere), their
// text for the settings dialog, and the one table that maps those key codes to X11 key symbols
// and Qt keys and back. The X11 grab itself is built on top of this table elsewhere; nothing
// here talks to a display server.

#include <QString>

#include <cstdint>

class QKeyEvent;

namespace quillo {

// Virtual-key codes the program names (the rest come from the table in HotKeys.cpp).
inline constexpr uint8_t vkBack = 8;
inline constexpr uint8_t vkTab = 9;
inline constexpr uint8_t vkReturn = 13;
inline constexpr uint8_t vkShift = 16;
inline constexpr uint8_t vkControl = 17;
inline constexpr uint8_t vkMenu = 18; // Alt
inline constexpr uint8_t vkEscape = 27;
inline constexpr uint8_t vkSpace = 32;
inline constexpr uint8_t vkDelete = 46;
inline constexpr uint8_t vkLWin = 91;
inline constexpr uint8_t vkRWin = 92;
inline constexpr uint8_t vkF1 = 112;

// Writes the key as the settings dialog shows it: the set modifier names in the order SHIFT,
// ALT, CTRL, WIN joined by "+", then the key's name ("SHIFT+ALT+A", "WIN+Escape"). A key without
// a name leaves only the modifiers ("CTRL"); with no modifier either, Text is "<NONE>" and the
// result is false.
bool HotKeyToText(uint8_t Modifiers, uint8_t Key, QString& Text);

// The modifier flags of the modifier keys held down now (both Windows keys give 8).
uint8_t ModifierKeysDown();

// Qt's keyboard modifiers as modifier flags (Meta is the Win key) and back.
uint8_t ModifierFlagsFromQt(Qt::KeyboardModifiers Modifiers);
Qt::KeyboardModifiers ModifierFlagsToQt(uint8_t Modifiers);

// X11 modifier masks: ShiftMask 1, ControlMask 4, Mod1Mask (Alt) 8, Mod4Mask (Super) 64. The
// lock masks (Lock, Mod2 = NumLock, Mod3, Mod5) have no flag and are ignored when reading.
inline constexpr uint16_t x11ShiftMask = 1;
inline constexpr uint16_t x11LockMask = 2;
inline constexpr uint16_t x11ControlMask = 4;
inline constexpr uint16_t x11Mod1Mask = 8;
inline constexpr uint16_t x11Mod2Mask = 16;
inline constexpr uint16_t x11Mod4Mask = 64;
inline constexpr uint16_t x11Mod5Mask = 128;
uint16_t ModifierFlagsToX11(uint8_t Modifiers);
uint8_t ModifierFlagsFromX11(uint16_t State);

// The X11 key symbol for a virtual-key code (the unshifted one: XK_a for 65), 0 when the code has
// none. Used to build the grab of the boss key.
uint32_t VirtualKeyToKeySym(uint8_t Key);
// The virtual-key code of an X11 key symbol, 0 when there is none. Shifted and keypad variants
// read as their key (XK_A and XK_a give 65, XK_ISO_Left_Tab gives 9, XK_KP_End gives 35, and the
// shifted digits of the US layout give their digit).
uint8_t KeySymToVirtualKey(uint32_t KeySym);
// The virtual-key code of a Qt key (Qt::Key_A gives 65); Keypad says whether the key came from the
// numeric keypad (Qt::KeypadModifier), which turns digits and operators into the Numpad codes.
uint8_t QtKeyToVirtualKey(int QtKey, bool Keypad = false);

struct THotKeyStroke {
    uint8_t Modifiers = 0;
    uint8_t Key = 0; // 0 when the key has no virtual-key code
    bool operator==(const THotKeyStroke&) const = default;
};
// One key press as boss-key bytes. The key comes from the event's X11 key symbol when the
// platform gives one (nativeVirtualKey() under xcb), else from its Qt key (offscreen, Wayland).
// The modifiers are the event's, which for a press of a modifier key include that key.
THotKeyStroke HotKeyFromKeyEvent(const QKeyEvent& Event);

} // namespace quillo
