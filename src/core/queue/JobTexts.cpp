#include "core/queue/JobTexts.h"

#include "core/app/MyUtils.h"
#include "core/l10n/ResMessages.h"
#include "core/queue/FinishedLinks.h"

#include <QLocale>

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
    return ShownName(Finished);
}

std::string UploadTimeText(double EndTime) {
    // The list shows what the link exports write, in the locale of the session.
    return UploadTimeText(EndTime, QLocale::system());
}

} // namespace quillo
