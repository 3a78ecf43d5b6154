#pragma once
// Everything the program asks of the file-hosting service, in one place: the web site (its host
// is configuration, see core/app/DataFolder.h SiteHost()) and the upload servers it lists.
//
//   GET  <site>/uploadservers.txt                  list of upload hosts (BrimvaultHttpUploader)
//   POST http://<server>/cgi-bin/upload.cgi        multipart upload, reply DOWNLOAD/DELETE lines
//   GET  http://<server>/cgi-bin/upload.cgi?action=commit&...   FTP commit, same reply
//   GET  <site>/quillouploader/version.txt         newest version number (update check)
//   <site>/quillouploader/download, <site>/quillouploader, <site>   pages opened in the browser
//
// An upload server entry may carry ":port" (the stand-in service runs on loopback ports).

#include <cstdint>
#include <string>

namespace quillo {

// "http://" + site host + "/": also the Referer of the upload-related requests.
std::string ServiceRootUrl();
std::string UploadServerListUrl();
std::string VersionUrl();
std::string DownloadPageUrl();
std::string HelpPageUrl();
std::string StartPageUrl();

inline constexpr const char* UploadServerListPath = "/uploadservers.txt";
inline constexpr const char* UploadScriptPath = "/cgi-bin/upload.cgi";
inline constexpr const char* VersionPath = "/quillouploader/version.txt";

// "http://" + Host + "/cgi-bin/upload.cgi".
std::string UploadUrl(const std::string& Host);

// The FTP commit call: "http://<Host>/cgi-bin/upload.cgi?action=commit&user=..&pass=..&
// filename=..&size=..&md5=..", user, password and upload name with every byte as %XX, the size in
// decimal, the MD5 as given.
std::string CommitUrl(const std::string& Host, const std::string& UserName, const std::string& Password,
                      const std::string& UploadName, int64_t FileSize, const std::string& MD5);

// Whether Text can stand as the host part of a URL: letters, digits, '.', '-', '_', and an
// optional ":port" (or a bracketed IPv6 address). A listed server that is not such a host would
// let the list rewrite the request line, so it is refused.
bool IsPlainHost(const std::string& Text);

} // namespace quillo
