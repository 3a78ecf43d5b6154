#include "core/net/FileStreamers.h"

#include <QByteArrayView>
#include <QCryptographicHash>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace quillo {

namespace {

std::string Quoted(const std::string& Name) {
    return "\"" + Name + "\"";
}

bool SameTime(const struct stat& St, int64_t Seconds, int64_t Nanoseconds) {
    return St.st_mtim.tv_sec == Seconds && St.st_mtim.tv_nsec == Nanoseconds;
}

std::string Signature(int64_t Size, int64_t Seconds, int64_t Nanoseconds) {
    char Text[80];
    std::snprintf(Text, sizeof Text, "%" PRId64 ":%" PRId64 ".%09" PRId64, Size, Seconds, Nanoseconds);
    return Text;
}

// Bytes hashed per read when the digest has to catch up without the upload reading them.
constexpr int64_t DigestReadSize = 1 << 20;

} // namespace

TFileReader::TFileReader(const std::string& FileName, int64_t Start, int64_t Size) : FFileName(FileName) {
    FFd = ::open(FileName.c_str(), O_RDONLY | O_CLOEXEC);
    if (FFd < 0)
        throw EFileStreamError("Cannot open file " + Quoted(FileName) + ". " + std::strerror(errno));
    struct stat St {};
    if (::fstat(FFd, &St) != 0 || !S_ISREG(St.st_mode)) {
        const int Err = S_ISDIR(St.st_mode) ? EISDIR : errno;
        ::close(FFd);
        FFd = -1;
        throw EFileStreamError("Cannot open file " + Quoted(FileName) + ". " +
                               std::strerror(Err ? Err : EINVAL));
    }
    // Linux has no share modes; a shared advisory lock at least tells cooperating programs that
    // the file is being read. Its failure changes nothing: CheckUnchanged guards the bytes.
    (void)::flock(FFd, LOCK_SH | LOCK_NB);
    FileSize = St.st_size;
    FModSeconds = St.st_mtim.tv_sec;
    FModNanoseconds = St.st_mtim.tv_nsec;
    WindowStart = (Start >= 0 && Start <= FileSize) ? Start : FileSize;
    WindowEnd = (Size < 0 || FileSize - WindowStart < Size) ? FileSize : WindowStart + Size;
    Position = WindowStart;
}

TFileReader::~TFileReader() {
    if (FFd >= 0)
        ::close(FFd);
}

int64_t TFileReader::Seek(int64_t Offset, TSeekOrigin Origin) {
    const int64_t Base = Origin == soBeginning ? WindowStart : Origin == soCurrent ? Position : WindowEnd;
    int64_t Target;
    if (__builtin_add_overflow(Base, Offset, &Target))
        Target = Offset < 0 ? WindowStart : WindowEnd;
    if (Target < WindowStart)
        Target = WindowStart;
    if (Target > WindowEnd)
        Target = WindowEnd;
    Position = Target;
    return Target - WindowStart;
}

void TFileReader::CheckUnchanged() {
    struct stat St {};
    if (::fstat(FFd, &St) != 0)
        throw EFileStreamError("Cannot read file " + Quoted(FFileName) + ". " + std::strerror(errno));
    if (St.st_size != FileSize || !SameTime(St, FModSeconds, FModNanoseconds))
        throw EFileStreamError("The file " + Quoted(FFileName) +
                               " was changed by another program while it was being read");
}

void TFileReader::ReadExactly(char* Out, int64_t Count, int64_t At) {
    int64_t Done = 0;
    while (Done < Count) {
        const ssize_t N = ::pread(FFd, Out + Done, static_cast<size_t>(Count - Done), At + Done);
        if (N < 0) {
            if (errno == EINTR)
                continue;
            throw EFileStreamError("Cannot read file " + Quoted(FFileName) + ". " + std::strerror(errno));
        }
        if (N == 0) // shorter than announced: never hand out fewer bytes than the size promised
            throw EFileStreamError("The file " + Quoted(FFileName) +
                                   " was changed by another program while it was being read");
        Done += N;
    }
    // A write that landed before or while we read shows in the size or time now; checking once
    // after each read also covers changes made between two reads.
    CheckUnchanged();
}

int64_t TFileReader::Read(void* Buffer, int64_t Count) {
    if (Count <= 0)
        return 0;
    if (Count > WindowEnd - Position)
        Count = WindowEnd - Position;
    if (Count == 0)
        return 0;
    auto* Out = static_cast<char*>(Buffer);
    ReadExactly(Out, Count, Position);
    if (FDigest)
        Digest(Out, Position, Count);
    Position += Count;
    return Count;
}

void TFileReader::EnableDigest() {
    if (!FDigest) {
        FDigest = std::make_unique<QCryptographicHash>(QCryptographicHash::Md5);
        FDigestedTo = 0;
    }
}

void TFileReader::Digest(const char* Data, int64_t At, int64_t Count) {
    if (At > FDigestedTo)
        DigestThrough(At);
    const int64_t End = At + Count;
    if (End <= FDigestedTo)
        return;
    const int64_t Skip = FDigestedTo - At; // already hashed by an earlier read of these bytes
    FDigest->addData(QByteArrayView(Data + Skip, static_cast<qsizetype>(Count - Skip)));
    FDigestedTo = End;
}

void TFileReader::DigestThrough(int64_t Offset) {
    if (!FDigest)
        return;
    Offset = std::min(Offset, FileSize);
    if (Offset <= FDigestedTo)
        return;
    std::vector<char> Buffer(static_cast<size_t>(std::min(DigestReadSize, Offset - FDigestedTo)));
    while (FDigestedTo < Offset) {
        const int64_t N = std::min<int64_t>(static_cast<int64_t>(Buffer.size()), Offset - FDigestedTo);
        ReadExactly(Buffer.data(), N, FDigestedTo);
        FDigest->addData(QByteArrayView(Buffer.data(), static_cast<qsizetype>(N)));
        FDigestedTo += N;
    }
}

std::string TFileReader::FileDigest() const {
    if (!FDigest || FDigestedTo != FileSize)
        return {};
    return FDigest->result().toHex().toUpper().toStdString();
}

std::string TFileReader::SourceSignature() const {
    return Signature(FileSize, FModSeconds, FModNanoseconds);
}

std::string FileSourceSignature(const std::string& FileName) {
    struct stat St {};
    if (::stat(FileName.c_str(), &St) != 0 || !S_ISREG(St.st_mode))
        return {};
    return Signature(St.st_size, St.st_mtim.tv_sec, St.st_mtim.tv_nsec);
}

} // namespace quillo
