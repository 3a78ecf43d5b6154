// Passive mode against a scripted peer: the data connection goes to the control connection's
// host whatever address PASV names, and EPSV takes over when PASV is refused.
#include "core/net/FtpClient.h"

#include "FtpTestSupport.h"
#include "NetTestServers.h"

#include <unistd.h>

#include <gtest/gtest.h>

using namespace quillo;
using namespace quillo::test;

namespace {

// A loopback listener that is never accepted from: the kernel completes connections and buffers
// a little data, enough for a small store.
struct TSilentListener {
    TSilentListener() : Fd(ListenOnLoopback("127.0.0.1", Port)) {}
    ~TSilentListener() { ::close(Fd); }
    int Port = 0;
    int Fd = -1;
};

void StoreSmallFile(TFtpClient& Ftp, const std::string& Name) {
    const std::string Path = WriteScratchFile(PatternBytes(100));
    TFileReader Reader(Path);
    Ftp.Put(Reader, Name, false);
}

} // namespace

TEST(FtpPassive, DataConnectionGoesToTheControlHostNotToThePasvAddress) {
    TSilentListener Data;
    const std::string Pasv = "227 Entering Passive Mode (10,1,2,3," + std::to_string(Data.Port / 256) + "," +
                             std::to_string(Data.Port % 256) + ").\r\n";
    TScriptedFtpServer Peer("220 Ready.\r\n", {{"USER", "331 Password.\r\n"},
                                               {"PASS", "230 In.\r\n"},
                                               {"PASV", Pasv},
                                               {"STOR", "150 Go ahead.\r\n226 Done.\r\n"}});
    TFtpClient Ftp;
    Ftp.Host = "127.0.0.1";
    Ftp.Port = Peer.Port();
    Ftp.SetConnectTimeout(3000);
    Ftp.SetReadTimeout(5000);
    Ftp.Connect();
    // 10.1.2.3 is not reachable from here: only 127.0.0.1 makes this store succeed.
    ASSERT_NO_THROW(StoreSmallFile(Ftp, "a.bin"));
    Ftp.Quit();
    EXPECT_EQ(Peer.Received(), (std::vector<std::string>{"USER ", "PASS ", "PASV", "STOR a.bin", "QUIT"}));
}

TEST(FtpPassive, EpsvTakesOverWhenPasvIsRefused) {
    TSilentListener Data;
    TScriptedFtpServer Peer("220 Ready.\r\n", {{"USER", "230 In.\r\n"},
                                               {"PASV", "502 Command not implemented.\r\n"},
                                               {"EPSV", "229 Entering Extended Passive Mode (|||" +
                                                            std::to_string(Data.Port) + "|)\r\n"},
                                               {"STOR", "150 Go ahead.\r\n226 Done.\r\n"}});
    TFtpClient Ftp;
    Ftp.Host = "127.0.0.1";
    Ftp.Port = Peer.Port();
    Ftp.Username = "u";
    Ftp.SetReadTimeout(5000);
    Ftp.Connect();
    StoreSmallFile(Ftp, "a.bin");
    StoreSmallFile(Ftp, "b.bin"); // remembers that PASV is refused
    Ftp.Quit();
    EXPECT_EQ(Peer.Received(), (std::vector<std::string>{"USER u", "PASV", "EPSV", "STOR a.bin", "EPSV",
                                                         "STOR b.bin", "QUIT"}));
}

TEST(FtpPassive, RefusedStoreAndMalformedPassiveRepliesAreNetworkErrors) {
    struct Case {
        const char* Title;
        std::map<std::string, std::string> Replies;
        bool ReplyError; // EFtpReplyError, else another network error
    };
    TSilentListener Data;
    const std::string Pasv = "227 Entering Passive Mode (127,0,0,1," + std::to_string(Data.Port / 256) + "," +
                             std::to_string(Data.Port % 256) + ").\r\n";
    const Case Cases[] = {
        {"store refused",
         {{"USER", "230 In.\r\n"}, {"PASV", Pasv}, {"STOR", "553 Name not allowed.\r\n"}},
         true},
        {"store fails at the end",
         {{"USER", "230 In.\r\n"}, {"PASV", Pasv}, {"STOR", "150 Go.\r\n452 Disk full.\r\n"}},
         true},
        {"garbled PASV", {{"USER", "230 In.\r\n"}, {"PASV", "227 Entering Passive Mode (a,b).\r\n"}}, false},
        {"PASV and EPSV refused",
         {{"USER", "230 In.\r\n"}, {"PASV", "500 No.\r\n"}, {"EPSV", "500 No.\r\n"}},
         true},
    };
    for (const Case& C : Cases) {
        SCOPED_TRACE(C.Title);
        TScriptedFtpServer Peer("220 Ready.\r\n", C.Replies);
        TFtpClient Ftp;
        Ftp.Host = "127.0.0.1";
        Ftp.Port = Peer.Port();
        Ftp.SetReadTimeout(5000);
        Ftp.Connect();
        try {
            StoreSmallFile(Ftp, "x.bin");
            ADD_FAILURE() << "store accepted";
        } catch (const EFtpReplyError&) {
            EXPECT_TRUE(C.ReplyError);
        } catch (const ENetworkError&) {
            EXPECT_FALSE(C.ReplyError);
        }
        EXPECT_FALSE(Ftp.DataConnected());
        Ftp.Disconnect();
    }
}
