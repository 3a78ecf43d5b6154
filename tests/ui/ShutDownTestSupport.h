#pragma once
// Test helpers for the automatic shutdown: a recording stand-in for the shutdown request, and a
// way to act on the modal countdown window once it is shown.

#include "support/TestEnvironment.h"
#include "ui/ShutDown.h"

#include <QApplication>
#include <QFile>
#include <QStringList>
#include <QTimer>
#include <gtest/gtest.h>

#include <functional>

namespace quillo::test {

// While it lives, QUILLO_SHUTDOWN_COMMAND appends "flags action" to a file of its own, so a test
// sees every request and the machine is never asked to power off.
class TShutDownRecorder {
public:
    TShutDownRecorder()
        : FSaved(qgetenv("QUILLO_SHUTDOWN_COMMAND")),
          FRecord(MakeScratchDir(QStringLiteral("shutdown")) + QStringLiteral("/requests.txt")) {
        EXPECT_FALSE(FSaved.trimmed().isEmpty()) << "the test main must install a stand-in shutdown command";
        UseCommand(QStringLiteral("sh -c 'echo \"$0 $1\" >> \"%1\"'").arg(FRecord));
    }
    ~TShutDownRecorder() { qputenv("QUILLO_SHUTDOWN_COMMAND", FSaved); }
    TShutDownRecorder(const TShutDownRecorder&) = delete;
    TShutDownRecorder& operator=(const TShutDownRecorder&) = delete;

    // Another stand-in command line (never a blank one, which would mean the real request).
    void UseCommand(const QString& Command) {
        if (Command.trimmed().isEmpty())
            ADD_FAILURE() << "a blank shutdown command would reach the system";
        else
            qputenv("QUILLO_SHUTDOWN_COMMAND", Command.toLocal8Bit());
    }
    // The requests so far, one "flags action" line each.
    QStringList Requests() const {
        QFile File(FRecord);
        if (!File.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(File.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }
    void Clear() { QFile::remove(FRecord); }

private:
    QByteArray FSaved;
    QString FRecord;
};

// Runs Act once on the first countdown window that becomes visible (looking every 10 ms while
// the event loop runs, for instance inside the window's modal loop).
inline void WhenShutDownBoxShown(std::function<void(TShutDownBox&)> Act) {
    auto* Poll = new QTimer(qApp);
    QObject::connect(Poll, &QTimer::timeout, Poll, [Poll, Act] {
        for (QWidget* W : QApplication::topLevelWidgets())
            if (auto* Box = qobject_cast<TShutDownBox*>(W); Box && Box->isVisible()) {
                Poll->deleteLater();
                Poll->stop();
                Act(*Box);
                return;
            }
    });
    Poll->start(10);
}

} // namespace quillo::test
