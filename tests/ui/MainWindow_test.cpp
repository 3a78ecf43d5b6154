#include "ui/MainWindow.h"

#include "FakeHotKeyGrabber.h"
#include "OfflineHome.h"
#include "core/app/DataFolder.h"
#include "core/app/Settings.h"
#include "core/l10n/ResMessages.h"
#include "core/net/IdStackWindowsEx.h"
#include "core/queue/JobsFile.h"
#include "support/TestEnvironment.h"
#include "ui/MessageBox.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QRegularExpression>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTableView>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace quillo {
namespace {

struct TShownBox {
    QString Text;
    QString Caption;
    TMsgBoxButtons Buttons;
    TMsgBoxIcon Icon;
};

class MainWindowTest : public testing::Test {
protected:
    void SetUp() override {
        FHome = test::UseOfflineHome();
        // A desktop with a tray and a boss key that can be grabbed; the tray tests cover the rest.
        SetSystemTrayProbe([] { return true; });
        SetHotKeyGrabberFactory([this] { return std::make_unique<test::TFakeGrabber>(FGrab); });
        UpdateSettings([](TAppSettings& s) { s.General.BossKey = {bkCtrl | bkAlt, 'Q'}; });
        SetMessageBoxHandler([this](QWidget*, const QString& Text, const QString& Caption,
                                    TMsgBoxButtons Buttons, TMsgBoxIcon Icon) {
            FBoxes.push_back({Text, Caption, Buttons, Icon});
            return FAnswer;
        });
    }
    void TearDown() override {
        SetMessageBoxHandler(nullptr);
        SetSystemTrayProbe(nullptr);
        SetHotKeyGrabberFactory(nullptr);
        CommitSettings(TAppSettings{});
        TIdStackWindowsEx::Instance().SendLimit = 0;
    }

    static void ProcessEvents() {
        for (int i = 0; i < 3; ++i)
            QApplication::processEvents();
    }

    // Makes the queue count one running upload without an engine behind it.
    static void StartFakeUpload(TMainWindow& W) {
        static int token;
        TUploadJobData task;
        task.FileName = "/data/movie.avi";
        task.FileSize = 1000;
        task.State = jsUploading;
        const std::size_t index = W.FQueue.AppendTask(std::move(task));
        W.FQueue.AttachUploader(index, TUploaderHandle(reinterpret_cast<TUploader*>(&token),
                                                       TUploaderDeleter{+[](TUploader*) {}}));
    }

    static void WriteJobsFile(std::vector<TJobState> States) {
        TUploadQueue q;
        for (TJobState state : States) {
            TUploadJobData task;
            task.FileName = "/data/file" + std::to_string(q.TaskCount()) + ".zip";
            task.State = state;
            task.Method = "HTTP Method";
            q.AppendTask(std::move(task));
        }
        QFile f(QString::fromStdString(JobsFileName()));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QByteArray::fromStdString(JobsToBytes(q)));
    }

    // A data folder below a plain file can never be created, whoever runs the test.
    void UseUnwritableHome() {
        QFile blocker(FHome + QStringLiteral("/blocker"));
        ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        ::setenv("QUILLO_HOME", (FHome + QStringLiteral("/blocker/home")).toLocal8Bit().constData(), 1);
    }

    static std::vector<TJobState> States(const TUploadQueue& Q) {
        std::vector<TJobState> states;
        for (std::size_t i = 0; i < Q.TaskCount(); ++i)
            states.push_back(Q.Task(i).State);
        return states;
    }

    QString ReadFile(const std::string& Path) const {
        QFile f(QString::fromStdString(Path));
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }

    QString FHome;
    test::TGrabLog FGrab;
    std::vector<TShownBox> FBoxes;
    TMsgBoxResult FAnswer = mrOK;
};

TEST_F(MainWindowTest, FirstRunCentresTheDesignedWindowWithItsTitleAndNodes) {
    TMainWindow w;
    EXPECT_EQ(w.windowTitle(), QStringLiteral("Quillo Uploader"));
    EXPECT_EQ(w.size(), QSize(1014, 800));
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    const QPoint centred(std::max(area.left(), area.left() + (area.width() - 1014) / 2),
                         std::max(area.top(), area.top() + (area.height() - 800) / 2));
    EXPECT_EQ(w.pos(), centred);
    ASSERT_EQ(w.TreeView->topLevelItemCount(), 2);
    EXPECT_EQ(w.TreeView->topLevelItem(0)->text(0), ResQString(rmNodeUploadQueue));
    EXPECT_EQ(w.TreeView->topLevelItem(1)->text(0), ResQString(rmNodeFinished));
    EXPECT_TRUE(w.ListViewFinishedUploadJobs->isHidden());
    EXPECT_EQ(w.StatusPanels[1]->text(), QString::fromStdString(w.FQueue.QueueSummary()));
    EXPECT_FALSE(w.StatusPanels[1]->text().isEmpty());
    EXPECT_TRUE(FBoxes.empty());
}

TEST_F(MainWindowTest, StoredBoundsAreRestoredAndWrittenBackOnExit) {
    UpdateSettings([](TAppSettings& s) { s.General.WindowRect = {100, 50, 900, 650}; });
    {
        TMainWindow w;
        EXPECT_EQ(w.Bounds(), QRect(100, 50, 800, 600));
        UpdateSettings([](TAppSettings& s) { s.General.WindowRect = {}; });
        w.act_exitExecute();
        EXPECT_FALSE(w.isVisible());
    }
    EXPECT_TRUE(ReadFile(SettingsFileName())
                    .contains(QStringLiteral("WindowRect=6400000032000000840300008A020000\r\n")));
    EXPECT_EQ(AppSettings.General.WindowRect, (TWindowRect{100, 50, 900, 650}));
}

TEST_F(MainWindowTest, WindowAppearsOnlyWhenTheEventLoopRunsAndNotWhenStartedHiddenOrStealthy) {
    struct Case {
        bool StartHidden;
        bool Stealth;
        bool Shown;
    } cases[] = {{false, false, true}, {true, false, false}, {false, true, false}, {true, true, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "hidden=" << c.StartHidden << " stealth=" << c.Stealth);
        UpdateSettings([&](TAppSettings& s) { s.General.StartInStealthMode = c.Stealth; });
        TMainWindow w(TMainWindowStart{c.StartHidden});
        EXPECT_FALSE(w.isVisible());
        ProcessEvents();
        EXPECT_EQ(w.isVisible(), c.Shown);
        EXPECT_EQ(w.FStealthMode, c.Stealth);
    }
}

TEST_F(MainWindowTest, ShowRequestsShowToggleAndAreIgnoredInStealthMode) {
    TMainWindow w(TMainWindowStart{true});
    ProcessEvents();
    ASSERT_FALSE(w.isVisible());
    w.HandleShowRequest(0);
    EXPECT_TRUE(w.isVisible());
    w.HandleShowRequest(0); // already shown: stays
    EXPECT_TRUE(w.isVisible());
    w.HandleShowRequest(1); // toggle
    EXPECT_FALSE(w.isVisible());
    w.HandleShowRequest(1);
    EXPECT_TRUE(w.isVisible());
    w.HideApplication(true);
    w.FStealthMode = true;
    w.HandleShowRequest(0);
    w.HandleShowRequest(1);
    EXPECT_FALSE(w.isVisible());
}

TEST_F(MainWindowTest, ApplySettingsSetsTheSendLimitAndTheAutoShutdownMark) {
    struct Case {
        int32_t SpeedLimit;
        int32_t SendLimit;
    } cases[] = {{0, 0}, {5, 5120}, {-3, 0}, {INT32_MAX, (INT32_MAX / 1024) * 1024}};
    TMainWindow w;
    for (const Case& c : cases) {
        UpdateSettings([&](TAppSettings& s) {
            s.UploadManager.SpeedLimit = c.SpeedLimit;
            s.General.ShutDownWhenFinished = c.SpeedLimit % 2 != 0;
        });
        w.ApplySettings();
        EXPECT_EQ(TIdStackWindowsEx::Instance().SendLimit.load(), c.SendLimit) << c.SpeedLimit;
        EXPECT_EQ(w.act_shutdowntoggle->isChecked(), c.SpeedLimit % 2 != 0) << c.SpeedLimit;
    }
}

TEST_F(MainWindowTest, SettingsAreAppliedAtCreation) {
    UpdateSettings([](TAppSettings& s) {
        s.UploadManager.SpeedLimit = 12;
        s.General.ShutDownWhenFinished = true;
    });
    TMainWindow w;
    EXPECT_EQ(TIdStackWindowsEx::Instance().SendLimit.load(), 12 * 1024);
    EXPECT_TRUE(w.act_shutdowntoggle->isChecked());
}

TEST_F(MainWindowTest, AutoShutdownToggleFlipsTheSettingAndSavesIt) {
    TMainWindow w;
    w.act_shutdowntoggle->trigger();
    EXPECT_TRUE(AppSettings.General.ShutDownWhenFinished);
    EXPECT_TRUE(w.act_shutdowntoggle->isChecked());
    EXPECT_TRUE(ReadFile(SettingsFileName()).contains(QStringLiteral("ShutDownWhenFinished=1\r\n")));
    w.act_shutdowntoggle->trigger();
    EXPECT_FALSE(AppSettings.General.ShutDownWhenFinished);
    EXPECT_FALSE(w.act_shutdowntoggle->isChecked());
    EXPECT_TRUE(ReadFile(SettingsFileName()).contains(QStringLiteral("ShutDownWhenFinished=0\r\n")));
}

TEST_F(MainWindowTest, ExitWithoutRunningUploadsAsksNothingAndReleasesTheLockOnce) {
    int releases = 0;
    TMainWindow w;
    w.SetInstanceLockRelease([&] { ++releases; });
    w.show();
    w.act_exitExecute();
    EXPECT_TRUE(FBoxes.empty());
    EXPECT_FALSE(w.isVisible());
    EXPECT_TRUE(w.FQueue.FExitRequested);
    EXPECT_EQ(releases, 1);
    EXPECT_TRUE(QFile::exists(QString::fromStdString(SettingsFileName())));
    EXPECT_TRUE(QFile::exists(QString::fromStdString(JobsFileName())));
}

TEST_F(MainWindowTest, RunningUploadMakesExitAskAndCancelKeepsEverythingRunning) {
    int releases = 0;
    TMainWindow w;
    w.SetInstanceLockRelease([&] { ++releases; });
    w.show();
    StartFakeUpload(w);
    FAnswer = mrCancel;
    w.act_exitExecute();
    ASSERT_EQ(FBoxes.size(), 1u);
    EXPECT_EQ(FBoxes[0].Text, ResQString(rmConfirmClose));
    EXPECT_EQ(FBoxes[0].Caption, ResQString(rmConfirmation));
    EXPECT_EQ(FBoxes[0].Buttons, mbOKCancel);
    EXPECT_EQ(FBoxes[0].Icon, miWarning);
    EXPECT_TRUE(w.isVisible());
    EXPECT_EQ(w.FQueue.RunningCount(), 1);
    EXPECT_TRUE(w.FQueue.FExitRequested); // no new task starts until the next run
    EXPECT_EQ(releases, 0);
    EXPECT_FALSE(QFile::exists(QString::fromStdString(SettingsFileName())));

    FAnswer = mrOK;
    w.act_exitExecute();
    EXPECT_EQ(FBoxes.size(), 2u);
    EXPECT_FALSE(w.isVisible());
    EXPECT_EQ(releases, 1);
    EXPECT_EQ(w.FQueue.RunningCount(), 0);
    EXPECT_TRUE(QFile::exists(QString::fromStdString(SettingsFileName())));
    // The upload was stopped before the jobs file was written: it comes back Delayed, not as
    // an improperly ended upload.
    TUploadQueue reloaded;
    EXPECT_TRUE(LoadJobs(reloaded, JobsFileName(), [](const std::string&, const std::string&) {}));
    EXPECT_EQ(States(reloaded), (std::vector<TJobState>{jsDelayed}));
}

TEST_F(MainWindowTest, StartRequeuesEveryTaskOnlyWithAutostartUploading) {
    const std::vector<TJobState> stored{jsError, jsDelayed, jsQueued, jsUploading};
    for (bool autostart : {false, true}) {
        SCOPED_TRACE(autostart);
        WriteJobsFile(stored);
        UpdateSettings([&](TAppSettings& s) { s.General.AutostartUploading = autostart; });
        TMainWindow w;
        // A task stored as Uploading was cut off: it stays in Error unless everything is queued.
        EXPECT_EQ(States(w.FQueue), autostart
                                        ? std::vector<TJobState>(4, jsQueued)
                                        : (std::vector<TJobState>{jsError, jsDelayed, jsQueued, jsError}));
        EXPECT_TRUE(w.FScheduler.TimerEnabled());
        EXPECT_EQ(w.FQueue.RunningCount(), 0);
    }
}

TEST_F(MainWindowTest, SchedulerTickWritesTheStatusBar) {
    TMainWindow w;
    w.FScheduler.TimerTimer();
    EXPECT_EQ(w.StatusPanels[0]->text().toStdString(), w.FScheduler.Status().Text);
    EXPECT_EQ(w.StatusPanels[2]->text().toStdString(), w.FScheduler.Status().Speed);
    EXPECT_FALSE(w.StatusPanels[0]->text().isEmpty());
}

TEST_F(MainWindowTest, SettingsFileAfterExitHoldsTheFiveSectionsInOrder) {
    {
        TMainWindow w;
        w.act_exitExecute();
    }
    const QString text = ReadFile(SettingsFileName());
    ASSERT_FALSE(text.isEmpty());
    EXPECT_FALSE(text.contains(QRegularExpression(QStringLiteral("[^\\r]\\n"))));
    std::vector<std::pair<QString, QStringList>> sections;
    for (const QString& line : text.split(QStringLiteral("\r\n"), Qt::SkipEmptyParts)) {
        if (line.startsWith(QLatin1Char('[')))
            sections.push_back({line.mid(1, line.size() - 2), {}});
        else if (!sections.empty())
            sections.back().second.append(line.section(QLatin1Char('='), 0, 0));
    }
    const std::vector<std::pair<QString, QStringList>> expected{
        {"General",
         {"FirstRun", "WindowRect", "StartWithWindows", "AutostartUploading", "NotifyUploadFinished",
          "ShutDownWhenFinished", "Hibernate", "StartInStealthMode", "BossKey", "LastMessageID",
          "LastUploadHost", "LastSettingsTab", "ShowDropTarget", "DropLeft", "DropTop", "UseSkin",
          "LanguageFile"}},
        {"InternetConnection",
         {"UseProxy", "UserName", "Password", "Proxy", "ProxyType", "FtpProxyMethod", "BoundIP"}},
        {"Brimvault", {"UseAccount", "UserName", "Password"}},
        {"UploadManager",
         {"ParallelThreads", "SpeedLimit", "AutoManageBandwidth", "SendBufferSize", "ConnectTimeout",
          "ReadTimeout", "RetryCount", "CalculateMD5"}},
        {"Scheduler", {"Enabled", "StartTime", "EndTime", "AbortNonFinished"}},
    };
    EXPECT_EQ(sections, expected);
}

TEST_F(MainWindowTest, JobsFileIsLoadedAtCreationAndWrittenAtClose) {
    {
        TUploadQueue q;
        TUploadJobData task;
        task.FileName = "/data/a.zip";
        task.FileSize = 42;
        task.State = jsDelayed;
        q.AppendTask(std::move(task));
        QFile f(QString::fromStdString(JobsFileName()));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QByteArray::fromStdString(JobsToBytes(q)));
    }
    {
        TMainWindow w;
        ASSERT_EQ(w.FQueue.TaskCount(), 1u);
        EXPECT_EQ(w.FQueue.Task(0).FileName, "/data/a.zip");
        TFinishedUploadJobData done;
        done.FileName = "/data/b.zip";
        done.Result = "download-link=http://x/1";
        w.FQueue.AppendFinished(std::move(done));
        w.act_exitExecute();
    }
    TMainWindow again;
    EXPECT_EQ(again.FQueue.TaskCount(), 1u);
    ASSERT_EQ(again.FQueue.FinishedCount(), 1u);
    EXPECT_EQ(again.FQueue.Finished(0).FileName, "/data/b.zip");
    EXPECT_TRUE(FBoxes.empty());
}

TEST_F(MainWindowTest, DamagedJobsFileIsReportedInAnErrorBox) {
    QFile f(QString::fromStdString(JobsFileName()));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QByteArray("\x00\x01\xff\xff\xff\x7f", 6)); // a length far beyond the end
    f.close();
    TMainWindow w;
    ASSERT_EQ(FBoxes.size(), 1u);
    EXPECT_EQ(FBoxes[0].Caption, ResQString(rmError));
    EXPECT_EQ(FBoxes[0].Icon, miError);
    EXPECT_EQ(w.FQueue.TaskCount(), 0u);
}

// The box of a damaged jobs file runs its own event loop before the window is complete: the boss
// key pressed meanwhile must neither crash nor switch anything.
TEST_F(MainWindowTest, BossKeyWhileTheStartStillAsksIsIgnored) {
    QFile f(QString::fromStdString(JobsFileName()));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QByteArray("\x00\x01\xff\xff\xff\x7f", 6));
    f.close();
    SetMessageBoxHandler([this](QWidget*, const QString& Text, const QString& Caption, TMsgBoxButtons Buttons,
                                TMsgBoxIcon Icon) {
        FBoxes.push_back({Text, Caption, Buttons, Icon});
        if (FGrab.Live && FGrab.Live->OnPressed)
            FGrab.Live->OnPressed();
        return FAnswer;
    });
    TMainWindow w;
    ASSERT_EQ(FBoxes.size(), 1u);
    EXPECT_EQ(FBoxes[0].Caption, ResQString(rmError));
    ASSERT_NE(FGrab.Live, nullptr);
    EXPECT_FALSE(w.FStealthMode);
    ASSERT_NE(w.TrayIcon, nullptr);
    EXPECT_TRUE(w.TrayIcon->isVisible());
    ProcessEvents();
    EXPECT_TRUE(w.isVisible());
    // Once the start is over the key works.
    FGrab.Live->OnPressed();
    EXPECT_TRUE(w.FStealthMode);
    EXPECT_FALSE(w.isVisible());
}

TEST_F(MainWindowTest, UnwritableDataFolderIsReportedAndTheProgramStillEnds) {
    UseUnwritableHome();
    int releases = 0;
    TMainWindow w;
    w.SetInstanceLockRelease([&] { ++releases; });
    w.show();
    w.act_exitExecute();
    EXPECT_FALSE(w.isVisible());
    EXPECT_EQ(releases, 1);
    ASSERT_GE(FBoxes.size(), 1u);
    for (const TShownBox& box : FBoxes) {
        EXPECT_EQ(box.Caption, ResQString(rmError));
        EXPECT_FALSE(box.Text.isEmpty());
    }
}

TEST_F(MainWindowTest, EndWithoutAUserReportsFailuresWithoutABox) {
    UseUnwritableHome();
    TMainWindow w;
    const std::size_t atStart = FBoxes.size(); // the start's own jobs-file write fails too
    w.HandleEndSession(true, false);
    EXPECT_EQ(FBoxes.size(), atStart);
    w.HandleEndSession(true, true);
    EXPECT_GT(FBoxes.size(), atStart);
}

TEST_F(MainWindowTest, SessionEndAsksWhileUploadingAndSavesWithoutClosing) {
    int releases = 0;
    TMainWindow w;
    w.SetInstanceLockRelease([&] { ++releases; });
    w.show();
    EXPECT_TRUE(w.HandleQueryEndSession());
    EXPECT_TRUE(FBoxes.empty());

    StartFakeUpload(w);
    FAnswer = mrCancel;
    EXPECT_FALSE(w.HandleQueryEndSession());
    EXPECT_EQ(FBoxes.size(), 1u);
    FAnswer = mrOK;
    EXPECT_TRUE(w.HandleQueryEndSession());

    w.HandleEndSession(false);
    EXPECT_FALSE(QFile::exists(QString::fromStdString(SettingsFileName())));
    w.HandleEndSession(true);
    EXPECT_TRUE(QFile::exists(QString::fromStdString(SettingsFileName())));
    EXPECT_TRUE(QFile::exists(QString::fromStdString(JobsFileName())));
    EXPECT_TRUE(w.isVisible());
    EXPECT_EQ(releases, 0); // a cancelled log-off must not leave room for a second instance
}

} // namespace
} // namespace quillo
