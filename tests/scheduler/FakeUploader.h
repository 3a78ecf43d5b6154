#pragma once
// An upload method for scheduler tests that never touches the network: each upload waits until
// the test decides its outcome (by file name), or until it is stopped. Registered as
// "Fake Method" beside the built-in methods.

#include "core/engine/Uploader.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>

#include <functional>
#include <string>

namespace quillo::test {

inline constexpr const char* FakeMethodName = "Fake Method";

enum TFakeOutcome { foPending, foSucceed, foFail };

// Outcome of every upload of FileName from now on.
void SetFakeOutcome(const std::string& FileName, TFakeOutcome Outcome);
// How long a stopped fake upload takes to notice the stop (the scheduler then waits that long
// inside the thread's destruction, serving events).
void SetFakeAbortDelayMs(int Ms);
// Forgets every outcome and delay.
void ResetFakeUploads();
// Registers the built-in methods and "Fake Method" unless they are there.
void EnsureFakeMethodRegistered();
// Leaves only the built-in methods registered: for tests that share their process with tests
// that list the registered methods.
void RemoveFakeMethod();

// Serves the event loop until Done() holds; false after TimeoutMs.
inline bool WaitUntil(const std::function<bool()>& Done, int TimeoutMs = 10000) {
    QDeadlineTimer deadline(TimeoutMs);
    while (!Done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

} // namespace quillo::test
