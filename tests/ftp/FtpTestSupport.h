#pragma once
// Helpers of the FTP tests: test files with known content, and Debian's proxies configured for
// FTP (dante's sockd logging every connection it relays, proxy-suite's ftp-proxy taking the
// target from "USER user@host:port").

#include "ProxyFixtures.h"

#include <QByteArray>
#include <QString>

#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace quillo::test {

// Deterministic pseudo-random bytes (so a shifted or repeated block is noticed).
QByteArray PatternBytes(int64_t Size, uint32_t Seed = 1);
// Writes the bytes into a new scratch file and returns its path.
std::string WriteScratchFile(const QByteArray& Data, const QString& Name = QStringLiteral("upload.bin"));

// sockd (SOCKS 4/5, no authentication) that logs each relayed connection, so a test can see
// which connections went through it.
class TLoggingDante final : public TDanteProxy {
public:
    bool Start();
    // How many relayed TCP connections to 127.0.0.1:Port the log shows.
    int ConnectionsTo(int Port) const;
    // How many relayed TCP connections the log shows, whatever their target.
    int RelayedConnections() const;
};

// proxy-suite's ftp-proxy in standalone mode on a loopback port, accepting "USER user@host:port".
class TFtpProxy final : public TProxyProcess {
public:
    bool Start(int DefaultServerPort);
};

// A scripted FTP peer on a loopback port for one control connection: sends Greeting, then
// answers each command line with Replies[verb] (CR LF-separated lines; "500 Unknown command."
// when the verb has none; an empty text sends nothing) and records the lines. QUIT gets "221 Bye." and ends
// the session.
class TScriptedFtpServer final {
public:
    TScriptedFtpServer(std::string Greeting, std::map<std::string, std::string> Replies);
    ~TScriptedFtpServer();
    TScriptedFtpServer(const TScriptedFtpServer&) = delete;
    TScriptedFtpServer& operator=(const TScriptedFtpServer&) = delete;

    int Port() const { return FPort; }
    std::vector<std::string> Received();

private:
    void Serve();
    std::string FGreeting;
    std::map<std::string, std::string> FReplies;
    int FListener = -1;
    int FPort = 0;
    std::mutex FLock;
    std::vector<std::string> FReceived;
    std::thread FThread;
};

} // namespace quillo::test
