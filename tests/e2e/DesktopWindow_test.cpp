// The real `quillo` window on a private X server, seen and driven from outside as a user's
// desktop would: xdotool finds it by its title, moves it and types on it, xwininfo measures it.
#include "DesktopFixture.h"

namespace {

using namespace quillo::test;

TEST_F(DesktopWindowTest, FirstStartOpensTheDesignedWindowCentredOnTheScreen) {
    QProcess& quillo = StartQuillo({});
    const QString id = WaitForMainWindow();
    ASSERT_FALSE(id.isEmpty()) << "no viewable window titled \"Quillo Uploader\" appeared";
    const std::optional<TWindowGeometry> g = Geometry(id);
    ASSERT_TRUE(g);
    EXPECT_TRUE(g->Viewable);
    EXPECT_EQ(g->Width, kClientWidth);
    EXPECT_EQ(g->Height, kClientHeight);
    EXPECT_EQ(g->X, (kScreenWidth - kClientWidth) / 2);
    EXPECT_EQ(g->Y, (kScreenHeight - kClientHeight) / 2);
    EXPECT_EQ(MainWindows(true).size(), 1);
    EXPECT_EQ(quillo.state(), QProcess::Running);
    Screenshot(QStringLiteral("first-start.png"));
}

struct TSecondStartCase {
    const char* Name;
    QStringList FirstArgs;
    bool FirstVisible;
    bool Tray; // a desktop with a window manager and a tray host to sit in
};

class SecondStartTest : public DesktopWindowTest, public testing::WithParamInterface<TSecondStartCase> {};

TEST_P(SecondStartTest, EndsAtOnceAndLeavesTheFirstWindowShownAndFocused) {
    const TSecondStartCase& c = GetParam();
    if (c.Tray)
        StartDesktop(true);
    QProcess& first = StartQuillo(c.FirstArgs);
    ASSERT_TRUE(WaitForReady(1));
    if (c.FirstVisible)
        ASSERT_FALSE(WaitForMainWindow().isEmpty());
    else
        ASSERT_TRUE(MainWindows().isEmpty()) << "a start with -m showed its window";

    QProcess& second = StartQuillo({});
    ASSERT_TRUE(WaitForEnd(second, 15000)) << "the second start did not end";
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0);

    const QString id = WaitForMainWindow();
    ASSERT_FALSE(id.isEmpty()) << "the first instance's window is not shown";
    // The woken window takes the focus (without a window manager nothing else decides it).
    EXPECT_TRUE(WaitFor([&] { return FocusWindow() == id; }))
        << "focus is on " << FocusWindow().toStdString();
    EXPECT_EQ(MainWindows().size(), 1);
    EXPECT_EQ(MainWindows(true).size(), 1);
    EXPECT_EQ(first.state(), QProcess::Running);
    EXPECT_EQ(Events().filter(QRegularExpression(QStringLiteral("^ready"))).size(), 1);
}

INSTANTIATE_TEST_SUITE_P(FirstInstance, SecondStartTest,
                         testing::Values(TSecondStartCase{"Shown", {}, true, false},
                                         TSecondStartCase{"InTray", {QStringLiteral("-m")}, false, true}),
                         [](const testing::TestParamInfo<TSecondStartCase>& Info) {
                             return Info.param.Name;
                         });

TEST_F(DesktopWindowTest, ExitFromTheKeyboardSavesThePlaceWhereTheNextStartOpens) {
    QProcess& first = StartQuillo({});
    const QString id = WaitForMainWindow();
    ASSERT_FALSE(id.isEmpty());

    // Somewhere no placement rule would put it by itself.
    constexpr int kLeft = 137;
    constexpr int kTop = 91;
    Xdotool({QStringLiteral("windowmove"), id, QString::number(kLeft), QString::number(kTop)});
    ASSERT_TRUE(WaitFor([&] {
        const auto g = Geometry(id);
        return g && g->X == kLeft && g->Y == kTop;
    }));

    // Real key presses (XTEST) on the focused window: programs may ignore the synthetic events
    // that "key --window" sends. The window has no menu open yet: one viewable window.
    Xdotool({QStringLiteral("windowfocus"), QStringLiteral("--sync"), id});
    const QString pid = QString::number(first.processId());
    auto viewableWindowsOfQuillo = [&] {
        return Xdotool(
                   {QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--pid"), pid})
            .size();
    };
    ASSERT_EQ(viewableWindowsOfQuillo(), 1);
    Xdotool({QStringLiteral("key"), QStringLiteral("alt+f")});
    ASSERT_TRUE(WaitFor([&] { return viewableWindowsOfQuillo() >= 2; })) << "Alt+F opened no File menu";
    Xdotool({QStringLiteral("key"), QStringLiteral("x")}); // E&xit

    ASSERT_TRUE(WaitForEnd(first, 30000)) << "File > Exit did not end the program";
    EXPECT_EQ(first.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(first.exitCode(), 0);
    EXPECT_TRUE(WaitFor([&] { return MainWindows(true).isEmpty(); }));

    // The saved bounds, read by the program's own settings reader.
    const quillo::TWindowRect saved = SavedSettings().General.WindowRect;
    EXPECT_EQ(saved.Left, kLeft);
    EXPECT_EQ(saved.Top, kTop);
    EXPECT_EQ(saved.Right, kLeft + kClientWidth);
    EXPECT_EQ(saved.Bottom, kTop + kClientHeight);

    QProcess& next = StartQuillo({});
    const QString nextId = WaitForMainWindow();
    ASSERT_FALSE(nextId.isEmpty());
    const std::optional<TWindowGeometry> g = Geometry(nextId);
    ASSERT_TRUE(g);
    EXPECT_EQ(g->X, kLeft);
    EXPECT_EQ(g->Y, kTop);
    EXPECT_EQ(g->Width, kClientWidth);
    EXPECT_EQ(g->Height, kClientHeight);
    EXPECT_EQ(next.state(), QProcess::Running);
}

TEST_F(DesktopWindowTest, KilledInstanceNeverHoldsBackTheNextWindow) {
    QProcess& first = StartQuillo({});
    ASSERT_FALSE(WaitForMainWindow().isEmpty());
    first.kill(); // SIGKILL: the lock and the socket stay behind as a crash leaves them
    ASSERT_TRUE(WaitForEnd(first, 10000));
    ASSERT_TRUE(WaitFor([&] { return MainWindows(true).isEmpty(); })) << "the killed window stayed";

    QProcess& next = StartQuillo({});
    const QString id = WaitForMainWindow();
    ASSERT_FALSE(id.isEmpty()) << "the start after a killed instance showed no window";
    EXPECT_EQ(MainWindows().size(), 1);
    EXPECT_EQ(next.state(), QProcess::Running);
    EXPECT_TRUE(WaitForReady(2));
}

} // namespace
