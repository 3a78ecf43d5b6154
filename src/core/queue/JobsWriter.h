#pragma once
// TJobsWriter writes jobs-file snapshots on a thread of its own, so that the user-interface
// thread only pays for taking the snapshot (JobsToBytes), never for the write, the fsync and the
// rename.
//
// Order and coalescing. Snapshots are written one at a time in the order they were submitted. A
// snapshot that is still waiting when a newer one for the same file arrives is dropped in favour
// of the newer one: every snapshot holds both lists whole, so the newer one holds everything the
// dropped one did. A snapshot whose write has begun is always finished, and the newer one follows
// it. Each file is therefore replaced only by states newer than what it holds, and a crash
// leaves the state of the last completed write or of a later one (never a torn file: each write
// goes through WriteFileAtomically).
//
// Threads. Submit, Wait, TakeOutcomes and Completed may be called from any one owner thread; the
// Written callback runs on the writer thread after each write (the owner posts from there to its
// own thread). The destructor writes what is still waiting, then ends the thread.

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace quillo {

class TJobsWriter final {
public:
    // What one write did. Seq is the sequence number of the snapshot written; it also stands for
    // every older snapshot that was dropped in its favour.
    struct TOutcome {
        std::uint64_t Seq = 0;
        std::string FileName;
        bool Ok = true;
        std::string Error; // the failure's message (EFileWriteError and the like); empty when Ok
    };

    struct TOptions {
        // On the writer thread after each write (success or failure).
        std::function<void()> Written;
        // On the writer thread just before each write begins (tests hold a write open with it).
        std::function<void(const std::string& FileName)> BeforeWrite;
    };

    explicit TJobsWriter(TOptions Options = {});
    ~TJobsWriter();
    TJobsWriter(const TJobsWriter&) = delete;
    TJobsWriter& operator=(const TJobsWriter&) = delete;

    // Hands a snapshot over and returns its sequence number (1, 2, ... in submission order).
    std::uint64_t Submit(std::string FileName, std::string Bytes);
    // Blocks until nothing waits and nothing is being written.
    void Wait();
    // The outcomes of the writes that ended since the last call, in the order they ended.
    std::vector<TOutcome> TakeOutcomes();
    // The sequence number of the last write that ended (0: none yet).
    std::uint64_t Completed() const;
    // A string whose memory the last write no longer needs (empty, with its capacity), so that
    // the next snapshot need not map fresh pages; an empty string when there is none.
    std::string TakeSpare();

private:
    struct TJob {
        std::uint64_t Seq = 0;
        std::string FileName;
        std::string Bytes;
    };
    void Run();

    TOptions FOptions;
    mutable std::mutex FLock;
    std::condition_variable FWake;
    std::condition_variable FIdle;
    std::deque<TJob> FPending;
    std::vector<TOutcome> FOutcomes;
    std::string FSpare;
    std::uint64_t FNextSeq = 1;
    std::uint64_t FCompleted = 0;
    bool FBusy = false;
    bool FStop = false;
    std::thread FThread; // last: starts once everything above exists
};

} // namespace quillo
