#pragma once
// The two records that hold everything Quillo knows about an upload: a task waiting in or going
// through the upload queue (TUploadJobData) and an upload that completed (TFinishedUploadJobData),
// plus the task state and the one-byte state set the commands and the scheduler filter with.
//
// Records are created and destroyed by TUploadQueue only; everything here is used on the
// user-interface thread (upload threads never touch a record directly).

#include <array>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>

namespace quillo {

// One byte; the value is also the kind byte of a task entry in the jobs file and the image index
// of the task list.
enum TJobState : std::uint8_t {
    jsQueued = 0,
    jsDelayed = 1,
    jsUploading = 2,
    jsFinished = 3,
    jsError = 4,
};

constexpr int JobStateCount = 5;

constexpr bool IsValidJobState(int value) {
    return value >= 0 && value < JobStateCount;
}

// A set of TJobState in one byte, bit n standing for state n.
class TJobStates {
public:
    constexpr TJobStates() = default;
    constexpr TJobStates(std::initializer_list<TJobState> states) {
        for (TJobState s : states)
            FBits = static_cast<std::uint8_t>(FBits | Bit(s));
    }
    static constexpr TJobStates FromByte(std::uint8_t bits) {
        TJobStates r;
        r.FBits = static_cast<std::uint8_t>(bits & 0x1F);
        return r;
    }

    constexpr std::uint8_t Byte() const { return FBits; }
    constexpr bool Contains(TJobState s) const { return (FBits & Bit(s)) != 0; }
    constexpr bool Empty() const { return FBits == 0; }
    // The full set means "no filtering at all", not "any of the five states".
    constexpr bool IsAll() const { return FBits == 0x1F; }

    constexpr TJobStates& Include(TJobState s) {
        FBits = static_cast<std::uint8_t>(FBits | Bit(s));
        return *this;
    }
    constexpr TJobStates& Exclude(TJobState s) {
        FBits = static_cast<std::uint8_t>(FBits & ~Bit(s));
        return *this;
    }

    friend constexpr bool operator==(TJobStates a, TJobStates b) { return a.FBits == b.FBits; }

private:
    static constexpr std::uint8_t Bit(TJobState s) { return static_cast<std::uint8_t>(1u << (s & 7)); }
    std::uint8_t FBits = 0;
};

inline constexpr TJobStates AllJobStates = TJobStates::FromByte(0x1F);

// The upload thread a task may hold. The queue library does not link the upload engine, so it
// only knows the thread's type by name and owns it through a handle whose deleter the launcher
// supplies (the launcher's translation unit sees the complete type):
//
//     TUploaderHandle h(CreateUploader(...), TUploaderDeleter{[](TUploader* u) { delete u; }});
//
// Destroying a thread stops its transfer and waits for it; while it waits the thread may still
// deliver its final event to the user-interface thread, so the owner must destroy handles only
// through TUploadQueue::ReleaseThread (which keeps the record alive and the counters right).
class TUploader;

struct TUploaderDeleter {
    void (*Destroy)(TUploader*) = nullptr;
    void operator()(TUploader* uploader) const {
        if (uploader && Destroy)
            Destroy(uploader);
    }
};

using TUploaderHandle = std::unique_ptr<TUploader, TUploaderDeleter>;

// Identifies a record for as long as it stays in its list, across moves and the removal of other
// rows; never reused within a process. Not stored in the jobs file.
using TJobId = std::uint64_t;
constexpr TJobId NoJobId = 0;

template <class TRecord> class TJobList;

struct TUploadJobData {
    TJobState State = jsQueued;
    std::string FileName;
    std::int64_t FileSize = 0;
    std::string UploadName; // empty: the file-name part of FileName
    std::string Description;
    std::string Method;   // "HTTP Method", "FTP Method"
    double StartTime = 0; // days since 1899-12-30, local time
    double EndTime = 0;
    std::int32_t Elapsed = 0;  // ms
    std::int32_t TimeLeft = 0; // ms, -1 unknown
    std::int32_t Percent = 0;
    double Speed = 0; // kilobits (1024 bits) per second
    std::array<std::uint8_t, 4> Reserved{};
    std::string StatusText;
    std::string ResumeInfo;
    TUploaderHandle Uploader; // never stored

    // Assigned by the queue when the record enters the upload queue.
    TJobId Id() const { return FId; }

private:
    template <class> friend class TJobList;
    TJobId FId = NoJobId;
    std::size_t FIndex = 0; // position in its list, kept current by the list
};

struct TFinishedUploadJobData {
    std::string FileName;
    std::int64_t FileSize = 0;
    std::string UploadName;
    std::string Description;
    std::string Method;
    double StartTime = 0;
    double EndTime = 0;
    std::string Result; // key=value lines separated by CR LF

    TJobId Id() const { return FId; }

private:
    template <class> friend class TJobList;
    TJobId FId = NoJobId;
    std::size_t FIndex = 0;
};

// The name a task is uploaded under: UploadName, or the file's own name when that is empty.
std::string EffectiveUploadName(const TUploadJobData& task);

// The finished record a successful task becomes; Result is the task's StatusText.
TFinishedUploadJobData MakeFinishedRecord(const TUploadJobData& task);

} // namespace quillo
