#pragma once
// How one connection is set up: proxy, bound local address, time-outs and socket write size.
// Filled by the worker thread from the connection settings and handed to TIdHTTPEx and
// TSocketConnection.

#include <cstdint>
#include <string>

namespace quillo {

enum TProxyKind : uint8_t {
    pkNone = 0,
    pkHttp = 1,          // the HTTP client's own proxy (absolute-URI requests, Basic authentication)
    pkConnectTunnel = 2, // HTTP CONNECT tunnel on the socket layer
    pkSocks4 = 3,
    pkSocks4A = 4,
    pkSocks5 = 5,
};

// The write size used when SendBufferSize is 0.
constexpr int32_t DefaultSendBufferSize = 32768;

struct TProxyConfig {
    TProxyKind ProxyKind = pkNone;
    std::string ProxyHost;
    int ProxyPort = 0;
    // Authentication is used exactly when ProxyUser is not empty (Basic for the HTTP proxy and
    // the tunnel, the user id for SOCKS 4/4A, user-name/password for SOCKS 5).
    std::string ProxyUser;
    std::string ProxyPassword;
    std::string BoundIP;        // local IPv4 address to bind to; empty = any
    int32_t ConnectTimeout = 0; // ms; 0 = library default
    int32_t ReadTimeout = 0;    // ms without any byte received or sent; 0 = no limit
    int32_t SendBufferSize = 0; // bytes per socket write; 0 = default (32768)

    // The bytes per socket write in effect.
    int32_t WriteSize() const { return SendBufferSize > 0 ? SendBufferSize : DefaultSendBufferSize; }
};

} // namespace quillo
