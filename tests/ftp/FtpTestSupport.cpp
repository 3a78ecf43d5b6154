#include "FtpTestSupport.h"
#include "NetTestServers.h"

#include "support/TestEnvironment.h"

#include <QFile>

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <regex>

namespace quillo::test {

QByteArray PatternBytes(int64_t Size, uint32_t Seed) {
    QByteArray Data(static_cast<qsizetype>(Size), Qt::Uninitialized);
    uint32_t X = Seed * 2654435761u + 12345u;
    for (int64_t I = 0; I < Size; ++I) {
        X ^= X << 13;
        X ^= X >> 17;
        X ^= X << 5;
        Data[static_cast<qsizetype>(I)] = static_cast<char>(X >> 24);
    }
    return Data;
}

std::string WriteScratchFile(const QByteArray& Data, const QString& Name) {
    const QString Path = MakeScratchDir(QStringLiteral("ftpfile")) + QStringLiteral("/") + Name;
    QFile F(Path);
    if (!F.open(QIODevice::WriteOnly) || F.write(Data) != Data.size())
        return {};
    return Path.toStdString();
}

bool TLoggingDante::Start() {
    return TDanteProxy::Start(true);
}

int TLoggingDante::ConnectionsTo(int Port) const {
    // A relayed connect is logged as "... pass(1): tcp/connect [: 127.0.0.1.A 127.0.0.1.B ->
    // 127.0.0.1.C 127.0.0.1.PORT" (the arrow's right side ends with the target).
    const std::string Log = Output();
    const std::regex Line("tcp/connect \\[:[^\\n]*-> [0-9.]+ 127\\.0\\.0\\.1\\." + std::to_string(Port) +
                          "\\b");
    return static_cast<int>(
        std::distance(std::sregex_iterator(Log.begin(), Log.end(), Line), std::sregex_iterator()));
}

int TLoggingDante::RelayedConnections() const {
    const std::string Log = Output();
    int Count = 0;
    for (size_t At = Log.find("tcp/connect"); At != std::string::npos; At = Log.find("tcp/connect", At + 1))
        ++Count;
    return Count;
}

bool TFtpProxy::Start(int DefaultServerPort) {
    FPort = FreeLoopbackPort();
    const std::string Config = "ServerType standalone\n"
                               "Listen 127.0.0.1\n"
                               "Port " +
                               std::to_string(FPort) +
                               "\n"
                               "DestinationAddress 127.0.0.1\n"
                               "DestinationPort " +
                               std::to_string(DefaultServerPort) +
                               "\n"
                               "AllowMagicUser yes\n"
                               "DestinationTransferMode passive\n"
                               "LogDestination " +
                               MakeScratchDir(QStringLiteral("ftplog")).toStdString() + "/ftp-proxy.log\n";
    return Launch("/usr/sbin/ftp-proxy", Config, "ftp-proxy.conf", "-d -n");
}

TScriptedFtpServer::TScriptedFtpServer(std::string Greeting, std::map<std::string, std::string> Replies)
    : FGreeting(std::move(Greeting)), FReplies(std::move(Replies)) {
    FListener = ListenOnLoopback("127.0.0.1", FPort);
    FThread = std::thread([this] { Serve(); });
}

TScriptedFtpServer::~TScriptedFtpServer() {
    ::shutdown(FListener, SHUT_RDWR);
    ::close(FListener);
    FThread.join();
}

std::vector<std::string> TScriptedFtpServer::Received() {
    std::lock_guard<std::mutex> Guard(FLock);
    return FReceived;
}

void TScriptedFtpServer::Serve() {
    pollfd P{FListener, POLLIN, 0};
    if (::poll(&P, 1, 20000) <= 0)
        return;
    const int Fd = ::accept4(FListener, nullptr, nullptr, SOCK_CLOEXEC);
    if (Fd < 0)
        return;
    auto Send = [Fd](const std::string& Text) { (void)!::send(Fd, Text.data(), Text.size(), MSG_NOSIGNAL); };
    Send(FGreeting);
    std::string Buffer;
    char Chunk[1024];
    for (;;) {
        const size_t Lf = Buffer.find("\r\n");
        if (Lf == std::string::npos) {
            pollfd Q{Fd, POLLIN, 0};
            if (::poll(&Q, 1, 20000) <= 0)
                break;
            const ssize_t N = ::recv(Fd, Chunk, sizeof Chunk, 0);
            if (N <= 0)
                break;
            Buffer.append(Chunk, static_cast<size_t>(N));
            continue;
        }
        const std::string Line = Buffer.substr(0, Lf);
        Buffer.erase(0, Lf + 2);
        {
            std::lock_guard<std::mutex> Guard(FLock);
            FReceived.push_back(Line);
        }
        const std::string Verb = Line.substr(0, Line.find(' '));
        if (Verb == "QUIT") {
            Send("221 Bye.\r\n");
            break;
        }
        const auto It = FReplies.find(Verb);
        Send(It == FReplies.end() ? std::string("500 Unknown command.\r\n") : It->second);
    }
    ::close(Fd);
}

} // namespace quillo::test
