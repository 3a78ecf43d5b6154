#include "core/queue/JobTexts.h"

#include "core/app/MyUtils.h"
#include "core/l10n/ResMessages.h"

#include <QDateTime>
#include <QLocale>
#include <QRegularExpression>

#include <cstdint>

namespace quillo {

std::string TaskStateText(const TUploadJobData& Task) {
    switch (Task.State) {
    case jsQueued:
        return ResString(rmStateQueued);
    case jsDelayed:
        return ResString(rmStateDelayed);
    case jsUploading:
        return FormatText(ResString(rmStateUploadingPercent), {int64_t(Task.Percent)});
    case jsFinished:
        return ResString(rmStateFinished);
    case jsError:
        return ResString(rmStateError);
    }
    return {};
}

std::string FinishedShownName(const TFinishedUploadJobData& Finished) {
    return ExtractFileName(Finished.FileName);
}

namespace {

// The locale's long time format names the time zone ("t", "tttt"); a list of upload times reads
// better without it, as a clock on the wall does.
QString LongTimeFormatWithoutZone(const QLocale& Locale) {
    static const QRegularExpression zone(QStringLiteral("\\s*t+\\s*"));
    QString format = Locale.timeFormat(QLocale::LongFormat);
    format.replace(zone, QStringLiteral(" "));
    return format.trimmed();
}

} // namespace

std::string UploadTimeText(double EndTime) {
    const QDateTime when = DateTimeToQDateTime(EndTime);
    if (!when.isValid())
        return {};
    const QLocale locale = QLocale::system();
    QString text = locale.toString(when.date(), QLocale::ShortFormat);
    if (when.time() != QTime(0, 0))
        text += QLatin1Char(' ') + locale.toString(when.time(), LongTimeFormatWithoutZone(locale));
    return text.toStdString();
}

} // namespace quillo
