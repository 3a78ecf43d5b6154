// quillo-cli check-language: every report printed, the exit code telling whether any was made.
#include "support/TestEnvironment.h"

#include <QFile>
#include <QProcess>

#include <gtest/gtest.h>

namespace quillo {
namespace {

struct TCheck {
    int ExitCode = -1;
    QString Out;
};

TCheck Check(const QStringList& Args) {
    QProcess cli;
    cli.start(QStringLiteral(QUILLO_BINARY_DIR "/src/cli/quillo-cli"),
              QStringList{QStringLiteral("check-language")} + Args);
    EXPECT_TRUE(cli.waitForFinished(30000));
    return {cli.exitCode(), QString::fromUtf8(cli.readAllStandardOutput())};
}

QString WriteFile(const QByteArray& Bytes) {
    const QString path = test::MakeScratchDir(QStringLiteral("lng")) + QStringLiteral("/Check.lng");
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(Bytes);
    return path;
}

TEST(CliCheckLanguage, TheShippedGermanFileHasNoProblems) {
    const TCheck check = Check({QStringLiteral(QUILLO_SOURCE_DIR "/languages/German.lng")});
    EXPECT_EQ(check.ExitCode, 0) << check.Out.toStdString();
    EXPECT_TRUE(check.Out.contains(QStringLiteral("66 messages; no problems."))) << check.Out.toStdString();
}

TEST(CliCheckLanguage, EveryProblemIsPrintedAndTheExitCodeSaysSo) {
    const QString path =
        WriteFile("x\n[TForm1]\n(!)Caption='a'\nHint='open\n[RESOURCESTRINGS]\n65040_S='s'\n");
    TCheck check = Check({path});
    EXPECT_EQ(check.ExitCode, 1);
    EXPECT_TRUE(check.Out.contains(
        QStringLiteral("Untranslated line in language file:\n\"(!)Caption='a'\"\nYou have to "
                       "translate it!")))
        << check.Out.toStdString();
    EXPECT_TRUE(check.Out.contains(QStringLiteral("Bad decoded string: \"'open\"")))
        << check.Out.toStdString();

    check = Check({WriteFile("x\n[RESOURCESTRINGS]\n65040_S='s'\n65036_I='i'\n")});
    EXPECT_EQ(check.ExitCode, 1);
    EXPECT_TRUE(check.Out.contains(QStringLiteral("Resource string 65036 will not be found")))
        << check.Out.toStdString();

    EXPECT_EQ(Check({}).ExitCode, 2);
    EXPECT_EQ(Check({QStringLiteral("/no/such/file.lng")}).ExitCode, 1);
}

} // namespace
} // namespace quillo
