#include "core/app/DataFolder.h"

#include <cstdlib>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFileInfo>

namespace quillo {

namespace {

std::mutex gMutex;
std::string gOverride;
std::string gConfiguredSiteHost;

std::string Env(const char* Name) {
    const char* v = std::getenv(Name);
    return v ? std::string(v) : std::string();
}

QString Q(const std::string& S) {
    return QString::fromUtf8(S.data(), static_cast<qsizetype>(S.size()));
}
std::string S(const QString& Q) {
    return Q.toUtf8().toStdString();
}

std::string Absolute(const std::string& Dir) {
    QString p = QDir::cleanPath(QDir(Q(Dir)).absolutePath());
    return S(p);
}

// Accepts "host[:port]" and also a pasted "http://host[:port]/".
std::string NormalizeHost(std::string Host) {
    auto blank = [](char c) { return static_cast<unsigned char>(c) <= 32; };
    while (!Host.empty() && blank(Host.back()))
        Host.pop_back();
    size_t b = 0;
    while (b < Host.size() && blank(Host[b]))
        ++b;
    Host.erase(0, b);
    const std::string scheme = "http://";
    if (Host.size() >= scheme.size() &&
        QString::fromStdString(Host.substr(0, scheme.size())).toLower() == "http://")
        Host.erase(0, scheme.size());
    while (!Host.empty() && Host.back() == '/')
        Host.pop_back();
    return Host;
}

bool IsDirectory(const std::string& Path) {
    struct stat st {};
    return ::stat(Path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

} // namespace

void SetDataFolderOverride(const std::string& Dir) {
    std::lock_guard<std::mutex> lock(gMutex);
    gOverride = Dir;
}

std::string ExecutablePath() {
    std::string buf(4096, '\0');
    const ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size());
    if (n <= 0 || static_cast<size_t>(n) >= buf.size())
        return std::string();
    buf.resize(static_cast<size_t>(n));
    return buf;
}

std::string ExecutableFolder() {
    const std::string exe = ExecutablePath();
    const size_t slash = exe.rfind('/');
    if (slash == std::string::npos)
        return std::string();
    return slash == 0 ? std::string("/") : exe.substr(0, slash);
}

std::string DataFolder() {
    {
        std::lock_guard<std::mutex> lock(gMutex);
        if (!gOverride.empty())
            return Absolute(gOverride);
    }
    const std::string home = Env("QUILLO_HOME");
    if (!home.empty())
        return Absolute(home);
    // Portable use: a program unpacked into a folder of its own keeps its files beside it.
    const std::string exeDir = ExecutableFolder();
    if (!exeDir.empty()) {
        const std::string ini = exeDir + "/" + kSettingsFileName;
        if (::access(ini.c_str(), F_OK) == 0 || ::access(exeDir.c_str(), W_OK) == 0)
            return exeDir;
    }
    std::string config = Env("XDG_CONFIG_HOME");
    if (config.empty() || config[0] != '/') {
        std::string userHome = Env("HOME");
        if (userHome.empty())
            userHome = S(QDir::homePath());
        config = userHome + "/.config";
    }
    return Absolute(config + "/quillo");
}

bool EnsureDataFolder() {
    const std::string dir = DataFolder();
    if (IsDirectory(dir))
        return true;
    return QDir().mkpath(Q(dir)) && IsDirectory(dir);
}

std::string SettingsFileName() {
    return DataFolder() + "/" + kSettingsFileName;
}
std::string JobsFileName() {
    return DataFolder() + "/" + kJobsFileName;
}

void SetConfiguredSiteHost(const std::string& Host) {
    std::lock_guard<std::mutex> lock(gMutex);
    gConfiguredSiteHost = NormalizeHost(Host);
}

std::string ConfiguredSiteHost() {
    std::lock_guard<std::mutex> lock(gMutex);
    return gConfiguredSiteHost;
}

std::string SiteHost() {
    const std::string env = NormalizeHost(Env("QUILLO_SITE"));
    if (!env.empty())
        return env;
    const std::string configured = ConfiguredSiteHost();
    return configured.empty() ? std::string(kDefaultSiteHost) : configured;
}

std::string SiteRootUrl() {
    return "http://" + SiteHost() + "/";
}

} // namespace quillo
