#include "core/net/IdHTTPEx.h"

#include "core/net/IdStackWindowsEx.h"
#include "core/net/InternetSpeedLimiter.h"
#include "core/net/NetErrors.h"

#include "NetTestServers.h"
#include "RecordingIntercept.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <regex>
#include <thread>

namespace quillo {
namespace {

using test::TCapturedRequest;
using test::TLoopbackHttpServer;
using Clock = std::chrono::steady_clock;
using test::TRecordingIntercept;

const char* const BrowserAccept = "image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, "
                                  "application/x-shockwave-flash, application/vnd.ms-excel, "
                                  "application/vnd.ms-powerpoint, application/msword, */*";

std::string MakeFile(const std::string& Name, const std::string& Bytes) {
    const std::string Path = test::MakeScratchDir(QStringLiteral("http")).toStdString() + "/" + Name;
    std::ofstream(Path, std::ios::binary) << Bytes;
    return Path;
}

std::string Pattern(size_t Size) {
    std::string S(Size, '\0');
    for (size_t I = 0; I < Size; ++I)
        S[I] = static_cast<char>((I * 7 + I / 251) & 0xFF);
    return S;
}

std::vector<std::string> HeaderNames(const TCapturedRequest& R) {
    std::vector<std::string> Names;
    for (const auto& H : R.Headers)
        Names.push_back(H.first);
    std::sort(Names.begin(), Names.end());
    return Names;
}

TEST(HttpClient, PostsTheMultipartFormByteForByte) {
    TLoopbackHttpServer Server([](const TCapturedRequest&) {
        return TLoopbackHttpServer::Reply("200 OK", "DOWNLOAD: http://x/d\r\n");
    });
    const std::string Content = Pattern(70000) + "\r\n--";
    const std::string Path = MakeFile("local name.bin", Content);
    TIdHTTPEx Http;
    Http.Request.Referer = "http://127.0.0.1/";
    Http.AddFormField("group_name", "soft");
    Http.AddFormField("mode", "soft");
    Http.AddFormField("wmid", "a::");
    Http.SetFileField("FILE1", "remote name.bin", Path);
    EXPECT_EQ(Http.PostFormText(Server.Url("/cgi-bin/upload.cgi")), "DOWNLOAD: http://x/d\r\n");

    const auto Requests = Server.Requests();
    ASSERT_EQ(Requests.size(), 1u);
    const TCapturedRequest& R = Requests[0];
    EXPECT_EQ(R.Method, "POST");
    EXPECT_EQ(R.Target, "/cgi-bin/upload.cgi");
    EXPECT_EQ(R.Head.substr(R.Head.find(' ', 5) + 1, 10), "HTTP/1.1\r\n");
    const std::string ContentType = R.Header("Content-Type");
    std::smatch M;
    ASSERT_TRUE(std::regex_match(ContentType, M, std::regex("multipart/form-data; boundary=(-{8}[0-9]{15})")))
        << ContentType;
    const std::string B = M[1];
    const std::string Expected =
        "--" + B + "\r\nContent-Disposition: form-data; name=\"group_name\"\r\n\r\nsoft\r\n" + "--" + B +
        "\r\nContent-Disposition: form-data; name=\"mode\"\r\n\r\nsoft\r\n" + "--" + B +
        "\r\nContent-Disposition: form-data; name=\"wmid\"\r\n\r\na::\r\n" + "--" + B +
        "\r\nContent-Disposition: form-data; name=\"FILE1\"; filename=\"remote name.bin\"\r\n"
        "Content-Type: application/octet-stream\r\n\r\n" +
        Content + "\r\n--" + B + "--\r\n";
    EXPECT_EQ(R.Body.size(), Expected.size());
    EXPECT_TRUE(R.Body == Expected);
    EXPECT_EQ(R.Header("Content-Length"), std::to_string(Expected.size()));
    // Exactly these headers and nothing the library would add on its own.
    EXPECT_EQ(HeaderNames(R),
              (std::vector<std::string>{"Accept", "Accept-Language", "Connection", "Content-Length",
                                        "Content-Type", "Host", "Referer", "User-Agent"}));
    EXPECT_EQ(R.Header("User-Agent"), "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1)");
    EXPECT_EQ(R.Header("Accept"), BrowserAccept);
    EXPECT_EQ(R.Header("Accept-Language"), "en");
    EXPECT_EQ(R.Header("Connection"), "Close");
    EXPECT_EQ(R.Header("Referer"), "http://127.0.0.1/");
}

TEST(HttpClient, BoundaryIsTheLocalTimeInFifteenDigits) {
    const std::string B = TIdHTTPEx::MakeBoundary();
    EXPECT_TRUE(std::regex_match(B, std::regex("-{8}(0[1-9]|1[0-2])(0[1-9]|[12][0-9]|3[01])[0-9]{2}"
                                               "([01][0-9]|2[0-3])[0-5][0-9][0-5][0-9][0-9]{3}")))
        << B;
}

TEST(HttpClient, FormKeepsFirstInsertionOrderAndOneFilePart) {
    const std::string First = MakeFile("first.bin", "AAAA");
    const std::string Second = MakeFile("second.bin", "BBBBBB");
    TIdHTTPEx Http;
    Http.AddFormField("a", "1");
    Http.SetFileField("file", "", First);
    Http.AddFormField("B", "2");
    Http.AddFormField("A", "3"); // replaces "a" in place
    Http.AddFormField("gone", "x");
    Http.AddFormField("GONE", ""); // removes
    Http.SetFileField("FILE", "", Second);
    ASSERT_EQ(Http.FormFields().size(), 3u);
    EXPECT_EQ(Http.FormFields()[0].Name, "a");
    EXPECT_EQ(Http.FormFields()[0].Value, "3");
    EXPECT_EQ(Http.FormFields()[1].Name, "file");
    EXPECT_EQ(Http.FormFields()[1].Value, "second.bin");
    EXPECT_TRUE(Http.FormFields()[1].HasFile);
    EXPECT_EQ(Http.FileReader()->Size(), 6);

    TLoopbackHttpServer Server(nullptr);
    Http.PostFormText(Server.Url());
    const std::string Body = Server.Requests().at(0).Body;
    EXPECT_EQ(Body.find("AAAA"), std::string::npos);
    const size_t File =
        Body.find("filename=\"second.bin\"\r\nContent-Type: application/octet-stream\r\n\r\nBBBBBB\r\n");
    ASSERT_NE(File, std::string::npos);
    EXPECT_LT(Body.find("name=\"a\"\r\n\r\n3\r\n"), File);
    EXPECT_GT(Body.find("name=\"B\"\r\n\r\n2\r\n"), File);
    EXPECT_EQ(Body.find("gone"), std::string::npos);

    Http.ClearForm();
    EXPECT_TRUE(Http.FormFields().empty());
    EXPECT_EQ(Http.FileReader(), nullptr);
    EXPECT_TRUE(Http.Request.ContentType.empty());
}

TEST(HttpClient, QuotesAndLineBreaksInNamesCannotBreakThePartHeaders) {
    TLoopbackHttpServer Server(nullptr);
    const std::string Path = MakeFile("x.bin", "data");
    TIdHTTPEx Http;
    Http.AddFormField("we\"ird", "v\"1");
    Http.SetFileField("FILE1", "a\"b\r\nX-Evil: 1\n.txt", Path);
    Http.PostFormText(Server.Url());
    const std::string Body = Server.Requests().at(0).Body;
    EXPECT_NE(Body.find("name=\"we%22ird\"\r\n\r\nv\"1\r\n"), std::string::npos) << Body;
    EXPECT_NE(
        Body.find("filename=\"a%22b%0D%0AX-Evil: 1%0A.txt\"\r\nContent-Type: application/octet-stream\r\n"),
        std::string::npos)
        << Body;
}

TEST(HttpClient, FileFieldOverAMissingFileRaisesAFileError) {
    TIdHTTPEx Http;
    EXPECT_THROW(Http.SetFileField("FILE1", "", "/nonexistent/quillo.bin"), EFileStreamError);
}

TEST(HttpClient, PostsAUrlEncodedFormWithoutAFile) {
    TLoopbackHttpServer Server(nullptr);
    TIdHTTPEx Http;
    Http.AddFormField("name", "a b&c=d/é");
    Http.AddFormField("x", "1");
    Http.PostFormText(Server.Url("/form"));
    const TCapturedRequest R = Server.Requests().at(0);
    EXPECT_EQ(R.Header("Content-Type"), "application/x-www-form-urlencoded");
    EXPECT_EQ(R.Body, "name=a+b%26c%3Dd%2F%C3%A9&x=1");
}

TEST(HttpClient, FollowsRedirectsWritingSpacesAsPercent20) {
    TLoopbackHttpServer Server([](const TCapturedRequest& R) {
        if (R.Target == "/start")
            return TLoopbackHttpServer::Reply("302 Found", "moved", {"Location: /a dir/next page"});
        if (R.Target == "/a%20dir/next%20page")
            return TLoopbackHttpServer::Reply("301 Moved Permanently", "", {"Location: final file.txt"});
        return TLoopbackHttpServer::Reply("200 OK", "target:" + R.Target);
    });
    TIdHTTPEx Http;
    EXPECT_EQ(Http.Get(Server.Url("/start")), "target:/a%20dir/final%20file.txt");
    const auto Requests = Server.Requests();
    ASSERT_EQ(Requests.size(), 3u);
    EXPECT_EQ(Requests[1].Target, "/a%20dir/next%20page");
    EXPECT_EQ(Http.ResponseCode(), 200);
}

TEST(HttpClient, ARedirectedPostContinuesAsAGetWithoutContentType) {
    TLoopbackHttpServer Server([](const TCapturedRequest& R) {
        if (R.Method == "POST")
            return TLoopbackHttpServer::Reply("302 Found", "", {"Location: /done here"});
        return TLoopbackHttpServer::Reply("200 OK", "ok");
    });
    TIdHTTPEx Http;
    Http.AddFormField("k", "v");
    EXPECT_EQ(Http.PostFormText(Server.Url("/post")), "ok");
    const auto Requests = Server.Requests();
    ASSERT_EQ(Requests.size(), 2u);
    EXPECT_EQ(Requests[1].Method, "GET");
    EXPECT_EQ(Requests[1].Target, "/done%20here");
    EXPECT_FALSE(Requests[1].HasHeader("Content-Type"));
    EXPECT_TRUE(Http.Request.ContentType.empty());
}

TEST(HttpClient, StopsAfterFifteenRedirects) {
    TLoopbackHttpServer Server([](const TCapturedRequest& R) {
        const int N = std::stoi(R.Target.substr(1));
        return TLoopbackHttpServer::Reply("302 Found", "", {"Location: /" + std::to_string(N + 1)});
    });
    TIdHTTPEx Http;
    try {
        Http.Get(Server.Url("/0"));
        FAIL() << "no error";
    } catch (const EHttpStatusError& E) {
        EXPECT_EQ(E.StatusCode(), 302);
    }
    EXPECT_EQ(Server.Requests().size(), 16u); // the first request and 15 redirects
}

TEST(HttpClient, AStatusOutsideTheSuccessRangeIsANetworkError) {
    for (const std::string Status : {"404 Not Found", "500 Internal Server Error",
                                     "407 Proxy Authentication Required", "304 Not Modified"}) {
        TLoopbackHttpServer Server(
            [&](const TCapturedRequest&) { return TLoopbackHttpServer::Reply(Status, "no"); });
        TIdHTTPEx Http;
        try {
            Http.Get(Server.Url("/x"));
            FAIL() << Status;
        } catch (const EHttpStatusError& E) {
            EXPECT_EQ(E.StatusCode(), std::stoi(Status));
            EXPECT_EQ(std::string(E.what()), "HTTP/1.1 " + Status);
            const ENetworkError* AsNetwork = &E;
            EXPECT_NE(AsNetwork, nullptr);
        }
    }
}

TEST(HttpClient, AFailedConnectionIsANetworkError) {
    int Port;
    {
        TLoopbackHttpServer Gone(nullptr);
        Port = Gone.Port();
    }
    TIdHTTPEx Http;
    EXPECT_THROW(Http.Get("http://127.0.0.1:" + std::to_string(Port) + "/"), EConnectError);
    TLoopbackHttpServer Closer([](const TCapturedRequest&) { return std::string("garbage"); });
    EXPECT_THROW(Http.Get(Closer.Url()), ENetworkError);
}

TEST(HttpClient, CookiesAreKeptUntilResetDefaults) {
    TLoopbackHttpServer Server([](const TCapturedRequest& R) {
        if (R.Target == "/set")
            return TLoopbackHttpServer::Reply("200 OK", "", {"Set-Cookie: session=abc123; Path=/"});
        return TLoopbackHttpServer::Reply("200 OK", R.Header("Cookie"));
    });
    TIdHTTPEx Http;
    Http.Get(Server.Url("/set"));
    EXPECT_EQ(Http.Get(Server.Url("/echo")), "session=abc123");
    Http.ResetDefaults();
    EXPECT_EQ(Http.Get(Server.Url("/echo")), "");
    EXPECT_FALSE(Server.Requests().back().HasHeader("Cookie"));
    // Another client never sees them either.
    Http.Get(Server.Url("/set"));
    TIdHTTPEx Other;
    EXPECT_EQ(Other.Get(Server.Url("/echo")), "");
}

TEST(HttpClient, CookiesSwitchedOffAreNeitherSentNorStored) {
    TLoopbackHttpServer Server([](const TCapturedRequest& R) {
        if (R.Target.rfind("/set/", 0) == 0)
            return TLoopbackHttpServer::Reply("200 OK", "",
                                              {"Set-Cookie: " + R.Target.substr(5) + "; Path=/"});
        return TLoopbackHttpServer::Reply("200 OK", R.Header("Cookie"));
    });
    TIdHTTPEx Http;
    Http.Get(Server.Url("/set/a=1"));
    Http.AllowCookies = false;
    EXPECT_EQ(Http.Get(Server.Url("/echo")), "");
    Http.Get(Server.Url("/set/b=2"));
    Http.AllowCookies = true;
    EXPECT_EQ(Http.Get(Server.Url("/echo")), "a=1");
}

TEST(HttpClient, ResetDefaultsRestoresTheHeadersAndEmptiesTheForm) {
    TIdHTTPEx Http;
    Http.Request.Referer = "http://site/";
    Http.Request.CustomHeaders.push_back({"X-Test", "1"});
    Http.Request.Accept.clear();
    Http.AddFormField("a", "b");
    Http.ResetDefaults();
    EXPECT_TRUE(Http.Request.Referer.empty());
    EXPECT_TRUE(Http.Request.CustomHeaders.empty());
    EXPECT_EQ(Http.Request.Accept, BrowserAccept);
    EXPECT_TRUE(Http.FormFields().empty());
    EXPECT_TRUE(Http.HandleRedirects);
    EXPECT_EQ(Http.RedirectMaximum, 15);

    // An emptied Accept is not replaced by the library's own.
    TLoopbackHttpServer Server(nullptr);
    Http.Request.Accept.clear();
    Http.Get(Server.Url());
    const TCapturedRequest R = Server.Requests().at(0);
    EXPECT_FALSE(R.HasHeader("Accept"));
    EXPECT_FALSE(R.HasHeader("Referer"));
    EXPECT_FALSE(R.HasHeader("Accept-Charset"));
}

TEST(HttpClient, BindsToTheConfiguredLocalAddress) {
    TLoopbackHttpServer Server(
        [](const TCapturedRequest& R) { return TLoopbackHttpServer::Reply("200 OK", R.PeerIp); });
    TIdHTTPEx Http;
    EXPECT_EQ(Http.Get(Server.Url()), "127.0.0.1");
    // Every 127/8 address is local: the server sees the one we bound to.
    Http.SetBoundIP("127.0.0.2");
    EXPECT_EQ(Http.Get(Server.Url()), "127.0.0.2");
    Http.SetBoundIP("127.0.0.1");
    EXPECT_EQ(Http.Get(Server.Url()), "127.0.0.1");
}

TEST(HttpClient, ReadTimeOutFailsASilentServer) {
    TLoopbackHttpServer Server([](const TCapturedRequest&) { return std::string(); });
    TIdHTTPEx Http;
    Http.SetReadTimeout(300);
    const auto Start = Clock::now();
    EXPECT_THROW(Http.Get(Server.Url()), ETimeoutError);
    const auto Took = Clock::now() - Start;
    EXPECT_GE(Took, std::chrono::milliseconds(250));
    EXPECT_LT(Took, std::chrono::seconds(5));
}

// Abort from another thread ends the call long before any time-out, whether the client waits
// for an answer or for the server to take the body.
TEST(HttpClient, AbortFromAnotherThreadEndsThePendingCallAtOnce) {
    for (const bool DuringUpload : {false, true}) {
        TLoopbackHttpServer::TOptions Options;
        Options.StallAfterHead = DuringUpload;
        TLoopbackHttpServer Server([](const TCapturedRequest&) { return std::string(); }, Options);
        const std::string Path = MakeFile("big.bin", Pattern(DuringUpload ? 64 << 20 : 10));
        TIdHTTPEx Http;
        Http.SetReadTimeout(60000);
        Http.SetFileField("FILE1", "", Path);
        Clock::time_point AbortedAt;
        std::thread Stopper([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            AbortedAt = Clock::now();
            Http.Abort();
        });
        EXPECT_THROW(Http.PostFormText(Server.Url()), EAbortedError);
        const auto Took = Clock::now() - AbortedAt;
        Stopper.join();
        EXPECT_LT(Took, std::chrono::milliseconds(1000)) << DuringUpload;
        // Later calls fail too until the owner resets the client.
        EXPECT_THROW(Http.Get(Server.Url()), EAbortedError);
        Http.ResetDefaults();
        EXPECT_FALSE(Http.Connected());
    }
}

// A "proxy" that takes the connection and never answers keeps the client in its handshake.
TEST(HttpClient, AbortAndConnectTimeOutEndAStuckProxyHandshake) {
    TLoopbackHttpServer Silent([](const TCapturedRequest&) { return std::string(); });
    TProxyConfig Config;
    Config.ProxyKind = pkSocks5;
    Config.ProxyHost = "127.0.0.1";
    Config.ProxyPort = Silent.Port();
    {
        TIdHTTPEx Http;
        Http.SetConfig(Config);
        Clock::time_point AbortedAt;
        std::thread Stopper([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            AbortedAt = Clock::now();
            Http.Abort();
        });
        EXPECT_THROW(Http.Get("http://127.0.0.1:1/"), EAbortedError);
        EXPECT_LT(Clock::now() - AbortedAt, std::chrono::milliseconds(1000));
        Stopper.join();
    }
    Config.ConnectTimeout = 300;
    TIdHTTPEx Http;
    Http.SetConfig(Config);
    const auto Start = Clock::now();
    EXPECT_THROW(Http.Get("http://127.0.0.1:1/"), ETimeoutError);
    EXPECT_LT(Clock::now() - Start, std::chrono::seconds(5));
}

TEST(HttpClient, ReportsTheUploadThroughWorkEventsAndTheIntercept) {
    TLoopbackHttpServer Server(
        [](const TCapturedRequest&) { return TLoopbackHttpServer::Reply("200 OK", "done"); });
    const std::string Path = MakeFile("f.bin", Pattern(300000));
    TIdHTTPEx Http;
    Http.SetSendBufferSize(4096);
    Http.SetFileField("FILE1", "", Path);
    TRecordingIntercept Intercept;
    Http.SetIntercept(&Intercept);
    std::vector<std::string> Events;
    int64_t LastCount = 0, MaxChunk = 0, Max = 0;
    Http.Work.OnWorkBegin = [&](TWorkMode Mode, int64_t CountMax) {
        Events.push_back(Mode == wmWrite ? "begin-write" : "begin-read");
        if (Mode == wmWrite)
            Max = CountMax;
    };
    Http.Work.OnWork = [&](TWorkMode Mode, int64_t Count) {
        if (Mode == wmWrite) {
            EXPECT_GT(Count, LastCount);
            MaxChunk = std::max(MaxChunk, Count - LastCount);
            LastCount = Count;
        }
    };
    Http.Work.OnWorkEnd = [&](TWorkMode Mode) {
        Events.push_back(Mode == wmWrite ? "end-write" : "end-read");
    };
    Http.PostFormText(Server.Url());
    const int64_t BodySize = Server.Requests().at(0).BodyLength;
    EXPECT_EQ(Events, (std::vector<std::string>{"begin-write", "end-write", "begin-read", "end-read"}));
    EXPECT_EQ(Max, BodySize);
    EXPECT_EQ(LastCount, BodySize);
    EXPECT_LE(MaxChunk, 4096); // socket writes of at most the configured size
    EXPECT_EQ(Intercept.Connects, 1);
    EXPECT_EQ(Intercept.Sent, BodySize);
    EXPECT_GT(Intercept.Received, 4);
    // Destroying the intercept detaches it.
    Http.SetIntercept(nullptr);
    EXPECT_EQ(Http.Intercept(), nullptr);
}

TEST(HttpClient, ASpeedLimiterDestroyedFirstDetachesItself) {
    TLoopbackHttpServer Server(nullptr);
    TIdHTTPEx Http;
    {
        TIndySpeedLimiter Limiter;
        Http.SetIntercept(&Limiter);
    }
    EXPECT_EQ(Http.Intercept(), nullptr);
    EXPECT_NO_THROW(Http.Get(Server.Url()));
}

TEST(HttpClient, BodiesPassThroughTheSendStack) {
    TLoopbackHttpServer Server(nullptr);
    TIdStackWindowsEx Stack;
    const std::string Path = MakeFile("f.bin", Pattern(100000));
    TIdHTTPEx Http;
    Http.SetStack(&Stack);
    Http.SetFileField("FILE1", "", Path);
    Http.PostFormText(Server.Url());
    EXPECT_EQ(Stack.CountedBytes, Server.Requests().at(0).BodyLength);
}

TEST(HttpClient, AFileChangedDuringTheUploadFailsWithAFileError) {
    struct TCase {
        size_t Size;
        int64_t ChangeAfter; // body bytes sent
    };
    const TCase Cases[] = {
        {1 << 20, 100000},
        // Smaller than one piece of the body: every byte of it is taken before the first write,
        // and the change comes while it goes out.
        {20000, 1000},
    };
    for (const TCase& C : Cases) {
        SCOPED_TRACE(testing::Message() << "size " << C.Size);
        TLoopbackHttpServer Server(nullptr);
        const std::string Path = MakeFile("f.bin", Pattern(C.Size));
        TIdHTTPEx Http;
        Http.SetSendBufferSize(4096);
        Http.SetFileField("FILE1", "", Path);
        bool Changed = false;
        Http.Work.OnWork = [&](TWorkMode Mode, int64_t Count) {
            if (Mode == wmWrite && Count > C.ChangeAfter && !Changed) {
                Changed = true;
                std::ofstream(Path, std::ios::app) << "late bytes";
            }
        };
        EXPECT_THROW(Http.PostFormText(Server.Url()), EFileStreamError);
        EXPECT_TRUE(Changed);
    }
}

TEST(HttpClient, AnErrorInAnEventHandlerPropagatesUnchanged) {
    TLoopbackHttpServer Server(nullptr);
    TIdHTTPEx Http;
    Http.AddFormField("a", "b");
    Http.Work.OnWorkBegin = [](TWorkMode, int64_t) { throw std::logic_error("handler"); };
    EXPECT_THROW(Http.PostFormText(Server.Url()), std::logic_error);
}

// Two uploads at once under a global limit of 64 KiB/s: together they need three budget
// periods for 192 KiB (the first starts at once), so at least two seconds.
TEST(HttpClient, TheGlobalLimitHoldsForParallelUploadsTogether) {
    TLoopbackHttpServer::TOptions Options;
    Options.KeepBody = false;
    TLoopbackHttpServer Server(nullptr, Options);
    TIdStackWindowsEx Stack;
    Stack.SendLimit = 65536;
    const std::string Path = MakeFile("f.bin", Pattern(96 * 1024 - 300));
    auto Upload = [&] {
        TIdHTTPEx Http;
        Http.SetStack(&Stack);
        Http.SetFileField("FILE1", "", Path);
        Http.PostFormText(Server.Url());
    };
    const auto Start = Clock::now();
    std::thread A(Upload), B(Upload);
    A.join();
    B.join();
    const auto Took = Clock::now() - Start;
    int64_t Total = 0;
    for (const auto& R : Server.Requests())
        Total += R.BodyLength;
    ASSERT_GT(Total, 2 * 65536);
    ASSERT_LE(Total, 3 * 65536);
    EXPECT_GE(Took, std::chrono::milliseconds(1900));
    EXPECT_LT(Took, std::chrono::milliseconds(6000));
}

} // namespace
} // namespace quillo
