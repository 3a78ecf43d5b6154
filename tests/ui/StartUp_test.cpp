// The real `quillo` program started twice, as a user would: the second start wakes the first
// and ends; a crashed first instance never blocks the next start.
#include "core/app/InstanceLock.h"
#include "support/TestEnvironment.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QThread>
#include <gtest/gtest.h>

#include <memory>

namespace {

class StartUpTest : public testing::Test {
protected:
    void SetUp() override {
        FRuntime = quillo::test::MakeScratchDir(QStringLiteral("runtime"));
        QFile::setPermissions(FRuntime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        FHome = quillo::test::MakeScratchDir(QStringLiteral("home"));
        FEvents = quillo::test::MakeScratchDir(QStringLiteral("events")) + QStringLiteral("/events.txt");
        FWorkDir = quillo::test::MakeScratchDir(QStringLiteral("cwd"));
    }
    void TearDown() override {
        for (auto& p : FProcesses)
            if (p->state() != QProcess::NotRunning) {
                p->kill();
                p->waitForFinished(5000);
            }
    }

    // Starts the program with its own runtime folder (the lock and the socket live there) and
    // data folder, inheriting the test's scratch environment.
    QProcess& Start(const QStringList& Args, const QString& Home = QString()) {
        auto p = std::make_unique<QProcess>();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), FRuntime);
        env.insert(QStringLiteral("QUILLO_HOME"), Home.isEmpty() ? FHome : Home);
        env.insert(QStringLiteral("QUILLO_TEST_EVENTS"), FEvents);
        env.insert(QStringLiteral("QUILLO_SITE"), QStringLiteral("127.0.0.1:9")); // never the real site
        p->setProcessEnvironment(env);
        p->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        p->setWorkingDirectory(FWorkDir);
        p->start(QStringLiteral(QUILLO_BINARY_DIR "/src/app/quillo"), Args);
        EXPECT_TRUE(p->waitForStarted(10000));
        FProcesses.push_back(std::move(p));
        return *FProcesses.back();
    }

    QStringList Events() const {
        QFile f(FEvents);
        if (!f.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

    // Waits (generously: the machine may be busy) until `Count` lines starting with `Prefix`.
    bool WaitForEvents(const QString& Prefix, int Count) const {
        QDeadlineTimer deadline(20000);
        while (!deadline.hasExpired()) {
            if (Events().filter(QRegularExpression(QLatin1Char('^') + Prefix)).size() >= Count)
                return true;
            QThread::msleep(20);
        }
        return false;
    }

    QString FRuntime, FHome, FEvents, FWorkDir;
    std::vector<std::unique_ptr<QProcess>> FProcesses;
};

TEST_F(StartUpTest, SecondStartShowsTheFirstAndEndsAtOnceWithoutTouchingFiles) {
    QProcess& first = Start({QStringLiteral("-m")});
    ASSERT_TRUE(WaitForEvents(QStringLiteral("ready"), 1));

    // The second start gets a data folder of its own: it must leave it untouched.
    const QString otherHome = quillo::test::MakeScratchDir(QStringLiteral("home2"));
    QProcess& second = Start({}, otherHome);
    // "At once": it does not even create an application object; the bound leaves room for a
    // busy machine.
    ASSERT_TRUE(second.waitForFinished(3000));
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_TRUE(Events().contains(QStringLiteral("ready visible=0")));
    EXPECT_TRUE(Events().contains(QStringLiteral("show-request 0 was-visible=0 visible=1")));
    EXPECT_TRUE(QDir(otherHome).isEmpty());
    EXPECT_EQ(first.state(), QProcess::Running);
}

TEST_F(StartUpTest, KilledInstanceNeverBlocksTheNextStart) {
    QProcess& first = Start({QStringLiteral("-m")});
    ASSERT_TRUE(WaitForEvents(QStringLiteral("ready"), 1));
    first.kill(); // SIGKILL: lock and socket file are left as a crash leaves them
    ASSERT_TRUE(first.waitForFinished(5000));

    QProcess& next = Start({QStringLiteral("-m")});
    ASSERT_TRUE(WaitForEvents(QStringLiteral("ready"), 2));
    EXPECT_EQ(next.state(), QProcess::Running);

    QProcess& waker = Start({});
    ASSERT_TRUE(waker.waitForFinished(3000));
    EXPECT_EQ(waker.exitCode(), 0);
    EXPECT_TRUE(Events().contains(QStringLiteral("show-request 0 was-visible=0 visible=1")));
}

TEST_F(StartUpTest, SimultaneousStartsLeaveExactlyOneInstance) {
    QProcess& a = Start({QStringLiteral("-m")});
    QProcess& b = Start({QStringLiteral("-m")});
    ASSERT_TRUE(WaitForEvents(QStringLiteral("ready"), 1));
    // The loser ends on its own; give it time to. (QProcess learns of an exit only while
    // waiting or serving events.)
    QDeadlineTimer deadline(10000);
    while (a.state() == QProcess::Running && b.state() == QProcess::Running && !deadline.hasExpired()) {
        a.waitForFinished(10);
        b.waitForFinished(10);
    }
    a.waitForFinished(300);
    b.waitForFinished(300);
    const int running = (a.state() == QProcess::Running) + (b.state() == QProcess::Running);
    EXPECT_EQ(running, 1);
    EXPECT_EQ(Events().filter(QRegularExpression(QStringLiteral("^ready"))).size(), 1);
    QProcess& loser = a.state() == QProcess::Running ? b : a;
    EXPECT_EQ(loser.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(loser.exitCode(), 0);
}

TEST_F(StartUpTest, OnlyAHyphenMAsFirstArgumentStartsHiddenAndHomeMayStandAnywhere) {
    const QString home = quillo::test::MakeScratchDir(QStringLiteral("home-arg"));
    struct Case {
        QStringList Args;
        bool Visible;
    } cases[] = {
        {{QStringLiteral("-m")}, false},
        {{QStringLiteral("-M")}, false},
        {{QStringLiteral("/m")}, true},
        {{QStringLiteral("x"), QStringLiteral("-m")}, true},
        {{QStringLiteral("--home"), home, QStringLiteral("-m")}, false},
        {{QStringLiteral("-m"), QStringLiteral("--home"), QStringLiteral("rel/../rel-home")}, false},
        {{}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Args.join(QLatin1Char(' ')).toStdString());
        QFile::remove(FEvents);
        QProcess& p = Start(c.Args);
        ASSERT_TRUE(WaitForEvents(QStringLiteral("ready"), 1));
        EXPECT_EQ(Events().first(), QStringLiteral("ready visible=%1").arg(c.Visible ? 1 : 0));
        p.kill();
        ASSERT_TRUE(p.waitForFinished(5000));
    }
    // The start writes the jobs file back, into the folder "--home" named (a relative one from
    // where the program was started).
    EXPECT_TRUE(QFile::exists(home + QStringLiteral("/quillo.jobs")));
    EXPECT_TRUE(QFile::exists(FWorkDir + QStringLiteral("/rel-home/quillo.jobs")));
}

TEST_F(StartUpTest, TerminationSignalEndsThroughTheCloseSteps) {
    QProcess& p = Start({});
    ASSERT_TRUE(WaitForEvents(QStringLiteral("ready"), 1));
    ASSERT_FALSE(QFile::exists(FHome + QStringLiteral("/quillo.ini")));
    p.terminate(); // SIGTERM
    ASSERT_TRUE(p.waitForFinished(10000));
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(p.exitCode(), 0);
    QFile ini(FHome + QStringLiteral("/quillo.ini"));
    ASSERT_TRUE(ini.open(QIODevice::ReadOnly));
    EXPECT_TRUE(ini.readAll().contains("WindowRect="));

    // The lock went with the process: the next start is the first again.
    Start({QStringLiteral("-m")});
    EXPECT_TRUE(WaitForEvents(QStringLiteral("ready"), 2));
}

// Files on the command line reach AddFiles of the instance that runs, as absolute names taken
// from the folder each start was made in; names that do not exist stay out.
TEST_F(StartUpTest, FilesGivenToAnyStartReachTheRunningInstanceAsAbsoluteNames) {
    QDir(FWorkDir).mkpath(QStringLiteral("sub"));
    for (const QString& name :
         {QStringLiteral("sub/a.txt"), QStringLiteral("b c.txt"), QStringLiteral("-dash")})
        QFile(FWorkDir + QLatin1Char('/') + name).open(QIODevice::WriteOnly);
    Start({QStringLiteral("-m"), QStringLiteral("./sub/a.txt"), QStringLiteral("missing.txt"),
           QStringLiteral("--"), QStringLiteral("-dash")});
    ASSERT_TRUE(WaitForEvents(QStringLiteral("add-files"), 1));
    EXPECT_TRUE(Events().contains(QStringLiteral("ready visible=0")));
    EXPECT_TRUE(Events().contains(QStringLiteral("add-files %1/sub/a.txt|%1/-dash").arg(FWorkDir)))
        << Events().join(QLatin1Char('\n')).toStdString();

    // A later start from another folder hands its files over and ends at once.
    const QString origin = FWorkDir;
    FWorkDir = origin + QStringLiteral("/sub");
    QProcess& second = Start({QStringLiteral("../b c.txt"), QStringLiteral("a.txt")});
    ASSERT_TRUE(second.waitForFinished(10000));
    EXPECT_EQ(second.exitCode(), 0);
    ASSERT_TRUE(WaitForEvents(QStringLiteral("add-files"), 2));
    EXPECT_TRUE(Events().contains(QStringLiteral("add-files %1/sub/../b c.txt|%1/sub/a.txt").arg(origin)))
        << Events().join(QLatin1Char('\n')).toStdString();
    // Handing files over is not a show request; a start without files still is one.
    EXPECT_TRUE(Events().filter(QStringLiteral("show-request")).isEmpty());
    QProcess& third = Start({});
    ASSERT_TRUE(third.waitForFinished(10000));
    EXPECT_TRUE(WaitForEvents(QStringLiteral("show-request 0"), 1));
    EXPECT_EQ(Events().filter(QRegularExpression(QStringLiteral("^ready"))).size(), 1);
}

// A start whose files nobody takes says so and fails, instead of ending as if they were queued.
TEST_F(StartUpTest, FilesNobodyTakesFailTheStart) {
    QFile(FWorkDir + QStringLiteral("/a.txt")).open(QIODevice::WriteOnly);
    // The lock is held, but nobody listens on the socket (as while quillo-cli runs).
    quillo::TInstanceLock holder;
    ASSERT_EQ(holder.Acquire(quillo::InstanceLockFileName(FRuntime.toStdString())),
              quillo::TInstanceLock::lrHeld);
    QProcess& p = Start({QStringLiteral("a.txt")});
    ASSERT_TRUE(p.waitForFinished(20000));
    EXPECT_EQ(p.exitCode(), 1);
}

} // namespace
