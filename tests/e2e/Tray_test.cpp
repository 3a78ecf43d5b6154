// The real program in a desktop with a window manager (openbox) and, where the case needs one,
// a tray host (trayer): the close box, the tray icon and its menu, the boss key pressed on the
// keyboard, and the drop window, all driven with xdotool as a person would.
#include "DesktopFixture.h"

#include <QPoint>
#include <QSize>

#include <xcb/xcb.h>

#include <cstdlib>
#include <vector>

namespace {

using namespace quillo::test;

// The boss key of these cases: Ctrl+Alt+Q, stored as key byte 0x51 and modifier byte 3.
const char* const kBossKeyValue = "5103";

class TrayDesktopTest : public DesktopWindowTest {
protected:
    void SetUp() override {
        DesktopWindowTest::SetUp();
        if (HasFatalFailure())
            return;
        RequireTools({"openbox", "trayer", "xprop"});
    }

    // quillo.ini before the start, [General] keys as given (the rest keep their defaults).
    void WriteGeneralSettings(const QStringList& Lines) const {
        WriteSettings(QStringLiteral("[General]\r\n") + Lines.join(QStringLiteral("\r\n")) +
                      QStringLiteral("\r\n"));
    }

    void Click(const QString& Window, int Button) const {
        Xdotool({QStringLiteral("mousemove"), QStringLiteral("--window"), Window, QStringLiteral("10"),
                 QStringLiteral("10"), QStringLiteral("click"), QString::number(Button)});
    }

    // Alt+F4 on the focused main window: openbox answers it with the close box's request.
    void PressCloseBox(const QString& Window) const {
        Xdotool({QStringLiteral("windowactivate"), QStringLiteral("--sync"), Window});
        EXPECT_TRUE(WaitFor([&] { return FocusWindow() == Window; })) << "the window did not get the focus";
        Xdotool({QStringLiteral("key"), QStringLiteral("alt+F4")});
    }

    // Window ids in stacking order, bottom first, as the window manager keeps them.
    QStringList Stacking() const {
        const QString out = RunTool(QStringLiteral("xprop"),
                                    {QStringLiteral("-root"), QStringLiteral("_NET_CLIENT_LIST_STACKING")})
                                .Output;
        QStringList ids;
        const QRegularExpression re(QStringLiteral("0x[0-9a-f]+"));
        for (auto it = re.globalMatch(out); it.hasNext();)
            ids << QString::number(it.next().captured(0).toULongLong(nullptr, 16));
        return ids;
    }
};

TEST_F(TrayDesktopTest, CloseBoxHidesIntoTheTrayAndTheTrayIconBringsTheWindowBack) {
    StartDesktop(true);
    QProcess& quillo = StartQuillo({});
    const QString id = WaitForMainWindow();
    ASSERT_FALSE(id.isEmpty());
    const QString icon = WaitForTrayIcon(quillo);
    ASSERT_FALSE(icon.isEmpty()) << "no tray icon docked in trayer";

    PressCloseBox(id);
    ASSERT_TRUE(WaitFor([&] { return MainWindows().isEmpty(); })) << "the close box did not hide the window";
    EXPECT_EQ(quillo.state(), QProcess::Running);
    EXPECT_FALSE(TrayIconWindow(quillo).isEmpty()) << "the tray icon went with the window";

    Click(icon, 1);
    EXPECT_FALSE(WaitForMainWindow().isEmpty()) << "a click on the tray icon did not bring the window back";
    QThread::msleep(800); // a second click, not a double click
    Click(icon, 1);
    EXPECT_TRUE(WaitFor([&] { return MainWindows().isEmpty(); })) << "a second click did not hide it";
}

TEST_F(TrayDesktopTest, ExitFromTheTrayMenuEndsTheProgramWithTheJobsFileSaved) {
    StartDesktop(true);
    QProcess& quillo = StartQuillo({QStringLiteral("-m")});
    ASSERT_TRUE(WaitForReady(1));
    EXPECT_TRUE(MainWindows().isEmpty());
    const QString icon = WaitForTrayIcon(quillo);
    ASSERT_FALSE(icon.isEmpty());
    const QString jobs = FQuilloHome + QStringLiteral("/quillo.jobs");
    ASSERT_TRUE(QFile::remove(jobs)); // written at start; Exit must write it again

    const int before = ViewableWindowsOf(quillo).size();
    Click(icon, 3);
    ASSERT_TRUE(WaitFor([&] { return ViewableWindowsOf(quillo).size() > before; })) << "no tray menu opened";
    Xdotool({QStringLiteral("key"), QStringLiteral("x")}); // E&xit
    ASSERT_TRUE(WaitForEnd(quillo, 30000)) << "the tray menu's Exit did not end the program";
    EXPECT_EQ(quillo.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(quillo.exitCode(), 0);
    EXPECT_TRUE(QFile::exists(jobs));
    quillo::TUploadQueue q;
    EXPECT_TRUE(LoadSavedJobs(q));
}

TEST_F(TrayDesktopTest, BossKeyFromTheKeyboardHidesEverythingAndShowsItAgainWhateverLockIsOn) {
    StartDesktop(true);
    WriteGeneralSettings(
        {QStringLiteral("BossKey=") + QLatin1String(kBossKeyValue), QStringLiteral("ShowDropTarget=1")});
    QProcess& quillo = StartQuillo({});
    ASSERT_FALSE(WaitForMainWindow().isEmpty());
    ASSERT_FALSE(WaitForTrayIcon(quillo).isEmpty());
    ASSERT_TRUE(WaitFor([&] { return DropWindows().size() == 1; }));

    for (const char* lock : {"", "Num_Lock", "Caps_Lock"}) {
        SCOPED_TRACE(*lock ? lock : "no lock");
        if (*lock)
            Xdotool({QStringLiteral("key"), QLatin1String(lock)});
        Xdotool({QStringLiteral("key"), QStringLiteral("ctrl+alt+q")});
        EXPECT_TRUE(WaitFor([&] { return ViewableWindowsOf(quillo).isEmpty(); }))
            << "still shown: " << ViewableWindowsOf(quillo).join(QLatin1Char(' ')).toStdString();
        Xdotool({QStringLiteral("key"), QStringLiteral("ctrl+alt+q")});
        EXPECT_FALSE(WaitForMainWindow().isEmpty());
        EXPECT_TRUE(WaitFor([&] { return DropWindows().size() == 1 && !TrayIconWindow(quillo).isEmpty(); }));
        if (*lock)
            Xdotool({QStringLiteral("key"), QLatin1String(lock)}); // off again
    }
    EXPECT_EQ(quillo.state(), QProcess::Running);
}

TEST_F(TrayDesktopTest, HoldingTheBossKeyDownSwitchesOnceNotOnEveryRepeat) {
    StartDesktop(true);
    WriteGeneralSettings({QStringLiteral("BossKey=") + QLatin1String(kBossKeyValue)});
    QProcess& quillo = StartQuillo({});
    ASSERT_FALSE(WaitForMainWindow().isEmpty());
    // Held for well over the keyboard's repeat delay (660 ms on a fresh server).
    Xdotool({QStringLiteral("keydown"), QStringLiteral("ctrl+alt+q")});
    QThread::msleep(2000);
    Xdotool({QStringLiteral("keyup"), QStringLiteral("ctrl+alt+q")});
    QThread::msleep(500);
    EXPECT_TRUE(ViewableWindowsOf(quillo).isEmpty()) << "the held key switched more than once";
    Xdotool({QStringLiteral("key"), QStringLiteral("ctrl+alt+q")});
    EXPECT_FALSE(WaitForMainWindow().isEmpty());
}

// Another X client on the test's display, acting as another program would.
class TXClient final {
public:
    explicit TXClient(const QString& Display)
        : FConnection(xcb_connect(Display.toLocal8Bit().constData(), nullptr)) {}
    ~TXClient() { xcb_disconnect(FConnection); }
    TXClient(const TXClient&) = delete;
    TXClient& operator=(const TXClient&) = delete;

    bool Ok() const { return !xcb_connection_has_error(FConnection); }

    // The key code whose first column carries KeySym (0 when none does), and that row of the map.
    xcb_keycode_t KeyCodeOf(xcb_keysym_t KeySym, std::vector<xcb_keysym_t>* Row = nullptr) const {
        const xcb_setup_t* setup = xcb_get_setup(FConnection);
        const int count = setup->max_keycode - setup->min_keycode + 1;
        xcb_get_keyboard_mapping_reply_t* map = xcb_get_keyboard_mapping_reply(
            FConnection, xcb_get_keyboard_mapping(FConnection, setup->min_keycode, uint8_t(count)), nullptr);
        if (!map)
            return 0;
        const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(map);
        const int per = map->keysyms_per_keycode;
        xcb_keycode_t found = 0;
        for (int i = 0; found == 0 && i < count; ++i)
            if (syms[i * per] == KeySym) {
                found = xcb_keycode_t(setup->min_keycode + i);
                if (Row)
                    Row->assign(syms + i * per, syms + (i + 1) * per);
            }
        std::free(map);
        return found;
    }

    bool GrabOnRoot(uint16_t Modifiers, xcb_keycode_t Code) const {
        const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(FConnection)).data->root;
        xcb_generic_error_t* error =
            xcb_request_check(FConnection, xcb_grab_key_checked(FConnection, 1, root, Modifiers, Code,
                                                                XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
        const bool granted = error == nullptr;
        std::free(error);
        return granted;
    }

    // Swaps what two keys type, as switching to another keyboard layout does.
    bool SwapKeys(xcb_keysym_t A, xcb_keysym_t B) const {
        std::vector<xcb_keysym_t> rowA, rowB;
        const xcb_keycode_t a = KeyCodeOf(A, &rowA);
        const xcb_keycode_t b = KeyCodeOf(B, &rowB);
        if (a == 0 || b == 0)
            return false;
        const auto per = uint8_t(rowA.size());
        xcb_change_keyboard_mapping(FConnection, 1, a, per, rowB.data());
        xcb_change_keyboard_mapping(FConnection, 1, b, per, rowA.data());
        xcb_flush(FConnection);
        return KeyCodeOf(A) == b;
    }

private:
    xcb_connection_t* FConnection;
};

// Another program holds the key: no grab, so no stealth start; the window comes up instead.
TEST_F(TrayDesktopTest, BossKeyOwnedByAnotherProgramNeverLeavesTheProgramHidden) {
    StartDesktop(true);
    TXClient other(FServer.Display());
    ASSERT_TRUE(other.Ok());
    const xcb_keycode_t q = other.KeyCodeOf('q');
    ASSERT_NE(q, 0);
    ASSERT_TRUE(other.GrabOnRoot(XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1, q));

    WriteGeneralSettings(
        {QStringLiteral("BossKey=") + QLatin1String(kBossKeyValue), QStringLiteral("StartInStealthMode=1")});
    QProcess& quillo = StartQuillo({});
    EXPECT_FALSE(WaitForMainWindow().isEmpty()) << "started hidden with a boss key that cannot work";
    EXPECT_EQ(quillo.state(), QProcess::Running);
}

TEST_F(TrayDesktopTest, BossKeyFollowsItsKeyToAnotherKeyboardLayout) {
    StartDesktop(true);
    WriteGeneralSettings({QStringLiteral("BossKey=") + QLatin1String(kBossKeyValue)});
    QProcess& quillo = StartQuillo({});
    ASSERT_FALSE(WaitForMainWindow().isEmpty());
    TXClient layout(FServer.Display());
    ASSERT_TRUE(layout.Ok());
    ASSERT_TRUE(layout.SwapKeys('q', 'a')); // as on a French keyboard
    QThread::msleep(500);

    Xdotool({QStringLiteral("key"), QStringLiteral("ctrl+alt+a")}); // the key that carried Q
    QThread::msleep(500);
    EXPECT_FALSE(MainWindows().isEmpty()) << "the old key still switches";
    Xdotool({QStringLiteral("key"), QStringLiteral("ctrl+alt+q")});
    EXPECT_TRUE(WaitFor([&] { return ViewableWindowsOf(quillo).isEmpty(); }))
        << "Q on its new key did nothing";
    Xdotool({QStringLiteral("key"), QStringLiteral("ctrl+alt+q")});
    EXPECT_FALSE(WaitForMainWindow().isEmpty());
}

TEST_F(TrayDesktopTest, WithoutATrayHostTheCloseBoxLeavesTheWindowReachable) {
    StartDesktop(false);
    QProcess& quillo = StartQuillo({});
    const QString id = WaitForMainWindow();
    ASSERT_FALSE(id.isEmpty());

    PressCloseBox(id);
    ASSERT_TRUE(WaitFor([&] {
        return RunTool(QStringLiteral("xprop"), {QStringLiteral("-id"), id, QStringLiteral("WM_STATE")})
            .Output.contains(QStringLiteral("Iconic"));
    })) << "the close box did not minimize the window to the task bar";
    EXPECT_EQ(quillo.state(), QProcess::Running);
    // Still one of the desktop's windows, which a task bar lists and brings back.
    EXPECT_TRUE(Stacking().contains(id));
    Xdotool({QStringLiteral("windowactivate"), QStringLiteral("--sync"), id});
    EXPECT_FALSE(WaitForMainWindow().isEmpty());
}

TEST_F(TrayDesktopTest, WithoutATrayHostHyphenMStartsMinimizedAndATrayThatAppearsLaterIsUsed) {
    StartDesktop(false);
    QProcess& quillo = StartQuillo({QStringLiteral("-m")});
    ASSERT_TRUE(WaitForReady(1));
    QString id;
    ASSERT_TRUE(WaitFor([&] {
        const QStringList all = MainWindows(true);
        id = all.isEmpty() ? QString() : all.first();
        return !id.isEmpty() &&
               RunTool(QStringLiteral("xprop"), {QStringLiteral("-id"), id, QStringLiteral("WM_STATE")})
                   .Output.contains(QStringLiteral("Iconic"));
    })) << "-m without a tray did not leave the window minimized on the task bar";
    EXPECT_TRUE(Stacking().contains(id));

    StartTrayHost();
    ASSERT_FALSE(WaitForTrayIcon(quillo).isEmpty()) << "the icon did not dock in the tray that appeared";
    Xdotool({QStringLiteral("windowactivate"), QStringLiteral("--sync"), id});
    ASSERT_FALSE(WaitForMainWindow().isEmpty());
    PressCloseBox(id);
    EXPECT_TRUE(WaitFor([&] { return MainWindows().isEmpty(); }))
        << "the close box did not hide into the new tray";
    EXPECT_FALSE(Stacking().contains(id)) << "hidden in the tray, the window must leave the task bar";
    Click(WaitForTrayIcon(quillo), 1);
    EXPECT_FALSE(WaitForMainWindow().isEmpty());
}

TEST_F(TrayDesktopTest, DropWindowStaysAboveTheMainWindowAndItsPlaceSurvivesARestart) {
    StartDesktop(true);
    // In the middle of where the main window opens.
    WriteGeneralSettings(
        {QStringLiteral("ShowDropTarget=1"), QStringLiteral("DropLeft=700"), QStringLiteral("DropTop=500")});
    QProcess& first = StartQuillo({});
    const QString main = WaitForMainWindow();
    ASSERT_FALSE(main.isEmpty());
    ASSERT_TRUE(WaitFor([&] { return DropWindows().size() == 1; }));
    const QString drop = DropWindows().first();
    std::optional<TWindowGeometry> g = Geometry(drop);
    ASSERT_TRUE(g);
    EXPECT_EQ(QPoint(g->X, g->Y), QPoint(700, 500));
    EXPECT_EQ(QSize(g->Width, g->Height), QSize(50, 50));

    Xdotool({QStringLiteral("windowactivate"), QStringLiteral("--sync"), main});
    QThread::msleep(300);
    const QStringList stack = Stacking();
    ASSERT_TRUE(stack.contains(main) && stack.contains(drop));
    EXPECT_GT(stack.indexOf(drop), stack.indexOf(main)) << "the active main window covers the drop window";

    // Dragged with the mouse to a new place.
    Xdotool({QStringLiteral("mousemove"), QStringLiteral("725"), QStringLiteral("525")});
    Xdotool({QStringLiteral("mousedown"), QStringLiteral("1")});
    // Past the drag threshold first, then on at a hand's pace: the window manager takes over
    // the move from wherever the mouse is when it gets the request.
    Xdotool({QStringLiteral("mousemove"), QStringLiteral("745"), QStringLiteral("525")});
    QThread::msleep(400);
    for (int step = 1; step <= 10; ++step) {
        Xdotool({QStringLiteral("mousemove"), QString::number(745 + 28 * step),
                 QString::number(525 - 20 * step)});
        QThread::msleep(30);
    }
    Xdotool({QStringLiteral("mouseup"), QStringLiteral("1")});
    // The window manager takes the move over a few pixels into the drag, from where the mouse
    // is then: the window lands within that distance of the mouse's way.
    QPoint dropped;
    ASSERT_TRUE(WaitFor([&] {
        g = Geometry(drop);
        dropped = g ? QPoint(g->X, g->Y) : QPoint();
        return (dropped - QPoint(1000, 300)).manhattanLength() <= 30;
    })) << "the drop window is at "
        << dropped.x() << "," << dropped.y();
    QThread::msleep(300);
    g = Geometry(drop);
    ASSERT_TRUE(g);
    dropped = QPoint(g->X, g->Y);

    Xdotool({QStringLiteral("windowactivate"), QStringLiteral("--sync"), main});
    Xdotool({QStringLiteral("key"), QStringLiteral("alt+f")});
    QThread::msleep(500);
    Xdotool({QStringLiteral("key"), QStringLiteral("x")}); // E&xit
    ASSERT_TRUE(WaitForEnd(first, 30000));
    const quillo::TAppSettings saved = SavedSettings();
    EXPECT_TRUE(saved.General.ShowDropTarget);
    EXPECT_EQ(saved.General.DropLeft, dropped.x());
    EXPECT_EQ(saved.General.DropTop, dropped.y());

    QProcess& next = StartQuillo({});
    ASSERT_FALSE(WaitForMainWindow().isEmpty());
    ASSERT_TRUE(WaitFor([&] { return DropWindows().size() == 1; }));
    g = Geometry(DropWindows().first());
    ASSERT_TRUE(g);
    EXPECT_EQ(QPoint(g->X, g->Y), dropped);
    EXPECT_EQ(next.state(), QProcess::Running);
}

TEST_F(TrayDesktopTest, DoubleClickOnTheDropWindowTogglesTheMainWindowAndRightClickOpensTheTrayMenu) {
    StartDesktop(true);
    WriteGeneralSettings(
        {QStringLiteral("ShowDropTarget=1"), QStringLiteral("DropLeft=100"), QStringLiteral("DropTop=100")});
    QProcess& quillo = StartQuillo({});
    ASSERT_FALSE(WaitForMainWindow().isEmpty());
    ASSERT_TRUE(WaitFor([&] { return DropWindows().size() == 1; }));
    const QString drop = DropWindows().first();
    auto doubleClick = [&] {
        Xdotool({QStringLiteral("mousemove"), QStringLiteral("--window"), drop, QStringLiteral("25"),
                 QStringLiteral("25"), QStringLiteral("click"), QStringLiteral("--repeat"),
                 QStringLiteral("2"), QStringLiteral("--delay"), QStringLiteral("80"), QStringLiteral("1")});
    };
    doubleClick();
    EXPECT_TRUE(WaitFor([&] { return MainWindows().isEmpty(); })) << "a double click left the window shown";
    QThread::msleep(600); // not a triple click
    doubleClick();
    EXPECT_FALSE(WaitForMainWindow().isEmpty()) << "a double click did not bring the window back";
    const std::optional<TWindowGeometry> g = Geometry(drop);
    ASSERT_TRUE(g);
    EXPECT_EQ(QPoint(g->X, g->Y), QPoint(100, 100)) << "clicks moved the drop window";

    const int before = ViewableWindowsOf(quillo).size();
    Click(drop, 3);
    EXPECT_TRUE(WaitFor([&] { return ViewableWindowsOf(quillo).size() > before; })) << "no tray menu opened";
    Xdotool({QStringLiteral("key"), QStringLiteral("Escape")});
}

} // namespace
