#pragma once
// TInternetThread: the worker under every upload task. It runs one unit of network work
// (DoWork, supplied by a derived class) in a loop of attempts with a pause between them, owns the
// HTTP and FTP clients that the work uses, tracks the progress of the one transfer under way and
// reports everything to the user-interface thread through synchronous events.
//
// Threads. The object is created, configured, started (StartWork), stopped (Stop) and destroyed
// on the user-interface thread: the thread that constructs it, which must run a Qt event loop
// (or call Stop(true), which serves it). The body runs on a std::thread of its own, started by the
// first StartWork and parked between work cycles; the next StartWork wakes it for another cycle.
// Every event is delivered on the user-interface thread while the worker waits for the handler
// to return (Qt::BlockingQueuedConnection on a QObject living there), so the handler may read
// every accessor below without a lock. Progress events are coalesced in time: the first and the
// last of a transfer always arrive, the ones between at most every ProgressIntervalMs while bytes
// flow (a pending one goes out with the next write or before any other event), so a fast link
// does not pay a thread round trip per socket write. A handler must not destroy the thread that
// is delivering to it (the scheduler releases finished threads on its next tick); a Stop(true)
// from inside such a handler does not wait.
//
// Errors. EITError ends a cycle at once (trFailed). ENetworkError (core/net/NetErrors.h) ends the
// attempt and is retried after a pause while RetryCount allows (trError when none is left). Any
// other exception ends the cycle (trError). A Stop() during an attempt aborts the pending network
// call; the cycle ends as trAborted with "Aborted by user".

#include "core/net/ProxyConfig.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>

class QObject;
class QEventLoop;

namespace quillo {

class TIdHTTPEx;
class TIndySpeedLimiter;
class TFtpClient;
struct TFtpProxySettings;
struct TWorkEvents;
struct TInternetConnectionSettings;

enum TInternetThreadEvent : uint8_t { ieStarted = 0, ieFinished = 1, ieStatusText = 2, ieProgress = 3 };
enum TInternetThreadState : uint8_t { tsIdle = 0, tsWorking = 1, tsFinished = 2 };
enum TInternetThreadResult : uint8_t { trSuccess = 0, trFailed = 1, trError = 2, trAborted = 3 };

// "Idle", "Working", "Finished".
std::string InternetThreadStateName(TInternetThreadState State);

// An error that no retry can cure (file too big, no upload server, no download link, ...).
class EITError : public std::runtime_error {
public:
    explicit EITError(const std::string& Message) : std::runtime_error(Message) {}
};

// Raised inside a worker when it notices a stop between two network calls. Not a network error,
// so the attempt loop ends the cycle as trAborted.
class EAbortedByUser : public std::runtime_error {
public:
    EAbortedByUser() : std::runtime_error("Aborted by user") {}
};

class TInternetThread;

// Receives every event of a thread on the user-interface thread. Exceptions it raises are
// dropped.
using TInternetThreadEventHandler = std::function<void(TInternetThread& Thread, TInternetThreadEvent Event)>;

class TInternetThread {
public:
    // Created parked ("suspended"): nothing runs until StartWork. Call on the user-interface
    // thread.
    TInternetThread(void* Data, TInternetThreadEventHandler OnEvent);
    // Stop(true), then ends the worker and waits for it. Derived classes whose DoWork uses their
    // own members call Stop(true) first in their own destructors.
    virtual ~TInternetThread();
    TInternetThread(const TInternetThread&) = delete;
    TInternetThread& operator=(const TInternetThread&) = delete;

    // Resets the cycle's state and wakes the worker for one work cycle. Ignored while a cycle
    // runs.
    virtual void StartWork();
    // Requests the stop of a running cycle: the pending network call fails at once. With Wait,
    // returns only when the worker is parked again, serving the user-interface thread's events
    // (the worker's pending deliveries included) meanwhile. Changes nothing on an idle or
    // finished thread.
    virtual void Stop(bool Wait);

    // Store the value and apply it to the clients (milliseconds; bytes). 0 = the client default.
    void SetConnectTimeout(int32_t Ms);
    void SetReadTimeout(int32_t Ms);
    void SetSendBufferSize(int32_t Bytes);
    int32_t ConnectTimeout() const { return FConnectTimeout.load(); }
    int32_t ReadTimeout() const { return FReadTimeout.load(); }
    int32_t SendBufferSize() const { return FSendBufferSize.load(); }

    // The readers below are meant for the event handler (the worker waits meanwhile).
    // kbit/s (1 kbit = 128 bytes) of the tracked transfer; 0 when none is tracked.
    double TransferSpeed() const;
    int32_t TransferElapsedMs() const;
    // -1 when there is no estimate (no speed yet, or the total is unknown).
    int32_t TransferRemainingMs() const;
    // "Working (42% completed)", the work's status text, or the state's name.
    std::string StateText() const;

    void* Data() const { return FData; }
    TInternetThreadEvent LastEvent() const { return FLastEvent; }
    TInternetThreadState State() const { return FState.load(); }
    TInternetThreadResult WorkResult() const { return FWorkResult.load(); }
    const std::string& StatusText() const { return FStatusText; }
    const std::string& ErrorText() const { return FErrorText; }
    bool TransferActive() const { return FTransferActive; }
    uint32_t TransferStartTick() const { return FTransferStartTick; }
    uint32_t TransferEndTick() const { return FTransferEndTick; }
    int64_t BytesDone() const { return FBytesDone; }
    int64_t BytesTotal() const { return FBytesTotal; }
    int32_t Percent() const { return FPercent; }
    int64_t BaseOffset() const { return FBaseOffset; }
    int32_t TransferLimit() const { return FTransferLimit; }
    int32_t Attempts() const { return FAttempts; }

    // True while no cycle runs (never started, or parked after ieFinished).
    bool Parked() const;

    // The pause before a retry; 5000 ms. Tests shorten it.
    void SetRetryPauseMs(int32_t Ms) { FRetryPauseMs = Ms; }
    int32_t RetryPauseMs() const { return FRetryPauseMs; }

    // Smallest gap between two delivered progress events of one transfer.
    static constexpr uint32_t ProgressIntervalMs = 100;

protected:
    // Runs before every attempt: forgets the transfer and closes both clients.
    virtual void PrepareAttempt();
    // One attempt of the work: returns on success, raises on failure. Runs on the worker.
    virtual void DoWork() = 0;

    // Delivers `Event` on the user-interface thread and waits for the handler. For ieStatusText
    // the text becomes StatusText first.
    void NotifyEvent(TInternetThreadEvent Event, const std::string& Text = {});
    void SetStatusText(const std::string& Text) { NotifyEvent(ieStatusText, Text); }
    // The pause before a retry, with a count-down in the status text. Raises EITError with an
    // empty message when a stop arrives meanwhile.
    void WaitBeforeRetry(int Seconds) { WaitBeforeRetryMs(Seconds * 1000); }
    void WaitBeforeRetryMs(int32_t Ms);
    // Raises EAbortedByUser when a stop has been requested.
    void CheckAborted() const;
    bool AbortRequested() const { return FWorkResult.load() == trAborted; }

    // The clients, created and configured on first use. Worker only.
    TIdHTTPEx& HttpClient();
    TFtpClient& FtpClient();
    // Detach the tracking hooks and close the connection; the client object stays for the next
    // attempt.
    void CloseHttpClient();
    void CloseFtpClient();
    // Tracks the next transfer of `Client`: progress counts start at BaseOffset and include it.
    void BeginTransfer(TIdHTTPEx& Client, int64_t BaseOffset);
    void BeginTransfer(TFtpClient& Client, int64_t BaseOffset);

    // The part of BeginTransfer that does not depend on the connection: counters, speed meter.
    void BeginTransferTracking(int64_t BaseOffset);
    // The transfer hooks that the connections' work events drive.
    void TransferWorkBegin(int64_t CountMax);
    void TransferWork(int64_t Count);
    void TransferWorkEnd();
    TIndySpeedLimiter* Limiter() const { return FLimiter.get(); }

private:
    void ThreadMain();
    void RunCycle();
    void Deliver(TInternetThreadEvent Event);
    void NotifyProgress(bool Force);
    void FlushProgress();
    void AbortClients();
    void ApplyTimeouts();
    // The FTP side of the above (InternetThreadFtp.cpp); callers hold FClientLock where noted.
    void AbortFtpClient();   // FClientLock held
    void ApplyFtpTimeouts(); // FClientLock held
    void FinishTransferTracking();
    // Points the work events of a connection at the transfer hooks above.
    void HookTransferWork(TWorkEvents& Work);
    bool TerminateOrAbortRequested() const;
    void WakeUiWaiter();
    void ServeEventsWhileWaiting();
    bool OnUiThread() const;

    void* FData;
    TInternetThreadEventHandler FOnEvent;
    std::unique_ptr<QObject> FEventTarget; // lives on the user-interface thread
    QEventLoop* FStopLoop = nullptr;       // the local loop of a waiting Stop(true), UI thread only
    bool FInDelivery = false;              // the handler runs (UI thread only)
    std::atomic<uint32_t> FHandshake{0};   // release/acquire around each delivery

    std::unique_ptr<TIdHTTPEx> FHttp;
    std::unique_ptr<TFtpClient> FFtp;
    std::unique_ptr<TIndySpeedLimiter> FLimiter;
    TIdHTTPEx* FTrackedHttp = nullptr;
    TFtpClient* FTrackedFtp = nullptr;
    std::mutex FClientLock; // creation and destruction of the clients vs. Stop from the UI thread

    std::atomic<int32_t> FConnectTimeout{0};
    std::atomic<int32_t> FReadTimeout{0};
    std::atomic<int32_t> FSendBufferSize{0};
    int32_t FRetryPauseMs = 5000;

    bool FTransferActive = false;
    bool FTransferTracking = false; // the hooks still listen (only the first transfer counts)
    uint32_t FTransferStartTick = 0;
    uint32_t FTransferEndTick = 0;
    int64_t FBytesDone = 0;
    int64_t FBytesTotal = 0;
    int32_t FPercent = 0;
    int64_t FBaseOffset = 0;
    int32_t FTransferLimit = 0;
    int32_t FAttempts = 0;
    bool FProgressPending = false;
    bool FProgressDelivered = false;
    uint32_t FLastProgressTick = 0;

    TInternetThreadEvent FLastEvent = ieStarted;
    std::atomic<TInternetThreadState> FState{tsIdle};
    std::atomic<TInternetThreadResult> FWorkResult{trSuccess};
    std::string FStatusText;
    std::string FErrorText;

    std::thread FThread;
    mutable std::mutex FLock;
    std::condition_variable FWake;     // worker: StartWork, termination
    std::condition_variable FParkedCv; // Stop(true) off the UI thread
    std::condition_variable FPauseCv;  // wakes the retry pause early on Stop
    bool FParked = true;
    bool FWakeRequested = false;
    bool FTerminateRequested = false;
};

// A new HTTP client configured from the connection settings (proxy, bound address) and reset to
// the program's defaults. Used by the workers and by the update check.
std::unique_ptr<TIdHTTPEx> CreateHttpClient();

// The connection set-up of the settings. ProxyType 1 is the HTTP proxy, 2 SOCKS 4, 3 SOCKS 4A,
// 4 SOCKS 5; other values, or UseProxy off, give no proxy. The proxy address is "host:port"; a
// port that is not a decimal number in 1..65535 gives 8080. Authentication is on exactly when
// the proxy user name is not empty.
TProxyConfig ConnectionConfig(const TInternetConnectionSettings& Settings);
// Only the socket-layer kinds (SOCKS 4/4A/5) of ConnectionConfig, for connections that handle
// ProxyType 1 themselves (the FTP client's firewall schemes): for ProxyType 1 the result has no
// proxy.
TProxyConfig TransparentProxyConfig(const TInternetConnectionSettings& Settings);

// The FTP client's firewall scheme: with ProxyType 1 the scheme chosen by FtpProxyMethod (0 = none,
// connect directly) at the proxy's address and credentials; otherwise none.
TFtpProxySettings FtpProxySettings(const TInternetConnectionSettings& Settings);

// The 32-bit millisecond tick used for transfer times.
uint32_t EngineTickCount();

} // namespace quillo
