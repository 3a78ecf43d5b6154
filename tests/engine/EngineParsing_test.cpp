// The engine's pure routines: reply and server-list parsing, Info lines, URLs, connection
// settings, MD5, the size check and the method registry.
#include "EngineTestSupport.h"

#include "core/app/MyUtils.h"
#include "core/engine/BrimvaultHttpUploader.h"
#include "core/engine/PluginManager.h"
#include "core/engine/Redaction.h"
#include "core/engine/ServiceSite.h"
#include "core/net/CurlSupport.h"
#include "core/net/FileStreamers.h"
#include "core/net/FtpClient.h"
#include "core/net/IdHTTPEx.h"

#include <gtest/gtest.h>

using namespace quillo;
using namespace quillo::test;

namespace {

struct TReplyCase {
    const char* Reply;
    const char* Download; // nullptr: "No download link"
    const char* Kill;     // "" = no kill-link line
};

class ReplyTable : public ::testing::TestWithParam<TReplyCase> {};

TEST_P(ReplyTable, DownloadAndDeleteLinesAreRead) {
    const TReplyCase C = GetParam();
    TUploadInfo Info;
    Info.SetValue("MD5", "ABC");
    Info.SetValue("kill-link", "old");
    if (!C.Download) {
        try {
            ParseUploadReply(C.Reply, Info);
            FAIL() << "no error for " << C.Reply;
        } catch (const EITError& E) {
            EXPECT_STREQ(E.what(), "No download link");
        }
        EXPECT_EQ(Info.Value("MD5"), "ABC");
        return;
    }
    ParseUploadReply(C.Reply, Info);
    EXPECT_EQ(Info.Value("download-link"), C.Download);
    EXPECT_EQ(Info.Value("kill-link"), C.Kill);
    EXPECT_EQ(Info.Has("kill-link"), C.Kill[0] != 0);
    EXPECT_EQ(Info.Value("MD5"), "ABC");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReplyTable,
    ::testing::Values(TReplyCase{"DOWNLOAD: http://s/d/1\r\nDELETE: http://s/k/1\r\n", "http://s/d/1",
                                 "http://s/k/1"},
                      TReplyCase{"DOWNLOAD:http://s/d/1", "http://s/d/1", ""},
                      TReplyCase{"download:   http://s/d/2   \nDelete:x", "http://s/d/2", "x"},
                      TReplyCase{"DOWNLOAD :http://s/d/3\r\nDOWNLOAD:real", "real", ""},
                      TReplyCase{"DOWNLOAD:first\rDOWNLOAD:second\rDELETE:a\rDELETE:b", "first", "a"},
                      TReplyCase{"  \r\n\r\nINFO: x\r\nDOWNLOAD: a:b:c\r\n\r\n", "a:b:c", ""},
                      TReplyCase{"DELETE: http://s/k/1", nullptr, ""},
                      TReplyCase{"DOWNLOAD:   \r\nDELETE: k", nullptr, ""}, TReplyCase{"", nullptr, ""},
                      TReplyCase{"<html>Internal error</html>", nullptr, ""}));

struct TListCase {
    const char* Text;
    std::vector<std::string> Hosts;
};

class ServerListTable : public ::testing::TestWithParam<TListCase> {};

TEST_P(ServerListTable, EntriesAreSplitAtCommasBlanksAndLineBreaks) {
    EXPECT_EQ(ParseUploadServerList(GetParam().Text), GetParam().Hosts);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ServerListTable,
    ::testing::Values(
        TListCase{"up1.example,up2.example up3.example", {"up1.example", "up2.example", "up3.example"}},
        TListCase{"a.example,\r\nb.example\nc.example", {"a.example", "b.example", "c.example"}},
        TListCase{"\"a.example\", \"127.0.0.1:8080\"", {"a.example", "127.0.0.1:8080"}},
        TListCase{"   \r\n\t  ", {}}, TListCase{"", {}}, TListCase{",,,", {}},
        // Entries that are not plain hosts would rewrite the request URL.
        TListCase{"evil.example/x?y good.example", {"good.example"}}, TListCase{"user@evil.example", {}},
        TListCase{"\"a b\"", {}}, TListCase{"[::1]:8080 host:0 host:65536 host:", {"[::1]:8080"}}));

TEST(UploadInfo, NamesIgnoreCaseAndEmptyValuesRemoveLines) {
    TUploadInfo Info;
    Info.SetText("upserver=up1\r\nMD5=abc\r\n\r\nnote\n");
    EXPECT_EQ(Info.Count(), 3u);
    EXPECT_EQ(Info.Value("md5"), "abc");
    Info.SetValue("Md5", "DEF");
    EXPECT_EQ(Info.Lines()[1], "Md5=DEF"); // replaced in place
    Info.SetValue("download-link", "http://x/d?a=b");
    EXPECT_EQ(Info.Value("DOWNLOAD-LINK"), "http://x/d?a=b");
    Info.SetValue("upserver", "");
    EXPECT_FALSE(Info.Has("upserver"));
    Info.SetValue("kill-link", "a\r\nb");
    EXPECT_EQ(Info.Text(), "Md5=DEF\r\nnote\r\ndownload-link=http://x/d?a=b\r\nkill-link=a  b\r\n");
    EXPECT_EQ(GetValueOfKey("download-link", Info.Text()), "http://x/d?a=b");
}

TEST(ServiceSite, UrlsFollowTheSiteHost) {
    ::setenv("QUILLO_SITE", "127.0.0.1:5555", 1);
    EXPECT_EQ(ServiceRootUrl(), "http://127.0.0.1:5555/");
    EXPECT_EQ(UploadServerListUrl(), "http://127.0.0.1:5555/uploadservers.txt");
    EXPECT_EQ(VersionUrl(), "http://127.0.0.1:5555/quillouploader/version.txt");
    EXPECT_EQ(DownloadPageUrl(), "http://127.0.0.1:5555/quillouploader/download");
    EXPECT_EQ(HelpPageUrl(), "http://127.0.0.1:5555/quillouploader");
    EXPECT_EQ(UploadUrl("up.example:81"), "http://up.example:81/cgi-bin/upload.cgi");
    EXPECT_EQ(CommitUrl("up1", "abc", "p w", "a.b", 1000, "0123456789ABCDEF0123456789ABCDEF"),
              "http://up1/cgi-bin/upload.cgi?action=commit&user=%61%62%63&pass=%70%20%77"
              "&filename=%61%2E%62&size=1000&md5=0123456789ABCDEF0123456789ABCDEF");
    ::unsetenv("QUILLO_SITE");
}

TEST(UploadForm, AccountValueAndFileNameCannotBreakTheForm) {
    EXPECT_EQ(AccountFormValue(false, "bob", "pw"), "a::");
    EXPECT_EQ(AccountFormValue(true, "bob", "p:w\"x"), "a:bob:p:w\"x");
    EXPECT_THROW(AccountFormValue(true, "bob\r\n--x", "pw"), EITError);
    EXPECT_THROW(AccountFormValue(true, "bob", "p\nw"), EITError);
    EXPECT_NO_THROW(AccountFormValue(false, "bob\r\n", "p\nw")); // not sent without an account
    EXPECT_EQ(EscapeFormFileName("a\"b\r\nContent-Type: x.bin"), "a%22b%0D%0AContent-Type: x.bin");
    EXPECT_EQ(EscapeFormFileName("plain name (1).zip"), "plain name (1).zip");
}

struct TProxyCase {
    bool UseProxy;
    uint8_t ProxyType;
    const char* Proxy;
    const char* User;
    TProxyKind Kind;
    const char* Host;
    int Port;
};

class ProxyTable : public ::testing::TestWithParam<TProxyCase> {};

TEST_P(ProxyTable, ProxyTypeSelectsTheKind) {
    const TProxyCase C = GetParam();
    TInternetConnectionSettings S;
    S.UseProxy = C.UseProxy;
    S.ProxyType = C.ProxyType;
    S.Proxy = C.Proxy;
    S.UserName = C.User;
    S.Password = "secret";
    S.BoundIP = "127.0.0.1";
    const TProxyConfig Config = ConnectionConfig(S);
    EXPECT_EQ(Config.ProxyKind, C.Kind);
    EXPECT_EQ(Config.BoundIP, "127.0.0.1");
    if (C.Kind != pkNone) {
        EXPECT_EQ(Config.ProxyHost, C.Host);
        EXPECT_EQ(Config.ProxyPort, C.Port);
        EXPECT_EQ(Config.ProxyUser, C.User);
        EXPECT_EQ(Config.ProxyPassword, "secret");
    }
    // The FTP side puts only the socket-layer kinds on its connections.
    EXPECT_EQ(TransparentProxyConfig(S).ProxyKind, C.Kind == pkHttp ? pkNone : C.Kind);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ProxyTable,
    ::testing::Values(TProxyCase{false, 1, "proxy.lan:3128", "", pkNone, "", 0},
                      TProxyCase{true, 1, "proxy.lan:3128", "bob", pkHttp, "proxy.lan", 3128},
                      TProxyCase{true, 2, "proxy.lan:1080", "", pkSocks4, "proxy.lan", 1080},
                      TProxyCase{true, 3, "proxy.lan:1080", "", pkSocks4A, "proxy.lan", 1080},
                      TProxyCase{true, 4, " proxy.lan : 1080 ", "u", pkSocks5, "proxy.lan", 1080},
                      TProxyCase{true, 4, "  proxy.lan  ", "", pkSocks5, "proxy.lan", 8080},
                      TProxyCase{true, 1, "proxy.lan:http", "", pkHttp, "proxy.lan", 8080},
                      TProxyCase{true, 1, "proxy.lan:70000", "", pkHttp, "proxy.lan", 8080},
                      TProxyCase{true, 0, "proxy.lan:1", "", pkNone, "", 0},
                      TProxyCase{true, 5, "proxy.lan:1", "", pkNone, "", 0}));

TEST(FtpProxy, FirewallSchemeOnlyWithTheHttpProxyType) {
    TInternetConnectionSettings S;
    S.UseProxy = true;
    S.ProxyType = 1;
    S.Proxy = "fw.lan:2121";
    S.UserName = "fwuser";
    S.FtpProxyMethod = 2;
    TFtpProxySettings P = FtpProxySettings(S);
    EXPECT_EQ(P.Scheme, fpsSite);
    EXPECT_EQ(P.Host, "fw.lan");
    EXPECT_EQ(P.Port, 2121);
    EXPECT_EQ(P.UserName, "fwuser");
    S.FtpProxyMethod = 0;
    EXPECT_EQ(FtpProxySettings(S).Scheme, fpsNone);
    S.FtpProxyMethod = 2;
    S.ProxyType = 4;
    EXPECT_EQ(FtpProxySettings(S).Scheme, fpsNone);
    S.UseProxy = false;
    S.ProxyType = 1;
    EXPECT_EQ(FtpProxySettings(S).Scheme, fpsNone);
}

TEST(FileMD5, KnownDigestsInUpperCase) {
    const std::string Dir = MakeScratchDir(QStringLiteral("md5")).toStdString();
    const auto Write = [&](const std::string& Name, const QByteArray& Data) {
        QFile F(QString::fromStdString(Dir + "/" + Name));
        F.open(QIODevice::WriteOnly);
        F.write(Data);
        return Dir + "/" + Name;
    };
    EXPECT_EQ(FileMD5Hex(Write("empty", "")), "D41D8CD98F00B204E9800998ECF8427E");
    EXPECT_EQ(FileMD5Hex(Write("abc", "abc")), "900150983CD24FB0D6963F7D28E17F72");
    EXPECT_EQ(FileMD5Hex(Write("fox", "The quick brown fox jumps over the lazy dog")),
              "9E107D9D372BB6826BD81D3542A419D6");
    EXPECT_THROW(FileMD5Hex(Dir + "/missing"), EFileStreamError);
}

TEST(CheckMaxFileSize, TheLimitItselfPassesOneByteMoreFails) {
    TEventRecorder Recorder;
    const std::string Path = MakeFile("limit.bin", 3000);
    struct TCase {
        int64_t Limit;
        bool Passes;
    };
    for (const TCase C : {TCase{3000, true}, TCase{2999, false}, TCase{1, false}}) {
        std::string Error = "none";
        TScriptedUploader U(Recorder.Handler());
        U.Work = [&](TScriptedUploader& Self) { Self.CheckMaxFileSize(C.Limit); };
        U.StartUpload(Path, "", "", "");
        ASSERT_TRUE(WaitUntil([&] { return U.Parked(); }));
        EXPECT_EQ(U.WorkResult(), C.Passes ? trSuccess : trFailed) << C.Limit;
        EXPECT_EQ(U.FileSize(), 3000);
        EXPECT_EQ(U.UploadName(), "limit.bin");
    }
    TScriptedUploader Big(Recorder.Handler());
    const std::string BigPath = MakeFile("big.bin", 0);
    QFile(QString::fromStdString(BigPath)).resize(MaxUploadSize + 1); // sparse
    Big.Work = [](TScriptedUploader& Self) { Self.CheckMaxFileSize(MaxUploadSize); };
    Big.StartUpload(BigPath, "other name.bin", "d", "upserver=x\r\nMD5=Y");
    ASSERT_TRUE(WaitUntil([&] { return Big.Parked(); }));
    EXPECT_EQ(Big.WorkResult(), trFailed);
    EXPECT_EQ(Big.ErrorText(),
              "This file is too big. Max file size is 200 MB. Use WinRAR to split big files.");
    EXPECT_EQ(Big.UploadName(), "other name.bin");
    EXPECT_EQ(Big.Info.Value("upserver"), "x");
    EXPECT_EQ(Big.Info.Value("MD5"), "Y");
}

TEST(CheckMaxFileSize, AMissingFileHasSizeZeroAndFailsWithTheFileError) {
    TEventRecorder Recorder;
    TScriptedUploader U(Recorder.Handler());
    U.Work = [](TScriptedUploader& Self) { Self.CheckMaxFileSize(MaxUploadSize); };
    const std::string Path = MakeScratchDir(QStringLiteral("missing")).toStdString() + "/gone.bin";
    U.StartUpload(Path, "", "", "");
    ASSERT_TRUE(WaitUntil([&] { return U.Parked(); }));
    EXPECT_EQ(U.FileSize(), 0);
    EXPECT_EQ(U.WorkResult(), trError); // a file error: no retry, not an EITError
    EXPECT_FALSE(U.ErrorText().empty());
    EXPECT_EQ(U.Attempts(), 1);
}

TEST(WorkerClients, AreConfiguredFromTheSettingsAndTheSetters) {
    ChangeSettings([](TAppSettings& S) {
        S.InternetConnection.UseProxy = true;
        S.InternetConnection.ProxyType = 4;
        S.InternetConnection.Proxy = "127.0.0.1:1080";
        S.InternetConnection.UserName = "u";
        S.InternetConnection.Password = "p";
        S.InternetConnection.BoundIP = "127.0.0.1";
    });
    TEventRecorder Recorder;
    TScriptedUploader U(Recorder.Handler());
    U.SetConnectTimeout(7000);
    U.SetSendBufferSize(4096);
    TProxyConfig Http, Ftp;
    int32_t FtpReadTimeout = -1;
    U.Work = [&](TScriptedUploader& Self) {
        Http = Self.Http().Config();
        Ftp = Self.Ftp().Config;
        FtpReadTimeout = Self.Ftp().ReadTimeout();
    };
    U.StartUpload(MakeFile("cfg.bin", 1), "", "", "");
    ASSERT_TRUE(WaitUntil([&] { return U.Parked(); }));
    ResetEngineSettings();
    EXPECT_EQ(Http.ProxyKind, pkSocks5);
    EXPECT_EQ(Http.ProxyHost, "127.0.0.1");
    EXPECT_EQ(Http.ProxyPort, 1080);
    EXPECT_EQ(Http.ProxyUser, "u");
    EXPECT_EQ(Http.BoundIP, "127.0.0.1");
    EXPECT_EQ(Http.ConnectTimeout, 7000);
    EXPECT_EQ(Http.ReadTimeout, 0); // not set: no limit
    EXPECT_EQ(Http.SendBufferSize, 4096);
    EXPECT_EQ(Ftp.ProxyKind, pkSocks5);
    EXPECT_EQ(Ftp.BoundIP, "127.0.0.1");
    EXPECT_EQ(Ftp.ConnectTimeout, 7000);
    EXPECT_EQ(Ftp.SendBufferSize, 4096);
    EXPECT_EQ(FtpReadTimeout, TFtpClient::DefaultReadTimeout); // 0 keeps the FTP client's own

    // Set while parked, the values reach the existing clients before the next cycle.
    U.SetReadTimeout(9000);
    U.StartWork();
    ASSERT_TRUE(WaitUntil([&] { return Recorder.FinishedCount == 2 && U.Parked(); }));
    EXPECT_EQ(Http.ReadTimeout, 9000);
    EXPECT_EQ(FtpReadTimeout, 9000);
}

class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override { UnregisterAllUploaders(); }
    void TearDown() override { UnregisterAllUploaders(); }
};

TEST_F(RegistryTest, BuiltinsRegisterHttpFirstAndLookupsAreExact) {
    RegisterBuiltinUploaders();
    RegisterBuiltinUploaders(); // a second call adds nothing
    const std::vector<std::string> Names = UploaderNames();
    ASSERT_GE(Names.size(), 1u);
    EXPECT_EQ(Names[0], "HTTP Method");
    if (Names.size() > 1) {
        EXPECT_EQ(Names[1], "FTP Method");
        EXPECT_EQ(Names.size(), 2u);
    }
    EXPECT_EQ(UploaderEntry(0).Name, "HTTP Method");
    EXPECT_THROW(UploaderEntry(5), std::out_of_range);

    TEventRecorder Recorder;
    int Task = 7;
    auto U = CreateUploader("HTTP Method", &Task, Recorder.Handler());
    ASSERT_TRUE(U);
    EXPECT_NE(dynamic_cast<TBrimvaultHttpUploader*>(U.get()), nullptr);
    EXPECT_EQ(U->Data(), &Task);
    EXPECT_TRUE(U->Parked());
    EXPECT_EQ(U->State(), tsIdle);
    for (const char* Wrong : {"http method", "HTTP METHOD", "HTTP Method ", "", "SFTP Method"})
        EXPECT_FALSE(CreateUploader(Wrong, nullptr, Recorder.Handler())) << Wrong;
}

TEST_F(RegistryTest, TheFirstOfTwoEntriesWithTheSameNameWins) {
    int Made = 0;
    RegisterUploader("X", [&](void* Data, TInternetThreadEventHandler OnEvent) -> std::unique_ptr<TUploader> {
        ++Made;
        return std::make_unique<TScriptedUploader>(std::move(OnEvent));
    });
    RegisterUploader(
        "X", [](void*, TInternetThreadEventHandler) -> std::unique_ptr<TUploader> { return nullptr; });
    EXPECT_EQ(UploaderCount(), 2);
    EXPECT_TRUE(CreateUploader("X", nullptr, {}));
    EXPECT_EQ(Made, 1);
}

} // namespace

TEST(Redaction, EveryFormOfASecretIsReplaced) {
    const std::vector<std::string> Secrets = {"p w&=%", "proxyuser", "", "ab"};
    struct Case {
        std::string Text, Expected;
    };
    const Case Cases[] = {
        {"login p w&=% refused", "login ***** refused"},
        {"pass=%70%20%77%26%3D%25&size=1", "pass=*****&size=1"},
        {"pass=%70%20%77%26%3d%25", "pass=*****"},
        {"pass=p%20w%26%3D%25", "pass=*****"},
        {"pass=p+w%26%3d%25", "pass=*****"},
        {"user proxyuser and proxyuser", "user ***** and *****"},
        // A two-letter secret is replaced only where it cannot be an ordinary word.
        {"about %61%62 tab", "about ***** tab"},
        {"nothing here", "nothing here"},
    };
    for (const Case& C : Cases)
        EXPECT_EQ(RedactSecrets(C.Text, Secrets), C.Expected) << C.Text;
    EXPECT_EQ(RedactSecrets("***", {"***"}), "*****");
}

TEST(Redaction, UrlsInMessagesLoseUserInformationQueryAndFragment) {
    struct Case {
        const char* Url;
        const char* Shown;
    };
    const Case Cases[] = {
        {"http://h:81/cgi-bin/upload.cgi?action=commit&user=%61&pass=%62", "http://h:81/cgi-bin/upload.cgi"},
        {"http://me:secret@h/x#frag", "http://h/x"},
        {"ftp://u:p@w@[::1]:21", "ftp://[::1]:21"},
        {"/relative?pass=x", "/relative"},
        {"http://h?pass=x", "http://h"},
    };
    for (const Case& C : Cases)
        EXPECT_EQ(curlsupport::UrlForMessages(C.Url), C.Shown) << C.Url;
}
