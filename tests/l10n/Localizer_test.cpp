#include "core/l10n/Localizer.h"
#include "core/l10n/ResMessages.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <vector>

using namespace quillo;

namespace {

class LocalizerTest : public testing::Test {
protected:
    void SetUp() override {
        FDir = test::MakeScratchDir(QStringLiteral("lng")).toStdString();
        FLocalizer.LanguageDirectory = FDir;
        FLocalizer.ErrorMode = emMessageBox;
        FLocalizer.SetMessageHandler([this](const std::string& Text) { FReports.push_back(Text); });
        SetResStringList(nullptr);
        SetResStringTranslationActive(true);
    }
    void TearDown() override {
        SetResStringList(nullptr);
        SetResStringTranslationActive(true);
    }

    std::string Write(const std::string& Name, const std::string& Bytes, const std::string& Dir = {}) {
        const std::string path = (Dir.empty() ? FDir : Dir) + "/" + Name;
        QFile f(QString::fromStdString(path));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(Bytes.data(), static_cast<qint64>(Bytes.size()));
        return path;
    }
    // Loads Bytes as Test.lng.
    void Load(const std::string& Bytes) {
        Write("Test.lng", Bytes);
        FReports.clear();
        FLocalizer.LoadLanguageFile("Test");
    }
    std::vector<std::pair<std::string, std::string>> Lines(const std::string& Section) const {
        std::vector<std::pair<std::string, std::string>> result;
        if (const TResForm* form = FLocalizer.FindForm(Section))
            for (std::size_t i = 0; i < form->PropertyPaths.size(); ++i)
                result.emplace_back(form->PropertyPaths[i], form->PropertyValues[i]);
        return result;
    }
    using TLines = std::vector<std::pair<std::string, std::string>>;

    std::string FDir;
    TLocalizer FLocalizer;
    std::vector<std::string> FReports;
};

TEST_F(LocalizerTest, FileRulesTable) {
    const std::string privet1251 = "\xcf\xf0\xe8\xe2\xe5\xf2";
    const struct {
        const char* Name;
        std::string File;
        TLines Expected; // of section TForm1
    } cases[] = {
        {"code page from the first line",
         "Codepage=1251\n[TForm1]\nCaption='" + privet1251 + "'\n",
         {{"Caption", "Привет"}}},
        {"code page after the sections",
         "x\r\n[TForm1]\r\nCaption='" + privet1251 + "'\r\nCodepage=1251\r\n",
         {{"Caption", "Привет"}, {"Codepage", ""}}}, // also a property line, its value unquoted
        {"blank before = is no header key",
         "x\nCodepage =1251\n[TForm1]\nCaption='" + privet1251 + "'\n",
         {{"Caption", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"}}},
        {"a section on the first line is not seen", "[TForm1]\nCaption='a'\n", {}},
        {"comment marks a comment, blanks stay in the path",
         "x\n[TForm1]\n; Caption='no'\n\nCaption{Settings}='Einstellungen'\nButton1.Caption = "
         "'OK'\nList.Items.x\n",
         {{"Caption", "Einstellungen"}, {"Button1.Caption ", "OK"}, {"List.Items.x", ""}}},
        {"humanized with the default divider",
         "x\nHumanize=1\n[TForm1]\nLines=one\\two 'three'\n",
         {{"Lines", "one\rtwo 'three'"}}},
        {"humanized with a divider of its own",
         "x\nHumanize=1\nHumanizeDivider=<br>\n[TForm1]\nLines=a<br>b\\c\n",
         {{"Lines", "a\rb\\c"}}},
        {"Humanize=yes keeps the literal syntax",
         "x\nHumanize=yes\n[TForm1]\nLines='a' 'b'\n",
         {{"Lines", "a\rb"}}},
        {"lines before the first section are ignored",
         "x\nCaption='no'\n[TForm1]\nCaption='yes'\n",
         {{"Caption", "yes"}}},
        {"resource strings end at the next section",
         "x\n[RESOURCESTRINGS]\n65036_Idle='Bereit.'\n[TForm1]\nCaption='c'\n",
         {{"Caption", "c"}}},
        {"other ( lines are skipped", "x\n[TForm1]\n(note) whatever\nCaption='c'\n", {{"Caption", "c"}}},
        {"the same property twice stays twice",
         "x\n[TForm1]\nCaption='a'\nCaption='b'\n",
         {{"Caption", "a"}, {"Caption", "b"}}},
        {"two sections of the same name: the first counts",
         "x\n[TForm1]\nCaption='a'\n[TForm1]\nCaption='b'\n",
         {{"Caption", "a"}}},
        {"a bad line ends the load", "x\n[TForm1]\nCaption='a'\n{c}='b'\nHint='h'\n", {{"Caption", "a"}}},
        {"an unclosed literal ends the load",
         "x\n[TForm1]\nCaption='a'\nHint='open\nText='t'\n",
         {{"Caption", "a"}}},
        {"(x) in a header ends the load, what was read stays",
         "x\n[TForm1]\nCaption='a'\n[(x)TGone]\n[TForm2]\nCaption='b'\n",
         {{"Caption", "a"}}},
    };
    for (const auto& c : cases) {
        Load(c.File);
        EXPECT_EQ(Lines("TForm1"), c.Expected) << c.Name;
    }
}

TEST_F(LocalizerTest, SectionNamesAreTakenAsWritten) {
    Load("x\n[TMainWindow ]\nCaption='a'\n[TSettingsBox]\nCaption='b'\n[\n");
    ASSERT_EQ(FLocalizer.Forms.size(), 3u);
    EXPECT_EQ(FLocalizer.Forms[0].FormClass, "TMainWindow ");
    EXPECT_EQ(FLocalizer.FindForm("TMainWindow"), nullptr);
    EXPECT_EQ(FLocalizer.Forms[2].FormClass, "");
    EXPECT_TRUE(FReports.empty());
}

TEST_F(LocalizerTest, EveryReportOfTheFailureTable) {
    const struct {
        std::string File;
        std::string Report; // Test.lng's path stands for $
    } cases[] = {
        {"x\nCodepage=12a\n[TForm1]\nCaption='a'\n", "Bad codepage in language file \"$\""},
        {"x\n[TForm1]\n[(x)TOld]\n",
         "Deleted component in language file:\r\n\"[(x)TOld]\"\r\nYou have to remove it!"},
        {"x\n[TForm1]\n(x)Button1.Caption='a'\n",
         "Obsolete line in language file:\r\n\"(x)Button1.Caption='a'\"\r\nYou have to remove it!"},
        {"x\n[TForm1]\n(!)Button1.Caption='a'\n",
         "Untranslated line in language file:\r\n\"(!)Button1.Caption='a'\"\r\nYou have to translate it!"},
        {"x\n[TForm1]\n=''\n", "Bad line in language file: \"=''\""},
        {"x\n[TForm1]\nCaption='open\n",
         "Error while loading language file \"$\"\r\nBad decoded string: \"'open\""},
        {"x\n[RESOURCESTRINGS]\n(x)65036_Idle='a'\n",
         "Obsolete line in language file:\r\n\"(x)65036_Idle='a'\"\r\nYou have to delete it!"},
        {"x\n[RESOURCESTRINGS]\n(!)65036_Idle='a'\n",
         "Untranslated line in language file:\r\n\"(!)65036_Idle='a'\"\r\nYou have to translate it!"},
        {"x\n[RESOURCESTRINGS]\n650x6_Idle='a'\n", "Bad resource ID in language file: \"650x6\""},
        {"x\nCodepage=77777\n",
         "Error while loading language file \"$\"\r\nThe code page 77777 is not supported."},
    };
    for (const auto& c : cases) {
        Load(c.File);
        std::string expected = c.Report;
        if (const auto at = expected.find('$'); at != std::string::npos)
            expected.replace(at, 1, FDir + "/Test.lng");
        ASSERT_EQ(FReports.size(), 1u) << c.File;
        EXPECT_EQ(FReports[0], expected);
    }
    FReports.clear();
    FLocalizer.LoadLanguageFile("Missing");
    ASSERT_EQ(FReports.size(), 1u);
    EXPECT_EQ(FReports[0].rfind("Error while loading language file \"" + FDir + "/Missing.lng\"\r\n", 0), 0u)
        << FReports[0];
}

TEST_F(LocalizerTest, ErrorModes) {
    Write("Bad.lng", "x\n[TForm1]\nCaption='a'\n(x)Hint='h'\nText='t'\n");
    FLocalizer.ErrorMode = emSilent;
    FLocalizer.LoadLanguageFile("Bad");
    EXPECT_TRUE(FReports.empty());
    EXPECT_EQ(Lines("TForm1"), (TLines{{"Caption", "a"}, {"Text", "t"}}));

    FLocalizer.ErrorMode = emRaise;
    try {
        FLocalizer.LoadLanguageFile("Bad.LNG");
        FAIL();
    } catch (const ELocalizerError& e) {
        // The obsolete line ends the load and is reported once more as a loading error.
        EXPECT_EQ(std::string(e.what()),
                  "Error while loading language file \"" + FDir +
                      "/Bad.lng\"\r\nObsolete line in language file:\r\n\"(x)Hint='h'\"\r\n"
                      "You have to remove it!");
    }
    EXPECT_EQ(Lines("TForm1"), (TLines{{"Caption", "a"}}));
    EXPECT_TRUE(FReports.empty());
}

TEST_F(LocalizerTest, NamesResolveInTheUserFolderFirstThenWithoutCase) {
    const std::string user = test::MakeScratchDir(QStringLiteral("user")).toStdString();
    FLocalizer.UserLanguageDirectory = user;
    Write("German.lng", "x\n[TForm1]\nCaption='shipped'\n");
    Write("Portugues.Brasil.lng", "x\n[TForm1]\nCaption='pt'\n");
    EXPECT_EQ(FLocalizer.LanguageFilePath("german"), FDir + "/German.lng");
    EXPECT_EQ(FLocalizer.LanguageFilePath("Portugues.Brasil"), FDir + "/Portugues.Brasil.lng");
    Write("German.lng", "x\n[TForm1]\nCaption='mine'\n", user);
    FLocalizer.LoadLanguageFile("German.lng");
    EXPECT_EQ(Lines("TForm1"), (TLines{{"Caption", "mine"}}));
    FLocalizer.LoadLanguageFile("GERMAN");
    EXPECT_EQ(Lines("TForm1"), (TLines{{"Caption", "mine"}}));
    // Two names that differ only in case: none is guessed.
    Write("GERMAN.lng", "x\n", user);
    EXPECT_EQ(FLocalizer.LanguageFilePath("gErman"), FDir + "/German.lng");
    Write("German.lng", "x\n");
    QFile::remove(QString::fromStdString(FDir + "/German.lng"));
    EXPECT_EQ(FLocalizer.LanguageFilePath("gErman"), FDir + "/gErman.lng");
    EXPECT_TRUE(FReports.empty());
}

TEST_F(LocalizerTest, AFolderOrAPipeIsRefusedWithoutHanging) {
    QDir().mkpath(QString::fromStdString(FDir + "/Dir.lng"));
    FLocalizer.LoadLanguageFile("Dir");
    ASSERT_EQ(FReports.size(), 1u);
    EXPECT_NE(FReports[0].find("not a regular file"), std::string::npos);
    ASSERT_EQ(::mkfifo((FDir + "/Pipe.lng").c_str(), 0600), 0);
    FLocalizer.LoadLanguageFile("Pipe");
    ASSERT_EQ(FReports.size(), 2u);
    EXPECT_NE(FReports[1].find("not a regular file"), std::string::npos);
}

class ResourceStringsTest : public LocalizerTest {};

TEST_F(ResourceStringsTest, AscendingFoundDescendingMostlyMissed) {
    Load("x\n[RESOURCESTRINGS]\n65024_a='A'\n65036_Idle='Bereit.'\n65038_b='Lade "
         "hoch...'\n65085_q='Warteschlange'\n"
         "65086_f='Fertig'\n");
    EXPECT_EQ(ResString(rmIdle), "Bereit.");
    EXPECT_EQ(ResString(rmAddFilesCaption), "A");
    EXPECT_EQ(ResString(rmUploading), "Lade hoch...");
    EXPECT_EQ(ResString(rmNodeUploadQueue), "Warteschlange");
    EXPECT_EQ(ResString(rmNodeFinished), "Fertig");
    EXPECT_EQ(ResString(rmStarting), "Starting..."); // not in the file: the built-in text

    Load("x\n[RESOURCESTRINGS]\n65086_f='5'\n65085_q='4'\n65038_b='3'\n65036_Idle='2'\n65024_a='1'\n");
    int found = 0;
    for (const int id : {rmNodeFinished, rmNodeUploadQueue, rmUploading, rmIdle, rmAddFilesCaption})
        found += ResString(id) != BuiltinResString(id);
    EXPECT_LE(found, 2);
}

TEST_F(ResourceStringsTest, AFileWithoutTheSectionKeepsTheEarlierTranslations) {
    Load("x\n[RESOURCESTRINGS]\n65036_Idle='Bereit.'\n");
    Load("x\n[TForm1]\nCaption='c'\n");
    EXPECT_EQ(ResString(rmIdle), "Bereit.");
    Load("x\n[RESOURCESTRINGS]\n; nothing\n");
    EXPECT_EQ(ResString(rmIdle), "Idle.");
}

TEST_F(ResourceStringsTest, ValuesNumbersAndABrokenValue) {
    Load("x\nHumanize=1\nHumanizeDivider=|\n[RESOURCESTRINGS]\n65047=no "
         "name\n65048_=v=w\n65049_x\n65056_I=a|b\n");
    ASSERT_EQ(FReports.size(), 1u); // without "_" the whole line is the number
    EXPECT_EQ(FReports[0], "Bad resource ID in language file: \"65047=no name\"");
    EXPECT_EQ(ResString(rmConfirmStopAll), "v=w");
    EXPECT_EQ(ResString(rmConfirmClose), "");
    EXPECT_EQ(ResString(rmInformation), "a\r\nb");

    Load("x\n[RESOURCESTRINGS]\nbad_x='?'\n65036_Idle='Bereit.'\n65038_U='open\n65040_S='Start'\n");
    EXPECT_EQ(FReports.size(), 2u);
    EXPECT_TRUE(ResStringTranslationActive());
    EXPECT_EQ(ResString(rmIdle), "Bereit.");
    EXPECT_EQ(ResString(rmStarting), "Starting...");
}

} // namespace

namespace {

TEST_F(ResourceStringsTest, WorkerThreadsLookUpMessagesWhileFilesAreLoaded) {
    Write("A.lng", "x\n[RESOURCESTRINGS]\n65036_Idle='A'\n65038_U='U'\n");
    Write("B.lng", "x\n[RESOURCESTRINGS]\n65036_Idle='B'\n");
    std::atomic<bool> stop{false};
    std::atomic<int> bad{0};
    std::vector<std::thread> readers;
    for (int i = 0; i < 2; ++i)
        readers.emplace_back([&] {
            while (!stop) {
                const std::string s = ResString(rmIdle);
                if (s != "Idle." && s != "A" && s != "B")
                    ++bad;
            }
        });
    for (int i = 0; i < 300; ++i)
        FLocalizer.LoadLanguageFile(i % 2 ? "A" : "B");
    stop = true;
    for (auto& r : readers)
        r.join();
    EXPECT_EQ(bad, 0);
    EXPECT_EQ(ResString(rmIdle), "A"); // the last file loaded
}

} // namespace
