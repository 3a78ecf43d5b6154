#include "core/net/InternetSpeedLimiter.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace quillo {

namespace {

constexpr uint32_t WindowLimitMs = 30000;
constexpr uint32_t CapacityStep = 10;

} // namespace

TSpeedStatistics::TSpeedStatistics(TTickClock* Clock) : FClock(Clock ? Clock : &SystemTickClock()) {
    Reset();
}

TSpeedStatistics::~TSpeedStatistics() = default;

void TSpeedStatistics::Reset() {
    FSamples.reset();
    FCapacity = 0;
    SampleCount = 0;
    WindowBytes = 0;
    WindowMs = 0;
    PendingBytes = 0;
    PendingMs = 0;
    LastInterval = 0;
    AverageSpeed = 0;
    LastTick = FClock->TickCount();
}

void TSpeedStatistics::SetCapacity(uint32_t NewCapacity) {
    std::unique_ptr<TSpeedSample[]> Fresh(NewCapacity ? new TSpeedSample[NewCapacity] : nullptr);
    const uint32_t Keep = std::min(SampleCount, NewCapacity);
    if (Keep)
        std::memcpy(Fresh.get(), FSamples.get(), Keep * sizeof(TSpeedSample));
    FSamples = std::move(Fresh);
    FCapacity = NewCapacity;
}

void TSpeedStatistics::AddBytes(uint32_t N) {
    const uint32_t Now = FClock->TickCount();
    LastInterval = Now - LastTick; // modulo 2^32: a wrapped tick still gives the elapsed time
    LastTick = Now;
    PendingBytes += N;
    PendingMs += static_cast<int32_t>(LastInterval);
    // Buffers within the same millisecond tick are gathered into one sample.
    if (PendingMs == 0)
        return;
    if (SampleCount >= FCapacity)
        SetCapacity(FCapacity + CapacityStep);
    FSamples[SampleCount] = {PendingBytes, static_cast<uint32_t>(PendingMs)};
    ++SampleCount;
    WindowBytes += PendingBytes;
    WindowMs += static_cast<uint32_t>(PendingMs);
    // Bytes per ms to tenths of kbit/s (1 kbit = 128 bytes); nearbyint rounds halves to even.
    if (WindowMs != 0)
        AverageSpeed = static_cast<double>(
            std::nearbyintl(static_cast<long double>(WindowBytes) * 78.125L / WindowMs) / 10);
    PendingBytes = 0;
    PendingMs = 0;
    // The average above covers the newest sample on top of up to 30 s; trim for the next one.
    uint32_t Drop = 0;
    while (WindowMs >= WindowLimitMs && Drop < SampleCount) {
        WindowBytes -= FSamples[Drop].Bytes;
        WindowMs -= FSamples[Drop].Ms;
        ++Drop;
    }
    if (Drop) {
        SampleCount -= Drop;
        std::memmove(FSamples.get(), FSamples.get() + Drop, SampleCount * sizeof(TSpeedSample));
    }
    if (FCapacity > SampleCount + 2 * CapacityStep)
        SetCapacity(SampleCount + CapacityStep);
}

TIndySpeedLimiter::TIndySpeedLimiter(int32_t Limit, TTickClock* Clock)
    : Statistics(Clock), TransferLimit(Limit), FClock(Clock ? Clock : &SystemTickClock()) {}

TIndySpeedLimiter::~TIndySpeedLimiter() = default;

void TIndySpeedLimiter::Connected() {
    Statistics.Reset();
}

void TIndySpeedLimiter::Send(const void*, int64_t Size) {
    CountAndThrottle(Size);
}

void TIndySpeedLimiter::Receive(const void*, int64_t Size) {
    CountAndThrottle(Size);
}

uint32_t TIndySpeedLimiter::ThrottleDelay(int64_t N) const {
    if (TransferLimit == 0 || N <= 0)
        return 0;
    // The time N bytes take at TransferLimit kbit/s: N * 8 * 1000 / (L * 1024) ms.
    const int64_t T = N * 125 / (static_cast<int64_t>(TransferLimit) * 16);
    if (T <= 0 || static_cast<uint64_t>(T) <= Statistics.LastInterval)
        return 0;
    return static_cast<uint32_t>(std::min<int64_t>(T - Statistics.LastInterval, UINT32_MAX));
}

void TIndySpeedLimiter::CountAndThrottle(int64_t Size) {
    while (Size > 0) {
        const uint32_t Chunk = static_cast<uint32_t>(std::min<int64_t>(Size, UINT32_MAX));
        Statistics.AddBytes(Chunk);
        if (const uint32_t Delay = ThrottleDelay(Chunk))
            FClock->SleepMs(Delay);
        Size -= Chunk;
    }
}

} // namespace quillo
