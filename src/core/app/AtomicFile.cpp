#include "core/app/AtomicFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quillo {

namespace {

[[noreturn]] void Fail(const std::string& Path, int Error) {
    throw EFileWriteError("Cannot write file \"" + Path + "\". " + std::strerror(Error));
}

// Closes and removes the temporary file unless it was handed over by rename.
struct TTempFile {
    std::string Name;
    int Fd = -1;
    bool Keep = false;
    ~TTempFile() {
        if (Fd >= 0)
            ::close(Fd);
        if (!Keep && !Name.empty())
            ::unlink(Name.c_str());
    }
};

} // namespace

void WriteFileAtomically(const std::string& Path, const std::string& Data, unsigned Mode) {
    TTempFile tmp;
    std::string pattern = Path + ".tmp-XXXXXX";
    // mkostemp creates the file with mode 0600 and O_EXCL: nobody else can open it meanwhile.
    const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd < 0)
        Fail(Path, errno);
    tmp.Name = pattern;
    tmp.Fd = fd;
    if (::fchmod(fd, static_cast<mode_t>(Mode)) != 0)
        Fail(Path, errno);
    size_t done = 0;
    while (done < Data.size()) {
        const ssize_t n = ::write(fd, Data.data() + done, Data.size() - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            Fail(Path, errno);
        }
        if (n == 0)
            Fail(Path, ENOSPC);
        done += static_cast<size_t>(n);
    }
    if (::fsync(fd) != 0)
        Fail(Path, errno);
    const int closeResult = ::close(fd);
    tmp.Fd = -1;
    if (closeResult != 0)
        Fail(Path, errno);
    if (::rename(tmp.Name.c_str(), Path.c_str()) != 0)
        Fail(Path, errno);
    tmp.Keep = true;
    // Make the rename itself durable; a failure here no longer endangers either version.
    const size_t slash = Path.rfind('/');
    const std::string dir =
        slash == std::string::npos ? std::string(".") : (slash == 0 ? "/" : Path.substr(0, slash));
    const int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
}

} // namespace quillo
