#pragma once
// Hooks a connection offers to the code that tracks a transfer: an intercept that sees every
// buffer sent and received (TIndySpeedLimiter derives from it) and the work-begin / work /
// work-end events that report the progress of a transfer of known size.

#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

namespace quillo {

class TInterceptHost;

// Called on the thread that drives the connection. An intercept may be attached to several
// connections; destroying it detaches it from all that still refer to it.
class TConnectionIntercept {
public:
    TConnectionIntercept() = default;
    virtual ~TConnectionIntercept();
    TConnectionIntercept(const TConnectionIntercept&) = delete;
    TConnectionIntercept& operator=(const TConnectionIntercept&) = delete;

    // The connection has just been established.
    virtual void Connected() {}
    // `Size` bytes are about to be sent / have been received.
    virtual void Send(const void* Buffer, int64_t Size) {}
    virtual void Receive(const void* Buffer, int64_t Size) {}

private:
    friend class TInterceptHost;
    std::mutex FHostsLock;
    std::vector<TInterceptHost*> FHosts;
};

// Base of connections that accept an intercept (TIdHTTPEx, TSocketConnection).
class TInterceptHost {
public:
    TInterceptHost() = default;
    virtual ~TInterceptHost();
    TInterceptHost(const TInterceptHost&) = delete;
    TInterceptHost& operator=(const TInterceptHost&) = delete;

    // Attaches `Intercept` (nullptr detaches). The host does not own it.
    void SetIntercept(TConnectionIntercept* Intercept);
    TConnectionIntercept* Intercept() const { return FIntercept; }

protected:
    void InterceptConnected();
    void InterceptSend(const void* Buffer, int64_t Size);
    void InterceptReceive(const void* Buffer, int64_t Size);

private:
    friend class TConnectionIntercept;
    TConnectionIntercept* FIntercept = nullptr;
};

enum TWorkMode : uint8_t { wmRead = 0, wmWrite = 1 };

// Progress events of a connection, fired on the thread that drives it. For an HTTP post the
// request body is one transfer (wmWrite) and the response body another (wmRead); work-end is
// fired also when the transfer fails. Counts are bytes of that transfer so far.
struct TWorkEvents {
    std::function<void(TWorkMode Mode, int64_t CountMax)> OnWorkBegin;
    std::function<void(TWorkMode Mode, int64_t Count)> OnWork;
    std::function<void(TWorkMode Mode)> OnWorkEnd;
};

} // namespace quillo
