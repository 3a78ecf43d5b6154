// Pictures of the settings dialog and the countdown window for scripts/screenshots.sh
// (scripts/screenshots.d/60-settings.sh, 70-shutdown.sh): disabled in ordinary runs; the pieces
// run them on their Xvfb with QUILLO_SCREENSHOT_DIR set.
#include "ui/SettingsBox.h"
#include "ui/ShutDown.h"

#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QTabWidget>
#include <QTest>
#include <gtest/gtest.h>

namespace quillo {
namespace {

QString ShotFile(const char* Name) {
    const QString Dir = qEnvironmentVariable("QUILLO_SCREENSHOT_DIR");
    return Dir.isEmpty() ? QString() : QDir(Dir).filePath(QString::fromLatin1(Name) + QStringLiteral(".png"));
}

void Shoot(QWidget& Window, const char* Name) {
    QTest::qWait(300);
    const QString File = ShotFile(Name);
    ASSERT_FALSE(File.isEmpty()) << "QUILLO_SCREENSHOT_DIR is not set";
    ASSERT_TRUE(Window.grab().save(File)) << File.toStdString();
    std::printf("screenshots: %s\n", qPrintable(File));
}

TEST(Screenshots, DISABLED_SettingsPages) {
    UpdateSettings([](TAppSettings& S) {
        S.General.BossKey = {3, 66};
        S.General.ShutDownWhenFinished = true;
        S.InternetConnection.UseProxy = true;
        S.InternetConnection.Proxy = "proxy.example.lan:3128";
        S.Brimvault.UseAccount = true;
        S.Brimvault.UserName = "demo";
        S.Scheduler.Enabled = true;
        S.Scheduler.StartTime = 22.0 / 24;
        S.Scheduler.EndTime = 6.5 / 24;
    });
    TSettingsBox Box;
    Box.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&Box));
    const char* const Names[] = {"settings-0-account", "settings-1-connection", "settings-2-engine",
                                 "settings-3-scheduler", "settings-4-miscs"};
    for (int Page = 0; Page < 5; ++Page) {
        Box.PageControl1->setCurrentIndex(Page);
        Shoot(Box, Names[Page]);
    }
    Box.reject();
}

TEST(Screenshots, DISABLED_Countdown) {
    TShutDownBox Box(nullptr, {false});
    Box.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&Box));
    for (int Tick = 0; Tick < 3; ++Tick)
        Box.Timer1Timer();
    Shoot(Box, "shutdown-countdown");
    Box.reject();
}

} // namespace
} // namespace quillo
