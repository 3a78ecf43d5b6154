// kill -9 right after the front end was told of a success: the jobs file must already hold it.
// The scheduler runs in a child (this test program again, on the one test below) with the real
// one-second timer and fake uploads that succeed at once.
#include "FakeUploader.h"

#include "core/app/MyUtils.h"
#include "core/app/Settings.h"
#include "core/queue/JobsFile.h"
#include "core/queue/Scheduler.h"
#include "support/TestEnvironment.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>

namespace quillo {
namespace {

const char* const kChildJobs = "QUILLO_KILL_TEST_JOBS";

// The child: uploads every task of the jobs file named by QUILLO_KILL_TEST_JOBS, printing
// "finished <path>" each time the front end hears of a success.
TEST(SchedulerKillChild, UploadAndPrint) {
    const char* jobs = std::getenv(kChildJobs);
    if (!jobs)
        GTEST_SKIP() << "runs only as the child of the kill test";
    test::EnsureFakeMethodRegistered();
    TAppSettings settings;
    settings.UploadManager.ParallelThreads = 2;
    CommitSettings(settings);
    TUploadQueue queue;
    ASSERT_TRUE(LoadJobs(queue, jobs, {}));
    for (std::size_t i = 0; i < queue.TaskCount(); ++i)
        test::SetFakeOutcome(queue.Task(i).FileName, test::foSucceed);
    TSchedulerOptions options;
    options.JobsFile = jobs;
    TSchedulerHooks hooks;
    hooks.ThreadEvent = [&](TJobId id, TInternetThreadEvent event) {
        const TUploadJobData* task = id == NoJobId ? nullptr : queue.FindTask(id);
        if (event == ieFinished && task && task->State == jsFinished) {
            std::printf("finished %s\n", task->FileName.c_str());
            std::fflush(stdout);
        }
    };
    TScheduler scheduler(queue, options, hooks);
    scheduler.ChangeTaskStates({jsUploading}, jsQueued); // as at start-up; switches the timer on
    scheduler.TimerTimer();
    EXPECT_TRUE(test::WaitUntil([&] { return queue.TaskCount() == 0; }, 60000));
    scheduler.FlushJobs();
}

TEST(SchedulerKill, KillRightAfterASuccessIsReportedFindsItInTheJobsFile) {
    const QString home = test::UseFreshHome();
    const std::string jobs = (home + QStringLiteral("/quillo.jobs")).toStdString();
    for (int killAfter : {1, 2, 3, 7}) {
        SCOPED_TRACE(killAfter);
        TUploadQueue queue;
        for (int i = 0; i < 12; ++i) {
            const QString path = home + QStringLiteral("/k%1-%2.bin").arg(killAfter).arg(i);
            QFile f(path);
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.write("data");
            f.close();
            queue.AddTask(path.toStdString(), "", "", test::FakeMethodName);
            queue.Task(queue.TaskCount() - 1).State = jsQueued;
        }
        ASSERT_TRUE(SaveJobs(queue, jobs, {}));

        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QString::fromLatin1(kChildJobs), QString::fromStdString(jobs));
        child.setProcessEnvironment(env);
        child.start(QCoreApplication::applicationFilePath(),
                    {QStringLiteral("--gtest_filter=SchedulerKillChild.UploadAndPrint")});
        ASSERT_TRUE(child.waitForStarted(10000));
        std::set<std::string> reported;
        while (static_cast<int>(reported.size()) < killAfter) {
            if (!child.canReadLine() && !child.waitForReadyRead(20000))
                break;
            while (child.canReadLine()) {
                const std::string line = child.readLine().trimmed().toStdString();
                if (line.rfind("finished ", 0) == 0)
                    reported.insert(line.substr(9));
            }
        }
        ::kill(static_cast<pid_t>(child.processId()), SIGKILL);
        child.waitForFinished(10000);
        // Lines that were on their way when the kill came count as reported too.
        for (const QByteArray& line : child.readAllStandardOutput().split('\n'))
            if (line.startsWith("finished "))
                reported.insert(line.mid(9).trimmed().toStdString());
        ASSERT_GE(static_cast<int>(reported.size()), killAfter);

        TUploadQueue after;
        ASSERT_TRUE(LoadJobs(after, jobs, {}));
        std::set<std::string> finished;
        for (std::size_t i = 0; i < after.FinishedCount(); ++i)
            finished.insert(after.Finished(i).FileName);
        for (const std::string& name : reported)
            EXPECT_TRUE(finished.count(name)) << name << " was reported finished but is not in the jobs file";
        EXPECT_EQ(after.TaskCount() + after.FinishedCount(), 12u) << "no task lost or doubled";
    }
}

} // namespace
} // namespace quillo
