#include "core/app/InstanceLock.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quillo {

std::string InstanceRuntimeFolder() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && runtime[0] == '/') {
        struct stat st {};
        if (::stat(runtime, &st) == 0 && S_ISDIR(st.st_mode) && ::access(runtime, W_OK) == 0)
            return runtime;
    }
    return "/tmp";
}

std::string InstanceBaseName() {
    return std::string(kInstanceMutexName) + "-" + std::to_string(::getuid());
}

std::string InstanceLockFileName(const std::string& Folder) {
    return (Folder.empty() ? InstanceRuntimeFolder() : Folder) + "/" + InstanceBaseName() + ".lock";
}

TInstanceLock::TResult TInstanceLock::Acquire(const std::string& FileName) {
    if (FFd >= 0)
        return lrHeld;
    const int fd = ::open(FileName.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        FError = FileName + ": " + std::strerror(errno);
        return lrUnavailable;
    }
    int rc;
    do
        rc = ::flock(fd, LOCK_EX | LOCK_NB);
    while (rc != 0 && errno == EINTR);
    if (rc == 0) {
        FFd = fd;
        return lrHeld;
    }
    const int err = errno;
    ::close(fd);
    if (err == EWOULDBLOCK)
        return lrBusy;
    FError = FileName + ": " + std::strerror(err);
    return lrUnavailable;
}

void TInstanceLock::Release() {
    if (FFd >= 0) {
        ::close(FFd);
        FFd = -1;
    }
}

} // namespace quillo
