#include "app/SingleInstance.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>
#include <QTimer>

#include <sys/un.h>
#include <utility>

namespace quillo {

namespace {

// Longest line a request may have; anything longer is not ours.
constexpr qsizetype kMaxRequestLine = 32;
// How long a connected client may take to send its request before it is dropped.
constexpr int kRequestTimeoutMs = 2000;

QString BaseName() {
    return QString::fromStdString(InstanceBaseName());
}

} // namespace

TSingleInstance::TSingleInstance(const QString& Folder, QObject* Parent)
    : QObject(Parent), FFolder(Folder.isEmpty() ? RuntimeFolder() : Folder) {}

TSingleInstance::~TSingleInstance() {
    Release();
}

QString TSingleInstance::RuntimeFolder() {
    return QString::fromStdString(InstanceRuntimeFolder());
}

QString TSingleInstance::LockFileName() const {
    return QString::fromStdString(InstanceLockFileName(FFolder.toStdString()));
}

QString TSingleInstance::SocketName() const {
    const QString path = FFolder + QLatin1Char('/') + BaseName() + ".sock";
    // A socket address holds little more than a hundred bytes; a deep runtime folder gets a
    // name in /tmp that is still unique to it.
    if (path.toLocal8Bit().size() < qsizetype(sizeof(sockaddr_un::sun_path)))
        return path;
    const QByteArray hash =
        QCryptographicHash::hash(FFolder.toLocal8Bit(), QCryptographicHash::Sha1).toHex().left(16);
    return QStringLiteral("/tmp/") + BaseName() + QLatin1Char('-') + QString::fromLatin1(hash) + ".sock";
}

TSingleInstance::TAcquireResult TSingleInstance::Acquire() {
    switch (FLock.Acquire(LockFileName().toStdString())) {
    case TInstanceLock::lrHeld:
        return arFirst;
    case TInstanceLock::lrBusy:
        return arAlreadyRuns;
    case TInstanceLock::lrUnavailable:
        break;
    }
    return arNoProtection;
}

bool TSingleInstance::SendShowRequest(int WParam, int TimeoutMs) {
    const QDeadlineTimer deadline(TimeoutMs);
    QLocalSocket socket;
    socket.connectToServer(SocketName());
    if (!socket.waitForConnected(int(deadline.remainingTime())))
        return false; // refused or missing: the first instance is starting or gone
    socket.write(QStringLiteral("show %1\n").arg(WParam).toLatin1());
    if (!socket.waitForBytesWritten(int(deadline.remainingTime())))
        return false;
    QByteArray reply;
    while (!reply.contains('\n')) {
        if (deadline.hasExpired() || !socket.waitForReadyRead(int(deadline.remainingTime())))
            return false;
        reply += socket.readAll();
    }
    return reply.startsWith("ok\n");
}

bool TSingleInstance::Listen(std::function<void(int WParam)> Handler) {
    if (!FLock.Held() || FServer)
        return false;
    FHandler = std::move(Handler);
    // We hold the lock, so a socket file that is there was left by an instance that died.
    QLocalServer::removeServer(SocketName());
    FServer = new QLocalServer(this);
    FServer->setSocketOptions(QLocalServer::UserAccessOption);
    connect(FServer, &QLocalServer::newConnection, this, &TSingleInstance::ServeConnection);
    if (!FServer->listen(SocketName())) {
        delete FServer;
        FServer = nullptr;
        return false;
    }
    return true;
}

void TSingleInstance::ServeConnection() {
    while (QLocalSocket* socket = FServer->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        QTimer::singleShot(kRequestTimeoutMs, socket, [socket] { socket->abort(); });
        connect(socket, &QLocalSocket::readyRead, socket, [this, socket] {
            if (!socket->canReadLine()) {
                if (socket->bytesAvailable() > kMaxRequestLine)
                    socket->abort();
                return;
            }
            const QByteArray line = socket->readLine(kMaxRequestLine).trimmed();
            bool ok = false;
            const int wParam = line.startsWith("show ") ? line.mid(5).toInt(&ok) : 0;
            if (!ok) {
                socket->abort();
                return;
            }
            // The handler may run a nested event loop; the socket may be gone afterwards.
            QPointer<QLocalSocket> guard(socket);
            if (FHandler)
                FHandler(wParam);
            if (guard) {
                guard->write("ok\n");
                guard->flush();
                guard->disconnectFromServer();
            }
        });
    }
}

void TSingleInstance::Release() {
    if (FServer) {
        FServer->close();
        delete FServer;
        FServer = nullptr;
    }
    FLock.Release();
}

} // namespace quillo
