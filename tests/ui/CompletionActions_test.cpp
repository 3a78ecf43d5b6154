#include "ui/CompletionActions.h"

#include "core/app/Settings.h"
#include "scheduler/FakeUploader.h"
#include "support/TestEnvironment.h"
#include "ui/ShutDownTestSupport.h"

#include <QApplication>
#include <QFile>
#include <QPushButton>
#include <QTimer>
#include <gtest/gtest.h>

#include <memory>

QT_BEGIN_NAMESPACE
inline void PrintTo(const QString& Text, std::ostream* Out) {
    *Out << '"' << Text.toStdString() << '"';
}
QT_END_NAMESPACE

namespace quillo {
namespace {

using test::foFail;
using test::foSucceed;

// A scheduler on fake uploads with the completion actions installed after a hook of the
// window's own, as the main window does.
class CompletionActionsTest : public testing::Test {
protected:
    void SetUp() override {
        FHome = test::UseFreshHome().toStdString();
        test::EnsureFakeMethodRegistered();
        test::ResetFakeUploads();
        CommitSettings(TAppSettings{});
        TSchedulerOptions Options;
        Options.OwnTimer = false;
        TSchedulerHooks Hooks;
        Hooks.StealthMode = [this] { return FStealth; };
        Hooks.NotifyUploadFinished = [this] { FEvents << QStringLiteral("window shown"); };
        FScheduler = std::make_unique<TScheduler>(FQueue, Options, Hooks);
        FActions.ShutDownOptions.RunTimer = false;
        FActions.ShowNotification = [this](const QString& Title, const QString& Text) {
            FEvents << Title + QStringLiteral(": ") + Text;
        };
        FActions.InstallInto(FScheduler->Hooks(), FQueue);
        FPreviousPlayer = SetSoundPlayer(
            [this](const QString& Resource) { FEvents << QStringLiteral("sound ") + Resource; });
    }
    void TearDown() override {
        SetSoundPlayer(FPreviousPlayer);
        FScheduler->StopRunningTasks();
        FScheduler.reset();
        CommitSettings(TAppSettings{});
    }

    TJobId AddTask(const std::string& Name, TJobState State) {
        const std::string Path = FHome + "/" + Name;
        QFile File(QString::fromStdString(Path));
        EXPECT_TRUE(File.open(QIODevice::WriteOnly));
        File.write("data");
        File.close();
        const std::size_t Index = FQueue.AddTask(Path, "", "", test::FakeMethodName);
        FQueue.Task(Index).State = State;
        return FQueue.Task(Index).Id();
    }
    // Runs one batch: every name is queued with its outcome and ticked through until nothing is
    // Queued or Uploading; the last tick finds the queue dry.
    void RunBatch(const std::vector<std::pair<std::string, test::TFakeOutcome>>& Tasks) {
        ++FRound;
        for (const auto& [Name, Outcome] : Tasks) {
            const TJobId Id = AddTask(Name + std::to_string(FRound), jsQueued);
            test::SetFakeOutcome(FQueue.FindTask(Id)->FileName, Outcome);
        }
        do {
            FScheduler->TimerTimer();
            ASSERT_TRUE(test::WaitUntil([this] { return FQueue.CountTasksIn({jsUploading}) == 0; }));
        } while (FQueue.CountTasksIn({jsQueued, jsUploading}) > 0);
        FScheduler->TimerTimer();
    }

    std::string FHome;
    bool FStealth = false;
    int FRound = 0;
    QStringList FEvents;
    TSoundPlayer FPreviousPlayer;
    TUploadQueue FQueue;
    std::unique_ptr<TScheduler> FScheduler;
    TCompletionActions FActions{nullptr};
    test::TShutDownRecorder FRecorder;
};

TEST_F(CompletionActionsTest, SoundAndNotificationOncePerBatchNeverInStealthMode) {
    const QString Sound = QStringLiteral("sound :/sounds/finished.wav");
    struct TCase {
        bool Stealth;
        bool Notify;
        std::vector<std::pair<std::string, test::TFakeOutcome>> Tasks;
        QStringList Events;
    };
    const TCase Cases[] = {
        {false,
         true,
         {{"a", foSucceed}, {"b", foFail}, {"c", foSucceed}},
         {"window shown", Sound, "All uploads finished: 2 finished, 1 failed"}},
        {false, true, {{"a", foFail}}, {"window shown", Sound, "All uploads finished: 0 finished, 1 failed"}},
        {true, true, {{"a", foSucceed}}, {}},
        {false, false, {{"a", foSucceed}}, {}},
        // The counts start afresh with every batch.
        {false,
         true,
         {{"a", foSucceed}},
         {"window shown", Sound, "All uploads finished: 1 finished, 0 failed"}},
    };
    for (const TCase& Case : Cases) {
        FEvents.clear();
        FStealth = Case.Stealth;
        UpdateSettings([&Case](TAppSettings& S) { S.General.NotifyUploadFinished = Case.Notify; });
        RunBatch(Case.Tasks);
        EXPECT_EQ(FEvents, Case.Events) << Case.Stealth << Case.Notify;
        // Later ticks of the dry queue do nothing more.
        FScheduler->TimerTimer();
        FScheduler->TimerTimer();
        EXPECT_EQ(FEvents, Case.Events);
    }
    EXPECT_TRUE(FRecorder.Requests().isEmpty());
}

TEST_F(CompletionActionsTest, AutomaticShutdownAfterEachBatch) {
    UpdateSettings([](TAppSettings& S) {
        S.General.NotifyUploadFinished = false;
        S.General.ShutDownWhenFinished = true;
    });
    int Shown = 0;
    // Cancelled twice: the program goes on and the next dry queue asks again.
    for (int Round = 1; Round <= 2; ++Round) {
        test::WhenShutDownBoxShown([&Shown](TShutDownBox& B) {
            ++Shown;
            B.Button2->click();
        });
        RunBatch({{"a", foSucceed}});
        EXPECT_EQ(Shown, Round);
        EXPECT_TRUE(FRecorder.Requests().isEmpty());
    }
    // Left to run out: one request with 13, one tick after 0.
    test::WhenShutDownBoxShown([&Shown](TShutDownBox& B) {
        ++Shown;
        for (int Tick = 0; Tick <= 20; ++Tick)
            B.Timer1Timer();
    });
    RunBatch({{"a", foSucceed}});
    EXPECT_EQ(FRecorder.Requests(), QStringList{"13 poweroff"});
    // In stealth mode at once, without a window.
    FRecorder.Clear();
    FStealth = true;
    RunBatch({{"a", foFail}});
    EXPECT_EQ(Shown, 3);
    EXPECT_EQ(FRecorder.Requests(), QStringList{"13 poweroff"});
}

TEST(CompletionSound, IsAShortWaveOfOurOwn) {
    QFile Wave(QString::fromLatin1(FinishedSoundResource));
    ASSERT_TRUE(Wave.open(QIODevice::ReadOnly));
    const QByteArray Data = Wave.readAll();
    ASSERT_GT(Data.size(), 44);
    EXPECT_EQ(Data.left(4), QByteArray("RIFF"));
    EXPECT_EQ(Data.mid(8, 8), QByteArray("WAVEfmt "));
    const auto U32 = [&Data](int At) {
        return quint32(uchar(Data[At])) | quint32(uchar(Data[At + 1])) << 8 |
               quint32(uchar(Data[At + 2])) << 16 | quint32(uchar(Data[At + 3])) << 24;
    };
    const quint32 BytesPerSecond = U32(28);
    ASSERT_GT(BytesPerSecond, 0u);
    const double Seconds = double(Data.size() - 44) / BytesPerSecond;
    EXPECT_GT(Seconds, 0.2);
    EXPECT_LT(Seconds, 2.0);
}

TEST(CompletionSound, NotificationTexts) {
    EXPECT_EQ(UploadsFinishedTitle(), QStringLiteral("All uploads finished"));
    const std::pair<TBatchCounts, const char*> Cases[] = {{{0, 0}, "0 finished, 0 failed"},
                                                          {{1, 0}, "1 finished, 0 failed"},
                                                          {{12, 3}, "12 finished, 3 failed"}};
    for (const auto& [Counts, Text] : Cases)
        EXPECT_EQ(UploadsFinishedText(Counts), QString::fromLatin1(Text));
}

} // namespace
} // namespace quillo
