#include "ProxyFixtures.h"

#include "support/TestEnvironment.h"

#include <QProcess>
#include <QThread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <fstream>

namespace quillo::test {

int FreeLoopbackPort() {
    const int Fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in A{};
    A.sin_family = AF_INET;
    A.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(Fd, reinterpret_cast<sockaddr*>(&A), sizeof A);
    socklen_t Len = sizeof A;
    ::getsockname(Fd, reinterpret_cast<sockaddr*>(&A), &Len);
    ::close(Fd);
    return ntohs(A.sin_port);
}

bool WaitForListener(int Port, int TimeoutMs) {
    const auto Deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(TimeoutMs);
    while (std::chrono::steady_clock::now() < Deadline) {
        const int Fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in A{};
        A.sin_family = AF_INET;
        A.sin_port = htons(static_cast<uint16_t>(Port));
        A.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const bool Ok = ::connect(Fd, reinterpret_cast<sockaddr*>(&A), sizeof A) == 0;
        ::close(Fd);
        if (Ok)
            return true;
        QThread::msleep(20);
    }
    return false;
}

TProxyProcess::TProxyProcess() = default;

TProxyProcess::~TProxyProcess() {
    Stop();
}

void TProxyProcess::Stop() {
    if (FProcess && FProcess->state() != QProcess::NotRunning) {
        FProcess->terminate();
        if (!FProcess->waitForFinished(3000)) {
            FProcess->kill();
            FProcess->waitForFinished(3000);
        }
    }
}

std::string TProxyProcess::Output() const {
    std::ifstream In(FDir + "/output.log");
    return std::string(std::istreambuf_iterator<char>(In), {});
}

bool TProxyProcess::Launch(const std::string& Program, const std::string& ConfigText,
                           const std::string& ConfigName, const std::string& ExtraArg) {
    FDir = MakeScratchDir(QStringLiteral("proxy")).toStdString();
    // Running as root, the proxies switch to "nobody" and must still reach their folder.
    ::chmod(FDir.c_str(), 0755);
    const std::string ConfigPath = FDir + "/" + ConfigName;
    std::ofstream(ConfigPath) << ConfigText;
    FProcess = std::make_unique<QProcess>();
    FProcess->setProcessChannelMode(QProcess::MergedChannels);
    FProcess->setStandardOutputFile(QString::fromStdString(FDir + "/output.log"));
    QStringList Args{QStringLiteral("-f"), QString::fromStdString(ConfigPath)};
    if (Program == "tinyproxy")
        Args = {QStringLiteral("-d"), QStringLiteral("-c"), QString::fromStdString(ConfigPath)};
    if (!ExtraArg.empty()) {
        std::string Extra = ExtraArg;
        if (const size_t At = Extra.find("{DIR}"); At != std::string::npos)
            Extra.replace(At, 5, FDir);
        Args << QString::fromStdString(Extra).split(' ');
    }
    FProcess->start(QString::fromStdString(Program), Args);
    if (!FProcess->waitForStarted(5000)) {
        FError = Program + " did not start: " + FProcess->errorString().toStdString();
        return false;
    }
    if (!WaitForListener(FPort, 10000)) {
        FError = Program + " does not listen on port " + std::to_string(FPort) + ": " + Output();
        Stop();
        return false;
    }
    return true;
}

bool TTinyProxy::Start(const std::string& User, const std::string& Password) {
    FPort = FreeLoopbackPort();
    std::string Config = "User nobody\nGroup nogroup\nPort " + std::to_string(FPort) +
                         "\nListen 127.0.0.1\nTimeout 30\nMaxClients 50\nAllow 127.0.0.0/8\n"
                         "DisableViaHeader Yes\nLogLevel Info\n";
    if (!User.empty())
        Config += "BasicAuth " + User + " " + Password + "\n";
    return Launch("tinyproxy", Config, "tinyproxy.conf", {});
}

bool TDanteProxy::Start(bool LogConnects) {
    FPort = FreeLoopbackPort();
    const std::string Config = "logoutput: stderr\n"
                               "internal: 127.0.0.1 port = " +
                               std::to_string(FPort) +
                               "\nexternal: 127.0.0.1\n"
                               "clientmethod: none\nsocksmethod: none\n"
                               "user.privileged: root\nuser.unprivileged: nobody\n"
                               "client pass { from: 127.0.0.0/8 to: 0.0.0.0/0 }\n"
                               "socks pass { from: 127.0.0.0/8 to: 127.0.0.0/8" +
                               std::string(LogConnects ? " log: connect" : "") +
                               " }\n"
                               "socks block { from: 0.0.0.0/0 to: 0.0.0.0/0 }\n";
    return Launch("danted", Config, "danted.conf", "-N 1 -p {DIR}/danted.pid");
}

} // namespace quillo::test
