#pragma once
// TFileReader: the read-only stream over a file, or a window of it, from which uploads read (the
// HTTP form's file part, the FTP store, the MD5). Positions and the size are relative to the
// window's start.

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

class QCryptographicHash;

namespace quillo {

// A file that cannot be opened, read, or that changed under the reader. Not a network error:
// retrying the upload would not help.
class EFileStreamError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

enum TSeekOrigin : uint8_t { soBeginning = 0, soCurrent = 1, soEnd = 2 };

class TFileReader final {
public:
    // Opens `FileName` for reading. The window starts at `Start` (clamped to the file size when
    // outside [0, size]) and spans `Size` bytes, or up to the end when `Size` < 0 or fewer bytes
    // follow. Raises EFileStreamError when the file cannot be opened.
    TFileReader(const std::string& FileName, int64_t Start = 0, int64_t Size = -1);
    ~TFileReader();
    TFileReader(const TFileReader&) = delete;
    TFileReader& operator=(const TFileReader&) = delete;

    int64_t Size() const { return WindowEnd - WindowStart; }
    // Relative position in the window.
    int64_t GetPosition() const { return Position - WindowStart; }
    void SetPosition(int64_t Pos) { Seek(Pos, soBeginning); }
    // Moves to Offset from the origin, clamped into the window; returns the relative position.
    int64_t Seek(int64_t Offset, TSeekOrigin Origin);
    // Reads up to Count bytes (cut to the window); returns the bytes read, 0 at the window end.
    // Other programs may write to the file meanwhile (Linux cannot prevent it): a file whose size
    // or modification time differs from when it was opened raises EFileStreamError instead of
    // handing out a mix of old and new bytes; so does a file that became too short. The file is
    // read ahead in blocks of ReadAheadSize, so a stream of small reads costs few system calls;
    // the check runs on every call all the same.
    int64_t Read(void* Buffer, int64_t Count);
    static constexpr int64_t ReadAheadSize = 1 << 20;
    // Read without the copy: points Data at up to Count bytes of the read-ahead buffer (never
    // more than what is left of the current block), moves the position past them and returns
    // their count, 0 at the window end. The bytes stay valid until the next Read or ReadView.
    // The same check as Read's runs once per call.
    int64_t ReadView(const char*& Data, int64_t Count);
    // Raises EFileStreamError as Read does when the file is no longer the one that was opened;
    // for a stream that wants to know after its last bytes went out.
    void CheckUnchanged();

    const std::string& FileName() const { return FFileName; }

    // The MD5 of the file, computed from the bytes this reader hands out, so that an upload
    // reads its file once. Once enabled, every byte read is hashed in file order; a read that
    // starts beyond what has been hashed first hashes the bytes in between (an FTP store that
    // resumes at an offset), and bytes read a second time (a request body sent again after a
    // redirect) are not hashed twice. The hash covers file offsets from 0, whatever the window.
    void EnableDigest();
    // Hashes the bytes up to file offset Offset (clamped to the file) that are not hashed yet,
    // with reads of its own; the position does not move. Raises EFileStreamError like Read.
    void DigestThrough(int64_t Offset);
    // File offset up to which the bytes are hashed.
    int64_t DigestedTo() const { return FDigestedTo; }
    // 32 upper-case hexadecimal digits once every byte of the file has been hashed; empty
    // before (or when no digest is enabled), so a partial hash can never pass for the file's.
    std::string FileDigest() const;

    // "size:seconds.nanoseconds" of the modification time when the reader opened the file: what
    // a partial upload was made from (see FileSourceSignature).
    std::string SourceSignature() const;

    // Absolute file offsets, 0 <= WindowStart <= Position <= WindowEnd <= FileSize.
    int64_t WindowStart = 0;
    int64_t Position = 0;
    int64_t WindowEnd = 0;
    int64_t FileSize = 0;

private:
    // One read-ahead buffer. There are two, so that the helper thread can still be hashing one
    // block while the next is read into the other and handed out.
    struct TBlock {
        std::vector<char> Bytes;
        int64_t Start = 0;
        int64_t Length = 0;
        uint64_t HashTicket = 0; // the helper's job that reads Bytes (0: none)
        bool Holds(int64_t At) const { return At >= Start && At < Start + Length; }
    };
    class THasher;

    // Count cut to what is left of the window; runs the change check when that is not 0.
    int64_t Claim(int64_t Count);
    // Makes the block that holds At (inside the window) the current one; returns it.
    const TBlock& BlockAt(int64_t At);
    // Reads exactly Count bytes at file offset At, raising when the file is shorter or changed.
    void ReadExactly(char* Out, int64_t Count, int64_t At);
    // Reads the block that starts at file offset At into the other buffer, makes it the current
    // one and hashes what of it is new.
    void FillBlock(int64_t At);
    void HashBlock(TBlock& Block);
    // Until the helper thread has hashed everything handed to it.
    void WaitForHash() const;

    std::string FFileName;
    int FFd = -1;
    int64_t FModSeconds = 0; // modification time when opened
    int64_t FModNanoseconds = 0;
    TBlock FBlocks[2];
    int FCurrent = 0; // the block Read serves from
    std::unique_ptr<QCryptographicHash> FDigest;
    int64_t FDigestedTo = 0;
    int64_t FCoveredTo = 0; // the furthest file offset handed out by Read or passed to DigestThrough
    // Large blocks are hashed on a helper thread while the upload sends them; declared last so
    // that it ends before the buffers and the hash it uses go away.
    std::unique_ptr<THasher> FHasher;
};

// The signature of the file as it is now (see TFileReader::SourceSignature); empty when it
// cannot be read.
std::string FileSourceSignature(const std::string& FileName);

} // namespace quillo
