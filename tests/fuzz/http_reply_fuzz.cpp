// Feeds arbitrary bytes to the readers of what the service's servers send: the upload server list
// and the reply to an upload. Every listed host must be a plain host that cannot change the
// request it is put into (nor the FTP login that uses it); a reply either yields links taken from
// the reply that survive the task's stored result lines unchanged, or fails with the "no download
// link" error and leaves no stale link. The same bytes, as a file name and account, must not
// break the upload form's structure.
#include "FuzzSupport.h"
#include "core/app/MyUtils.h"
#include "core/engine/BrimvaultFtpUploader.h"
#include "core/engine/BrimvaultHttpUploader.h"
#include "core/engine/InternetThread.h"
#include "core/engine/ServiceSite.h"
#include "core/engine/UploadInfo.h"
#include "core/engine/Uploader.h"
#include "core/l10n/ResMessages.h"
#include "core/net/FtpProtocol.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace {

using namespace quillo_fuzz;

void CheckServerList(const std::string& Text) {
    using namespace quillo;
    for (const std::string& host : ParseUploadServerList(Text)) {
        Check(!host.empty() && IsPlainHost(host));
        for (const char c : host) {
            const unsigned char u = static_cast<unsigned char>(c);
            Check(u > 32 && u != 127 && c != ',' && c != '"' && c != '/' && c != '@' && c != '?' &&
                  c != '#' && c != '\\' && c != '%');
        }
        std::string protocol, parsedHost, port, path, user, password;
        ParseUrl(UploadUrl(host), protocol, parsedHost, port, path, user, password);
        Check(protocol == "http" && path == UploadScriptPath && user.empty() && password.empty());
        // The FTP method connects to the same entry without its HTTP port.
        const std::string ftpHost = FtpHostOfServer(host);
        Check(!ftpHost.empty() && ftpHost.size() < host.size() + 1);
        Check(ftpHost.front() != '[' && (ftpHost.find(':') == std::string::npos || host.front() == '['));
        TFtpLoginTarget target;
        target.Host = ftpHost;
        Check(!MakeFtpLoginPlan(fpsNone, target).Steps.empty());
    }
}

void CheckUploadReply(const std::string& Text) {
    using namespace quillo;
    TUploadInfo info;
    info.SetValue("upserver", "upload.example");
    info.SetValue("download-link", "stale");
    info.SetValue("kill-link", "stale");
    try {
        ParseUploadReply(Text, info);
    } catch (const EITError& e) {
        Check(e.what() == ResString(rmNoDownloadLink));
        Check(!info.Has("download-link"));
        Check(info.Value("upserver") == "upload.example");
        return;
    }
    const std::string download = info.Value("download-link");
    const std::string kill = info.Value("kill-link");
    // Both links come from the reply itself, never from what Info held before.
    Check(!download.empty() && Text.find(download) != std::string::npos);
    Check(kill.empty() || Text.find(kill) != std::string::npos);
    Check(Text.find(':') != std::string::npos);
    Check(!HasLineBreak(download) && !HasLineBreak(kill));
    Check(Trim(download) == download && Trim(kill) == kill);
    Check(info.Value("upserver") == "upload.example");

    // The links are kept as result lines and read back by name.
    TUploadInfo stored;
    stored.SetText(info.Text());
    Check(stored.Value("download-link") == download && stored.Value("kill-link") == kill);
    Check(GetValueOfKey("download-link", info.Text()) == download);
    Check(GetValueOfKey("kill-link", info.Text()) == kill);
    Check(GetValueOfKey("upserver", info.Text()) == "upload.example");
}

// What the upload sends besides the file: the name in the part header and the account value,
// neither of which may break the form's structure.
void CheckFormFields(const std::string& Text) {
    using namespace quillo;
    const std::string escaped = EscapeFormFileName(Text);
    Check(escaped.find_first_of("\r\n\"") == std::string::npos);
    const std::vector<std::string> f = Fields(Text, 2);
    try {
        const std::string wmid = AccountFormValue(true, f[0], f[1]);
        Check(wmid == "a:" + f[0] + ":" + f[1]);
        Check(wmid.find_first_of(std::string("\r\n\0", 3)) == std::string::npos);
    } catch (const EITError&) {
        Check((f[0] + f[1]).find_first_of(std::string("\r\n\0", 3)) != std::string::npos);
    }
    Check(AccountFormValue(false, f[0], f[1]) == "a::");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    CheckServerList(bytes);
    CheckUploadReply(bytes);
    CheckFormFields(bytes);
    return 0;
}
