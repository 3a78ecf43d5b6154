#pragma once
// The network error family. Everything raised by the HTTP client, the raw socket connection or
// the FTP client for a failed exchange derives from ENetworkError, so the worker thread can tell
// "retry may help" (ENetworkError) from file errors and other failures with one catch clause.

#include <stdexcept>
#include <string>

namespace quillo {

class ENetworkError : public std::runtime_error {
public:
    explicit ENetworkError(const std::string& Message) : std::runtime_error(Message) {}
};

// Host not found, connection refused or reset, bound address unusable.
class EConnectError : public ENetworkError {
public:
    using ENetworkError::ENetworkError;
};

// No connection within the connect time-out, or no bytes for the read time-out.
class ETimeoutError : public ENetworkError {
public:
    using ENetworkError::ENetworkError;
};

// The peer closed the connection while more was expected.
class EConnectionClosed : public ENetworkError {
public:
    using ENetworkError::ENetworkError;
};

// The proxy refused or failed the connection (handshake, authentication, tunnel).
class EProxyError : public ENetworkError {
public:
    using ENetworkError::ENetworkError;
};

// A reply that does not follow the protocol (malformed status line, too many redirects, an
// unexpected FTP reply).
class EProtocolError : public ENetworkError {
public:
    using ENetworkError::ENetworkError;
};

// An HTTP response status outside the success range. The message is the status line, for
// example "HTTP/1.1 404 Not Found".
class EHttpStatusError : public ENetworkError {
public:
    EHttpStatusError(int StatusCode, const std::string& Message)
        : ENetworkError(Message), FStatusCode(StatusCode) {}
    int StatusCode() const { return FStatusCode; }

private:
    int FStatusCode;
};

// The pending call was cut short by Abort() from another thread.
class EAbortedError : public ENetworkError {
public:
    explicit EAbortedError(const std::string& Message = "Connection aborted") : ENetworkError(Message) {}
};

} // namespace quillo
