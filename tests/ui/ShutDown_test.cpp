#include "ui/ShutDown.h"

#include "core/app/Settings.h"
#include "ui/ShutDownTestSupport.h"

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <functional>

QT_BEGIN_NAMESPACE
inline void PrintTo(const QString& Text, std::ostream* Out) {
    *Out << '"' << Text.toStdString() << '"';
}
QT_END_NAMESPACE

namespace quillo {
namespace {

// Every case runs with a recording shutdown command: the machine is never asked to power off.
class ShutDownTest : public testing::Test {
protected:
    void SetUp() override { CommitSettings(TAppSettings{}); }
    void TearDown() override { CommitSettings(TAppSettings{}); }
    void UseCommand(const QString& Command) { FRecorder.UseCommand(Command); }
    QStringList Requests() const { return FRecorder.Requests(); }

    static int VisibleBoxes() {
        int Count = 0;
        for (QWidget* W : QApplication::topLevelWidgets())
            Count += qobject_cast<TShutDownBox*>(W) && W->isVisible();
        return Count;
    }

    test::TShutDownRecorder FRecorder;
};

TEST_F(ShutDownTest, CommandReceivesFlagsAndAction) {
    EXPECT_TRUE(ShutDownComputer(ShutDownUnattended));
    EXPECT_TRUE(ShutDownComputer(ShutDownByUser));
    UpdateSettings([](TAppSettings& S) { S.General.Hibernate = true; });
    EXPECT_TRUE(ShutDownComputer(ShutDownUnattended));
    EXPECT_EQ(Requests(), (QStringList{"13 poweroff", "25 poweroff", "13 hibernate"}));
}

TEST_F(ShutDownTest, RefusedRequestsAreReportedAsRefused) {
    const std::pair<const char*, bool> Cases[] = {
        {"true", true},
        {"false", false},
        {"sh -c 'exit 3'", false},
        {"sh -c 'kill -9 $$'", false},
        {"/nonexistent/quillo-shutdown", false},
        {"\"/path with blanks/none\"", false},
        // A command line that cannot be split is refused; it never falls back on the real request.
        {"'unterminated", false},
    };
    for (const auto& [Command, Accepted] : Cases) {
        UseCommand(QString::fromLatin1(Command));
        EXPECT_EQ(ShutDownComputer(ShutDownUnattended), Accepted) << Command;
    }
}

TEST(SplitCommandLine, SplitsLikeAShellWithoutExpanding) {
    const std::pair<const char*, QStringList> Cases[] = {
        {"true", {"true"}},
        {"  a   b\tc  ", {"a", "b", "c"}},
        {"sh -c 'echo \"$0\" >> \"/tmp/a b\"'", {"sh", "-c", "echo \"$0\" >> \"/tmp/a b\""}},
        {"\"/path with/blanks\" x", {"/path with/blanks", "x"}},
        {"a\\ b", {"a b"}},
        {"\"q\\\"x\\$y\\n\"", {"q\"x$y\\n"}},
        {"'it'\\''s'", {"it's"}},
        {"''", {""}},
        {"a''b", {"ab"}},
        {"$HOME ~ *", {"$HOME", "~", "*"}},
        {"'unterminated", {}},
        {"\"unterminated", {}},
        {"", {}},
        {"   ", {}},
    };
    for (const auto& [Line, Words] : Cases) {
        QStringList Split{"stale"};
        EXPECT_EQ(SplitCommandLine(QString::fromLatin1(Line), Split), !Words.isEmpty()) << Line;
        EXPECT_EQ(Split, Words) << Line;
    }
}

TEST_F(ShutDownTest, LaidOutAsABlackFramelessCountdown) {
    TShutDownBox Box(nullptr, {false});
    EXPECT_EQ(QString::fromLatin1(Box.metaObject()->className()).section(QStringLiteral("::"), -1),
              QStringLiteral("TShutDownBox"));
    EXPECT_TRUE(Box.windowFlags() & Qt::FramelessWindowHint);
    EXPECT_TRUE(Box.windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_EQ(Box.palette().color(QPalette::Window), QColor(Qt::black));
    EXPECT_GE(Box.width(), 313);
    EXPECT_GE(Box.height(), 198);
    EXPECT_EQ(Box.minimumSize(), Box.maximumSize());
    const std::tuple<QLabel*, const char*, QColor> Labels[] = {
        {Box.Label2, "Computer Shut Down", Qt::white},
        {Box.Label1, "Quillo will shut down computer in", Qt::white},
        {Box.Label3, "20", Qt::yellow},
        {Box.Label4, "seconds", Qt::white},
    };
    for (const auto& [Label, Text, Color] : Labels) {
        EXPECT_EQ(Label->text(), QString::fromLatin1(Text));
        EXPECT_EQ(Label->palette().color(QPalette::WindowText), Color) << Text;
        EXPECT_TRUE(Label->font().bold()) << Text;
    }
    EXPECT_EQ(Box.Label3->font().pixelSize(), 48);
    EXPECT_EQ(Box.Label2->font().pixelSize(), 16);
    EXPECT_EQ(Box.Label3->alignment() & Qt::AlignHCenter, Qt::AlignHCenter);
    EXPECT_EQ(Box.Image2->size(), QSize(32, 32));
    EXPECT_FALSE(Box.Image2->pixmap().isNull());
    EXPECT_EQ(Box.Button1->text(), QStringLiteral("Shut Down Now"));
    EXPECT_EQ(Box.Button2->text(), QStringLiteral("Cancel"));
    EXPECT_TRUE(Box.Button2->isDefault());
    EXPECT_FALSE(Box.Button1->isDefault());
    Box.show();
    EXPECT_EQ(Box.focusWidget(), Box.Button2);
}

TEST_F(ShutDownTest, CountsDownFromTwentyAndShutsDownOneTickAfterZero) {
    TShutDownBox Box(nullptr, {false});
    Box.show();
    EXPECT_EQ(Box.Label3->text(), QStringLiteral("20"));
    for (int Tick = 1; Tick <= 20; ++Tick) {
        Box.Timer1Timer();
        EXPECT_EQ(Box.Label3->text(), QString::number(20 - Tick));
        EXPECT_TRUE(Box.isVisible());
    }
    EXPECT_TRUE(Requests().isEmpty());
    Box.Timer1Timer();
    EXPECT_EQ(Requests(), QStringList{"13 poweroff"});
    EXPECT_FALSE(Box.isVisible());
    EXPECT_EQ(Box.result(), QDialog::Accepted);
    EXPECT_FALSE(Box.Timer1->isActive());
}

TEST_F(ShutDownTest, TheRealTimerTicksEverySecond) {
    TShutDownBox Box;
    EXPECT_TRUE(Box.Timer1->isActive());
    EXPECT_EQ(Box.Timer1->interval(), 1000);
}

TEST_F(ShutDownTest, ShutDownNowAndTheWaysToCancel) {
    struct TCase {
        const char* Name;
        std::function<void(TShutDownBox&)> Act;
        QDialog::DialogCode Result;
        QStringList Requests;
    };
    const TCase Cases[] = {
        {"Shut Down Now", [](TShutDownBox& B) { B.Button1->click(); }, QDialog::Accepted, {"25 poweroff"}},
        {"Cancel", [](TShutDownBox& B) { B.Button2->click(); }, QDialog::Rejected, {}},
        {"Escape", [](TShutDownBox& B) { QTest::keyClick(&B, Qt::Key_Escape); }, QDialog::Rejected, {}},
        {"Enter", [](TShutDownBox& B) { QTest::keyClick(B.Button2, Qt::Key_Return); }, QDialog::Rejected, {}},
    };
    for (const TCase& Case : Cases) {
        FRecorder.Clear();
        TShutDownBox Box(nullptr, {false});
        Box.show();
        Case.Act(Box);
        EXPECT_FALSE(Box.isVisible()) << Case.Name;
        EXPECT_EQ(Box.result(), Case.Result) << Case.Name;
        EXPECT_EQ(Requests(), Case.Requests) << Case.Name;
    }
}

TEST_F(ShutDownTest, StealthModeShutsDownAtOnceWithoutAWindow) {
    ShutDownWhenFinished(nullptr, true, {false});
    EXPECT_EQ(Requests(), QStringList{"13 poweroff"});
    EXPECT_EQ(VisibleBoxes(), 0);
}

TEST_F(ShutDownTest, CancelledCountdownComesBackNextTime) {
    int Shown = 0;
    for (int Round = 0; Round < 2; ++Round) {
        test::WhenShutDownBoxShown([&Shown](TShutDownBox& B) {
            ++Shown;
            B.Button2->click();
        });
        ShutDownWhenFinished(nullptr, false, {false});
        EXPECT_EQ(Shown, Round + 1);
        EXPECT_TRUE(Requests().isEmpty());
        EXPECT_EQ(VisibleBoxes(), 0);
    }
    // The countdown run to its end.
    test::WhenShutDownBoxShown([](TShutDownBox& B) {
        for (int Tick = 0; Tick <= 20; ++Tick)
            B.Timer1Timer();
    });
    ShutDownWhenFinished(nullptr, false, {false});
    EXPECT_EQ(Requests(), QStringList{"13 poweroff"});
}

} // namespace
} // namespace quillo
