#pragma once
// The check for a newer version: the service publishes the newest version as one decimal
// number, major * 100 + minor * 10 + release (123 for 1.2.3), at VersionUrl() (ServiceSite.h).
//
// TUpdateCheck runs the request on a thread of its own with a time-out of its own, so the
// window that asked stays responsive even when the site never answers; the outcome is handed to
// a callback on the thread that owns the object (which must run a Qt event loop).

#include <QObject>

class QTimer;

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>

namespace quillo {

// The published number: the trimmed reply as a decimal integer, 0 when it is not one.
int32_t ParseVersionReply(const std::string& Text);
// major * 100 + minor * 10 + release of a packed file version (the digits are weighted, so
// 1.10.0 gives 200, not 1100).
int32_t LocalVersionNumber(uint32_t PackedFileVersion);

struct TUpdateCheckOutcome {
    // The request failed or timed out: Error holds the exception (an ENetworkError), for the
    // error report. Remote and NewerAvailable are then meaningless.
    std::exception_ptr Error;
    int32_t Remote = 0;
    int32_t Local = 0;
    bool NewerAvailable = false; // Remote > Local
};

class TUpdateCheck final : public QObject {
    Q_OBJECT
public:
    static constexpr int DefaultTimeoutMs = 30000;
    using TDone = std::function<void(const TUpdateCheckOutcome&)>;

    explicit TUpdateCheck(QObject* Parent = nullptr);
    // Aborts a running request and waits for its thread (a few milliseconds).
    ~TUpdateCheck() override;
    TUpdateCheck(const TUpdateCheck&) = delete;
    TUpdateCheck& operator=(const TUpdateCheck&) = delete;

    // Starts a check against Url (VersionUrl() when empty) for the program at PackedFileVersion.
    // False, and nothing happens, while a check runs. Done is called once, on the owner's thread,
    // after Running() has turned false again. The whole request (connect, reply) must end within
    // TimeoutMs, otherwise it fails with ETimeoutError.
    bool Start(uint32_t PackedFileVersion, TDone Done, const std::string& Url = std::string(),
               int TimeoutMs = DefaultTimeoutMs);
    bool Running() const { return FRunning; }

    struct TRun;

private:
    void Finish(const std::shared_ptr<TRun>& Run);

    bool FRunning = false;
    std::shared_ptr<TRun> FRun;
    QTimer* FDeadline;
};

} // namespace quillo
