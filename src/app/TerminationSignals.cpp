#include "app/TerminationSignals.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>
#include <utility>

namespace quillo {

namespace {

int gSignalPipe[2] = {-1, -1};

// Only async-signal-safe work here: one byte into the pipe wakes the event loop.
void OnSignal(int) {
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(gSignalPipe[1], &byte, 1);
    errno = saved;
}

} // namespace

bool InstallTerminationHandler(std::function<void()> Handler, QObject* Owner) {
    if (gSignalPipe[0] >= 0 || ::pipe2(gSignalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return false;
    auto* notifier = new QSocketNotifier(gSignalPipe[0], QSocketNotifier::Read,
                                         Owner ? Owner : QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [Handler = std::move(Handler)] {
        char buffer[16];
        while (::read(gSignalPipe[0], buffer, sizeof buffer) > 0) {
        }
        Handler();
    });
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int sig : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(sig, &action, nullptr);
    return true;
}

} // namespace quillo
