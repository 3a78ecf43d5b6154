#pragma once
// Test-process isolation: every test executable points the program's data folder, the XDG
// config folder (autostart entries live there), HOME and the shutdown command at a throw-away
// folder before any test runs, so no test can reach the real session's files or power off.

#include <QString>

namespace quillo::test {

// The per-process scratch root created by the test main; removed when the process ends.
QString ScratchRoot();

// A fresh, empty folder below ScratchRoot(), unique per call.
QString MakeScratchDir(const QString& hint = QStringLiteral("t"));

// Points QUILLO_HOME at a fresh empty folder and returns it. Use in fixtures whose cases
// must not see each other's quillo.ini or quillo.jobs.
QString UseFreshHome();

// Path of the file that the harmless stand-in shutdown command appends to when "run".
QString ShutdownRecordFile();

// Installs the environment; called by the test mains before InitGoogleTest.
void InstallTestEnvironment();

} // namespace quillo::test
