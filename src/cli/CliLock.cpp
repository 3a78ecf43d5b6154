#include "cli/CliLock.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quillo::cli {

std::string RuntimeFolder() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && runtime[0] == '/') {
        struct stat st {};
        if (::stat(runtime, &st) == 0 && S_ISDIR(st.st_mode) && ::access(runtime, W_OK) == 0)
            return runtime;
    }
    return "/tmp";
}

std::string InstanceLockFileName() {
    return RuntimeFolder() + "/ZOR_Quillo_Mutex-" + std::to_string(::getuid()) + ".lock";
}

TInstanceLock::~TInstanceLock() {
    if (FFd >= 0)
        ::close(FFd);
}

TInstanceLock::TResult TInstanceLock::Acquire() {
    if (FFd >= 0)
        return lrHeld;
    const std::string name = InstanceLockFileName();
    const int fd = ::open(name.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        FError = name + ": " + std::strerror(errno);
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
    FError = name + ": " + std::strerror(err);
    return lrUnavailable;
}

} // namespace quillo::cli
