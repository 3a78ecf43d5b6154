#include "core/net/CurlSupport.h"

#include "core/net/NetErrors.h"

#include <mutex>

namespace quillo::curlsupport {

void GlobalInit() {
    static std::once_flag Once;
    std::call_once(Once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

std::string UrlForMessages(const std::string& Url) {
    size_t AuthorityStart = 0;
    if (const size_t Scheme = Url.find("://"); Scheme != std::string::npos)
        AuthorityStart = Scheme + 3;
    size_t AuthorityEnd = Url.find_first_of("/?#", AuthorityStart);
    if (AuthorityEnd == std::string::npos)
        AuthorityEnd = Url.size();
    std::string Out = Url.substr(0, AuthorityStart);
    const std::string Authority = Url.substr(AuthorityStart, AuthorityEnd - AuthorityStart);
    const size_t At = Authority.rfind('@');
    Out += At == std::string::npos ? Authority : Authority.substr(At + 1);
    const size_t PathEnd = Url.find_first_of("?#", AuthorityEnd);
    Out += Url.substr(AuthorityEnd, (PathEnd == std::string::npos ? Url.size() : PathEnd) - AuthorityEnd);
    return Out;
}

std::string UrlHost(const std::string& Host) {
    if (Host.find(':') != std::string::npos && (Host.empty() || Host.front() != '['))
        return "[" + Host + "]";
    return Host;
}

void ApplyConfig(CURL* Easy, const TProxyConfig& Config, bool RawTunnel) {
    // Every option is set each time, so nothing of an earlier configuration stays behind.
    curl_easy_setopt(Easy, CURLOPT_NOSIGNAL, 1L);
    long Type = CURLPROXY_HTTP;
    bool Tunnel = false;
    const bool UseProxy = Config.ProxyKind != pkNone && !Config.ProxyHost.empty();
    if (!UseProxy) {
        // An empty proxy also switches off http_proxy & co. from the environment.
        curl_easy_setopt(Easy, CURLOPT_PROXY, "");
    } else {
        curl_easy_setopt(Easy, CURLOPT_PROXY, UrlHost(Config.ProxyHost).c_str());
        switch (Config.ProxyKind) {
        case pkHttp:
            Tunnel = RawTunnel;
            break;
        case pkConnectTunnel:
            Tunnel = true;
            break;
        case pkSocks4:
            Type = CURLPROXY_SOCKS4;
            break;
        case pkSocks4A:
            Type = CURLPROXY_SOCKS4A;
            break;
        case pkSocks5:
            // The proxy resolves the host name, as a client behind a firewall needs.
            Type = CURLPROXY_SOCKS5_HOSTNAME;
            break;
        default:
            break;
        }
    }
    curl_easy_setopt(Easy, CURLOPT_PROXYPORT, static_cast<long>(UseProxy ? Config.ProxyPort : 0));
    curl_easy_setopt(Easy, CURLOPT_NOPROXY, UseProxy ? "" : nullptr);
    curl_easy_setopt(Easy, CURLOPT_PROXYTYPE, Type);
    curl_easy_setopt(Easy, CURLOPT_HTTPPROXYTUNNEL, Tunnel ? 1L : 0L);
    const bool Auth = UseProxy && !Config.ProxyUser.empty();
    curl_easy_setopt(Easy, CURLOPT_PROXYUSERNAME, Auth ? Config.ProxyUser.c_str() : nullptr);
    curl_easy_setopt(Easy, CURLOPT_PROXYPASSWORD, Auth ? Config.ProxyPassword.c_str() : nullptr);
    curl_easy_setopt(Easy, CURLOPT_PROXYAUTH, static_cast<long>(CURLAUTH_BASIC));
    curl_easy_setopt(Easy, CURLOPT_SOCKS5_AUTH, static_cast<long>(Auth ? CURLAUTH_BASIC : CURLAUTH_NONE));
    curl_easy_setopt(Easy, CURLOPT_INTERFACE,
                     Config.BoundIP.empty() ? nullptr : ("host!" + Config.BoundIP).c_str());
    curl_easy_setopt(Easy, CURLOPT_CONNECTTIMEOUT_MS,
                     static_cast<long>(Config.ConnectTimeout > 0 ? Config.ConnectTimeout : 0));
}

void RaiseCurlError(CURL* Easy, CURLcode Code, const char* ErrorBuffer, const std::string& Target) {
    std::string Detail = (ErrorBuffer && *ErrorBuffer) ? ErrorBuffer : curl_easy_strerror(Code);
    long ConnectCode = 0;
    curl_easy_getinfo(Easy, CURLINFO_HTTP_CONNECTCODE, &ConnectCode);
    if (ConnectCode >= 300)
        throw EProxyError("Proxy refused the connection to " + Target + ": " + Detail);
    switch (Code) {
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_PROXY:
        throw EProxyError("Proxy error connecting to " + Target + ": " + Detail);
    case CURLE_COULDNT_RESOLVE_HOST:
        throw EConnectError("Host not found: " + Target + " (" + Detail + ")");
    case CURLE_COULDNT_CONNECT:
    case CURLE_INTERFACE_FAILED:
        throw EConnectError("Could not connect to " + Target + ": " + Detail);
    case CURLE_OPERATION_TIMEDOUT:
        throw ETimeoutError("Timed out: " + Target + " (" + Detail + ")");
    case CURLE_GOT_NOTHING:
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_PARTIAL_FILE:
        throw EConnectionClosed("Connection closed by " + Target + ": " + Detail);
    case CURLE_ABORTED_BY_CALLBACK:
        throw EAbortedError();
    default:
        throw ENetworkError("Network error with " + Target + ": " + Detail);
    }
}

} // namespace quillo::curlsupport
