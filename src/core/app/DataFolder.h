#pragma once
// Where the program keeps its files, and which web site it talks to.
//
// Data folder (settings file "quillo.ini", jobs file "quillo.jobs", user languages):
//   1. the folder given by SetDataFolderOverride (the program entry's "--home DIR"), else
//   2. the QUILLO_HOME environment variable when it is set and not empty, else
//   3. the executable's folder when it is writable or already holds "quillo.ini" (portable use),
//   4. else $XDG_CONFIG_HOME/quillo ($HOME/.config/quillo when XDG_CONFIG_HOME is unset or not
//      absolute). The folder is created by the first save (EnsureDataFolder), not by a lookup.
// The choice is made afresh at every call, so a test that changes QUILLO_HOME sees the change.
//
// Service site host: compiled-in "brimvault.com", replaced by "[Service] SiteHost" of quillo.ini
// (picked up by LoadSettings; never written by the program, but kept in the file), replaced by
// the QUILLO_SITE environment variable. The host may carry ":port" (tests and the demo use the
// local stand-in on a loopback port).
// All functions are safe to call from any thread.

#include <functional>
#include <string>

namespace quillo {

inline constexpr const char* kSettingsFileName = "quillo.ini";
inline constexpr const char* kJobsFileName = "quillo.jobs";
inline constexpr const char* kDefaultSiteHost = "brimvault.com";

// "--home DIR" from the command line; an empty text removes the override.
void SetDataFolderOverride(const std::string& Dir);

// Absolute path of the data folder, without a trailing "/". May not exist yet.
std::string DataFolder();
// The choice itself, from its inputs (exposed for tests): the override, QUILLO_HOME, the
// executable's folder and whether it is writable or holds quillo.ini, XDG_CONFIG_HOME and HOME.
struct TDataFolderInputs {
    std::string Override;
    std::string QuilloHome;
    std::string ExecutableFolder;
    bool ExecutableFolderWritable = false;
    bool ExecutableFolderHasSettings = false;
    std::string XdgConfigHome;
    std::string Home;
    // The program is an installed one (share/quillo beside its bin folder): a writable bin
    // folder (root's /usr/bin) is then no reason to keep the data there.
    bool ExecutableFolderInstalled = false;
};
std::string ChooseDataFolder(const TDataFolderInputs& In);

// $XDG_CONFIG_HOME when it is absolute, else $HOME/.config (the user's home folder as Qt finds it
// when HOME is unset): home of the data folder's last choice and of the autostart entries.
std::string ConfigHomeFolder();

// Creates the data folder when missing; false when that fails.
bool EnsureDataFolder();

// Full paths of the files inside the data folder.
std::string SettingsFileName(); // DataFolder() + "/quillo.ini"
std::string JobsFileName();     // DataFolder() + "/quillo.jobs"

// Absolute path of the running executable (from /proc/self/exe) and its folder.
std::string ExecutablePath();
std::string ExecutableFolder();

// The desktop program, which the autostart entry starts whichever program saves the settings:
// the running executable when it is "quillo", else a "quillo" beside it (an installation) or in
// the build tree's src/app beside src/cli, else the bare name "quillo" for the session's PATH.
inline constexpr const char* kDesktopProgramName = "quillo";
std::string DesktopProgramPath();
// The choice from its inputs (exposed for tests); IsExecutable tells whether a path is an
// executable regular file.
std::string ChooseDesktopProgram(const std::string& ExecutablePath,
                                 const std::function<bool(const std::string&)>& IsExecutable);

// The service's web site host, possibly with ":port" ("brimvault.com", "127.0.0.1:8080").
std::string SiteHost();
// "http://" + SiteHost() + "/".
std::string SiteRootUrl();
// The value of "[Service] SiteHost" from the settings file; empty means the compiled-in host.
// Set by LoadSettings; tests may set it directly.
void SetConfiguredSiteHost(const std::string& Host);
std::string ConfiguredSiteHost();

} // namespace quillo
