#include "core/app/Settings.h"

#include "core/app/AtomicFile.h"
#include "core/app/DataFolder.h"
#include "core/app/IniText.h"
#include "core/app/MyUtils.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstdlib>
#include <mutex>
#include <unistd.h>

namespace quillo {

TAppSettings AppSettings;

namespace {

// Guards AppSettings against readers on worker threads while the UI thread replaces fields.
// Recursive so that a change function may take a snapshot.
std::recursive_mutex gSettingsMutex;

std::mutex gDropMutex;
TDropWindowStateProvider gDropProvider;

const char kScrambleKey[] = "#@!%(&^*_@!#^&*%@!#(^&@)%*!#@&^(*!@%#&*(^3!@#%&^*!(@#&^!%*@#";
static_assert(sizeof(kScrambleKey) - 1 == 60, "the scramble key has 60 characters");

const char kHexUpper[] = "0123456789ABCDEF";

std::string ReadWholeFile(const std::string& Path) {
    QFile f(QString::fromUtf8(Path.data(), static_cast<qsizetype>(Path.size())));
    if (!f.open(QIODevice::ReadOnly))
        return std::string();
    const QByteArray data = f.readAll();
    return std::string(data.constData(), static_cast<size_t>(data.size()));
}

// XOR with the key character at (1-based position mod 60); its own inverse.
std::string XorWithKey(const std::string& Text) {
    std::string r = Text;
    for (size_t i = 0; i < r.size(); ++i)
        r[i] = static_cast<char>(r[i] ^ kScrambleKey[(i + 1) % 60]);
    return r;
}

bool HexByte(char Hi, char Lo, uint8_t& Out) {
    auto v = [](char c) {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        return -1;
    };
    const int h = v(Hi), l = v(Lo);
    if (h < 0 || l < 0)
        return false;
    Out = static_cast<uint8_t>(h * 16 + l);
    return true;
}

TWindowRect ParseWindowRect(const std::string& Value) {
    const std::string t = Trim(Value);
    if (t.size() != 32 && t.size() != 33)
        return {};
    uint8_t bytes[16];
    for (int i = 0; i < 16; ++i)
        if (!HexByte(t[2 * i], t[2 * i + 1], bytes[i]))
            return {}; // stray characters: treated like a wrong length
    auto le = [&](int k) {
        return static_cast<int32_t>(
            static_cast<uint32_t>(bytes[k]) | static_cast<uint32_t>(bytes[k + 1]) << 8 |
            static_cast<uint32_t>(bytes[k + 2]) << 16 | static_cast<uint32_t>(bytes[k + 3]) << 24);
    };
    return TWindowRect{le(0), le(4), le(8), le(12)};
}

std::string FormatWindowRect(const TWindowRect& R) {
    std::string r;
    for (int32_t v : {R.Left, R.Top, R.Right, R.Bottom}) {
        const uint32_t u = static_cast<uint32_t>(v);
        for (int b = 0; b < 4; ++b) {
            const uint8_t byte = static_cast<uint8_t>(u >> (8 * b));
            r.push_back(kHexUpper[byte >> 4]);
            r.push_back(kHexUpper[byte & 15]);
        }
    }
    return r;
}

TBossKey ParseBossKey(const std::string& Value) {
    // Hexadecimal digits only, no prefix: "0x4203" is no boss key.
    const int32_t v = StrToIntDef("$" + Value, 0);
    return TBossKey{static_cast<uint8_t>(v & 0xFF), static_cast<uint8_t>((v >> 8) & 0xFF)};
}

std::string FormatBossKey(const TBossKey& K) {
    const uint16_t v = static_cast<uint16_t>(K.Key << 8 | K.Modifiers);
    std::string r;
    for (int shift = 12; shift >= 0; shift -= 4)
        r.push_back(kHexUpper[(v >> shift) & 15]);
    return r;
}

double ParseTime(const std::string& Value) {
    double t = 0;
    return TryParseTimeOfDay(Value, t) ? t : 0;
}

std::string Flag(bool B) {
    return B ? "1" : "0";
}
std::string Int(int32_t V) {
    return std::to_string(V);
}

// A line break inside a value would end the entry early and turn the rest into a line of its
// own (even a section header), so plain texts are kept on one line.
std::string PlainText(const std::string& Value) {
    std::string r = Value;
    for (char& c : r)
        if (c == '\r' || c == '\n')
            c = ' ';
    return r;
}

std::string Unscrambled(const std::string& Stored) {
    try {
        return UnscramblePassword(Trim(Stored));
    } catch (const EConvertError&) {
        return std::string(); // a malformed value cannot be decoded; loading goes on without it
    }
}

std::string ConfigHome() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg && xdg[0] == '/')
        return xdg;
    const char* home = std::getenv("HOME");
    return std::string(home ? home : "") + "/.config";
}

// Exec argument quoting of desktop entries: inside double quotes, `"`, `` ` ``, `$` and `\` take a
// backslash; then the string level doubles every backslash; "%" is written "%%".
std::string DesktopExecQuoted(const std::string& Path) {
    std::string quoted = "\"";
    for (char c : Path) {
        if (c == '"' || c == '`' || c == '$' || c == '\\')
            quoted.push_back('\\');
        quoted.push_back(c);
    }
    quoted.push_back('"');
    std::string r;
    for (char c : quoted) {
        if (c == '\\')
            r += "\\\\";
        else if (c == '%')
            r += "%%";
        else
            r.push_back(c);
    }
    return r;
}

void UpdateAutostartEntry(bool Enabled) {
    const std::string file = AutostartEntryFileName();
    if (!Enabled) {
        ::unlink(file.c_str());
        return;
    }
    const std::string exe = ExecutablePath();
    if (exe.empty() || exe.find_first_of("\r\n") != std::string::npos)
        return;
    const std::string text = "[Desktop Entry]\n"
                             "Type=Application\n"
                             "Name=Quillo Uploader\n"
                             "Exec=" +
                             DesktopExecQuoted(exe) +
                             " -m\n"
                             "Terminal=false\n"
                             "X-GNOME-Autostart-enabled=true\n";
    const std::string dir = file.substr(0, file.rfind('/'));
    QDir().mkpath(QString::fromUtf8(dir.c_str()));
    try {
        WriteFileAtomically(file, text, 0644);
    } catch (const EFileWriteError&) {
        // The autostart entry is a convenience; its failures are ignored.
    }
}

// Temporary files of a save that a crash interrupted; a minute-old one belongs to no live save.
void RemoveStaleTemporaries(const std::string& SettingsFile) {
    const QFileInfo info(QString::fromUtf8(SettingsFile.c_str()));
    const QDir dir = info.dir();
    const QFileInfoList stale = dir.entryInfoList({info.fileName() + QStringLiteral(".tmp-??????")},
                                                  QDir::Files | QDir::Hidden | QDir::System);
    const QDateTime limit = QDateTime::currentDateTime().addSecs(-60);
    for (const QFileInfo& f : stale)
        if (f.lastModified() < limit)
            QFile::remove(f.absoluteFilePath());
}

} // namespace

std::string ScramblePassword(const std::string& Plain) {
    if (Plain.empty())
        return std::string();
    return UrlEncodeAll(XorWithKey(Plain));
}

std::string UnscramblePassword(const std::string& Stored) {
    if (Stored.empty())
        return std::string();
    return XorWithKey(UrlDecode(Stored));
}

std::string AutostartEntryFileName() {
    return ConfigHome() + "/autostart/ZOR_Quillo.desktop";
}

TAppSettings SettingsSnapshot() {
    std::lock_guard<std::recursive_mutex> lock(gSettingsMutex);
    return AppSettings;
}

void UpdateSettings(const std::function<void(TAppSettings&)>& Change) {
    std::lock_guard<std::recursive_mutex> lock(gSettingsMutex);
    Change(AppSettings);
}

void CommitSettings(const TAppSettings& Settings) {
    std::lock_guard<std::recursive_mutex> lock(gSettingsMutex);
    AppSettings = Settings;
}

void SetDropWindowStateProvider(TDropWindowStateProvider Provider) {
    std::lock_guard<std::mutex> lock(gDropMutex);
    gDropProvider = std::move(Provider);
}

void LoadSettings() {
    TIniText ini;
    ini.Parse(ReadWholeFile(SettingsFileName()));

    TAppSettings s;
    {
        const std::string g = "General";
        auto& r = s.General;
        r.Version = ini.ReadInteger(g, "Version", r.Version);
        r.FirstRun = ini.ReadBool(g, "FirstRun", r.FirstRun);
        r.WindowRect = ParseWindowRect(ini.ReadString(g, "WindowRect", ""));
        r.StartWithWindows = ini.ReadBool(g, "StartWithWindows", r.StartWithWindows);
        r.AutostartUploading = ini.ReadBool(g, "AutostartUploading", r.AutostartUploading);
        r.NotifyUploadFinished = ini.ReadBool(g, "NotifyUploadFinished", r.NotifyUploadFinished);
        r.ShutDownWhenFinished = ini.ReadBool(g, "ShutDownWhenFinished", r.ShutDownWhenFinished);
        r.Hibernate = ini.ReadBool(g, "Hibernate", r.Hibernate);
        r.StartInStealthMode = ini.ReadBool(g, "StartInStealthMode", r.StartInStealthMode);
        r.BossKey = ParseBossKey(ini.ReadString(g, "BossKey", "0"));
        r.LastMessageID = ini.ReadInteger(g, "LastMessageID", r.LastMessageID);
        r.LastUploadHost = ini.ReadString(g, "LastUploadHost", "");
        r.LastSettingsTab = ini.ReadInteger(g, "LastSettingsTab", r.LastSettingsTab);
        r.ShowDropTarget = ini.ReadBool(g, "ShowDropTarget", r.ShowDropTarget);
        r.DropLeft = ini.ReadInteger(g, "DropLeft", r.DropLeft);
        r.DropTop = ini.ReadInteger(g, "DropTop", r.DropTop);
        r.UseSkin = ini.ReadBool(g, "UseSkin", r.UseSkin);
        r.LanguageFile = ini.ReadString(g, "LanguageFile", "");
    }
    {
        const std::string g = "InternetConnection";
        auto& r = s.InternetConnection;
        r.UseProxy = ini.ReadBool(g, "UseProxy", r.UseProxy);
        r.UserName = Trim(ini.ReadString(g, "UserName", ""));
        r.Password = Unscrambled(ini.ReadString(g, "Password", ""));
        r.Proxy = ini.ReadString(g, "Proxy", "");
        r.ProxyType = static_cast<uint8_t>(ini.ReadInteger(g, "ProxyType", r.ProxyType) & 0xFF);
        r.BoundIP = ini.ReadString(g, "BoundIP", "");
        r.FtpProxyMethod = 0;
    }
    {
        const std::string g = "Brimvault";
        auto& r = s.Brimvault;
        r.UseAccount = ini.ReadBool(g, "UseAccount", r.UseAccount);
        r.UserName = Unscrambled(ini.ReadString(g, "UserName", ""));
        r.Password = Unscrambled(ini.ReadString(g, "Password", ""));
    }
    {
        const std::string g = "UploadManager";
        auto& r = s.UploadManager;
        r.ParallelThreads = ini.ReadInteger(g, "ParallelThreads", r.ParallelThreads);
        r.SpeedLimit = ini.ReadInteger(g, "SpeedLimit", r.SpeedLimit);
        r.AutoManageBandwidth = ini.ReadBool(g, "AutoManageBandwidth", r.AutoManageBandwidth);
        r.SendBufferSize = ini.ReadInteger(g, "SendBufferSize", r.SendBufferSize);
        r.ConnectTimeout = ini.ReadInteger(g, "ConnectTimeout", r.ConnectTimeout);
        r.ReadTimeout = ini.ReadInteger(g, "ReadTimeout", r.ReadTimeout);
        r.RetryCount = ini.ReadInteger(g, "RetryCount", r.RetryCount);
        r.CalculateMD5 = ini.ReadBool(g, "CalculateMD5", r.CalculateMD5);
    }
    {
        const std::string g = "Scheduler";
        auto& r = s.Scheduler;
        r.Enabled = ini.ReadBool(g, "Enabled", r.Enabled);
        r.StartTime = ParseTime(ini.ReadString(g, "StartTime", ""));
        r.EndTime = ParseTime(ini.ReadString(g, "EndTime", ""));
        r.AbortNonFinished = ini.ReadBool(g, "AbortNonFinished", r.AbortNonFinished);
    }
    SetConfiguredSiteHost(ini.ReadString("Service", "SiteHost", ""));
    CommitSettings(s);
}

void SaveSettings() {
    const TAppSettings s = SettingsSnapshot();
    const std::string path = SettingsFileName();
    TIniText ini;
    ini.Parse(ReadWholeFile(path));

    std::optional<TDropWindowState> drop;
    {
        TDropWindowStateProvider provider;
        {
            std::lock_guard<std::mutex> lock(gDropMutex);
            provider = gDropProvider;
        }
        if (provider)
            drop = provider();
    }
    {
        const std::string g = "General";
        const auto& r = s.General;
        ini.WriteString(g, "FirstRun", Flag(r.FirstRun));
        ini.WriteString(g, "WindowRect", FormatWindowRect(r.WindowRect));
        ini.WriteString(g, "StartWithWindows", Flag(r.StartWithWindows));
        ini.WriteString(g, "AutostartUploading", Flag(r.AutostartUploading));
        ini.WriteString(g, "NotifyUploadFinished", Flag(r.NotifyUploadFinished));
        ini.WriteString(g, "ShutDownWhenFinished", Flag(r.ShutDownWhenFinished));
        ini.WriteString(g, "Hibernate", Flag(r.Hibernate));
        ini.WriteString(g, "StartInStealthMode", Flag(r.StartInStealthMode));
        ini.WriteString(g, "BossKey", FormatBossKey(r.BossKey));
        ini.WriteString(g, "LastMessageID", Int(r.LastMessageID));
        ini.WriteString(g, "LastUploadHost", PlainText(r.LastUploadHost));
        ini.WriteString(g, "LastSettingsTab", Int(r.LastSettingsTab));
        if (drop) {
            ini.WriteString(g, "ShowDropTarget", Flag(drop->Visible));
            ini.WriteString(g, "DropLeft", Int(drop->Left));
            ini.WriteString(g, "DropTop", Int(drop->Top));
        }
        ini.WriteString(g, "UseSkin", Flag(r.UseSkin));
        ini.WriteString(g, "LanguageFile", PlainText(r.LanguageFile));
    }
    {
        const std::string g = "InternetConnection";
        const auto& r = s.InternetConnection;
        ini.WriteString(g, "UseProxy", Flag(r.UseProxy));
        ini.WriteString(g, "UserName", PlainText(r.UserName));
        ini.WriteString(g, "Password", ScramblePassword(r.Password));
        ini.WriteString(g, "Proxy", PlainText(r.Proxy));
        ini.WriteString(g, "ProxyType", Int(r.ProxyType));
        ini.WriteString(g, "BoundIP", PlainText(r.BoundIP));
    }
    {
        const std::string g = "Brimvault";
        const auto& r = s.Brimvault;
        ini.WriteString(g, "UseAccount", Flag(r.UseAccount));
        ini.WriteString(g, "UserName", ScramblePassword(r.UserName));
        ini.WriteString(g, "Password", ScramblePassword(r.Password));
    }
    {
        const std::string g = "UploadManager";
        const auto& r = s.UploadManager;
        ini.WriteString(g, "ParallelThreads", Int(r.ParallelThreads));
        ini.WriteString(g, "SpeedLimit", Int(r.SpeedLimit));
        ini.WriteString(g, "AutoManageBandwidth", Flag(r.AutoManageBandwidth));
        ini.WriteString(g, "SendBufferSize", Int(r.SendBufferSize));
        ini.WriteString(g, "ConnectTimeout", Int(r.ConnectTimeout));
        ini.WriteString(g, "ReadTimeout", Int(r.ReadTimeout));
        ini.WriteString(g, "RetryCount", Int(r.RetryCount));
        ini.WriteString(g, "CalculateMD5", Flag(r.CalculateMD5));
    }
    {
        const std::string g = "Scheduler";
        const auto& r = s.Scheduler;
        ini.WriteString(g, "Enabled", Flag(r.Enabled));
        ini.WriteString(g, "StartTime", FormatTimeOfDay(r.StartTime));
        ini.WriteString(g, "EndTime", FormatTimeOfDay(r.EndTime));
        ini.WriteString(g, "AbortNonFinished", Flag(r.AbortNonFinished));
    }

    // A folder that cannot be created shows up as the write's own error just below.
    EnsureDataFolder();
    RemoveStaleTemporaries(path);
    try {
        // 0600: the file holds the account's password.
        WriteFileAtomically(path, ini.Serialize(), 0600);
    } catch (const EFileWriteError& e) {
        throw ESettingsError(e.what());
    }
    UpdateAutostartEntry(s.General.StartWithWindows);
}

} // namespace quillo
