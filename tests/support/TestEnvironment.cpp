#include "support/TestEnvironment.h"

#include <QAtomicInt>
#include <QDir>
#include <QTemporaryDir>

#include <cstdlib>
#include <memory>

namespace quillo::test {

namespace {
std::unique_ptr<QTemporaryDir>& Root() {
    static std::unique_ptr<QTemporaryDir> root;
    return root;
}
QAtomicInt gCounter;

void SetEnv(const char* name, const QString& value) {
    ::setenv(name, value.toLocal8Bit().constData(), 1);
}
} // namespace

QString ScratchRoot() { return Root() ? Root()->path() : QString(); }

QString MakeScratchDir(const QString& hint) {
    const QString path =
        ScratchRoot() + QStringLiteral("/%1-%2").arg(hint).arg(gCounter.fetchAndAddRelaxed(1));
    QDir().mkpath(path);
    return path;
}

QString UseFreshHome() {
    const QString home = MakeScratchDir(QStringLiteral("home"));
    SetEnv("QUILLO_HOME", home);
    return home;
}

QString ShutdownRecordFile() { return ScratchRoot() + QStringLiteral("/shutdown-requests.txt"); }

void InstallTestEnvironment() {
    Root() = std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/quillo-test-XXXXXX"));
    const QString root = Root()->path();
    QDir().mkpath(root + QStringLiteral("/home"));
    QDir().mkpath(root + QStringLiteral("/xdg-config"));
    QDir().mkpath(root + QStringLiteral("/quillo-home"));
    SetEnv("HOME", root + QStringLiteral("/home"));
    SetEnv("XDG_CONFIG_HOME", root + QStringLiteral("/xdg-config"));
    SetEnv("QUILLO_HOME", root + QStringLiteral("/quillo-home"));
    // A recorder instead of a power-off: appends a line to a file inside the scratch root.
    SetEnv("QUILLO_SHUTDOWN_COMMAND",
           QStringLiteral("sh -c 'echo shutdown >> \"%1\"'").arg(ShutdownRecordFile()));
    if (!std::getenv("QT_QPA_PLATFORM"))
        SetEnv("QT_QPA_PLATFORM", QStringLiteral("offscreen"));
    // Never reach beyond loopback through a proxy inherited from the caller's environment.
    for (const char* v : {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy",
                          "ALL_PROXY", "ftp_proxy", "FTP_PROXY"})
        ::unsetenv(v);
    SetEnv("no_proxy", QStringLiteral("*"));
}

} // namespace quillo::test
