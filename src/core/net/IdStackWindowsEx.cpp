#include "core/net/IdStackWindowsEx.h"

#include <algorithm>
#include <chrono>

namespace quillo {

namespace {

// How often a waiting sender looks at its abort flag.
constexpr uint32_t AbortPollMs = 10;

} // namespace

TIdStackWindowsEx::TIdStackWindowsEx(TTickClock* Clock) : FClock(Clock ? Clock : &SystemTickClock()) {}

TIdStackWindowsEx& TIdStackWindowsEx::Instance() {
    static TIdStackWindowsEx Stack;
    return Stack;
}

bool TIdStackWindowsEx::AcquireLock(const std::atomic<bool>* Abort) {
    if (!Abort) {
        FLock.lock();
        return true;
    }
    while (!FLock.try_lock_for(std::chrono::milliseconds(AbortPollMs)))
        if (Abort->load())
            return false;
    if (Abort->load()) {
        FLock.unlock();
        return false;
    }
    return true;
}

int64_t TIdStackWindowsEx::Send(int64_t Size, const TRawSend& RawSend, const std::atomic<bool>* Abort) {
    if (!AcquireLock(Abort))
        return 0;
    std::unique_lock<std::timed_mutex> Guard(FLock, std::adopt_lock);

    uint32_t Now = FClock->TickCount();
    const uint32_t Counted = Now - CountStart;
    if (Counted > 1000) {
        CurrentSpeed.store(static_cast<int32_t>(std::min<int64_t>(CountedBytes * 1000 / Counted, INT32_MAX)));
        CountStart = Now;
        CountedBytes = 0;
    }

    const int32_t Limit = SendLimit.load();
    if (Limit > 0 && Budget <= 0) {
        // The very first period starts at once: there is no earlier period to wait for, however
        // the tick counter happens to stand.
        const uint32_t Elapsed = Now - BudgetStart;
        if (FBudgetStarted && Elapsed < 1000) {
            // Other senders wait on the lock meanwhile: the budget is shared by all connections.
            const uint32_t Wait = 1000 - Elapsed;
            const uint32_t SleepStart = FClock->TickCount();
            for (;;) {
                const uint32_t Slept = FClock->TickCount() - SleepStart;
                if (Slept >= Wait)
                    break;
                if (Abort && Abort->load())
                    return 0;
                FClock->SleepMs(Abort ? std::min(Wait - Slept, AbortPollMs) : Wait - Slept);
            }
        }
        Budget = Limit;
        BudgetStart = FClock->TickCount();
        FBudgetStarted = true;
    }
    if (Limit > 0 && Size > Budget)
        Size = Budget;

    int64_t Sent;
    if (Limit <= 0) {
        // Without a limit the network call runs unlocked so that parallel uploads do not queue.
        Guard.unlock();
        Sent = RawSend(Size);
        Guard.lock();
    } else {
        Sent = RawSend(Size);
    }
    if (Sent > 0) {
        CountedBytes += Sent;
        if (Limit > 0)
            Budget -= static_cast<int32_t>(std::min<int64_t>(Sent, INT32_MAX));
    }
    return Sent;
}

} // namespace quillo
