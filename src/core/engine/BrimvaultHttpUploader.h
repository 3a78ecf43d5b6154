#pragma once
// TBrimvaultHttpUploader, the "HTTP Method": picks an upload server from the list the service
// publishes, posts the file to it as a multipart form and reads the links from the reply.
// ChooseUploadServer and ParseUploadReply are shared with the FTP method.

#include "core/engine/Uploader.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace quillo {

class TIdHTTPEx;

class TBrimvaultHttpUploader final : public TUploader {
public:
    TBrimvaultHttpUploader(void* Data, TInternetThreadEventHandler OnEvent);
    ~TBrimvaultHttpUploader() override;

protected:
    void DoWork() override;
};

// How long a chosen upload server is reused: one hour.
inline constexpr uint32_t UploadServerCacheMs = 3600000;

// The upload server for the next upload: the cached one while it is younger than an hour,
// otherwise one picked at random from "/uploadservers.txt" fetched with Http. Shared by every
// worker of both methods: when several ask at once while the cache is empty or stale, one of
// them fetches the list and the others wait for its answer. A failed list request raises a
// network error; a list without a usable host raises EITError "No upload server available".
// `Aborted` (may be empty) lets a waiting worker give up when its upload is stopped.
std::string ChooseUploadServer(TIdHTTPEx& Http, const std::function<bool()>& Aborted = {});

// Entries of an upload server list: the trimmed text split at commas, blanks and line breaks,
// an entry in double quotes taken without them; empty entries and entries that are not plain
// host names (see IsPlainHost) are left out.
std::vector<std::string> ParseUploadServerList(const std::string& Text);

// Reads the DOWNLOAD and DELETE lines of an upload reply into Info's "download-link" and
// "kill-link" (a missing line removes the entry). Raises EITError "No download link" when there
// is no download link.
void ParseUploadReply(const std::string& Reply, TUploadInfo& Info);

// The "wmid" form value: "a:" + user + ":" + password with an account, "a::" without. Raises
// EITError when a user name or password holds CR, LF or NUL, which the form could not carry
// without breaking its structure.
std::string AccountFormValue(bool UseAccount, const std::string& UserName, const std::string& Password);

// The cache, for tests and program exit: forget the server / make it look an hour old.
void ClearUploadServerCache();
void ExpireUploadServerCache();
// How many times the server list has been requested since program start.
int UploadServerListFetches();

} // namespace quillo
