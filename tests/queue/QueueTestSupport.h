#pragma once
// Small helpers shared by the tests of adding files and of the queue commands.

#include "core/queue/Scheduler.h"
#include "core/queue/UploadQueue.h"
#include "support/TestEnvironment.h"

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <fstream>
#include <memory>
#include <string>

namespace quillo::test {

inline std::string ScratchFolder(const char* hint) {
    return MakeScratchDir(QString::fromLatin1(hint)).toStdString();
}

// Writes `size` bytes to path (any bytes, UTF-8 or not) and returns the path.
inline std::string WriteFile(const std::string& path, std::size_t size = 3) {
    std::ofstream(path, std::ios::binary) << std::string(size, 'x');
    return path;
}

// While alive, the calling thread has no power to read what its permissions forbid, even as
// root: that is how a test meets an unreadable folder on a machine where it runs as root.
class TWithoutFileAccessOverride {
public:
    TWithoutFileAccessOverride() {
        if (::geteuid() != 0)
            return;
        if (::syscall(SYS_capget, &FHeader, FSaved) != 0)
            return;
        __user_cap_data_struct lowered[2] = {FSaved[0], FSaved[1]};
        lowered[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
        FLowered = ::syscall(SYS_capset, &FHeader, lowered) == 0;
    }
    ~TWithoutFileAccessOverride() {
        if (FLowered)
            ::syscall(SYS_capset, &FHeader, FSaved);
    }
    TWithoutFileAccessOverride(const TWithoutFileAccessOverride&) = delete;
    TWithoutFileAccessOverride& operator=(const TWithoutFileAccessOverride&) = delete;

private:
    __user_cap_header_struct FHeader{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct FSaved[2]{};
    bool FLowered = false;
};

// A queue with a scheduler that never ticks by itself and saves to its own jobs file.
struct TQueueFixture {
    TUploadQueue Queue;
    std::string JobsFile = ScratchFolder("jobs") + "/quillo.jobs";
    std::unique_ptr<TScheduler> Scheduler;

    TQueueFixture() {
        TSchedulerOptions options;
        options.OwnTimer = false;
        options.JobsFile = JobsFile;
        Scheduler = std::make_unique<TScheduler>(Queue, options);
    }

    // The jobs file once every save asked for so far is on disk (saves are written in the
    // background).
    const std::string& SavedJobsFile() {
        Scheduler->FlushJobs();
        return JobsFile;
    }
};

} // namespace quillo::test
