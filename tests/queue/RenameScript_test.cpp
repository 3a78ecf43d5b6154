#include "core/queue/RenameScript.h"

#include "support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QProcess>

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

using namespace quillo;

namespace {

TFinishedUploadJobData Uploaded(const std::string& local, const std::string& uploadName) {
    TFinishedUploadJobData r;
    r.FileName = "/home/me/" + local;
    r.UploadName = uploadName;
    return r;
}

TRows AllRows(const TUploadQueue& queue) {
    TRows rows;
    for (size_t i = 0; i < queue.FinishedCount(); ++i)
        rows.push_back(i);
    return rows;
}

TEST(RenameScriptTest, ScriptKindFollowsTheChosenName) {
    EXPECT_EQ(RenameScriptKindFor("/tmp/x.sh"), rsShell);
    EXPECT_EQ(RenameScriptKindFor("X.SH"), rsShell);
    EXPECT_EQ(RenameScriptKindFor("x.bat"), rsBatch);
    EXPECT_EQ(RenameScriptKindFor("x.sh.bat"), rsBatch);
    EXPECT_EQ(RenameScriptKindFor("sh"), rsBatch);
    EXPECT_EQ(RenameScriptKindFor(""), rsBatch);
}

TEST(RenameScriptTest, BatchLinesDoublePercentAndLeaveOutWhatCannotBeQuoted) {
    TUploadQueue queue;
    queue.AppendAll({}, {Uploaded("report.doc", "Kqwe.pdf"), Uploaded("own name.txt", ""),
                         Uploaded("100% & done.txt", "Abc_x%PATH%.mp3"),
                         Uploaded("say \"hi\".txt", "Xyz.avi"), Uploaded("fine.txt", "Bad\"name.doc"),
                         Uploaded("tab\there.txt", "Tab.dat"), Uploaded("a^b|c<d>e.txt", "Plain.xls")});
    const TRenameScript script = MakeRenameScript(queue, AllRows(queue), rsBatch);
    EXPECT_EQ(script.Text, "ren \"Kqwe.pdf\" \"report.doc\"\r\n"
                           "ren \"Abc_x%%PATH%%.mp3\" \"100%% & done.txt\"\r\n"
                           "ren \"Plain.xls\" \"a^b|c<d>e.txt\"\r\n");
    ASSERT_EQ(script.LeftOut.size(), 3u);
    EXPECT_NE(script.LeftOut[0].find("Xyz.avi -> say \"hi\".txt"), std::string::npos) << script.LeftOut[0];
    EXPECT_NE(script.LeftOut[1].find("Bad\"name.doc"), std::string::npos);
    EXPECT_NE(script.LeftOut[2].find("tab\\x09here.txt"), std::string::npos) << script.LeftOut[2];

    // Only the selected rows; none with an upload name gives an empty script.
    EXPECT_EQ(MakeRenameScript(queue, {0}, rsBatch).Text, "ren \"Kqwe.pdf\" \"report.doc\"\r\n");
    const TRenameScript none = MakeRenameScript(queue, {1}, rsBatch);
    EXPECT_EQ(none.Text, "");
    EXPECT_TRUE(none.LeftOut.empty());
}

TEST(RenameScriptTest, ShellQuoting) {
    EXPECT_EQ(ShellQuote("plain"), "'plain'");
    EXPECT_EQ(ShellQuote("it's"), "'it'\\''s'");
    EXPECT_EQ(ShellQuote(""), "''");
    EXPECT_EQ(ShellQuote("$(x) `y` \"z\""), "'$(x) `y` \"z\"'");
}

void WriteFile(const QString& path, const QByteArray& data) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly)) << path.toStdString();
    f.write(data);
}

std::set<std::string> FilesIn(const QString& dir) {
    std::set<std::string> names;
    for (const QString& n :
         QDir(dir).entryList(QDir::Files | QDir::Dirs | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot))
        names.insert(n.toStdString());
    return names;
}

// The written script runs in a scratch download folder full of hostile names: exactly the files
// it should are renamed, nothing is overwritten, and no name runs as a command.
TEST(RenameScriptTest, TheShellScriptRenamesExactlyWhatItShould) {
    const QString root = test::MakeScratchDir(QStringLiteral("rename"));
    const QString downloads = root + QStringLiteral("/downloads");
    ASSERT_TRUE(QDir().mkpath(downloads));
    // Commands hidden in names would leave these files in the folder the script runs in.
    const std::string m = "pwned";

    struct TCase {
        std::string Local, Upload;
    };
    const std::vector<TCase> renamed = {
        {"report.doc", "Kqwe.pdf"},
        {"it's mine.txt", "O'Brien.doc"},
        {"$(touch " + m + "1).txt", "`touch " + m + "2`.avi"},
        {"a b  c;d&e|f>g<h.txt", "-rf"},
        {"*", "?.mp3"},
        {"line\nbreak.txt", " lead and trail "},
        {"\xe6\x97\xa5\xe6\x9c\xac.txt", "Zz%PATH%\\x.dat"},
        {"\"quoted\".txt", "!bang #hash ~tilde"},
    };
    TUploadQueue queue;
    std::vector<TFinishedUploadJobData> entries;
    for (const TCase& c : renamed)
        entries.push_back(Uploaded(c.Local, c.Upload));
    entries.push_back(Uploaded("own.txt", ""));              // uploaded under its own name
    entries.push_back(Uploaded("escape.txt", "../outside")); // would reach outside the folder
    entries.push_back(Uploaded("keep.txt", "Exists.doc"));   // the local name is taken already
    queue.AppendAll({}, std::move(entries));

    const TRenameScript script = MakeRenameScript(queue, AllRows(queue), rsShell);
    ASSERT_EQ(script.LeftOut.size(), 1u);
    EXPECT_NE(script.LeftOut[0].find("../outside"), std::string::npos);
    EXPECT_EQ(script.Text.rfind("#!/bin/sh\n", 0), 0u);
    EXPECT_EQ(script.Text.find('\r'), std::string::npos);

    std::set<std::string> expected;
    for (const TCase& c : renamed) {
        WriteFile(downloads + QLatin1Char('/') + QString::fromStdString(c.Upload),
                  QByteArray::fromStdString(c.Local));
        expected.insert(c.Local);
    }
    WriteFile(root + QStringLiteral("/outside"), "outside");
    WriteFile(downloads + QStringLiteral("/Exists.doc"), "upload");
    WriteFile(downloads + QStringLiteral("/keep.txt"), "older local file");
    WriteFile(downloads + QStringLiteral("/unrelated"), "unrelated");
    expected.insert({"Exists.doc", "keep.txt", "unrelated"});
    const QString scriptPath = root + QStringLiteral("/rename.sh");
    WriteFile(scriptPath, QByteArray::fromStdString(script.Text));

    QProcess sh;
    sh.setWorkingDirectory(downloads);
    sh.start(QStringLiteral("/bin/sh"), {scriptPath});
    ASSERT_TRUE(sh.waitForFinished(20000));
    EXPECT_EQ(sh.exitStatus(), QProcess::NormalExit) << sh.readAllStandardError().toStdString();

    EXPECT_EQ(FilesIn(downloads), expected);
    for (const TCase& c : renamed) {
        QFile f(downloads + QLatin1Char('/') + QString::fromStdString(c.Local));
        ASSERT_TRUE(f.open(QIODevice::ReadOnly)) << c.Local;
        EXPECT_EQ(f.readAll().toStdString(), c.Local); // each file got its own name back
    }
    QFile kept(downloads + QStringLiteral("/keep.txt"));
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), QByteArray("older local file")); // -n: never overwritten
    EXPECT_EQ(FilesIn(root), (std::set<std::string>{"downloads", "outside", "rename.sh"}));
}

} // namespace
