#include "core/l10n/StringUtils.h"

#include <gtest/gtest.h>

using namespace quillo;

namespace {

struct TDecodeCase {
    const char16_t* Value;
    const char16_t* Expected;
};

TEST(DecodeValue, LiteralsCodesAndTheLineRule) {
    const TDecodeCase cases[] = {
        {u"'It''s'", u"It's"},
        {u"''", u""},
        {u"''''", u"'"},
        {u"#65#66", u"AB"},
        {u"'a'#13#10'b'", u"a\r\nb"},
        {u"#39", u"'"},
        {u"'One' 'Two'", u"One\rTwo"},
        {u"'a' + 'b'", u"a\r\rb"},
        {u"'OK' ", u"OK\r"},
        {u" 'x'", u"x"},
        {u"Einstellungen", u""},
        {u"", u""},
        {u"'abc'#", u"abc"},
        {u"#", u""},
        {u"#65601", u"A"},      // 65601 = 65536 + 65: only the low 16 bits count
        {u"#0000000066", u"B"}, // leading zeros are still one 32-bit number
        {u"'a' 'b'  'c'", u"a\rb\rc"},
        {u"'8 KB' '' 'x'", u"8 KB\r\rx"},
        {u"'Übernehmen'", u"Übernehmen"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(DecodeValue(QString::fromUtf16(c.Value)), QString::fromUtf16(c.Expected))
            << QString::fromUtf16(c.Value).toStdString();
}

TEST(DecodeValue, OpenLiteralsAndBadCodesAreErrorsQuotingTheRestOfTheValue) {
    const struct {
        const char16_t* Value;
        const char* Message;
    } cases[] = {
        {u"'open", "Bad decoded string: \"'open\""},
        {u"#A", "Bad decoded string: \"#A\""},
        {u"'a' 'b", "Bad decoded string: \"'b\""},
        {u"#65 'x'", "Bad decoded string: \"#65 'x'\""},               // a blank may not follow a code
        {u"##65", "Bad decoded string: \"##65\""},                     // a code without digits
        {u"#4294967361'x'", "Bad decoded string: \"#4294967361'x'\""}, // beyond 32 bits
    };
    for (const auto& c : cases) {
        try {
            DecodeValue(QString::fromUtf16(c.Value));
            ADD_FAILURE() << c.Message;
        } catch (const EDecodeError& e) {
            EXPECT_STREQ(e.what(), c.Message);
        }
    }
}

TEST(DecodeLiteral, StrayCharacterCarriesPositionAndTheTextSoFar) {
    try {
        DecodeLiteral(u"'ab'#67 x");
        FAIL();
    } catch (const EDecodeError&) {
        // a blank straight after a code is a bad code, not a stray character
    }
    try {
        DecodeLiteral(u"'ab'#67'd'x");
        FAIL();
    } catch (const EStringLiteralError& e) {
        EXPECT_EQ(e.Decoded, QStringLiteral("abCd"));
        EXPECT_EQ(e.ErrorPosition, 11);
    }
}

TEST(HumanizeValue, ReplacesEveryDividerExactly) {
    EXPECT_EQ(HumanizeValue(QStringLiteral("a\\b\\\\c"), QStringLiteral("\\"), QStringLiteral("\r")),
              QStringLiteral("a\rb\r\rc"));
    EXPECT_EQ(HumanizeValue(QStringLiteral("OneBRtwoBrthree"), QStringLiteral("BR"), QStringLiteral("\r\n")),
              QStringLiteral("One\r\ntwoBrthree"));
    EXPECT_EQ(HumanizeValue(QStringLiteral("a|b"), QString(), QStringLiteral("\r")), QStringLiteral("a|b"));
    EXPECT_EQ(HumanizeValue(QStringLiteral("'quotes' stay"), QStringLiteral("|"), QStringLiteral("\r")),
              QStringLiteral("'quotes' stay"));
}

TEST(EncodeLiteral, DecodesBackToTheSameText) {
    for (const char16_t* text : {u"", u"It's", u"'", u"''", u"a\r\nb", u"\r'", u"50%", u"Größe", u"\t#x"}) {
        const QString s = QString::fromUtf16(text);
        EXPECT_EQ(DecodeValue(EncodeLiteral(s)), s) << EncodeLiteral(s).toStdString();
    }
    EXPECT_EQ(EncodeLiteral(QStringLiteral("a\r\nb")), QStringLiteral("'a'#13#10'b'"));
}

} // namespace
