#pragma once
// The fixture of the end-to-end tests: the real `quillo` window on a private X server (Xvfb),
// seen and driven from outside as a user's desktop would: xdotool finds it by its title, moves
// it and types on it, xwininfo measures it. Every child (the X server, the program, the tools)
// runs in the test's scratch environment; the session's display, home, runtime folder, D-Bus
// and session manager are never reached.
#include "XServer.h"
#include "core/app/DataFolder.h"
#include "core/app/Settings.h"
#include "core/queue/JobsFile.h"
#include "core/queue/UploadQueue.h"
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
#include <initializer_list>
#include <memory>
#include <optional>
#include <vector>

namespace quillo::test {

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

    // A failure for each of Tools that is not installed: the tools are part of the test setup
    // (scripts/setup.sh installs them), so a machine without them must not pass by skipping.
    void RequireTools(std::initializer_list<const char*> Tools) const {
        for (const char* tool : Tools)
            if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
                ADD_FAILURE() << tool << " is not installed (run scripts/setup.sh)";
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

    // A helper program of the desktop (window manager, tray host), ended with the test.
    QProcess& StartProgram(const QString& Program, const QStringList& Args) {
        auto p = std::make_unique<QProcess>();
        p->setProcessEnvironment(FEnv);
        p->setProcessChannelMode(QProcess::MergedChannels);
        p->setStandardOutputFile(FRoot + QLatin1Char('/') + Program + QStringLiteral(".log"));
        p->setWorkingDirectory(FRoot);
        p->start(Program, Args);
        EXPECT_TRUE(p->waitForStarted(kToolTimeoutMs)) << Program.toStdString();
        FProcesses.push_back(std::move(p));
        return *FProcesses.back();
    }

    // openbox, and trayer when Tray: the program finds both running when it starts.
    void StartDesktop(bool Tray) {
        StartProgram(QStringLiteral("openbox"), {QStringLiteral("--sm-disable")});
        ASSERT_TRUE(WaitFor([&] {
            return RunTool(QStringLiteral("xprop"),
                           {QStringLiteral("-root"), QStringLiteral("_NET_SUPPORTING_WM_CHECK")})
                .Output.contains(QStringLiteral("window id"));
        })) << "openbox did not come up";
        if (Tray)
            StartTrayHost();
    }

    void StartTrayHost() {
        // A panel at the bottom that reserves its strip, as a desktop's panel does. Once in a
        // while trayer comes up without its panel on a busy machine: a second try then.
        const QStringList args{QStringLiteral("--edge"),
                               QStringLiteral("bottom"),
                               QStringLiteral("--align"),
                               QStringLiteral("right"),
                               QStringLiteral("--widthtype"),
                               QStringLiteral("pixel"),
                               QStringLiteral("--width"),
                               QStringLiteral("200"),
                               QStringLiteral("--heighttype"),
                               QStringLiteral("pixel"),
                               QStringLiteral("--height"),
                               QStringLiteral("32"),
                               QStringLiteral("--SetDockType"),
                               QStringLiteral("true"),
                               QStringLiteral("--SetPartialStrut"),
                               QStringLiteral("true")};
        auto panelShown = [&] {
            return !Xdotool({QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                             QStringLiteral("--class"), QStringLiteral("trayer")})
                        .isEmpty();
        };
        for (int attempt = 1; attempt <= 3; ++attempt) {
            QProcess& trayer = StartProgram(QStringLiteral("trayer"), args);
            if (WaitFor(panelShown, 10000))
                return;
            std::printf("note: trayer showed no panel (attempt %d, state %d)\n", attempt,
                        int(trayer.state()));
            trayer.kill();
            trayer.waitForFinished(5000);
        }
        FAIL() << "trayer did not come up; its output is in " << FRoot.toStdString() << "/trayer.log";
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

    // The first viewable window whose whole title matches Title (a regular expression).
    QString WaitForWindow(const QString& Title) const {
        QString id;
        WaitFor([&] {
            const QStringList ids =
                Xdotool({QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--name"),
                         QLatin1Char('^') + Title + QLatin1Char('$')});
            id = ids.isEmpty() ? QString() : ids.first();
            return !id.isEmpty();
        });
        return id;
    }

    // Keys pressed one after the other as a person would, with time for the program to answer.
    void Keys(const QStringList& Keys) const {
        Xdotool(QStringList{QStringLiteral("key"), QStringLiteral("--delay"), QStringLiteral("150")} + Keys);
        QThread::msleep(400);
    }

    QStringList ViewableWindowsOf(const QProcess& P) const {
        return Xdotool({QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--pid"),
                        QString::number(P.processId())});
    }

    // The drop windows; only the viewable ones unless All. In English or, until the next start
    // after German was chosen, in German.
    QStringList DropWindows(bool All = false) const {
        QStringList args{QStringLiteral("search")};
        if (!All)
            args << QStringLiteral("--onlyvisible");
        args << QStringLiteral("--name") << QStringLiteral("^(Quillo Drop Target|Quillo-Ablageziel)$");
        return Xdotool(args);
    }

    // The program's icon in the tray: its small viewable window other than the drop window.
    QString TrayIconWindow(const QProcess& P) const {
        const QStringList drops = DropWindows();
        for (const QString& id : ViewableWindowsOf(P)) {
            const std::optional<TWindowGeometry> g = Geometry(id);
            if (g && g->Width <= 64 && g->Height <= 64 && !drops.contains(id))
                return id;
        }
        return QString();
    }
    QString WaitForTrayIcon(const QProcess& P) const {
        QString id;
        WaitFor([&] {
            id = TrayIconWindow(P);
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

    // quillo.ini before a start, with Text as its whole content (keys not named keep their
    // defaults).
    void WriteSettings(const QString& Text) const {
        QFile f(FQuilloHome + QStringLiteral("/quillo.ini"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(Text.toUtf8());
    }

    // The settings as the program last saved them into the data folder.
    quillo::TAppSettings SavedSettings() const {
        quillo::SetDataFolderOverride(FQuilloHome.toStdString());
        quillo::LoadSettings();
        const quillo::TAppSettings s = quillo::SettingsSnapshot();
        quillo::SetDataFolderOverride(std::string());
        return s;
    }

    // Queue emptied, then filled from the jobs file as the program last wrote it; false when
    // the file is missing or cannot be read.
    bool LoadSavedJobs(quillo::TUploadQueue& Queue) const {
        Queue.Clear();
        return quillo::LoadJobs(Queue, (FQuilloHome + QStringLiteral("/quillo.jobs")).toStdString(), {});
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

} // namespace quillo::test
