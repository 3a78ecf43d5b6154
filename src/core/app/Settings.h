#pragma once
// The settings store: one process-wide record, AppSettings, filled once from quillo.ini by
// LoadSettings and written back by SaveSettings, which also keeps the XDG autostart entry
// ($XDG_CONFIG_HOME/autostart/ZOR_Quillo.desktop) in step with General.StartWithWindows.
//
// Threads: LoadSettings, SaveSettings and every change of the record run on the user-interface
// thread. The UI thread may read AppSettings directly. Worker threads must not read the text
// fields of AppSettings directly (the UI thread may be replacing them): they take a copy with
// SettingsSnapshot(). Therefore the UI thread changes the record only through UpdateSettings()
// (or CommitSettings() for a whole record), which hold the same lock as SettingsSnapshot().

#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>

namespace quillo {

struct TWindowRect {
    int32_t Left = 0;
    int32_t Top = 0;
    int32_t Right = 0;
    int32_t Bottom = 0;
    bool operator==(const TWindowRect&) const = default;
};

// Modifier flags: 1 Alt, 2 Ctrl, 4 Shift, 8 Win. Key code 0 means no boss key.
struct TBossKey {
    uint8_t Modifiers = 0;
    uint8_t Key = 0;
    bool operator==(const TBossKey&) const = default;
};
inline constexpr uint8_t bkAlt = 1;
inline constexpr uint8_t bkCtrl = 2;
inline constexpr uint8_t bkShift = 4;
inline constexpr uint8_t bkWin = 8;

// The members start with the defaults of the settings file, so a record that was never loaded
// already holds sensible values.
struct TGeneralSettings {
    int32_t Version = 16843008; // read, never written, never consulted
    bool FirstRun = true;
    TWindowRect WindowRect;
    bool StartWithWindows = false;
    bool AutostartUploading = false;
    bool NotifyUploadFinished = true;
    bool ShutDownWhenFinished = false;
    bool Hibernate = false;
    bool StartInStealthMode = false;
    TBossKey BossKey;
    int32_t LastMessageID = 0;
    std::string LastUploadHost;
    int32_t LastSettingsTab = 0;
    bool ShowDropTarget = false;
    int32_t DropLeft = 10000;
    int32_t DropTop = 10000;
    bool UseSkin = false;
    std::string LanguageFile;
    bool operator==(const TGeneralSettings&) const = default;
};

struct TInternetConnectionSettings {
    bool UseProxy = false;
    std::string UserName;
    std::string Password;       // plain in memory, scrambled in the file
    uint8_t ProxyType = 1;      // 1 HTTP, 2 SOCKS4, 3 SOCKS4A, 4 SOCKS5
    uint8_t FtpProxyMethod = 0; // FTP firewall scheme, 0 CONNECT ... 8 HTTP PROXY WITH FTP
    std::string Proxy;          // "host:port"
    std::string BoundIP;        // local IPv4 address, empty = system's choice
    bool operator==(const TInternetConnectionSettings&) const = default;
};

struct TBrimvaultSettings {
    bool UseAccount = false;
    std::string UserName; // scrambled in the file
    std::string Password; // scrambled in the file
    bool operator==(const TBrimvaultSettings&) const = default;
};

struct TUploadManagerSettings {
    int32_t ParallelThreads = 2;
    int32_t SpeedLimit = 0; // KB/s, 0 = no limit
    bool AutoManageBandwidth = false;
    int32_t SendBufferSize = 8;  // KB
    int32_t ConnectTimeout = 30; // seconds, 0 = none
    int32_t ReadTimeout = 0;     // seconds, 0 = none
    int32_t RetryCount = 100;    // 0 = always retry
    bool CalculateMD5 = true;
    bool operator==(const TUploadManagerSettings&) const = default;
};

struct TSchedulerSettings {
    bool Enabled = false;
    double StartTime = 0; // time of day as a fraction of a day; a date part is ignored
    double EndTime = 0;
    bool AbortNonFinished = true;
    bool operator==(const TSchedulerSettings&) const = default;
};

struct TAppSettings {
    TGeneralSettings General;
    TInternetConnectionSettings InternetConnection;
    TBrimvaultSettings Brimvault;
    TUploadManagerSettings UploadManager;
    TSchedulerSettings Scheduler;
    bool operator==(const TAppSettings&) const = default;
};

// The one settings record (see the thread rules above).
extern TAppSettings AppSettings;

// A failed write of the settings file; what() carries the system's message. The old file and
// the in-memory record are untouched and the autostart entry is not updated.
class ESettingsError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Reads SettingsFileName() into AppSettings (defaults for a missing file or unreadable values)
// and picks up "[Service] SiteHost". Never raises.
void LoadSettings();

// Writes AppSettings into SettingsFileName(), keeping keys and sections it does not know and
// dropping comments, then updates the autostart entry, which starts the desktop program
// (DesktopProgramPath) with "-m" whichever program saves (failures of that step are ignored).
// The file is replaced atomically (temporary file, fsync, rename) and has mode 0600.
// Raises ESettingsError when the file cannot be written.
void SaveSettings();

// A thread-safe copy of the whole record.
TAppSettings SettingsSnapshot();
// UI thread: changes the record under the lock that SettingsSnapshot() takes.
void UpdateSettings(const std::function<void(TAppSettings&)>& Change);
void CommitSettings(const TAppSettings& Settings);

// The drop window's live state; while a provider is installed and returns a value, SaveSettings
// writes ShowDropTarget, DropLeft and DropTop from it instead of from the record. Without a
// drop window (no provider, or nullopt) those three keys are left as the file has them.
struct TDropWindowState {
    bool Visible = false;
    int32_t Left = 0;
    int32_t Top = 0;
};
using TDropWindowStateProvider = std::function<std::optional<TDropWindowState>()>;
void SetDropWindowStateProvider(TDropWindowStateProvider Provider);

// Reversible scrambling of the stored secrets: XOR with a fixed 60-byte key, then "%XX" per byte.
std::string ScramblePassword(const std::string& Plain);
// Inverse of ScramblePassword; raises EConvertError (core/app/MyUtils.h) on a malformed escape.
std::string UnscramblePassword(const std::string& Stored);

// Path of the autostart entry: $XDG_CONFIG_HOME/autostart/ZOR_Quillo.desktop
// ($HOME/.config/autostart/... when XDG_CONFIG_HOME is unset or not absolute).
std::string AutostartEntryFileName();
// The Exec value of that entry: the executable path in double quotes (with the escapes that
// desktop entries require for `"`, `$`, `` ` ``, `\` and `%`), a blank and "-m".
std::string AutostartExecLine(const std::string& ExecutablePath);

} // namespace quillo
