#include "core/app/DataFolder.h"

#include "core/app/MyUtils.h"

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
std::string NormalizeHost(const std::string& Host) {
    std::string host = Trim(Host);
    const std::string scheme = "http://";
    if (SameTextAscii(host.substr(0, scheme.size()), scheme))
        host.erase(0, scheme.size());
    while (!host.empty() && host.back() == '/')
        host.pop_back();
    return host;
}

// Relative XDG_CONFIG_HOME values are invalid and ignored.
std::string ConfigHomeFrom(const std::string& XdgConfigHome, const std::string& Home) {
    if (!XdgConfigHome.empty() && XdgConfigHome[0] == '/')
        return XdgConfigHome;
    return (Home.empty() ? S(QDir::homePath()) : Home) + "/.config";
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

std::string ChooseDesktopProgram(const std::string& ExecutablePath,
                                 const std::function<bool(const std::string&)>& IsExecutable) {
    const std::string name = kDesktopProgramName;
    if (ExtractFileName(ExecutablePath) == name)
        return ExecutablePath;
    const size_t slash = ExecutablePath.rfind('/');
    if (slash != std::string::npos) {
        const std::string folder = ExecutablePath.substr(0, slash);
        for (const std::string& candidate : {folder + "/" + name, folder + "/../app/" + name})
            if (IsExecutable(candidate))
                return S(QDir::cleanPath(Q(candidate)));
    }
    return name;
}

std::string DesktopProgramPath() {
    return ChooseDesktopProgram(ExecutablePath(), [](const std::string& Path) {
        struct stat st {};
        return ::stat(Path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(Path.c_str(), X_OK) == 0;
    });
}

std::string ChooseDataFolder(const TDataFolderInputs& In) {
    if (!In.Override.empty())
        return Absolute(In.Override);
    if (!In.QuilloHome.empty())
        return Absolute(In.QuilloHome);
    // Portable use: a program unpacked into a folder of its own keeps its files beside it.
    if (!In.ExecutableFolder.empty() &&
        (In.ExecutableFolderHasSettings || (In.ExecutableFolderWritable && !In.ExecutableFolderInstalled)))
        return In.ExecutableFolder;
    return Absolute(ConfigHomeFrom(In.XdgConfigHome, In.Home) + "/quillo");
}

std::string ConfigHomeFolder() {
    return ConfigHomeFrom(Env("XDG_CONFIG_HOME"), Env("HOME"));
}

std::string DataFolder() {
    TDataFolderInputs in;
    {
        std::lock_guard<std::mutex> lock(gMutex);
        in.Override = gOverride;
    }
    in.QuilloHome = Env("QUILLO_HOME");
    if (in.Override.empty() && in.QuilloHome.empty()) {
        in.ExecutableFolder = ExecutableFolder();
        if (!in.ExecutableFolder.empty()) {
            const std::string ini = in.ExecutableFolder + "/" + kSettingsFileName;
            in.ExecutableFolderHasSettings = ::access(ini.c_str(), F_OK) == 0;
            in.ExecutableFolderWritable = ::access(in.ExecutableFolder.c_str(), W_OK) == 0;
            struct stat st {};
            const std::string share = in.ExecutableFolder + "/../share/quillo";
            in.ExecutableFolderInstalled = ::stat(share.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
        }
        in.XdgConfigHome = Env("XDG_CONFIG_HOME");
        in.Home = Env("HOME");
    }
    return ChooseDataFolder(in);
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
