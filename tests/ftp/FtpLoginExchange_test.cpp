// The login exchanges of the firewall schemes over a real socket, against a scripted peer:
// multi-line and delayed greetings, PASS and ACCT when asked, SITE and OPEN, refusals.
#include "core/net/FtpClient.h"

#include "FtpTestSupport.h"

#include <gtest/gtest.h>

using namespace quillo;
using namespace quillo::test;

namespace {

enum TOutcome { oLoggedIn, oReplyError, oClosed };

struct TExchangeCase {
    const char* Title;
    TFtpProxyScheme Scheme;
    std::string Greeting;
    std::map<std::string, std::string> Replies;
    std::vector<std::string> Expected; // the lines the peer receives (before QUIT)
    TOutcome Outcome;
};

const std::map<std::string, std::string> Friendly = {{"USER", "331 Password required.\r\n"},
                                                     {"PASS", "230 Logged in.\r\n"},
                                                     {"SITE", "200 Connected.\r\n"},
                                                     {"OPEN", "220 Connected to target.\r\n"},
                                                     {"TYPE", "200 Type set to I.\r\n"}};

std::map<std::string, std::string> With(std::map<std::string, std::string> Base, const std::string& Verb,
                                        const std::string& Reply) {
    Base[Verb] = Reply;
    return Base;
}

} // namespace

TEST(FtpLoginExchange, SchemesOverTheWire) {
    const TExchangeCase Cases[] = {
        {"direct, multi-line greeting",
         fpsNone,
         "220-Welcome\r\n220-to the\r\n220 server\r\n",
         Friendly,
         {"USER bob", "PASS secret", "TYPE I"},
         oLoggedIn},
        {"greeting after 120",
         fpsNone,
         "120 Ready in a moment.\r\n220 Ready.\r\n",
         Friendly,
         {"USER bob", "PASS secret", "TYPE I"},
         oLoggedIn},
        {"USER-SITE with firewall login",
         fpsUserSite,
         "220 Firewall.\r\n",
         Friendly,
         {"USER fw", "PASS fwpw", "USER bob@files.example", "PASS secret", "TYPE I"},
         oLoggedIn},
        {"SITE",
         fpsSite,
         "220 Firewall.\r\n",
         Friendly,
         {"USER fw", "PASS fwpw", "SITE files.example", "USER bob", "PASS secret", "TYPE I"},
         oLoggedIn},
        {"OPEN",
         fpsOpen,
         "220 Firewall.\r\n",
         Friendly,
         {"USER fw", "PASS fwpw", "OPEN files.example", "USER bob", "PASS secret", "TYPE I"},
         oLoggedIn},
        {"USER-PASS",
         fpsUserPass,
         "220 Firewall.\r\n",
         Friendly,
         {"USER bob@fw@files.example", "PASS secret@fwpw", "TYPE I"},
         oLoggedIn},
        {"USER-HOST-FIREWALL-ID asks for the account",
         fpsUserHostFirewallId,
         "220 Firewall.\r\n",
         With(With(Friendly, "PASS", "332 Need account for login.\r\n"), "ACCT", "230 Logged in.\r\n"),
         {"USER bob@files.example fw", "PASS secret", "ACCT fwpw", "TYPE I"},
         oLoggedIn},
        {"USER answered 230 needs no PASS",
         fpsNovellBorder,
         "220 Border.\r\n",
         With(Friendly, "USER", "230 Already in.\r\n"),
         {"USER bob@files.example", "TYPE I"},
         oLoggedIn},
        {"SITE refused",
         fpsSite,
         "220 Firewall.\r\n",
         With(Friendly, "SITE", "550 Host unknown.\r\n"),
         {"USER fw", "PASS fwpw", "SITE files.example"},
         oReplyError},
        {"wrong password",
         fpsNone,
         "220 Ready.\r\n",
         With(Friendly, "PASS", "530 Login incorrect.\r\n"),
         {"USER bob", "PASS secret"},
         oReplyError},
        {"account asked without one to give",
         fpsNone,
         "220 Ready.\r\n",
         With(Friendly, "PASS", "332 Need account.\r\n"),
         {"USER bob", "PASS secret"},
         oReplyError},
        {"service closing at once", fpsNone, "421 Too many users.\r\n", Friendly, {}, oClosed},
        {"greeting that is no reply", fpsNone, "Hello there\r\n", Friendly, {}, oClosed},
    };
    for (const TExchangeCase& C : Cases) {
        SCOPED_TRACE(C.Title);
        TScriptedFtpServer Peer(C.Greeting, C.Replies);
        TFtpClient Ftp;
        Ftp.SetConnectTimeout(5000);
        Ftp.SetReadTimeout(5000);
        Ftp.Username = "bob";
        Ftp.Password = "secret";
        Ftp.ProxySettings.Scheme = C.Scheme;
        Ftp.ProxySettings.UserName = C.Scheme == fpsNovellBorder ? "" : "fw";
        Ftp.ProxySettings.Password = C.Scheme == fpsNovellBorder ? "" : "fwpw";
        if (C.Scheme == fpsNone || C.Scheme == fpsTransparent) {
            Ftp.Host = "127.0.0.1";
            Ftp.Port = Peer.Port();
        } else {
            Ftp.Host = "files.example";
            Ftp.Port = 21;
            Ftp.ProxySettings.Host = "127.0.0.1";
            Ftp.ProxySettings.Port = Peer.Port();
        }
        switch (C.Outcome) {
        case oLoggedIn:
            ASSERT_NO_THROW(Ftp.Connect());
            Ftp.SetBinary();
            Ftp.Quit();
            break;
        case oReplyError:
            EXPECT_THROW(Ftp.Connect(), EFtpReplyError);
            break;
        case oClosed:
            // A protocol error or a closed connection: both network errors, so retried.
            EXPECT_THROW(Ftp.Connect(), ENetworkError);
            break;
        }
        EXPECT_FALSE(Ftp.Connected());
        std::vector<std::string> Got = Peer.Received();
        if (!Got.empty() && Got.back() == "QUIT")
            Got.pop_back();
        EXPECT_EQ(Got, C.Expected);
    }
}

TEST(FtpLoginExchange, ReplyThatNeverComesClosesTheControlConnection) {
    TScriptedFtpServer Peer("220 Ready.\r\n", With(Friendly, "SIZE", ""));
    TFtpClient Ftp;
    Ftp.Host = "127.0.0.1";
    Ftp.Port = Peer.Port();
    Ftp.Username = "bob";
    Ftp.Password = "secret";
    Ftp.SetReadTimeout(300);
    Ftp.Connect();
    EXPECT_THROW(Ftp.Size("late.bin"), ETimeoutError);
    // A late SIZE reply must not be taken as the answer to DELE: nothing more is sent.
    EXPECT_FALSE(Ftp.Connected());
    EXPECT_THROW(Ftp.Delete("late.bin"), EConnectionClosed);
    EXPECT_EQ(Peer.Received(), (std::vector<std::string>{"USER bob", "PASS secret", "SIZE late.bin"}));
}
