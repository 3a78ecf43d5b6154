#include "core/net/FileStreamers.h"

#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <QCryptographicHash>

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

std::string Md5Of(const std::string& Bytes) {
    return QCryptographicHash::hash(QByteArray::fromStdString(Bytes), QCryptographicHash::Md5)
        .toHex()
        .toUpper()
        .toStdString();
}

std::string Pattern(int64_t Size) {
    std::string S(static_cast<size_t>(Size), '\0');
    uint32_t X = 2463534242u;
    for (char& C : S) {
        X ^= X << 13;
        X ^= X >> 17;
        X ^= X << 5;
        C = static_cast<char>(X);
    }
    return S;
}

// Reads what an FTP store sends: the hash catches up to the resume offset first, then the rest
// goes out in writes of WriteSize bytes.
std::string StreamFrom(TFileReader& R, int64_t Offset, bool CatchUpFirst, int64_t WriteSize) {
    R.EnableDigest();
    R.SetPosition(Offset);
    if (CatchUpFirst)
        R.DigestThrough(R.Position);
    std::string Out;
    std::string Buf(static_cast<size_t>(WriteSize), '\0');
    while (int64_t N = R.Read(Buf.data(), WriteSize))
        Out.append(Buf.data(), static_cast<size_t>(N));
    return Out;
}

TEST(FileReaderDigest, EqualsTheFilesMD5ForEverySizeAndResumeOffset) {
    constexpr int64_t WriteSize = 8192;
    const int64_t Sizes[] = {0, 1, 3 * WriteSize + 1};
    for (const int64_t Size : Sizes) {
        const std::string Bytes = Pattern(Size);
        const std::string Path = MakeFile(Bytes);
        const int64_t Offsets[] = {0, std::min<int64_t>(1, Size), Size / 2, Size};
        for (const int64_t Offset : Offsets) {
            for (const bool CatchUpFirst : {true, false}) {
                SCOPED_TRACE(testing::Message()
                             << "size " << Size << " offset " << Offset << " catch-up " << CatchUpFirst);
                TFileReader R(Path);
                EXPECT_EQ(StreamFrom(R, Offset, CatchUpFirst, WriteSize),
                          Bytes.substr(static_cast<size_t>(Offset)));
                // Without the catch-up the first read hashes the skipped bytes itself; a store
                // that reads nothing (resumed at the end) needs the catch-up for its digest.
                const bool Whole = CatchUpFirst || Offset < Size || Size == 0;
                EXPECT_EQ(R.FileDigest(), Whole ? Md5Of(Bytes) : "");
                EXPECT_EQ(R.DigestedTo(), Whole ? Size : 0);
            }
        }
    }
}

TEST(FileReaderDigest, BytesReadAgainAreHashedOnceAndAPartialHashIsNeverOffered) {
    const std::string Bytes = Pattern(50000);
    const std::string Path = MakeFile(Bytes);
    TFileReader R(Path);
    R.EnableDigest();
    std::string Buf(30000, '\0');
    ASSERT_EQ(R.Read(Buf.data(), 30000), 30000);
    EXPECT_EQ(R.FileDigest(), ""); // 30000 of 50000 bytes: no digest yet
    // A request body sent again from the start (a redirect that repeats the post).
    R.SetPosition(0);
    EXPECT_EQ(ReadRest(R), Bytes);
    EXPECT_EQ(R.FileDigest(), Md5Of(Bytes));

    // A window that ends before the file does never covers the whole file.
    TFileReader W(Path, 100, 1000);
    W.EnableDigest();
    ReadRest(W);
    EXPECT_EQ(W.DigestedTo(), 1100);
    EXPECT_EQ(W.FileDigest(), "");
    // Without a digest switched on there is none.
    TFileReader Plain(Path);
    ReadRest(Plain);
    EXPECT_EQ(Plain.FileDigest(), "");
}

TEST(FileReaderDigest, AFileChangedWhileTheHashCatchesUpFailsInsteadOfMixingVersions) {
    const std::string Path = MakeFile(Pattern(3 << 20));
    TFileReader R(Path);
    R.EnableDigest();
    const int Fd = ::open(Path.c_str(), O_WRONLY);
    (void)!::pwrite(Fd, "XX", 2, 10);
    struct timeval T[2] = {{12345, 0}, {12345, 0}};
    ::futimes(Fd, T);
    ::close(Fd);
    EXPECT_THROW(R.DigestThrough(2 << 20), EFileStreamError);
    EXPECT_EQ(R.FileDigest(), "");
}

// Reads of several sizes that go back and forth over the block boundaries, with the hash on:
// the bytes and the digest must come out as if the file had been read once from the start.
TEST(FileReaderDigest, ViewsAndStepsBackOverTheBlocksKeepBytesAndDigestExact) {
    constexpr int64_t Block = TFileReader::ReadAheadSize;
    const std::string Bytes = Pattern(4 * Block + 12345);
    const std::string Path = MakeFile(Bytes);
    for (const int64_t ViewSize : {int64_t{7}, int64_t{65536}, int64_t{300000}, Block + 1}) {
        SCOPED_TRACE(testing::Message() << "view size " << ViewSize);
        TFileReader R(Path);
        R.EnableDigest();
        std::string Out;
        bool SteppedBack = false;
        for (;;) {
            const int64_t At = R.GetPosition();
            // Once inside the third block, look back over the boundary before it.
            if (!SteppedBack && At > 2 * Block + 100) {
                SteppedBack = true;
                R.SetPosition(2 * Block - 50);
                char Back[100];
                ASSERT_EQ(R.Read(Back, sizeof Back), 100);
                EXPECT_EQ(std::string(Back, sizeof Back), Bytes.substr(2 * Block - 50, 100));
                R.SetPosition(At);
            }
            const char* Data = nullptr;
            const int64_t N = R.ReadView(Data, ViewSize);
            if (N == 0)
                break;
            ASSERT_LE(N, ViewSize);
            // A view never runs over the end of the block it starts in.
            EXPECT_LE(At % Block + N, Block);
            Out.append(Data, static_cast<size_t>(N));
        }
        EXPECT_TRUE(SteppedBack);
        EXPECT_EQ(Out.size(), Bytes.size());
        EXPECT_TRUE(Out == Bytes);
        EXPECT_EQ(R.FileDigest(), Md5Of(Bytes));
    }
}

TEST(FileReader, ViewsAndTheStandAloneCheckSeeAChangedFileToo) {
    const std::string Path = MakeFile(Hundred());
    for (const bool ByView : {true, false}) {
        std::ofstream(Path, std::ios::binary | std::ios::trunc) << Hundred();
        TFileReader R(Path);
        const char* Data = nullptr;
        ASSERT_EQ(R.ReadView(Data, 50), 50);
        EXPECT_EQ(std::string(Data, 50), Hundred().substr(0, 50));
        EXPECT_NO_THROW(R.CheckUnchanged());
        std::ofstream(Path, std::ios::app) << "more";
        if (ByView)
            EXPECT_THROW(R.ReadView(Data, 50), EFileStreamError);
        else
            EXPECT_THROW(R.CheckUnchanged(), EFileStreamError);
    }
}

TEST(FileReaderDigest, TheSignatureNamesSizeAndModificationTime) {
    const std::string Path = MakeFile(Hundred());
    struct timeval T[2] = {{1700000000, 5}, {1700000000, 5}};
    ASSERT_EQ(::utimes(Path.c_str(), T), 0);
    TFileReader R(Path);
    EXPECT_EQ(R.SourceSignature(), "100:1700000000.000005000");
    EXPECT_EQ(FileSourceSignature(Path), R.SourceSignature());
    EXPECT_EQ(FileSourceSignature(Path + ".missing"), "");
}

} // namespace
} // namespace quillo
