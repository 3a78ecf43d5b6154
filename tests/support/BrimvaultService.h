#pragma once
// Test fixture: runs the repository's stand-in of the Brimvault service
// (tools/brimvault-service/brimvault_service.py, Debian's /usr/bin/python3) as a child process on
// free loopback ports, with a fresh storage folder under the test scratch root (or a temporary
// folder of its own in programs without the test environment, e.g. benchmarks), and reads back
// the JSON-lines log of everything it received. See tools/brimvault-service/README.md for the
// switch names and the log format.
//
//   quillo::test::TBrimvaultService service;
//   ASSERT_TRUE(service.Start()) << service.ErrorText().toStdString();
//   ... point the client at service.SiteHost() / service.FtpPort() ...
//   service.SetFaults({{"drop_after", 1000}, {"drop_after_times", 1}});
//   auto posts = service.HttpRequests("/cgi-bin/upload.cgi");
//
// The interpreter is /usr/bin/python3 unless QUILLO_SERVICE_PYTHON names another one.
// Not thread-safe: use one instance from the thread that started it.

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class QProcess;
class QTemporaryDir;

namespace quillo::test {

struct TServiceAccount {
    QString UserName;
    QString Password;
};

struct TBrimvaultServiceOptions {
    // FTP/commit accounts; each gets a home folder (AccountDir) below the storage folder.
    QList<TServiceAccount> Accounts{{QStringLiteral("user"), QStringLiteral("pass")}};
    // Switches in effect from the start (same keys as SetFaults); ResetFaults returns to these.
    QJsonObject Faults;
    // Keep every raw request body (entry "raw_body" names the file; RawBody reads it).
    bool KeepRawBodies = false;
    // Fixed ports instead of free ones (0 = pick a free port).
    quint16 HttpPort = 0;
    quint16 FtpPort = 0;
    int StartTimeoutMs = 10000;
};

class TBrimvaultService final {
public:
    TBrimvaultService();
    ~TBrimvaultService(); // stops the process
    TBrimvaultService(const TBrimvaultService&) = delete;
    TBrimvaultService& operator=(const TBrimvaultService&) = delete;

    // Starts the service and waits until it serves. False with ErrorText() on failure.
    bool Start(const TBrimvaultServiceOptions& options = {});
    void Stop();
    bool IsRunning() const;
    QString ErrorText() const { return FError; }

    quint16 HttpPort() const { return FHttpPort; }
    quint16 FtpPort() const { return FFtpPort; }
    // "127.0.0.1:<http port>": the site host and, by default, the only upload server listed.
    QString SiteHost() const;
    // "http://127.0.0.1:<http port>/"
    QString SiteUrl() const;
    // "http://127.0.0.1:<http port>/cgi-bin/upload.cgi"
    QString UploadUrl() const;

    QString StorageDir() const { return FStorageDir; }
    QString LogFile() const { return FLogFile; }
    // The FTP home of an account (where STOR/APPE land and commit looks).
    QString AccountDir(const QString& userName) const;
    QString AccountFilePath(const QString& userName, const QString& fileName) const;
    // Places a file in an account's home, e.g. a partial upload to be resumed.
    bool WriteAccountFile(const QString& userName, const QString& fileName, const QByteArray& data) const;
    QByteArray ReadAccountFile(const QString& userName, const QString& fileName) const;

    // Run-time switches, e.g. {{"upload_status", 500}} or {{"server_list", ""}}. Unknown keys
    // are refused (false, ErrorText()). Applies before the next request is served.
    bool SetFaults(const QJsonObject& switches);
    // Back to the switches given at Start.
    bool ResetFaults();
    // The current switch values.
    QJsonObject Faults();

    // Every log entry so far, in file order (an HTTP entry is written when its answer is ready,
    // before it is sent, so an answered request is always in the log).
    QList<QJsonObject> LogEntries() const;
    // HTTP entries, optionally only those whose path (without query) equals path.
    QList<QJsonObject> HttpRequests(const QString& path = QString()) const;
    // FTP command lines as received ("USER bob", "STOR name", ...), in order.
    QStringList FtpCommandLines() const;
    // Waits until done(LogEntries()) is true, serving the event loop meanwhile; false on time-out.
    bool WaitForLog(const std::function<bool(const QList<QJsonObject>&)>& done, int timeoutMs = 5000) const;
    // Empties the log (both the service's file and what later reads return).
    bool ClearLog();

    // Helpers on one HTTP entry.
    static QList<QPair<QString, QString>> Headers(const QJsonObject& entry);
    // First header of that name (any case); a null QString when absent.
    static QString HeaderValue(const QJsonObject& entry, const QString& name);
    // The form's text fields as name/value pairs, in wire order.
    static QList<QPair<QString, QString>> FormFields(const QJsonObject& entry);
    // The raw request body kept with KeepRawBodies (empty otherwise).
    static QByteArray RawBody(const QJsonObject& entry);
    // Percent-decoded query value of key in an entry's query (raw bytes).
    static QByteArray QueryValue(const QJsonObject& entry, const QString& key);

private:
    bool Control(QJsonObject message, QJsonObject* answer);
    void Fail(const QString& text);

    std::unique_ptr<QProcess> FProcess;
    std::unique_ptr<QTemporaryDir> FOwnDir; // only without a test scratch root
    QString FError;
    QString FStorageDir;
    QString FLogFile;
    QString FStderrFile;
    quint16 FHttpPort = 0;
    quint16 FFtpPort = 0;
    QJsonObject FAccountDirs;
    int FNextControlId = 1;
};

} // namespace quillo::test
