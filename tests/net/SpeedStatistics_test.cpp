#include "core/net/InternetSpeedLimiter.h"

#include "FakeTickClock.h"

#include <gtest/gtest.h>

namespace quillo {
namespace {

using test::TFakeTickClock;

// Feeds `Bytes` every `StepMs` for `Steps` steps.
void Feed(TSpeedStatistics& S, TFakeTickClock& Clock, uint32_t Bytes, uint32_t StepMs, int Steps) {
    for (int I = 0; I < Steps; ++I) {
        Clock.Advance(StepMs);
        S.AddBytes(Bytes);
    }
}

void ExpectSumsMatchSamples(const TSpeedStatistics& S) {
    uint64_t Bytes = 0, Ms = 0;
    for (uint32_t I = 0; I < S.SampleCount; ++I) {
        Bytes += S.Samples()[I].Bytes;
        Ms += S.Samples()[I].Ms;
    }
    EXPECT_EQ(S.WindowBytes, Bytes);
    EXPECT_EQ(S.WindowMs, Ms);
}

TEST(SpeedStatistics, BuffersWithinOneTickAfterResetStoreNoSample) {
    TFakeTickClock Clock(5000);
    TSpeedStatistics S(&Clock);
    S.AddBytes(1000);
    S.AddBytes(500);
    EXPECT_EQ(S.SampleCount, 0u);
    EXPECT_EQ(S.AverageSpeed, 0.0);
    EXPECT_EQ(S.PendingBytes, 1500u);
    // The next tick stores everything gathered so far as one sample.
    Clock.Advance(1);
    S.AddBytes(100);
    EXPECT_EQ(S.SampleCount, 1u);
    EXPECT_EQ(S.WindowBytes, 1600u);
    EXPECT_EQ(S.WindowMs, 1u);
}

TEST(SpeedStatistics, AveragesInKilobitsOf1024Bits) {
    struct TCase {
        uint32_t Bytes, StepMs;
        int Steps;
        double Expected;
    };
    const TCase Cases[] = {
        {128, 10, 100, 100.0},                   // 12800 bytes evenly over 1000 ms
        {1280, 100, 10, 100.0}, {4, 1, 1, 31.2}, // 312.5 tenths: a half rounds to even
        {12, 1, 1, 93.8},                        // 937.5 tenths: to even, upwards
        {1, 3, 1, 2.6},                          // 26.04 tenths
    };
    for (const TCase& C : Cases) {
        TFakeTickClock Clock(100);
        TSpeedStatistics S(&Clock);
        Feed(S, Clock, C.Bytes, C.StepMs, C.Steps);
        EXPECT_DOUBLE_EQ(S.AverageSpeed, C.Expected) << C.Bytes << " bytes every " << C.StepMs << " ms";
        ExpectSumsMatchSamples(S);
    }
}

TEST(SpeedStatistics, OldSamplesLeaveTheWindowAfterThirtySeconds) {
    TFakeTickClock Clock;
    TSpeedStatistics S(&Clock);
    Feed(S, Clock, 1280, 100, 400); // 40 s at 100 kbit/s
    EXPECT_DOUBLE_EQ(S.AverageSpeed, 100.0);
    EXPECT_LT(S.WindowMs, 30000u);
    Feed(S, Clock, 2560, 100, 310); // 31 s at 200 kbit/s
    EXPECT_DOUBLE_EQ(S.AverageSpeed, 200.0);
    ExpectSumsMatchSamples(S);
}

TEST(SpeedStatistics, APauseIsAveragedOnceThenTheWindowStartsAfresh) {
    TFakeTickClock Clock;
    TSpeedStatistics S(&Clock);
    Feed(S, Clock, 1280, 100, 100); // 10 s at 100 kbit/s
    Clock.Advance(40000);
    S.AddBytes(1280);
    // Covers the old samples and the pause: 128000+1280 bytes over 50 s.
    EXPECT_DOUBLE_EQ(S.AverageSpeed, 20.2);
    EXPECT_EQ(S.SampleCount, 0u);
    EXPECT_EQ(S.WindowMs, 0u);
    Feed(S, Clock, 640, 100, 10);
    EXPECT_DOUBLE_EQ(S.AverageSpeed, 50.0);
}

TEST(SpeedStatistics, CapacityMovesInStepsOfTenAndSettles) {
    TFakeTickClock Clock;
    TSpeedStatistics S(&Clock);
    Feed(S, Clock, 100, 1000, 1);
    EXPECT_EQ(S.Capacity(), 10u);
    Feed(S, Clock, 100, 1000, 10);
    EXPECT_EQ(S.Capacity(), 20u);
    // A steady transfer keeps about 30 samples of one second: the storage stops changing.
    Feed(S, Clock, 100, 1000, 100);
    const uint32_t Settled = S.Capacity();
    EXPECT_EQ(Settled % 10, 0u);
    Feed(S, Clock, 100, 1000, 100);
    EXPECT_EQ(S.Capacity(), Settled);
    // After a pause that empties the window the storage shrinks back.
    Clock.Advance(60000);
    S.AddBytes(1);
    EXPECT_EQ(S.Capacity(), 10u);
}

TEST(SpeedStatistics, SurvivesTheWrapOfTheTickCounter) {
    TFakeTickClock Clock(0xFFFFFF00u);
    TSpeedStatistics S(&Clock);
    Feed(S, Clock, 128, 10, 100);
    EXPECT_DOUBLE_EQ(S.AverageSpeed, 100.0);
}

TEST(SpeedStatistics, ResetDropsEverything) {
    TFakeTickClock Clock;
    TSpeedStatistics S(&Clock);
    Feed(S, Clock, 128, 10, 50);
    Clock.Advance(7);
    S.Reset();
    EXPECT_EQ(S.SampleCount, 0u);
    EXPECT_EQ(S.WindowBytes, 0u);
    EXPECT_EQ(S.Capacity(), 0u);
    EXPECT_EQ(S.AverageSpeed, 0.0);
    EXPECT_EQ(S.LastTick, Clock.TickCount());
}

TEST(SpeedLimiter, WithoutALimitNoBufferSleeps) {
    TFakeTickClock Clock;
    TIndySpeedLimiter L(0, &Clock);
    for (int I = 0; I < 1000; ++I)
        L.Send(nullptr, 1 << 20);
    L.Receive(nullptr, 1 << 20);
    EXPECT_EQ(Clock.Slept, 0u);
    EXPECT_EQ(L.Statistics.PendingBytes, 1001u << 20);
}

TEST(SpeedLimiter, SleepsForTheTimeTheBufferTakesAtTheLimit) {
    TFakeTickClock Clock(1000);
    TIndySpeedLimiter L(100, &Clock);
    L.Connected();
    // 12800 bytes at 100 kbit/s take 1000 ms; none of it has passed yet.
    L.Send(nullptr, 12800);
    EXPECT_EQ(Clock.Slept, 1000u);
    // The time since the last buffer (the sleep included) counts: 25600 bytes take 2000 ms,
    // 1000 of which have passed.
    L.Send(nullptr, 25600);
    EXPECT_EQ(Clock.Slept, 2000u);
    // A buffer later than its own time does not sleep at all.
    Clock.Advance(5000);
    L.Receive(nullptr, 12800);
    EXPECT_EQ(Clock.Slept, 2000u);
}

TEST(SpeedLimiter, ConnectResetsTheStatistics) {
    TFakeTickClock Clock;
    TIndySpeedLimiter L(0, &Clock);
    Clock.Advance(10);
    L.Send(nullptr, 1000);
    Clock.Advance(10);
    L.Send(nullptr, 1000);
    ASSERT_GT(L.Statistics.AverageSpeed, 0.0);
    L.Connected();
    EXPECT_EQ(L.Statistics.AverageSpeed, 0.0);
    EXPECT_EQ(L.Statistics.SampleCount, 0u);
}

} // namespace
} // namespace quillo
