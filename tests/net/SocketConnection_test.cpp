#include "core/net/SocketConnection.h"

#include "core/net/IdStackWindowsEx.h"
#include "core/net/NetErrors.h"

#include "NetTestServers.h"
#include "ProxyFixtures.h"
#include "RecordingIntercept.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <thread>

namespace quillo {
namespace {

using Clock = std::chrono::steady_clock;
using test::TRecordingIntercept;

// A line peer like an FTP server's control connection: greets, then echoes every byte back
// (kEcho), or greets and then swallows everything and counts it (kSink), or says nothing (kSilent).
class TLinePeer final {
public:
    enum TMode { kEcho, kSink, kSilent };
    explicit TLinePeer(TMode Mode) : FMode(Mode) {
        ::pipe2(FStop, O_CLOEXEC);
        FListen = test::ListenOnLoopback("127.0.0.1", FPort);
        FThread = std::thread([this] { Run(); });
    }
    ~TLinePeer() {
        (void)!::write(FStop[1], "x", 1);
        FThread.join();
        ::close(FListen);
        ::close(FStop[0]);
        ::close(FStop[1]);
    }
    int Port() const { return FPort; }
    std::atomic<int64_t> Received{0};
    std::atomic<bool> Closed{false};
    std::string PeerIp;

private:
    void Run() {
        if (!test::WaitReadable(FListen, FStop[0]))
            return;
        sockaddr_in Peer{};
        socklen_t Len = sizeof Peer;
        const int Fd = ::accept(FListen, reinterpret_cast<sockaddr*>(&Peer), &Len);
        char Ip[INET_ADDRSTRLEN] = {};
        ::inet_ntop(AF_INET, &Peer.sin_addr, Ip, sizeof Ip);
        PeerIp = Ip;
        if (FMode != kSilent)
            test::WriteAll(Fd, "220 ready\r\n", 11);
        char Buf[65536];
        while (test::WaitReadable(Fd, FStop[0])) {
            const ssize_t N = ::recv(Fd, Buf, sizeof Buf, 0);
            if (N <= 0)
                break;
            Received += N;
            if (FMode == kEcho)
                test::WriteAll(Fd, Buf, static_cast<size_t>(N));
        }
        Closed = true;
        ::close(Fd);
    }
    TMode FMode;
    int FStop[2];
    int FListen;
    int FPort = 0;
    std::thread FThread;
};

bool WaitFor(const std::function<bool()>& Done) {
    const auto End = Clock::now() + std::chrono::seconds(5);
    while (!Done() && Clock::now() < End)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return Done();
}

TEST(SocketConnection, ReadsLinesAndWritesThroughTheSendStack) {
    TLinePeer Peer(TLinePeer::kEcho);
    TIdStackWindowsEx Stack;
    TRecordingIntercept Intercept;
    TSocketConnection C;
    C.SetStack(&Stack);
    C.SetIntercept(&Intercept);
    C.Connect("127.0.0.1", Peer.Port());
    EXPECT_TRUE(C.Connected());
    EXPECT_EQ(Intercept.Connects, 1);
    EXPECT_EQ(C.ReadLn(), "220 ready");
    C.WriteLn("USER bob");
    C.Write("bare\nmixed\r\n\r\nlast");
    EXPECT_EQ(C.ReadLn(), "USER bob");
    EXPECT_EQ(C.ReadLn(), "bare");
    EXPECT_EQ(C.ReadLn(), "mixed");
    EXPECT_EQ(C.ReadLn(), "");
    char Buf[4];
    ASSERT_EQ(C.ReadSome(Buf, 4), 4);
    EXPECT_EQ(std::string(Buf, 4), "last");
    EXPECT_EQ(Stack.CountedBytes, 10 + 18);
    EXPECT_EQ(Intercept.Sent, 28);
    EXPECT_EQ(Intercept.Received, 11 + 28);
    C.Disconnect();
    EXPECT_FALSE(C.Connected());
    EXPECT_TRUE(WaitFor([&] { return Peer.Closed.load(); }));
}

TEST(SocketConnection, ALineWithoutEndIsRefusedInsteadOfBufferedForever) {
    TLinePeer Peer(TLinePeer::kEcho);
    TSocketConnection C;
    TProxyConfig Config;
    Config.ReadTimeout = 5000; // without the limit the read would wait for a line end that never comes
    C.SetConfig(Config);
    C.Connect("127.0.0.1", Peer.Port());
    EXPECT_EQ(C.ReadLn(), "220 ready");
    C.WriteLn("short");
    EXPECT_EQ(C.ReadLn(), "short");
    // Exactly the limit is still a line; a few bytes more without a line end are not.
    const std::string AtLimit(TSocketConnection::kMaxLineLength, 'a');
    C.WriteLn(AtLimit);
    EXPECT_EQ(C.ReadLn(), AtLimit);
    C.Write(std::string(TSocketConnection::kMaxLineLength + 4096 * 3, 'b'));
    EXPECT_THROW(C.ReadLn(), EProtocolError);
}

TEST(SocketConnection, BindsToTheConfiguredLocalAddress) {
    TLinePeer Peer(TLinePeer::kEcho);
    TSocketConnection C;
    TProxyConfig Config;
    Config.BoundIP = "127.0.0.2";
    C.SetConfig(Config);
    C.Connect("127.0.0.1", Peer.Port());
    EXPECT_EQ(C.ReadLn(), "220 ready");
    EXPECT_EQ(C.LocalAddress(), "127.0.0.2");
    EXPECT_GT(C.LocalPort(), 0);
    EXPECT_EQ(Peer.PeerIp, "127.0.0.2");
}

TEST(SocketConnection, StreamsAFileInWritesOfTheConfiguredSize) {
    TLinePeer Peer(TLinePeer::kSink);
    const std::string Path = test::MakeScratchDir().toStdString() + "/data.bin";
    std::ofstream(Path, std::ios::binary) << std::string(300000, 'x');
    TFileReader Reader(Path);
    Reader.SetPosition(1000); // a resumed store sends the rest only
    TSocketConnection C;
    C.SetSendBufferSize(8192);
    C.Connect("127.0.0.1", Peer.Port());
    C.ReadLn();
    int64_t Max = -1, Last = 0, Biggest = 0;
    int Ends = 0;
    C.Work.OnWorkBegin = [&](TWorkMode, int64_t CountMax) { Max = CountMax; };
    C.Work.OnWork = [&](TWorkMode, int64_t Count) {
        Biggest = std::max(Biggest, Count - Last);
        Last = Count;
    };
    C.Work.OnWorkEnd = [&](TWorkMode) { ++Ends; };
    EXPECT_EQ(C.WriteStream(Reader), 299000);
    EXPECT_EQ(Max, 299000);
    EXPECT_EQ(Last, 299000);
    EXPECT_LE(Biggest, 8192);
    EXPECT_EQ(Ends, 1);
    C.Disconnect();
    EXPECT_TRUE(WaitFor([&] { return Peer.Received.load() == 299000; }));
}

// The stream takes the file a piece at a time; a change made while the last piece is on its
// way, when nothing is left to read, still fails it.
TEST(SocketConnection, AFileChangedWhileTheLastPieceGoesOutFailsTheStream) {
    const int64_t Sizes[] = {20000, 3 * TSocketConnection::StreamPieceSize + 5000};
    for (const int64_t Size : Sizes) {
        SCOPED_TRACE(testing::Message() << "size " << Size);
        TLinePeer Peer(TLinePeer::kSink);
        const std::string Path = test::MakeScratchDir().toStdString() + "/late.bin";
        std::ofstream(Path, std::ios::binary) << std::string(static_cast<size_t>(Size), 'x');
        TFileReader Reader(Path);
        TSocketConnection C;
        C.SetSendBufferSize(4096);
        C.Connect("127.0.0.1", Peer.Port());
        C.ReadLn();
        bool Changed = false;
        C.Work.OnWork = [&](TWorkMode, int64_t Count) {
            if (!Changed && Count > Size - 5000 && Count < Size) {
                Changed = true;
                std::ofstream(Path, std::ios::app) << "late bytes";
            }
        };
        EXPECT_THROW(C.WriteStream(Reader), EFileStreamError);
        EXPECT_TRUE(Changed);
    }
}

TEST(SocketConnection, ReadTimeOutAndClosedPeer) {
    TLinePeer Silent(TLinePeer::kSilent);
    TSocketConnection C;
    C.SetReadTimeout(300);
    C.Connect("127.0.0.1", Silent.Port());
    const auto Start = Clock::now();
    EXPECT_THROW(C.ReadLn(), ETimeoutError);
    EXPECT_GE(Clock::now() - Start, std::chrono::milliseconds(250));

    int Port;
    {
        TLinePeer Gone(TLinePeer::kSilent);
        Port = Gone.Port();
    }
    EXPECT_THROW(C.Connect("127.0.0.1", Port), EConnectError);
}

TEST(SocketConnection, APartialLineSurvivesAReadTimeOut) {
    TLinePeer Peer(TLinePeer::kEcho);
    TSocketConnection C;
    C.SetReadTimeout(300);
    C.Connect("127.0.0.1", Peer.Port());
    EXPECT_EQ(C.ReadLn(), "220 ready");
    C.Write("abc");
    EXPECT_THROW(C.ReadLn(), ETimeoutError);
    C.Write("def\r\n");
    EXPECT_EQ(C.ReadLn(), "abcdef");
}

TEST(SocketConnection, APeerThatClosesEndsReadLnWithAnError) {
    test::TLoopbackHttpServer Server(
        [](const test::TCapturedRequest&) { return std::string("HTTP/1.1 200 OK\r\nno line end"); });
    TSocketConnection C;
    C.Connect("127.0.0.1", Server.Port());
    C.Write("GET / HTTP/1.1\r\n\r\n");
    EXPECT_EQ(C.ReadLn(), "HTTP/1.1 200 OK");
    EXPECT_THROW(C.ReadLn(), EConnectionClosed);
}

TEST(SocketConnection, AbortFromAnotherThreadEndsTheWaitAtOnce) {
    TLinePeer Silent(TLinePeer::kSilent);
    TSocketConnection C;
    C.SetReadTimeout(0); // no limit: only the abort can end the wait
    C.Connect("127.0.0.1", Silent.Port());
    Clock::time_point AbortedAt;
    std::thread Stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        AbortedAt = Clock::now();
        C.Abort();
    });
    EXPECT_THROW(C.ReadLn(), EAbortedError);
    EXPECT_LT(Clock::now() - AbortedAt, std::chrono::milliseconds(1000));
    Stopper.join();
    EXPECT_THROW(C.Write("x"), EAbortedError);
    EXPECT_THROW(C.Connect("127.0.0.1", Silent.Port()), EAbortedError);
    C.Disconnect();
    EXPECT_FALSE(C.AbortRequested());
}

// A proxy that accepts and never answers keeps the connect in its handshake.
TEST(SocketConnection, AbortEndsAConnectStuckInTheProxyHandshake) {
    TLinePeer Silent(TLinePeer::kSilent);
    TSocketConnection C;
    TProxyConfig Config;
    Config.ProxyKind = pkSocks5;
    Config.ProxyHost = "127.0.0.1";
    Config.ProxyPort = Silent.Port();
    C.SetConfig(Config);
    Clock::time_point AbortedAt;
    std::thread Stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        AbortedAt = Clock::now();
        C.Abort();
    });
    EXPECT_THROW(C.Connect("127.0.0.1", 21), EAbortedError);
    EXPECT_LT(Clock::now() - AbortedAt, std::chrono::milliseconds(1000));
    Stopper.join();
}

TEST(SocketConnection, ConnectTimeOutInAStuckHandshake) {
    TLinePeer Silent(TLinePeer::kSilent);
    TSocketConnection C;
    TProxyConfig Config;
    Config.ProxyKind = pkSocks4;
    Config.ProxyHost = "127.0.0.1";
    Config.ProxyPort = Silent.Port();
    Config.ConnectTimeout = 300;
    C.SetConfig(Config);
    const auto Start = Clock::now();
    EXPECT_THROW(C.Connect("127.0.0.1", 21), ETimeoutError);
    EXPECT_LT(Clock::now() - Start, std::chrono::seconds(5));
}

TEST(SocketConnection, OpensThroughEveryTransparentProxyKind) {
    test::TTinyProxy Tiny;
    ASSERT_TRUE(Tiny.Start()) << Tiny.ErrorText();
    test::TDanteProxy Dante;
    ASSERT_TRUE(Dante.Start()) << Dante.ErrorText();
    test::TMiniSocksServer Mini("carol", "pw");
    struct TCase {
        TProxyKind Kind;
        int Port;
        const char* User;
    };
    const TCase Cases[] = {
        {pkConnectTunnel, Tiny.Port(), ""}, {pkHttp, Tiny.Port(), ""},
        {pkSocks4, Dante.Port(), ""},       {pkSocks5, Dante.Port(), ""},
        {pkSocks4A, Mini.Port(), "carol"},  {pkSocks5, Mini.Port(), "carol"},
    };
    for (const TCase& Case : Cases) {
        TLinePeer Peer(TLinePeer::kEcho);
        TSocketConnection C;
        TProxyConfig Config;
        Config.ProxyKind = Case.Kind;
        Config.ProxyHost = "127.0.0.1";
        Config.ProxyPort = Case.Port;
        Config.ProxyUser = Case.User;
        Config.ProxyPassword = "pw";
        Config.ReadTimeout = 10000;
        C.SetConfig(Config);
        C.Connect("127.0.0.1", Peer.Port());
        EXPECT_EQ(C.ReadLn(), "220 ready") << int(Case.Kind) << " via " << Case.Port;
        C.WriteLn("PASV");
        EXPECT_EQ(C.ReadLn(), "PASV") << int(Case.Kind);
    }
    EXPECT_EQ(Mini.Sessions().size(), 2u);
}

} // namespace
} // namespace quillo
