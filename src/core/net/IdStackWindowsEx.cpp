#include "core/net/IdStackWindowsEx.h"

#include <algorithm>
#include <chrono>
#include <limits>

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

void TIdStackWindowsEx::SetSendLimitKb(int32_t Kb) {
    constexpr int32_t kMaxKb = std::numeric_limits<int32_t>::max() / 1024;
    SendLimit = Kb <= 0 ? 0 : std::min(Kb, kMaxKb) * 1024;
}

bool TIdStackWindowsEx::AcquireLock(const std::atomic<bool>* Abort) {
    std::unique_lock<std::mutex> Guard(FStateMutex);
    while (FHeld) {
        if (Abort && Abort->load())
            return false;
        FReleased.wait_for(Guard, std::chrono::milliseconds(AbortPollMs));
    }
    if (Abort && Abort->load())
        return false;
    FHeld = true;
    return true;
}

void TIdStackWindowsEx::ReleaseLock() {
    {
        std::lock_guard<std::mutex> Guard(FStateMutex);
        FHeld = false;
    }
    FReleased.notify_one();
}

int64_t TIdStackWindowsEx::Send(int64_t Size, const TRawSend& RawSend, const std::atomic<bool>* Abort) {
    if (!AcquireLock(Abort))
        return 0;
    struct TLockGuard {
        TIdStackWindowsEx& Stack;
        bool Held = true;
        void Unlock() {
            Stack.ReleaseLock();
            Held = false;
        }
        void Lock() {
            Stack.AcquireLock(nullptr);
            Held = true;
        }
        ~TLockGuard() {
            if (Held)
                Stack.ReleaseLock();
        }
    } Guard{*this};

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
        Guard.Unlock();
        Sent = RawSend(Size);
        Guard.Lock();
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
