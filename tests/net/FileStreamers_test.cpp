#include "core/net/FileStreamers.h"

#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <fstream>

namespace quillo {
namespace {

std::string MakeFile(const std::string& Bytes) {
    const std::string Path = test::MakeScratchDir(QStringLiteral("reader")).toStdString() + "/f.bin";
    std::ofstream(Path, std::ios::binary) << Bytes;
    return Path;
}

std::string Hundred() {
    std::string S;
    for (int I = 0; I < 100; ++I)
        S.push_back(static_cast<char>(I));
    return S;
}

TEST(FileReader, WindowIsClampedToTheFile) {
    TFileReader R(MakeFile(Hundred()), 40, 1000);
    EXPECT_EQ(R.Size(), 60);
    EXPECT_EQ(R.Seek(-5, soBeginning), 0);
    char Buf[100];
    ASSERT_EQ(R.Read(Buf, 100), 60);
    EXPECT_EQ(Buf[0], 40);
    EXPECT_EQ(Buf[59], 99);
    EXPECT_EQ(R.Read(Buf, 100), 0);
}

} // namespace
} // namespace quillo
