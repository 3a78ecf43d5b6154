#pragma once
// The jobs file "quillo.jobs": the upload queue and the finished list between runs.
//
// Layout: no header, no count; a sequence of entries up to the end of the file. Each entry is the
// marker byte 0x00, a kind byte (0, 1, 2, 4: a task in that state; 3: a finished upload), then
// eight fields. Integers are little-endian, strings are a signed 32-bit length and that many
// bytes, date-times are 8-byte IEEE doubles.
//   task:     FileName, FileSize (int64), UploadName, Description, Method, Reserved (4 bytes),
//             StatusText, ResumeInfo
//   finished: FileName, FileSize (int64), UploadName, Description, Method, StartTime (double),
//             EndTime (double), Result
// Bytes other than 0x00 where an entry may start are skipped. The writer puts the tasks first in
// queue order, then the finished records in list order.
//
// Reading and taking the bytes of a save (JobsToBytes) run on the user-interface thread; the
// write itself may run elsewhere (TJobsWriter). Problems reach the user through a
// TJobsErrorReporter (caption "Error" and a text): the GUI shows a message box, the headless front
// end prints it. Nothing is retried.

#include "core/queue/UploadQueue.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class QIODevice;

namespace quillo {

using TJobsErrorReporter = std::function<void(const std::string& caption, const std::string& text)>;

// What a read produced. Entries read completely before a failure are kept; the entry being read
// when it failed is dropped and nothing after it is read.
struct TJobsReadResult {
    std::vector<std::unique_ptr<TUploadJobData>> Tasks;
    std::vector<std::unique_ptr<TFinishedUploadJobData>> Finished;
    bool Ok = true;
    std::string ErrorText;         // for the user; empty when Ok
    std::int64_t ErrorOffset = -1; // byte offset of the entry that could not be read
};

// Parses jobs-file bytes from the stream's current position to its end. Tasks saved as
// Uploading come back as Error with the "improperly terminated" text; progress fields are zero.
// A length that announces more bytes than remain, an entry cut short (also inside a fixed-size
// field or right after its marker), an unknown kind byte (above 4) and an entry whose fields are
// all empty or zero (what a file of zero bytes holds; never written by this program) end the read
// with an error.
// `displayName` names the source in the error text.
TJobsReadResult ReadJobs(QIODevice& stream, const std::string& displayName);
TJobsReadResult ReadJobsFromBytes(std::string_view bytes, const std::string& displayName = "quillo.jobs");

// The bytes of the jobs file for the queue as it is. A task in state Finished (waiting for the
// scheduler to move it) is written as the finished record it is about to become, after the
// finished list (in the order they finished, by EndTime, as the scheduler appends them), so that
// nothing is lost and the file always reads back.
std::string JobsToBytes(const TUploadQueue& queue);
// The same into Out, replacing what it held; its memory is reused (a snapshot of a big queue then
// costs no fresh pages).
void JobsToBytes(const TUploadQueue& queue, std::string& Out);

// The bytes of a queue's finished list as the last snapshot wrote them. The finished list mostly
// only grows, and with 100,000 records writing it anew is most of a snapshot's time on the
// user-interface thread: with a cache, a snapshot writes only the records appended since and
// copies the rest. The cache is trusted only while the list's edit stamp is the one it was made
// at; any other change of the list makes the next snapshot write it whole again.
struct TFinishedBytesCache {
    std::uint64_t EditStamp = 0;
    std::size_t Count = 0; // records of the finished list the bytes hold
    std::string Bytes;
};
// The same bytes as JobsToBytes, through Cache (updated to the list as it is now).
void JobsToBytes(const TUploadQueue& queue, std::string& Out, TFinishedBytesCache& Cache);

// Reads the file and appends its entries to the queue's two lists (one insert notification per
// list). A missing or empty file leaves the lists as they are, silently. On a damaged file the
// entries before the damage are kept, a copy of the file is left as "<fileName>.damaged" (the
// next save would otherwise overwrite what could not be read) and one error is reported.
// Returns false when an error was reported.
bool LoadJobs(TUploadQueue& queue, const std::string& fileName, const TJobsErrorReporter& report);
// The same from bytes in memory (no copy is kept of damaged input).
bool LoadJobsFromBytes(TUploadQueue& queue, std::string_view bytes, const TJobsErrorReporter& report,
                       const std::string& displayName = "quillo.jobs");

// Replaces the file with the queue's contents in one step: the bytes go to a new file in the same
// folder, reach the disk and are renamed over the old one, so a crash or a failed write leaves
// the previous file whole. Creates the folder when missing. Returns false when an error was
// reported (the old file is then untouched).
bool SaveJobs(const TUploadQueue& queue, const std::string& fileName, const TJobsErrorReporter& report);

// The write step of SaveJobs alone, for bytes JobsToBytes made: creates the folder when missing
// and replaces the file atomically. Raises EFileWriteError. Safe on any thread.
void WriteJobsFile(const std::string& fileName, const std::string& bytes);
// The text a failed save shows the user; Reason is the failure's message (may be empty).
std::string JobsSaveErrorText(const std::string& fileName, const std::string& reason);

} // namespace quillo
