#include "core/queue/JobsWriter.h"

#include "core/queue/JobsFile.h"

#include <exception>
#include <utility>

namespace quillo {

TJobsWriter::TJobsWriter(TOptions Options) : FOptions(std::move(Options)), FThread([this] { Run(); }) {}

TJobsWriter::~TJobsWriter() {
    {
        std::lock_guard<std::mutex> lock(FLock);
        FStop = true;
    }
    FWake.notify_all();
    FThread.join();
}

std::uint64_t TJobsWriter::Submit(std::string FileName, std::string Bytes) {
    std::uint64_t seq;
    {
        std::lock_guard<std::mutex> lock(FLock);
        seq = FNextSeq++;
        if (!FPending.empty() && FPending.back().FileName == FileName) {
            // Not begun yet, and older than this one: this one takes its place.
            FPending.back().Seq = seq;
            FPending.back().Bytes = std::move(Bytes);
        } else {
            FPending.push_back(TJob{seq, std::move(FileName), std::move(Bytes)});
        }
    }
    FWake.notify_one();
    return seq;
}

void TJobsWriter::Wait() {
    std::unique_lock<std::mutex> lock(FLock);
    FIdle.wait(lock, [this] { return FPending.empty() && !FBusy; });
}

std::vector<TJobsWriter::TOutcome> TJobsWriter::TakeOutcomes() {
    std::lock_guard<std::mutex> lock(FLock);
    return std::exchange(FOutcomes, {});
}

std::uint64_t TJobsWriter::Completed() const {
    std::lock_guard<std::mutex> lock(FLock);
    return FCompleted;
}

std::string TJobsWriter::TakeSpare() {
    std::lock_guard<std::mutex> lock(FLock);
    return std::exchange(FSpare, {});
}

void TJobsWriter::Run() {
    for (;;) {
        TJob job;
        {
            std::unique_lock<std::mutex> lock(FLock);
            FWake.wait(lock, [this] { return FStop || !FPending.empty(); });
            if (FPending.empty())
                return; // stopping, and everything submitted is written
            job = std::move(FPending.front());
            FPending.pop_front();
            FBusy = true;
        }
        TOutcome outcome;
        outcome.Seq = job.Seq;
        outcome.FileName = job.FileName;
        try {
            if (FOptions.BeforeWrite)
                FOptions.BeforeWrite(job.FileName);
            WriteJobsFile(job.FileName, job.Bytes);
        } catch (const std::exception& e) {
            outcome.Ok = false;
            outcome.Error = e.what();
        } catch (...) {
            outcome.Ok = false;
        }
        job.Bytes.clear();
        {
            std::lock_guard<std::mutex> lock(FLock);
            FSpare = std::move(job.Bytes); // capacity kept for the next snapshot
            FBusy = false;
            FCompleted = outcome.Seq;
            FOutcomes.push_back(std::move(outcome));
        }
        FIdle.notify_all();
        if (FOptions.Written)
            FOptions.Written();
    }
}

} // namespace quillo
