// The real `quillo` window on a private X server, seen and driven from outside as a user's
// desktop would: xdotool finds it by its title, moves it and types on it, xwininfo measures it.
// Every child (the X server, the program, the tools) runs in the test's scratch environment;
// the session's display, home, runtime folder, D-Bus and session manager are never reached.
#include "XServer.h"
#include "core/app/DataFolder.h"
#include "core/app/Settings.h"
#include "support/TestEnvironment.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QThread>
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <optional>
#include <vector>

namespace {

using quillo::test::TXServer;

constexpr int kScreenWidth = 1600;
constexpr int kScreenHeight = 1200;
// The designed client area of the main window.
constexpr int kClientWidth = 1014;
constexpr int kClientHeight = 800;
const QString kTitlePattern = QStringLiteral("^Quillo Uploader$");

// Generous bounds: the machine is small and shared. None of them is a speed assertion.
constexpr int kWindowWaitMs = 30000;
constexpr int kToolTimeoutMs = 30000;

struct TToolRun {
    int ExitCode = -1; // -1: did not start or did not end in time
    QString Output;
};

struct TWindowGeometry {
    int X = 0;
    int Y = 0;
    int Width = 0;
    int Height = 0;
    bool Viewable = false;
};

class DesktopWindowTest : public testing::Test {
protected:
    void SetUp() override {
        // The tools are part of the test setup (scripts/setup.sh installs them): a machine
        // without them must not pass this suite by skipping it.
        for (const char* tool : {"Xvfb", "xdotool", "xwininfo"})
            if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
                FAIL() << tool
                       << " is not installed (packages xvfb, xdotool, x11-utils; run scripts/setup.sh)";

        FRoot = quillo::test::MakeScratchDir(QStringLiteral("desktop"));
        for (const char* sub : {"home", "config", "data", "cache", "state", "runtime", "quillo-home", "cwd"})
            QDir().mkpath(FRoot + QLatin1Char('/') + QLatin1String(sub));
        QFile::setPermissions(FRoot + QStringLiteral("/runtime"),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        FQuilloHome = FRoot + QStringLiteral("/quillo-home");
        FEvents = FRoot + QStringLiteral("/events.txt");

        QString error;
        ASSERT_TRUE(FServer.Start(kScreenWidth, kScreenHeight, FRoot + QStringLiteral("/xvfb.log"), error))
            << error.toStdString();
        FEnv = ChildEnvironment();
    }

    void TearDown() override {
        for (auto& p : FProcesses)
            if (p->state() != QProcess::NotRunning) {
                p->kill();
                p->waitForFinished(10000);
            }
        FProcesses.clear();
        FServer.Stop();
    }

    QProcessEnvironment ChildEnvironment() const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        // Nothing of the session's desktop: no session manager to register with, no session
        // bus (tray, portals, accessibility), no Wayland, no platform theme plug-in.
        for (const char* name : {"SESSION_MANAGER", "WAYLAND_DISPLAY", "AT_SPI_BUS_ADDRESS",
                                 "QT_QPA_PLATFORMTHEME", "XDG_CURRENT_DESKTOP", "XDG_SESSION_TYPE",
                                 "DESKTOP_SESSION", "QT_ACCESSIBILITY", "QT_LINUX_ACCESSIBILITY_ALWAYS_ON"})
            env.remove(QString::fromLatin1(name));
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("disabled:"));
        env.insert(QStringLiteral("DISPLAY"), FServer.Display());
        env.insert(QStringLiteral("XAUTHORITY"), FRoot + QStringLiteral("/Xauthority")); // never created
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        env.insert(QStringLiteral("HOME"), FRoot + QStringLiteral("/home"));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), FRoot + QStringLiteral("/config"));
        env.insert(QStringLiteral("XDG_DATA_HOME"), FRoot + QStringLiteral("/data"));
        env.insert(QStringLiteral("XDG_CACHE_HOME"), FRoot + QStringLiteral("/cache"));
        env.insert(QStringLiteral("XDG_STATE_HOME"), FRoot + QStringLiteral("/state"));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), FRoot + QStringLiteral("/runtime"));
        env.insert(QStringLiteral("QUILLO_HOME"), FQuilloHome);
        env.insert(QStringLiteral("QUILLO_TEST_EVENTS"), FEvents);
        env.insert(QStringLiteral("QUILLO_SITE"), QStringLiteral("127.0.0.1:9")); // never the real site
        return env;
    }

    QProcess& StartQuillo(const QStringList& Args) {
        auto p = std::make_unique<QProcess>();
        p->setProcessEnvironment(FEnv);
        p->setProcessChannelMode(QProcess::ForwardedChannels);
        p->setWorkingDirectory(FRoot + QStringLiteral("/cwd"));
        p->start(QStringLiteral(QUILLO_BINARY_DIR "/src/app/quillo"), Args);
        EXPECT_TRUE(p->waitForStarted(kToolTimeoutMs)) << p->errorString().toStdString();
        FProcesses.push_back(std::move(p));
        return *FProcesses.back();
    }

    TToolRun RunTool(const QString& Program, const QStringList& Args) const {
        QProcess p;
        p.setProcessEnvironment(FEnv);
        p.setProcessChannelMode(QProcess::SeparateChannels);
        p.setWorkingDirectory(FRoot);
        p.start(Program, Args);
        TToolRun run;
        if (!p.waitForStarted(kToolTimeoutMs))
            return run;
        if (!p.waitForFinished(kToolTimeoutMs)) {
            p.kill();
            p.waitForFinished(5000);
            return run;
        }
        run.ExitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        run.Output = QString::fromLocal8Bit(p.readAllStandardOutput());
        return run;
    }

    QStringList Xdotool(const QStringList& Args) const {
        return RunTool(QStringLiteral("xdotool"), Args).Output.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

    // Ids of the windows titled "Quillo Uploader"; only the viewable ones unless All.
    QStringList MainWindows(bool All = false) const {
        QStringList args{QStringLiteral("search")};
        if (!All)
            args << QStringLiteral("--onlyvisible");
        args << QStringLiteral("--name") << kTitlePattern;
        return Xdotool(args);
    }

    template <class TPredicate> static bool WaitFor(TPredicate Done, int TimeoutMs = kWindowWaitMs) {
        QDeadlineTimer deadline(TimeoutMs);
        while (!deadline.hasExpired()) {
            if (Done())
                return true;
            QThread::msleep(100);
        }
        return Done();
    }

    // The first viewable main window, waiting for it to appear; empty when none came.
    QString WaitForMainWindow() const {
        QString id;
        WaitFor([&] {
            const QStringList ids = MainWindows();
            id = ids.isEmpty() ? QString() : ids.first();
            return !id.isEmpty();
        });
        return id;
    }

    std::optional<TWindowGeometry> Geometry(const QString& Id) const {
        const TToolRun run = RunTool(QStringLiteral("xwininfo"), {QStringLiteral("-id"), Id});
        if (run.ExitCode != 0)
            return std::nullopt;
        auto field = [&](const char* Label) {
            const QRegularExpression re(QStringLiteral("%1:\\s*(-?\\d+)").arg(QLatin1String(Label)));
            const QRegularExpressionMatch m = re.match(run.Output);
            return m.hasMatch() ? m.captured(1).toInt() : -99999;
        };
        TWindowGeometry g;
        g.X = field("Absolute upper-left X");
        g.Y = field("Absolute upper-left Y");
        g.Width = field("Width");
        g.Height = field("Height");
        g.Viewable = run.Output.contains(QStringLiteral("Map State: IsViewable"));
        return g;
    }

    // The window holding the keyboard focus; empty while the focus is on no window.
    QString FocusWindow() const {
        const QStringList out = Xdotool({QStringLiteral("getwindowfocus")});
        return out.isEmpty() ? QString() : out.first().trimmed();
    }

    QStringList Events() const {
        QFile f(FEvents);
        if (!f.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }
    bool WaitForReady(int Count) const {
        return WaitFor(
            [&] { return Events().filter(QRegularExpression(QStringLiteral("^ready"))).size() >= Count; });
    }

    static bool WaitForEnd(QProcess& P, int TimeoutMs) {
        return P.state() == QProcess::NotRunning || P.waitForFinished(TimeoutMs);
    }

    // A picture of the whole screen for a human to look at; never part of an assertion.
    void Screenshot(const QString& Name) const {
        if (QStandardPaths::findExecutable(QStringLiteral("import")).isEmpty()) {
            std::printf("note: ImageMagick's import is missing; no screenshot taken\n");
            return;
        }
        const QString file = FRoot + QLatin1Char('/') + Name;
        if (RunTool(QStringLiteral("import"), {QStringLiteral("-window"), QStringLiteral("root"), file})
                .ExitCode != 0)
            return;
        const QString shared = QStringLiteral("/tmp/quillo-e2e.png");
        QFile::remove(shared);
        if (QFile::copy(file, shared))
            std::printf("note: screenshot of the first start in %s\n", qPrintable(shared));
    }

    TXServer FServer;
    QString FRoot, FQuilloHome, FEvents;
    QProcessEnvironment FEnv;
    std::vector<std::unique_ptr<QProcess>> FProcesses;
};

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
};

class SecondStartTest : public DesktopWindowTest, public testing::WithParamInterface<TSecondStartCase> {};

TEST_P(SecondStartTest, EndsAtOnceAndLeavesTheFirstWindowShownAndFocused) {
    const TSecondStartCase& c = GetParam();
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
    // Without a window manager nothing else decides the focus: the woken window takes it.
    EXPECT_TRUE(WaitFor([&] { return FocusWindow() == id; }))
        << "focus is on " << FocusWindow().toStdString();
    EXPECT_EQ(MainWindows().size(), 1);
    EXPECT_EQ(MainWindows(true).size(), 1);
    EXPECT_EQ(first.state(), QProcess::Running);
    EXPECT_EQ(Events().filter(QRegularExpression(QStringLiteral("^ready"))).size(), 1);
}

INSTANTIATE_TEST_SUITE_P(FirstInstance, SecondStartTest,
                         testing::Values(TSecondStartCase{"Shown", {}, true},
                                         TSecondStartCase{"InTray", {QStringLiteral("-m")}, false}),
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
    quillo::SetDataFolderOverride(FQuilloHome.toStdString());
    quillo::LoadSettings();
    const quillo::TWindowRect saved = quillo::AppSettings.General.WindowRect;
    quillo::SetDataFolderOverride(std::string());
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
