// Stopping a running FTP upload through the scheduler keeps what the server already holds: the
// task's resume data names the server, and the next launch appends the rest.
#include "FakeUploader.h"

#include "core/app/MyUtils.h"
#include "core/app/Settings.h"
#include "core/engine/BrimvaultHttpUploader.h"
#include "core/engine/PluginManager.h"
#include "core/queue/Scheduler.h"
#include "support/BrimvaultService.h"
#include "support/TestEnvironment.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonObject>
#include <QRandomGenerator>

#include <gtest/gtest.h>

#include <cstdlib>

namespace quillo {
namespace {

TEST(SchedulerFtpTest, StoppedFtpTaskResumesWhereTheServerCopyEnds) {
    const QString home = test::UseFreshHome();
    test::EnsureFakeMethodRegistered();
    test::TBrimvaultService service;
    test::TBrimvaultServiceOptions options;
    options.Accounts = {{QStringLiteral("bob"), QStringLiteral("pw")}};
    options.Faults = QJsonObject{{"ftp_throttle", 300000}};
    ASSERT_TRUE(service.Start(options)) << service.ErrorText().toStdString();
    ::setenv("QUILLO_SITE", service.SiteHost().toUtf8().constData(), 1);
    ClearUploadServerCache(); // a server of an earlier service in this process is gone
    ::setenv("QUILLO_FTP_PORT", QByteArray::number(service.FtpPort()).constData(), 1);
    TAppSettings settings;
    settings.Brimvault.UseAccount = true;
    settings.Brimvault.UserName = "bob";
    settings.Brimvault.Password = "pw";
    settings.UploadManager.RetryCount = 1;
    CommitSettings(settings);

    const QString path = home + QStringLiteral("/resume.bin");
    QByteArray content(1500 * 1024, Qt::Uninitialized);
    for (char& c : content)
        c = char(QRandomGenerator::global()->generate());
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(content);
    }

    TUploadQueue queue;
    TSchedulerOptions o;
    o.OwnTimer = false;
    TScheduler scheduler(queue, o);
    const std::size_t index = queue.AddTask(path.toStdString(), "", "", FtpMethodName);
    const TJobId id = queue.Task(index).Id();
    scheduler.SetTaskState(index, jsQueued, false);
    scheduler.TimerTimer();
    ASSERT_EQ(queue.FindTask(id)->State, jsUploading);

    const QString remote = service.AccountFilePath(QStringLiteral("bob"), QStringLiteral("resume.bin"));
    ASSERT_TRUE(test::WaitUntil([&] { return QFileInfo(remote).size() >= 200 * 1024; }, 20000))
        << queue.FindTask(id)->StatusText;
    scheduler.ChangeTaskStates({jsQueued, jsUploading, jsError}, jsDelayed, {id});
    const TUploadJobData& task = *queue.FindTask(id);
    EXPECT_EQ(task.State, jsDelayed);
    EXPECT_EQ(task.StatusText, "Aborted by user");
    EXPECT_NE(task.ResumeInfo.find("upserver=" + service.SiteHost().toStdString()), std::string::npos)
        << task.ResumeInfo;
    // The server finishes the cut session on its own time; resume only once it has, so that
    // its last buffered writes cannot land after the resumed upload's SIZE.
    ASSERT_TRUE(service.WaitForLog([](const QList<QJsonObject>& entries) {
        for (const QJsonObject& e : entries)
            if (e["event"].toString() == "transfer_end")
                return true;
        return false;
    }));
    const qint64 kept = QFileInfo(remote).size();
    ASSERT_GT(kept, 0);
    ASSERT_LT(kept, content.size());

    ASSERT_TRUE(service.ResetFaults());
    ASSERT_TRUE(service.SetFaults(QJsonObject{{"ftp_throttle", 0}}));
    ASSERT_TRUE(service.ClearLog());
    scheduler.ChangeTaskStates({jsDelayed, jsError}, jsQueued, {id});
    scheduler.TimerTimer();
    // A success leaves the queue for the finished list as soon as the jobs file holds it.
    ASSERT_TRUE(test::WaitUntil(
        [&] {
            const TUploadJobData* t = queue.FindTask(id);
            return !t || t->State != jsUploading;
        },
        30000));
    scheduler.FlushJobs();
    ASSERT_EQ(queue.FindTask(id), nullptr) << queue.FindTask(id)->StatusText;
    EXPECT_TRUE(service.FtpCommandLines().contains(QStringLiteral("APPE resume.bin")))
        << service.FtpCommandLines().join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(service.ReadAccountFile(QStringLiteral("bob"), QStringLiteral("resume.bin")), content);
    ASSERT_EQ(queue.FinishedCount(), 1u);
    EXPECT_FALSE(GetValueOfKey("download-link", queue.Finished(0).Result).empty());
    ::unsetenv("QUILLO_SITE");
    ::unsetenv("QUILLO_FTP_PORT");
    CommitSettings(TAppSettings{});
}

} // namespace
} // namespace quillo
