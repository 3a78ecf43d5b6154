#pragma once
// SIGTERM, SIGINT and SIGHUP (the system shutting down, a terminal closing, `kill`) end the
// program through its own close steps on the user-interface thread instead of killing it where
// it stands, so running uploads are stopped and recorded as Delayed and the settings are saved.

#include <functional>

class QObject;

namespace quillo {

// Needs the application object. Handler runs on the thread of the event loop, once per signal
// delivery that the loop sees, for as long as Owner (the application when null) lives. Once per
// process; false when the signals could not be routed (they then keep their default action).
bool InstallTerminationHandler(std::function<void()> Handler, QObject* Owner = nullptr);

} // namespace quillo
