// The worker's attempt loop, pause, stop and events, with attempts scripted in the test.
#include "EngineTestSupport.h"

#include "core/net/NetErrors.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QThread>

#include <atomic>

using namespace quillo;
using namespace quillo::test;

namespace {

class InternetThreadTest : public ::testing::Test {
protected:
    void SetUp() override { ResetEngineSettings(); }
    void TearDown() override { ResetEngineSettings(); }

    std::unique_ptr<TScriptedThread> MakeThread(std::function<void(TScriptedThread&)> Work) {
        auto T = std::make_unique<TScriptedThread>(Recorder.Handler());
        T->Work = std::move(Work);
        T->SetRetryPauseMs(20);
        return T;
    }
    // A started worker whose attempt stands in for a network call that fails once a stop
    // disconnects it; null when the attempt did not begin.
    std::unique_ptr<TScriptedThread> StartBlockedInNetworkCall() {
        auto InWork = std::make_shared<std::atomic<bool>>(false);
        auto T = MakeThread([InWork](TScriptedThread& Self) {
            *InWork = true;
            while (!Self.Aborted())
                QThread::msleep(1);
            throw EAbortedError();
        });
        T->StartWork();
        if (!WaitUntil([&] { return InWork->load(); }))
            return nullptr;
        return T;
    }
    bool RunToEnd(TInternetThread& T) {
        T.StartWork();
        return WaitUntil([&] { return Recorder.FinishedCount > 0 && T.Parked(); });
    }

    TEventRecorder Recorder;
};

struct TRetryCase {
    int32_t RetryCount;
    int FailuresBeforeSuccess; // -1: always fails
    int ExpectedAttempts;
    TInternetThreadResult ExpectedResult;
};

class RetryTable : public InternetThreadTest, public ::testing::WithParamInterface<TRetryCase> {};

TEST_P(RetryTable, NetworkErrorsAreRetriedAsRetryCountAllows) {
    const TRetryCase C = GetParam();
    ChangeSettings([&](TAppSettings& S) { S.UploadManager.RetryCount = C.RetryCount; });
    std::atomic<int> Calls{0};
    auto T = MakeThread([&](TScriptedThread&) {
        const int N = ++Calls;
        if (C.FailuresBeforeSuccess < 0 || N <= C.FailuresBeforeSuccess)
            throw EConnectionClosed("Connection closed gracefully.");
    });
    ASSERT_TRUE(RunToEnd(*T));
    EXPECT_EQ(Calls.load(), C.ExpectedAttempts);
    EXPECT_EQ(T->Attempts(), C.ExpectedAttempts);
    EXPECT_EQ(T->WorkResult(), C.ExpectedResult);
    EXPECT_EQ(T->ErrorText(), C.ExpectedResult == trSuccess ? "" : "Connection closed gracefully.");
    EXPECT_EQ(Recorder.FinishedCount, 1);
}

INSTANTIATE_TEST_SUITE_P(Cases, RetryTable,
                         ::testing::Values(TRetryCase{2, -1, 3, trError},  // three attempts, then give up
                                           TRetryCase{2, 1, 2, trSuccess}, // failure then success
                                           TRetryCase{1, 1, 2, trSuccess}, //
                                           TRetryCase{0, 6, 7, trSuccess}, // 0 = without end
                                           TRetryCase{-3, -1, 1,
                                                      trError})); // hand-edited negative: one attempt

TEST_F(InternetThreadTest, AnITErrorIsNeverRetriedWhateverRetryCountSays) {
    ChangeSettings([](TAppSettings& S) { S.UploadManager.RetryCount = 0; });
    int Calls = 0;
    auto T = MakeThread([&](TScriptedThread&) {
        ++Calls;
        throw EITError("No upload server available");
    });
    ASSERT_TRUE(RunToEnd(*T));
    EXPECT_EQ(Calls, 1);
    EXPECT_EQ(T->WorkResult(), trFailed);
    EXPECT_EQ(T->ErrorText(), "No upload server available");
}

TEST_F(InternetThreadTest, OtherErrorsEndTheCycleWithoutRetry) {
    int Calls = 0;
    auto T = MakeThread([&](TScriptedThread&) {
        ++Calls;
        throw std::runtime_error("Cannot open file");
    });
    ASSERT_TRUE(RunToEnd(*T));
    EXPECT_EQ(Calls, 1);
    EXPECT_EQ(T->WorkResult(), trError);
    EXPECT_EQ(T->ErrorText(), "Cannot open file");
}

TEST_F(InternetThreadTest, EventsOfACycleAreStartedThenStatusThenExactlyOneFinished) {
    auto T = MakeThread([](TScriptedThread& Self) {
        Self.Status("Looking for free upload server...");
        Self.Status("Uploading file...");
    });
    ASSERT_TRUE(RunToEnd(*T));
    ASSERT_EQ(Recorder.Events.size(), 4u);
    EXPECT_EQ(Recorder.Events[0].Event, ieStarted);
    EXPECT_EQ(Recorder.Events[0].StateText, "Working");
    EXPECT_EQ(Recorder.Events[0].RemainingMs, -1);
    EXPECT_EQ(Recorder.Events[1].StateText, "Looking for free upload server...");
    EXPECT_EQ(Recorder.Events[2].StateText, "Uploading file...");
    EXPECT_EQ(Recorder.Events[3].Event, ieFinished);
    EXPECT_EQ(Recorder.Events[3].StateText, "Finished");
    EXPECT_EQ(T->WorkResult(), trSuccess);

    // The parked worker runs a second cycle on the same object.
    Recorder.Events.clear();
    Recorder.FinishedCount = 0;
    ASSERT_TRUE(RunToEnd(*T));
    EXPECT_EQ(Recorder.Count(ieStarted), 1);
    EXPECT_EQ(Recorder.Count(ieFinished), 1);
}

TEST_F(InternetThreadTest, EventsRunOnTheThreadThatCreatedTheWorker) {
    QThread* Seen = nullptr;
    Recorder.Extra = [&](TInternetThread&, TInternetThreadEvent) { Seen = QThread::currentThread(); };
    auto T = MakeThread([](TScriptedThread& Self) { Self.Status("x"); });
    ASSERT_TRUE(RunToEnd(*T));
    EXPECT_EQ(Seen, QThread::currentThread());
}

TEST_F(InternetThreadTest, AFailingHandlerIsIgnoredAndTheWorkGoesOn) {
    Recorder.Extra = [](TInternetThread&, TInternetThreadEvent E) {
        if (E == ieStatusText)
            throw std::runtime_error("handler failed");
    };
    bool Reached = false;
    auto T = MakeThread([&](TScriptedThread& Self) {
        Self.Status("one");
        Reached = true;
    });
    ASSERT_TRUE(RunToEnd(*T));
    EXPECT_TRUE(Reached);
    EXPECT_EQ(T->WorkResult(), trSuccess);
}

TEST_F(InternetThreadTest, RetryPauseShowsTheCountDownAndStopDuringItEndsAsFailedWithoutText) {
    ChangeSettings([](TAppSettings& S) { S.UploadManager.RetryCount = 0; });
    auto T = MakeThread([](TScriptedThread&) { throw ETimeoutError("  Read timed out.  "); });
    T->SetRetryPauseMs(5000);
    T->StartWork();
    ASSERT_TRUE(WaitUntil([&] {
        for (const auto& Text : Recorder.StatusTexts()) {
            if (Text.rfind("ERROR:", 0) == 0)
                return true;
        }
        return false;
    }));
    EXPECT_EQ(Recorder.StatusTexts().front(), "ERROR: Read timed out.\r\nRetrying in 5 seconds...");
    QElapsedTimer Timer;
    Timer.start();
    T->Stop(true);
    EXPECT_LT(Timer.elapsed(), 2000); // the pause is cut short, not sat out
    EXPECT_TRUE(T->Parked());
    EXPECT_EQ(T->WorkResult(), trFailed);
    EXPECT_EQ(T->ErrorText(), "");
    EXPECT_EQ(Recorder.FinishedCount, 1);
}

TEST_F(InternetThreadTest, StopWhileTheWorkWaitsOnTheNetworkEndsAsAborted) {
    auto T = StartBlockedInNetworkCall();
    ASSERT_TRUE(T);
    T->Stop(true);
    EXPECT_EQ(T->WorkResult(), trAborted);
    EXPECT_EQ(T->ErrorText(), "Aborted by user");
    EXPECT_EQ(Recorder.FinishedCount, 1);
    EXPECT_EQ(Recorder.Events.back().Result, trAborted);
}

TEST_F(InternetThreadTest, StopWaitServesEventDeliveriesInsteadOfDeadlocking) {
    // Every status line is a synchronous delivery; Stop(true) must keep serving them.
    auto T = MakeThread([](TScriptedThread& Self) {
        for (int I = 0; I < 200 && !Self.Aborted(); ++I)
            Self.Status("step " + std::to_string(I));
        if (Self.Aborted())
            throw EAbortedError();
    });
    T->StartWork();
    ASSERT_TRUE(WaitUntil([&] { return Recorder.Events.size() > 3; }));
    T->Stop(true);
    EXPECT_TRUE(T->Parked());
    EXPECT_EQ(Recorder.FinishedCount, 1);
}

TEST_F(InternetThreadTest, StopWithoutWaitOnAnIdleOrFinishedThreadChangesNothing) {
    auto T = MakeThread([](TScriptedThread&) {});
    T->Stop(false);
    EXPECT_EQ(T->State(), tsIdle);
    EXPECT_EQ(T->WorkResult(), trSuccess);
    ASSERT_TRUE(RunToEnd(*T));
    T->Stop(false);
    T->Stop(true);
    EXPECT_EQ(T->State(), tsFinished);
    EXPECT_EQ(T->WorkResult(), trSuccess);
    EXPECT_EQ(T->ErrorText(), "");
}

TEST_F(InternetThreadTest, DestroyingARunningWorkerDeliversItsFinalEventFirst) {
    auto T = StartBlockedInNetworkCall();
    ASSERT_TRUE(T);
    T.reset();
    ASSERT_EQ(Recorder.FinishedCount, 1);
    EXPECT_EQ(Recorder.Events.back().Result, trAborted);
    EXPECT_EQ(Recorder.Events.back().ErrorText, "Aborted by user");
}

TEST_F(InternetThreadTest, ProgressCountsIncludeTheBaseOffsetAndEndAtHundredPercent) {
    auto T = MakeThread([](TScriptedThread& Self) { Self.Progress(1000, {250, 500, 1000}); });
    ASSERT_TRUE(RunToEnd(*T));
    const std::vector<TRecordedEvent> Progress = Recorder.ProgressEvents();
    ASSERT_GE(Progress.size(), 2u); // the first and the last always arrive
    EXPECT_EQ(Progress.front().BytesDone, 0);
    EXPECT_EQ(Progress.front().BytesTotal, 1000);
    EXPECT_EQ(Progress.front().StateText, "Working (0% completed)");
    EXPECT_EQ(Progress.back().BytesDone, 1000);
    EXPECT_EQ(Progress.back().Percent, 100);
}

TEST_F(InternetThreadTest, AResumedTransferCountsTheBytesAlreadyOnTheServer) {
    // 400 bytes were stored by an earlier attempt; this transfer sends the other 600.
    auto T = MakeThread([](TScriptedThread& Self) { Self.Progress(600, {300, 600}, 400); });
    ASSERT_TRUE(RunToEnd(*T));
    const std::vector<TRecordedEvent> Progress = Recorder.ProgressEvents();
    ASSERT_GE(Progress.size(), 2u);
    EXPECT_EQ(Progress.front().BytesTotal, 1000);
    EXPECT_EQ(Progress.back().BytesDone, 1000);
    EXPECT_EQ(Progress.back().BytesTotal, 1000);
    EXPECT_EQ(Progress.back().Percent, 100);
    EXPECT_EQ(T->BaseOffset(), 400);
}

TEST_F(InternetThreadTest, ProgressEventsAreCoalescedButTheLastFiguresAlwaysArrive) {
    // 100000 tiny steps within a few milliseconds: a round trip each would be 100000 deliveries.
    std::vector<int64_t> Steps;
    for (int64_t I = 1; I <= 100000; ++I)
        Steps.push_back(I * 10);
    QElapsedTimer Timer;
    Timer.start();
    auto T = MakeThread([&](TScriptedThread& Self) { Self.Progress(1000000, Steps); });
    ASSERT_TRUE(RunToEnd(*T));
    const int Delivered = Recorder.Count(ieProgress);
    EXPECT_LE(Delivered, Timer.elapsed() / static_cast<int>(TInternetThread::ProgressIntervalMs) + 3);
    EXPECT_EQ(Recorder.Events[Recorder.Events.size() - 2].BytesDone, 1000000);
}

TEST_F(InternetThreadTest, RemainingTimeIsUnknownWithoutASpeed) {
    auto T = MakeThread([](TScriptedThread&) {});
    EXPECT_EQ(T->TransferRemainingMs(), -1);
    EXPECT_EQ(T->TransferSpeed(), 0.0);
    EXPECT_EQ(T->TransferElapsedMs(), 0);
    EXPECT_EQ(T->StateText(), "Idle");
}

} // namespace

namespace {

TEST_F(InternetThreadTest, StopFromInsideTheThreadsOwnHandlerDoesNotWaitForItself) {
    TInternetThread* Self = nullptr;
    Recorder.Extra = [&](TInternetThread& T, TInternetThreadEvent E) {
        if (E == ieStatusText)
            T.Stop(true);
        Self = &T;
    };
    auto T = MakeThread([](TScriptedThread& Worker) {
        Worker.Status("about to be stopped");
        if (Worker.Aborted())
            throw EAbortedError();
    });
    ASSERT_TRUE(RunToEnd(*T));
    EXPECT_EQ(Self, T.get());
    EXPECT_EQ(T->WorkResult(), trAborted);
    EXPECT_EQ(T->ErrorText(), "Aborted by user");
}

} // namespace
