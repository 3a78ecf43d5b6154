#pragma once
// The per-user single-instance lock shared by the desktop program and quillo-cli: an exclusive
// flock() on "<runtime folder>/ZOR_Quillo_Mutex-<uid>.lock". Whoever holds it is the one writer
// of the jobs file. The kernel drops the lock when the holder ends, however it ends, so a crash
// never blocks the next start and two simultaneous starts can never both win.

#include <string>

namespace quillo {

inline constexpr const char* kInstanceMutexName = "ZOR_Quillo_Mutex";

// $XDG_RUNTIME_DIR when it is an absolute, writable folder, /tmp otherwise.
std::string InstanceRuntimeFolder();

// "ZOR_Quillo_Mutex-<uid>": the user id keeps two users sharing /tmp apart.
std::string InstanceBaseName();

// Folder + "/" + InstanceBaseName() + ".lock"; an empty folder means InstanceRuntimeFolder().
std::string InstanceLockFileName(const std::string& Folder = std::string());

class TInstanceLock final {
public:
    enum TResult {
        lrHeld,        // this process holds the lock
        lrBusy,        // another process holds it
        lrUnavailable, // the lock file cannot be used (see ErrorText)
    };
    TInstanceLock() = default;
    ~TInstanceLock() { Release(); }
    TInstanceLock(const TInstanceLock&) = delete;
    TInstanceLock& operator=(const TInstanceLock&) = delete;

    // Takes the lock on FileName without waiting.
    TResult Acquire(const std::string& FileName = InstanceLockFileName());
    bool Held() const { return FFd >= 0; }
    // Drops the lock. The file itself stays: removing it would let a new start lock a fresh
    // file while another process still holds the old one.
    void Release();
    // The system's reason when Acquire gave lrUnavailable.
    const std::string& ErrorText() const { return FError; }

private:
    int FFd = -1;
    std::string FError;
};

} // namespace quillo
