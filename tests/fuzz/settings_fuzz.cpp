// Feeds arbitrary bytes to the settings-file reader, both as text (TIniText) and as quillo.ini in a
// throw-away data folder (LoadSettings / SaveSettings). Besides not crashing, leaking or hoarding
// memory: the text form must be a fixed point after one round (what is written reads back as the
// same text), a saved record must load again as the same record (times of day are stored to the
// second, so those compare as stored), a second save must write the same file, and keys the
// program does not write (the service host) must survive a save.
#include "FuzzSupport.h"
#include "core/app/IniText.h"
#include "core/app/MyUtils.h"
#include "core/app/Settings.h"

#include <QDir>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using quillo_fuzz::Check;

std::string gFolder;
std::string gSettingsFile;

void RemoveFolder() {
    if (!gFolder.empty())
        QDir(QString::fromStdString(gFolder)).removeRecursively();
}

std::string ReadFile(const std::string& Path) {
    std::string text;
    if (std::FILE* f = std::fopen(Path.c_str(), "rb")) {
        char buf[4096];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
            text.append(buf, n);
        std::fclose(f);
    }
    return text;
}

void WriteFile(const std::string& Path, const char* Data, size_t Size) {
    std::FILE* f = std::fopen(Path.c_str(), "wb");
    Check(f != nullptr);
    Check(std::fwrite(Data, 1, Size, f) == Size);
    std::fclose(f);
}

// The record as the file stores it: times of day to the second.
quillo::TAppSettings AsStored(quillo::TAppSettings S) {
    for (double* t : {&S.Scheduler.StartTime, &S.Scheduler.EndTime}) {
        double stored = 0;
        Check(quillo::TryParseTimeOfDay(quillo::FormatTimeOfDay(*t), stored));
        *t = stored;
    }
    return S;
}

std::string SaveAndRead() {
    try {
        quillo::SaveSettings();
    } catch (const quillo::ESettingsError&) {
        Check(false); // a private folder that exists is always writable
    }
    return ReadFile(gSettingsFile);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Never the real home: data folder, config folder (autostart entry) and HOME all point into
    // one private temporary folder, preferably in memory so that the saves' fsyncs cost little.
    const char* base = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    std::string pattern = std::string(base) + "/quillo-settings-fuzz-XXXXXX";
    Check(::mkdtemp(pattern.data()) != nullptr);
    gFolder = pattern;
    const std::string home = gFolder + "/home";
    const std::string config = gFolder + "/config";
    const std::string data = gFolder + "/data";
    for (const std::string& dir : {home, config, data})
        Check(::mkdir(dir.c_str(), 0700) == 0);
    ::setenv("HOME", home.c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    ::setenv("QUILLO_HOME", data.c_str(), 1);
    gSettingsFile = data + "/quillo.ini";
    std::atexit(RemoveFolder);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quillo;
    const std::string bytes(reinterpret_cast<const char*>(data), size);

    TIniText original;
    original.Parse(bytes);
    const std::string once = original.Serialize();
    TIniText reread;
    reread.Parse(once);
    Check(reread.Serialize() == once);

    WriteFile(gSettingsFile, bytes.data(), bytes.size());
    LoadSettings();
    const TAppSettings loaded = SettingsSnapshot();

    const std::string saved = SaveAndRead();
    struct stat st {};
    Check(::stat(gSettingsFile.c_str(), &st) == 0 && (st.st_mode & 0777) == 0600);
    TIniText savedIni;
    savedIni.Parse(saved);
    Check(savedIni.ReadString("Service", "SiteHost", "") == original.ReadString("Service", "SiteHost", ""));
    // Every text the program writes sits on one line: no value may open a section of its own.
    Check(savedIni.Serialize() == saved);

    LoadSettings();
    const TAppSettings again = SettingsSnapshot();
    Check(again == AsStored(loaded));

    Check(SaveAndRead() == saved);
    LoadSettings();
    Check(SettingsSnapshot() == again);

    ::unlink(gSettingsFile.c_str());
    return 0;
}
