#include "core/app/IniText.h"

#include <gtest/gtest.h>

namespace quillo {
namespace {

// Every writer of the settings file (the settings store, quillo-cli's "set") goes through
// WriteString, so a value holding line breaks must not be able to add entries or sections.
TEST(IniTextTest, AWrittenValueStaysOnItsLine) {
    TIniText ini;
    ini.Parse("[General]\r\nLastUploadHost=old\r\n\r\n[Brimvault]\r\nUseAccount=0\r\n");
    ini.WriteString("General", "LastUploadHost", "x\r\n[Brimvault]\nUseAccount=1\rend");
    ini.WriteString("Extra", "New", "a\nb");
    const std::string text = ini.Serialize();
    EXPECT_EQ(text, "[General]\r\n"
                    "LastUploadHost=x  [Brimvault] UseAccount=1 end\r\n"
                    "\r\n"
                    "[Brimvault]\r\n"
                    "UseAccount=0\r\n"
                    "\r\n"
                    "[Extra]\r\n"
                    "New=a b\r\n"
                    "\r\n");
    TIniText back;
    back.Parse(text);
    EXPECT_EQ(back.ReadString("Brimvault", "UseAccount", ""), "0");
    EXPECT_EQ(back.Serialize(), text);
}

// Some editors save UTF-8 "with signature": the byte-order mark must not hide the first header.
TEST(IniTextTest, AByteOrderMarkIsNotPartOfTheFirstLine) {
    const std::string body = "[General]\r\nFirstRun=0\r\n\r\n[UploadManager]\r\nParallelThreads=5\r\n\r\n";
    for (const std::string& bom : {std::string("\xEF\xBB\xBF"), std::string()}) {
        TIniText ini;
        ini.Parse(bom + body);
        EXPECT_EQ(ini.ReadInteger("General", "FirstRun", 1), 0) << bom.size();
        EXPECT_EQ(ini.ReadInteger("UploadManager", "ParallelThreads", 2), 5);
        EXPECT_EQ(ini.Serialize(), body) << "written back without the mark and without losing a section";
    }
    // Only a mark at the very start is one; the same bytes elsewhere stay where they are.
    TIniText ini;
    ini.Parse("[A]\r\nKey=\xEF\xBB\xBFvalue\r\n");
    EXPECT_EQ(ini.ReadString("A", "Key", ""), "\xEF\xBB\xBFvalue");
    for (const char* text : {"\xEF", "\xEF\xBB", "\xEF\xBB\xBF"}) {
        ini.Parse(text);
        EXPECT_EQ(ini.Serialize(), "");
    }
}

} // namespace
} // namespace quillo
