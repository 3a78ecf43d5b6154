#include "core/net/IdStackWindowsEx.h"

#include "FakeTickClock.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <limits>
#include <thread>

namespace quillo {
namespace {

using test::TFakeTickClock;

// A raw send that takes everything it is offered.
int64_t TakeAll(int64_t Allowed) {
    return Allowed;
}

TEST(SendStack, FirstLimitedSendDoesNotWaitWhateverTheTickCount) {
    for (uint32_t Start : {0u, 500u, 0xFFFFFFF0u, 123456789u}) {
        TFakeTickClock Clock(Start);
        TIdStackWindowsEx Stack(&Clock);
        Stack.SendLimit = 10240;
        EXPECT_EQ(Stack.Send(4096, TakeAll), 4096) << Start;
        EXPECT_EQ(Clock.Slept, 0u) << Start;
        EXPECT_EQ(Stack.Budget, 10240 - 4096) << Start;
    }
}

TEST(SendStack, BudgetCutsSendsAndAPeriodLastsAtLeastOneSecond) {
    TFakeTickClock Clock(1000000);
    TIdStackWindowsEx Stack(&Clock);
    Stack.SendLimit = 10240;
    EXPECT_EQ(Stack.Send(4096, TakeAll), 4096);
    EXPECT_EQ(Stack.Send(4096, TakeAll), 4096);
    Clock.Advance(200);
    EXPECT_EQ(Stack.Send(4096, TakeAll), 2048); // the rest of the budget only
    EXPECT_EQ(Clock.Slept, 0u);
    // The budget is spent 200 ms into the period: the next send waits the other 800 ms.
    EXPECT_EQ(Stack.Send(4096, TakeAll), 4096);
    EXPECT_EQ(Clock.Slept, 800u);
    EXPECT_EQ(Stack.BudgetStart, 1001000u);
    // A period whose budget is not spent goes on, however long it lasts.
    Clock.Advance(5000);
    EXPECT_EQ(Stack.Send(8192, TakeAll), 6144);
    EXPECT_EQ(Clock.Slept, 800u);
    // Spent after more than a second: the next period starts at once.
    EXPECT_EQ(Stack.Send(100, TakeAll), 100);
    EXPECT_EQ(Clock.Slept, 800u);
    EXPECT_EQ(Stack.BudgetStart, 1006000u);
}

TEST(SendStack, WithoutALimitNothingIsCutOrDelayed) {
    TFakeTickClock Clock(77);
    TIdStackWindowsEx Stack(&Clock);
    for (int I = 0; I < 100; ++I)
        EXPECT_EQ(Stack.Send(1 << 20, TakeAll), 1 << 20);
    EXPECT_EQ(Clock.Slept, 0u);
}

TEST(SendStack, MeasuresTheSpeedOfTheWholeProgram) {
    TFakeTickClock Clock(50000);
    TIdStackWindowsEx Stack(&Clock);
    Stack.Send(1, TakeAll); // opens a measuring period at 50000
    Stack.CountedBytes = 0;
    Clock.Advance(500);
    Stack.Send(1000000, TakeAll);
    Clock.Advance(500);
    Stack.Send(1000000, TakeAll);
    Clock.Advance(500);
    Stack.Send(1000000, TakeAll);
    // 1500 ms after the period began: the first two sends close it, before the third is counted.
    EXPECT_EQ(Stack.CurrentSpeed.load(), 1333333);
    Clock.Advance(1000);
    Stack.Send(10, TakeAll);
    EXPECT_EQ(Stack.CurrentSpeed.load(), 1333333); // exactly one second is not more than one
    Clock.Advance(1);
    Stack.Send(10, TakeAll);
    EXPECT_EQ(Stack.CurrentSpeed.load(), 999010); // 1000010 bytes over 1001 ms
    // Nothing sent: the value stays.
    Clock.Advance(10000);
    EXPECT_EQ(Stack.CurrentSpeed.load(), 999010);
}

TEST(SendStack, SpeedOfAPeriodOfOneAndAHalfSeconds) {
    TFakeTickClock Clock(0);
    TIdStackWindowsEx Stack(&Clock);
    Clock.Advance(2000);
    Stack.Send(0, TakeAll); // starts a period at 2000
    Stack.CountedBytes = 3000000;
    Clock.Advance(1500);
    Stack.Send(0, TakeAll);
    EXPECT_EQ(Stack.CurrentSpeed.load(), 2000000);
}

TEST(SendStack, FailedSendsCountNothing) {
    TFakeTickClock Clock(10000);
    TIdStackWindowsEx Stack(&Clock);
    Stack.SendLimit = 1000;
    EXPECT_EQ(Stack.Send(500, [](int64_t) -> int64_t { return -1; }), -1);
    EXPECT_EQ(Stack.Budget, 1000);
    EXPECT_EQ(Stack.CountedBytes, 0);
    EXPECT_THROW(Stack.Send(500, [](int64_t) -> int64_t { throw std::runtime_error("x"); }),
                 std::runtime_error);
    // The lock was released by the failure.
    EXPECT_EQ(Stack.Send(500, TakeAll), 500);
}

TEST(SendStack, WithoutALimitTheNetworkCallRunsUnlocked) {
    TIdStackWindowsEx Stack;
    std::promise<void> Inside;
    std::promise<void> Release;
    auto Blocked = std::async(std::launch::async, [&] {
        return Stack.Send(10, [&](int64_t N) {
            Inside.set_value();
            Release.get_future().wait();
            return N;
        });
    });
    Inside.get_future().wait();
    // A second sender gets through while the first one is still inside its network call.
    auto Second = std::async(std::launch::async, [&] { return Stack.Send(20, TakeAll); });
    ASSERT_EQ(Second.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_EQ(Second.get(), 20);
    Release.set_value();
    EXPECT_EQ(Blocked.get(), 10);
}

TEST(SendStack, TwoSendersShareOneBudget) {
    TFakeTickClock Clock(100000);
    TIdStackWindowsEx Stack(&Clock);
    Stack.SendLimit = 10240;
    std::atomic<int64_t> Total{0};
    auto Sender = [&] {
        // Budget cuts split sends; each sender goes on with the rest, as a socket writer does.
        int64_t Own = 0;
        while (Own < 50000)
            Own += Stack.Send(std::min<int64_t>(1000, 50000 - Own), TakeAll);
        Total += Own;
    };
    std::thread A(Sender), B(Sender);
    A.join();
    B.join();
    // 100000 bytes at 10240 per period: the first period starts at once, every further one
    // after the previous one's second.
    EXPECT_EQ(Total.load(), 100000);
    EXPECT_EQ(Clock.Now.load() - 100000u, 9000u);
}

TEST(SendStack, SendLimitFromKilobytesNeverWraps) {
    const struct {
        int32_t Kb;
        int32_t Bytes;
    } Cases[] = {{0, 0},
                 {-5, 0},
                 {1, 1024},
                 {12, 12 * 1024},
                 {2097151, 2097151 * 1024},
                 {2097152, 2097151 * 1024},
                 {4194305, 2097151 * 1024}, // times 1024 in 32 bits would give 1 KB/s
                 {std::numeric_limits<int32_t>::max(), 2097151 * 1024}};
    TIdStackWindowsEx Stack;
    for (const auto& C : Cases) {
        Stack.SetSendLimitKb(C.Kb);
        EXPECT_EQ(Stack.SendLimit.load(), C.Bytes) << C.Kb;
    }
}

TEST(SendStack, AbortEndsTheWaitForTheNextPeriod) {
    TIdStackWindowsEx Stack; // real clock: the wait is real
    Stack.SendLimit = 100;
    EXPECT_EQ(Stack.Send(100, TakeAll), 100);
    std::atomic<bool> Abort{false};
    const auto Start = std::chrono::steady_clock::now();
    std::thread Aborter([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        Abort = true;
    });
    EXPECT_EQ(Stack.Send(100, TakeAll, &Abort), 0);
    Aborter.join();
    EXPECT_LT(std::chrono::steady_clock::now() - Start, std::chrono::milliseconds(700));
}

} // namespace
} // namespace quillo
