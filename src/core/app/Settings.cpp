#include "core/app/Settings.h"

#include "core/app/AtomicFile.h"
#include "core/app/DataFolder.h"
#include "core/app/IniText.h"
#include "core/app/MyUtils.h"

#include <QDir>

#include <cstdio>
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

// XOR with the key character at (1-based position mod 60); its own inverse.
std::string XorWithKey(const std::string& Text) {
    std::string r = Text;
    for (size_t i = 0; i < r.size(); ++i)
        r[i] = static_cast<char>(r[i] ^ kScrambleKey[(i + 1) % 60]);
    return r;
}

TWindowRect ParseWindowRect(const std::string& Value) {
    const std::string t = Trim(Value);
    if (t.size() != 32 && t.size() != 33)
        return {};
    uint8_t bytes[16];
    for (int i = 0; i < 16; ++i) {
        // "$" admits exactly hexadecimal digits: no sign, no blank, no second prefix.
        int32_t v = 0;
        if (!TryStrToInt("$" + t.substr(2 * i, 2), v))
            return {}; // stray characters: treated like a wrong length
        bytes[i] = static_cast<uint8_t>(v);
    }
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
        char bytes[9]; // little-endian, as the value lies in memory
        std::snprintf(bytes, sizeof bytes, "%02X%02X%02X%02X", u & 255, (u >> 8) & 255, (u >> 16) & 255,
                      u >> 24);
        r += bytes;
    }
    return r;
}

TBossKey ParseBossKey(const std::string& Value) {
    // Hexadecimal digits only, no prefix: "0x4203" is no boss key.
    const int32_t v = StrToIntDef("$" + Value, 0);
    return TBossKey{static_cast<uint8_t>(v & 0xFF), static_cast<uint8_t>((v >> 8) & 0xFF)};
}

std::string FormatBossKey(const TBossKey& K) {
    char text[5];
    std::snprintf(text, sizeof text, "%04X", static_cast<unsigned>(K.Key << 8 | K.Modifiers));
    return text;
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

std::string Unscrambled(const std::string& Stored) {
    try {
        return UnscramblePassword(Trim(Stored));
    } catch (const EConvertError&) {
        return std::string(); // a malformed value cannot be decoded; loading goes on without it
    }
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
    // Always the desktop program: quillo-cli saves the settings too, but cannot start minimized.
    const std::string exe = DesktopProgramPath();
    if (exe.empty() || exe.find_first_of("\r\n") != std::string::npos)
        return;
    const std::string text = "[Desktop Entry]\n"
                             "Type=Application\n"
                             "Name=Quillo Uploader\n"
                             "Exec=" +
                             AutostartExecLine(exe) +
                             "\n"
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

std::string AutostartExecLine(const std::string& ExecutablePath) {
    return DesktopExecQuoted(ExecutablePath) + " -m";
}

std::string AutostartEntryFileName() {
    return ConfigHomeFolder() + "/autostart/ZOR_Quillo.desktop";
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

namespace {

// How a key's value is stored in the file.
enum class TKind { Flag, Int, Byte, Text, Secret, Rect, BossKey, Time };

// One key of the settings file; LoadSettings reads every one. Written: whether SaveSettings
// writes it (Version is only read). The table order is the file's key order.
struct TKeyDef {
    const char* Section;
    const char* Key;
    TKind Kind;
    void* (*Field)(TAppSettings&);
    bool Written = true;
    bool FromDropWindow = false;
};

#define QUILLO_FIELD(expr) [](TAppSettings& s) -> void* { return &s.expr; }

const TKeyDef kKeys[] = {
    {"General", "Version", TKind::Int, QUILLO_FIELD(General.Version), false},
    {"General", "FirstRun", TKind::Flag, QUILLO_FIELD(General.FirstRun)},
    {"General", "WindowRect", TKind::Rect, QUILLO_FIELD(General.WindowRect)},
    {"General", "StartWithWindows", TKind::Flag, QUILLO_FIELD(General.StartWithWindows)},
    {"General", "AutostartUploading", TKind::Flag, QUILLO_FIELD(General.AutostartUploading)},
    {"General", "NotifyUploadFinished", TKind::Flag, QUILLO_FIELD(General.NotifyUploadFinished)},
    {"General", "ShutDownWhenFinished", TKind::Flag, QUILLO_FIELD(General.ShutDownWhenFinished)},
    {"General", "Hibernate", TKind::Flag, QUILLO_FIELD(General.Hibernate)},
    {"General", "StartInStealthMode", TKind::Flag, QUILLO_FIELD(General.StartInStealthMode)},
    {"General", "BossKey", TKind::BossKey, QUILLO_FIELD(General.BossKey)},
    {"General", "LastMessageID", TKind::Int, QUILLO_FIELD(General.LastMessageID)},
    {"General", "LastUploadHost", TKind::Text, QUILLO_FIELD(General.LastUploadHost)},
    {"General", "LastSettingsTab", TKind::Int, QUILLO_FIELD(General.LastSettingsTab)},
    {"General", "ShowDropTarget", TKind::Flag, QUILLO_FIELD(General.ShowDropTarget), true, true},
    {"General", "DropLeft", TKind::Int, QUILLO_FIELD(General.DropLeft), true, true},
    {"General", "DropTop", TKind::Int, QUILLO_FIELD(General.DropTop), true, true},
    {"General", "UseSkin", TKind::Flag, QUILLO_FIELD(General.UseSkin)},
    {"General", "LanguageFile", TKind::Text, QUILLO_FIELD(General.LanguageFile)},
    {"InternetConnection", "UseProxy", TKind::Flag, QUILLO_FIELD(InternetConnection.UseProxy)},
    {"InternetConnection", "UserName", TKind::Text, QUILLO_FIELD(InternetConnection.UserName)},
    {"InternetConnection", "Password", TKind::Secret, QUILLO_FIELD(InternetConnection.Password)},
    {"InternetConnection", "Proxy", TKind::Text, QUILLO_FIELD(InternetConnection.Proxy)},
    {"InternetConnection", "ProxyType", TKind::Byte, QUILLO_FIELD(InternetConnection.ProxyType)},
    {"InternetConnection", "FtpProxyMethod", TKind::Byte, QUILLO_FIELD(InternetConnection.FtpProxyMethod)},
    {"InternetConnection", "BoundIP", TKind::Text, QUILLO_FIELD(InternetConnection.BoundIP)},
    {"Brimvault", "UseAccount", TKind::Flag, QUILLO_FIELD(Brimvault.UseAccount)},
    {"Brimvault", "UserName", TKind::Secret, QUILLO_FIELD(Brimvault.UserName)},
    {"Brimvault", "Password", TKind::Secret, QUILLO_FIELD(Brimvault.Password)},
    {"UploadManager", "ParallelThreads", TKind::Int, QUILLO_FIELD(UploadManager.ParallelThreads)},
    {"UploadManager", "SpeedLimit", TKind::Int, QUILLO_FIELD(UploadManager.SpeedLimit)},
    {"UploadManager", "AutoManageBandwidth", TKind::Flag, QUILLO_FIELD(UploadManager.AutoManageBandwidth)},
    {"UploadManager", "SendBufferSize", TKind::Int, QUILLO_FIELD(UploadManager.SendBufferSize)},
    {"UploadManager", "ConnectTimeout", TKind::Int, QUILLO_FIELD(UploadManager.ConnectTimeout)},
    {"UploadManager", "ReadTimeout", TKind::Int, QUILLO_FIELD(UploadManager.ReadTimeout)},
    {"UploadManager", "RetryCount", TKind::Int, QUILLO_FIELD(UploadManager.RetryCount)},
    {"UploadManager", "CalculateMD5", TKind::Flag, QUILLO_FIELD(UploadManager.CalculateMD5)},
    {"Scheduler", "Enabled", TKind::Flag, QUILLO_FIELD(Scheduler.Enabled)},
    {"Scheduler", "StartTime", TKind::Time, QUILLO_FIELD(Scheduler.StartTime)},
    {"Scheduler", "EndTime", TKind::Time, QUILLO_FIELD(Scheduler.EndTime)},
    {"Scheduler", "AbortNonFinished", TKind::Flag, QUILLO_FIELD(Scheduler.AbortNonFinished)},
};

#undef QUILLO_FIELD

// Reads one key into its field; the field's current value (the record's default) is the default.
void ReadKey(const TIniText& Ini, const TKeyDef& K, TAppSettings& S) {
    void* f = K.Field(S);
    switch (K.Kind) {
    case TKind::Flag:
        *static_cast<bool*>(f) = Ini.ReadBool(K.Section, K.Key, *static_cast<bool*>(f));
        break;
    case TKind::Int:
        *static_cast<int32_t*>(f) = Ini.ReadInteger(K.Section, K.Key, *static_cast<int32_t*>(f));
        break;
    case TKind::Byte: // only the low 8 bits count
        *static_cast<uint8_t*>(f) =
            static_cast<uint8_t>(Ini.ReadInteger(K.Section, K.Key, *static_cast<uint8_t*>(f)) & 0xFF);
        break;
    case TKind::Text:
        *static_cast<std::string*>(f) = Trim(Ini.ReadString(K.Section, K.Key, ""));
        break;
    case TKind::Secret:
        *static_cast<std::string*>(f) = Unscrambled(Ini.ReadString(K.Section, K.Key, ""));
        break;
    case TKind::Rect:
        *static_cast<TWindowRect*>(f) = ParseWindowRect(Ini.ReadString(K.Section, K.Key, ""));
        break;
    case TKind::BossKey:
        *static_cast<TBossKey*>(f) = ParseBossKey(Ini.ReadString(K.Section, K.Key, "0"));
        break;
    case TKind::Time:
        *static_cast<double*>(f) = ParseTime(Ini.ReadString(K.Section, K.Key, ""));
        break;
    }
}

std::string KeyText(const TKeyDef& K, TAppSettings& S) {
    void* f = K.Field(S);
    switch (K.Kind) {
    case TKind::Flag:
        return Flag(*static_cast<bool*>(f));
    case TKind::Int:
        return Int(*static_cast<int32_t*>(f));
    case TKind::Byte:
        return Int(*static_cast<uint8_t*>(f));
    case TKind::Text: // TIniText keeps it on one line
        return *static_cast<std::string*>(f);
    case TKind::Secret:
        return ScramblePassword(*static_cast<std::string*>(f));
    case TKind::Rect:
        return FormatWindowRect(*static_cast<TWindowRect*>(f));
    case TKind::BossKey:
        return FormatBossKey(*static_cast<TBossKey*>(f));
    case TKind::Time:
        return FormatTimeOfDay(*static_cast<double*>(f));
    }
    return std::string();
}

std::optional<TDropWindowState> CurrentDropWindowState() {
    TDropWindowStateProvider provider;
    {
        std::lock_guard<std::mutex> lock(gDropMutex);
        provider = gDropProvider;
    }
    return provider ? provider() : std::nullopt;
}

} // namespace

void LoadSettings() {
    TIniText ini;
    ini.Parse(ReadRegularFile(SettingsFileName()));
    TAppSettings s; // starts with the defaults
    for (const TKeyDef& k : kKeys)
        ReadKey(ini, k, s);
    SetConfiguredSiteHost(ini.ReadString("Service", "SiteHost", ""));
    CommitSettings(s);
}

void SaveSettings() {
    TAppSettings s = SettingsSnapshot();
    const std::string path = SettingsFileName();
    TIniText ini;
    ini.Parse(ReadRegularFile(path)); // keeps what this program does not write

    // Only while a drop window exists, and then from the window itself; s is this save's own copy,
    // so the record keeps its values.
    const std::optional<TDropWindowState> drop = CurrentDropWindowState();
    if (drop) {
        s.General.ShowDropTarget = drop->Visible;
        s.General.DropLeft = drop->Left;
        s.General.DropTop = drop->Top;
    }
    for (const TKeyDef& k : kKeys)
        if (k.Written && (drop || !k.FromDropWindow))
            ini.WriteString(k.Section, k.Key, KeyText(k, s));

    // A folder that cannot be created shows up as the write's own error just below.
    EnsureDataFolder();
    try {
        // 0600: the file holds the account's password.
        WriteFileAtomically(path, ini.Serialize(), 0600);
    } catch (const EFileWriteError& e) {
        throw ESettingsError(e.what());
    }
    UpdateAutostartEntry(s.General.StartWithWindows);
}

} // namespace quillo
