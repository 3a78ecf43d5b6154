#include "core/net/FileStreamers.h"

#include <QByteArrayView>
#include <QCryptographicHash>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <mutex>
#include <sys/file.h>
#include <sys/stat.h>
#include <system_error>
#include <thread>
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

// Blocks smaller than this are hashed on the spot while no helper thread is running: a small
// file is not worth a thread.
constexpr qsizetype InlineHashSize = 64 * 1024;

} // namespace

// One thread per reader that hashes the blocks in the order they were read, for as long as the
// reader lives. The reader's thread never waits for it except to reuse a buffer that is still
// being hashed, or for the result; with two buffers the hash runs without pause as long as the
// upload keeps up with it.
class TFileReader::THasher {
public:
    explicit THasher(QCryptographicHash& Hash) : FHash(Hash), FThread([this] { Run(); }) {}
    ~THasher() {
        {
            std::lock_guard Guard(FLock);
            FStop = true;
        }
        FWork.notify_one();
        FThread.join();
    }
    THasher(const THasher&) = delete;
    THasher& operator=(const THasher&) = delete;

    // Queues Bytes (which must stay untouched until Wait(ticket) returns); returns the ticket.
    uint64_t Add(QByteArrayView Bytes) {
        uint64_t Ticket;
        {
            std::lock_guard Guard(FLock);
            FQueue.push_back(Bytes);
            Ticket = ++FAdded;
        }
        FWork.notify_one();
        return Ticket;
    }
    // Until every job up to Ticket is hashed.
    void Wait(uint64_t Ticket) {
        std::unique_lock Guard(FLock);
        FDone.wait(Guard, [&] { return FFinished >= Ticket; });
    }
    void WaitAll() {
        std::unique_lock Guard(FLock);
        FDone.wait(Guard, [&] { return FFinished == FAdded; });
    }

private:
    void Run() {
        std::unique_lock Guard(FLock);
        for (;;) {
            FWork.wait(Guard, [&] { return FStop || !FQueue.empty(); });
            if (FQueue.empty())
                return; // stopping, and nothing left to hash
            const QByteArrayView Bytes = FQueue.front();
            Guard.unlock();
            FHash.addData(Bytes);
            Guard.lock();
            FQueue.pop_front();
            ++FFinished;
            FDone.notify_all();
        }
    }

    QCryptographicHash& FHash;
    std::mutex FLock;
    std::condition_variable FWork;
    std::condition_variable FDone;
    std::deque<QByteArrayView> FQueue;
    uint64_t FAdded = 0;
    uint64_t FFinished = 0;
    bool FStop = false;
    std::thread FThread; // last: starts once the fields above are ready
};

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
    FHasher.reset();
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

const TFileReader::TBlock& TFileReader::BlockAt(int64_t At) {
    if (!FBlocks[FCurrent].Holds(At)) {
        if (FBlocks[1 - FCurrent].Holds(At))
            FCurrent = 1 - FCurrent; // a step back into the block before
        else
            FillBlock(At);
    }
    return FBlocks[FCurrent];
}

int64_t TFileReader::Claim(int64_t Count) {
    Count = std::clamp<int64_t>(Count, 0, WindowEnd - Position);
    if (Count > 0)
        CheckUnchanged();
    return Count;
}

int64_t TFileReader::Read(void* Buffer, int64_t Count) {
    Count = Claim(Count);
    if (Count == 0)
        return 0;
    auto* Out = static_cast<char*>(Buffer);
    int64_t Done = 0;
    while (Done < Count) {
        const int64_t At = Position + Done;
        const TBlock& B = BlockAt(At);
        const int64_t N = std::min(Count - Done, B.Start + B.Length - At);
        std::memcpy(Out + Done, B.Bytes.data() + (At - B.Start), static_cast<size_t>(N));
        Done += N;
    }
    Position += Count;
    FCoveredTo = std::max(FCoveredTo, Position);
    return Count;
}

int64_t TFileReader::ReadView(const char*& Data, int64_t Count) {
    Data = nullptr;
    Count = Claim(Count);
    if (Count == 0)
        return 0;
    const TBlock& B = BlockAt(Position);
    Count = std::min(Count, B.Start + B.Length - Position);
    Data = B.Bytes.data() + (Position - B.Start);
    Position += Count;
    FCoveredTo = std::max(FCoveredTo, Position);
    return Count;
}

void TFileReader::FillBlock(int64_t At) {
    const int Next = 1 - FCurrent;
    TBlock& B = FBlocks[Next];
    // The helper may still be hashing what this buffer held.
    if (B.HashTicket != 0 && FHasher)
        FHasher->Wait(B.HashTicket);
    B.HashTicket = 0;
    const int64_t N = std::min(ReadAheadSize, WindowEnd - At);
    if (static_cast<int64_t>(B.Bytes.size()) < N)
        B.Bytes.resize(static_cast<size_t>(N));
    B.Length = 0; // not valid until the read has succeeded
    ReadExactly(B.Bytes.data(), N, At);
    B.Start = At;
    B.Length = N;
    FCurrent = Next;
    if (FDigest)
        HashBlock(B);
}

void TFileReader::EnableDigest() {
    if (!FDigest) {
        FDigest = std::make_unique<QCryptographicHash>(QCryptographicHash::Md5);
        FDigestedTo = 0;
    }
}

void TFileReader::WaitForHash() const {
    if (FHasher)
        FHasher->WaitAll();
}

void TFileReader::HashBlock(TBlock& Block) {
    if (Block.Start > FDigestedTo)
        DigestThrough(Block.Start);
    const int64_t End = Block.Start + Block.Length;
    if (End <= FDigestedTo)
        return;
    const int64_t Skip = FDigestedTo - Block.Start; // already hashed by an earlier read of these bytes
    const QByteArrayView Bytes(Block.Bytes.data() + Skip, static_cast<qsizetype>(End - FDigestedTo));
    FDigestedTo = End;
    // The hash runs beside the upload: by the time the block has been sent it is done, so
    // hashing costs the upload no time where a second core is free.
    if (!FHasher && Bytes.size() >= InlineHashSize) {
        try {
            FHasher = std::make_unique<THasher>(*FDigest);
        } catch (const std::system_error&) {
            // No thread to be had: hash here.
        }
    }
    if (FHasher) {
        Block.HashTicket = FHasher->Add(Bytes);
        return;
    }
    FDigest->addData(Bytes);
}

void TFileReader::DigestThrough(int64_t Offset) {
    if (!FDigest)
        return;
    Offset = std::min(Offset, FileSize);
    FCoveredTo = std::max(FCoveredTo, Offset);
    if (Offset <= FDigestedTo)
        return;
    WaitForHash();
    std::vector<char> Buffer(static_cast<size_t>(std::min(DigestReadSize, Offset - FDigestedTo)));
    while (FDigestedTo < Offset) {
        const int64_t N = std::min<int64_t>(static_cast<int64_t>(Buffer.size()), Offset - FDigestedTo);
        ReadExactly(Buffer.data(), N, FDigestedTo);
        FDigest->addData(QByteArrayView(Buffer.data(), static_cast<qsizetype>(N)));
        FDigestedTo += N;
    }
}

std::string TFileReader::FileDigest() const {
    // Read ahead, the hash may cover bytes that were never handed out; it counts only once the
    // reads (or DigestThrough) have reached the end of the file.
    if (!FDigest || FDigestedTo != FileSize || FCoveredTo != FileSize)
        return {};
    WaitForHash();
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
