#pragma once
// A tick clock that moves only when a test (or a sleep) moves it.

#include "core/net/TickClock.h"

#include <atomic>

namespace quillo::test {

class TFakeTickClock final : public TTickClock {
public:
    explicit TFakeTickClock(uint32_t Start = 0) : Now(Start) {}
    uint32_t TickCount() override { return Now.load(); }
    void SleepMs(uint32_t Ms) override {
        Slept += Ms;
        Now += Ms;
    }
    void Advance(uint32_t Ms) { Now += Ms; }

    std::atomic<uint32_t> Now;
    std::atomic<uint64_t> Slept{0};
};

} // namespace quillo::test
