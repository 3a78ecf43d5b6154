// The HTTP method end to end against the stand-in service on loopback.
#include "EngineTestSupport.h"

#include "core/engine/BrimvaultHttpUploader.h"
#include "core/engine/PluginManager.h"
#include "support/BrimvaultService.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonObject>

using namespace quillo;
using namespace quillo::test;

namespace {

class HttpUploaderTest : public TServiceUploadTest {
protected:
    static void SetUpTestSuite() { StartService(); }

    std::unique_ptr<TBrimvaultHttpUploader> MakeUploader(TEventRecorder& R) {
        auto U = std::make_unique<TBrimvaultHttpUploader>(nullptr, R.Handler());
        U->SetRetryPauseMs(50);
        U->SetConnectTimeout(5000);
        U->SetSendBufferSize(8192);
        return U;
    }
    bool Run(TBrimvaultHttpUploader& U, TEventRecorder& R, const std::string& File,
             const std::string& Name = "") {
        U.StartUpload(File, Name, "a description", "");
        return WaitUntil([&] { return R.FinishedCount > 0 && U.Parked(); }, 60000);
    }
    static QList<QJsonObject> Posts() { return Service->HttpRequests("/cgi-bin/upload.cgi"); }
    static int ListFetches() { return static_cast<int>(Service->HttpRequests("/uploadservers.txt").size()); }

    TEventRecorder Recorder;
};

TEST_F(HttpUploaderTest, UploadEndsWithTheLinksAndTheMD5InInfo) {
    const std::string File = MakeFile("report.bin", 300000);
    auto U = MakeUploader(Recorder);
    ASSERT_TRUE(Run(*U, Recorder, File));
    EXPECT_EQ(U->WorkResult(), trSuccess) << U->ErrorText();
    EXPECT_EQ(U->Attempts(), 1);
    const std::string Md5 = FileMD5Hex(File);
    EXPECT_EQ(U->Info.Value("MD5"), Md5);
    EXPECT_NE(U->Info.Value("download-link").find("/d/"), std::string::npos);
    EXPECT_NE(U->Info.Value("kill-link").find("/k/"), std::string::npos);

    const auto P = Posts();
    ASSERT_EQ(P.size(), 1);
    const QJsonObject Form = P[0]["form"].toObject();
    const auto Fields = TBrimvaultService::FormFields(P[0]);
    ASSERT_EQ(Fields.size(), 3);
    EXPECT_EQ(Fields[0], qMakePair(QStringLiteral("group_name"), QStringLiteral("soft")));
    EXPECT_EQ(Fields[1], qMakePair(QStringLiteral("mode"), QStringLiteral("soft")));
    EXPECT_EQ(Fields[2], qMakePair(QStringLiteral("wmid"), QStringLiteral("a::")));
    const QJsonObject FilePart = Form["file"].toObject();
    EXPECT_EQ(FilePart["field"].toString(), "FILE1");
    EXPECT_EQ(FilePart["filename"].toString(), "report.bin");
    EXPECT_EQ(FilePart["content_type"].toString(), "application/octet-stream");
    EXPECT_EQ(FilePart["size"].toInt(), 300000);
    EXPECT_EQ(FilePart["md5"].toString().toUpper().toStdString(), Md5);
    // The file part is the last of the four parts.
    const QJsonArray Parts = Form["parts"].toArray();
    ASSERT_EQ(Parts.size(), 4);
    EXPECT_EQ(Parts[3].toObject()["name"].toString(), "FILE1");
    EXPECT_EQ(TBrimvaultService::HeaderValue(P[0], "Referer").toStdString(),
              "http://" + Service->SiteHost().toStdString() + "/");
    EXPECT_EQ(TBrimvaultService::HeaderValue(Service->HttpRequests("/uploadservers.txt")[0], "Referer"),
              TBrimvaultService::HeaderValue(P[0], "Referer"));

    // Status lines in order, progress from 0 to the whole body, exactly one ieFinished.
    const auto Texts = Recorder.StatusTexts();
    ASSERT_GE(Texts.size(), 3u);
    EXPECT_EQ(Texts[0], "Looking for free upload server...");
    EXPECT_EQ(Texts[1], "Uploading file...");
    EXPECT_EQ(Texts[2], "Upload finished. Calculating MD5..");
    EXPECT_EQ(Recorder.Count(ieFinished), 1);
    const std::vector<TRecordedEvent> Progress = Recorder.ProgressEvents();
    ASSERT_GE(Progress.size(), 2u);
    EXPECT_EQ(Progress.front().BytesDone, 0);
    EXPECT_GT(Progress.front().BytesTotal, 300000);
    EXPECT_EQ(Progress.back().BytesDone, Progress.back().BytesTotal);
    EXPECT_EQ(Progress.back().Percent, 100);
}

TEST_F(HttpUploaderTest, WithoutCalculateMD5NoMD5LineAndAccountGoesIntoWmid) {
    ChangeSettings([](TAppSettings& S) {
        S.UploadManager.CalculateMD5 = false;
        S.Brimvault.UseAccount = true;
        S.Brimvault.UserName = "bob";
        S.Brimvault.Password = "p:w\"d";
    });
    const std::string File = MakeFile("a.bin", 1000);
    auto U = MakeUploader(Recorder);
    ASSERT_TRUE(Run(*U, Recorder, File, "renamed.dat"));
    EXPECT_EQ(U->WorkResult(), trSuccess) << U->ErrorText();
    EXPECT_FALSE(U->Info.Has("MD5"));
    const auto Fields = TBrimvaultService::FormFields(Posts().at(0));
    EXPECT_EQ(Fields.at(2).second, "a:bob:p:w\"d");
    EXPECT_EQ(Posts().at(0)["form"].toObject()["file"].toObject()["filename"].toString(), "renamed.dat");
}

TEST_F(HttpUploaderTest, AnUploadNameWithLineBreaksAndQuotesStaysInsideItsPart) {
    const std::string File = MakeFile("x.bin", 500);
    auto U = MakeUploader(Recorder);
    ASSERT_TRUE(Run(*U, Recorder, File, "evil\"\r\nContent-Type: text/html\r\n\r\n.bin"));
    EXPECT_EQ(U->WorkResult(), trSuccess) << U->ErrorText();
    const QJsonObject Form = Posts().at(0)["form"].toObject();
    EXPECT_EQ(Form["parts"].toArray().size(), 4);
    const QJsonObject FilePart = Form["file"].toObject();
    EXPECT_EQ(FilePart["filename"].toString(), "evil%22%0D%0AContent-Type: text/html%0D%0A%0D%0A.bin");
    EXPECT_EQ(FilePart["content_type"].toString(), "application/octet-stream");
    EXPECT_EQ(FilePart["size"].toInt(), 500);
}

TEST_F(HttpUploaderTest, AnAccountFieldWithALineBreakIsRefusedBeforeAnythingIsSent) {
    ChangeSettings([](TAppSettings& S) {
        S.Brimvault.UseAccount = true;
        S.Brimvault.UserName = "bob";
        S.Brimvault.Password = "pw\r\n--boundary";
    });
    auto U = MakeUploader(Recorder);
    ASSERT_TRUE(Run(*U, Recorder, MakeFile("y.bin", 100)));
    EXPECT_EQ(U->WorkResult(), trFailed);
    EXPECT_EQ(Service->LogEntries().size(), 0);
}

TEST_F(HttpUploaderTest, RetryCountTwoMakesThreeAttemptsAgainstAServerThatDropsEveryConnection) {
    ChangeSettings([](TAppSettings& S) { S.UploadManager.RetryCount = 2; });
    ASSERT_TRUE(Service->SetFaults({{"fail_next", 1000}, {"fail_mode", "drop"}, {"fail_path", "/cgi-bin/"}}));
    auto U = MakeUploader(Recorder);
    ASSERT_TRUE(Run(*U, Recorder, MakeFile("z.bin", 20000)));
    EXPECT_EQ(U->WorkResult(), trError);
    EXPECT_EQ(U->Attempts(), 3);
    EXPECT_FALSE(U->ErrorText().empty());
    EXPECT_TRUE(Service->WaitForLog([](const QList<QJsonObject>&) { return Posts().size() >= 3; }, 3000));
    EXPECT_EQ(Posts().size(), 3);
    EXPECT_EQ(ListFetches(), 1); // the chosen server is kept across the attempts
    int Retrying = 0;
    for (const auto& T : Recorder.StatusTexts())
        Retrying += T.rfind("ERROR: ", 0) == 0 && T.find("\r\nRetrying in 1 seconds...") != std::string::npos;
    EXPECT_EQ(Retrying, 2);
}

TEST_F(HttpUploaderTest, ANetworkFailureFollowedBySuccessEndsAsSuccess) {
    ASSERT_TRUE(Service->SetFaults({{"fail_next", 1}, {"fail_status", 503}, {"fail_path", "/cgi-bin/"}}));
    auto U = MakeUploader(Recorder);
    ASSERT_TRUE(Run(*U, Recorder, MakeFile("w.bin", 5000)));
    EXPECT_EQ(U->WorkResult(), trSuccess) << U->ErrorText();
    EXPECT_EQ(U->Attempts(), 2);
    EXPECT_EQ(U->ErrorText(), "");
    EXPECT_FALSE(U->Info.Value("download-link").empty());
}

TEST_F(HttpUploaderTest, TheMD5IsTakenFromTheSentBytesAlsoAfterACutAndRetriedPost) {
    struct Case {
        const char* Name;
        int64_t Size;
        int64_t DropAfter; // cut the first post after this many body bytes (-1: no cut)
    };
    const Case Cases[] = {
        {"e.bin", 0, -1}, {"o.bin", 1, -1}, {"t.bin", 3 * 8192 + 1, -1}, {"c.bin", 300000, 100000}};
    for (const Case& C : Cases) {
        SCOPED_TRACE(C.Name);
        ASSERT_TRUE(Service->ResetFaults());
        if (C.DropAfter >= 0) {
            ASSERT_TRUE(Service->SetFaults(
                {{"drop_after", static_cast<qint64>(C.DropAfter)}, {"drop_after_times", 1}}));
        }
        const std::string File = MakeFile(C.Name, C.Size);
        const std::string Expected = FileMD5Hex(File);
        TEventRecorder R;
        // Gone once the post is over: a second read of the file would fail.
        R.Extra = [&](TInternetThread& T, TInternetThreadEvent E) {
            if (E == ieStatusText && T.StatusText() == "Upload finished. Calculating MD5..")
                QFile::remove(QString::fromStdString(File));
        };
        auto U = MakeUploader(R);
        ASSERT_TRUE(Run(*U, R, File));
        ASSERT_EQ(U->WorkResult(), trSuccess) << U->ErrorText();
        EXPECT_EQ(U->Attempts(), C.DropAfter >= 0 ? 2 : 1);
        EXPECT_EQ(U->Info.Value("MD5"), Expected);
    }
}

TEST_F(HttpUploaderTest, AnEmptyServerListIsNeverRetried) {
    ChangeSettings([](TAppSettings& S) { S.UploadManager.RetryCount = 0; });
    ASSERT_TRUE(Service->SetFaults({{"server_list", "  \r\n "}}));
    auto U = MakeUploader(Recorder);
    ASSERT_TRUE(Run(*U, Recorder, MakeFile("v.bin", 10)));
    EXPECT_EQ(U->WorkResult(), trFailed);
    EXPECT_EQ(U->ErrorText(), "No upload server available");
    EXPECT_EQ(U->Attempts(), 1);
    EXPECT_EQ(Posts().size(), 0);
}

TEST_F(HttpUploaderTest, AReplyWithoutDownloadLinkFailsAndKeepsTheMD5) {
    ASSERT_TRUE(Service->SetFaults({{"no_download", true}}));
    const std::string File = MakeFile("u.bin", 1234);
    auto U = MakeUploader(Recorder);
    ASSERT_TRUE(Run(*U, Recorder, File));
    EXPECT_EQ(U->WorkResult(), trFailed);
    EXPECT_EQ(U->ErrorText(), "No download link");
    EXPECT_EQ(U->Info.Value("MD5"), FileMD5Hex(File));
    EXPECT_EQ(Posts().size(), 1);
}

TEST_F(HttpUploaderTest, AFileAboveTheLimitIsRefusedWithoutARequest) {
    const std::string File = MakeFile("huge.bin", 0);
    QFile(QString::fromStdString(File)).resize(MaxUploadSize + 1);
    auto U = MakeUploader(Recorder);
    ASSERT_TRUE(Run(*U, Recorder, File));
    EXPECT_EQ(U->WorkResult(), trFailed);
    EXPECT_EQ(U->ErrorText(),
              "This file is too big. Max file size is 200 MB. Use WinRAR to split big files.");
    EXPECT_EQ(Service->LogEntries().size(), 0);
}

TEST_F(HttpUploaderTest, StopDuringTheTransferAbortsAtOnce) {
    ASSERT_TRUE(Service->SetFaults({{"throttle", 100000}}));
    auto U = MakeUploader(Recorder);
    U->StartUpload(MakeFile("slow.bin", 4000000), "", "", "");
    ASSERT_TRUE(WaitUntil([&] {
        for (const auto& E : Recorder.Events) {
            if (E.Event == ieProgress && E.BytesDone > 100000)
                return true;
        }
        return false;
    }));
    QElapsedTimer Timer;
    Timer.start();
    U->Stop(true);
    const qint64 Took = Timer.elapsed();
    EXPECT_LT(Took, 1000) << "the stop waited for a time-out instead of cutting the transfer";
    EXPECT_EQ(U->WorkResult(), trAborted);
    EXPECT_EQ(U->ErrorText(), "Aborted by user");
    EXPECT_EQ(Recorder.Count(ieFinished), 1);
    EXPECT_EQ(U->Attempts(), 1);
    std::cout << "[ info ] stop during transfer took " << Took << " ms\n";
}

TEST_F(HttpUploaderTest, TwoUploadsWithinTheHourFetchTheServerListOnce) {
    auto A = MakeUploader(Recorder);
    ASSERT_TRUE(Run(*A, Recorder, MakeFile("one.bin", 100)));
    TEventRecorder R2;
    auto B = MakeUploader(R2);
    ASSERT_TRUE(Run(*B, R2, MakeFile("two.bin", 100)));
    EXPECT_EQ(A->WorkResult(), trSuccess);
    EXPECT_EQ(B->WorkResult(), trSuccess);
    EXPECT_EQ(ListFetches(), 1);

    // An hour later the list is asked for again.
    ExpireUploadServerCache();
    TEventRecorder R3;
    auto C = MakeUploader(R3);
    ASSERT_TRUE(Run(*C, R3, MakeFile("three.bin", 100)));
    EXPECT_EQ(C->WorkResult(), trSuccess);
    EXPECT_EQ(ListFetches(), 2);
}

TEST_F(HttpUploaderTest, TwoUploadsStartedAtTheSameMomentFetchTheServerListOnce) {
    // The slow list makes sure both workers ask while the first request is still out.
    ASSERT_TRUE(Service->SetFaults({{"delay", 0.5}, {"delay_path", "/uploadservers.txt"}}));
    TEventRecorder R2;
    auto A = MakeUploader(Recorder);
    auto B = MakeUploader(R2);
    A->StartUpload(MakeFile("p.bin", 100), "", "", "");
    B->StartUpload(MakeFile("q.bin", 100), "", "", "");
    ASSERT_TRUE(
        WaitUntil([&] { return Recorder.FinishedCount && R2.FinishedCount && A->Parked() && B->Parked(); }));
    EXPECT_EQ(A->WorkResult(), trSuccess) << A->ErrorText();
    EXPECT_EQ(B->WorkResult(), trSuccess) << B->ErrorText();
    EXPECT_EQ(ListFetches(), 1);
    EXPECT_EQ(Posts().size(), 2);
}

TEST_F(HttpUploaderTest, StopWhileWaitingForAnotherWorkersListRequestEndsAtOnce) {
    ASSERT_TRUE(Service->SetFaults({{"delay", 3.0}, {"delay_path", "/uploadservers.txt"}}));
    TEventRecorder R2;
    auto A = MakeUploader(Recorder);
    auto B = MakeUploader(R2);
    A->StartUpload(MakeFile("p.bin", 100), "", "", "");
    ASSERT_TRUE(WaitUntil([&] {
        return Service->HttpRequests("/uploadservers.txt").size() == 1 || Recorder.Events.size() > 1;
    }));
    B->StartUpload(MakeFile("q.bin", 100), "", "", "");
    ASSERT_TRUE(WaitUntil([&] { return R2.StatusTexts().size() == 1; }));
    QElapsedTimer Timer;
    Timer.start();
    B->Stop(true);
    EXPECT_LT(Timer.elapsed(), 1000);
    EXPECT_EQ(B->WorkResult(), trAborted);
    A->Stop(true);
    EXPECT_EQ(A->WorkResult(), trAborted);
}

TEST_F(HttpUploaderTest, RegistryMadeUploaderRunsTheSameWay) {
    UnregisterAllUploaders();
    RegisterBuiltinUploaders();
    auto U = CreateUploader("HTTP Method", nullptr, Recorder.Handler());
    ASSERT_TRUE(U);
    U->SetSendBufferSize(8192);
    U->SetConnectTimeout(5000);
    U->SetReadTimeout(20000);
    U->StartUpload(MakeFile("reg.bin", 777), "", "", "");
    ASSERT_TRUE(WaitUntil([&] { return Recorder.FinishedCount > 0 && U->Parked(); }));
    EXPECT_EQ(U->WorkResult(), trSuccess) << U->ErrorText();
    UnregisterAllUploaders();
}

} // namespace
