#include "NetTestServers.h"

#include "core/app/MyUtils.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace quillo::test {

int ListenOnLoopback(const std::string& Ip, int& Port) {
    const int Fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int One = 1;
    ::setsockopt(Fd, SOL_SOCKET, SO_REUSEADDR, &One, sizeof One);
    sockaddr_in A{};
    A.sin_family = AF_INET;
    if (::inet_pton(AF_INET, Ip.c_str(), &A.sin_addr) != 1 || (ntohl(A.sin_addr.s_addr) >> 24) != 127)
        throw std::runtime_error("test servers listen on loopback only, not " + Ip);
    if (::bind(Fd, reinterpret_cast<sockaddr*>(&A), sizeof A) != 0 || ::listen(Fd, 64) != 0)
        throw std::runtime_error("cannot listen on " + Ip + ": " + std::strerror(errno));
    socklen_t Len = sizeof A;
    ::getsockname(Fd, reinterpret_cast<sockaddr*>(&A), &Len);
    Port = ntohs(A.sin_port);
    return Fd;
}

namespace {

// Accepts until the stop pipe fires; each connection goes to Serve on its own thread.
template <class F>
void AcceptUntilStopped(int ListenFd, int StopFd, std::mutex& Lock, std::vector<std::thread>& Workers,
                        F Serve) {
    for (;;) {
        if (!WaitReadable(ListenFd, StopFd))
            return;
        sockaddr_in Peer{};
        socklen_t Len = sizeof Peer;
        const int Fd = ::accept4(ListenFd, reinterpret_cast<sockaddr*>(&Peer), &Len, SOCK_CLOEXEC);
        if (Fd < 0)
            continue;
        char Ip[INET_ADDRSTRLEN] = {};
        ::inet_ntop(AF_INET, &Peer.sin_addr, Ip, sizeof Ip);
        std::lock_guard<std::mutex> Guard(Lock);
        Workers.emplace_back([=] { Serve(Fd, std::string(Ip)); });
    }
}

void StopAll(int StopPipe[2], int& ListenFd, std::thread& Acceptor, std::mutex& Lock,
             std::vector<std::thread>& Workers) {
    const char X = 'x';
    (void)!::write(StopPipe[1], &X, 1);
    if (Acceptor.joinable())
        Acceptor.join();
    std::vector<std::thread> All;
    {
        std::lock_guard<std::mutex> Guard(Lock);
        All.swap(Workers);
    }
    for (std::thread& T : All)
        T.join();
    ::close(ListenFd);
    ::close(StopPipe[0]);
    ::close(StopPipe[1]);
}

} // namespace

bool WaitReadable(int Fd, int StopFd) {
    pollfd P[2] = {{Fd, POLLIN, 0}, {StopFd, POLLIN, 0}};
    for (;;) {
        const int Rc = ::poll(P, 2, -1);
        if (Rc < 0 && errno == EINTR)
            continue;
        if (P[1].revents)
            return false;
        return true;
    }
}

bool ReadExact(int Fd, void* Buffer, size_t Size) {
    auto* P = static_cast<char*>(Buffer);
    while (Size) {
        const ssize_t N = ::recv(Fd, P, Size, 0);
        if (N < 0 && errno == EINTR)
            continue;
        if (N <= 0)
            return false;
        P += N;
        Size -= static_cast<size_t>(N);
    }
    return true;
}

bool WriteAll(int Fd, const void* Buffer, size_t Size) {
    const auto* P = static_cast<const char*>(Buffer);
    while (Size) {
        const ssize_t N = ::send(Fd, P, Size, MSG_NOSIGNAL);
        if (N < 0 && errno == EINTR)
            continue;
        if (N <= 0)
            return false;
        P += N;
        Size -= static_cast<size_t>(N);
    }
    return true;
}

std::string TCapturedRequest::Header(const std::string& Name) const {
    for (const auto& [N, V] : Headers)
        if (SameTextAscii(N, Name))
            return V;
    return {};
}

bool TCapturedRequest::HasHeader(const std::string& Name) const {
    return std::any_of(Headers.begin(), Headers.end(),
                       [&](const auto& H) { return SameTextAscii(H.first, Name); });
}

TLoopbackHttpServer::TLoopbackHttpServer(TResponder Responder)
    : TLoopbackHttpServer(std::move(Responder), TOptions{}) {}

TLoopbackHttpServer::TLoopbackHttpServer(TResponder Responder, TOptions Options)
    : FResponder(std::move(Responder)), FOptions(std::move(Options)) {
    if (::pipe2(FStopPipe, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe");
    FListenFd = ListenOnLoopback(FOptions.Ip, FPort);
    FAcceptThread = std::thread([this] { AcceptLoop(); });
}

TLoopbackHttpServer::~TLoopbackHttpServer() {
    StopAll(FStopPipe, FListenFd, FAcceptThread, FLock, FWorkers);
}

void TLoopbackHttpServer::AcceptLoop() {
    AcceptUntilStopped(FListenFd, FStopPipe[0], FLock, FWorkers,
                       [this](int Fd, std::string Ip) { Serve(Fd, std::move(Ip)); });
}

std::string TLoopbackHttpServer::Url(const std::string& Path) const {
    return "http://127.0.0.1:" + std::to_string(FPort) + Path;
}

std::vector<TCapturedRequest> TLoopbackHttpServer::Requests() const {
    std::lock_guard<std::mutex> Guard(FLock);
    return FRequests;
}

std::string TLoopbackHttpServer::Reply(const std::string& Status, const std::string& Body,
                                       const std::vector<std::string>& ExtraHeaders) {
    std::string R = "HTTP/1.1 " + Status + "\r\nContent-Length: " + std::to_string(Body.size()) +
                    "\r\nConnection: close\r\n";
    for (const std::string& H : ExtraHeaders)
        R += H + "\r\n";
    return R + "\r\n" + Body;
}

void TLoopbackHttpServer::Serve(int Fd, std::string PeerIp) {
    const int Stop = FStopPipe[0];
    TCapturedRequest Req;
    Req.PeerIp = std::move(PeerIp);
    std::string Data;
    char Buf[65536];
    size_t HeadEnd = std::string::npos;
    while ((HeadEnd = Data.find("\r\n\r\n")) == std::string::npos) {
        if (!WaitReadable(Fd, Stop)) {
            ::close(Fd);
            return;
        }
        const ssize_t N = ::recv(Fd, Buf, sizeof Buf, 0);
        if (N <= 0) {
            ::close(Fd);
            return;
        }
        Data.append(Buf, static_cast<size_t>(N));
    }
    Req.Head = Data.substr(0, HeadEnd + 4);
    Data.erase(0, HeadEnd + 4);
    size_t Pos = Req.Head.find("\r\n");
    const std::string RequestLine = Req.Head.substr(0, Pos);
    const size_t Sp1 = RequestLine.find(' '), Sp2 = RequestLine.rfind(' ');
    Req.Method = RequestLine.substr(0, Sp1);
    Req.Target = RequestLine.substr(Sp1 + 1, Sp2 - Sp1 - 1);
    while (Pos + 2 < HeadEnd) {
        const size_t Next = Req.Head.find("\r\n", Pos + 2);
        const std::string Line = Req.Head.substr(Pos + 2, Next - Pos - 2);
        const size_t Colon = Line.find(':');
        if (Colon != std::string::npos) {
            size_t V = Colon + 1;
            while (V < Line.size() && Line[V] == ' ')
                ++V;
            Req.Headers.emplace_back(Line.substr(0, Colon), Line.substr(V));
        }
        Pos = Next;
    }
    if (FOptions.StallAfterHead) {
        {
            std::lock_guard<std::mutex> Guard(FLock);
            FRequests.push_back(Req);
        }
        pollfd P{Stop, POLLIN, 0};
        ::poll(&P, 1, -1);
        ::close(Fd);
        return;
    }
    const std::string LengthText = Req.Header("Content-Length");
    int64_t Remaining = LengthText.empty() ? 0 : std::stoll(LengthText);
    auto Take = [&](const char* P, size_t N) {
        if (FOptions.KeepBody)
            Req.Body.append(P, N);
        Req.BodyLength += static_cast<int64_t>(N);
        Remaining -= static_cast<int64_t>(N);
    };
    Take(Data.data(), std::min<size_t>(Data.size(), static_cast<size_t>(std::max<int64_t>(Remaining, 0))));
    while (Remaining > 0) {
        if (!WaitReadable(Fd, Stop))
            break;
        const ssize_t N = ::recv(Fd, Buf, static_cast<size_t>(std::min<int64_t>(Remaining, sizeof Buf)), 0);
        if (N <= 0)
            break;
        Take(Buf, static_cast<size_t>(N));
    }
    {
        std::lock_guard<std::mutex> Guard(FLock);
        FRequests.push_back(Req);
    }
    const std::string Response = FResponder ? FResponder(Req) : Reply("200 OK", "OK");
    if (Response.empty()) {
        pollfd P{Stop, POLLIN, 0};
        ::poll(&P, 1, -1);
    } else {
        WriteAll(Fd, Response.data(), Response.size());
        ::shutdown(Fd, SHUT_WR);
        // Let the client close first so that no reset cuts the answer short.
        pollfd P[2] = {{Fd, POLLIN, 0}, {Stop, POLLIN, 0}};
        while (::poll(P, 2, 5000) > 0 && !P[1].revents && ::recv(Fd, Buf, sizeof Buf, 0) > 0) {
        }
    }
    ::close(Fd);
}

TMiniSocksServer::TMiniSocksServer(std::string User, std::string Password)
    : FUser(std::move(User)), FPassword(std::move(Password)) {
    if (::pipe2(FStopPipe, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe");
    FListenFd = ListenOnLoopback("127.0.0.1", FPort);
    FAcceptThread = std::thread([this] { AcceptLoop(); });
}

TMiniSocksServer::~TMiniSocksServer() {
    StopAll(FStopPipe, FListenFd, FAcceptThread, FLock, FWorkers);
}

void TMiniSocksServer::AcceptLoop() {
    AcceptUntilStopped(FListenFd, FStopPipe[0], FLock, FWorkers, [this](int Fd, std::string) { Serve(Fd); });
}

std::vector<TMiniSocksServer::TSession> TMiniSocksServer::Sessions() const {
    std::lock_guard<std::mutex> Guard(FLock);
    return FSessions;
}

namespace {

bool ReadCString(int Fd, std::string& Out) {
    char C;
    while (ReadExact(Fd, &C, 1)) {
        if (C == 0)
            return true;
        Out.push_back(C);
    }
    return false;
}

// Only loopback targets: the tests never send traffic anywhere else.
int ConnectLoopback(const std::string& Host, int Port) {
    std::string Ip = Host == "localhost" ? "127.0.0.1" : Host;
    sockaddr_in A{};
    A.sin_family = AF_INET;
    A.sin_port = htons(static_cast<uint16_t>(Port));
    if (::inet_pton(AF_INET, Ip.c_str(), &A.sin_addr) != 1 || (ntohl(A.sin_addr.s_addr) >> 24) != 127)
        return -1;
    const int Fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (::connect(Fd, reinterpret_cast<sockaddr*>(&A), sizeof A) != 0) {
        ::close(Fd);
        return -1;
    }
    return Fd;
}

void Relay(int A, int B, int Stop) {
    char Buf[65536];
    pollfd P[3] = {{A, POLLIN, 0}, {B, POLLIN, 0}, {Stop, POLLIN, 0}};
    while (::poll(P, 3, -1) > 0 && !P[2].revents) {
        for (int I = 0; I < 2; ++I) {
            if (!P[I].revents)
                continue;
            const ssize_t N = ::recv(P[I].fd, Buf, sizeof Buf, 0);
            if (N <= 0 || !WriteAll(P[1 - I].fd, Buf, static_cast<size_t>(N)))
                return;
        }
    }
}

} // namespace

void TMiniSocksServer::Serve(int Fd) {
    TSession S;
    unsigned char Ver = 0;
    int Target = -1;
    auto Record = [&] {
        std::lock_guard<std::mutex> Guard(FLock);
        FSessions.push_back(S);
    };
    if (!ReadExact(Fd, &Ver, 1)) {
        ::close(Fd);
        return;
    }
    S.Version = Ver;
    if (Ver == 4) {
        unsigned char H[7];
        if (ReadExact(Fd, H, 7) && ReadCString(Fd, S.UserId)) {
            S.TargetPort = H[1] << 8 | H[2];
            char Ip[INET_ADDRSTRLEN] = {};
            ::inet_ntop(AF_INET, H + 3, Ip, sizeof Ip);
            S.TargetHost = Ip;
            const bool Is4A = H[3] == 0 && H[4] == 0 && H[5] == 0 && H[6] != 0;
            bool Ok = true;
            if (Is4A) {
                S.TargetHost.clear();
                Ok = ReadCString(Fd, S.TargetHost);
            }
            if (Ok && (FUser.empty() || S.UserId == FUser))
                Target = ConnectLoopback(S.TargetHost, S.TargetPort);
            S.Granted = Target >= 0;
            const unsigned char Reply[8] = {0, static_cast<unsigned char>(S.Granted ? 90 : 91), 0, 0, 0, 0, 0,
                                            0};
            WriteAll(Fd, Reply, 8);
        }
    } else if (Ver == 5) {
        unsigned char N = 0;
        unsigned char Methods[255];
        bool Ok = ReadExact(Fd, &N, 1) && ReadExact(Fd, Methods, N);
        const bool WantAuth = !FUser.empty();
        const unsigned char Need = WantAuth ? 2 : 0;
        Ok = Ok && std::find(Methods, Methods + N, Need) != Methods + N;
        const unsigned char Choice[2] = {5, static_cast<unsigned char>(Ok ? Need : 0xFF)};
        WriteAll(Fd, Choice, 2);
        if (Ok && WantAuth) {
            unsigned char V = 0, L = 0;
            char Text[256];
            Ok = ReadExact(Fd, &V, 1) && ReadExact(Fd, &L, 1) && ReadExact(Fd, Text, L);
            if (Ok)
                S.UserId.assign(Text, L);
            Ok = Ok && ReadExact(Fd, &L, 1) && ReadExact(Fd, Text, L);
            if (Ok)
                S.Password.assign(Text, L);
            Ok = Ok && S.UserId == FUser && S.Password == FPassword;
            const unsigned char Status[2] = {1, static_cast<unsigned char>(Ok ? 0 : 1)};
            WriteAll(Fd, Status, 2);
        }
        unsigned char R[4];
        if (Ok && ReadExact(Fd, R, 4)) {
            if (R[3] == 1) {
                unsigned char Ip[4];
                char Text[INET_ADDRSTRLEN] = {};
                Ok = ReadExact(Fd, Ip, 4);
                ::inet_ntop(AF_INET, Ip, Text, sizeof Text);
                S.TargetHost = Text;
            } else if (R[3] == 3) {
                unsigned char L = 0;
                char Text[256];
                Ok = ReadExact(Fd, &L, 1) && ReadExact(Fd, Text, L);
                S.TargetHost.assign(Text, Ok ? L : 0);
            } else {
                Ok = false;
            }
            unsigned char P[2];
            Ok = Ok && ReadExact(Fd, P, 2);
            S.TargetPort = P[0] << 8 | P[1];
            if (Ok)
                Target = ConnectLoopback(S.TargetHost, S.TargetPort);
            S.Granted = Target >= 0;
            const unsigned char Reply[10] = {
                5, static_cast<unsigned char>(S.Granted ? 0 : 5), 0, 1, 0, 0, 0, 0, 0, 0};
            WriteAll(Fd, Reply, 10);
        }
    }
    Record();
    if (Target >= 0) {
        Relay(Fd, Target, FStopPipe[0]);
        ::close(Target);
    }
    ::close(Fd);
}

} // namespace quillo::test
