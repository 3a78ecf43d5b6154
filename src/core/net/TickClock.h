#pragma once
// The 32-bit millisecond tick of the network layer. Speed meters and the global send budget take
// their time from a TTickClock so that tests can drive them with a fake clock instead of sleeping.

#include <cstdint>

namespace quillo {

// A monotonic millisecond clock taken modulo 2^32; differences of two ticks are computed in
// uint32_t, so a wrapped counter still yields the elapsed time.
class TTickClock {
public:
    virtual ~TTickClock() = default;
    virtual uint32_t TickCount() = 0;
    // Blocks the calling thread for `Ms` milliseconds (a fake clock just advances its time).
    virtual void SleepMs(uint32_t Ms) = 0;
};

// The process's real clock (steady clock in ms, truncated to 32 bits). Thread-safe.
TTickClock& SystemTickClock();

// SystemTickClock().TickCount().
uint32_t GetTickCount32();

} // namespace quillo
