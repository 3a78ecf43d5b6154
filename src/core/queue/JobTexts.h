#pragma once
// The texts under which tasks and finished uploads are shown to the user: in the task list, the
// finished list, the details panel, link exports and the headless front end's listings. One
// place, so the window and quillo-cli never disagree about what a state or a time reads.

#include "core/queue/UploadJob.h"

#include <string>

namespace quillo {

// "Queued", "Delayed", "Uploading (42%)", "Finished", "ERROR" (numbered messages, translated);
// a state byte outside 0..4 gives an empty text.
std::string TaskStateText(const TUploadJobData& Task);

// The name a finished upload is listed under: the file-name part of its FileName.
std::string FinishedShownName(const TFinishedUploadJobData& Finished);

// EndTime written in the user's short date format, a blank and the long time format (without a
// time-zone name); the time is left out when it is exactly midnight. A date-time that is no
// valid date gives an empty text.
std::string UploadTimeText(double EndTime);

} // namespace quillo
