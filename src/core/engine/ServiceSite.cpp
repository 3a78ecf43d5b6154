#include "core/engine/ServiceSite.h"

#include "core/app/DataFolder.h"
#include "core/app/MyUtils.h"

#include <cctype>

namespace quillo {

std::string ServiceRootUrl() {
    return SiteRootUrl();
}
std::string UploadServerListUrl() {
    return "http://" + SiteHost() + UploadServerListPath;
}
std::string VersionUrl() {
    return "http://" + SiteHost() + VersionPath;
}
std::string DownloadPageUrl() {
    return "http://" + SiteHost() + "/quillouploader/download";
}
std::string HelpPageUrl() {
    return "http://" + SiteHost() + "/quillouploader";
}
std::string StartPageUrl() {
    return SiteRootUrl();
}

std::string UploadUrl(const std::string& Host) {
    return "http://" + Host + UploadScriptPath;
}

std::string CommitUrl(const std::string& Host, const std::string& UserName, const std::string& Password,
                      const std::string& UploadName, int64_t FileSize, const std::string& MD5) {
    return UploadUrl(Host) + FormatText("?action=commit&user=%s&pass=%s&filename=%s&size=%s&md5=%s",
                                        {UrlEncodeAll(UserName), UrlEncodeAll(Password),
                                         UrlEncodeAll(UploadName), std::to_string(FileSize), MD5});
}

bool IsPlainHost(const std::string& Text) {
    if (Text.empty())
        return false;
    std::string Host = Text;
    std::string Port;
    if (Host.front() == '[') {
        const size_t Close = Host.find(']');
        if (Close == std::string::npos || Close == 1)
            return false;
        for (size_t I = 1; I < Close; ++I) {
            const unsigned char C = static_cast<unsigned char>(Host[I]);
            if (!std::isxdigit(C) && C != ':' && C != '.')
                return false;
        }
        const std::string Rest = Host.substr(Close + 1);
        if (Rest.empty())
            return true;
        if (Rest.front() != ':')
            return false;
        Port = Rest.substr(1);
        Host.clear();
    } else {
        const size_t Colon = Host.find(':');
        if (Colon != std::string::npos) {
            Port = Host.substr(Colon + 1);
            Host.resize(Colon);
            if (Host.empty())
                return false;
            if (Port.empty())
                return false;
        }
        for (const char Ch : Host) {
            const unsigned char C = static_cast<unsigned char>(Ch);
            if (!std::isalnum(C) && C != '.' && C != '-' && C != '_')
                return false;
        }
    }
    if (Port.empty())
        return true;
    if (Port.size() > 5)
        return false;
    for (const char C : Port) {
        if (C < '0' || C > '9')
            return false;
    }
    const int Value = std::stoi(Port);
    return Value >= 1 && Value <= 65535;
}

} // namespace quillo
