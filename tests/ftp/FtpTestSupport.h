#pragma once
// Helpers of the FTP tests: test files with known content, and Debian's proxies configured for
// FTP (dante's sockd logging every connection it relays, proxy-suite's ftp-proxy taking the
// target from "USER user@host:port").

#include "ProxyFixtures.h"

#include <QByteArray>
#include <QString>

#include <string>

namespace quillo::test {

// Deterministic pseudo-random bytes (so a shifted or repeated block is noticed).
QByteArray PatternBytes(int64_t Size, uint32_t Seed = 1);
// Writes the bytes into a new scratch file and returns its path.
std::string WriteScratchFile(const QByteArray& Data, const QString& Name = QStringLiteral("upload.bin"));

// sockd (SOCKS 4/5, no authentication) that logs each relayed connection, so a test can see
// which connections went through it.
class TLoggingDante final : public TProxyProcess {
public:
    bool Start();
    // How many relayed TCP connections to 127.0.0.1:Port the log shows.
    int ConnectionsTo(int Port) const;
};

// proxy-suite's ftp-proxy in standalone mode on a loopback port, accepting "USER user@host:port".
class TFtpProxy final : public TProxyProcess {
public:
    bool Start(int DefaultServerPort);
};

} // namespace quillo::test
