#pragma once
// Small in-process peers on loopback for the network tests: a raw HTTP/1.1 receiver that records
// every request byte for byte, and a SOCKS 4/4A/5 server that records the credentials and target
// it was given. Both serve each connection on its own thread and stop in their destructors.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace quillo::test {

struct TCapturedRequest {
    std::string Head; // request line and headers, up to and including the empty line
    std::string Method;
    std::string Target;
    std::vector<std::pair<std::string, std::string>> Headers; // in wire order
    std::string Body;
    int64_t BodyLength = 0; // bytes received (also when the body is not kept)
    std::string PeerIp;

    // First value of a header (any case); empty when absent.
    std::string Header(const std::string& Name) const;
    bool HasHeader(const std::string& Name) const;
};

// Listens on a free port of `Ip`. Each connection: read one request (head, then Content-Length
// bytes of body), record it, send what the responder returns and close. A responder that returns
// an empty string leaves the client waiting until the server stops.
class TLoopbackHttpServer final {
public:
    using TResponder = std::function<std::string(const TCapturedRequest&)>;
    struct TOptions {
        bool KeepBody = true;
        bool StallAfterHead = false; // never read the body nor answer
        std::string Ip = "127.0.0.1";
    };
    explicit TLoopbackHttpServer(TResponder Responder);
    TLoopbackHttpServer(TResponder Responder, TOptions Options);
    ~TLoopbackHttpServer();
    TLoopbackHttpServer(const TLoopbackHttpServer&) = delete;
    TLoopbackHttpServer& operator=(const TLoopbackHttpServer&) = delete;

    int Port() const { return FPort; }
    std::string Url(const std::string& Path = "/") const;
    std::vector<TCapturedRequest> Requests() const;

    // A complete response with Content-Length.
    static std::string Reply(const std::string& Status, const std::string& Body,
                             const std::vector<std::string>& ExtraHeaders = {});

private:
    void AcceptLoop();
    void Serve(int Fd, std::string PeerIp);

    TResponder FResponder;
    TOptions FOptions;
    int FListenFd = -1;
    int FStopPipe[2] = {-1, -1};
    int FPort = 0;
    std::thread FAcceptThread;
    mutable std::mutex FLock;
    std::vector<std::thread> FWorkers;
    std::vector<TCapturedRequest> FRequests;
};

// A SOCKS server speaking versions 4, 4A and 5 (user-name/password authentication when a user is
// configured, no authentication otherwise), relaying to the requested loopback target.
class TMiniSocksServer final {
public:
    TMiniSocksServer(std::string User = {}, std::string Password = {});
    ~TMiniSocksServer();
    TMiniSocksServer(const TMiniSocksServer&) = delete;
    TMiniSocksServer& operator=(const TMiniSocksServer&) = delete;

    int Port() const { return FPort; }

    struct TSession {
        int Version = 0;        // 4 or 5
        std::string UserId;     // SOCKS 4 user id or SOCKS 5 user name
        std::string Password;   // SOCKS 5
        std::string TargetHost; // as sent: dotted address or host name
        int TargetPort = 0;
        bool Granted = false;
    };
    std::vector<TSession> Sessions() const;

private:
    void AcceptLoop();
    void Serve(int Fd);

    std::string FUser, FPassword;
    int FListenFd = -1;
    int FStopPipe[2] = {-1, -1};
    int FPort = 0;
    std::thread FAcceptThread;
    mutable std::mutex FLock;
    std::vector<std::thread> FWorkers;
    std::vector<TSession> FSessions;
};

// A listening TCP socket on a free port of `Ip` (loopback addresses only); sets Port.
int ListenOnLoopback(const std::string& Ip, int& Port);

// Reads or writes everything, false on error / end. Used by the servers and by tests.
bool ReadExact(int Fd, void* Buffer, size_t Size);
bool WriteAll(int Fd, const void* Buffer, size_t Size);
// Waits for readability of Fd or StopFd; false when StopFd fired.
bool WaitReadable(int Fd, int StopFd);

} // namespace quillo::test
