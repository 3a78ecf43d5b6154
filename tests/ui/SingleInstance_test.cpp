#include "app/SingleInstance.h"

#include "support/TestEnvironment.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QLocalSocket>
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace quillo {
namespace {

// Runs Client on its own thread while this thread serves the event loop for the server.
template <class TClient> auto WhileServing(TClient Client) {
    auto reply = std::async(std::launch::async, std::move(Client));
    while (reply.wait_for(std::chrono::milliseconds(5)) != std::future_status::ready)
        QCoreApplication::processEvents();
    return reply.get();
}

bool RequestShow(TSingleInstance& Client, int WParam) {
    return WhileServing([&] { return Client.SendShowRequest(WParam, 3000); });
}

// Sends raw bytes to the server; its reply, up to its hanging up.
QByteArray SendRaw(const QString& SocketName, const QByteArray& Bytes) {
    return WhileServing([&] {
        QLocalSocket s;
        s.connectToServer(SocketName);
        if (!s.waitForConnected(3000))
            return QByteArray("(no connection)");
        s.write(Bytes);
        s.waitForBytesWritten(3000);
        s.waitForDisconnected(3000);
        return s.readAll();
    });
}

TEST(SingleInstance, OnlyOneHolderAtATimeAndTheLockComesBackOnRelease) {
    const QString folder = test::MakeScratchDir(QStringLiteral("run"));
    TSingleInstance first(folder), second(folder);
    EXPECT_EQ(first.Acquire(), TSingleInstance::arFirst);
    EXPECT_EQ(second.Acquire(), TSingleInstance::arAlreadyRuns);
    first.Release();
    EXPECT_EQ(second.Acquire(), TSingleInstance::arFirst);
    EXPECT_TRUE(QFileInfo(first.LockFileName()).fileName().contains(QString::number(::getuid())));
}

TEST(SingleInstance, UnusableLockFolderRunsWithoutProtection) {
    TSingleInstance instance(test::MakeScratchDir(QStringLiteral("run")) + QStringLiteral("/missing"));
    EXPECT_EQ(instance.Acquire(), TSingleInstance::arNoProtection);
    EXPECT_FALSE(instance.Listen([](int) {}));
}

TEST(SingleInstance, ShowRequestIsHandledBeforeTheAnswerComes) {
    const QString folder = test::MakeScratchDir(QStringLiteral("run"));
    TSingleInstance first(folder), second(folder);
    ASSERT_EQ(first.Acquire(), TSingleInstance::arFirst);
    std::vector<int> requests;
    ASSERT_TRUE(first.Listen([&](int WParam) { requests.push_back(WParam); }));
    EXPECT_TRUE(RequestShow(second, 0));
    EXPECT_TRUE(RequestShow(second, 1));
    EXPECT_EQ(requests, (std::vector<int>{0, 1}));
}

TEST(SingleInstance, NobodyListeningEndsTheRequestAtOnce) {
    const QString folder = test::MakeScratchDir(QStringLiteral("run"));
    TSingleInstance client(folder);
    EXPECT_FALSE(client.SendShowRequest(0, 3000)); // no socket file at all
}

TEST(SingleInstance, SocketLeftByACrashIsReplaced) {
    const QString folder = test::MakeScratchDir(QStringLiteral("run"));
    TSingleInstance first(folder), client(folder);
    // What a killed instance leaves: a bound socket file nobody accepts on.
    {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        const QByteArray path = first.SocketName().toLocal8Bit();
        ASSERT_LT(path.size(), qsizetype(sizeof addr.sun_path));
        std::memcpy(addr.sun_path, path.constData(), path.size());
        ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
        ::close(fd);
    }
    ASSERT_TRUE(QFile::exists(first.SocketName()));
    EXPECT_FALSE(client.SendShowRequest(0, 3000)); // refused

    ASSERT_EQ(first.Acquire(), TSingleInstance::arFirst);
    int shown = 0;
    ASSERT_TRUE(first.Listen([&](int) { ++shown; }));
    EXPECT_TRUE(RequestShow(client, 0));
    EXPECT_EQ(shown, 1);
}

TEST(SingleInstance, GarbageOnTheSocketIsDroppedAndServingGoesOn) {
    const QString folder = test::MakeScratchDir(QStringLiteral("run"));
    TSingleInstance first(folder), client(folder);
    ASSERT_EQ(first.Acquire(), TSingleInstance::arFirst);
    int shown = 0;
    ASSERT_TRUE(first.Listen([&](int) { ++shown; }));
    for (const QByteArray& junk : {QByteArray("hello\n"), QByteArray(4096, 'x'), QByteArray("show x\n")}) {
        EXPECT_TRUE(SendRaw(first.SocketName(), junk).isEmpty()) << junk.left(10).constData();
    }
    EXPECT_EQ(shown, 0);
    EXPECT_TRUE(RequestShow(client, 0));
    EXPECT_EQ(shown, 1);
}

TEST(SingleInstance, DeepRuntimeFolderStillGetsAUsableSocketName) {
    const QString deep =
        test::MakeScratchDir(QStringLiteral("run")) + QLatin1Char('/') + QString(120, QLatin1Char('d'));
    TSingleInstance a(deep), b(deep);
    EXPECT_LT(a.SocketName().toLocal8Bit().size(), qsizetype(sizeof(sockaddr_un::sun_path)));
    EXPECT_EQ(a.SocketName(), b.SocketName());
    EXPECT_NE(a.SocketName(), TSingleInstance(deep + QStringLiteral("x")).SocketName());
}

TEST(SingleInstance, FilesArriveByteForByte) {
    const QString folder = test::MakeScratchDir(QStringLiteral("run"));
    TSingleInstance first(folder), second(folder);
    ASSERT_EQ(first.Acquire(), TSingleInstance::arFirst);
    std::vector<std::vector<std::string>> received;
    int shown = 0;
    ASSERT_TRUE(first.Listen([&](int) { ++shown; },
                             [&](const std::vector<std::string>& Paths) { received.push_back(Paths); }));
    // Names as a file system may hold them: spaces, a line break, percent signs, bytes that are
    // no UTF-8, a name as long as a path may be.
    const std::vector<std::string> paths = {"/tmp/a b.txt", "/tmp/two\nlines", "/tmp/100%25 %zz",
                                            std::string("/tmp/\xff\xfe\x01raw"),
                                            "/" + std::string(4094, 'n')};
    ASSERT_TRUE(WhileServing([&] { return second.SendFiles(paths, 5000); }));
    for (int i = 0; i < 100 && received.empty(); ++i) {
        QCoreApplication::processEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received.front(), paths);
    EXPECT_EQ(shown, 0);
}

TEST(SingleInstance, BadFilesRequestsAreDroppedWithoutCallingTheHandler) {
    const QString folder = test::MakeScratchDir(QStringLiteral("run"));
    TSingleInstance first(folder);
    ASSERT_EQ(first.Acquire(), TSingleInstance::arFirst);
    int handled = 0;
    ASSERT_TRUE(first.Listen([](int) {}, [&](const std::vector<std::string>&) { ++handled; }));
    const QByteArray tooLong = "files 1\n" + QByteArray(3 * 4096 + 10, 'a') + '\n';
    for (const QByteArray& bad : {QByteArray("files -1\n"), QByteArray("files x\n"),
                                  QByteArray("files 999999999\n"), tooLong, QByteArray("files 2\n%2Fa\n")})
        EXPECT_TRUE(SendRaw(first.SocketName(), bad).isEmpty()) << bad.left(20).constData();
    // An empty list is answered and calls nobody.
    EXPECT_EQ(SendRaw(first.SocketName(), "files 0\n"), "ok\n");
    QCoreApplication::processEvents();
    EXPECT_EQ(handled, 0);
    EXPECT_EQ(SendRaw(first.SocketName(), "files 1\n%2Fok\n"), "ok\n");
    for (int i = 0; i < 100 && handled == 0; ++i)
        QCoreApplication::processEvents();
    EXPECT_EQ(handled, 1);
}

TEST(SingleInstance, AnInstanceThatTakesNoFilesRefusesThem) {
    const QString folder = test::MakeScratchDir(QStringLiteral("run"));
    TSingleInstance first(folder), second(folder);
    ASSERT_EQ(first.Acquire(), TSingleInstance::arFirst);
    ASSERT_TRUE(first.Listen([](int) {}));
    EXPECT_TRUE(SendRaw(first.SocketName(), "files 1\n%2Fa\n").isEmpty());
    // Nobody listening at all: the starter gives up when its time is up, not before.
    first.Release();
    const auto started = std::chrono::steady_clock::now();
    EXPECT_FALSE(second.SendFiles({"/a"}, 400));
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(350));
}

} // namespace
} // namespace quillo
