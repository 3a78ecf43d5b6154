#pragma once
// A private Xvfb for one test: it picks a free display number itself (-displayfd), listens on
// no TCP port, and is ended by its owner, whatever happened in the test.

#include <QString>

#include <sys/types.h>

namespace quillo::test {

class TXServer final {
public:
    TXServer() = default;
    ~TXServer() { Stop(); }
    TXServer(const TXServer&) = delete;
    TXServer& operator=(const TXServer&) = delete;

    // Starts Xvfb with one screen of Width x Height and waits until it takes connections.
    // False with Error set when it does not come up; its output goes to LogFile.
    bool Start(int Width, int Height, const QString& LogFile, QString& Error);
    // Ends the server (SIGTERM, then SIGKILL) and reaps it; harmless when it never started.
    void Stop();
    // False once the server has ended (it is then reaped).
    bool Running();

    // ":N", for DISPLAY.
    QString Display() const { return QStringLiteral(":%1").arg(FDisplay); }

private:
    pid_t FPid = -1;
    int FDisplay = -1;
};

} // namespace quillo::test
