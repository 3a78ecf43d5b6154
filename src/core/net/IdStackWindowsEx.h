#pragma once
// TIdStackWindowsEx: the one process-wide send path. Every upload byte of every connection (HTTP
// request bodies and everything TSocketConnection writes, FTP data included) passes through Send,
// which measures the program's total send speed and enforces the global upload limit with a
// per-second byte budget shared by all connections.

#include "core/net/TickClock.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>

namespace quillo {

class TIdStackWindowsEx final {
public:
    // `Clock` is not owned; nullptr = SystemTickClock(). Tests make their own instances.
    explicit TIdStackWindowsEx(TTickClock* Clock = nullptr);
    TIdStackWindowsEx(const TIdStackWindowsEx&) = delete;
    TIdStackWindowsEx& operator=(const TIdStackWindowsEx&) = delete;

    // The process-wide instance (created on first use, lives until exit).
    static TIdStackWindowsEx& Instance();

    // The raw send: hands at most `Allowed` bytes to the network (or to the library's buffer)
    // and returns how many it took (0 or less: nothing sent).
    using TRawSend = std::function<int64_t(int64_t Allowed)>;

    // Sends up to `Size` bytes through `RawSend` under the budget and speed rules; returns what
    // RawSend returned. The caller sends the rest of its buffer in further calls. When `Abort`
    // is given and becomes true while the call waits for the lock or for the next budget period,
    // the call returns 0 at once without sending. Exceptions from RawSend propagate.
    int64_t Send(int64_t Size, const TRawSend& RawSend, const std::atomic<bool>* Abort = nullptr);

    // Readers and the writer of these two do not take the lock (single 32-bit values).
    std::atomic<int32_t> CurrentSpeed{0}; // bytes/s of the whole program
    std::atomic<int32_t> SendLimit{0};    // bytes/s; 0 or less = no limit

    // Sets SendLimit from the "SpeedLimit" setting in KB/s (0 or less: no limit). A limit too
    // large for 32 bits of bytes per second is capped instead of wrapping into a tiny one.
    void SetSendLimitKb(int32_t Kb);

    // Budget bookkeeping, guarded by the lock (exposed for tests and diagnostics).
    int32_t Budget = 0;
    uint32_t BudgetStart = 0;
    int64_t CountedBytes = 0; // 64 bits: loopback can send more than 2 GB in a period
    uint32_t CountStart = 0;

private:
    // The lock that guards the fields above and, with a limit set, the sends. Hand-made from a
    // mutex and a condition so that a waiting sender can give up when its connection is aborted.
    bool AcquireLock(const std::atomic<bool>* Abort);
    void ReleaseLock();

    TTickClock* FClock;
    std::mutex FStateMutex;
    std::condition_variable FReleased;
    bool FHeld = false;
    bool FBudgetStarted = false;
};

} // namespace quillo
