#pragma once
// The ground a test of the main window stands on: a fresh data folder with the default settings,
// the service's site on a closed loopback port (should a task ever start, it stays there) and no
// speed limit left over from another test.

#include "core/app/Settings.h"
#include "core/net/IdStackWindowsEx.h"
#include "support/TestEnvironment.h"

#include <QString>

#include <cstdlib>

namespace quillo::test {

// Returns the data folder.
inline QString UseOfflineHome() {
    const QString home = UseFreshHome();
    ::setenv("QUILLO_SITE", "127.0.0.1:9", 1);
    CommitSettings(TAppSettings{});
    TIdStackWindowsEx::Instance().SendLimit = 0;
    return home;
}

} // namespace quillo::test
