#pragma once
// libcurl plumbing shared by TIdHTTPEx and TSocketConnection: one-time library set-up, the proxy,
// bound address and time-out options of a TProxyConfig, and the translation of libcurl's result
// codes into the ENetworkError family.

#include "core/net/ProxyConfig.h"

#include <curl/curl.h>

#include <string>

namespace quillo::curlsupport {

// curl_global_init, once per process, before the first handle.
void GlobalInit();

// Applies proxy, bound address and connect time-out to `Easy`. Without a proxy the proxy
// environment variables are ignored: the settings alone decide. `RawTunnel` treats the HTTP proxy
// kind as a CONNECT tunnel (a raw connection cannot use a forwarding proxy).
void ApplyConfig(CURL* Easy, const TProxyConfig& Config, bool RawTunnel);

// Raises the ENetworkError subclass that fits a failed transfer. `ErrorBuffer` is the
// CURLOPT_ERRORBUFFER text (may be empty); `Target` names the peer for the message.
[[noreturn]] void RaiseCurlError(CURL* Easy, CURLcode Code, const char* ErrorBuffer,
                                 const std::string& Target);

// The URL as error messages may show it: scheme, host, port and path, without the user
// information before "@", the query and the fragment, which may carry credentials (the FTP
// commit call has the account password in its query).
std::string UrlForMessages(const std::string& Url);

// "host" or "[v6-host]" for a URL authority.
std::string UrlHost(const std::string& Host);

} // namespace quillo::curlsupport
