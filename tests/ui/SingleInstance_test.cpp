#include "app/SingleInstance.h"

#include "support/TestEnvironment.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QLocalSocket>
#include <gtest/gtest.h>

#include <future>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace quillo {
namespace {

// Runs the client on its own thread while this thread serves the event loop for the server.
bool RequestShow(TSingleInstance& Client, int WParam) {
    auto reply = std::async(std::launch::async, [&] { return Client.SendShowRequest(WParam, 3000); });
    while (reply.wait_for(std::chrono::milliseconds(5)) != std::future_status::ready)
        QCoreApplication::processEvents();
    return reply.get();
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
        auto sent = std::async(std::launch::async, [&] {
            QLocalSocket s;
            s.connectToServer(first.SocketName());
            if (!s.waitForConnected(3000))
                return false;
            s.write(junk);
            s.waitForBytesWritten(3000);
            s.waitForDisconnected(3000);
            return s.readAll().isEmpty();
        });
        while (sent.wait_for(std::chrono::milliseconds(5)) != std::future_status::ready)
            QCoreApplication::processEvents();
        EXPECT_TRUE(sent.get()) << junk.left(10).constData();
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

} // namespace
} // namespace quillo
