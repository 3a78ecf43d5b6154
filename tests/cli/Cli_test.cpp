// quillo-cli as a user runs it: a child process on a scratch data folder, uploading to the
// stand-in service on loopback.
#include "core/queue/JobsFile.h"
#include "support/BrimvaultService.h"
#include "support/TestEnvironment.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <linux/capability.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quillo {
namespace {

using test::TBrimvaultService;

const QString kCli = QStringLiteral(QUILLO_BINARY_DIR "/src/cli/quillo-cli");
const QString kImproperly = QStringLiteral("Upload failed because the program was improperly terminated");

struct TResult {
    int ExitCode = -1;
    QString Out;
    QString Err;
};

class CliTest : public ::testing::Test {
protected:
    void SetUp() override {
        FHome = test::UseFreshHome();
        FRuntime = test::MakeScratchDir(QStringLiteral("runtime"));
        FFiles = test::MakeScratchDir(QStringLiteral("files"));
        test::TBrimvaultServiceOptions options;
        options.Accounts = {{QStringLiteral("demo"), QStringLiteral("secret")}};
        ASSERT_TRUE(FService.Start(options)) << FService.ErrorText().toStdString();
        ASSERT_EQ(Run({"set", "Brimvault.UseAccount=1", "Brimvault.UserName=demo",
                       "Brimvault.Password=secret", "UploadManager.RetryCount=2"})
                      .ExitCode,
                  0);
    }

    QProcessEnvironment Env() const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QUILLO_HOME"), FHome);
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), FRuntime);
        env.insert(QStringLiteral("QUILLO_SITE"), FService.SiteHost());
        env.insert(QStringLiteral("QUILLO_FTP_PORT"), QString::number(FService.FtpPort()));
        return env;
    }
    void StartCli(QProcess& p, const QStringList& args) const {
        p.setProcessEnvironment(Env());
        if (!FWorkDir.isEmpty())
            p.setWorkingDirectory(FWorkDir);
        if (FAsUser)
            p.setChildProcessModifier([] {
                // Root reads and writes whatever it likes; without these two powers the file
                // modes apply to it as to anyone, which is what a test of unreadable or
                // read-only folders needs. Harmless (and failing) for another user.
                ::prctl(PR_CAPBSET_DROP, CAP_DAC_OVERRIDE, 0, 0, 0);
                ::prctl(PR_CAPBSET_DROP, CAP_DAC_READ_SEARCH, 0, 0, 0);
            });
        p.start(kCli, args);
        ASSERT_TRUE(p.waitForStarted(10000));
    }
    TResult Finish(QProcess& p, int timeoutMs = 60000) const {
        EXPECT_TRUE(p.waitForFinished(timeoutMs)) << "quillo-cli did not end";
        return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
                QString::fromUtf8(p.readAllStandardOutput()), QString::fromUtf8(p.readAllStandardError())};
    }
    TResult Run(const QStringList& args, int timeoutMs = 60000) const {
        QProcess p;
        StartCli(p, args);
        return Finish(p, timeoutMs);
    }
    // Run with a last argument given as raw bytes (QProcess passes only text): a shell builds
    // the word from octal escapes.
    TResult RunWithBytes(const QStringList& args, const QByteArray& last) const {
        QString escaped;
        for (char c : last)
            escaped += QStringLiteral("\\%1").arg(uint(uchar(c)), 3, 8, QLatin1Char('0'));
        QProcess p;
        p.setProcessEnvironment(Env());
        p.start(QStringLiteral("/bin/sh"),
                QStringList{QStringLiteral("-c"),
                            QStringLiteral("exec \"$0\" \"$@\" \"$(printf '%1')\"").arg(escaped), kCli} +
                    args);
        EXPECT_TRUE(p.waitForStarted(10000));
        return Finish(p);
    }
    QString MakeFile(const QString& name, qint64 size) const {
        const QString path = FFiles + QLatin1Char('/') + name;
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        QByteArray block(64 * 1024, Qt::Uninitialized);
        for (qint64 done = 0; done < size;) {
            for (char& c : block)
                c = char(QRandomGenerator::global()->generate());
            const qint64 n = std::min<qint64>(block.size(), size - done);
            f.write(block.constData(), n);
            done += n;
        }
        return path;
    }
    // A file whose name is given as bytes (QFile would take it as UTF-8 text).
    static bool WriteBytesNamed(const QByteArray& path, const QByteArray& content) {
        const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const bool ok =
            fd >= 0 && ::write(fd, content.constData(), std::size_t(content.size())) == content.size();
        if (fd >= 0)
            ::close(fd);
        return ok;
    }
    static QByteArray ReadAll(const QString& path) {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    QJsonArray Json(const QStringList& args) const {
        const TResult r = Run(args);
        EXPECT_EQ(r.ExitCode, 0) << r.Err.toStdString();
        return QJsonDocument::fromJson(r.Out.toUtf8()).array();
    }
    // The bytes the stand-in holds for an HTTP upload, found through its download link.
    QByteArray StoredHttpUpload(const QString& fileName) const {
        for (const QJsonObject& e : FService.HttpRequests(QStringLiteral("/cgi-bin/upload.cgi"))) {
            const QJsonObject stored = e.value(QStringLiteral("stored")).toObject();
            if (stored.value(QStringLiteral("name")).toString() == fileName)
                return ReadAll(stored.value(QStringLiteral("path")).toString());
        }
        return {};
    }
    // Waits until the service has received at least `bytes` of a transfer (either method).
    bool WaitForServerBytes(const QString& ftpName, qint64 bytes, int timeoutMs = 20000) const {
        for (int waited = 0; waited < timeoutMs; waited += 50) {
            if (QFileInfo(FService.AccountFilePath(QStringLiteral("demo"), ftpName)).size() >= bytes)
                return true;
            QThread::msleep(50);
        }
        return false;
    }

    // 'run' on a throttled FTP server, sent Signal once ftpName's data flows; how the run ended.
    TResult SignalledFtpRun(const QString& ftpName, int Signal) {
        EXPECT_TRUE(FService.SetFaults(QJsonObject{{"ftp_throttle", 300000}}));
        QProcess runner;
        StartCli(runner, {"run"});
        EXPECT_TRUE(WaitForServerBytes(ftpName, 300000));
        ::kill(pid_t(runner.processId()), Signal);
        return Finish(runner);
    }

    QString FHome, FRuntime, FFiles;
    QString FWorkDir;     // the child's working folder; empty: ours
    bool FAsUser = false; // the child runs without root's power over file modes
    TBrimvaultService FService;
};

TEST_F(CliTest, UploadsWithBothMethodsAndPrintsTheLinks) {
    const QString a = MakeFile(QStringLiteral("http-file.bin"), 300000);
    const QString b = MakeFile(QStringLiteral("ftp-file.bin"), 200000);
    ASSERT_EQ(Run({"add", "--method", "HTTP Method", a}).ExitCode, 0);
    ASSERT_EQ(Run({"add", "--method", "FTP Method", "--name", "renamed.bin", b}).ExitCode, 0);
    const TResult dup = Run({"add", a});
    EXPECT_EQ(dup.ExitCode, 0);
    EXPECT_TRUE(dup.Out.contains(QStringLiteral("already in the upload queue"))) << dup.Out.toStdString();

    const TResult run = Run({"run"});
    ASSERT_EQ(run.ExitCode, 0) << run.Out.toStdString() << run.Err.toStdString();
    EXPECT_TRUE(run.Out.contains(QStringLiteral("download: http://127.0.0.1:"))) << run.Out.toStdString();
    EXPECT_TRUE(run.Out.contains(QStringLiteral("http-file.bin 100% "))) << "a progress line per task";
    EXPECT_TRUE(run.Out.contains(QStringLiteral("renamed.bin 100% "))) << run.Out.toStdString();

    const QJsonArray finished = Json({"finished", "--json"});
    ASSERT_EQ(finished.size(), 2);
    for (const QJsonValue& v : finished) {
        EXPECT_TRUE(
            v[QStringLiteral("downloadLink")].toString().startsWith(QStringLiteral("http://127.0.0.1:")));
        EXPECT_FALSE(v[QStringLiteral("deleteLink")].toString().isEmpty());
    }
    EXPECT_EQ(Json({"list", "--json"}).size(), 0);
    EXPECT_EQ(StoredHttpUpload(QStringLiteral("http-file.bin")), ReadAll(a));
    EXPECT_EQ(FService.ReadAccountFile(QStringLiteral("demo"), QStringLiteral("renamed.bin")), ReadAll(b));
    const TResult links = Run({"links"});
    EXPECT_EQ(links.Out.count(QStringLiteral("download: http://")), 2) << links.Out.toStdString();
}

// quillo-cli cannot start minimized into the tray: the login entry names the desktop program.
TEST_F(CliTest, AutostartEntryStartsTheDesktopProgram) {
    const QByteArray savedXdg = qgetenv("XDG_CONFIG_HOME");
    const QString xdg = test::MakeScratchDir(QStringLiteral("xdg"));
    qputenv("XDG_CONFIG_HOME", xdg.toLocal8Bit());
    const QString entry = xdg + QStringLiteral("/autostart/ZOR_Quillo.desktop");
    const QString gui = QStringLiteral(QUILLO_BINARY_DIR "/src/app/quillo");
    const QString program =
        QFileInfo::exists(gui) ? QFileInfo(gui).canonicalFilePath() : QStringLiteral("quillo");

    TResult r = Run({"set", "General.StartWithWindows=1"});
    EXPECT_EQ(r.ExitCode, 0) << r.Err.toStdString();
    const QString text = QString::fromUtf8(ReadAll(entry));
    EXPECT_TRUE(text.contains(QStringLiteral("\nExec=\"") + program + QStringLiteral("\" -m\n")))
        << text.toStdString();
    EXPECT_FALSE(text.contains(QStringLiteral("quillo-cli"))) << text.toStdString();
    // A later save by quillo-cli keeps it so; switching the option off removes it.
    r = Run({"set", "UploadManager.RetryCount=3"});
    EXPECT_EQ(QString::fromUtf8(ReadAll(entry)), text);
    r = Run({"set", "General.StartWithWindows=0"});
    EXPECT_EQ(r.ExitCode, 0) << r.Err.toStdString();
    EXPECT_FALSE(QFileInfo::exists(entry));
    qputenv("XDG_CONFIG_HOME", savedXdg);
}

TEST_F(CliTest, RefusesWhileAnotherInstanceHoldsTheLock) {
    const QString a = MakeFile(QStringLiteral("a.bin"), 10);
    // The desktop program's lock file, as its single-instance guard names it.
    const QString lockName = FRuntime + QStringLiteral("/ZOR_Quillo_Mutex-%1.lock").arg(::getuid());
    const int fd = ::open(lockName.toLocal8Bit().constData(), O_RDWR | O_CREAT, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
    const TResult r = Run({"add", a});
    ::close(fd);
    EXPECT_EQ(r.ExitCode, 3);
    EXPECT_TRUE(r.Err.contains(QStringLiteral("already running"))) << r.Err.toStdString();
    EXPECT_FALSE(QFile::exists(FHome + QStringLiteral("/quillo.jobs")));
    EXPECT_EQ(Run({"add", a}).ExitCode, 0) << "the lock is free again";

    // A running quillo-cli holds it too.
    ASSERT_EQ(
        Run({"set", "Scheduler.Enabled=1", "Scheduler.StartTime=3:00", "Scheduler.EndTime=3:00"}).ExitCode,
        0);
    QProcess runner;
    StartCli(runner, {"run"});
    ASSERT_TRUE(runner.waitForReadyRead(10000));
    EXPECT_EQ(Run({"list"}).ExitCode, 3);
    runner.terminate();
    EXPECT_EQ(Finish(runner).ExitCode, 130);
}

TEST_F(CliTest, KilledRunComesBackInErrorAndResumes) {
    const QString ftpFile = MakeFile(QStringLiteral("big-ftp.bin"), 3 * 1024 * 1024);
    const QString httpFile = MakeFile(QStringLiteral("big-http.bin"), 2 * 1024 * 1024);
    const QString small = MakeFile(QStringLiteral("later.bin"), 1000);
    ASSERT_EQ(Run({"add", "--method", "FTP Method", ftpFile}).ExitCode, 0);
    ASSERT_EQ(Run({"add", "--method", "HTTP Method", httpFile}).ExitCode, 0);
    ASSERT_EQ(Run({"add", "--method", "HTTP Method", "--delayed", small}).ExitCode, 0);
    ASSERT_TRUE(FService.SetFaults(QJsonObject{{"ftp_throttle", 400000}, {"throttle", 200000}}));

    QProcess runner;
    StartCli(runner, {"run"});
    ASSERT_TRUE(WaitForServerBytes(QStringLiteral("big-ftp.bin"), 500000))
        << "the FTP upload never got going";
    ::kill(pid_t(runner.processId()), SIGKILL);
    runner.waitForFinished(10000);
    const qint64 onServer = QFileInfo(FService.AccountFilePath("demo", "big-ftp.bin")).size();
    ASSERT_GT(onServer, 0);
    ASSERT_LT(onServer, 3 * 1024 * 1024);

    const QJsonArray tasks = Json({"list", "--json"});
    ASSERT_EQ(tasks.size(), 3);
    for (int i : {0, 1}) {
        EXPECT_EQ(tasks[i][QStringLiteral("state")].toString(), QStringLiteral("Error"));
        EXPECT_EQ(tasks[i][QStringLiteral("status")].toString(), kImproperly);
    }
    EXPECT_EQ(tasks[2][QStringLiteral("state")].toString(), QStringLiteral("Delayed"));
    EXPECT_TRUE(tasks[0][QStringLiteral("resumeInfo")].toString().contains(QStringLiteral("upserver=")))
        << "the FTP server chosen for the task reached the jobs file";

    ASSERT_TRUE(FService.ResetFaults());
    ASSERT_TRUE(FService.ClearLog());
    ASSERT_EQ(Run({"start", "1", "2"}).ExitCode, 0);
    const TResult run = Run({"run"});
    ASSERT_EQ(run.ExitCode, 0) << run.Out.toStdString() << run.Err.toStdString();
    EXPECT_EQ(FService.ReadAccountFile("demo", "big-ftp.bin"), ReadAll(ftpFile));
    EXPECT_EQ(StoredHttpUpload(QStringLiteral("big-http.bin")), ReadAll(httpFile));
    const QStringList ftp = FService.FtpCommandLines();
    EXPECT_TRUE(ftp.contains(QStringLiteral("APPE big-ftp.bin"))) << ftp.join(QLatin1Char('|')).toStdString();
    EXPECT_FALSE(ftp.contains(QStringLiteral("STOR big-ftp.bin")));
    const QJsonArray left = Json({"list", "--json"});
    ASSERT_EQ(left.size(), 1);
    EXPECT_EQ(left[0][QStringLiteral("state")].toString(), QStringLiteral("Delayed"));
    EXPECT_EQ(Json({"finished", "--json"}).size(), 2);
}

TEST_F(CliTest, SignalStopsUploadsAsDelayedAndTheNextRunResumes) {
    const QString ftpFile = MakeFile(QStringLiteral("stop-ftp.bin"), 2 * 1024 * 1024);
    ASSERT_EQ(Run({"add", "--method", "FTP Method", ftpFile}).ExitCode, 0);
    const TResult stopped = SignalledFtpRun(QStringLiteral("stop-ftp.bin"), SIGINT);
    EXPECT_EQ(stopped.ExitCode, 130) << stopped.Out.toStdString() << stopped.Err.toStdString();
    const QJsonArray tasks = Json({"list", "--json"});
    ASSERT_EQ(tasks.size(), 1);
    EXPECT_EQ(tasks[0][QStringLiteral("state")].toString(), QStringLiteral("Delayed"));
    EXPECT_TRUE(tasks[0][QStringLiteral("resumeInfo")].toString().contains(QStringLiteral("upserver=")));

    ASSERT_TRUE(FService.ResetFaults());
    ASSERT_TRUE(FService.ClearLog());
    ASSERT_EQ(Run({"start", "--all"}).ExitCode, 0);
    const TResult run = Run({"run"});
    ASSERT_EQ(run.ExitCode, 0) << run.Out.toStdString() << run.Err.toStdString();
    EXPECT_TRUE(FService.FtpCommandLines().contains(QStringLiteral("APPE stop-ftp.bin")));
    EXPECT_EQ(FService.ReadAccountFile("demo", "stop-ftp.bin"), ReadAll(ftpFile));
}

// A closing terminal (SIGHUP) stops the run the same way, instead of killing it mid-transfer.
TEST_F(CliTest, HangUpStopsUploadsAsDelayed) {
    const QString ftpFile = MakeFile(QStringLiteral("hangup-ftp.bin"), 2 * 1024 * 1024);
    ASSERT_EQ(Run({"add", "--method", "FTP Method", ftpFile}).ExitCode, 0);
    const TResult stopped = SignalledFtpRun(QStringLiteral("hangup-ftp.bin"), SIGHUP);
    EXPECT_EQ(stopped.ExitCode, 130) << stopped.Out.toStdString() << stopped.Err.toStdString();
    const QJsonArray tasks = Json({"list", "--json"});
    ASSERT_EQ(tasks.size(), 1);
    EXPECT_EQ(tasks[0][QStringLiteral("state")].toString(), QStringLiteral("Delayed"));
}

TEST_F(CliTest, FailedUploadGivesNonZeroExitAndKeepsTheTask) {
    // Larger than either method accepts; sparse, so it costs no disk.
    const QString huge = FFiles + QStringLiteral("/huge.bin");
    {
        QFile f(huge);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        ASSERT_TRUE(f.resize(300LL * 1024 * 1024));
    }
    const QString fine = MakeFile(QStringLiteral("fine.bin"), 1000);
    ASSERT_EQ(Run({"add", "--method", "HTTP Method", huge, fine}).ExitCode, 0);
    const TResult run = Run({"run"});
    EXPECT_EQ(run.ExitCode, 1) << run.Out.toStdString() << run.Err.toStdString();
    const QJsonArray tasks = Json({"list", "--json"});
    ASSERT_EQ(tasks.size(), 1);
    EXPECT_EQ(tasks[0][QStringLiteral("state")].toString(), QStringLiteral("Error"));
    EXPECT_TRUE(
        tasks[0][QStringLiteral("status")].toString().startsWith(QStringLiteral("This file is too big.")));
    EXPECT_EQ(Json({"finished", "--json"}).size(), 1);
}

TEST_F(CliTest, AddExpandsFoldersAndDropsRepeats) {
    ASSERT_TRUE(QDir().mkpath(FFiles + QStringLiteral("/tree/sub")));
    ASSERT_TRUE(QDir().mkpath(FFiles + QStringLiteral("/empty")));
    const QString a = MakeFile(QStringLiteral("tree/a.bin"), 10);
    MakeFile(QStringLiteral("tree/.hidden"), 10);
    MakeFile(QStringLiteral("tree/sub/b.bin"), 10);
    const QString loose = MakeFile(QStringLiteral("loose.bin"), 10);
    const TResult r = Run(
        {"add", "--delayed", FFiles + QStringLiteral("/tree"), a, loose, FFiles + QStringLiteral("/empty")});
    ASSERT_EQ(r.ExitCode, 0) << r.Err.toStdString();
    const QJsonArray tasks = Json({"list", "--json"});
    ASSERT_EQ(tasks.size(), 4);
    EXPECT_EQ(tasks[0][QStringLiteral("file")].toString(), a) << "files named directly come first";
    EXPECT_EQ(tasks[1][QStringLiteral("file")].toString(), loose);
    for (const QJsonValue& t : tasks)
        EXPECT_EQ(t[QStringLiteral("state")].toString(), QStringLiteral("Delayed"));
    const TResult again = Run({"add", FFiles + QStringLiteral("/tree")});
    EXPECT_TRUE(
        again.Out.contains(QStringLiteral("The files you want to add are already in the upload queue")))
        << again.Out.toStdString();
    EXPECT_EQ(Json({"list", "--json"}).size(), 4);
}

TEST_F(CliTest, RemoveCountsATaskNamedTwiceOnce) {
    const QString a = MakeFile(QStringLiteral("a.bin"), 10);
    const QString b = MakeFile(QStringLiteral("b.bin"), 10);
    ASSERT_EQ(Run({"add", "--delayed", a, b}).ExitCode, 0);
    const TResult r = Run({"remove", "1", "1-2"});
    EXPECT_EQ(r.ExitCode, 0) << r.Err.toStdString();
    EXPECT_TRUE(r.Out.startsWith(QStringLiteral("Removed 2 tasks."))) << r.Out.toStdString();
    EXPECT_EQ(Json({"list", "--json"}).size(), 0);
}

// A limit beyond what 32 bits of bytes per second hold means "as fast as it goes", never a
// limit that has wrapped around to a few bytes.
TEST_F(CliTest, HugeSpeedLimitDoesNotThrottle) {
    ASSERT_EQ(Run({"set", "UploadManager.SpeedLimit=4194305"}).ExitCode, 0);
    const QString a = MakeFile(QStringLiteral("limited.bin"), 200000);
    ASSERT_EQ(Run({"add", "--method", "HTTP Method", a}).ExitCode, 0);
    const TResult run = Run({"run"});
    EXPECT_EQ(run.ExitCode, 0) << run.Out.toStdString() << run.Err.toStdString();
    EXPECT_EQ(StoredHttpUpload(QStringLiteral("limited.bin")), ReadAll(a));
}

TEST_F(CliTest, BadInputIsRefusedWithoutTouchingTheQueue) {
    const QString a = MakeFile(QStringLiteral("a.bin"), 10);
    struct TCase {
        QStringList Args;
        const char* Message;
    };
    const TCase cases[] = {
        {{"add", "--method", "SMTP Method", a}, "unknown upload method"},
        {{"add", FFiles + QStringLiteral("/missing.bin")}, "no such file"},
        {{"add", "--name", "x.bin", a, a + QStringLiteral("2")}, "no such file"},
        {{"start", "7"}, "no task 7"},
        {{"set", "General.Nonsense=1"}, "unknown or read-only setting"},
        {{"set", "Scheduler.StartTime=25:99"}, "time of day"},
        {{"set", "UploadManager.ParallelThreads=three"}, "whole number"},
        {{"set", "Brimvault.UseAccount=yes"}, "whole number"},
        {{"frobnicate"}, "unknown command"},
        {{"list", "3"}, "takes no arguments"},
        {{"links", "x"}, "takes no arguments"},
        {{"settings", "x"}, "takes no arguments"},
    };
    for (const TCase& c : cases) {
        const TResult r = Run(c.Args);
        EXPECT_EQ(r.ExitCode, 2) << c.Args.join(' ').toStdString();
        EXPECT_TRUE(r.Err.contains(QLatin1String(c.Message))) << r.Err.toStdString();
    }
    EXPECT_FALSE(QFile::exists(FHome + QStringLiteral("/quillo.jobs")));
    ASSERT_EQ(Run({"set", "Brimvault.UseAccount=0"}).ExitCode, 0);
    const TResult ftp = Run({"add", "--method", "FTP Method", a});
    EXPECT_EQ(ftp.ExitCode, 2);
    EXPECT_TRUE(ftp.Err.contains(QStringLiteral("Brimvault account"))) << ftp.Err.toStdString();
}

// kill -9 right after 'run' printed "finished": the jobs file already holds the upload as
// finished, and the next run does not send it again.
TEST_F(CliTest, KillRightAfterFinishedIsPrintedKeepsTheRecord) {
    for (int killAfter : {1, 3}) {
        SCOPED_TRACE(killAfter);
        for (int i = 0; i < 8; ++i)
            MakeFile(QStringLiteral("k%1-%2.bin").arg(killAfter).arg(i), 20000 + i);
        ASSERT_EQ(Run({"add", "--method", "HTTP Method", FFiles}).ExitCode, 0);
        QProcess runner;
        StartCli(runner, {"run"});
        QStringList reported;
        while (reported.size() < killAfter) {
            if (!runner.canReadLine() && !runner.waitForReadyRead(30000))
                break;
            while (runner.canReadLine()) {
                const QString line = QString::fromUtf8(runner.readLine()).trimmed();
                if (line.startsWith(QStringLiteral("finished ")))
                    reported << line.mid(9);
            }
        }
        ::kill(pid_t(runner.processId()), SIGKILL);
        runner.waitForFinished(10000);
        for (const QString& line : QString::fromUtf8(runner.readAllStandardOutput()).split(QLatin1Char('\n')))
            if (line.startsWith(QStringLiteral("finished ")))
                reported << line.mid(9).trimmed();
        ASSERT_GE(reported.size(), killAfter);

        QStringList finished;
        for (const QJsonValue& v : Json({"finished", "--json"}))
            finished << QFileInfo(v[QStringLiteral("file")].toString()).fileName();
        for (const QString& name : reported)
            EXPECT_TRUE(finished.contains(name))
                << name.toStdString() << " was printed as finished but is lost";

        // The rest goes up on the next run; nothing printed as finished is sent a second time.
        ASSERT_EQ(Run({"start", "--all"}).ExitCode, 0);
        const TResult again = Run({"run"});
        ASSERT_EQ(again.ExitCode, 0) << again.Out.toStdString() << again.Err.toStdString();
        for (const QString& name : reported) {
            int sent = 0;
            for (const QJsonObject& e : FService.HttpRequests(QStringLiteral("/cgi-bin/upload.cgi")))
                sent +=
                    e.value(QStringLiteral("stored")).toObject().value(QStringLiteral("name")).toString() ==
                    name;
            EXPECT_EQ(sent, 1) << name.toStdString();
        }
        ASSERT_EQ(Run({"remove", "--all"}).ExitCode, 0);
        for (const QString& f : QDir(FFiles).entryList(QDir::Files))
            QFile::remove(FFiles + QLatin1Char('/') + f);
    }
}

// A save that fails loses what the command did (an added task is gone, an uploaded one stays
// Queued and would be uploaded again): the exit code must say so.
TEST_F(CliTest, ExitsNonZeroWhenTheQueueCannotBeSaved) {
    const QString a = MakeFile(QStringLiteral("a.bin"), 1000);
    const QByteArray home = FHome.toLocal8Bit();
    FAsUser = true;
    ASSERT_EQ(::chmod(home.constData(), 0555), 0);
    const TResult add = Run({"add", a});
    ::chmod(home.constData(), 0755);
    EXPECT_EQ(add.ExitCode, 5) << add.Out.toStdString() << add.Err.toStdString();
    EXPECT_TRUE(add.Err.contains(QStringLiteral("not saved"))) << add.Err.toStdString();
    EXPECT_EQ(Json({"list", "--json"}).size(), 0);

    ASSERT_EQ(Run({"add", "--method", "HTTP Method", a}).ExitCode, 0);
    ASSERT_EQ(::chmod(home.constData(), 0555), 0);
    const TResult run = Run({"run"});
    const TResult remove = Run({"remove", "1"});
    ::chmod(home.constData(), 0755);
    EXPECT_EQ(run.ExitCode, 5) << run.Out.toStdString() << run.Err.toStdString();
    EXPECT_TRUE(run.Out.contains(QStringLiteral("finished a.bin"))) << "the upload itself worked";
    EXPECT_EQ(remove.ExitCode, 5) << remove.Err.toStdString();
    FAsUser = false;
    const QJsonArray tasks = Json({"list", "--json"});
    ASSERT_EQ(tasks.size(), 1) << "nothing of it reached the jobs file";
    EXPECT_EQ(tasks[0][QStringLiteral("state")].toString(), QStringLiteral("Queued"));
}

TEST_F(CliTest, NamesUnreadableFoldersAndSkippedEntries) {
    ASSERT_TRUE(QDir().mkpath(FFiles + QStringLiteral("/tree/locked")));
    MakeFile(QStringLiteral("tree/locked/secret.bin"), 10);
    const QString fine = MakeFile(QStringLiteral("tree/fine.bin"), 10);
    const QByteArray locked = (FFiles + QStringLiteral("/tree/locked")).toLocal8Bit();
    const QString pipe = FFiles + QStringLiteral("/tree/pipe");
    ASSERT_EQ(::mkfifo(pipe.toLocal8Bit().constData(), 0644), 0);
    ASSERT_EQ(::chmod(locked.constData(), 0), 0);
    FAsUser = true;
    const TResult tree = Run({"add", "--delayed", FFiles + QStringLiteral("/tree")});
    const TResult only = Run({"add", QString::fromLocal8Bit(locked)});
    FAsUser = false;
    ::chmod(locked.constData(), 0755);

    EXPECT_EQ(tree.ExitCode, 4) << tree.Err.toStdString();
    EXPECT_TRUE(tree.Err.contains(QStringLiteral("could not add ") + QString::fromLocal8Bit(locked) +
                                  QStringLiteral(": cannot read the folder: Permission denied")))
        << tree.Err.toStdString();
    EXPECT_TRUE(tree.Err.contains(QStringLiteral("skipped ") + pipe)) << tree.Err.toStdString();
    EXPECT_TRUE(tree.Out.contains(QStringLiteral("Added 1 file"))) << tree.Out.toStdString();
    EXPECT_EQ(only.ExitCode, 4) << only.Err.toStdString();
    EXPECT_TRUE(only.Err.contains(QStringLiteral("Permission denied"))) << only.Err.toStdString();
    const QJsonArray tasks = Json({"list", "--json"});
    ASSERT_EQ(tasks.size(), 1);
    EXPECT_EQ(tasks[0][QStringLiteral("file")].toString(), fine);
}

TEST_F(CliTest, DoubleDashEndsTheOptions) {
    MakeFile(QStringLiteral("-n.bin"), 10);
    MakeFile(QStringLiteral("--json"), 10);
    FWorkDir = FFiles;
    const TResult add = Run({"add", "--delayed", "--", "-n.bin", "--json"});
    EXPECT_EQ(add.ExitCode, 0) << add.Err.toStdString();
    const QJsonArray tasks = Json({"list", "--json"});
    ASSERT_EQ(tasks.size(), 2);
    EXPECT_EQ(tasks[0][QStringLiteral("file")].toString(), FFiles + QStringLiteral("/-n.bin"));
    EXPECT_EQ(tasks[1][QStringLiteral("file")].toString(), FFiles + QStringLiteral("/--json"));
    EXPECT_EQ(tasks[1][QStringLiteral("state")].toString(), QStringLiteral("Delayed"));
    EXPECT_EQ(Run({"remove", "--", "2"}).ExitCode, 0);
    EXPECT_EQ(Run({"list", "--", "--json"}).ExitCode, 2) << "after -- a word is no option";
    EXPECT_EQ(Run({"set", "--", "UploadManager.RetryCount=3"}).ExitCode, 0);
    EXPECT_EQ(Json({"list", "--json"}).size(), 1);
}

TEST_F(CliTest, ControlCharactersInNamesDoNotReachTheTerminal) {
    // An OSC sequence that would retitle the terminal, then clear the screen.
    const QString evil = MakeFile(QStringLiteral("evil\x1b]0;owned\x07\x1b[2J\u009b.bin"), 1000);
    ASSERT_EQ(Run({"add", "--method", "HTTP Method", evil}).ExitCode, 0);
    const auto clean = [](const TResult& r) {
        for (const QString& text : {r.Out, r.Err})
            for (QChar c : text)
                if ((c.unicode() < 0x20 && c != QLatin1Char('\n')) ||
                    (c.unicode() >= 0x7f && c.unicode() <= 0x9f))
                    return false;
        return true;
    };
    const TResult list = Run({"list"});
    EXPECT_TRUE(clean(list)) << list.Out.toStdString();
    EXPECT_TRUE(list.Out.contains(QStringLiteral("evil\\x1B]0;owned\\x07\\x1B[2J\\u009B.bin")))
        << list.Out.toStdString();
    EXPECT_EQ(Json({"list", "--json"})[0][QStringLiteral("file")].toString(), evil) << "JSON stays exact";
    const TResult missing = Run({"add", FFiles + QStringLiteral("/gone\x1b[2J")});
    EXPECT_EQ(missing.ExitCode, 2);
    EXPECT_TRUE(clean(missing)) << missing.Err.toStdString();
    const TResult run = Run({"run"});
    EXPECT_EQ(run.ExitCode, 0) << run.Err.toStdString();
    EXPECT_TRUE(clean(run)) << run.Out.toStdString();
    EXPECT_TRUE(clean(Run({"finished"})));
    EXPECT_TRUE(clean(Run({"links"})));
    ASSERT_EQ(Run({"set", QStringLiteral("Brimvault.UserName=demo\x1b[2J")}).ExitCode, 0);
    const TResult settings = Run({"settings"});
    EXPECT_TRUE(clean(settings)) << settings.Out.toStdString();
    EXPECT_TRUE(settings.Out.contains(QStringLiteral("demo\\x1B[2J"))) << settings.Out.toStdString();
}

// Files from old archives and other systems carry names in other encodings: the bytes are the
// name, from the folder listing to the request.
TEST_F(CliTest, NamesThatAreNotUtf8AreAddedListedAndUploadedAsTheirBytes) {
    ASSERT_TRUE(QDir().mkpath(FFiles + QStringLiteral("/old")));
    const QByteArray path = FFiles.toLocal8Bit() + "/old/caf\xff.bin";
    ASSERT_TRUE(WriteBytesNamed(path, QByteArray(5000, 'q')));

    const TResult add = RunWithBytes({"add", "--method", "HTTP Method"}, path);
    EXPECT_EQ(add.ExitCode, 0) << add.Err.toStdString();
    const TResult list = Run({"list"});
    EXPECT_TRUE(list.Out.contains(QStringLiteral("caf\\xFF.bin"))) << list.Out.toStdString();
    QJsonArray tasks = Json({"list", "--json"});
    ASSERT_EQ(tasks.size(), 1);
    EXPECT_EQ(tasks[0][QStringLiteral("fileHex")].toString(), QString::fromLatin1(path.toHex()));
    EXPECT_EQ(tasks[0][QStringLiteral("size")].toInteger(), 5000);

    // Through its folder the file is found too, not skipped without a word.
    ASSERT_EQ(Run({"remove", "--all"}).ExitCode, 0);
    const TResult folder = Run({"add", "--method", "HTTP Method", FFiles + QStringLiteral("/old")});
    EXPECT_EQ(folder.ExitCode, 0) << folder.Err.toStdString();
    tasks = Json({"list", "--json"});
    ASSERT_EQ(tasks.size(), 1);
    EXPECT_EQ(tasks[0][QStringLiteral("fileHex")].toString(), QString::fromLatin1(path.toHex()));

    const TResult run = Run({"run"});
    EXPECT_EQ(run.ExitCode, 0) << run.Out.toStdString() << run.Err.toStdString();
    bool sent = false;
    for (const QJsonObject& e : FService.HttpRequests(QStringLiteral("/cgi-bin/upload.cgi")))
        for (const QJsonValue& part : e[QStringLiteral("form")][QStringLiteral("parts")].toArray())
            sent = sent || QByteArray::fromHex(part[QStringLiteral("raw_headers_hex")].toString().toLatin1())
                               .contains("filename=\"caf\xff.bin\"");
    EXPECT_TRUE(sent) << "the request names the file by its own bytes";
    const QJsonArray finished = Json({"finished", "--json"});
    ASSERT_EQ(finished.size(), 1);
    EXPECT_EQ(finished[0][QStringLiteral("fileHex")].toString(), QString::fromLatin1(path.toHex()));
    ::unlink(path.constData()); // the scratch folder's clean-up could not name it
}

TEST_F(CliTest, NamesThatAreNotUtf8ReachTheFtpServerAsTheirBytes) {
    const QByteArray path = FFiles.toLocal8Bit() + "/\xe9t\xe9.bin"; // Latin-1 "été"
    const QByteArray content(70000, 'z');
    ASSERT_TRUE(WriteBytesNamed(path, content));
    const TResult add = RunWithBytes({"add", "--method", "FTP Method"}, path);
    EXPECT_EQ(add.ExitCode, 0) << add.Err.toStdString();
    const TResult run = Run({"run"});
    ::unlink(path.constData()); // the scratch folder's clean-up could not name it
    EXPECT_EQ(run.ExitCode, 0) << run.Out.toStdString() << run.Err.toStdString();
    const QByteArray stored =
        QFile::encodeName(FService.AccountFilePath(QStringLiteral("demo"), QString())) + "\xe9t\xe9.bin";
    struct stat st {};
    EXPECT_EQ(::stat(stored.constData(), &st), 0) << "stored under its own bytes";
    EXPECT_EQ(st.st_size, content.size());
    ::unlink(stored.constData());
}

// --help and --version answer on standard output, touch no data folder and need no service.
TEST(CliOptions, HelpAndVersionAnswerWithoutTouchingTheDataFolder) {
    const QString home = test::MakeScratchDir(QStringLiteral("options-home")) + QStringLiteral("/data");
    struct TCase {
        QStringList Args;
        QString Expected;
    } cases[] = {
        {{"--help"}, QStringLiteral("Usage: quillo-cli")},
        {{"-h"}, QStringLiteral("Usage: quillo-cli")},
        {{"--version"}, QStringLiteral("quillo-cli ")},
    };
    for (const TCase& c : cases) {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QUILLO_HOME"), home);
        p.setProcessEnvironment(env);
        p.start(kCli, c.Args);
        ASSERT_TRUE(p.waitForFinished(30000));
        const QString out = QString::fromUtf8(p.readAllStandardOutput());
        EXPECT_EQ(p.exitCode(), 0) << c.Args.join(' ').toStdString();
        EXPECT_TRUE(out.startsWith(c.Expected)) << out.toStdString();
        if (c.Args.front() == "--version") {
            EXPECT_TRUE(QRegularExpression(
                            QStringLiteral("^quillo-cli \\d+\\.\\d+\\.\\d+\\.\\d+ \\(Quillo Uploader\\)\n"))
                            .match(out)
                            .hasMatch())
                << out.toStdString();
        }
    }
    EXPECT_FALSE(QFileInfo::exists(home));
}

} // namespace
} // namespace quillo
