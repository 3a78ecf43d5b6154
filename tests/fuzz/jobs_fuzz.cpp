// Feeds arbitrary bytes to the jobs-file loader. Besides not crashing, leaking or allocating more
// than the input could justify, the loader must report at most one error, exactly when it says
// it failed, and whatever it loaded must save and load again unchanged and without error.
#include "FuzzSupport.h"
#include "core/queue/JobsFile.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

using quillo_fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quillo;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    TUploadQueue queue;
    int reports = 0;
    const bool ok = LoadJobsFromBytes(queue, bytes, [&](const std::string& caption, const std::string& text) {
        Check(caption == "Error" && !text.empty());
        ++reports;
    });
    Check(reports == (ok ? 0 : 1));
    Check(queue.CountTasksIn({jsUploading}) == 0);

    const std::string saved = JobsToBytes(queue);
    const TJobsReadResult again = ReadJobsFromBytes(saved);
    Check(again.Ok);
    Check(again.Tasks.size() == queue.TaskCount() && again.Finished.size() == queue.FinishedCount());
    TUploadQueue reloaded;
    LoadJobsFromBytes(reloaded, saved, {});
    Check(JobsToBytes(reloaded) == saved);

    queue.UpdateQueueSummary();
    return 0;
}
