#include "ui/LocalSystem.h"

#include "core/app/MyUtils.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include <algorithm>
#include <cstdlib>

namespace quillo {

namespace {

uint8_t ProxyTypeOfScheme(const std::string& Scheme) {
    const std::string s = LowerCaseAscii(Scheme);
    if (s == "socks4")
        return 2;
    if (s == "socks4a")
        return 3;
    if (s == "socks5" || s == "socks5h" || s == "socks")
        return 4;
    return 1;
}

// Percent escapes only: in a URL's user part "+" is itself.
std::string Decoded(const std::string& Text) {
    std::string Escaped = Text;
    for (size_t plus = Escaped.find('+'); plus != std::string::npos; plus = Escaped.find('+', plus + 3))
        Escaped.replace(plus, 1, "%2B");
    try {
        return UrlDecode(Escaped);
    } catch (const EConvertError&) {
        return Text; // a stray "%": the text is taken as it stands
    }
}

} // namespace

TSystemProxy ParseSystemProxy(const std::string& Text) {
    TSystemProxy Proxy;
    std::string t = Trim(Text);
    if (t.empty())
        return Proxy;
    const size_t http = LowerCaseAscii(t).find("http=");
    if (http != std::string::npos) {
        t = t.substr(http + 5);
        const size_t semicolon = t.find(';');
        if (semicolon != std::string::npos)
            t = Trim(t.substr(0, semicolon));
    }
    if (const size_t scheme = t.find("://"); scheme != std::string::npos) {
        Proxy.ProxyType = ProxyTypeOfScheme(t.substr(0, scheme));
        t.erase(0, scheme + 3);
    }
    if (const size_t slash = t.find('/'); slash != std::string::npos)
        t.erase(slash);
    if (const size_t at = t.rfind('@'); at != std::string::npos) {
        const std::string userInfo = t.substr(0, at);
        t.erase(0, at + 1);
        const size_t colon = userInfo.find(':');
        Proxy.UserName = Decoded(userInfo.substr(0, colon));
        if (colon != std::string::npos)
            Proxy.Password = Decoded(userInfo.substr(colon + 1));
    }
    // The host ends at the first ":" after a bracketed IPv6 address.
    const size_t hostEnd = t.size() > 0 && t[0] == '[' ? t.find(']') : 0;
    const size_t colon = t.find(':', hostEnd == std::string::npos ? 0 : hostEnd);
    Proxy.Host = t.substr(0, colon);
    int32_t port = 0;
    const bool numeric = colon != std::string::npos && TryStrToIntDecimal(t.substr(colon + 1), port) &&
                         port >= 0 && port <= 65535;
    Proxy.Port = numeric ? port : (Proxy.ProxyType == 1 ? 80 : 1080);
    if (Proxy.Host.empty())
        Proxy = TSystemProxy{};
    return Proxy;
}

TSystemProxy SystemProxy(const std::function<const char*(const char*)>& GetEnv) {
    for (const char* Name : {"http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY"}) {
        const char* Value = GetEnv ? GetEnv(Name) : std::getenv(Name);
        if (Value && !Trim(Value).empty())
            return ParseSystemProxy(Value);
    }
    return TSystemProxy{};
}

std::vector<std::string> LocalIPv4Addresses() {
    std::vector<std::string> Addresses;
    ifaddrs* List = nullptr;
    if (::getifaddrs(&List) != 0)
        return Addresses;
    for (const ifaddrs* Entry = List; Entry; Entry = Entry->ifa_next) {
        if (!Entry->ifa_addr || Entry->ifa_addr->sa_family != AF_INET || !(Entry->ifa_flags & IFF_UP))
            continue;
        char Text[INET_ADDRSTRLEN] = {};
        const auto* In = reinterpret_cast<const sockaddr_in*>(Entry->ifa_addr);
        if (!::inet_ntop(AF_INET, &In->sin_addr, Text, sizeof Text))
            continue;
        if (std::find(Addresses.begin(), Addresses.end(), Text) == Addresses.end())
            Addresses.emplace_back(Text);
    }
    ::freeifaddrs(List);
    return Addresses;
}

} // namespace quillo
