#include "core/net/TickClock.h"

#include <chrono>
#include <thread>

namespace quillo {

namespace {

class TSystemTickClock final : public TTickClock {
public:
    uint32_t TickCount() override {
        using namespace std::chrono;
        return static_cast<uint32_t>(
            duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
    }
    void SleepMs(uint32_t Ms) override { std::this_thread::sleep_for(std::chrono::milliseconds(Ms)); }
};

} // namespace

TTickClock& SystemTickClock() {
    static TSystemTickClock Clock;
    return Clock;
}

uint32_t GetTickCount32() {
    return SystemTickClock().TickCount();
}

} // namespace quillo
