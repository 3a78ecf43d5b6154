#include "core/app/DataFolder.h"
#include "core/app/MyUtils.h"

#include "support/TestEnvironment.h"

#include <QDir>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

namespace quillo {
namespace {

// Restores an environment variable when the scope ends.
class TEnvGuard {
public:
    explicit TEnvGuard(const char* Name) : FName(Name) {
        const char* v = std::getenv(Name);
        FHad = v != nullptr;
        if (v)
            FValue = v;
    }
    ~TEnvGuard() {
        if (FHad)
            ::setenv(FName, FValue.c_str(), 1);
        else
            ::unsetenv(FName);
    }
    TEnvGuard(const TEnvGuard&) = delete;
    TEnvGuard& operator=(const TEnvGuard&) = delete;

private:
    const char* FName;
    bool FHad = false;
    std::string FValue;
};

TEST(DataFolderTest, ChoiceOfFolder) {
    TEnvGuard home("QUILLO_HOME"), xdg("XDG_CONFIG_HOME"), userHome("HOME");
    const QString scratch = test::MakeScratchDir(QStringLiteral("df"));
    const std::string base = scratch.toStdString();

    ::setenv("QUILLO_HOME", (base + "/h/../h2").c_str(), 1);
    EXPECT_EQ(DataFolder(), base + "/h2");
    EXPECT_EQ(SettingsFileName(), base + "/h2/quillo.ini");
    EXPECT_EQ(JobsFileName(), base + "/h2/quillo.jobs");
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(base + "/h2"))) << "a lookup creates nothing";
    EXPECT_TRUE(EnsureDataFolder());
    EXPECT_TRUE(QFileInfo(QString::fromStdString(base + "/h2")).isDir());

    // The command line wins over the environment.
    SetDataFolderOverride(base + "/cmdline");
    EXPECT_EQ(DataFolder(), base + "/cmdline");
    SetDataFolderOverride("");
    EXPECT_EQ(DataFolder(), base + "/h2");

    // Without an override: the executable's folder when writable (the test binary's folder is),
    // else the XDG config folder.
    ::unsetenv("QUILLO_HOME");
    EXPECT_EQ(DataFolder(), ExecutableFolder());
    EXPECT_EQ(ExecutableFolder() + "/" +
                  QFileInfo(QString::fromStdString(ExecutablePath())).fileName().toStdString(),
              ExecutablePath());
}

TEST(DataFolderTest, DesktopProgramChoice) {
    struct Case {
        std::string running;
        std::vector<std::string> executables;
        std::string program;
    };
    const Case cases[] = {
        {"/opt/q/quillo", {"/opt/q/quillo-cli"}, "/opt/q/quillo"},
        {"/usr/bin/quillo-cli", {"/usr/bin/quillo"}, "/usr/bin/quillo"},
        {"/b/src/cli/quillo-cli", {"/b/src/app/quillo"}, "/b/src/app/quillo"},
        {"/b/src/cli/quillo-cli", {"/b/src/cli/quillo", "/b/src/app/quillo"}, "/b/src/cli/quillo"},
        {"/usr/bin/quillo-cli", {}, "quillo"},
        {"", {}, "quillo"},
        {"/usr/bin/quillo.bak", {}, "quillo"},
    };
    for (const Case& c : cases) {
        const auto isExecutable = [&c](const std::string& p) {
            const std::string clean = QDir::cleanPath(QString::fromStdString(p)).toStdString();
            return std::find(c.executables.begin(), c.executables.end(), clean) != c.executables.end();
        };
        EXPECT_EQ(ChooseDesktopProgram(c.running, isExecutable), c.program) << c.running;
    }
    // The test binary is no desktop program; the build tree's one lies elsewhere.
    EXPECT_EQ(ExtractFileName(DesktopProgramPath()), "quillo");
}

TEST(DataFolderTest, ChoiceTable) {
    struct Case {
        TDataFolderInputs in;
        std::string folder;
    };
    const Case cases[] = {
        {{"/cmd", "/env", "/exe", true, true, "/xdg", "/home/u"}, "/cmd"},
        {{"", "/env/", "/exe", true, true, "/xdg", "/home/u"}, "/env"},
        {{"", "", "/exe", true, false, "/xdg", "/home/u"}, "/exe"},
        {{"", "", "/usr/bin", false, true, "/xdg", "/home/u"}, "/usr/bin"},
        {{"", "", "/usr/bin", false, false, "/xdg", "/home/u"}, "/xdg/quillo"},
        {{"", "", "/usr/bin", false, false, "", "/home/u"}, "/home/u/.config/quillo"},
        {{"", "", "/usr/bin", false, false, "relative/cfg", "/home/u"}, "/home/u/.config/quillo"},
        // An installed program run by root: /usr/bin is writable but is no data folder, unless
        // someone put the settings there on purpose.
        {{"", "", "/usr/bin", true, false, "/xdg", "/home/u", true}, "/xdg/quillo"},
        {{"", "", "/usr/bin", true, true, "/xdg", "/home/u", true}, "/usr/bin"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ChooseDataFolder(c.in), c.folder) << c.folder;
}

TEST(DataFolderTest, SiteHost) {
    TEnvGuard site("QUILLO_SITE");
    ::unsetenv("QUILLO_SITE");
    SetConfiguredSiteHost("");
    EXPECT_EQ(SiteHost(), "brimvault.com");
    EXPECT_EQ(SiteRootUrl(), "http://brimvault.com/");
    SetConfiguredSiteHost(" 127.0.0.1:8080 ");
    EXPECT_EQ(SiteHost(), "127.0.0.1:8080");
    ::setenv("QUILLO_SITE", "http://localhost:9000/", 1);
    EXPECT_EQ(SiteHost(), "localhost:9000");
    EXPECT_EQ(SiteRootUrl(), "http://localhost:9000/");
    ::setenv("QUILLO_SITE", "", 1);
    EXPECT_EQ(SiteHost(), "127.0.0.1:8080");
    SetConfiguredSiteHost("");
}

} // namespace
} // namespace quillo
