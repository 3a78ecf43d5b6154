#include "core/engine/UpdateCheck.h"

#include "core/app/MyUtils.h"
#include "core/engine/InternetThread.h"
#include "core/engine/ServiceSite.h"
#include "core/net/IdHTTPEx.h"
#include "core/net/NetErrors.h"

#include <QPointer>
#include <QTimer>

#include <atomic>
#include <mutex>
#include <thread>

namespace quillo {

int32_t ParseVersionReply(const std::string& Text) {
    int32_t Value = 0;
    return TryStrToIntDecimal(Trim(Text), Value) ? Value : 0;
}

int32_t LocalVersionNumber(uint32_t PackedFileVersion) {
    return static_cast<int32_t>((PackedFileVersion >> 24) * 100 + ((PackedFileVersion >> 16) & 0xFF) * 10 +
                                ((PackedFileVersion >> 8) & 0xFF));
}

// One request, shared by the owner and its worker thread. Nothing in it belongs to a thread,
// so whichever side lets go last may free it.
struct TUpdateCheck::TRun {
    std::string Url;
    int TimeoutMs = DefaultTimeoutMs;
    TDone Done;
    std::thread Worker;
    std::atomic<bool> TimedOut{false};
    TUpdateCheckOutcome Outcome;

    // The client, published while its request runs so that another thread can abort it.
    void SetClient(TIdHTTPEx* C) {
        std::lock_guard Guard(FLock);
        FClient = C;
    }
    // Any thread. Also stops a request whose client is not published yet.
    void Abort() {
        FAborted = true;
        std::lock_guard Guard(FLock);
        if (FClient)
            FClient->Abort();
    }

    std::exception_ptr NoAnswer() const {
        const std::string Limit = TimeoutMs % 1000 == 0 ? std::to_string(TimeoutMs / 1000) + " seconds"
                                                        : std::to_string(TimeoutMs) + " ms";
        return std::make_exception_ptr(ETimeoutError("No answer from " + Url + " within " + Limit + "."));
    }

    // Worker thread: the request and its outcome.
    void Fetch() {
        try {
            std::unique_ptr<TIdHTTPEx> Client = CreateHttpClient();
            Client->SetConnectTimeout(TimeoutMs);
            Client->SetReadTimeout(TimeoutMs);
            SetClient(Client.get());
            struct TUnpublish {
                TRun& R;
                ~TUnpublish() { R.SetClient(nullptr); }
            } Unpublish{*this};
            if (FAborted)
                Client->Abort(); // aborted before the client was published
            Outcome.Remote = ParseVersionReply(Client->Get(Url));
        } catch (const EAbortedError&) {
            Outcome.Error = TimedOut ? NoAnswer() : std::current_exception();
        } catch (const ETimeoutError&) {
            // The client's own connect or read limit, which may come a moment before the deadline.
            Outcome.Error = NoAnswer();
        } catch (...) {
            Outcome.Error = std::current_exception();
        }
        Outcome.NewerAvailable = !Outcome.Error && Outcome.Remote > Outcome.Local;
    }

private:
    std::atomic<bool> FAborted{false};
    std::mutex FLock;
    TIdHTTPEx* FClient = nullptr;
};

TUpdateCheck::TUpdateCheck(QObject* Parent) : QObject(Parent), FDeadline(new QTimer(this)) {
    FDeadline->setSingleShot(true);
    FDeadline->setTimerType(Qt::PreciseTimer);
    // The overall limit: a site that trickles a byte now and then never trips the read time-out.
    connect(FDeadline, &QTimer::timeout, this, [this] {
        if (FRun) {
            FRun->TimedOut = true;
            FRun->Abort();
        }
    });
}

TUpdateCheck::~TUpdateCheck() {
    if (FRun) {
        FRun->Abort();
        if (FRun->Worker.joinable())
            FRun->Worker.join();
    }
}

bool TUpdateCheck::Start(uint32_t PackedFileVersion, TDone Done, const std::string& Url, int TimeoutMs) {
    if (FRunning)
        return false;
    if (FRun && FRun->Worker.joinable())
        FRun->Worker.join();
    auto Run = std::make_shared<TRun>();
    Run->Url = Url.empty() ? VersionUrl() : Url;
    Run->TimeoutMs = TimeoutMs > 0 ? TimeoutMs : DefaultTimeoutMs;
    Run->Outcome.Local = LocalVersionNumber(PackedFileVersion);
    Run->Done = std::move(Done);
    FRun = Run;
    FRunning = true;
    FDeadline->start(Run->TimeoutMs);

    // The destructor joins the worker before the object goes, so the pointer is valid for the
    // worker's whole life; the queued call is dropped by Qt if the object is gone by then.
    QPointer<TUpdateCheck> Self(this);
    Run->Worker = std::thread([Run, Self] {
        Run->Fetch();
        QMetaObject::invokeMethod(
            Self.data(),
            [Self, Run] {
                if (Self)
                    Self->Finish(Run);
            },
            Qt::QueuedConnection);
    });
    return true;
}

void TUpdateCheck::Finish(const std::shared_ptr<TRun>& Run) {
    if (Run != FRun)
        return;
    FDeadline->stop();
    if (Run->Worker.joinable())
        Run->Worker.join(); // it has nothing left to do but return
    FRunning = false;
    if (Run->Done)
        Run->Done(Run->Outcome);
}

} // namespace quillo
