#pragma once
// TIdHTTPEx: the program's HTTP/1.1 client on libcurl. Browser-like default headers, a cookie
// store of its own, a small form (text fields plus at most one file field) posted as
// multipart/form-data whose file part is streamed from disk, redirects with spaces written as
// "%20", proxies, a bound local address, time-outs, and Abort() from another thread.
//
// One client is driven by one thread (its worker). Only Abort()/Disconnect() may be called from
// another thread. Every failure of a request raises an ENetworkError (NetErrors.h), except a file
// that cannot be read (EFileStreamError) and errors thrown by the caller's own event handlers,
// which propagate unchanged.

#include "core/net/ConnectionHooks.h"
#include "core/net/FileStreamers.h"
#include "core/net/ProxyConfig.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace quillo {

class TIdStackWindowsEx;

// The request headers. Empty values are not sent.
struct THttpRequestHeaders {
    std::string UserAgent;
    std::string Accept;
    std::string AcceptCharset;
    std::string AcceptLanguage;
    std::string Referer;
    std::string Connection;
    std::string ContentType; // set by the posts; cleared before each redirect
    // Further "Name: Value" headers, sent in this order after the ones above.
    std::vector<std::pair<std::string, std::string>> CustomHeaders;
};

// One form entry. The entry that carries the file has HasFile set; its value is the file name
// sent in the part header.
struct TFormField {
    std::string Name;
    std::string Value;
    bool HasFile = false;
};

class TIdHTTPEx final : public TInterceptHost {
public:
    TIdHTTPEx();
    ~TIdHTTPEx() override;

    // Proxy, bound address, time-outs and write size, used from the next request on.
    void SetConfig(const TProxyConfig& Config) { FConfig = Config; }
    const TProxyConfig& Config() const { return FConfig; }
    void SetConnectTimeout(int32_t Ms) { FConfig.ConnectTimeout = Ms; }
    void SetReadTimeout(int32_t Ms) { FConfig.ReadTimeout = Ms; }
    void SetSendBufferSize(int32_t Bytes) { FConfig.SendBufferSize = Bytes; }
    void SetBoundIP(const std::string& Ip) { FConfig.BoundIP = Ip; }

    // The send path for request bodies (default TIdStackWindowsEx::Instance(); tests may swap it).
    void SetStack(TIdStackWindowsEx* Stack);

    // Defaults every request of the program expects: HTTP/1.1, redirects on (at most 15),
    // cookies on and emptied, form emptied, the fixed browser headers, no custom headers. Also
    // clears a pending Abort().
    void ResetDefaults();

    THttpRequestHeaders Request;
    bool HandleRedirects = true;
    int RedirectMaximum = 15;
    bool AllowCookies = true;

    // Form: names compare without regard to case; setting an existing name replaces its value in
    // place; an empty value removes the entry.
    void AddFormField(const std::string& Name, const std::string& Value);
    // Replaces the file field: opens a TFileReader over LocalPath (Start, Size as TFileReader),
    // sets FieldName = RemoteName (or the file-name part of LocalPath when RemoteName is empty)
    // and marks that entry as the file part. Raises EFileStreamError when the file cannot be
    // opened.
    void SetFileField(const std::string& FieldName, const std::string& RemoteName,
                      const std::string& LocalPath, int64_t Start = 0, int64_t Size = -1);
    void ClearForm();
    void ClearCookies();
    const std::vector<TFormField>& FormFields() const { return FFormFields; }
    TFileReader* FileReader() const { return FFileReader.get(); }

    // POSTs the form: multipart/form-data with the file streamed from disk when a file field is
    // set, application/x-www-form-urlencoded otherwise. The response body goes to `Response`.
    void PostForm(const std::string& Url, std::string& Response);
    std::string PostFormText(const std::string& Url);
    // GET; returns the response body.
    std::string Get(const std::string& Url);

    // The multipart boundary for the current local time: "--------" and 15 digits (month, day,
    // two-digit year, hour, minute, second, milliseconds).
    static std::string MakeBoundary();
    // Redirect hook: each space in a Location written as "%20".
    static std::string FixRedirectLocation(const std::string& Location);

    // Fails the pending request at once (within a few ms) with EAbortedError, and every later
    // one until ResetDefaults() or Disconnect(). Safe from any thread.
    void Abort();
    // Owner thread: close any connection and clear a pending Abort().
    void Disconnect();
    // A request is in progress.
    bool Connected() const { return FBusy.load(); }

    // Progress of the request body (wmWrite) and of the response body (wmRead).
    TWorkEvents Work;

    // Of the last response.
    int ResponseCode() const { return FResponseCode; }
    const std::string& ResponseText() const { return FResponseText; }
    // The URL the last request ended at (after redirects).
    const std::string& Url() const { return FLastUrl; }

    class TImpl;

private:
    TProxyConfig FConfig;
    std::vector<TFormField> FFormFields;
    std::unique_ptr<TFileReader> FFileReader;
    std::atomic<bool> FAborted{false};
    std::atomic<bool> FBusy{false};
    int FResponseCode = 0;
    std::string FResponseText;
    std::string FLastUrl;
    std::unique_ptr<TImpl> FImpl;
};

} // namespace quillo
