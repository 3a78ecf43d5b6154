#include "core/engine/UpdateCheck.h"

#include "core/net/NetErrors.h"
#include "support/BrimvaultService.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <optional>
#include <sys/socket.h>
#include <unistd.h>

using namespace quillo;

namespace {

constexpr uint32_t kVersion123 = 0x01020300; // 1.2.3, build 0

TEST(UpdateCheckTest, VersionNumbers) {
    EXPECT_EQ(LocalVersionNumber(kVersion123), 123);
    EXPECT_EQ(LocalVersionNumber(0x010A0000), 200); // 1.10.0: the digits are weighted
    EXPECT_EQ(LocalVersionNumber(0x0102032D), 123); // the build is not part of it
    EXPECT_EQ(LocalVersionNumber(0), 0);
    EXPECT_EQ(LocalVersionNumber(0xFFFFFFFF), 255 * 100 + 255 * 10 + 255);
    const std::pair<const char*, int32_t> replies[] = {
        {"124", 124}, {" 124\r\n", 124},  {"123", 123}, {"abc", 0},         {"", 0},
        {"12 4", 0},  {"99999999999", 0}, {"-5", -5},   {"\t200\n\n", 200},
    };
    for (const auto& [reply, number] : replies)
        EXPECT_EQ(ParseVersionReply(reply), number) << '"' << reply << '"';
}

// Runs the event loop until the check reports, counting the loop's turns meanwhile: a check that
// blocked its caller would leave the ticker still.
struct TRunResult {
    std::optional<TUpdateCheckOutcome> Outcome;
    int Ticks = 0;
    bool RunningInDone = true;
};

TRunResult RunCheck(TUpdateCheck& Check, uint32_t Packed, const std::string& Url, int TimeoutMs) {
    TRunResult Result;
    QEventLoop Loop;
    QTimer Ticker;
    QObject::connect(&Ticker, &QTimer::timeout, [&] { ++Result.Ticks; });
    Ticker.start(10);
    QTimer Guard; // a check that never reports ends the test instead of hanging it
    Guard.setSingleShot(true);
    QObject::connect(&Guard, &QTimer::timeout, &Loop, &QEventLoop::quit);
    Guard.start(20000);
    EXPECT_TRUE(Check.Start(
        Packed,
        [&](const TUpdateCheckOutcome& O) {
            Result.Outcome = O;
            Result.RunningInDone = Check.Running();
            Loop.quit();
        },
        Url, TimeoutMs));
    EXPECT_TRUE(Check.Running());
    EXPECT_FALSE(Check.Start(Packed, nullptr, Url)); // one check at a time
    Loop.exec();
    return Result;
}

TEST(UpdateCheckTest, RepliesOfTheSiteAgainstVersion123) {
    test::TBrimvaultService service;
    ASSERT_TRUE(service.Start()) << service.ErrorText().toStdString();
    const std::string url = service.SiteUrl().toStdString() + "quillouploader/version.txt";
    const std::pair<const char*, bool> cases[] = {
        {"124", true}, {"123", false}, {" 124\r\n", true}, {"abc", false}};
    TUpdateCheck check;
    for (const auto& [reply, newer] : cases) {
        SCOPED_TRACE(reply);
        ASSERT_TRUE(service.SetFaults({{"version_text", QString::fromLatin1(reply)}}));
        const TRunResult r = RunCheck(check, kVersion123, url, 10000);
        ASSERT_TRUE(r.Outcome.has_value());
        EXPECT_FALSE(r.Outcome->Error);
        EXPECT_EQ(r.Outcome->Local, 123);
        EXPECT_EQ(r.Outcome->NewerAvailable, newer);
        EXPECT_FALSE(r.RunningInDone);
    }
    EXPECT_EQ(service.HttpRequests(QStringLiteral("/quillouploader/version.txt")).size(), 4);

    // An error status is a failure for the error report, not "up to date".
    ASSERT_TRUE(
        service.SetFaults({{"version_text", QStringLiteral("999")}, {"fail_next", 1}, {"fail_status", 503}}));
    const TRunResult failed = RunCheck(check, kVersion123, url, 10000);
    ASSERT_TRUE(failed.Outcome.has_value());
    ASSERT_TRUE(failed.Outcome->Error);
    EXPECT_THROW(std::rethrow_exception(failed.Outcome->Error), EHttpStatusError);
    EXPECT_FALSE(failed.Outcome->NewerAvailable);
}

// A listening socket that accepts connections (the kernel completes them) and never answers.
class TSilentListener {
public:
    TSilentListener() {
        FFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t n = sizeof a;
        if (FFd < 0 || ::bind(FFd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(FFd, 8) != 0 ||
            ::getsockname(FFd, reinterpret_cast<sockaddr*>(&a), &n) != 0)
            return;
        FPort = ntohs(a.sin_port);
    }
    ~TSilentListener() {
        if (FFd >= 0)
            ::close(FFd);
    }
    int Port() const { return FPort; }

private:
    int FFd = -1;
    int FPort = 0;
};

TEST(UpdateCheckTest, ASiteThatNeverAnswersEndsInATimeOutWithoutBlockingTheCaller) {
    TSilentListener silent;
    ASSERT_GT(silent.Port(), 0);
    const std::string url =
        "http://127.0.0.1:" + std::to_string(silent.Port()) + "/quillouploader/version.txt";
    TUpdateCheck check;
    QElapsedTimer clock;
    clock.start();
    const TRunResult r = RunCheck(check, kVersion123, url, 400);
    ASSERT_TRUE(r.Outcome.has_value()) << "no outcome";
    EXPECT_GE(clock.elapsed(), 300); // it did wait for an answer
    ASSERT_TRUE(r.Outcome->Error);
    try {
        std::rethrow_exception(r.Outcome->Error);
    } catch (const ETimeoutError& e) {
        EXPECT_NE(std::string(e.what()).find(url), std::string::npos) << e.what();
    } catch (const std::exception& e) {
        ADD_FAILURE() << "not a time-out: " << e.what();
    }
    EXPECT_FALSE(r.Outcome->NewerAvailable);
    EXPECT_GE(r.Ticks, 10); // the caller's loop kept turning
}

TEST(UpdateCheckTest, DestroyingARunningCheckStopsItAtOnce) {
    TSilentListener silent;
    bool called = false;
    QElapsedTimer clock;
    clock.start();
    {
        TUpdateCheck check;
        ASSERT_TRUE(check.Start(
            kVersion123, [&](const TUpdateCheckOutcome&) { called = true; },
            "http://127.0.0.1:" + std::to_string(silent.Port()) + "/", 60000));
        QCoreApplication::processEvents();
    } // a check that outlived this would hold the test for its minute
    QCoreApplication::processEvents();
    EXPECT_LT(clock.elapsed(), 30000);
    EXPECT_FALSE(called);
}

} // namespace
