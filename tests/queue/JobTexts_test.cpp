#include "core/queue/JobTexts.h"

#include "core/app/MyUtils.h"
#include "core/l10n/ResMessages.h"

#include <QDateTime>
#include <QLocale>
#include <gtest/gtest.h>

#include <limits>

namespace quillo {
namespace {

TEST(JobTexts, StateTextOfEveryState) {
    struct Case {
        TJobState State;
        int Percent;
        std::string Text;
    } cases[] = {
        {jsQueued, 0, "Queued"},
        {jsDelayed, 0, "Delayed"},
        {jsUploading, 42, "Uploading (42%)"},
        {jsUploading, 0, "Uploading (0%)"},
        {jsFinished, 0, "Finished"},
        {jsError, 0, "ERROR"},
        {TJobState(5), 0, ""},
    };
    for (const Case& c : cases) {
        TUploadJobData task;
        task.State = c.State;
        task.Percent = c.Percent;
        EXPECT_EQ(TaskStateText(task), c.Text) << int(c.State);
    }
}

TEST(JobTexts, ShownNameIsTheLocalFileNameEvenWithAnUploadName) {
    TFinishedUploadJobData f;
    f.FileName = "/home/user/holiday/movie.avi";
    f.UploadName = "Kqwe.avi";
    EXPECT_EQ(FinishedShownName(f), "movie.avi");
}

TEST(JobTexts, UploadTimeLeavesOutMidnightAndTheTimeZone) {
    const QLocale locale = QLocale::system();
    const QDate day(2026, 3, 4);
    const std::string date = locale.toString(day, QLocale::ShortFormat).toStdString();
    struct Case {
        QTime Time;
        bool WithTime;
    } cases[] = {
        {QTime(0, 0), false}, {QTime(0, 0, 1), true}, {QTime(13, 14, 15), true}, {QTime(23, 59, 59), true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Time.toString().toStdString());
        const std::string text = UploadTimeText(QDateTimeToDateTime(QDateTime(day, c.Time)));
        if (!c.WithTime) {
            EXPECT_EQ(text, date);
            continue;
        }
        ASSERT_EQ(text.rfind(date + " ", 0), 0u) << text;
        const QString time = QString::fromStdString(text.substr(date.size() + 1));
        EXPECT_TRUE(time.contains(QString::number(c.Time.second()).rightJustified(2, QLatin1Char('0'))))
            << text;
        EXPECT_FALSE(time.contains(QStringLiteral("UTC"))) << text;
        EXPECT_EQ(time, time.trimmed());
    }
    EXPECT_EQ(UploadTimeText(std::numeric_limits<double>::quiet_NaN()), "");
}

} // namespace
} // namespace quillo
