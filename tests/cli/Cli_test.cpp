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
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
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

} // namespace
} // namespace quillo
