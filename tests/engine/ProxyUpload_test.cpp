// The connection settings reach the wire: HTTP uploads through Debian's tinyproxy (ProxyType 1,
// the HTTP proxy with Basic authentication) and dante (ProxyType 2 SOCKS 4, 4 SOCKS 5), all on
// loopback.
#include "EngineTestSupport.h"

#include "ProxyFixtures.h"
#include "core/engine/BrimvaultHttpUploader.h"
#include "support/BrimvaultService.h"

#include <gtest/gtest.h>

using namespace quillo;
using namespace quillo::test;

namespace {

class ProxyUploadTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(Service.Start()) << Service.ErrorText().toStdString();
        ::setenv("QUILLO_SITE", Service.SiteHost().toUtf8().constData(), 1);
        ResetEngineSettings();
        ClearUploadServerCache();
    }
    void TearDown() override {
        ResetEngineSettings();
        ClearUploadServerCache();
        ::unsetenv("QUILLO_SITE");
    }
    void UseProxy(uint8_t Type, int Port, const std::string& User = {}, const std::string& Password = {}) {
        ChangeSettings([&](TAppSettings& S) {
            S.InternetConnection.UseProxy = true;
            S.InternetConnection.ProxyType = Type;
            S.InternetConnection.Proxy = "127.0.0.1:" + std::to_string(Port);
            S.InternetConnection.UserName = User;
            S.InternetConnection.Password = Password;
            S.UploadManager.RetryCount = 1;
        });
    }
    // One upload; the result and error text.
    std::pair<TInternetThreadResult, std::string> Upload() {
        TEventRecorder Recorder;
        TBrimvaultHttpUploader U(nullptr, Recorder.Handler());
        U.SetRetryPauseMs(20);
        U.SetConnectTimeout(5000);
        U.SetReadTimeout(10000);
        U.StartUpload(MakeFile("proxied.bin", 50000), "", "", "");
        EXPECT_TRUE(WaitUntil([&] { return Recorder.FinishedCount > 0 && U.Parked(); }));
        return {U.WorkResult(), U.ErrorText()};
    }

    TBrimvaultService Service;
};

TEST_F(ProxyUploadTest, HttpProxyWithBasicAuthenticationCarriesListAndUpload) {
    TTinyProxy Proxy;
    ASSERT_TRUE(Proxy.Start("bob", "secret")) << Proxy.ErrorText();
    UseProxy(1, Proxy.Port(), "bob", "secret");
    const auto [Result, Error] = Upload();
    EXPECT_EQ(Result, trSuccess) << Error;
    EXPECT_EQ(Service.HttpRequests("/cgi-bin/upload.cgi").size(), 1);
    EXPECT_TRUE(
        WaitUntil([&] { return Proxy.Output().find("/cgi-bin/upload.cgi") != std::string::npos; }, 3000))
        << Proxy.Output();
    EXPECT_NE(Proxy.Output().find("/uploadservers.txt"), std::string::npos);

    // A wrong password is refused by the proxy: nothing reaches the service.
    ClearUploadServerCache();
    ASSERT_TRUE(Service.ClearLog());
    UseProxy(1, Proxy.Port(), "bob", "wrong");
    const auto [Refused, RefusedError] = Upload();
    EXPECT_EQ(Refused, trError);
    EXPECT_FALSE(RefusedError.empty());
    EXPECT_EQ(Service.LogEntries().size(), 0);
}

TEST_F(ProxyUploadTest, SocksProxiesCarryTheUploadAndADeadProxyFailsIt) {
    TDanteProxy Proxy;
    ASSERT_TRUE(Proxy.Start()) << Proxy.ErrorText();
    // dante speaks SOCKS 4 and 5; SOCKS 4A (ProxyType 3) has its own peer in the network tests.
    for (const uint8_t Type : {uint8_t{2}, uint8_t{4}}) {
        ClearUploadServerCache();
        UseProxy(Type, Proxy.Port());
        const auto [Result, Error] = Upload();
        EXPECT_EQ(Result, trSuccess) << "ProxyType " << int(Type) << ": " << Error;
    }
    const int Port = Proxy.Port();
    Proxy.Stop();
    ClearUploadServerCache();
    ASSERT_TRUE(Service.ClearLog());
    UseProxy(4, Port);
    const auto [Result, Error] = Upload();
    EXPECT_EQ(Result, trError);
    EXPECT_EQ(Service.LogEntries().size(), 0) << "the upload went around the proxy";
}

} // namespace
