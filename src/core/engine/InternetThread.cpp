#include "core/engine/InternetThread.h"

#include "core/app/MyUtils.h"
#include "core/app/Settings.h"
#include "core/engine/Redaction.h"
#include "core/net/FtpClient.h"
#include "core/net/IdHTTPEx.h"
#include "core/net/InternetSpeedLimiter.h"
#include "core/net/NetErrors.h"
#include "core/net/TickClock.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QObject>
#include <QThread>
#include <QTimer>

#include <cmath>

namespace quillo {

namespace {

bool IsNetworkError(const std::exception& E) {
    return dynamic_cast<const ENetworkError*>(&E) != nullptr;
}

// Leaves trAborted alone: a stop that arrives while the worker records an outcome wins.
bool SetResultUnlessAborted(std::atomic<TInternetThreadResult>& Result, TInternetThreadResult Value) {
    TInternetThreadResult Current = Result.load();
    while (Current != trAborted) {
        if (Result.compare_exchange_weak(Current, Value))
            return true;
    }
    return false;
}

} // namespace

uint32_t EngineTickCount() {
    return GetTickCount32();
}

std::string InternetThreadStateName(TInternetThreadState State) {
    switch (State) {
    case tsIdle:
        return "Idle";
    case tsWorking:
        return "Working";
    case tsFinished:
        return "Finished";
    }
    return {};
}

// ---- connection settings ------------------------------------------------------------------------

namespace {

void FillProxyAddress(TProxyConfig& Config, const TInternetConnectionSettings& Settings) {
    Config.ProxyHost = TextBeforeColon(Settings.Proxy);
    int32_t Port = 0;
    if (!TryStrToIntDecimal(TextAfterColon(Settings.Proxy), Port) || Port < 1 || Port > 65535)
        Port = 8080;
    Config.ProxyPort = Port;
    Config.ProxyUser = Settings.UserName;
    Config.ProxyPassword = Settings.Password;
}

} // namespace

TProxyConfig TransparentProxyConfig(const TInternetConnectionSettings& Settings) {
    TProxyConfig Config;
    Config.BoundIP = Settings.BoundIP;
    if (!Settings.UseProxy)
        return Config;
    switch (Settings.ProxyType) {
    case 2:
        Config.ProxyKind = pkSocks4;
        break;
    case 3:
        Config.ProxyKind = pkSocks4A;
        break;
    case 4:
        Config.ProxyKind = pkSocks5;
        break;
    default:
        return Config;
    }
    FillProxyAddress(Config, Settings);
    return Config;
}

TProxyConfig ConnectionConfig(const TInternetConnectionSettings& Settings) {
    if (Settings.UseProxy && Settings.ProxyType == 1) {
        TProxyConfig Config;
        Config.BoundIP = Settings.BoundIP;
        Config.ProxyKind = pkHttp;
        FillProxyAddress(Config, Settings);
        return Config;
    }
    return TransparentProxyConfig(Settings);
}

std::unique_ptr<TIdHTTPEx> CreateHttpClient() {
    auto Client = std::make_unique<TIdHTTPEx>();
    Client->SetConfig(ConnectionConfig(SettingsSnapshot().InternetConnection));
    Client->ResetDefaults();
    return Client;
}

// ---- life cycle ---------------------------------------------------------------------------------

TInternetThread::TInternetThread(void* Data, TInternetThreadEventHandler OnEvent)
    : FData(Data), FOnEvent(std::move(OnEvent)), FEventTarget(std::make_unique<QObject>()) {}

TInternetThread::~TInternetThread() {
    Stop(true);
    {
        std::lock_guard Lock(FLock);
        FTerminateRequested = true;
    }
    FWake.notify_all();
    FPauseCv.notify_all();
    if (FThread.joinable())
        FThread.join();
    FLimiter.reset();
    FHttp.reset();
    FFtp.reset();
}

bool TInternetThread::Parked() const {
    std::lock_guard Lock(FLock);
    return FParked;
}

bool TInternetThread::OnUiThread() const {
    return QCoreApplication::instance() && QThread::currentThread() == FEventTarget->thread();
}

void TInternetThread::StartWork() {
    {
        std::lock_guard Lock(FLock);
        if (!FParked || FTerminateRequested)
            return;
    }
    // The worker is parked: nothing else touches the fields now.
    PrepareAttempt();
    FState = tsIdle;
    FStatusText.clear();
    FWorkResult = trSuccess;
    FErrorText.clear();
    FAttempts = 0;
    {
        std::lock_guard Lock(FLock);
        FParked = false;
        FWakeRequested = true;
    }
    if (!FThread.joinable())
        FThread = std::thread([this] { ThreadMain(); });
    FWake.notify_all();
}

void TInternetThread::ThreadMain() {
    for (;;) {
        {
            std::unique_lock Lock(FLock);
            FWake.wait(Lock, [this] { return FWakeRequested || FTerminateRequested; });
            if (FTerminateRequested) {
                FParked = true;
                break;
            }
            FWakeRequested = false;
        }
        RunCycle();
        {
            std::lock_guard Lock(FLock);
            FParked = true;
        }
        FParkedCv.notify_all();
        WakeUiWaiter();
    }
    FParkedCv.notify_all();
    WakeUiWaiter();
}

void TInternetThread::RunCycle() {
    FState = tsWorking;
    NotifyEvent(ieStarted);
    for (;;) {
        if (TerminateOrAbortRequested())
            break;
        // A negative count from a hand-edited file still gets one attempt (no retries); 0 means
        // retry without end.
        const int32_t Retries = SettingsSnapshot().UploadManager.RetryCount;
        if (FAttempts > 0 && Retries != 0 && Retries < FAttempts)
            break;
        ++FAttempts;
        TInternetThreadResult Expected = trError;
        FWorkResult.compare_exchange_strong(Expected, trSuccess);
        try {
            if (FAttempts > 1)
                WaitBeforeRetryMs(FRetryPauseMs);
            PrepareAttempt();
            CheckAborted();
            DoWork();
            // A failed attempt before this one leaves no error behind a success.
            if (FWorkResult.load() == trSuccess)
                FErrorText.clear();
            break;
        } catch (const EITError& E) {
            FWorkResult = trFailed;
            FErrorText = RedactSettingsSecrets(E.what());
            break;
        } catch (const std::exception& E) {
            if (AbortRequested() || !SetResultUnlessAborted(FWorkResult, trError)) {
                FErrorText = "Aborted by user";
                break;
            }
            // Library messages may quote a request or a reply; the error text is shown, saved in
            // the jobs file and printed by quillo-cli.
            FErrorText = RedactSettingsSecrets(E.what());
            if (!IsNetworkError(E))
                break;
        } catch (...) {
            if (AbortRequested() || !SetResultUnlessAborted(FWorkResult, trError)) {
                FErrorText = "Aborted by user";
                break;
            }
            FErrorText = "Unknown error";
            break;
        }
    }
    // A stop that came between two attempts, or after the work had already returned, still
    // reports why the cycle ended.
    if (FWorkResult.load() == trAborted && FErrorText.empty())
        FErrorText = "Aborted by user";
    FState = tsFinished;
    FlushProgress();
    NotifyEvent(ieFinished);
}

void TInternetThread::PrepareAttempt() {
    FTransferActive = false;
    FTransferStartTick = 0;
    FTransferEndTick = 0;
    FBytesDone = 0;
    FBytesTotal = 0;
    FPercent = 0;
    CloseHttpClient();
    CloseFtpClient();
}

// The worker's loops end on either: the thread object is going away, or a stop was requested.
bool TInternetThread::TerminateOrAbortRequested() const {
    {
        std::lock_guard Lock(FLock);
        if (FTerminateRequested)
            return true;
    }
    return AbortRequested();
}

void TInternetThread::CheckAborted() const {
    if (AbortRequested())
        throw EAbortedByUser();
}

void TInternetThread::WaitBeforeRetryMs(int32_t Ms) {
    const uint32_t T0 = EngineTickCount();
    const std::string Error = Trim(FErrorText);
    for (;;) {
        if (TerminateOrAbortRequested())
            break;
        const uint32_t Elapsed = EngineTickCount() - T0;
        if (Ms <= 0 || Elapsed >= static_cast<uint32_t>(Ms))
            break;
        const uint32_t LeftMs = static_cast<uint32_t>(Ms) - Elapsed;
        const int64_t LeftSeconds = (LeftMs + 999) / 1000;
        SetStatusText(FormatText("ERROR: %s\r\nRetrying in %d seconds...", {Error, LeftSeconds}));
        std::unique_lock Lock(FLock);
        FPauseCv.wait_for(Lock, std::chrono::milliseconds(std::min<uint32_t>(200, LeftMs)),
                          [this] { return FTerminateRequested || AbortRequested(); });
    }
    if (AbortRequested())
        throw EITError(std::string());
}

// ---- stop ---------------------------------------------------------------------------------------

void TInternetThread::AbortClients() {
    std::lock_guard Lock(FClientLock);
    if (FHttp)
        FHttp->Abort();
    AbortFtpClient();
}

void TInternetThread::Stop(bool Wait) {
    for (;;) {
        if (FState.load() == tsWorking) {
            FWorkResult = trAborted;
            AbortClients();
            FPauseCv.notify_all();
        }
        // The worker waits for the handler that called us: waiting for the worker would never end.
        if (!Wait || Parked() || (FInDelivery && OnUiThread()))
            break;
        ServeEventsWhileWaiting();
    }
}

void TInternetThread::WakeUiWaiter() {
    if (!QCoreApplication::instance())
        return;
    QMetaObject::invokeMethod(
        FEventTarget.get(),
        [this] {
            if (FStopLoop)
                FStopLoop->quit();
        },
        Qt::QueuedConnection);
}

// The user-interface thread keeps serving its events (the worker's deliveries among them) until
// the worker parks or half a second passes; then the caller looks again.
void TInternetThread::ServeEventsWhileWaiting() {
    if (!OnUiThread()) {
        std::unique_lock Lock(FLock);
        FParkedCv.wait_for(Lock, std::chrono::milliseconds(500), [this] { return FParked; });
        return;
    }
    QEventLoop Loop;
    QEventLoop* Outer = FStopLoop;
    FStopLoop = &Loop;
    if (!Parked()) {
        QTimer::singleShot(500, &Loop, &QEventLoop::quit);
        Loop.exec();
    }
    FStopLoop = Outer;
}

// ---- events -------------------------------------------------------------------------------------

void TInternetThread::Deliver(TInternetThreadEvent Event) {
    if (!FOnEvent)
        return;
    // The blocking call already orders the two threads; the atomic handshake states it in a form
    // that race detectors see too (Qt's own semaphore is invisible to them).
    FHandshake.fetch_add(1, std::memory_order_release);
    auto Call = [this, Event] {
        FHandshake.load(std::memory_order_acquire);
        FInDelivery = true;
        try {
            FOnEvent(*this, Event);
        } catch (...) {
            // A failing handler must not end the upload.
        }
        FInDelivery = false;
        FHandshake.fetch_add(1, std::memory_order_release);
    };
    if (!QCoreApplication::instance() || OnUiThread()) {
        Call();
        return;
    }
    QMetaObject::invokeMethod(FEventTarget.get(), Call, Qt::BlockingQueuedConnection);
    FHandshake.load(std::memory_order_acquire);
}

void TInternetThread::NotifyEvent(TInternetThreadEvent Event, const std::string& Text) {
    if (Event != ieProgress)
        FlushProgress();
    FLastEvent = Event;
    if (Event == ieStatusText)
        FStatusText = RedactSettingsSecrets(Text);
    Deliver(Event);
}

void TInternetThread::NotifyProgress(bool Force) {
    const uint32_t Now = EngineTickCount();
    if (!Force && FProgressDelivered && Now - FLastProgressTick < ProgressIntervalMs) {
        FProgressPending = true;
        return;
    }
    FProgressPending = false;
    FProgressDelivered = true;
    FLastProgressTick = Now;
    NotifyEvent(ieProgress);
}

void TInternetThread::FlushProgress() {
    if (FProgressPending) {
        FProgressPending = false;
        FLastProgressTick = EngineTickCount();
        FLastEvent = ieProgress;
        Deliver(ieProgress);
    }
}

// ---- readers ------------------------------------------------------------------------------------

double TInternetThread::TransferSpeed() const {
    return FTransferActive && FLimiter ? FLimiter->Statistics.AverageSpeed : 0.0;
}

int32_t TInternetThread::TransferElapsedMs() const {
    if (!FTransferActive)
        return 0;
    switch (FState.load()) {
    case tsWorking:
        return static_cast<int32_t>(EngineTickCount() - FTransferStartTick);
    case tsFinished:
        return static_cast<int32_t>(FTransferEndTick - FTransferStartTick);
    default:
        return 0;
    }
}

int32_t TInternetThread::TransferRemainingMs() const {
    const double Speed = TransferSpeed();
    if (Speed == 0 || FBytesTotal <= 0)
        return -1;
    const double Ms = std::nearbyint(static_cast<double>(FBytesTotal - FBytesDone) * 7.8125 / Speed);
    if (Ms > 2147483647.0)
        return 2147483647;
    return static_cast<int32_t>(Ms);
}

std::string TInternetThread::StateText() const {
    const TInternetThreadState Current = FState.load();
    std::string Text = InternetThreadStateName(Current);
    if (Current != tsWorking)
        return Text;
    if (!FStatusText.empty())
        return FStatusText;
    if (FTransferActive)
        Text += " (" + std::to_string(FPercent) + "% completed)";
    return Text;
}

// ---- clients ------------------------------------------------------------------------------------

void TInternetThread::SetConnectTimeout(int32_t Ms) {
    FConnectTimeout = Ms;
    if (Parked())
        ApplyTimeouts();
}

void TInternetThread::SetReadTimeout(int32_t Ms) {
    FReadTimeout = Ms;
    if (Parked())
        ApplyTimeouts();
}

void TInternetThread::SetSendBufferSize(int32_t Bytes) {
    FSendBufferSize = Bytes;
    if (Parked())
        ApplyTimeouts();
}

// Applies the non-zero values to the clients that exist. Runs on the worker, or on the
// user-interface thread while the worker is parked.
void TInternetThread::ApplyTimeouts() {
    std::lock_guard Lock(FClientLock);
    if (FHttp) {
        if (FConnectTimeout.load() != 0)
            FHttp->SetConnectTimeout(FConnectTimeout.load());
        if (FReadTimeout.load() != 0)
            FHttp->SetReadTimeout(FReadTimeout.load());
        if (FSendBufferSize.load() != 0)
            FHttp->SetSendBufferSize(FSendBufferSize.load());
    }
    ApplyFtpTimeouts();
}

TIdHTTPEx& TInternetThread::HttpClient() {
    if (!FHttp) {
        auto Client = CreateHttpClient();
        std::lock_guard Lock(FClientLock);
        FHttp = std::move(Client);
    }
    ApplyTimeouts();
    // A stop that came while the client was being reset or created must still cut the next
    // request short.
    if (AbortRequested())
        FHttp->Abort();
    return *FHttp;
}

void TInternetThread::CloseHttpClient() {
    if (!FHttp)
        return;
    if (FTrackedHttp == FHttp.get()) {
        FHttp->Work = TWorkEvents();
        FTrackedHttp = nullptr;
    }
    FHttp->SetIntercept(nullptr);
    FHttp->Disconnect();
    FHttp->ResetDefaults();
}

// ---- transfer tracking --------------------------------------------------------------------------

void TInternetThread::BeginTransferTracking(int64_t BaseOffset) {
    FTransferActive = true;
    FTransferTracking = true;
    FBaseOffset = BaseOffset;
    FProgressPending = false;
    FProgressDelivered = false;
    if (!FLimiter)
        FLimiter = std::make_unique<TIndySpeedLimiter>(FTransferLimit);
}

// Only the outgoing direction counts: the upload is the transfer, the reply is not.
void TInternetThread::HookTransferWork(TWorkEvents& Work) {
    Work.OnWorkBegin = [this](TWorkMode Mode, int64_t CountMax) {
        if (Mode == wmWrite)
            TransferWorkBegin(CountMax);
    };
    Work.OnWork = [this](TWorkMode Mode, int64_t Count) {
        if (Mode == wmWrite)
            TransferWork(Count);
    };
    Work.OnWorkEnd = [this](TWorkMode Mode) {
        if (Mode == wmWrite)
            TransferWorkEnd();
    };
}

void TInternetThread::BeginTransfer(TIdHTTPEx& Client, int64_t BaseOffset) {
    BeginTransferTracking(BaseOffset);
    // The request body is the tracked transfer; the response that follows reports nothing.
    HookTransferWork(Client.Work);
    FTrackedHttp = &Client;
    Client.SetIntercept(FLimiter.get());
}

void TInternetThread::TransferWorkBegin(int64_t CountMax) {
    if (!FTransferTracking)
        return;
    FTransferStartTick = EngineTickCount();
    FTransferEndTick = 0;
    FBytesDone = 0;
    FBytesTotal = CountMax + FBaseOffset;
    FPercent = 0;
    NotifyProgress(true);
}

void TInternetThread::TransferWork(int64_t Count) {
    if (!FTransferTracking)
        return;
    FBytesDone = Count + FBaseOffset;
    if (FBytesTotal > 0)
        FPercent = FBytesDone < FBytesTotal ? static_cast<int32_t>(FBytesDone * 100 / FBytesTotal) : 100;
    NotifyProgress(FBytesTotal > 0 && FBytesDone >= FBytesTotal);
}

void TInternetThread::TransferWorkEnd() {
    if (!FTransferTracking)
        return;
    FTransferEndTick = EngineTickCount();
    if (FWorkResult.load() == trSuccess) {
        FPercent = 100;
        NotifyProgress(true);
    } else {
        FlushProgress();
    }
    FTransferActive = false;
    FinishTransferTracking();
}

// Stops listening and drops the speed meter. The hooks stay installed (a hook must not destroy
// itself while it runs) but ignore everything until the next BeginTransfer.
void TInternetThread::FinishTransferTracking() {
    FTransferTracking = false;
    if (FTrackedHttp)
        FTrackedHttp->SetIntercept(nullptr);
    // Destroying the limiter also detaches it from an FTP data connection that still uses it.
    std::lock_guard Lock(FClientLock);
    FLimiter.reset();
}

} // namespace quillo
