#include "core/queue/FinishedLinks.h"

#include "core/app/AtomicFile.h"
#include "core/app/MyUtils.h"
#include "support/TestEnvironment.h"

#include <QDateTime>
#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <sys/stat.h>
#include <vector>

using namespace quillo;

namespace {

const double kMs = 1.0 / 86400000.0;

TFinishedUploadJobData Entry(const std::string& file, const std::string& result = {}, std::int64_t size = 0,
                             double end = 0, const std::string& uploadName = {}) {
    TFinishedUploadJobData r;
    r.FileName = file;
    r.Result = result;
    r.FileSize = size;
    r.EndTime = end;
    r.UploadName = uploadName;
    return r;
}

void Fill(TUploadQueue& queue, std::vector<TFinishedUploadJobData> entries) {
    queue.AppendAll({}, std::move(entries));
}

std::vector<std::string> Names(const TUploadQueue& queue) {
    std::vector<std::string> names;
    for (size_t i = 0; i < queue.FinishedCount(); ++i)
        names.push_back(queue.Finished(i).FileName);
    return names;
}

struct TRecorder : TUploadQueueObserver {
    std::vector<std::string> Events;
    void RowsChanged(TQueueList l, std::size_t first, std::size_t last) override {
        Events.push_back("changed " + std::to_string(l) + " " + std::to_string(first) + "-" +
                         std::to_string(last));
    }
    void RowsAboutToBeRemoved(TQueueList, std::size_t, std::size_t) override { Events.push_back("remove"); }
    void RowAboutToBeMoved(TQueueList, std::size_t, std::size_t) override { Events.push_back("move"); }
    void ListAboutToBeReset(TQueueList) override { Events.push_back("reset"); }
    void RowsAboutToBeInserted(TQueueList, std::size_t, std::size_t) override { Events.push_back("insert"); }
};

struct TSortCase {
    const char* What;
    int Column;
    std::vector<TFinishedUploadJobData> Entries;
    std::vector<std::string> Expected;
};

TEST(FinishedSortTest, EachColumnSortsTheListItselfAscending) {
    const double t = 40036.5;
    const TSortCase cases[] = {
        {"name: folder ignored, a-z read as A-Z, so '_' sorts after every letter",
         fcFileName,
         {Entry("/z/beta.txt"), Entry("/y/a_x"), Entry("/x/Alpha.txt"), Entry("aBc"), Entry("/w/alpha.TXT")},
         {"aBc", "/x/Alpha.txt", "/w/alpha.TXT", "/y/a_x", "/z/beta.txt"}},
        {"size: numeric, 999 before 1,000",
         fcSize,
         {Entry("a", "", 1000), Entry("b", "", 999), Entry("c", "", 5), Entry("d", "", -1),
          Entry("e", "", 1LL << 40)},
         {"d", "c", "b", "a", "e"}},
        {"time: chronological; within the same millisecond the order stays",
         fcUploadTime,
         {Entry("late", "", 0, t + 1), Entry("same1", "", 0, t + 0.1 * kMs), Entry("early", "", 0, t - 1),
          Entry("same2", "", 0, t + 0.3 * kMs), Entry("next ms", "", 0, t + 1.2 * kMs),
          Entry("nan", "", 0, std::nan("")), Entry("inf", "", 0, std::numeric_limits<double>::infinity())},
         {"nan", "early", "same1", "same2", "next ms", "late", "inf"}},
    };
    for (const TSortCase& c : cases) {
        SCOPED_TRACE(c.What);
        TUploadQueue queue;
        Fill(queue, c.Entries);
        const std::vector<TJobId> ids = queue.FinishedIds();
        TRecorder recorder;
        queue.AddObserver(&recorder);
        SortFinishedList(queue, c.Column);
        EXPECT_EQ(Names(queue), c.Expected);
        // One change of every row, nothing removed, moved or reset: a view's selection marks stay
        // on the row positions.
        EXPECT_EQ(recorder.Events,
                  std::vector<std::string>{"changed 1 0-" + std::to_string(c.Entries.size() - 1)});
        // Ids stay with their records.
        for (size_t i = 0; i < c.Entries.size(); ++i)
            EXPECT_EQ(queue.FindFinished(ids[i])->FileName, c.Entries[i].FileName);
        // Sorting again is the same sort, not a reversal.
        SortFinishedList(queue, c.Column);
        EXPECT_EQ(Names(queue), c.Expected);
        queue.RemoveObserver(&recorder);
    }
}

TEST(FinishedSortTest, OtherColumnsAndAnEmptyListChangeNothing) {
    TUploadQueue queue;
    TRecorder recorder;
    queue.AddObserver(&recorder);
    SortFinishedList(queue, fcFileName);
    Fill(queue, {Entry("b"), Entry("a")});
    recorder.Events.clear();
    for (int column : {-1, 3, 100})
        SortFinishedList(queue, column);
    EXPECT_TRUE(recorder.Events.empty());
    EXPECT_EQ(Names(queue), (std::vector<std::string>{"b", "a"}));
    queue.RemoveObserver(&recorder);
}

// The clipboard texts, byte for byte.
TEST(FinishedLinksTest, ClipboardTexts) {
    TUploadQueue queue;
    Fill(queue, {Entry("/f/one", "download-link=http://d/1\r\nkill-link=http://k/1\r\nMD5=0123abcdef"),
                 Entry("/f/two", "download-link=http://d/2"),
                 Entry("/f/three", "download-link=http://d/3\r\nkill-link=http://k/3\r\nmd5=ffEE"),
                 Entry("/f/four", "")});
    // Rows come from a selection in any order; each row counts once; rows beyond the list none.
    const TRows rows = {2, 0, 1, 2, 9};
    EXPECT_EQ(DeleteLinksText(queue, rows), "http://k/1\r\n\r\nhttp://k/3\r\n");
    EXPECT_EQ(DownloadLinksText(queue, rows), "http://d/1\r\nhttp://d/2\r\nhttp://d/3\r\n");
    EXPECT_EQ(DownloadLinksText(queue, {3}), "\r\n");
    EXPECT_EQ(DownloadLinksAndMD5Text(queue, {0, 1}),
              "http://d/1\r\nMD5: 0123ABCDEF\r\n\r\nhttp://d/2\r\n\r\n");
    EXPECT_EQ(DownloadLinksAndMD5Text(queue, {2, 3}), "http://d/3\r\nMD5: FFEE\r\n\r\n\r\n\r\n");
    EXPECT_EQ(DownloadLinksText(queue, {}), "");
}

TEST(FinishedLinksTest, ExportModes) {
    const QLocale us(QLocale::English, QLocale::UnitedStates);
    TUploadQueue queue;
    const double end = QDateTimeToDateTime(QDateTime(QDate(2009, 8, 11), QTime(13, 2, 3)));
    Fill(queue, {Entry("/home/me/Report 1.doc", "download-link=http://d/1\r\nkill-link=http://k/1", 10, end),
                 Entry("/x/plain", "kill-link=http://k/2", 0,
                       QDateTimeToDateTime(QDateTime(QDate(2020, 1, 2), QTime(0, 0))))});
    const std::string hyphens(70, '-');
    ASSERT_EQ(hyphens.size(), 70u);
    EXPECT_EQ(
        ExportLinksText(queue, {0}, emAllDetails, us),
        "Date: 8/11/09 1:02:03 PM\r\nFile: Report 1.doc\r\nDownload: http://d/1\r\nKill: http://k/1\r\n" +
            hyphens + "\r\n");
    EXPECT_EQ(ExportLinksText(queue, {1}, emAllDetails, us),
              "Date: 1/2/20\r\nFile: plain\r\nDownload: \r\nKill: http://k/2\r\n" + hyphens + "\r\n");
    EXPECT_EQ(ExportLinksText(queue, {0, 1}, emDownloadLinks, us), "http://d/1\r\n\r\n");
    EXPECT_EQ(ExportLinksText(queue, {0, 1}, emDeleteLinks, us), "http://k/1\r\nhttp://k/2\r\n");
    EXPECT_EQ(ExportLinksText(queue, {}, emAllDetails, us), "");
    EXPECT_EQ(ExportLinksText(queue, {0}, 7, us), "");
}

TEST(FinishedLinksTest, UploadTimeText) {
    const QLocale us(QLocale::English, QLocale::UnitedStates);
    const QLocale c = QLocale::c();
    const double midnight = QDateTimeToDateTime(QDateTime(QDate(2021, 3, 4), QTime(0, 0)));
    EXPECT_EQ(UploadTimeText(midnight, us), "3/4/21");
    EXPECT_EQ(UploadTimeText(midnight + 1000 * kMs, us), "3/4/21 12:00:01 AM");
    EXPECT_EQ(UploadTimeText(midnight + 0.5 + 61000 * kMs, us), "3/4/21 12:01:01 PM");
    // No time-zone name, whatever the locale's long format holds.
    const std::string noon = UploadTimeText(midnight + 0.5, c);
    EXPECT_EQ(noon.substr(noon.size() - 9), " 12:00:00") << noon;
    EXPECT_EQ(UploadTimeText(std::nan(""), us), "");
    EXPECT_EQ(UploadTimeText(1e12, us), "");
}

// Locales whose long time format frames the zone: the frame goes with it, the rest stays.
TEST(FinishedLinksTest, UploadTimeTextDropsWhatFramedTheTimeZone) {
    const QDateTime moment(QDate(2021, 3, 4), QTime(13, 14, 15));
    const double when = QDateTimeToDateTime(moment);
    const struct {
        const char* Locale;
        const char* TimeFormat; // the locale's long format without the zone and its frame
    } cases[] = {
        {"en_US", "h:mm:ss AP"}, {"ca_ES", "H:mm:ss"},  {"nds_DE", "'Klock' H.mm:ss"},
        {"zh_TW", "Bh:mm:ss"},   {"be_BY", "HH:mm:ss"}, {"sq_AL", "h:mm:ss AP"},
        {"my_MM", "HH:mm:ss"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Locale);
        const QLocale locale(QString::fromLatin1(c.Locale));
        const QString expected = locale.toString(moment.date(), QLocale::ShortFormat) + QLatin1Char(' ') +
                                 locale.toString(moment.time(), QString::fromLatin1(c.TimeFormat));
        EXPECT_EQ(UploadTimeText(when, locale), expected.toStdString());
    }
    // Every locale Qt knows: no empty brackets and no dangling comma are left behind.
    for (const QLocale& locale :
         QLocale::matchingLocales(QLocale::AnyLanguage, QLocale::AnyScript, QLocale::AnyTerritory)) {
        const QString text = QString::fromStdString(UploadTimeText(when, locale));
        SCOPED_TRACE(locale.name().toStdString() + ": " + text.toStdString());
        EXPECT_FALSE(text.contains(QStringLiteral("()")) || text.contains(QStringLiteral("[]")) ||
                     text.contains(QStringLiteral("( )")) || text.contains(QStringLiteral("[ ]")));
        EXPECT_FALSE(text.endsWith(QLatin1Char(',')) || text.endsWith(QLatin1Char(' ')));
    }
}

TEST(FinishedLinksTest, CommandsAndTheirEnableRules) {
    ASSERT_EQ(LinkCommands.size(), 9u);
    for (size_t i = 0; i < LinkCommands.size(); ++i)
        EXPECT_EQ(LinkCommands[i].Command, static_cast<TLinkCommand>(i));
    EXPECT_STREQ(LinkCommands[lcCopyDownloadLinks].Shortcut, "Ctrl+C");
    EXPECT_STREQ(LinkCommands[lcDeleteSelected].Shortcut, "Delete");
    EXPECT_STREQ(LinkCommands[lcSelectAll].Shortcut, "Ctrl+A");
    EXPECT_STREQ(LinkCommands[lcMakeRenameScript].Name, "act_makerenamescript");
    struct TRule {
        TLinkCommand Command;
        bool Focus;
        size_t Selected, Entries;
        bool Enabled;
    };
    const TRule rules[] = {
        {lcCopyDownloadLinks, true, 1, 1, true},
        {lcCopyDownloadLinks, false, 1, 1, false},
        {lcCopyDownloadLinks, true, 0, 5, false},
        {lcCopyDeleteLinks, true, 2, 5, true},
        {lcExportAll, true, 0, 5, true},
        {lcExportDownloadLinks, true, 0, 0, false},
        {lcExportDeleteLinks, false, 3, 5, false},
        {lcMakeRenameScript, true, 0, 5, false},
        {lcMakeRenameScript, true, 1, 5, true},
        {lcDeleteSelected, true, 0, 5, false},
        {lcSelectAll, true, 0, 5, true},
        {lcSelectAll, true, 0, 0, false},
        {lcCopyDownloadLinksAndMD5, true, 1, 1, true},
    };
    for (const TRule& r : rules)
        EXPECT_EQ(LinkCommandEnabled(r.Command, r.Focus, r.Selected, r.Entries), r.Enabled)
            << LinkCommands[r.Command].Name << " focus " << r.Focus << " selected " << r.Selected;
    EXPECT_FALSE(LinkCommandEnabled(static_cast<TLinkCommand>(9), true, 1, 1));
}

std::string ReadAll(const std::string& path) {
    QFile f(QString::fromStdString(path));
    EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << path;
    return f.readAll().toStdString();
}

unsigned ModeOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0);
    return st.st_mode & 07777;
}

TEST(ExportFileTest, WritesWholeFilesAndKeepsAnExistingFilesPermissions) {
    const std::string dir = test::MakeScratchDir(QStringLiteral("export")).toStdString();
    const std::string path = dir + "/links.txt";
    const mode_t old = ::umask(027);
    WriteExportFile(path, "a\r\nb\r\n");
    ::umask(old);
    EXPECT_EQ(ReadAll(path), "a\r\nb\r\n");
    EXPECT_EQ(ModeOf(path), 0640u);
    ASSERT_EQ(::chmod(path.c_str(), 0604), 0);
    WriteExportFile(path, ""); // nothing selected: an empty file
    EXPECT_EQ(ReadAll(path), "");
    EXPECT_EQ(ModeOf(path), 0604u);
    // A link is followed: its target gets the text, the link stays a link.
    const std::string link = dir + "/link.txt";
    ASSERT_EQ(::symlink(path.c_str(), link.c_str()), 0);
    WriteExportFile(link, "via link");
    EXPECT_EQ(ReadAll(path), "via link");
    struct stat st {};
    ASSERT_EQ(::lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    // No temporary file is left beside them.
    EXPECT_EQ(QDir(QString::fromStdString(dir)).entryList(QDir::Files | QDir::System).size(), 2);
}

TEST(ExportFileTest, AFailureNamesTheFileAndTheReasonAndLeavesTheOldFile) {
    const std::string dir = test::MakeScratchDir(QStringLiteral("export")).toStdString();
    const std::vector<std::pair<std::string, std::string>> cases = {
        {dir + "/no such folder/links.txt", "No such file or directory"},
        {dir, "Is a directory"},
    };
    for (const auto& [path, reason] : cases) {
        try {
            WriteExportFile(path, "text");
            ADD_FAILURE() << "no error for " << path;
        } catch (const EFileWriteError& e) {
            const std::string message = e.what();
            EXPECT_NE(message.find("\"" + path + "\""), std::string::npos) << message;
            EXPECT_NE(message.find(reason), std::string::npos) << message;
        }
    }
    EXPECT_TRUE(QDir(QString::fromStdString(dir)).exists());
}

} // namespace
