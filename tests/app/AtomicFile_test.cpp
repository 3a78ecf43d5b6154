#include "core/app/AtomicFile.h"

#include "support/TestEnvironment.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <ctime>
#include <sys/stat.h>
#include <utime.h>

namespace quillo {
namespace {

void MakeFile(const QString& Path, std::time_t Modified) {
    QFile f(Path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("half");
    f.close();
    const utimbuf times{Modified, Modified};
    ASSERT_EQ(::utime(Path.toLocal8Bit().constData(), &times), 0);
}

// Every file saved this way (settings, jobs file, autostart entry) loses the temporary file that
// a killed save of the same name left behind, and nothing else.
TEST(AtomicFileTest, ASaveRemovesStaleTemporariesOfThatFileOnly) {
    const QString dir = test::MakeScratchDir(QStringLiteral("atomic"));
    const std::time_t old = std::time(nullptr) - 3600;
    const QString stale = QStringLiteral("quillo.jobs.tmp-Ab3dE9");
    const QStringList kept = {
        QStringLiteral("quillo.jobs.tmp-fresh1"),  // a save that may still be running
        QStringLiteral("quillo.ini.tmp-Ab3dE9"),   // another file's
        QStringLiteral("quillo.jobs.tmp-Ab3dE99"), // not the shape of a temporary name
        QStringLiteral("quillo.jobs.tmp-"),
    };
    MakeFile(dir + QLatin1Char('/') + stale, old);
    MakeFile(dir + QLatin1Char('/') + kept[0], std::time(nullptr));
    for (int i = 1; i < kept.size(); ++i)
        MakeFile(dir + QLatin1Char('/') + kept[i], old);
    ASSERT_TRUE(QDir(dir).mkdir(QStringLiteral("quillo.jobs.tmp-folder")));

    WriteFileAtomically((dir + QStringLiteral("/quillo.jobs")).toStdString(), "new", 0600);

    QStringList expected = kept;
    expected << QStringLiteral("quillo.jobs") << QStringLiteral("quillo.jobs.tmp-folder");
    expected.sort();
    const QStringList left =
        QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
    EXPECT_EQ(left.join(QLatin1Char(' ')).toStdString(), expected.join(QLatin1Char(' ')).toStdString());
    QFile saved(dir + QStringLiteral("/quillo.jobs"));
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    EXPECT_EQ(saved.readAll(), QByteArray("new"));
}

} // namespace
} // namespace quillo
