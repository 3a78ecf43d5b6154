// "set Section.Key=Value": the value goes into quillo.ini's text as the settings file would hold
// it, then the settings store reads the file and writes it back (LoadSettings, SaveSettings), so
// the store's own rules decide what a value means and how it is written.
#include "cli/CliCommands.h"
#include "cli/CliText.h"

#include "core/app/AtomicFile.h"
#include "core/app/DataFolder.h"
#include "core/app/IniText.h"
#include "core/app/MyUtils.h"
#include "core/app/Settings.h"

#include <cstdio>
#include <iostream>

namespace quillo::cli {

namespace {

// What a value must look like on the command line, and how it goes into the file.
enum TValueKind {
    vkText,
    vkSecret, // scrambled in the file
    vkNumber, // flags (0/1) too: the store reads anything else as "not set"
    vkTime,   // a time of day
};

struct TSettingKey {
    const char* Section;
    const char* Key;
    TValueKind Kind;
};

// The keys a user may set from the command line (window and drop-window geometry, the boss key
// and the like belong to the desktop program).
const TSettingKey kSettable[] = {
    {"General", "AutostartUploading", vkNumber},
    {"General", "NotifyUploadFinished", vkNumber},
    {"General", "ShutDownWhenFinished", vkNumber},
    {"General", "Hibernate", vkNumber},
    {"General", "StartWithWindows", vkNumber},
    {"General", "LastUploadHost", vkText},
    {"General", "LanguageFile", vkText},
    {"InternetConnection", "UseProxy", vkNumber},
    {"InternetConnection", "UserName", vkText},
    {"InternetConnection", "Password", vkSecret},
    {"InternetConnection", "Proxy", vkText},
    {"InternetConnection", "ProxyType", vkNumber},
    {"InternetConnection", "BoundIP", vkText},
    {"Brimvault", "UseAccount", vkNumber},
    {"Brimvault", "UserName", vkSecret},
    {"Brimvault", "Password", vkSecret},
    {"UploadManager", "ParallelThreads", vkNumber},
    {"UploadManager", "SpeedLimit", vkNumber},
    {"UploadManager", "SendBufferSize", vkNumber},
    {"UploadManager", "ConnectTimeout", vkNumber},
    {"UploadManager", "ReadTimeout", vkNumber},
    {"UploadManager", "RetryCount", vkNumber},
    {"UploadManager", "CalculateMD5", vkNumber},
    {"Scheduler", "Enabled", vkNumber},
    {"Scheduler", "StartTime", vkTime},
    {"Scheduler", "EndTime", vkTime},
    {"Scheduler", "AbortNonFinished", vkNumber},
    {"Service", "SiteHost", vkText},
};

const TSettingKey* FindKey(const std::string& section, const std::string& key) {
    for (const TSettingKey& k : kSettable)
        if (SameTextAscii(section, k.Section) && SameTextAscii(key, k.Key))
            return &k;
    return nullptr;
}

std::string YesNo(bool b) {
    return b ? "1" : "0";
}

} // namespace

int CmdSet(const TArgs& Words) {
    // "--" may end the options here too, although set takes none.
    TArgs Args = Words;
    std::erase(Args, std::string("--"));
    if (Args.empty()) {
        PrintError("set: give Section.Key=Value pairs, e.g. set UploadManager.ParallelThreads=3");
        return ecUsage;
    }
    TIniText ini;
    ini.Parse(ReadRegularFile(SettingsFileName()));
    for (const std::string& a : Args) {
        const std::size_t eq = a.find('=');
        const std::size_t dot = a.find('.');
        if (eq == std::string::npos || dot == std::string::npos || dot > eq) {
            PrintError("set: expected Section.Key=Value, got \"" + a + "\"");
            return ecUsage;
        }
        const TSettingKey* k = FindKey(a.substr(0, dot), a.substr(dot + 1, eq - dot - 1));
        if (!k) {
            PrintError("set: unknown or read-only setting \"" + a.substr(0, eq) +
                       "\" (see 'quillo-cli settings')");
            return ecUsage;
        }
        std::string value = a.substr(eq + 1);
        double time = 0;
        int32_t number = 0;
        if (k->Kind == vkTime && !TryParseTimeOfDay(Trim(value), time)) {
            PrintError("set: " + a.substr(0, eq) + " needs a time of day such as 23:00 or 1:30:00");
            return ecUsage;
        }
        if (k->Kind == vkNumber && !TryStrToInt(Trim(value), number)) {
            PrintError("set: " + a.substr(0, eq) + " needs a whole number (0 or 1 for a switch)");
            return ecUsage;
        }
        ini.WriteString(k->Section, k->Key, k->Kind == vkSecret ? ScramblePassword(value) : value);
    }
    try {
        EnsureDataFolder();
        WriteFileAtomically(SettingsFileName(), ini.Serialize(), 0600);
        LoadSettings();
        SaveSettings();
    } catch (const std::exception& e) {
        PrintError(std::string("cannot write the settings file: ") + e.what());
        return ecUsage;
    }
    std::cout << "Settings saved to " << Printable(SettingsFileName()) << std::endl;
    return ecOk;
}

int CmdSettings(const TArgs& Args) {
    if (!NoArguments("settings", Args))
        return ecUsage;
    const TAppSettings s = SettingsSnapshot();
    const auto line = [](const char* name, const std::string& value) {
        std::printf("%-34s %s\n", name, Printable(value).c_str());
    };
    line("Data folder", DataFolder());
    line("Service.SiteHost (in effect)", SiteHost());
    line("General.AutostartUploading", YesNo(s.General.AutostartUploading));
    line("General.NotifyUploadFinished", YesNo(s.General.NotifyUploadFinished));
    line("General.ShutDownWhenFinished", YesNo(s.General.ShutDownWhenFinished));
    line("General.LastUploadHost", s.General.LastUploadHost);
    line("InternetConnection.UseProxy", YesNo(s.InternetConnection.UseProxy));
    line("InternetConnection.ProxyType", std::to_string(s.InternetConnection.ProxyType));
    line("InternetConnection.Proxy", s.InternetConnection.Proxy);
    line("InternetConnection.BoundIP", s.InternetConnection.BoundIP);
    line("Brimvault.UseAccount", YesNo(s.Brimvault.UseAccount));
    line("Brimvault.UserName", s.Brimvault.UserName);
    line("Brimvault.Password", s.Brimvault.Password.empty() ? "" : "(set)");
    line("UploadManager.ParallelThreads", std::to_string(s.UploadManager.ParallelThreads));
    line("UploadManager.SpeedLimit", std::to_string(s.UploadManager.SpeedLimit));
    line("UploadManager.SendBufferSize", std::to_string(s.UploadManager.SendBufferSize));
    line("UploadManager.ConnectTimeout", std::to_string(s.UploadManager.ConnectTimeout));
    line("UploadManager.ReadTimeout", std::to_string(s.UploadManager.ReadTimeout));
    line("UploadManager.RetryCount", std::to_string(s.UploadManager.RetryCount));
    line("UploadManager.CalculateMD5", YesNo(s.UploadManager.CalculateMD5));
    line("Scheduler.Enabled", YesNo(s.Scheduler.Enabled));
    line("Scheduler.StartTime", FormatTimeOfDay(s.Scheduler.StartTime));
    line("Scheduler.EndTime", FormatTimeOfDay(s.Scheduler.EndTime));
    line("Scheduler.AbortNonFinished", YesNo(s.Scheduler.AbortNonFinished));
    return ecOk;
}

} // namespace quillo::cli
