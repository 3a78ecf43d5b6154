#include "core/queue/UploadJob.h"

namespace quillo {

std::string JobFileNamePart(const std::string& fileName) {
    const std::size_t slash = fileName.find_last_of('/');
    return slash == std::string::npos ? fileName : fileName.substr(slash + 1);
}

std::string EffectiveUploadName(const TUploadJobData& task) {
    return task.UploadName.empty() ? JobFileNamePart(task.FileName) : task.UploadName;
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
