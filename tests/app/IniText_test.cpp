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

} // namespace
} // namespace quillo
