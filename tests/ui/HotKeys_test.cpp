#include "ui/HotKeys.h"

#include <QKeyEvent>
#include <gtest/gtest.h>

#include <set>

using namespace quillo;

QT_BEGIN_NAMESPACE
inline void PrintTo(const QString& Text, std::ostream* Out) {
    *Out << '"' << Text.toStdString() << '"';
}
QT_END_NAMESPACE

namespace {

struct TTextCase {
    uint8_t Modifiers;
    uint8_t Key;
    const char* Text;
    bool Ok;
};

TEST(HotKeyToText, WritesModifiersInOrderThenTheKey) {
    const TTextCase Cases[] = {
        {0, 0, "<NONE>", false},      {8, 27, "WIN+Escape", true},
        {5, 65, "SHIFT+ALT+A", true}, {3, 66, "ALT+CTRL+B", true},
        {4, 112, "SHIFT+F1", true},   {15, 46, "SHIFT+ALT+CTRL+WIN+Delete", true},
        {0, 48, "0", true},           {0, 57, "9", true},
        {0, 90, "Z", true},           {2, 0, "CTRL", true}, // a modifier with no key
        {2, 17, "CTRL", true},        // the Ctrl key itself, as captured when it is pressed first
        {6, 200, "SHIFT+CTRL", true}, // an unnamed key leaves the modifiers
        {0, 124, "<NONE>", false},    // F13 has no name
        {0, 186, "<NONE>", false},    // a punctuation key has no name
        {0, 255, "<NONE>", false},
    };
    for (const TTextCase& Case : Cases) {
        QString Text = QStringLiteral("stale");
        EXPECT_EQ(HotKeyToText(Case.Modifiers, Case.Key, Text), Case.Ok)
            << int(Case.Modifiers) << "," << int(Case.Key);
        EXPECT_EQ(Text, QString::fromLatin1(Case.Text)) << int(Case.Modifiers) << "," << int(Case.Key);
    }
}

TEST(HotKeyToText, NamesEveryKeyOfTheTable) {
    std::vector<std::pair<int, QString>> Names = {
        {3, "Break"},
        {19, "Pause"},
        {8, "Backspace"},
        {9, "Tab"},
        {27, "Escape"},
        {13, "Enter"},
        {32, "Spacebar"},
        {33, "Page Up"},
        {34, "Page Down"},
        {35, "End"},
        {36, "Home"},
        {37, "Left"},
        {38, "Up"},
        {39, "Right"},
        {40, "Down"},
        {44, "Print Screen"},
        {45, "Insert"},
        {46, "Delete"},
        {93, "Context Menu"},
        {106, "Numpad Multiply"},
        {107, "Numpad Add"},
        {109, "Numpad Subtract"},
        {110, "Numpad Decimal"},
        {111, "Numpad Divide"},
    };
    for (int n = 0; n <= 9; ++n)
        Names.emplace_back(96 + n, QStringLiteral("Numpad %1").arg(n));
    for (int n = 1; n <= 12; ++n)
        Names.emplace_back(111 + n, QStringLiteral("F%1").arg(n));
    ASSERT_EQ(Names.size(), 46u);

    std::set<int> Named;
    for (const auto& [Key, Name] : Names) {
        QString Text;
        EXPECT_TRUE(HotKeyToText(0, uint8_t(Key), Text)) << Key;
        EXPECT_EQ(Text, Name) << Key;
        Named.insert(Key);
    }
    // Every other code outside digits and letters has no name.
    for (int Key = 1; Key < 256; ++Key) {
        if (Named.count(Key) || (Key >= '0' && Key <= '9') || (Key >= 'A' && Key <= 'Z'))
            continue;
        QString Text;
        EXPECT_FALSE(HotKeyToText(0, uint8_t(Key), Text)) << Key;
    }
}

TEST(HotKeys, EveryKeyCodeWithASymbolReadsBackAsItself) {
    int WithSymbol = 0;
    for (int Key = 1; Key < 256; ++Key) {
        const uint32_t Sym = VirtualKeyToKeySym(uint8_t(Key));
        if (Sym == 0)
            continue;
        ++WithSymbol;
        EXPECT_EQ(KeySymToVirtualKey(Sym), Key) << Key;
    }
    // Letters, digits, the named keys, the modifiers, F13 to F24 and the punctuation keys.
    EXPECT_GE(WithSymbol, 46 + 36 + 5);
}

TEST(HotKeys, KeySymbolsAndTheirCodes) {
    const std::pair<uint32_t, int> Cases[] = {
        {0x61, 65},     {0x41, 65},    {0x7a, 90},    {0x5a, 90},      {0x30, 48},    {0x39, 57},
        {0xff1b, 27},   {0xff0d, 13},  {0xff8d, 13},  {0xff09, 9},     {0xfe20, 9},   {0x20, 32},
        {0xffbe, 112},  {0xffc9, 123}, {0xffca, 124}, {0xffb0, 96},    {0xffb9, 105}, {0xff9c, 35},
        {0xff95, 36},   {0xff9f, 46},  {0xffff, 46},  {0xff08, 8},     {0xffe1, 16},  {0xffe2, 16},
        {0xffe3, 17},   {0xffe4, 17},  {0xffe9, 18},  {0xffea, 18},    {0xffeb, 91},  {0xffec, 92},
        {0xff67, 93},   {0xff61, 44},  {0xff15, 44},  {0xff6b, 3},     {0xff13, 19},  {0xffaa, 106},
        {0x25, 53},     {0x21, 49},    {0x29, 48},    {0x3b, 186},     {0x3a, 186},   {0x2f, 191},
        {0x10000e9, 0}, {0xe9, 0},     {0, 0},        {0x1008ff11, 0},
    };
    for (const auto& [Sym, Key] : Cases)
        EXPECT_EQ(KeySymToVirtualKey(Sym), Key) << std::hex << Sym;
    EXPECT_EQ(VirtualKeyToKeySym(65), 0x61u); // the grab wants the unshifted symbol
    EXPECT_EQ(VirtualKeyToKeySym(112), 0xffbeu);
    EXPECT_EQ(VirtualKeyToKeySym(0), 0u);
    EXPECT_EQ(VirtualKeyToKeySym(7), 0u);
}

TEST(HotKeys, QtKeysAndTheirCodes) {
    struct TCase {
        int QtKey;
        bool Keypad;
        int Key;
    };
    const TCase Cases[] = {
        {Qt::Key_A, false, 65},        {Qt::Key_Z, false, 90},        {Qt::Key_5, false, 53},
        {Qt::Key_5, true, 101},        {Qt::Key_Asterisk, true, 106}, {Qt::Key_Plus, true, 107},
        {Qt::Key_Minus, true, 109},    {Qt::Key_Period, true, 110},   {Qt::Key_Slash, true, 111},
        {Qt::Key_Enter, true, 13},     {Qt::Key_Home, true, 36},      {Qt::Key_Escape, false, 27},
        {Qt::Key_Return, false, 13},   {Qt::Key_Tab, false, 9},       {Qt::Key_Backtab, false, 9},
        {Qt::Key_Space, false, 32},    {Qt::Key_F12, false, 123},     {Qt::Key_F1, false, 112},
        {Qt::Key_Backspace, false, 8}, {Qt::Key_Delete, false, 46},   {Qt::Key_Control, false, 17},
        {Qt::Key_Shift, false, 16},    {Qt::Key_Alt, false, 18},      {Qt::Key_Super_L, false, 91},
        {Qt::Key_Meta, false, 91},     {Qt::Key_Percent, false, 53},  {Qt::Key_Minus, false, 189},
        {Qt::Key_Print, false, 44},    {Qt::Key_Menu, false, 93},     {Qt::Key_Pause, false, 19},
        {Qt::Key_VolumeUp, false, 0},  {Qt::Key_unknown, false, 0},   {0, false, 0},
    };
    for (const TCase& Case : Cases)
        EXPECT_EQ(QtKeyToVirtualKey(Case.QtKey, Case.Keypad), Case.Key) << std::hex << Case.QtKey;
}

TEST(HotKeys, ModifierFlagsMapToX11AndQt) {
    for (uint8_t Flags = 0; Flags < 16; ++Flags) {
        EXPECT_EQ(ModifierFlagsFromX11(ModifierFlagsToX11(Flags)), Flags);
        EXPECT_EQ(ModifierFlagsFromQt(ModifierFlagsToQt(Flags)), Flags);
        // The lock modifiers (Caps Lock, Num Lock, Mod3, Mod5) are not part of the key.
        EXPECT_EQ(
            ModifierFlagsFromX11(ModifierFlagsToX11(Flags) | x11LockMask | x11Mod2Mask | 32 | x11Mod5Mask),
            Flags);
    }
    EXPECT_EQ(ModifierFlagsToX11(1), x11Mod1Mask);
    EXPECT_EQ(ModifierFlagsToX11(2), x11ControlMask);
    EXPECT_EQ(ModifierFlagsToX11(4), x11ShiftMask);
    EXPECT_EQ(ModifierFlagsToX11(8), x11Mod4Mask);
    EXPECT_EQ(ModifierFlagsToQt(8), Qt::MetaModifier);
    EXPECT_EQ(ModifierFlagsFromQt(Qt::KeypadModifier | Qt::GroupSwitchModifier), 0);
}

TEST(HotKeys, KeyEventsBecomeStrokes) {
    struct TCase {
        int QtKey;
        Qt::KeyboardModifiers Modifiers;
        quint32 NativeSym; // 0: a platform without X11 key symbols
        THotKeyStroke Stroke;
    };
    const TCase Cases[] = {
        {Qt::Key_B, Qt::ControlModifier | Qt::AltModifier, 0, {3, 66}},
        {Qt::Key_B, Qt::ControlModifier | Qt::AltModifier, 0x62, {3, 66}},
        {Qt::Key_A, Qt::ShiftModifier, 0x41, {4, 65}},
        {Qt::Key_F12, Qt::NoModifier, 0xffc9, {0, 123}},
        {Qt::Key_F12, Qt::NoModifier, 0, {0, 123}},
        {Qt::Key_Backtab, Qt::ShiftModifier, 0xfe20, {4, 9}},
        {Qt::Key_1, Qt::KeypadModifier, 0xffb1, {0, 97}},
        {Qt::Key_1, Qt::KeypadModifier, 0, {0, 97}},
        {Qt::Key_Escape, Qt::MetaModifier, 0xff1b, {8, 27}},
        // Qt counts a modifier key being pressed among the event's modifiers.
        {Qt::Key_Control, Qt::NoModifier, 0xffe3, {2, 17}},
        {Qt::Key_Control, Qt::NoModifier, 0, {2, 17}},
        {Qt::Key_Super_L, Qt::NoModifier, 0xffeb, {8, 91}},
        {Qt::Key_Super_R, Qt::NoModifier, 0, {8, 92}},
        {Qt::Key_Shift, Qt::ControlModifier, 0xffe2, {6, 16}},
        // A symbol without a key code falls back on the Qt key, which has none either.
        {Qt::Key_VolumeUp, Qt::NoModifier, 0x1008ff13, {0, 0}},
    };
    for (const TCase& Case : Cases) {
        QKeyEvent Event(QEvent::KeyPress, Case.QtKey, Case.Modifiers, 0, Case.NativeSym, 0);
        EXPECT_EQ(HotKeyFromKeyEvent(Event), Case.Stroke) << std::hex << Case.QtKey << " " << Case.NativeSym;
    }
}

} // namespace
