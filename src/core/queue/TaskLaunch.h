#pragma once
// The scheduler's side of the upload engine: creating a task's upload thread by method name,
// starting it with the task's file and resume data, and turning the thread's Info lines into the
// texts a task keeps. Kept apart so that the scheduler's walks read without engine details.

#include "core/engine/InternetThread.h"
#include "core/queue/UploadJob.h"

#include <string>

namespace quillo {

// The thread of the method registered under Method (exact, case-sensitive name) with the task
// as its Data; an empty handle when no method of that name is registered.
TUploaderHandle CreateTaskUploader(const std::string& Method, TUploadJobData* Task,
                                   TInternetThreadEventHandler OnEvent);

// Applies the write size and time-outs (bytes, milliseconds), then starts the upload of the
// task's file under its upload name with its resume data. Raises what StartUpload raises (a file
// that exists but cannot be opened, ...).
void StartTaskUploader(TUploader& Uploader, const TUploadJobData& Task, int32_t SendBufferSize,
                       int32_t ConnectTimeout, int32_t ReadTimeout);

// The error text of a launch whose method has no registered uploader.
std::string UnknownMethodMessage(const std::string& Method);

// The uploader's Info lines as one text, each line ending with CR LF (resume data).
std::string UploaderInfoText(const TInternetThread& Thread);
// The same without the "signature" lines: the result a finished upload keeps.
std::string UploaderResultText(const TInternetThread& Thread);

} // namespace quillo
