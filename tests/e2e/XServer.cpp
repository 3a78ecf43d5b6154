#include "XServer.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QThread>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace quillo::test {

bool TXServer::Start(int Width, int Height, const QString& LogFile, QString& Error) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        Error = QStringLiteral("pipe: %1").arg(QString::fromLocal8Bit(strerror(errno)));
        return false;
    }
    // Everything the child needs is prepared before fork: only async-signal-safe calls after it.
    const std::string fdText = std::to_string(fds[1]);
    const std::string screen = std::to_string(Width) + "x" + std::to_string(Height) + "x24";
    const QByteArray log = LogFile.toLocal8Bit();
    std::vector<const char*> argv = {"Xvfb",    "-displayfd", fdText.c_str(), "-nolisten", "tcp",
                                     "-screen", "0",          screen.c_str(), "-noreset",  nullptr};

    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid < 0) {
        Error = QStringLiteral("fork: %1").arg(QString::fromLocal8Bit(strerror(errno)));
        ::close(fds[0]);
        ::close(fds[1]);
        return false;
    }
    if (pid == 0) {
        // Should the test process die without its clean-up, the server goes with it (and the
        // programs on it lose their display and end).
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent)
            ::_exit(127);
        ::close(fds[0]);
        ::fcntl(fds[1], F_SETFD, 0); // the server writes its display number here
        const int out = ::open(log.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (out >= 0) {
            ::dup2(out, 1);
            ::dup2(out, 2);
        }
        const int in = ::open("/dev/null", O_RDONLY);
        if (in >= 0)
            ::dup2(in, 0);
        ::execvp("Xvfb", const_cast<char* const*>(argv.data()));
        ::_exit(127);
    }
    FPid = pid;
    ::close(fds[1]);

    // The number arrives followed by a line break once the server accepts connections.
    std::string text;
    QDeadlineTimer deadline(60000);
    while (text.find('\n') == std::string::npos && !deadline.hasExpired()) {
        pollfd p{fds[0], POLLIN, 0};
        const int r = ::poll(&p, 1, 200);
        if (r < 0 && errno != EINTR)
            break;
        if (r <= 0)
            continue;
        char buf[32];
        const ssize_t n = ::read(fds[0], buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break; // the server ended without naming a display
        text.append(buf, size_t(n));
    }
    ::close(fds[0]);
    bool ok = false;
    const int display = QString::fromStdString(text).trimmed().toInt(&ok);
    if (!ok || text.find('\n') == std::string::npos) {
        Error = QStringLiteral("Xvfb did not report a display within 60 s (output in %1)").arg(LogFile);
        Stop();
        return false;
    }
    FDisplay = display;
    return true;
}

bool TXServer::Running() {
    if (FPid <= 0)
        return false;
    if (::waitpid(FPid, nullptr, WNOHANG) == 0)
        return true;
    FPid = -1; // reaped: never signal that number again
    return false;
}

void TXServer::Stop() {
    if (FPid <= 0)
        return;
    ::kill(FPid, SIGTERM);
    QDeadlineTimer deadline(10000);
    while (!deadline.hasExpired()) {
        const pid_t r = ::waitpid(FPid, nullptr, WNOHANG);
        if (r == FPid || (r < 0 && errno == ECHILD)) {
            FPid = -1;
            return;
        }
        QThread::msleep(20);
    }
    ::kill(FPid, SIGKILL);
    ::waitpid(FPid, nullptr, 0);
    FPid = -1;
}

} // namespace quillo::test
