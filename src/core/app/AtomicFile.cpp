#include "core/app/AtomicFile.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <dirent.h>
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

// Temporary files of Name that a killed save left behind; a minute-old one belongs to no live save.
void RemoveStaleTemporaries(const std::string& Dir, const std::string& Name) {
    DIR* d = ::opendir(Dir.c_str());
    if (!d)
        return;
    const std::string prefix = Name + ".tmp-";
    const std::time_t limit = std::time(nullptr) - 60;
    while (const dirent* e = ::readdir(d)) {
        const std::string entry = e->d_name;
        if (entry.size() != prefix.size() + 6 || entry.compare(0, prefix.size(), prefix) != 0)
            continue;
        const std::string full = Dir + "/" + entry;
        struct stat st {};
        if (::lstat(full.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_mtime < limit)
            ::unlink(full.c_str());
    }
    ::closedir(d);
}

} // namespace

void WriteFileAtomically(const std::string& Path, const std::string& Data, unsigned Mode) {
    const size_t slash = Path.rfind('/');
    const std::string dir =
        slash == std::string::npos ? std::string(".") : (slash == 0 ? "/" : Path.substr(0, slash));
    RemoveStaleTemporaries(dir, slash == std::string::npos ? Path : Path.substr(slash + 1));
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
    const int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
}

} // namespace quillo
