#pragma once
// The speed meter of one transfer (TSpeedStatistics: moving average over the last 30 seconds, in
// kilobits of 1024 bits per second) and the intercept that feeds it (TIndySpeedLimiter), which can
// also hold the transfer to a speed of its own.

#include "core/net/ConnectionHooks.h"
#include "core/net/TickClock.h"

#include <cstdint>
#include <memory>

namespace quillo {

struct TSpeedSample {
    uint32_t Bytes = 0;
    uint32_t Ms = 0;
};

// Driven by one thread; another thread may read AverageSpeed while the driver waits.
class TSpeedStatistics final {
public:
    // `Clock` is not owned; nullptr = SystemTickClock(). The constructor runs Reset().
    explicit TSpeedStatistics(TTickClock* Clock = nullptr);
    ~TSpeedStatistics();
    TSpeedStatistics(const TSpeedStatistics&) = delete;
    TSpeedStatistics& operator=(const TSpeedStatistics&) = delete;

    // Drops all samples and their storage; counters and AverageSpeed = 0; LastTick = now.
    void Reset();
    // Counts a buffer of `N` bytes at the current tick.
    void AddBytes(uint32_t N);

    uint32_t Capacity() const { return FCapacity; }
    const TSpeedSample* Samples() const { return FSamples.get(); }

    uint32_t SampleCount = 0;
    uint64_t WindowBytes = 0; // 64 bits: a gigabit link moves more than 4 GB in 30 s
    uint32_t WindowMs = 0;
    uint32_t PendingBytes = 0;
    int32_t PendingMs = 0;
    uint32_t LastInterval = 0;
    uint32_t LastTick = 0;
    double AverageSpeed = 0; // kbit/s, one decimal

private:
    void SetCapacity(uint32_t NewCapacity);

    TTickClock* FClock;
    std::unique_ptr<TSpeedSample[]> FSamples;
    uint32_t FCapacity = 0;
};

class TIndySpeedLimiter final : public TConnectionIntercept {
public:
    // `Clock` is not owned; nullptr = SystemTickClock(). Also used for the throttle's sleeps.
    explicit TIndySpeedLimiter(int32_t TransferLimit = 0, TTickClock* Clock = nullptr);
    ~TIndySpeedLimiter() override;

    void Connected() override;
    void Send(const void* Buffer, int64_t Size) override;
    void Receive(const void* Buffer, int64_t Size) override;

    TSpeedStatistics Statistics;
    int32_t TransferLimit = 0; // kbit/s; 0 = no limit

    // The sleep (ms) the throttle asks for a buffer of `N` bytes after it has been counted.
    uint32_t ThrottleDelay(int64_t N) const;

private:
    void CountAndThrottle(int64_t Size);
    TTickClock* FClock;
};

} // namespace quillo
