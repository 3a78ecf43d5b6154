#include "core/app/EXEUtils.h"

#include "support/ElfImage.h"
#include "support/TestEnvironment.h"

#include <QFile>

#include <gtest/gtest.h>

#include <functional>

namespace quillo {
namespace {

using quillo_test::MakeElfImage;
using quillo_test::TElfSection;
using TTexts = std::vector<std::pair<std::string, std::string>>;

const TTexts kTexts = {{"ProductName", "Quillo Uploader"},
                       {"LegalCopyright", "Copyright (C) 2026 The Quillo developers"},
                       {"Comments", "uploads"}};

std::string ElfWithRecord(const std::string& Record, bool Is64 = true, bool BigEndian = false) {
    return MakeElfImage({{".text", std::string(40, '\x90')}, {VersionRecordSection, Record}}, Is64,
                        BigEndian);
}

TEXEVersionInfo Read(const std::string& Image) {
    return TEXEVersionInfo::FromImage(Image.data(), Image.size());
}

std::string WriteScratchFile(const std::string& Bytes) {
    const QString path = test::MakeScratchDir(QStringLiteral("exe")) + QStringLiteral("/program");
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(Bytes.data(), static_cast<qint64>(Bytes.size()));
    return path.toStdString();
}

void ExpectNoRecord(const TEXEVersionInfo& Info) {
    EXPECT_EQ(Info.FileVersionPacked, 0u);
    EXPECT_EQ(Info.ProductVersionPacked, 0u);
    EXPECT_TRUE(Info.Values.empty());
    EXPECT_EQ(FormatPackedVersion(Info.FileVersionPacked), "0.0.0.0");
}

struct TVersionCase {
    TVersionNumbers File;
    uint32_t Packed;
    const char* Text;
};

TEST(EXEUtilsTest, FileVersionPacksTheLowByteOfEachNumber) {
    const TVersionCase cases[] = {
        {{1, 2, 3, 45}, 0x0102032Du, "1.2.3.45"},
        {{2, 300, 1, 7}, 0x022C0107u, "2.44.1.7"}, // 300 keeps its low byte, 44
        {{0, 0, 0, 0}, 0u, "0.0.0.0"},
        {{255, 256, 65535, 511}, 0xFF00FFFFu, "255.0.255.255"},
    };
    for (const TVersionCase& c : cases) {
        for (const bool is64 : {true, false}) {
            for (const bool big : {false, true}) {
                SCOPED_TRACE(std::string(c.Text) + (is64 ? " 64" : " 32") + (big ? " BE" : " LE"));
                const TEXEVersionInfo info =
                    Read(ElfWithRecord(BuildVersionRecord(c.File, {9, 8, 7, 6}, kTexts), is64, big));
                EXPECT_EQ(info.FileVersionPacked, c.Packed);
                EXPECT_EQ(FormatPackedVersion(info.FileVersionPacked), c.Text);
                EXPECT_EQ(info.ProductVersionPacked, 0x09080706u);
            }
        }
    }
}

TEST(EXEUtilsTest, TextsComeInKeyOrderAndEmptyOnesAreLeftOut) {
    const TTexts texts = {{"Comments", "c"}, {"productname", "P"},          {"Author", ""},
                          {"Unknown", "u"},  {"LegalCopyright", "(C) x=y"}, {"ProductName", "second"}};
    const TEXEVersionInfo info = Read(ElfWithRecord(BuildVersionRecord({1, 0, 0, 0}, {}, texts)));
    const std::vector<std::string> expected = {"LegalCopyright=(C) x=y", "ProductName=P", "Comments=c"};
    EXPECT_EQ(info.Values, expected);
    EXPECT_EQ(info.Value("PRODUCTNAME"), "P");
    EXPECT_EQ(info.Value("legalcopyright"), "(C) x=y");
    EXPECT_EQ(info.Value("Author"), ""); // empty in the record: as if missing
    EXPECT_EQ(info.Value("CompanyName"), "");
    EXPECT_EQ(info.Value("Unknown"), "");
}

TEST(EXEUtilsTest, ARecordWithoutTheUsEnglishTableHasNumbersButNoTexts) {
    for (const std::string table : {"040704B0", ""}) {
        const TEXEVersionInfo info = Read(ElfWithRecord(BuildVersionRecord({1, 2, 3, 4}, {}, kTexts, table)));
        EXPECT_EQ(FormatPackedVersion(info.FileVersionPacked), "1.2.3.4");
        EXPECT_TRUE(info.Values.empty());
    }
}

TEST(EXEUtilsTest, FilesWithoutARecordGiveZeroAndNoTexts) {
    const std::string otherSection =
        MakeElfImage({{".quillo.versio", BuildVersionRecord({1, 2, 3, 4}, {}, kTexts)}});
    const std::string folder = test::MakeScratchDir(QStringLiteral("none")).toStdString();
    const std::vector<std::pair<const char*, std::string>> files = {
        {"missing", folder + "/missing"},
        {"folder", folder},
        {"device", "/dev/zero"},
        {"empty", WriteScratchFile("")},
        {"text", WriteScratchFile("#!/bin/sh\necho hello\n")},
        {"ELF without the section", WriteScratchFile(otherSection)},
        {"the record alone, not in an ELF file",
         WriteScratchFile(BuildVersionRecord({1, 2, 3, 4}, {}, kTexts))},
    };
    for (const auto& [what, path] : files) {
        SCOPED_TRACE(what);
        ExpectNoRecord(TEXEVersionInfo(path));
    }
}

// Each mutation damages one thing; none may crash, and none may give a half-read record.
TEST(EXEUtilsTest, DamagedFilesGiveZeroAndNoTexts) {
    const std::string record = BuildVersionRecord({1, 2, 3, 45}, {1, 2, 3, 45}, kTexts);
    const std::string good = ElfWithRecord(record);
    ASSERT_EQ(Read(good).Values.size(), 3u);
    auto SetU64 = [](std::string& s, size_t at, uint64_t v) {
        for (int i = 0; i < 8; ++i)
            s[at + i] = static_cast<char>(v >> (8 * i));
    };
    auto SetU16 = [](std::string& s, size_t at, uint16_t v) {
        s[at] = static_cast<char>(v & 0xFF);
        s[at + 1] = static_cast<char>(v >> 8);
    };
    // A shortened record that claims exactly its own length.
    auto Cut = [&](size_t n) {
        std::string r = record.substr(0, n);
        for (int i = 0; i < 4; ++i)
            r[12 + i] = static_cast<char>(r.size() >> (8 * i));
        return ElfWithRecord(r);
    };
    const uint64_t table = [&] {
        uint64_t v = 0;
        for (int i = 0; i < 8; ++i)
            v |= uint64_t(static_cast<unsigned char>(good[0x28 + i])) << (8 * i);
        return v;
    }();
    const size_t recordHeader = table + 2 * 64; // null section, .text, then the record
    const std::vector<std::pair<const char*, std::function<std::string()>>> damages = {
        {"signature",
         [&] {
             std::string r = record;
             r[0] = 'X';
             return ElfWithRecord(r);
         }},
        {"layout",
         [&] {
             std::string r = record;
             r[8] = 2;
             return ElfWithRecord(r);
         }},
        {"length beyond the section",
         [&] {
             std::string r = record;
             r[12] = char(r[12] + 1);
             return ElfWithRecord(r);
         }},
        {"length below the header",
         [&] {
             std::string r = record;
             r[12] = 8;
             r[13] = 0;
             return ElfWithRecord(r);
         }},
        {"table without its end", [&] { return Cut(record.size() - 1); }},
        {"value without its NUL", [&] { return Cut(record.size() - 2); }},
        {"key without its NUL", [&] { return Cut(record.size() - 10); }},
        {"key without a value", [&] { return Cut(record.size() - 9); }},
        {"table name without its NUL", [&] { return Cut(36); }},
        {"header only, length says more", [&] { return ElfWithRecord(record.substr(0, 32)); }},
        {"section beyond the file",
         [&] {
             std::string s = good;
             SetU64(s, recordHeader + 0x18, s.size() - 10);
             return s;
         }},
        {"section size huge",
         [&] {
             std::string s = good;
             SetU64(s, recordHeader + 0x20, ~0ull);
             return s;
         }},
        {"section without contents",
         [&] {
             std::string s = good;
             s[recordHeader + 4] = 8;
             return s;
         }},
        {"section headers beyond the file",
         [&] {
             std::string s = good;
             SetU64(s, 0x28, ~0ull - 3);
             return s;
         }},
        {"entry size too small",
         [&] {
             std::string s = good;
             SetU16(s, 0x3A, 16);
             return s;
         }},
        {"name table index out of range",
         [&] {
             std::string s = good;
             SetU16(s, 0x3E, 200);
             return s;
         }},
        {"class",
         [&] {
             std::string s = good;
             s[4] = 3;
             return s;
         }},
        {"byte order",
         [&] {
             std::string s = good;
             s[5] = 0;
             return s;
         }},
        {"truncated section headers", [&] { return good.substr(0, good.size() - 70); }},
    };
    for (const auto& [what, make] : damages) {
        SCOPED_TRACE(what);
        ExpectNoRecord(Read(make()));
    }
    // Every prefix of the file: either nothing or, once whole, the full record.
    for (size_t n = 0; n < good.size(); ++n) {
        const TEXEVersionInfo info = Read(good.substr(0, n));
        EXPECT_TRUE(info.Values.empty() || info.Values.size() == 3u) << n;
        EXPECT_TRUE(info.FileVersionPacked == 0 || info.FileVersionPacked == 0x0102032Du) << n;
    }
    ExpectNoRecord(TEXEVersionInfo::FromImage(nullptr, 100));
}

// The build embeds the record of this very test program from the project's version and texts.
TEST(EXEUtilsTest, TheRunningProgramReadsItsOwnRecord) {
    const TEXEVersionInfo& info = ProgramVersionInfo();
    EXPECT_EQ(&info, &ProgramVersionInfo());
    EXPECT_NE(info.FileVersionPacked, 0u);
    EXPECT_EQ(info.FileVersionPacked, info.ProductVersionPacked);
    EXPECT_EQ(FormatPackedVersion(info.FileVersionPacked), info.Value("FileVersion"));
    EXPECT_EQ(info.Value("ProductName"), "Quillo Uploader");
    EXPECT_EQ(info.Value("InternalName"), "test_app");
    EXPECT_EQ(info.Value("FileDescription"), "Quillo shell tests");
    EXPECT_FALSE(info.Value("LegalCopyright").empty());
    EXPECT_FALSE(info.Value("Comments").empty());
    EXPECT_EQ(info.Values.front().rfind("CompanyName=", 0), 0u);
}

TEST(EXEUtilsTest, VersionTextNamesProgramVersionProductAndCopyright) {
    const std::string own = VersionText("quillo");
    EXPECT_EQ(own.rfind("quillo " + ProgramVersionInfo().Value("FileVersion") + " (Quillo Uploader)\n", 0),
              0u)
        << own;
    EXPECT_NE(own.find(ProgramVersionInfo().Value("LegalCopyright") + "\n"), std::string::npos) << own;
    // A program file without texts still says which version it is, and nothing else.
    TEXEVersionInfo bare;
    bare.FileVersionPacked = 0x0102032D;
    EXPECT_EQ(VersionText("quillo-cli", bare), "quillo-cli 1.2.3.45\n");
}

} // namespace
} // namespace quillo
