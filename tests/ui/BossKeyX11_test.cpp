// The boss-key field under a real X server: key presses go through XTEST (xdotool), so the key
// events carry the X11 key symbols and modifier state that the offscreen tests only imitate.
// The parent test starts a private Xvfb and runs this executable again on it with the child
// test, which is disabled in ordinary runs.
#include "e2e/XServer.h"
#include "support/TestEnvironment.h"
#include "ui/SettingsBox.h"

#include <QApplication>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QLineEdit>
#include <QProcess>
#include <QStandardPaths>
#include <QTabWidget>
#include <QTest>
#include <gtest/gtest.h>

namespace quillo {
namespace {

TEST(BossKeyX11, CapturesRealKeyPresses) {
    for (const char* Tool : {"Xvfb", "xdotool"})
        if (QStandardPaths::findExecutable(QString::fromLatin1(Tool)).isEmpty())
            FAIL() << Tool << " is not installed (packages xvfb, xdotool; run scripts/setup.sh)";
    test::TXServer Server;
    QString Error;
    const QString Root = test::MakeScratchDir(QStringLiteral("x11"));
    ASSERT_TRUE(Server.Start(1024, 768, Root + QStringLiteral("/xvfb.log"), Error)) << Error.toStdString();
    QProcess Child;
    QProcessEnvironment Env = QProcessEnvironment::systemEnvironment();
    Env.insert(QStringLiteral("DISPLAY"), Server.Display());
    Env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    Env.insert(QStringLiteral("XAUTHORITY"), Root + QStringLiteral("/Xauthority")); // never created
    Env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("disabled:"));
    Env.remove(QStringLiteral("SESSION_MANAGER"));
    Child.setProcessEnvironment(Env);
    Child.setProcessChannelMode(QProcess::MergedChannels);
    Child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--gtest_also_run_disabled_tests"),
                 QStringLiteral("--gtest_filter=BossKeyX11Child.DISABLED_TypedKeys")});
    ASSERT_TRUE(Child.waitForFinished(60000));
    const QString Output = QString::fromUtf8(Child.readAll());
    EXPECT_EQ(Child.exitCode(), 0) << Output.toStdString();
    EXPECT_TRUE(Output.contains(QStringLiteral("[  PASSED  ] 1 test"))) << Output.toStdString();
}

// Run by the test above on its Xvfb.
TEST(BossKeyX11Child, DISABLED_TypedKeys) {
    ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("xcb"));
    TSettingsBox Box;
    int Beeps = 0;
    Box.Beep = [&Beeps] { ++Beeps; };
    Box.PageControl1->setCurrentIndex(4);
    Box.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&Box));
    Box.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&Box));
    Box.Edit13->setFocus();
    QTest::qWait(200);
    struct TCase {
        const char* Keys; // as xdotool names them
        const char* Text;
        TBossKey Key;
        int Beeps; // -1: xdotool may press Num Lock first, which alone is refused with a beep
    };
    const TCase Cases[] = {
        {"ctrl+alt+b", "ALT+CTRL+B", {3, 66}, 0},
        {"a", "<NONE>", {0, 0}, 1},
        {"shift+a", "<NONE>", {0, 0}, 1},
        {"alt+5", "<NONE>", {0, 0}, 1},
        {"Tab", "<NONE>", {0, 0}, 1},
        {"space", "<NONE>", {0, 0}, 1},
        {"F12", "F12", {0, 123}, 0},
        {"super+Escape", "WIN+Escape", {8, 27}, 0},
        {"ctrl+shift+5", "SHIFT+CTRL+5", {6, 53}, 0},
        {"KP_7", "Numpad 7", {0, 103}, -1},
        {"Return", "Enter", {0, 13}, 0},
        {"ctrl+Tab", "CTRL+Tab", {2, 9}, 0},
        {"Escape", "Escape", {0, 27}, 0},
        {"BackSpace", "<NONE>", {0, 0}, 1},
    };
    for (const TCase& Case : Cases) {
        Beeps = 0;
        ASSERT_EQ(QProcess::execute(QStringLiteral("xdotool"),
                                    {QStringLiteral("key"), QString::fromLatin1(Case.Keys)}),
                  0);
        QTest::qWait(150);
        EXPECT_EQ(Box.Edit13->text().toStdString(), Case.Text) << Case.Keys;
        EXPECT_EQ(Box.PendingBossKey, Case.Key) << Case.Keys;
        if (Case.Beeps >= 0) {
            EXPECT_EQ(Beeps, Case.Beeps) << Case.Keys;
        }
        // The keys stay in the field: no focus move, no page switch, no close.
        EXPECT_EQ(QApplication::focusWidget(), Box.Edit13) << Case.Keys;
        EXPECT_EQ(Box.PageControl1->currentIndex(), 4) << Case.Keys;
        EXPECT_TRUE(Box.isVisible()) << Case.Keys;
    }
}

} // namespace
} // namespace quillo
