#pragma once
// What the settings dialog asks the system: the proxy the session is configured with (the
// environment's proxy variables) and the local IPv4 addresses an upload can be bound to.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace quillo {

// A proxy as the settings dialog fills it in. Host empty and Port 0: the system names none.
struct TSystemProxy {
    std::string Host;
    int32_t Port = 0;
    std::string UserName;
    std::string Password;
    uint8_t ProxyType = 1; // 1 HTTP, 2 SOCKS4, 3 SOCKS4A, 4 SOCKS5, as InternetConnection.ProxyType
    bool operator==(const TSystemProxy&) const = default;
};

// Reads one proxy setting text: a list in the form "http=host:port;https=..." gives its http
// entry, anything else is used whole. A leading "scheme://" chooses the proxy type (socks4,
// socks4a, socks5 and socks5h; everything else is HTTP) and is dropped, as are a path and
// "user:password@", whose parts (percent-decoded) fill UserName and Password. Then host and port
// are split at the first ":" ("[v6]:port" keeps its brackets); a port that is not a number, or
// none, counts as the type's usual port (80, 1080 for SOCKS).
TSystemProxy ParseSystemProxy(const std::string& Text);

// The first of http_proxy, HTTP_PROXY, all_proxy and ALL_PROXY that is set and not blank, read
// with ParseSystemProxy; an empty proxy when none is. GetEnv defaults to the process environment.
TSystemProxy SystemProxy(const std::function<const char*(const char*)>& GetEnv = {});

// The IPv4 addresses (dotted text) of the interfaces that are up, in the system's order, each once.
std::vector<std::string> LocalIPv4Addresses();

} // namespace quillo
