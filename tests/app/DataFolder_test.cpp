#include "core/app/DataFolder.h"

#include "support/TestEnvironment.h"

#include <QDir>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <cstdlib>

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
