#include "ui/HotKeys.h"

#include "core/app/Settings.h"

#include <QGuiApplication>
#include <QKeyEvent>

#include <unordered_map>
#include <vector>

namespace quillo {

namespace {

// X11 key symbols (X11/keysymdef.h); spelled out so this module needs no X11 headers.
constexpr uint32_t xkBackSpace = 0xff08, xkTab = 0xff09, xkClear = 0xff0b, xkReturn = 0xff0d,
                   xkPause = 0xff13, xkScrollLock = 0xff14, xkSysReq = 0xff15, xkEscape = 0xff1b,
                   xkHome = 0xff50, xkLeft = 0xff51, xkUp = 0xff52, xkRight = 0xff53, xkDown = 0xff54,
                   xkPrior = 0xff55, xkNext = 0xff56, xkEnd = 0xff57, xkBegin = 0xff58, xkPrint = 0xff61,
                   xkInsert = 0xff63, xkMenu = 0xff67, xkBreak = 0xff6b, xkNumLock = 0xff7f,
                   xkKpEnter = 0xff8d, xkKpHome = 0xff95, xkKpLeft = 0xff96, xkKpUp = 0xff97,
                   xkKpRight = 0xff98, xkKpDown = 0xff99, xkKpPrior = 0xff9a, xkKpNext = 0xff9b,
                   xkKpEnd = 0xff9c, xkKpBegin = 0xff9d, xkKpInsert = 0xff9e, xkKpDelete = 0xff9f,
                   xkKpMultiply = 0xffaa, xkKpAdd = 0xffab, xkKpSeparator = 0xffac, xkKpSubtract = 0xffad,
                   xkKpDecimal = 0xffae, xkKpDivide = 0xffaf, xkKp0 = 0xffb0, xkF1 = 0xffbe,
                   xkShiftL = 0xffe1, xkShiftR = 0xffe2, xkControlL = 0xffe3, xkControlR = 0xffe4,
                   xkCapsLock = 0xffe5, xkMetaL = 0xffe7, xkMetaR = 0xffe8, xkAltL = 0xffe9, xkAltR = 0xffea,
                   xkSuperL = 0xffeb, xkSuperR = 0xffec, xkDelete = 0xffff, xkIsoLeftTab = 0xfe20;

struct TKeyRow {
    uint8_t Vk;
    uint32_t KeySym;  // the key's unshifted symbol
    int QtKey;        // 0: no Qt key of its own (the keypad rows share the main keys')
    const char* Name; // nullptr: the key has no name of its own in the boss-key text
};

constexpr int vkNumpad0 = 96, vkMultiply = 106, vkAdd = 107, vkSeparator = 108, vkSubtract = 109,
              vkDecimal = 110, vkDivide = 111;

const std::vector<TKeyRow>& KeyTable() {
    static const std::vector<TKeyRow> Table = [] {
        std::vector<TKeyRow> Rows = {
            {3, xkBreak, 0, "Break"},
            {vkBack, xkBackSpace, Qt::Key_Backspace, "Backspace"},
            {vkTab, xkTab, Qt::Key_Tab, "Tab"},
            {12, xkClear, Qt::Key_Clear, nullptr},
            {vkReturn, xkReturn, Qt::Key_Return, "Enter"},
            {vkShift, xkShiftL, Qt::Key_Shift, nullptr},
            {vkControl, xkControlL, Qt::Key_Control, nullptr},
            {vkMenu, xkAltL, Qt::Key_Alt, nullptr},
            {19, xkPause, Qt::Key_Pause, "Pause"},
            {20, xkCapsLock, Qt::Key_CapsLock, nullptr},
            {vkEscape, xkEscape, Qt::Key_Escape, "Escape"},
            {vkSpace, 0x20, Qt::Key_Space, "Spacebar"},
            {33, xkPrior, Qt::Key_PageUp, "Page Up"},
            {34, xkNext, Qt::Key_PageDown, "Page Down"},
            {35, xkEnd, Qt::Key_End, "End"},
            {36, xkHome, Qt::Key_Home, "Home"},
            {37, xkLeft, Qt::Key_Left, "Left"},
            {38, xkUp, Qt::Key_Up, "Up"},
            {39, xkRight, Qt::Key_Right, "Right"},
            {40, xkDown, Qt::Key_Down, "Down"},
            {44, xkPrint, Qt::Key_Print, "Print Screen"},
            {45, xkInsert, Qt::Key_Insert, "Insert"},
            {vkDelete, xkDelete, Qt::Key_Delete, "Delete"},
            {vkLWin, xkSuperL, Qt::Key_Super_L, nullptr},
            {vkRWin, xkSuperR, Qt::Key_Super_R, nullptr},
            {93, xkMenu, Qt::Key_Menu, "Context Menu"},
            {vkMultiply, xkKpMultiply, 0, "Numpad Multiply"},
            {vkAdd, xkKpAdd, 0, "Numpad Add"},
            {vkSeparator, xkKpSeparator, 0, nullptr},
            {vkSubtract, xkKpSubtract, 0, "Numpad Subtract"},
            {vkDecimal, xkKpDecimal, 0, "Numpad Decimal"},
            {vkDivide, xkKpDivide, 0, "Numpad Divide"},
            {144, xkNumLock, Qt::Key_NumLock, nullptr},
            {145, xkScrollLock, Qt::Key_ScrollLock, nullptr},
            // The punctuation keys of the US layout (VK_OEM_*): no names, but they can be grabbed.
            {186, ';', Qt::Key_Semicolon, nullptr},
            {187, '=', Qt::Key_Equal, nullptr},
            {188, ',', Qt::Key_Comma, nullptr},
            {189, '-', Qt::Key_Minus, nullptr},
            {190, '.', Qt::Key_Period, nullptr},
            {191, '/', Qt::Key_Slash, nullptr},
            {192, '`', Qt::Key_QuoteLeft, nullptr},
            {219, '[', Qt::Key_BracketLeft, nullptr},
            {220, '\\', Qt::Key_Backslash, nullptr},
            {221, ']', Qt::Key_BracketRight, nullptr},
            {222, '\'', Qt::Key_Apostrophe, nullptr},
        };
        static const char* const NumpadNames[] = {"Numpad 0", "Numpad 1", "Numpad 2", "Numpad 3", "Numpad 4",
                                                  "Numpad 5", "Numpad 6", "Numpad 7", "Numpad 8", "Numpad 9"};
        static const char* const FunctionNames[] = {"F1", "F2", "F3", "F4",  "F5",  "F6",
                                                    "F7", "F8", "F9", "F10", "F11", "F12"};
        for (int n = 0; n < 10; ++n) {
            Rows.push_back({uint8_t('0' + n), uint32_t('0' + n), Qt::Key_0 + n, nullptr});
            Rows.push_back({uint8_t(vkNumpad0 + n), xkKp0 + n, 0, NumpadNames[n]});
        }
        for (int n = 0; n < 26; ++n)
            Rows.push_back({uint8_t('A' + n), uint32_t('a' + n), Qt::Key_A + n, nullptr});
        // F1 to F24; only the first twelve have names.
        for (int n = 0; n < 24; ++n)
            Rows.push_back(
                {uint8_t(vkF1 + n), xkF1 + n, Qt::Key_F1 + n, n < 12 ? FunctionNames[n] : nullptr});
        return Rows;
    }();
    return Table;
}

const TKeyRow* RowOfVirtualKey(uint8_t Key) {
    static const auto Index = [] {
        std::unordered_map<uint8_t, const TKeyRow*> Map;
        for (const TKeyRow& Row : KeyTable())
            Map.emplace(Row.Vk, &Row);
        return Map;
    }();
    auto It = Index.find(Key);
    return It == Index.end() ? nullptr : It->second;
}

// The other symbols a key can produce: with Shift, with the lock keys, or the right-hand twin
// of a modifier. The digits' shifted symbols are those of the US layout.
const std::unordered_map<uint32_t, uint8_t>& KeySymIndex() {
    static const auto Index = [] {
        std::unordered_map<uint32_t, uint8_t> Map;
        for (const TKeyRow& Row : KeyTable())
            Map.emplace(Row.KeySym, Row.Vk);
        for (int n = 0; n < 26; ++n)
            Map.emplace(uint32_t('A' + n), uint8_t('A' + n));
        const std::pair<uint32_t, uint8_t> Aliases[] = {
            {xkIsoLeftTab, vkTab},
            {xkKpEnter, vkReturn},
            {xkShiftR, vkShift},
            {xkControlR, vkControl},
            {xkAltR, vkMenu},
            {xkMetaL, vkMenu},
            {xkMetaR, vkMenu},
            {xkSysReq, 44},
            {xkKpHome, 36},
            {xkKpLeft, 37},
            {xkKpUp, 38},
            {xkKpRight, 39},
            {xkKpDown, 40},
            {xkKpPrior, 33},
            {xkKpNext, 34},
            {xkKpEnd, 35},
            {xkKpBegin, 12},
            {xkBegin, 12},
            {xkKpInsert, 45},
            {xkKpDelete, vkDelete},
            {')', '0'},
            {'!', '1'},
            {'@', '2'},
            {'#', '3'},
            {'$', '4'},
            {'%', '5'},
            {'^', '6'},
            {'&', '7'},
            {'*', '8'},
            {'(', '9'},
            {':', 186},
            {'+', 187},
            {'<', 188},
            {'_', 189},
            {'>', 190},
            {'?', 191},
            {'~', 192},
            {'{', 219},
            {'|', 220},
            {'}', 221},
            {'"', 222},
        };
        for (const auto& [Sym, Vk] : Aliases)
            Map.emplace(Sym, Vk);
        return Map;
    }();
    return Index;
}

const std::unordered_map<int, uint8_t>& QtKeyIndex() {
    static const auto Index = [] {
        std::unordered_map<int, uint8_t> Map;
        for (const TKeyRow& Row : KeyTable())
            if (Row.QtKey != 0)
                Map.emplace(Row.QtKey, Row.Vk);
        const std::pair<int, uint8_t> Aliases[] = {
            {Qt::Key_Backtab, vkTab}, {Qt::Key_Enter, vkReturn}, {Qt::Key_Meta, vkLWin},
            {Qt::Key_SysReq, 44},     {Qt::Key_Cancel, 3},
        };
        for (const auto& [QtKey, Vk] : Aliases)
            Map.emplace(QtKey, Vk);
        return Map;
    }();
    return Index;
}

// One row per modifier flag, in the order in which the names are written.
struct TModifierRow {
    uint8_t Flag;
    const char* Name;
    Qt::KeyboardModifier QtModifier;
    uint16_t X11Mask;
};
constexpr TModifierRow ModifierRows[] = {
    {bkShift, "SHIFT", Qt::ShiftModifier, x11ShiftMask},
    {bkAlt, "ALT", Qt::AltModifier, x11Mod1Mask},
    {bkCtrl, "CTRL", Qt::ControlModifier, x11ControlMask},
    {bkWin, "WIN", Qt::MetaModifier, x11Mod4Mask},
};

uint8_t ModifierFlagOfKey(uint8_t Key) {
    switch (Key) {
    case vkShift:
        return bkShift;
    case vkMenu:
        return bkAlt;
    case vkControl:
        return bkCtrl;
    case vkLWin:
    case vkRWin:
        return bkWin;
    default:
        return 0;
    }
}

} // namespace

bool HotKeyToText(uint8_t Modifiers, uint8_t Key, QString& Text) {
    Text.clear();
    for (const TModifierRow& Row : ModifierRows)
        if (Modifiers & Row.Flag)
            Text += QLatin1String(Row.Name) + QLatin1Char('+');
    if ((Key >= '0' && Key <= '9') || (Key >= 'A' && Key <= 'Z')) {
        Text += QLatin1Char(char(Key));
        return true;
    }
    if (const TKeyRow* Row = RowOfVirtualKey(Key); Row && Row->Name) {
        Text += QLatin1String(Row->Name);
        return true;
    }
    if (!Text.isEmpty()) {
        Text.chop(1);
        return true;
    }
    Text = QStringLiteral("<NONE>");
    return false;
}

uint8_t ModifierFlagsFromQt(Qt::KeyboardModifiers Modifiers) {
    uint8_t Flags = 0;
    for (const TModifierRow& Row : ModifierRows)
        if (Modifiers & Row.QtModifier)
            Flags |= Row.Flag;
    return Flags;
}

Qt::KeyboardModifiers ModifierFlagsToQt(uint8_t Modifiers) {
    Qt::KeyboardModifiers Result;
    for (const TModifierRow& Row : ModifierRows)
        if (Modifiers & Row.Flag)
            Result |= Row.QtModifier;
    return Result;
}

uint8_t ModifierKeysDown() {
    // Under xcb this asks the X server for the keyboard state now, as GetAsyncKeyState would;
    // other platforms answer with the state of the last input event.
    return ModifierFlagsFromQt(QGuiApplication::queryKeyboardModifiers());
}

uint16_t ModifierFlagsToX11(uint8_t Modifiers) {
    uint16_t Mask = 0;
    for (const TModifierRow& Row : ModifierRows)
        if (Modifiers & Row.Flag)
            Mask |= Row.X11Mask;
    return Mask;
}

uint8_t ModifierFlagsFromX11(uint16_t State) {
    uint8_t Flags = 0;
    for (const TModifierRow& Row : ModifierRows)
        if (State & Row.X11Mask)
            Flags |= Row.Flag;
    return Flags;
}

uint32_t VirtualKeyToKeySym(uint8_t Key) {
    const TKeyRow* Row = RowOfVirtualKey(Key);
    return Row ? Row->KeySym : 0;
}

uint8_t KeySymToVirtualKey(uint32_t KeySym) {
    const auto& Index = KeySymIndex();
    auto It = Index.find(KeySym);
    return It == Index.end() ? 0 : It->second;
}

uint8_t QtKeyToVirtualKey(int QtKey, bool Keypad) {
    if (Keypad) {
        if (QtKey >= Qt::Key_0 && QtKey <= Qt::Key_9)
            return uint8_t(vkNumpad0 + (QtKey - Qt::Key_0));
        switch (QtKey) {
        case Qt::Key_Asterisk:
            return vkMultiply;
        case Qt::Key_Plus:
            return vkAdd;
        case Qt::Key_Minus:
            return vkSubtract;
        case Qt::Key_Period:
        case Qt::Key_Comma:
            return vkDecimal;
        case Qt::Key_Slash:
            return vkDivide;
        default:
            break;
        }
    }
    const auto& Index = QtKeyIndex();
    auto It = Index.find(QtKey);
    if (It != Index.end())
        return It->second;
    // Shifted digits and punctuation arrive as their own Qt keys, whose values are the symbols'
    // Latin-1 codes; read them as the key that made them.
    return QtKey > 0 && QtKey < 0x100 ? KeySymToVirtualKey(uint32_t(QtKey)) : 0;
}

THotKeyStroke HotKeyFromKeyEvent(const QKeyEvent& Event) {
    THotKeyStroke Stroke;
    Stroke.Modifiers = ModifierFlagsFromQt(Event.modifiers());
    if (Event.nativeVirtualKey() != 0)
        Stroke.Key = KeySymToVirtualKey(Event.nativeVirtualKey());
    if (Stroke.Key == 0)
        Stroke.Key = QtKeyToVirtualKey(Event.key(), Event.modifiers() & Qt::KeypadModifier);
    // X11 reports the modifier state from before the event, and Qt adds the pressed key for
    // Shift, Ctrl, Alt and Meta but not for Super: a press of a modifier key always holds it.
    if (Event.type() == QEvent::KeyPress)
        Stroke.Modifiers |= ModifierFlagOfKey(Stroke.Key);
    return Stroke;
}

} // namespace quillo
