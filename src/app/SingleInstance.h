#pragma once
// One running Quillo per user. The real mutex is an exclusive flock() on a lock file in the
// user's runtime folder: the kernel drops it when the holder ends, however it ends, so a crash
// never blocks the next start and two simultaneous starts can never both win. A local socket
// beside it is only the wake-up channel: a second start connects, sends a show request and
// waits until the first instance has handled it.
//
// Wire format of a request: one line "show <wParam>\n" (0 = show, 1 = toggle), or "files <n>\n"
// followed by n lines, each a file name's bytes percent-encoded (so that any name, even one
// holding a line break, arrives as it is). The reply is the line "ok\n": for a show request
// written after it has been handled, for files once all names have arrived (adding them opens a
// dialog that may stay open for long; the starter does not wait for it).

#include "core/app/InstanceLock.h"

#include <QObject>
#include <QString>

#include <functional>
#include <string>
#include <vector>

class QLocalServer;
class QLocalSocket;

namespace quillo {

class TSingleInstance final : public QObject {
    Q_OBJECT
public:
    enum TAcquireResult {
        arFirst,        // this process holds the lock
        arAlreadyRuns,  // another process holds it
        arNoProtection, // the lock file cannot be used; run without single-instance protection
    };

    // Folder for the lock file and the socket; empty = RuntimeFolder().
    explicit TSingleInstance(const QString& Folder = QString(), QObject* Parent = nullptr);
    ~TSingleInstance() override;
    TSingleInstance(const TSingleInstance&) = delete;
    TSingleInstance& operator=(const TSingleInstance&) = delete;

    // $XDG_RUNTIME_DIR when it is an absolute, writable folder, /tmp otherwise.
    static QString RuntimeFolder();

    // Names carry the user id so that two users sharing /tmp never meet.
    QString LockFileName() const;
    QString SocketName() const;

    // Takes the lock without waiting. Needs no application object.
    TAcquireResult Acquire();

    // Second instance: sends a show request to the first and waits for its answer, at most
    // TimeoutMs in all. False when nobody answered (the first is still starting, or is gone).
    // Needs no application object.
    bool SendShowRequest(int WParam, int TimeoutMs = 700);

    // Second instance: hands file names to the first. A first instance that is still starting
    // is given until TimeoutMs to begin listening. False when nobody took them.
    bool SendFiles(const std::vector<std::string>& Paths, int TimeoutMs = 5000);

    // First instance: replaces a socket left by a crashed instance and starts serving show
    // requests; each one calls Handler on this thread before the answer goes back. Needs the
    // event loop of an application object. False when the socket cannot be created (the
    // program still runs; later starts then end without waking it).
    // FilesHandler gets the names of each files request, queued on this thread after the answer.
    bool Listen(std::function<void(int WParam)> Handler,
                std::function<void(const std::vector<std::string>& Paths)> FilesHandler = {});

    // Stops serving and drops the lock. Called when the main window closes; also done by the
    // destructor and, for the lock, by the kernel at process end.
    void Release();

private:
    void ServeConnection();
    void ServeShowRequest(QLocalSocket* Socket, const QByteArray& Request);
    static void Answer(QLocalSocket* Socket);
    // Sends Request and waits for "ok"; RetryConnect tries a refused connection again until the
    // time is up.
    bool Exchange(const QByteArray& Request, int TimeoutMs, bool RetryConnect);

    QString FFolder;
    TInstanceLock FLock;
    QLocalServer* FServer = nullptr;
    std::function<void(int)> FHandler;
    std::function<void(const std::vector<std::string>&)> FFilesHandler;
};

} // namespace quillo
