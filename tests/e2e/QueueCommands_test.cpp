// The queue's commands of the real `quillo` window, from the keyboard only, on a private X server
// with the stand-in service on loopback: a file added with Ins and the file dialog uploads and
// reaches the finished list; running and queued tasks are stopped, moved and deleted.
#include "DesktopFixture.h"
#include "core/app/MyUtils.h"
#include "support/BrimvaultService.h"

#include <fstream>

namespace {

using namespace quillo::test;

class QueueCommandsDesktopTest : public DesktopWindowTest {
protected:
    void SetUp() override {
        DesktopWindowTest::SetUp();
        if (HasFatalFailure())
            return;
        ASSERT_TRUE(FService.Start()) << FService.ErrorText().toStdString();
        FEnv.insert(QStringLiteral("QUILLO_SITE"), FService.SiteHost());
        FFiles = FRoot + QStringLiteral("/files");
        QDir().mkpath(FFiles);
    }

    QString File(const QString& Name, std::size_t Size) const {
        const QString path = FFiles + QLatin1Char('/') + Name;
        std::ofstream(path.toStdString(), std::ios::binary) << std::string(Size, 'q');
        return path;
    }

    void Focus(const QString& Id) const {
        Xdotool({QStringLiteral("windowactivate"), QStringLiteral("--sync"), Id});
        Xdotool({QStringLiteral("windowfocus"), QStringLiteral("--sync"), Id});
        QThread::msleep(300);
    }

    TBrimvaultService FService;
    QString FFiles;
};

TEST_F(QueueCommandsDesktopTest, AFileAddedFromTheKeyboardUploadsAndReachesTheFinishedList) {
    StartDesktop(false);
    const QString file = File(QStringLiteral("holiday.zip"), 200000);
    WriteSettings(QStringLiteral("[General]\r\nLastUploadHost=HTTP Method\r\n"));
    QProcess& quillo = StartQuillo({});
    const QString main = WaitForMainWindow();
    ASSERT_FALSE(main.isEmpty());
    Focus(main);

    Keys({QStringLiteral("Insert")});
    const QString dialog = WaitForWindow(QStringLiteral("Add Files to Upload"));
    ASSERT_FALSE(dialog.isEmpty()) << "Ins opened no file dialog";
    Xdotool({QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("30"), file});
    Keys({QStringLiteral("Return")});
    const QString properties = WaitForWindow(QStringLiteral("New Upload Task Properties"));
    ASSERT_FALSE(properties.isEmpty()) << "no properties dialog for the typed file";
    Keys({QStringLiteral("Return")}); // OK, with the proposed "HTTP Method"

    EXPECT_TRUE(WaitFor([&] {
        return !FService.HttpRequests(QStringLiteral("/cgi-bin/upload.cgi")).isEmpty();
    })) << "the stand-in never received the upload";
    // The finished upload is written to the jobs file before the window shows it as finished.
    quillo::TUploadQueue saved;
    EXPECT_TRUE(WaitFor([&] {
        LoadSavedJobs(saved);
        return saved.FinishedCount() == 1;
    })) << "the upload never reached the finished list";
    ASSERT_EQ(saved.FinishedCount(), 1u);
    EXPECT_EQ(saved.Finished(0).FileName, file.toStdString());
    EXPECT_EQ(saved.TaskCount(), 0u);
    EXPECT_EQ(quillo.state(), QProcess::Running);
}

TEST_F(QueueCommandsDesktopTest, RunningAndQueuedTasksAreStoppedMovedAndDeletedFromTheKeyboard) {
    StartDesktop(false);
    // Uploads crawl, so that the first task is still running when the keys arrive.
    ASSERT_TRUE(FService.SetFaults({{QStringLiteral("throttle"), 20000}}));
    WriteSettings(QStringLiteral(
        "[General]\r\nLastUploadHost=HTTP Method\r\n[UploadManager]\r\nParallelThreads=1\r\n"));
    {
        quillo::TUploadQueue queue;
        for (const char* name : {"a.bin", "b.bin", "c.bin"}) {
            quillo::TUploadJobData t;
            t.FileName = File(QString::fromLatin1(name), 2000000).toStdString();
            t.FileSize = 2000000;
            t.Method = "HTTP Method";
            t.State = quillo::jsQueued;
            queue.AppendTask(std::move(t));
        }
        ASSERT_TRUE(
            quillo::SaveJobs(queue, (FQuilloHome + QStringLiteral("/quillo.jobs")).toStdString(), {}));
    }
    QProcess& quillo = StartQuillo({});
    const QString main = WaitForMainWindow();
    ASSERT_FALSE(main.isEmpty());
    Focus(main);
    // a is uploading by now, b and c wait.
    ASSERT_TRUE(WaitFor([&] { return !FService.HttpRequests().isEmpty(); }));
    QThread::msleep(1500);

    // Into the list: Tab puts the focus mark on a without selecting it; Down and Up select it.
    Keys({QStringLiteral("Tab"), QStringLiteral("Down"), QStringLiteral("Up")});
    Keys({QStringLiteral("alt+u"), QStringLiteral("t")}); // Upload > Stop: a is Delayed
    Keys({QStringLiteral("Down")});
    Keys({QStringLiteral("alt+Up")});                         // b above a
    Keys({QStringLiteral("Down"), QStringLiteral("Delete")}); // a ...
    Keys({QStringLiteral("Return")});                         // ... deleted after the question
    Keys({QStringLiteral("alt+f"), QStringLiteral("x")});     // File > Exit
    Keys({QStringLiteral("Return")});                         // "uploads are running": OK
    ASSERT_TRUE(WaitForEnd(quillo, 20000)) << "Exit did not end the program";

    quillo::TUploadQueue saved;
    LoadSavedJobs(saved);
    std::vector<std::string> names;
    for (std::size_t i = 0; i < saved.TaskCount(); ++i)
        names.push_back(quillo::ExtractFileName(saved.Task(i).FileName));
    EXPECT_EQ(names, (std::vector<std::string>{"b.bin", "c.bin"}));
    EXPECT_EQ(saved.FinishedCount(), 0u);
}

} // namespace
