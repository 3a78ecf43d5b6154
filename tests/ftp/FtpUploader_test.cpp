// The FTP method end to end against the stand-in service: resume on the task's server, the
// SIZE/DELE/STOR/APPE decisions, the commit call, and the refusals.
#include "EngineTestSupport.h"
#include "FtpTestSupport.h"

#include "core/app/MyUtils.h"
#include "core/engine/BrimvaultFtpUploader.h"
#include "core/engine/BrimvaultHttpUploader.h"
#include "core/engine/PluginManager.h"
#include "core/net/FileStreamers.h"
#include "core/net/IdStackWindowsEx.h"
#include "support/BrimvaultService.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonObject>
#include <QUrl>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

using namespace quillo;
using namespace quillo::test;

namespace {

// A loopback port that nothing listens on (bound and released at once).
int UnusedLoopbackPort() {
    const int Fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in Addr{};
    Addr.sin_family = AF_INET;
    Addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t Len = sizeof Addr;
    int Port = 0;
    if (::bind(Fd, reinterpret_cast<sockaddr*>(&Addr), sizeof Addr) == 0 &&
        ::getsockname(Fd, reinterpret_cast<sockaddr*>(&Addr), &Len) == 0)
        Port = ntohs(Addr.sin_port);
    ::close(Fd);
    return Port;
}

class FtpUploaderTest : public TServiceUploadTest {
protected:
    static void SetUpTestSuite() {
        TBrimvaultServiceOptions Options;
        Options.Accounts = {{QStringLiteral("user"), QStringLiteral("pass")},
                            {QStringLiteral("abc"), QStringLiteral("p w&=%")}};
        StartService(Options);
    }
    void SetUp() override {
        TServiceUploadTest::SetUp();
        if (HasFatalFailure())
            return;
        ::setenv("QUILLO_FTP_PORT", std::to_string(Service->FtpPort()).c_str(), 1);
        UseAccount("user", "pass");
    }
    void TearDown() override {
        TServiceUploadTest::TearDown();
        ::unsetenv("QUILLO_FTP_PORT");
    }

    static void UseAccount(const std::string& User, const std::string& Password) {
        ChangeSettings([&](TAppSettings& S) {
            S.Brimvault.UseAccount = true;
            S.Brimvault.UserName = User;
            S.Brimvault.Password = Password;
        });
    }

    std::unique_ptr<TUploader> MakeUploader() {
        auto U = std::make_unique<TBrimvaultFtpUploader>(nullptr, Recorder.Handler());
        U->SetRetryPauseMs(50);
        U->SetConnectTimeout(5000);
        U->SetReadTimeout(20000);
        U->SetSendBufferSize(8192);
        return U;
    }
    bool Run(TUploader& U, const std::string& File, const std::string& Name, const std::string& Resume = "") {
        Recorder.FinishedCount = 0;
        U.StartUpload(File, Name, "", Resume);
        return WaitUntil([&] { return Recorder.FinishedCount > 0 && U.Parked(); }, 60000);
    }
    static std::string ResumeOn(const std::string& Extra = "") {
        return "upserver=" + Service->SiteHost().toStdString() + "\r\n" + Extra;
    }
    // FTP command verbs (with argument) in order, without the login and passive-mode chatter.
    static QStringList StoreCommands() {
        QStringList Out;
        for (const QString& L : Service->FtpCommandLines())
            if (L.startsWith("SIZE") || L.startsWith("DELE") || L.startsWith("STOR") || L.startsWith("APPE"))
                Out << L;
        return Out;
    }
    static QByteArray Stored(const QString& Name, const QString& User = QStringLiteral("user")) {
        return Service->ReadAccountFile(User, Name);
    }
    std::vector<TRecordedEvent> ProgressEvents() const {
        std::vector<TRecordedEvent> Out;
        for (const auto& E : Recorder.Events)
            if (E.Event == ieProgress)
                Out.push_back(E);
        return Out;
    }

    // The file disappears as soon as the store is over: the MD5 must come from the bytes that
    // went out, not from a second read of the file.
    void RemoveFileWhenTheStoreEnds(const std::string& File) {
        Recorder.Extra = [File](TInternetThread& T, TInternetThreadEvent E) {
            if (E == ieStatusText && T.StatusText() == "Upload finished. Calculating MD5..")
                QFile::remove(QString::fromStdString(File));
        };
    }
    // Overwrites the first bytes of the file in place, keeping its size, with a modification
    // time of its own (a coarse clock may not move within the test).
    static void ChangeFirstBytes(const std::string& File, int64_t Seconds = 1600000000) {
        const int Fd = ::open(File.c_str(), O_WRONLY);
        ASSERT_GE(Fd, 0);
        ASSERT_EQ(::pwrite(Fd, "CHANGED!", 8, 0), 8);
        struct timeval T[2] = {{Seconds, 0}, {Seconds, 0}};
        ::futimes(Fd, T);
        ::close(Fd);
    }
    static QByteArray ReadLocal(const std::string& File) {
        QFile F(QString::fromStdString(File));
        return F.open(QIODevice::ReadOnly) ? F.readAll() : QByteArray();
    }

    TEventRecorder Recorder;
};

} // namespace

TEST_F(FtpUploaderTest, TheMD5IsTakenFromTheStoredBytesForEverySizeAndResumeOffset) {
    constexpr int64_t WriteSize = 8192;
    constexpr int64_t Big = 3 * WriteSize + 1;
    struct Case {
        const char* Name;
        int64_t Size;
        int64_t Remote; // bytes of the file already on the server (-1: none, a fresh task)
        QStringList Commands;
    };
    const Case Cases[] = {
        {"empty.bin", 0, -1, {"SIZE empty.bin", "DELE empty.bin", "STOR empty.bin"}},
        {"one.bin", 1, -1, {"SIZE one.bin", "DELE one.bin", "STOR one.bin"}},
        {"big.bin", Big, -1, {"SIZE big.bin", "DELE big.bin", "STOR big.bin"}},
        {"at0.bin", Big, 0, {"SIZE at0.bin", "DELE at0.bin", "STOR at0.bin"}},
        {"at1.bin", Big, 1, {"SIZE at1.bin", "APPE at1.bin"}},
        {"atmid.bin", Big, Big / 2, {"SIZE atmid.bin", "APPE atmid.bin"}},
        {"atend.bin", Big, Big, {"SIZE atend.bin", "APPE atend.bin"}},
    };
    for (const Case& C : Cases) {
        SCOPED_TRACE(C.Name);
        ASSERT_TRUE(Service->ClearLog());
        const QByteArray Data = PatternBytes(C.Size, 40);
        const std::string File = WriteScratchFile(Data, C.Name);
        const std::string Expected = FileMD5Hex(File);
        if (C.Remote >= 0) {
            ASSERT_TRUE(Service->WriteAccountFile("user", C.Name, Data.left(C.Remote)));
        }
        RemoveFileWhenTheStoreEnds(File);
        Recorder.Events.clear();
        auto U = MakeUploader();
        ASSERT_TRUE(Run(*U, File, "", C.Remote >= 0 ? ResumeOn() : ""));
        Recorder.Extra = nullptr;
        ASSERT_EQ(U->WorkResult(), trSuccess) << U->ErrorText();
        EXPECT_EQ(U->Info.Value("MD5"), Expected);
        EXPECT_EQ(StoreCommands(), C.Commands);
        EXPECT_EQ(Stored(C.Name), Data);
        // The status line is still shown, between the store and the commit.
        const auto Texts = Recorder.StatusTexts();
        ASSERT_GE(Texts.size(), 2u);
        EXPECT_EQ(Texts[Texts.size() - 2], "Upload finished. Calculating MD5..");
        EXPECT_EQ(Texts.back(), "Commiting uploaded file...");
    }
}

TEST_F(FtpUploaderTest, AStoreCutByTheServerAndRetriedKeepsTheRightMD5) {
    for (const char* Mode : {"all", "data"}) {
        SCOPED_TRACE(Mode);
        ASSERT_TRUE(Service->ResetFaults());
        ASSERT_TRUE(Service->ClearLog());
        const QByteArray Data = PatternBytes(600000, 41);
        const std::string File = WriteScratchFile(Data, QStringLiteral("cut-%1.bin").arg(Mode));
        const std::string Expected = FileMD5Hex(File);
        Service->SetFaults(
            {{"ftp_drop_after", 250000}, {"ftp_drop_after_times", 1}, {"ftp_drop_mode", Mode}});
        RemoveFileWhenTheStoreEnds(File);
        auto U = MakeUploader();
        ASSERT_TRUE(Run(*U, File, ""));
        Recorder.Extra = nullptr;
        ASSERT_EQ(U->WorkResult(), trSuccess) << U->ErrorText();
        EXPECT_EQ(U->Attempts(), 2);
        EXPECT_EQ(U->Info.Value("MD5"), Expected);
        const QStringList Commands = StoreCommands();
        ASSERT_FALSE(Commands.isEmpty());
        EXPECT_TRUE(Commands.last().startsWith("APPE")) << Commands.join(", ").toStdString();
        EXPECT_EQ(Stored(QStringLiteral("cut-%1.bin").arg(Mode)), Data);
    }
}

TEST_F(FtpUploaderTest, AFileChangedAfterABrokenStoreIsStoredAnewInsteadOfAppended) {
    ChangeSettings([](TAppSettings& S) { S.UploadManager.RetryCount = -1; }); // one attempt
    const QByteArray Data = PatternBytes(400000, 42);
    const std::string File = WriteScratchFile(Data, "changed.bin");
    Service->SetFaults({{"ftp_drop_after", 150000}, {"ftp_drop_after_times", 1}});
    auto U = MakeUploader();
    ASSERT_TRUE(Run(*U, File, ""));
    ASSERT_EQ(U->WorkResult(), trError);
    const std::string Resume = U->Info.Text();
    EXPECT_FALSE(GetValueOfKey("signature", Resume).empty()) << Resume;
    ASSERT_EQ(Stored("changed.bin"), Data.left(150000));

    ChangeFirstBytes(File);
    const QByteArray Changed = ReadLocal(File);
    ASSERT_NE(Changed, Data);
    Service->ClearLog();
    auto V = MakeUploader();
    ASSERT_TRUE(Run(*V, File, "", Resume));
    ASSERT_EQ(V->WorkResult(), trSuccess) << V->ErrorText();
    EXPECT_EQ(StoreCommands(), QStringList({"SIZE changed.bin", "DELE changed.bin", "STOR changed.bin"}));
    EXPECT_EQ(Stored("changed.bin"), Changed);
    EXPECT_EQ(V->Info.Value("MD5"), FileMD5Hex(File));
    EXPECT_FALSE(V->Info.Has("signature"));
}

TEST_F(FtpUploaderTest, AFileChangedWhileItIsSentIsStoredAnewOnTheNextStart) {
    const QByteArray Data = PatternBytes(1000000, 43);
    const std::string File = WriteScratchFile(Data, "moving.bin");
    // The global limit holds the store after its first 200 KB, so the change lands in the
    // middle of the reads.
    TIdStackWindowsEx::Instance().SetSendLimitKb(200);
    bool Changed = false;
    Recorder.Extra = [&](TInternetThread& T, TInternetThreadEvent E) {
        if (E == ieProgress && T.BytesDone() > 100000 && T.BytesDone() < T.BytesTotal() && !Changed) {
            Changed = true;
            ChangeFirstBytes(File);
        }
    };
    auto U = MakeUploader();
    const bool Done = Run(*U, File, "");
    TIdStackWindowsEx::Instance().SetSendLimitKb(0);
    Recorder.Extra = nullptr;
    ASSERT_TRUE(Done);
    ASSERT_TRUE(Changed);
    ASSERT_EQ(U->WorkResult(), trError);
    EXPECT_NE(U->ErrorText().find("changed"), std::string::npos) << U->ErrorText();
    EXPECT_TRUE(Service->HttpRequests("/cgi-bin/upload.cgi").isEmpty());

    Service->ClearLog();
    auto V = MakeUploader();
    ASSERT_TRUE(Run(*V, File, "", U->Info.Text()));
    ASSERT_EQ(V->WorkResult(), trSuccess) << V->ErrorText();
    EXPECT_EQ(StoreCommands(), QStringList({"SIZE moving.bin", "DELE moving.bin", "STOR moving.bin"}));
    EXPECT_EQ(Stored("moving.bin"), ReadLocal(File));
}

TEST_F(FtpUploaderTest, ACommitRefusedAfterAResumedStoreMakesTheNextStartBeginAgain) {
    // Resume data of an older version (no signature) and a server copy that is not a prefix of
    // the file: the appended upload is refused, and restarting must not append to it again.
    const QByteArray Data = PatternBytes(200000, 44);
    const std::string File = WriteScratchFile(Data, "refused.bin");
    ASSERT_TRUE(Service->WriteAccountFile("user", "refused.bin", PatternBytes(1000, 45)));
    std::string Resume = ResumeOn();
    QStringList Commands;
    TInternetThreadResult Result = trFailed;
    int Starts = 0;
    while (Result != trSuccess && Starts < 4) {
        ++Starts;
        Service->ClearLog();
        auto U = MakeUploader();
        ASSERT_TRUE(Run(*U, File, "", Resume));
        Result = U->WorkResult();
        Resume = U->Info.Text();
        Commands << StoreCommands();
        if (Result != trSuccess) {
            EXPECT_EQ(U->ErrorText(), "No download link");
            EXPECT_EQ(GetValueOfKey("signature", Resume), RestartSignature);
            EXPECT_TRUE(GetValueOfKey("MD5", Resume).empty());
        }
    }
    ASSERT_EQ(Result, trSuccess);
    EXPECT_EQ(Starts, 2);
    EXPECT_EQ(Commands, QStringList({"SIZE refused.bin", "APPE refused.bin", "SIZE refused.bin",
                                     "DELE refused.bin", "STOR refused.bin"}));
    EXPECT_EQ(Stored("refused.bin"), Data);
}

TEST_F(FtpUploaderTest, ACommitRefusedWithAnErrorStatusAfterAResumedStoreIsRetriedFromTheStart) {
    // The service refuses with a status: a network error, retried in the same cycle, and the
    // retry must not append to the refused copy again.
    ChangeSettings([](TAppSettings& S) { S.UploadManager.RetryCount = 1; });
    ASSERT_TRUE(Service->SetFaults({{"commit_error_status", 403}}));
    const QByteArray Data = PatternBytes(200000, 48);
    const std::string File = WriteScratchFile(Data, "status.bin");
    ASSERT_TRUE(Service->WriteAccountFile("user", "status.bin", PatternBytes(1000, 49)));
    auto U = MakeUploader();
    ASSERT_TRUE(Run(*U, File, "", ResumeOn()));
    ASSERT_EQ(U->WorkResult(), trSuccess) << U->ErrorText();
    EXPECT_EQ(U->Attempts(), 2);
    EXPECT_EQ(StoreCommands(), QStringList({"SIZE status.bin", "APPE status.bin", "SIZE status.bin",
                                            "DELE status.bin", "STOR status.bin"}));
    EXPECT_EQ(Stored("status.bin"), Data);
}

TEST_F(FtpUploaderTest, AnMD5KeptFromBeforeAChangeIsNotReused) {
    const QByteArray Data = PatternBytes(30000, 46);
    const std::string File = WriteScratchFile(Data, "oldmd5.bin");
    const std::string OldMd5 = FileMD5Hex(File);
    const std::string Signature = FileSourceSignature(File);
    ASSERT_TRUE(Service->WriteAccountFile("user", "oldmd5.bin", Data));
    ChangeFirstBytes(File);
    auto U = MakeUploader();
    ASSERT_TRUE(Run(*U, File, "", ResumeOn("MD5=" + OldMd5 + "\r\nsignature=" + Signature + "\r\n")));
    ASSERT_EQ(U->WorkResult(), trSuccess) << U->ErrorText();
    EXPECT_EQ(U->Info.Value("MD5"), FileMD5Hex(File));
    EXPECT_EQ(StoreCommands(), QStringList({"SIZE oldmd5.bin", "DELE oldmd5.bin", "STOR oldmd5.bin"}));
    EXPECT_EQ(Stored("oldmd5.bin"), ReadLocal(File));
}

TEST_F(FtpUploaderTest, FreshTaskDeletesStaleCopyStoresAndCommits) {
    const QByteArray Data = PatternBytes(400000, 11);
    const std::string File = WriteScratchFile(Data, "fresh.bin");
    ASSERT_TRUE(Service->WriteAccountFile("user", "fresh.bin", QByteArray("stale content")));
    auto U = MakeUploader();
    ASSERT_TRUE(Run(*U, File, ""));
    ASSERT_EQ(U->WorkResult(), trSuccess) << U->ErrorText();
    EXPECT_EQ(Stored("fresh.bin"), Data);
    EXPECT_EQ(StoreCommands(), QStringList({"SIZE fresh.bin", "DELE fresh.bin", "STOR fresh.bin"}));
    const QStringList All = Service->FtpCommandLines();
    ASSERT_GE(All.size(), 4);
    EXPECT_EQ(All[0], "USER user");
    EXPECT_EQ(All[1], "PASS pass");
    EXPECT_EQ(All[2], "TYPE I");
    EXPECT_TRUE(All.contains("PASV") || All.contains("EPSV"));
    EXPECT_EQ(All.last(), "QUIT");

    EXPECT_EQ(U->Info.Value("upserver"), Service->SiteHost().toStdString());
    EXPECT_EQ(U->Info.Value("MD5"), FileMD5Hex(File));
    EXPECT_FALSE(U->Info.Value("download-link").empty());
    EXPECT_FALSE(U->Info.Value("kill-link").empty());

    const auto Commits = Service->HttpRequests("/cgi-bin/upload.cgi");
    ASSERT_EQ(Commits.size(), 1);
    EXPECT_EQ(Commits[0]["method"].toString(), "GET");
    EXPECT_EQ(TBrimvaultService::HeaderValue(Commits[0], "Referer"), Service->SiteUrl());
    const QJsonObject C = Commits[0]["commit"].toObject();
    EXPECT_TRUE(C["ok"].toBool()) << C["reason"].toString().toStdString();
    EXPECT_EQ(C["size"].toString(), "400000");
    EXPECT_EQ(C["md5"].toString().toStdString(), FileMD5Hex(File));

    const auto Texts = Recorder.StatusTexts();
    const std::vector<std::string> Expected = {"Looking for free upload server...", "Logging in...",
                                               "Uploading file...", "Upload finished. Calculating MD5..",
                                               "Commiting uploaded file..."};
    EXPECT_EQ(Texts, Expected);
}

TEST_F(FtpUploaderTest, BrokenStoreResumesWithAppeOnTheSameServer) {
    const QByteArray Data = PatternBytes(600000, 12);
    const std::string File = WriteScratchFile(Data, "broken.bin");
    Service->SetFaults({{"ftp_drop_after", 250000}, {"ftp_drop_after_times", 1}});
    auto U = MakeUploader();
    ASSERT_TRUE(Run(*U, File, ""));
    ASSERT_EQ(U->WorkResult(), trSuccess) << U->ErrorText();
    EXPECT_EQ(U->Attempts(), 2);
    EXPECT_EQ(Stored("broken.bin"), Data);
    EXPECT_EQ(StoreCommands(), QStringList({"SIZE broken.bin", "DELE broken.bin", "STOR broken.bin",
                                            "SIZE broken.bin", "APPE broken.bin"}));
    // The server list was asked once: the retry went back to the server in Info.
    EXPECT_EQ(Service->HttpRequests("/uploadservers.txt").size(), 1);
    // Progress of the second transfer counts the bytes already on the server: once bytes flow,
    // the count never drops below them.
    const auto P = ProgressEvents();
    bool SawSecondTransfer = false;
    for (size_t I = 1; I < P.size(); ++I) {
        if (P[I].BytesDone == 0 && P[I - 1].BytesDone > 0)
            SawSecondTransfer = true; // the retry's transfer began
        if (SawSecondTransfer && P[I].BytesDone > 0) {
            EXPECT_GE(P[I].BytesDone, 250000);
        }
    }
    EXPECT_TRUE(SawSecondTransfer);
    const auto Last = ProgressEvents().back();
    EXPECT_EQ(Last.BytesDone, 600000);
    EXPECT_EQ(Last.Percent, 100);
}

TEST_F(FtpUploaderTest, ResumeDataFromAnEarlierRunAppendsFromTheRemoteSize) {
    const QByteArray Data = PatternBytes(200000, 13);
    const std::string File = WriteScratchFile(Data, "later.bin");
    ASSERT_TRUE(Service->WriteAccountFile("user", "later.bin", Data.left(1000)));
    auto U = MakeUploader();
    ASSERT_TRUE(Run(*U, File, "", ResumeOn()));
    ASSERT_EQ(U->WorkResult(), trSuccess) << U->ErrorText();
    EXPECT_EQ(StoreCommands(), QStringList({"SIZE later.bin", "APPE later.bin"}));
    EXPECT_EQ(Stored("later.bin"), Data);
    EXPECT_TRUE(Service->HttpRequests("/uploadservers.txt").isEmpty());
    // Progress counts include the 1000 bytes already there: over 199000 bytes sent it reaches
    // the whole file, and no count between 0 and the offset appears.
    const auto P = ProgressEvents();
    ASSERT_FALSE(P.empty());
    for (const auto& E : P) {
        EXPECT_EQ(E.BytesTotal, 200000);
        EXPECT_TRUE(E.BytesDone == 0 || E.BytesDone >= 1000) << E.BytesDone;
    }
    EXPECT_EQ(P.back().BytesDone, 200000);
}

TEST_F(FtpUploaderTest, ResumeServerThatIsNoPlainHostIsReplaced) {
    const QByteArray Data = PatternBytes(5000, 19);
    const std::string File = WriteScratchFile(Data, "hostile.bin");
    auto U = MakeUploader();
    ASSERT_TRUE(Run(*U, File, "", "upserver=evil.example/x?action=other#\r\n"));
    ASSERT_EQ(U->WorkResult(), trSuccess) << U->ErrorText();
    EXPECT_EQ(U->Info.Value("upserver"), Service->SiteHost().toStdString());
    EXPECT_EQ(Service->HttpRequests("/uploadservers.txt").size(), 1);
    // Treated as a new server: a stale copy is deleted first.
    EXPECT_EQ(StoreCommands(), QStringList({"SIZE hostile.bin", "DELE hostile.bin", "STOR hostile.bin"}));
}

TEST_F(FtpUploaderTest, SizeDecisionsOnAKnownServer) {
    struct Case {
        const char* Name;
        QByteArray Remote;     // placed on the server first (null: nothing)
        const char* SizeReply; // forced SIZE reply (nullptr: the real one)
        QStringList Commands;
    };
    const QByteArray Data = PatternBytes(50000, 14);
    const Case Cases[] = {
        // No 213: STOR of the whole file, and no DELE on a server that is not new.
        {"nosize.bin", Data.left(700), "550 No such file.", {"SIZE nosize.bin", "STOR nosize.bin"}},
        // An empty remote copy is deleted and stored anew.
        {"empty.bin", QByteArray(""), nullptr, {"SIZE empty.bin", "DELE empty.bin", "STOR empty.bin"}},
        // A remote copy longer than the file cannot be its prefix: start over.
        {"longer.bin",
         PatternBytes(60000, 99),
         nullptr,
         {"SIZE longer.bin", "DELE longer.bin", "STOR longer.bin"}},
        // A complete remote copy: an empty append, then the commit.
        {"complete.bin", Data, nullptr, {"SIZE complete.bin", "APPE complete.bin"}},
    };
    for (const Case& C : Cases) {
        SCOPED_TRACE(C.Name);
        ASSERT_TRUE(Service->ResetFaults());
        ASSERT_TRUE(Service->ClearLog());
        if (!C.Remote.isNull()) {
            ASSERT_TRUE(Service->WriteAccountFile("user", C.Name, C.Remote));
        }
        if (C.SizeReply) {
            Service->SetFaults({{"ftp_size_reply", C.SizeReply}});
        }
        const std::string File = WriteScratchFile(Data, C.Name);
        auto U = MakeUploader();
        ASSERT_TRUE(Run(*U, File, "", ResumeOn()));
        EXPECT_EQ(U->WorkResult(), trSuccess) << U->ErrorText();
        EXPECT_EQ(StoreCommands(), C.Commands);
        EXPECT_EQ(Stored(C.Name), Data);
    }
}

TEST_F(FtpUploaderTest, CommitCarriesEveryByteOfAccountAndNamePercentEncoded) {
    UseAccount("abc", "p w&=%");
    const QByteArray Data = PatternBytes(3000, 15);
    const std::string File = WriteScratchFile(Data, "local.bin");
    const std::string Name = "my file&x=1 \xC3\xA9.bin";
    auto U = MakeUploader();
    ASSERT_TRUE(Run(*U, File, Name));
    ASSERT_EQ(U->WorkResult(), trSuccess) << U->ErrorText();
    const auto Commits = Service->HttpRequests("/cgi-bin/upload.cgi");
    ASSERT_EQ(Commits.size(), 1);
    const std::string Query = Commits[0]["query"].toString().toStdString();
    const std::string Expected = "action=commit&user=%61%62%63&pass=" + UrlEncodeAll("p w&=%") +
                                 "&filename=" + UrlEncodeAll(Name) + "&size=3000&md5=" + FileMD5Hex(File);
    EXPECT_EQ(Query, Expected);
    EXPECT_EQ(Query.substr(0, 33), "action=commit&user=%61%62%63&pass");
    EXPECT_EQ(Stored(QString::fromStdString(Name), "abc"), Data);
}

TEST_F(FtpUploaderTest, MD5FromTheResumeDataIsReused) {
    const QByteArray Data = PatternBytes(20000, 16);
    const std::string File = WriteScratchFile(Data, "md5.bin");
    auto U = MakeUploader();
    ASSERT_TRUE(Run(*U, File, "", ResumeOn("MD5=" + FileMD5Hex(File) + "\r\n")));
    ASSERT_EQ(U->WorkResult(), trSuccess) << U->ErrorText();
    for (const std::string& T : Recorder.StatusTexts())
        EXPECT_NE(T, "Upload finished. Calculating MD5..");

    // A stale MD5 is sent as it is: the service refuses the commit, and that is not retried.
    Recorder.Events.clear();
    Service->ClearLog();
    auto V = MakeUploader();
    ASSERT_TRUE(Run(*V, File, "", ResumeOn("MD5=00000000000000000000000000000000\r\n")));
    EXPECT_EQ(V->WorkResult(), trFailed);
    EXPECT_EQ(V->ErrorText(), "No download link");
    EXPECT_EQ(V->Attempts(), 1);
}

TEST_F(FtpUploaderTest, NoOutputOfAFailingCommitCarriesThePasswords) {
    const std::string Password = "p w&=%";
    const std::string ProxyPassword = "Pr0xy s3cret";
    // Every form a URL or a message could give them.
    std::vector<std::string> Forms;
    for (const std::string& P : {Password, ProxyPassword}) {
        const std::string All = UrlEncodeAll(P);
        Forms.push_back(P);
        Forms.push_back(All);
        Forms.push_back(QString::fromStdString(All).toLower().toStdString());
        Forms.push_back(QUrl::toPercentEncoding(QString::fromStdString(P)).toStdString());
    }
    struct Case {
        const char* What;
        QJsonObject Faults;
        bool DeadProxy;
    };
    const Case Cases[] = {
        {"commit connection dropped",
         {{"fail_next", 1000}, {"fail_mode", "drop"}, {"fail_path", "/cgi-bin/"}},
         false},
        {"commit answered 500", {{"upload_status", 500}}, false},
        {"commit refused",
         {{"commit_error_status", 403}, {"reply_body", "ERROR: Invalid login p w&=%"}},
         false},
        {"commit through a proxy that is not there", {}, true},
    };
    for (const Case& C : Cases) {
        SCOPED_TRACE(C.What);
        ASSERT_TRUE(Service->ResetFaults());
        ASSERT_TRUE(Service->ClearLog());
        UseAccount("abc", Password);
        ChangeSettings([&](TAppSettings& S) {
            S.UploadManager.RetryCount = 1;
            S.InternetConnection.UserName = "proxyman";
            S.InternetConnection.Password = ProxyPassword;
            if (C.DeadProxy) {
                S.InternetConnection.UseProxy = true;
                S.InternetConnection.ProxyType = 1; // the HTTP requests only; FTP goes direct
                S.InternetConnection.Proxy = "127.0.0.1:" + std::to_string(UnusedLoopbackPort());
            }
        });
        if (!C.Faults.isEmpty()) {
            ASSERT_TRUE(Service->SetFaults(C.Faults));
        }
        const std::string File = WriteScratchFile(PatternBytes(5000, 47), "secret.bin");
        Recorder.Events.clear();
        auto U = MakeUploader();
        ASSERT_TRUE(Run(*U, File, "", ResumeOn()));
        ASSERT_NE(U->WorkResult(), trSuccess);
        ASSERT_FALSE(U->ErrorText().empty());
        // The commit went out with the password (the service needs it) ...
        if (!C.DeadProxy) {
            ASSERT_FALSE(Service->HttpRequests("/cgi-bin/upload.cgi").isEmpty());
        }
        // ... and nothing the program shows, saves or prints carries it.
        std::vector<std::string> Outputs = {U->ErrorText(), U->StatusText(), U->StateText(), U->Info.Text()};
        for (const TRecordedEvent& E : Recorder.Events) {
            Outputs.push_back(E.StateText);
            Outputs.push_back(E.ErrorText);
        }
        for (const std::string& Out : Outputs)
            for (const std::string& Form : Forms)
                EXPECT_EQ(Out.find(Form), std::string::npos) << Form << " in: " << Out;
    }
}

TEST_F(FtpUploaderTest, WithoutAccountNothingIsSent) {
    ChangeSettings([](TAppSettings& S) { S.Brimvault.UseAccount = false; });
    const std::string File = WriteScratchFile(PatternBytes(100), "anon.bin");
    auto U = MakeUploader();
    ASSERT_TRUE(Run(*U, File, ""));
    EXPECT_EQ(U->WorkResult(), trFailed);
    EXPECT_EQ(U->ErrorText(), "You can't upload files as anonymous user.");
    EXPECT_EQ(U->Attempts(), 1);
    EXPECT_TRUE(Service->LogEntries().isEmpty());
}

TEST_F(FtpUploaderTest, LineBreaksInNameOrAccountAreRefusedBeforeAnyCommand) {
    const std::string File = WriteScratchFile(PatternBytes(100), "inject.bin");
    struct Case {
        std::string Name, User, Password, Word;
    };
    const Case Cases[] = {
        {"a.bin\r\nDELE victim.bin", "user", "pass", "upload name"},
        {std::string("a.bin\0DELE victim.bin", 21), "user", "pass", "upload name"},
        {"a.bin", "user\nDELE victim.bin", "pass", "user name"},
        {"a.bin", "user", "pass\r\nDELE victim.bin", "password"},
    };
    for (const Case& C : Cases) {
        SCOPED_TRACE(C.Word);
        UseAccount(C.User, C.Password);
        Recorder.Events.clear();
        auto U = MakeUploader();
        ASSERT_TRUE(Run(*U, File, C.Name));
        EXPECT_EQ(U->WorkResult(), trFailed);
        EXPECT_NE(U->ErrorText().find(C.Word), std::string::npos) << U->ErrorText();
        EXPECT_EQ(U->Attempts(), 1);
    }
    EXPECT_TRUE(Service->FtpCommandLines().isEmpty());
}

TEST_F(FtpUploaderTest, StoppedAtTheEndOfTheStoreResumesFromWhatTheServerKept) {
    const QByteArray Data = PatternBytes(300000, 17);
    const std::string File = WriteScratchFile(Data, "stopped.bin");
    auto U = MakeUploader();
    TUploader* Raw = U.get();
    Recorder.Extra = [&](TInternetThread&, TInternetThreadEvent E) {
        if (E == ieProgress && Raw->BytesDone() > 0 && Raw->BytesDone() == Raw->BytesTotal())
            Raw->Stop(false);
    };
    ASSERT_TRUE(Run(*U, File, ""));
    Recorder.Extra = nullptr;
    EXPECT_EQ(U->WorkResult(), trAborted);
    EXPECT_TRUE(Service->HttpRequests("/cgi-bin/upload.cgi").isEmpty());
    const std::string Resume = U->Info.Text();
    EXPECT_NE(Resume.find("upserver="), std::string::npos);
    // The server finishes the cut session on its own time; resume once it has.
    ASSERT_TRUE(Service->WaitForLog([](const QList<QJsonObject>& Entries) {
        for (const QJsonObject& E : Entries)
            if (E["event"].toString() == "transfer_end")
                return true;
        return false;
    }));
    // pyftpdlib keeps what it had read when the control connection went: all of it, a part, or
    // nothing when it tore the session down before reading the buffered data. Whatever it kept
    // is a prefix of the file, and the resume below must complete it either way.
    const QByteArray KeptBytes = Stored("stopped.bin");
    const qsizetype Kept = KeptBytes.size();
    EXPECT_LE(Kept, Data.size());
    EXPECT_EQ(KeptBytes, Data.left(Kept));

    Service->ClearLog();
    auto V = MakeUploader();
    ASSERT_TRUE(Run(*V, File, "", Resume));
    ASSERT_EQ(V->WorkResult(), trSuccess) << V->ErrorText();
    EXPECT_EQ(Stored("stopped.bin"), Data);
    if (Kept > 0) {
        EXPECT_EQ(StoreCommands(), QStringList({"SIZE stopped.bin", "APPE stopped.bin"}));
    } else {
        EXPECT_EQ(StoreCommands(), QStringList({"SIZE stopped.bin", "DELE stopped.bin", "STOR stopped.bin"}));
    }
}

TEST_F(FtpUploaderTest, StopDuringTheStoreEndsTheTaskAtOnceAndKeepsTheResumeData) {
    const std::string File = WriteScratchFile(PatternBytes(3000000, 20), "slow.bin");
    Service->SetFaults({{"ftp_throttle", 200000}});
    auto U = MakeUploader();
    TUploader* Raw = U.get();
    QElapsedTimer SinceStop;
    Recorder.Extra = [&](TInternetThread&, TInternetThreadEvent E) {
        if (E == ieProgress && Raw->BytesDone() > 100000 && !SinceStop.isValid()) {
            SinceStop.start();
            Raw->Stop(false);
        }
    };
    ASSERT_TRUE(Run(*U, File, ""));
    Recorder.Extra = nullptr;
    ASSERT_TRUE(SinceStop.isValid());
    EXPECT_LT(SinceStop.elapsed(), 2000); // the store alone would take 15 seconds
    EXPECT_EQ(U->WorkResult(), trAborted);
    EXPECT_EQ(U->ErrorText(), "Aborted by user");
    EXPECT_EQ(U->Attempts(), 1);
    EXPECT_EQ(U->Info.Value("upserver"), Service->SiteHost().toStdString());
    EXPECT_TRUE(Service->HttpRequests("/cgi-bin/upload.cgi").isEmpty());
}

TEST_F(FtpUploaderTest, SocksProxyCarriesBothFtpConnectionsOfTheTask) {
    TLoggingDante Socks;
    ASSERT_TRUE(Socks.Start()) << Socks.ErrorText();
    ChangeSettings([&](TAppSettings& S) {
        S.InternetConnection.UseProxy = true;
        S.InternetConnection.ProxyType = 4; // SOCKS5
        S.InternetConnection.Proxy = "127.0.0.1:" + std::to_string(Socks.Port());
    });
    const QByteArray Data = PatternBytes(150000, 18);
    const std::string File = WriteScratchFile(Data, "socks.bin");
    auto U = MakeUploader();
    ASSERT_TRUE(Run(*U, File, ""));
    ASSERT_EQ(U->WorkResult(), trSuccess) << U->ErrorText();
    EXPECT_EQ(Stored("socks.bin"), Data);
    // The control connection went to the FTP port through the proxy; the other relayed
    // connections are the data connection and the two HTTP requests (list and commit).
    EXPECT_EQ(Socks.ConnectionsTo(Service->FtpPort()), 1) << Socks.Output();
    EXPECT_EQ(Socks.ConnectionsTo(Service->HttpPort()), 2) << Socks.Output();
    EXPECT_EQ(Socks.RelayedConnections(), 4) << Socks.Output();
}

TEST_F(FtpUploaderTest, RegisteredAfterTheHttpMethod) {
    UnregisterAllUploaders();
    RegisterBuiltinUploaders();
    EXPECT_EQ(UploaderNames(), (std::vector<std::string>{"HTTP Method", "FTP Method"}));
    auto U = CreateUploader("FTP Method", nullptr, Recorder.Handler());
    EXPECT_NE(dynamic_cast<TBrimvaultFtpUploader*>(U.get()), nullptr);
    EXPECT_EQ(CreateUploader("ftp method", nullptr, Recorder.Handler()), nullptr);
}

TEST(FtpUploaderParts, ResumePlanAndServerHost) {
    struct Case {
        bool New;
        int64_t Remote, Local;
        bool Delete, Append;
        int64_t Offset;
    };
    const Case Cases[] = {
        {true, -1, 100, true, false, 0},   {true, 50, 100, true, false, 0},
        {false, -1, 100, false, false, 0}, {false, 0, 100, true, false, 0},
        {false, 50, 100, false, true, 50}, {false, 100, 100, false, true, 100},
        {false, 101, 100, true, false, 0},
    };
    for (const Case& C : Cases) {
        const TFtpResumePlan P = PlanFtpResume(C.New, C.Remote, C.Local);
        EXPECT_EQ(P.Delete, C.Delete) << C.New << " " << C.Remote;
        EXPECT_EQ(P.Append, C.Append) << C.New << " " << C.Remote;
        EXPECT_EQ(P.Offset, C.Offset) << C.New << " " << C.Remote;
    }
    EXPECT_EQ(FtpHostOfServer("up1.example.com"), "up1.example.com");
    EXPECT_EQ(FtpHostOfServer("127.0.0.1:8080"), "127.0.0.1");
    EXPECT_EQ(FtpHostOfServer("[::1]:8080"), "::1");
}
