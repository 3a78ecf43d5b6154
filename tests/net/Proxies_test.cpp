#include "core/net/IdHTTPEx.h"
#include "core/net/NetErrors.h"

#include "NetTestServers.h"
#include "ProxyFixtures.h"

#include <gtest/gtest.h>

namespace quillo {
namespace {

using test::TCapturedRequest;
using test::TLoopbackHttpServer;

// The server answers with the address the request came from. The client binds to 127.0.0.2, the
// proxies connect onwards from 127.0.0.1: the answer shows whether the proxy carried the request.
TLoopbackHttpServer::TResponder PeerEcho() {
    return [](const TCapturedRequest& R) { return TLoopbackHttpServer::Reply("200 OK", "peer " + R.PeerIp); };
}

TProxyConfig Through(TProxyKind Kind, int Port, const std::string& User = {},
                     const std::string& Password = {}) {
    TProxyConfig C;
    C.ProxyKind = Kind;
    C.ProxyHost = "127.0.0.1";
    C.ProxyPort = Port;
    C.ProxyUser = User;
    C.ProxyPassword = Password;
    C.BoundIP = "127.0.0.2";
    C.ConnectTimeout = 10000;
    C.ReadTimeout = 10000;
    return C;
}

class ProxyTest : public ::testing::Test {
protected:
    TLoopbackHttpServer Server{PeerEcho()};
};

TEST_F(ProxyTest, WithoutAProxyTheServerSeesTheBoundAddress) {
    TIdHTTPEx Http;
    Http.SetConfig(Through(pkNone, 0));
    EXPECT_EQ(Http.Get(Server.Url()), "peer 127.0.0.2");
}

TEST_F(ProxyTest, HttpProxyAndConnectTunnelWithoutAuthentication) {
    test::TTinyProxy Proxy;
    ASSERT_TRUE(Proxy.Start()) << Proxy.ErrorText();
    for (TProxyKind Kind : {pkHttp, pkConnectTunnel}) {
        TIdHTTPEx Http;
        Http.SetConfig(Through(Kind, Proxy.Port()));
        EXPECT_EQ(Http.Get(Server.Url("/k" + std::to_string(Kind))), "peer 127.0.0.1") << int(Kind);
    }
    const std::string Log = Proxy.Output();
    EXPECT_NE(Log.find("CONNECT"), std::string::npos) << Log;
    // The same client, switched back to a direct connection, keeps nothing of the proxy set-up.
    TIdHTTPEx Http;
    Http.SetConfig(Through(pkConnectTunnel, Proxy.Port()));
    EXPECT_EQ(Http.Get(Server.Url()), "peer 127.0.0.1");
    Http.SetConfig(Through(pkNone, 0));
    EXPECT_EQ(Http.Get(Server.Url()), "peer 127.0.0.2");
}

TEST_F(ProxyTest, BasicAuthenticationWithTheProxyCredentials) {
    test::TTinyProxy Proxy;
    ASSERT_TRUE(Proxy.Start("bob", "s3cret")) << Proxy.ErrorText();
    for (TProxyKind Kind : {pkHttp, pkConnectTunnel}) {
        TIdHTTPEx Http;
        Http.SetConfig(Through(Kind, Proxy.Port(), "bob", "s3cret"));
        EXPECT_EQ(Http.Get(Server.Url()), "peer 127.0.0.1") << int(Kind);
        // A multipart upload through the proxy arrives whole.
        Http.AddFormField("mode", "soft");
        EXPECT_EQ(Http.PostFormText(Server.Url("/up")), "peer 127.0.0.1");
        EXPECT_EQ(Server.Requests().back().Body, "mode=soft");

        Http.SetConfig(Through(Kind, Proxy.Port(), "bob", "wrong"));
        EXPECT_THROW(Http.Get(Server.Url()), ENetworkError) << int(Kind);
    }
    TIdHTTPEx Http;
    Http.SetConfig(Through(pkConnectTunnel, Proxy.Port(), "bob", "wrong"));
    EXPECT_THROW(Http.Get(Server.Url()), EProxyError);
    Http.SetConfig(Through(pkHttp, Proxy.Port(), "bob", "wrong"));
    try {
        Http.Get(Server.Url());
        FAIL();
    } catch (const EHttpStatusError& E) {
        // tinyproxy refuses a forwarded request with 401, a tunnel with 407.
        EXPECT_TRUE(E.StatusCode() == 401 || E.StatusCode() == 407) << E.StatusCode();
    }
}

TEST_F(ProxyTest, SocksFourAndFiveThroughDante) {
    test::TDanteProxy Proxy;
    ASSERT_TRUE(Proxy.Start()) << Proxy.ErrorText();
    for (TProxyKind Kind : {pkSocks4, pkSocks5}) {
        TIdHTTPEx Http;
        Http.SetConfig(Through(Kind, Proxy.Port()));
        EXPECT_EQ(Http.Get(Server.Url()), "peer 127.0.0.1") << int(Kind);
    }
    // SOCKS 5 leaves the name to the proxy.
    TIdHTTPEx Http;
    Http.SetConfig(Through(pkSocks5, Proxy.Port()));
    EXPECT_EQ(Http.Get("http://localhost:" + std::to_string(Server.Port()) + "/"), "peer 127.0.0.1");
}

// dante checks SOCKS user names against system accounts, which a test must not create; an
// in-process SOCKS server checks the credentials instead, and speaks SOCKS 4A, which dante lacks.
TEST_F(ProxyTest, SocksAuthenticationAndSocks4A) {
    test::TMiniSocksServer Socks("alice", "pw");
    struct TCase {
        TProxyKind Kind;
        const char* Host;
        int Version;
        const char* SentHost;
    };
    const TCase Cases[] = {
        {pkSocks4, "127.0.0.1", 4, "127.0.0.1"},
        {pkSocks4A, "localhost", 4, "localhost"},
        {pkSocks5, "localhost", 5, "localhost"},
    };
    for (const TCase& C : Cases) {
        TIdHTTPEx Http;
        Http.SetConfig(Through(C.Kind, Socks.Port(), "alice", "pw"));
        EXPECT_EQ(Http.Get("http://" + std::string(C.Host) + ":" + std::to_string(Server.Port()) + "/"),
                  "peer 127.0.0.1")
            << int(C.Kind);
        const auto Session = Socks.Sessions().back();
        EXPECT_EQ(Session.Version, C.Version);
        EXPECT_EQ(Session.UserId, "alice");
        EXPECT_EQ(Session.TargetHost, C.SentHost);
        EXPECT_EQ(Session.TargetPort, Server.Port());
        if (C.Version == 5) {
            EXPECT_EQ(Session.Password, "pw");
        }
    }
    for (TProxyKind Kind : {pkSocks4, pkSocks5}) {
        TIdHTTPEx Http;
        Http.SetConfig(Through(Kind, Socks.Port(), "alice", "bad"));
        if (Kind == pkSocks4)
            Http.SetConfig(Through(Kind, Socks.Port(), "mallory", ""));
        EXPECT_THROW(Http.Get(Server.Url()), EProxyError) << int(Kind);
    }
}

} // namespace
} // namespace quillo
