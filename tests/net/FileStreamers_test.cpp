#include "core/net/FileStreamers.h"

#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <fstream>
#include <sys/time.h>
#include <unistd.h>

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

std::string ReadRest(TFileReader& R) {
    std::string Out;
    char Buf[7]; // small reads cross every boundary
    while (int64_t N = R.Read(Buf, sizeof Buf))
        Out.append(Buf, static_cast<size_t>(N));
    return Out;
}

TEST(FileReader, WindowIsClampedToTheFile) {
    struct TCase {
        int64_t Start, Size, WindowStart, WindowEnd;
    };
    const TCase Cases[] = {
        {0, -1, 0, 100},    {40, 1000, 40, 100}, {40, 10, 40, 50}, {100, 5, 100, 100},
        {101, 5, 100, 100}, {-3, 10, 100, 100},  {0, 0, 0, 0},     {99, -7, 99, 100},
    };
    const std::string Path = MakeFile(Hundred());
    for (const TCase& C : Cases) {
        TFileReader R(Path, C.Start, C.Size);
        EXPECT_EQ(R.WindowStart, C.WindowStart) << C.Start << "/" << C.Size;
        EXPECT_EQ(R.WindowEnd, C.WindowEnd) << C.Start << "/" << C.Size;
        EXPECT_EQ(R.FileSize, 100);
        EXPECT_EQ(R.Size(), C.WindowEnd - C.WindowStart);
        EXPECT_EQ(R.GetPosition(), 0);
        EXPECT_EQ(ReadRest(R), Hundred().substr(static_cast<size_t>(C.WindowStart),
                                                static_cast<size_t>(C.WindowEnd - C.WindowStart)));
    }
}

TEST(FileReader, SeeksRelativeToTheWindowAndClamps) {
    struct TCase {
        int64_t Offset;
        TSeekOrigin Origin;
        int64_t Expected;
    };
    // Window 40..99 (size 60), starting each case from relative position 10.
    const TCase Cases[] = {
        {-5, soBeginning, 0}, {5, soBeginning, 5},       {100, soBeginning, 60},
        {5, soCurrent, 15},   {-50, soCurrent, 0},       {-10, soEnd, 50},
        {10, soEnd, 60},      {INT64_MIN, soCurrent, 0}, {INT64_MAX, soEnd, 60},
    };
    TFileReader R(MakeFile(Hundred()), 40, 1000);
    for (const TCase& C : Cases) {
        R.Seek(10, soBeginning);
        EXPECT_EQ(R.Seek(C.Offset, C.Origin), C.Expected) << C.Offset << " from " << int(C.Origin);
        EXPECT_EQ(R.Position, 40 + C.Expected);
        char B = 0;
        if (C.Expected < 60) {
            ASSERT_EQ(R.Read(&B, 1), 1);
            EXPECT_EQ(B, 40 + C.Expected);
        } else {
            EXPECT_EQ(R.Read(&B, 1), 0);
        }
    }
}

TEST(FileReader, MissingFileRaisesAFileError) {
    EXPECT_THROW(TFileReader("/nonexistent/quillo/file.bin"), EFileStreamError);
    EXPECT_THROW(TFileReader(test::MakeScratchDir().toStdString()), EFileStreamError);
}

TEST(FileReader, AFileChangedByAnotherProgramFailsTheReadInsteadOfMixingVersions) {
    struct TCase {
        const char* What;
        void (*Change)(const std::string& Path);
    };
    const TCase Cases[] = {
        {"appended", [](const std::string& P) { std::ofstream(P, std::ios::app) << "more"; }},
        {"truncated", [](const std::string& P) { ::truncate(P.c_str(), 30); }},
        {"rewritten in place",
         [](const std::string& P) {
             const int Fd = ::open(P.c_str(), O_WRONLY);
             (void)!::pwrite(Fd, "XX", 2, 60);
             // A coarse clock may not move the time within the test: make the change visible.
             struct timeval T[2] = {{12345, 0}, {12345, 0}};
             ::futimes(Fd, T);
             ::close(Fd);
         }},
    };
    for (const TCase& C : Cases) {
        const std::string Path = MakeFile(Hundred());
        TFileReader R(Path);
        char Buf[50];
        ASSERT_EQ(R.Read(Buf, 50), 50);
        C.Change(Path);
        EXPECT_THROW(R.Read(Buf, 50), EFileStreamError) << C.What;
    }
}

TEST(FileReader, OthersMayReadWhileWeRead) {
    const std::string Path = MakeFile(Hundred());
    TFileReader R(Path);
    std::ifstream Other(Path, std::ios::binary);
    std::string Copy((std::istreambuf_iterator<char>(Other)), {});
    EXPECT_EQ(Copy, Hundred());
    EXPECT_EQ(ReadRest(R), Hundred());
}

} // namespace
} // namespace quillo
