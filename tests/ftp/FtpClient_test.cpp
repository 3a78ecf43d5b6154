// The FTP client against the stand-in service's pyftpdlib server, directly and through Debian's
// proxies (sockd for SOCKS 5, tinyproxy for the CONNECT tunnel, ftp-proxy as FTP firewall).
#include "core/net/FtpClient.h"
#include "core/net/IdStackWindowsEx.h"

#include "FtpTestSupport.h"
#include "support/BrimvaultService.h"

#include <QJsonObject>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <thread>

using namespace quillo;
using namespace quillo::test;

namespace {

class FtpClientTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        Service = new TBrimvaultService;
        TBrimvaultServiceOptions Options;
        Options.Accounts = {{QStringLiteral("user"), QStringLiteral("pass")}};
        ASSERT_TRUE(Service->Start(Options)) << Service->ErrorText().toStdString();
    }
    static void TearDownTestSuite() {
        delete Service;
        Service = nullptr;
    }
    void SetUp() override {
        ASSERT_TRUE(Service->IsRunning());
        Service->ResetFaults();
        Service->ClearLog();
    }

    void Prepare(TFtpClient& Ftp) {
        Ftp.Host = "127.0.0.1";
        Ftp.Port = Service->FtpPort();
        Ftp.Username = "user";
        Ftp.Password = "pass";
        Ftp.SetConnectTimeout(5000);
        Ftp.SetReadTimeout(10000);
    }

    QByteArray Stored(const std::string& Name) {
        return Service->ReadAccountFile(QStringLiteral("user"), QString::fromStdString(Name));
    }

    // Connects, stores the whole file with STOR and checks the stored copy.
    void StoreAndCheck(TFtpClient& Ftp, const std::string& Name, const QByteArray& Data) {
        const std::string Path = WriteScratchFile(Data);
        Ftp.Connect();
        Ftp.SetBinary();
        TFileReader Reader(Path);
        Ftp.Put(Reader, Name, false);
        Ftp.Quit();
        EXPECT_EQ(Stored(Name), Data);
    }

    static TBrimvaultService* Service;
};

TBrimvaultService* FtpClientTest::Service = nullptr;

} // namespace

TEST_F(FtpClientTest, StoreSizeAppendAndDelete) {
    const QByteArray Data = PatternBytes(300000);
    const std::string Path = WriteScratchFile(Data);
    ASSERT_TRUE(Service->WriteAccountFile(QStringLiteral("user"), QStringLiteral("a.bin"), Data.left(1000)));

    TFtpClient Ftp;
    Prepare(Ftp);
    int64_t Begin = -1, Last = -1;
    int Ends = 0;
    Ftp.Work.OnWorkBegin = [&](TWorkMode, int64_t Max) { Begin = Max; };
    Ftp.Work.OnWork = [&](TWorkMode, int64_t Count) { Last = Count; };
    Ftp.Work.OnWorkEnd = [&](TWorkMode) { ++Ends; };
    Ftp.Connect();
    Ftp.SetBinary();
    EXPECT_EQ(Ftp.Size("a.bin"), 1000);
    EXPECT_EQ(Ftp.Size("missing.bin"), -1);

    TFileReader Reader(Path);
    Reader.SetPosition(1000);
    Ftp.Put(Reader, "a.bin", true);
    EXPECT_EQ(Begin, 300000 - 1000);
    EXPECT_EQ(Last, 300000 - 1000);
    EXPECT_EQ(Ends, 1);
    EXPECT_EQ(Stored("a.bin"), Data);
    EXPECT_EQ(Ftp.Size("a.bin"), 300000);

    Ftp.Delete("a.bin");
    EXPECT_EQ(Ftp.Size("a.bin"), -1);
    EXPECT_THROW(Ftp.Delete("a.bin"), EFtpReplyError); // gone: 550
    Ftp.Quit();
    EXPECT_FALSE(Ftp.Connected());

    const QStringList Lines = Service->FtpCommandLines();
    EXPECT_TRUE(Lines.contains(QStringLiteral("TYPE I")));
    EXPECT_TRUE(Lines.contains(QStringLiteral("APPE a.bin")));
    EXPECT_FALSE(Lines.contains(QStringLiteral("STOR a.bin")));
    EXPECT_EQ(Lines.last(), QStringLiteral("QUIT"));
}

namespace {

// A clock that stands still: the send path's counter then sums every byte of the run.
class TFrozenClock final : public TTickClock {
public:
    uint32_t TickCount() override { return 5000; }
    void SleepMs(uint32_t) override {}
};

class TCountingIntercept final : public TConnectionIntercept {
public:
    void Send(const void*, int64_t Size) override { Sent += Size; }
    int64_t Sent = 0;
};

} // namespace

TEST_F(FtpClientTest, StoredBytesPassTheSendPathAndTheDataConnectionsIntercept) {
    TFrozenClock Clock;
    TIdStackWindowsEx Stack(&Clock);
    TCountingIntercept Meter;
    TFtpClient Ftp;
    Prepare(Ftp);
    Ftp.SetStack(&Stack);
    Ftp.SetSendBufferSize(4096);
    int DataConnections = 0;
    Ftp.OnDataConnection = [&](TSocketConnection& Data) {
        ++DataConnections;
        Data.SetIntercept(&Meter);
    };
    StoreAndCheck(Ftp, "metered.bin", PatternBytes(100000, 21));
    EXPECT_EQ(DataConnections, 1);
    // The meter sees the file's bytes only; the send path sees them and the commands too.
    EXPECT_EQ(Meter.Sent, 100000);
    EXPECT_GT(Stack.CountedBytes, 100000);
    EXPECT_LT(Stack.CountedBytes, 100000 + 1000);
}

TEST_F(FtpClientTest, SizeRepliesOtherThan213GiveMinusOne) {
    TFtpClient Ftp;
    Prepare(Ftp);
    Ftp.Connect();
    for (const char* Reply : {"550 No such file.", "500 Unknown command.", "213 twelve"}) {
        Service->SetFaults({{"ftp_size_reply", Reply}});
        EXPECT_EQ(Ftp.Size("x.bin"), -1) << Reply;
    }
    Service->SetFaults({{"ftp_size_reply", "213 4242"}});
    EXPECT_EQ(Ftp.Size("x.bin"), 4242);
    Ftp.Quit();
}

TEST_F(FtpClientTest, WrongPasswordIsAnFtpReplyError) {
    TFtpClient Ftp;
    Prepare(Ftp);
    Ftp.Password = "wrong";
    try {
        Ftp.Connect();
        FAIL() << "login accepted";
    } catch (const EFtpReplyError& E) {
        EXPECT_EQ(E.Code(), 530);
        // A network error: the worker retries it.
        EXPECT_NE(dynamic_cast<const ENetworkError*>(&E), nullptr);
    }
    EXPECT_FALSE(Ftp.Connected());
}

TEST_F(FtpClientTest, DroppedStoreLeavesThePrefixAndAppendCompletesIt) {
    const QByteArray Data = PatternBytes(500000, 7);
    const std::string Path = WriteScratchFile(Data);
    Service->SetFaults({{"ftp_drop_after", 123456}, {"ftp_drop_after_times", 1}});

    TFtpClient Ftp;
    Prepare(Ftp);
    Ftp.Connect();
    Ftp.SetBinary();
    {
        TFileReader Reader(Path);
        EXPECT_THROW(Ftp.Put(Reader, "drop.bin", false), ENetworkError);
    }
    Ftp.Disconnect();
    EXPECT_EQ(Stored("drop.bin"), Data.left(123456));

    Ftp.Connect();
    Ftp.SetBinary();
    const int64_t Remote = Ftp.Size("drop.bin");
    ASSERT_EQ(Remote, 123456);
    TFileReader Reader(Path);
    Reader.SetPosition(Remote);
    Ftp.Put(Reader, "drop.bin", true);
    Ftp.Quit();
    EXPECT_EQ(Stored("drop.bin"), Data);
}

TEST_F(FtpClientTest, StoreCutOnTheDataConnectionOnlyLeavesNoReplyBehind) {
    // The server closes just the data connection and reports 426 on the control connection.
    // Larger than the socket buffers, so the cut reaches the sender mid-stream.
    const QByteArray Data = PatternBytes(16 << 20, 8);
    const std::string Path = WriteScratchFile(Data);
    Service->SetFaults({{"ftp_drop_after", 100000}, {"ftp_drop_after_times", 1}, {"ftp_drop_mode", "data"}});
    TFtpClient Ftp;
    Prepare(Ftp);
    Ftp.Connect();
    Ftp.SetBinary();
    {
        TFileReader Reader(Path);
        EXPECT_THROW(Ftp.Put(Reader, "cut.bin", false), ENetworkError);
    }
    // Either the 426 was read as the store's answer, or (when the cut came while sending) the
    // connection was dropped with it unread. Either way the next SIZE gets its own answer.
    std::printf("[ info ] control connection %s after the cut\n", Ftp.Connected() ? "kept" : "closed");
    if (!Ftp.Connected()) {
        Ftp.Disconnect();
        Ftp.Connect();
        Ftp.SetBinary();
    }
    const int64_t Remote = Ftp.Size("cut.bin");
    EXPECT_EQ(Remote, 100000);
    TFileReader Reader(Path);
    Reader.SetPosition(Remote);
    Ftp.Put(Reader, "cut.bin", true);
    Ftp.Quit();
    EXPECT_EQ(Stored("cut.bin"), Data);
}

TEST_F(FtpClientTest, AbortFromAnotherThreadEndsAStoreAtOnce) {
    const std::string Path = WriteScratchFile(PatternBytes(4000000, 3));
    Service->SetFaults({{"ftp_throttle", 100000}});
    TFtpClient Ftp;
    Prepare(Ftp);
    Ftp.SetReadTimeout(60000);
    Ftp.Connect();
    Ftp.SetBinary();
    std::atomic<bool> Sending{false};
    Ftp.Work.OnWork = [&](TWorkMode, int64_t) { Sending = true; };

    std::chrono::steady_clock::time_point AbortedAt;
    std::thread Stopper([&] {
        while (!Sending)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        AbortedAt = std::chrono::steady_clock::now();
        Ftp.Abort();
    });
    TFileReader Reader(Path);
    EXPECT_THROW(Ftp.Put(Reader, "abort.bin", false), EAbortedError);
    const auto Took =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - AbortedAt);
    Stopper.join();
    // Liveness, not speed: without a working abort the store would run for 40 seconds.
    EXPECT_LT(Took.count(), 2000) << "abort took " << Took.count() << " ms";
    std::printf("[ info ] store aborted after %lld ms\n", static_cast<long long>(Took.count()));
    // Later calls fail too until the owner disconnects.
    EXPECT_THROW(Ftp.Size("abort.bin"), EAbortedError);
    Ftp.Disconnect();
    EXPECT_FALSE(Ftp.AbortRequested());
    Ftp.Connect();
    Ftp.Quit();
}

TEST_F(FtpClientTest, AbortStopsAConnectWaitingForTheGreeting) {
    // A listener that never accepts: the kernel completes the connection, no greeting comes.
    const int Listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in A{};
    A.sin_family = AF_INET;
    A.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(Listener, reinterpret_cast<sockaddr*>(&A), sizeof A), 0);
    ASSERT_EQ(::listen(Listener, 4), 0);
    socklen_t Len = sizeof A;
    ::getsockname(Listener, reinterpret_cast<sockaddr*>(&A), &Len);

    TFtpClient Ftp;
    Prepare(Ftp);
    Ftp.Port = ntohs(A.sin_port);
    Ftp.SetReadTimeout(60000);
    std::thread Stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        Ftp.Abort();
    });
    const auto Start = std::chrono::steady_clock::now();
    EXPECT_THROW(Ftp.Connect(), EAbortedError);
    const auto Took =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - Start)
            .count();
    Stopper.join();
    EXPECT_LT(Took, 3000);
    EXPECT_FALSE(Ftp.Connected());
    ::close(Listener);

    // A stop that arrived before the connect is not forgotten by it; Disconnect() clears it.
    TFtpClient Early;
    Prepare(Early);
    Early.Abort();
    EXPECT_THROW(Early.Connect(), EAbortedError);
    Early.Disconnect();
    Early.Connect();
    Early.Quit();
}

TEST_F(FtpClientTest, LineBreaksInNamesNeverReachTheServer) {
    TFtpClient Ftp;
    Prepare(Ftp);
    Ftp.Connect();
    const std::string Path = WriteScratchFile(PatternBytes(100));
    const std::string Evil = "x.bin\r\nDELE victim.bin";
    TFileReader Reader(Path);
    EXPECT_THROW(Ftp.Put(Reader, Evil, false), EFtpInvalidArgument);
    EXPECT_THROW(Ftp.Size(Evil), EFtpInvalidArgument);
    EXPECT_THROW(Ftp.Delete(std::string("v.bin\0DELE w", 12)), EFtpInvalidArgument);
    EXPECT_THROW(Ftp.SendCmd("NOOP\nDELE victim.bin"), EFtpInvalidArgument);
    Ftp.Quit();
    for (const QString& Line : Service->FtpCommandLines()) {
        EXPECT_FALSE(Line.startsWith(QStringLiteral("DELE")));
        EXPECT_FALSE(Line.startsWith(QStringLiteral("PASV"))); // refused before any exchange
    }

    TFtpClient Bad;
    Prepare(Bad);
    Bad.Username = "user\r\nDELE victim.bin";
    EXPECT_THROW(Bad.Connect(), EFtpInvalidArgument);
}

TEST_F(FtpClientTest, BothConnectionsGoThroughSocks5) {
    TLoggingDante Socks;
    ASSERT_TRUE(Socks.Start()) << Socks.ErrorText();
    TFtpClient Ftp;
    Prepare(Ftp);
    Ftp.Config.ProxyKind = pkSocks5;
    Ftp.Config.ProxyHost = "127.0.0.1";
    Ftp.Config.ProxyPort = Socks.Port();
    int DataLocalPort = 0;
    Ftp.OnDataConnection = [&](TSocketConnection&) { DataLocalPort = -1; };
    StoreAndCheck(Ftp, "socks.bin", PatternBytes(200000, 5));
    EXPECT_EQ(DataLocalPort, -1);
    // Control connection to the FTP port and one data connection elsewhere, both relayed.
    EXPECT_EQ(Socks.ConnectionsTo(Service->FtpPort()), 1) << Socks.Output();
    EXPECT_EQ(Socks.RelayedConnections(), 2) << Socks.Output();
}

TEST_F(FtpClientTest, HttpProxyWithFtpTunnelsBothConnections) {
    TTinyProxy Proxy;
    ASSERT_TRUE(Proxy.Start("pu", "pp")) << Proxy.ErrorText();
    TFtpClient Ftp;
    Prepare(Ftp);
    Ftp.ProxySettings.Scheme = fpsHttpProxyWithFtp;
    Ftp.ProxySettings.Host = "127.0.0.1";
    Ftp.ProxySettings.Port = Proxy.Port();
    Ftp.ProxySettings.UserName = "pu";
    Ftp.ProxySettings.Password = "pp";
    StoreAndCheck(Ftp, "tunnel.bin", PatternBytes(150000, 9));
    const std::string Log = Proxy.Output();
    size_t Connects = 0;
    for (size_t At = Log.find("CONNECT"); At != std::string::npos; At = Log.find("CONNECT", At + 1))
        ++Connects;
    EXPECT_GE(Connects, 2u) << Log;

    // Wrong proxy credentials: the tunnel is refused, a network error.
    TFtpClient Refused;
    Prepare(Refused);
    Refused.ProxySettings = Ftp.ProxySettings;
    Refused.ProxySettings.Password = "nope";
    EXPECT_THROW(Refused.Connect(), ENetworkError);
}

TEST_F(FtpClientTest, FirewallSchemesThroughFtpProxy) {
    TFtpProxy Firewall;
    ASSERT_TRUE(Firewall.Start(Service->FtpPort())) << Firewall.ErrorText();
    for (TFtpProxyScheme Scheme : {fpsUserSite, fpsNovellBorder}) {
        SCOPED_TRACE(FtpProxySchemeName(Scheme));
        Service->ClearLog();
        TFtpClient Ftp;
        Prepare(Ftp);
        Ftp.ProxySettings.Scheme = Scheme;
        Ftp.ProxySettings.Host = "127.0.0.1";
        Ftp.ProxySettings.Port = Firewall.Port();
        std::vector<std::string> Sent;
        Ftp.OnTrace = [&](const std::string& Line, bool Out) {
            if (Out)
                Sent.push_back(Line);
        };
        const std::string Name = "fw" + std::to_string(Scheme) + ".bin";
        StoreAndCheck(Ftp, Name, PatternBytes(100000, Scheme));
        ASSERT_FALSE(Sent.empty());
        EXPECT_EQ(Sent[0], "USER user@127.0.0.1:" + std::to_string(Service->FtpPort()));
        // The firewall logged in to the server with the plain account.
        EXPECT_TRUE(Service->FtpCommandLines().contains(QStringLiteral("USER user"))) << Firewall.Output();
    }
}

TEST_F(FtpClientTest, FirewallSchemeWithoutProxyHostIsRefused) {
    TFtpClient Ftp;
    Prepare(Ftp);
    Ftp.ProxySettings.Scheme = fpsSite;
    EXPECT_THROW(Ftp.Connect(), EFtpInvalidArgument);
}
