#include "app/SingleInstance.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <memory>
#include <sys/un.h>
#include <thread>
#include <utility>

namespace quillo {

namespace {

// Longest line a request may have; anything longer is not ours.
constexpr qsizetype kMaxRequestLine = 32;
// A files request: one percent-encoded name of the longest path a file system allows, and its
// line end; at most this many names and bytes in all, whatever a peer announces.
constexpr qsizetype kMaxNameLine = 3 * 4096 + 1;
constexpr qsizetype kMaxFiles = 100000;
constexpr qsizetype kMaxFilesRequestBytes = qsizetype(64) << 20;
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
    return Exchange(QStringLiteral("show %1\n").arg(WParam).toLatin1(), TimeoutMs, false);
}

bool TSingleInstance::SendFiles(const std::vector<std::string>& Paths, int TimeoutMs) {
    QByteArray request = "files " + QByteArray::number(qulonglong(Paths.size())) + '\n';
    for (const std::string& path : Paths)
        request += QByteArray::fromStdString(path).toPercentEncoding() + '\n';
    return Exchange(request, TimeoutMs, true);
}

bool TSingleInstance::Exchange(const QByteArray& Request, int TimeoutMs, bool RetryConnect) {
    const QDeadlineTimer deadline(TimeoutMs);
    QLocalSocket socket;
    for (;;) {
        socket.connectToServer(SocketName());
        if (socket.waitForConnected(int(deadline.remainingTime())))
            break;
        // Refused or missing: the first instance is starting or gone.
        if (!RetryConnect || deadline.hasExpired())
            return false;
        socket.abort();
        std::this_thread::sleep_for(
            std::chrono::milliseconds(std::min<qint64>(100, deadline.remainingTime())));
    }
    socket.write(Request);
    while (socket.bytesToWrite() > 0)
        if (deadline.hasExpired() || !socket.waitForBytesWritten(int(deadline.remainingTime())))
            return false;
    QByteArray reply;
    while (!reply.contains('\n')) {
        if (deadline.hasExpired() || !socket.waitForReadyRead(int(deadline.remainingTime())))
            return false;
        reply += socket.readAll();
    }
    return reply.startsWith("ok\n");
}

bool TSingleInstance::Listen(std::function<void(int WParam)> Handler,
                             std::function<void(const std::vector<std::string>& Paths)> FilesHandler) {
    if (!FLock.Held() || FServer)
        return false;
    FHandler = std::move(Handler);
    FFilesHandler = std::move(FilesHandler);
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
        // A files request in progress: how many names it announced and those read so far.
        struct TFilesRequest {
            qsizetype Expected = -1;
            qsizetype Bytes = 0;
            std::vector<std::string> Names;
        };
        auto files = std::make_shared<TFilesRequest>();
        connect(socket, &QLocalSocket::readyRead, socket, [this, socket, files] {
            while (socket->state() == QLocalSocket::ConnectedState) {
                const qsizetype limit = files->Expected < 0 ? kMaxRequestLine : kMaxNameLine;
                if (!socket->canReadLine()) {
                    if (socket->bytesAvailable() > limit)
                        socket->abort();
                    return;
                }
                const QByteArray line = socket->readLine();
                files->Bytes += line.size();
                if (line.size() > limit || files->Bytes > kMaxFilesRequestBytes) {
                    socket->abort();
                    return;
                }
                if (files->Expected < 0) {
                    const QByteArray request = line.trimmed();
                    if (request.startsWith("files ")) {
                        bool ok = false;
                        files->Expected = request.mid(6).toLongLong(&ok);
                        if (!ok || files->Expected < 0 || files->Expected > kMaxFiles || !FFilesHandler) {
                            socket->abort();
                            return;
                        }
                    } else {
                        ServeShowRequest(socket, request);
                        return;
                    }
                } else {
                    const QByteArray name = QByteArray::fromPercentEncoding(line.chopped(1));
                    if (!name.isEmpty())
                        files->Names.push_back(name.toStdString());
                    --files->Expected;
                }
                if (files->Expected == 0) {
                    Answer(socket);
                    // Queued: the dialog that adding opens must not keep the starter waiting.
                    QTimer::singleShot(0, this, [this, names = std::move(files->Names)] {
                        if (FFilesHandler && !names.empty())
                            FFilesHandler(names);
                    });
                    return;
                }
            }
        });
    }
}

void TSingleInstance::ServeShowRequest(QLocalSocket* Socket, const QByteArray& Request) {
    bool ok = false;
    const int wParam = Request.startsWith("show ") ? Request.mid(5).toInt(&ok) : 0;
    if (!ok) {
        Socket->abort();
        return;
    }
    // The handler may run a nested event loop; the socket may be gone afterwards.
    QPointer<QLocalSocket> guard(Socket);
    if (FHandler)
        FHandler(wParam);
    if (guard)
        Answer(guard);
}

void TSingleInstance::Answer(QLocalSocket* Socket) {
    Socket->write("ok\n");
    Socket->flush();
    Socket->disconnectFromServer();
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
