#pragma once
// The single-instance lock shared with the desktop program: an exclusive flock() on
// "<runtime folder>/ZOR_Quillo_Mutex-<uid>.lock", the file the desktop program's TSingleInstance
// holds for its whole run (app/SingleInstance.h). quillo-cli takes the same lock, so that the
// desktop program and quillo-cli never run at once and the jobs file never has two writers. The
// kernel drops the lock when the holder ends, however it ends.

#include <string>

namespace quillo::cli {

// $XDG_RUNTIME_DIR when it is an absolute, writable folder, /tmp otherwise.
std::string RuntimeFolder();
std::string InstanceLockFileName();

class TInstanceLock final {
public:
    enum TResult {
        lrHeld,        // this process holds the lock
        lrBusy,        // the desktop program or another quillo-cli holds it
        lrUnavailable, // the lock file cannot be used
    };
    TInstanceLock() = default;
    ~TInstanceLock();
    TInstanceLock(const TInstanceLock&) = delete;
    TInstanceLock& operator=(const TInstanceLock&) = delete;

    TResult Acquire();
    // The system's reason when Acquire gave lrUnavailable.
    const std::string& ErrorText() const { return FError; }

private:
    int FFd = -1;
    std::string FError;
};

} // namespace quillo::cli
