#include "support/BrimvaultService.h"

#include "support/TestEnvironment.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QUrl>

namespace quillo::test {

namespace {

QString ServiceScript() {
    return QStringLiteral(QUILLO_SOURCE_DIR "/tools/brimvault-service/brimvault_service.py");
}

// Debian's interpreter: the one on PATH may lack pyftpdlib.
QString ServicePython() {
    const QByteArray custom = qgetenv("QUILLO_SERVICE_PYTHON");
    return custom.isEmpty() ? QStringLiteral("/usr/bin/python3") : QString::fromLocal8Bit(custom);
}

QByteArray ReadWholeFile(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

QString Tail(const QByteArray& text, int max = 2000) {
    return QString::fromUtf8(text.size() > max ? text.right(max) : text).trimmed();
}

} // namespace

TBrimvaultService::TBrimvaultService() = default;

TBrimvaultService::~TBrimvaultService() {
    Stop();
}

void TBrimvaultService::Fail(const QString& text) {
    FError = text;
    const QString err = Tail(ReadWholeFile(FStderrFile));
    if (!err.isEmpty())
        FError += QStringLiteral("\nservice stderr:\n") + err;
}

bool TBrimvaultService::Start(const TBrimvaultServiceOptions& options) {
    Stop();
    FError.clear();
    // Inside the test scratch root when there is one; a program without the test environment
    // (a benchmark, say) gets a temporary folder of its own.
    QString dir;
    if (!ScratchRoot().isEmpty()) {
        dir = MakeScratchDir(QStringLiteral("brimvault"));
    } else {
        FOwnDir =
            std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/quillo-brimvault-XXXXXX"));
        if (FOwnDir->isValid())
            dir = FOwnDir->path();
    }
    if (dir.isEmpty() || !QFileInfo(dir).isDir()) {
        FError = QStringLiteral("cannot create a folder for the stand-in service");
        return false;
    }
    FStorageDir = dir + QStringLiteral("/storage");
    FLogFile = dir + QStringLiteral("/requests.jsonl");
    FStderrFile = dir + QStringLiteral("/stderr.txt");
    const QString readyFile = dir + QStringLiteral("/ready.json");

    // -I: isolated from PYTHON* variables and user site folders of the calling environment.
    QStringList args{QStringLiteral("-I"),
                     ServiceScript(),
                     QStringLiteral("--http-port"),
                     QString::number(options.HttpPort),
                     QStringLiteral("--ftp-port"),
                     QString::number(options.FtpPort),
                     QStringLiteral("--storage"),
                     FStorageDir,
                     QStringLiteral("--ready-file"),
                     readyFile,
                     QStringLiteral("--log"),
                     FLogFile,
                     QStringLiteral("--parent-pid"),
                     QString::number(QCoreApplication::applicationPid()),
                     QStringLiteral("--control-stdin")};
    for (const TServiceAccount& a : options.Accounts)
        args << QStringLiteral("--account") << a.UserName + QLatin1Char(':') + a.Password;
    if (!options.Faults.isEmpty())
        args << QStringLiteral("--faults")
             << QString::fromUtf8(QJsonDocument(options.Faults).toJson(QJsonDocument::Compact));
    if (options.KeepRawBodies)
        args << QStringLiteral("--keep-raw") << dir + QStringLiteral("/raw");

    FProcess = std::make_unique<QProcess>();
    FProcess->setProgram(ServicePython());
    FProcess->setArguments(args);
    FProcess->setStandardErrorFile(FStderrFile);
    FProcess->start();
    if (!FProcess->waitForStarted(5000)) {
        Fail(QStringLiteral("cannot start %1: %2").arg(ServicePython(), FProcess->errorString()));
        FProcess.reset();
        return false;
    }

    const QDeadlineTimer deadline(options.StartTimeoutMs);
    QJsonObject ready;
    while (true) {
        const QJsonDocument doc = QJsonDocument::fromJson(ReadWholeFile(readyFile));
        if (doc.isObject()) {
            ready = doc.object();
            break;
        }
        if (FProcess->state() == QProcess::NotRunning) {
            Fail(QStringLiteral("the stand-in service exited during start-up (exit code %1)")
                     .arg(FProcess->exitCode()));
            FProcess.reset();
            return false;
        }
        if (deadline.hasExpired()) {
            Fail(QStringLiteral("the stand-in service did not get ready within %1 ms")
                     .arg(options.StartTimeoutMs));
            Stop();
            return false;
        }
        FProcess->waitForFinished(20);
    }
    FHttpPort = quint16(ready.value(QStringLiteral("http_port")).toInt());
    FFtpPort = quint16(ready.value(QStringLiteral("ftp_port")).toInt());
    FAccountDirs = ready.value(QStringLiteral("accounts")).toObject();
    return true;
}

void TBrimvaultService::Stop() {
    if (!FProcess)
        return;
    if (FProcess->state() != QProcess::NotRunning) {
        // Closing stdin is the service's cue to exit; SIGTERM and SIGKILL are the fall-backs.
        FProcess->closeWriteChannel();
        if (!FProcess->waitForFinished(3000)) {
            FProcess->terminate();
            if (!FProcess->waitForFinished(3000)) {
                FProcess->kill();
                FProcess->waitForFinished(3000);
            }
        }
    }
    FProcess.reset();
}

bool TBrimvaultService::IsRunning() const {
    return FProcess && FProcess->state() == QProcess::Running;
}

QString TBrimvaultService::SiteHost() const {
    return QStringLiteral("127.0.0.1:%1").arg(FHttpPort);
}

QString TBrimvaultService::SiteUrl() const {
    return QStringLiteral("http://%1/").arg(SiteHost());
}

QString TBrimvaultService::UploadUrl() const {
    return QStringLiteral("http://%1/cgi-bin/upload.cgi").arg(SiteHost());
}

QString TBrimvaultService::AccountDir(const QString& userName) const {
    return FAccountDirs.value(userName).toString();
}

QString TBrimvaultService::AccountFilePath(const QString& userName, const QString& fileName) const {
    const QString home = AccountDir(userName);
    return home.isEmpty() ? QString() : home + QLatin1Char('/') + fileName;
}

bool TBrimvaultService::WriteAccountFile(const QString& userName, const QString& fileName,
                                         const QByteArray& data) const {
    const QString path = AccountFilePath(userName, fileName);
    if (path.isEmpty())
        return false;
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(data) == data.size();
}

QByteArray TBrimvaultService::ReadAccountFile(const QString& userName, const QString& fileName) const {
    const QString path = AccountFilePath(userName, fileName);
    return path.isEmpty() ? QByteArray() : ReadWholeFile(path);
}

bool TBrimvaultService::Control(QJsonObject message, QJsonObject* answer) {
    if (!IsRunning()) {
        Fail(QStringLiteral("the stand-in service is not running"));
        return false;
    }
    const int id = FNextControlId++;
    message.insert(QStringLiteral("id"), id);
    FProcess->write(QJsonDocument(message).toJson(QJsonDocument::Compact) + '\n');
    FProcess->waitForBytesWritten(5000);
    const QDeadlineTimer deadline(5000);
    while (!deadline.hasExpired()) {
        while (FProcess->canReadLine()) {
            const QJsonObject reply = QJsonDocument::fromJson(FProcess->readLine()).object();
            if (reply.value(QStringLiteral("id")).toInt() != id)
                continue;
            if (answer)
                *answer = reply;
            if (!reply.value(QStringLiteral("ok")).toBool()) {
                FError =
                    QStringLiteral("control refused: ") + reply.value(QStringLiteral("error")).toString();
                return false;
            }
            return true;
        }
        if (FProcess->state() != QProcess::Running)
            break;
        FProcess->waitForReadyRead(50);
    }
    Fail(QStringLiteral("no answer from the stand-in service's control channel"));
    return false;
}

bool TBrimvaultService::SetFaults(const QJsonObject& switches) {
    return Control(switches, nullptr);
}

bool TBrimvaultService::ResetFaults() {
    return Control({{QStringLiteral("reset"), true}}, nullptr);
}

QJsonObject TBrimvaultService::Faults() {
    QJsonObject answer;
    if (!Control({{QStringLiteral("get"), true}}, &answer))
        return {};
    return answer.value(QStringLiteral("state")).toObject();
}

bool TBrimvaultService::ClearLog() {
    return Control({{QStringLiteral("clear_log"), true}}, nullptr);
}

QList<QJsonObject> TBrimvaultService::LogEntries() const {
    QList<QJsonObject> entries;
    const QByteArray text = ReadWholeFile(FLogFile);
    for (const QByteArray& line : text.split('\n')) {
        if (line.trimmed().isEmpty())
            continue;
        // A line still being written at the end of the file does not parse: skip it.
        const QJsonDocument doc = QJsonDocument::fromJson(line);
        if (doc.isObject())
            entries.append(doc.object());
    }
    return entries;
}

QList<QJsonObject> TBrimvaultService::HttpRequests(const QString& path) const {
    QList<QJsonObject> result;
    for (const QJsonObject& e : LogEntries()) {
        if (e.value(QStringLiteral("proto")).toString() != QLatin1String("http"))
            continue;
        if (!path.isNull() && e.value(QStringLiteral("path")).toString() != path)
            continue;
        result.append(e);
    }
    return result;
}

QStringList TBrimvaultService::FtpCommandLines() const {
    QStringList lines;
    for (const QJsonObject& e : LogEntries()) {
        if (e.value(QStringLiteral("proto")).toString() == QLatin1String("ftp") &&
            e.value(QStringLiteral("event")).toString() == QLatin1String("command"))
            lines.append(e.value(QStringLiteral("line")).toString());
    }
    return lines;
}

bool TBrimvaultService::WaitForLog(const std::function<bool(const QList<QJsonObject>&)>& done,
                                   int timeoutMs) const {
    const QDeadlineTimer deadline(timeoutMs);
    while (true) {
        if (done(LogEntries()))
            return true;
        if (deadline.hasExpired())
            return false;
        // Keep serving the caller's event loop: workers under test may be waiting on it.
        if (QCoreApplication::instance() &&
            QThread::currentThread() == QCoreApplication::instance()->thread())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(10);
    }
}

QList<QPair<QString, QString>> TBrimvaultService::Headers(const QJsonObject& entry) {
    QList<QPair<QString, QString>> headers;
    for (const QJsonValue& h : entry.value(QStringLiteral("headers")).toArray()) {
        const QJsonArray pair = h.toArray();
        headers.append({pair.at(0).toString(), pair.at(1).toString()});
    }
    return headers;
}

QString TBrimvaultService::HeaderValue(const QJsonObject& entry, const QString& name) {
    for (const auto& [key, value] : Headers(entry)) {
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value.isNull() ? QStringLiteral("") : value;
    }
    return QString();
}

QList<QPair<QString, QString>> TBrimvaultService::FormFields(const QJsonObject& entry) {
    QList<QPair<QString, QString>> fields;
    const QJsonObject form = entry.value(QStringLiteral("form")).toObject();
    for (const QJsonValue& f : form.value(QStringLiteral("fields")).toArray()) {
        const QJsonObject field = f.toObject();
        fields.append({field.value(QStringLiteral("name")).toString(),
                       field.value(QStringLiteral("value")).toString()});
    }
    return fields;
}

QByteArray TBrimvaultService::RawBody(const QJsonObject& entry) {
    const QString path = entry.value(QStringLiteral("raw_body")).toString();
    return path.isEmpty() ? QByteArray() : ReadWholeFile(path);
}

QByteArray TBrimvaultService::QueryValue(const QJsonObject& entry, const QString& key) {
    const QByteArray query = entry.value(QStringLiteral("query")).toString().toLatin1();
    for (const QByteArray& item : query.split('&')) {
        const int eq = item.indexOf('=');
        const QByteArray name = eq < 0 ? item : item.left(eq);
        if (QByteArray::fromPercentEncoding(name) == key.toUtf8())
            return QByteArray::fromPercentEncoding(eq < 0 ? QByteArray() : item.mid(eq + 1));
    }
    return {};
}

} // namespace quillo::test
