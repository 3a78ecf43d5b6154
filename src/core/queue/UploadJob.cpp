#include "core/queue/UploadJob.h"

#include "core/app/MyUtils.h"

namespace quillo {

std::string EffectiveUploadName(const TUploadJobData& task) {
    return task.UploadName.empty() ? ExtractFileName(task.FileName) : task.UploadName;
}

TFinishedUploadJobData MakeFinishedRecord(const TUploadJobData& task) {
    TFinishedUploadJobData r;
    r.FileName = task.FileName;
    r.FileSize = task.FileSize;
    r.UploadName = task.UploadName;
    r.Description = task.Description;
    r.Method = task.Method;
    r.StartTime = task.StartTime;
    r.EndTime = task.EndTime;
    r.Result = task.StatusText;
    return r;
}

} // namespace quillo
