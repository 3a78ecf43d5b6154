#include "core/queue/TaskLaunch.h"

#include "core/engine/PluginManager.h"
#include "core/engine/Uploader.h"

namespace quillo {

namespace {
void DestroyUploader(TUploader* Uploader) {
    delete Uploader;
}

const TUploader* AsUploader(const TInternetThread& Thread) {
    return dynamic_cast<const TUploader*>(&Thread);
}
} // namespace

TUploaderHandle CreateTaskUploader(const std::string& Method, TUploadJobData* Task,
                                   TInternetThreadEventHandler OnEvent) {
    auto uploader = CreateUploader(Method, Task, std::move(OnEvent));
    return TUploaderHandle(uploader.release(), TUploaderDeleter{&DestroyUploader});
}

void StartTaskUploader(TUploader& Uploader, const TUploadJobData& Task, int32_t SendBufferSize,
                       int32_t ConnectTimeout, int32_t ReadTimeout) {
    Uploader.SetSendBufferSize(SendBufferSize);
    Uploader.SetConnectTimeout(ConnectTimeout);
    Uploader.SetReadTimeout(ReadTimeout);
    Uploader.StartUpload(Task.FileName, Task.UploadName, Task.Description, Task.ResumeInfo);
}

std::string UnknownMethodMessage(const std::string& Method) {
    return "There is no upload method named \"" + Method + "\"";
}

std::string UploaderInfoText(const TInternetThread& Thread) {
    const TUploader* uploader = AsUploader(Thread);
    return uploader ? uploader->Info.Text() : std::string();
}

std::string UploaderResultText(const TInternetThread& Thread) {
    const TUploader* uploader = AsUploader(Thread);
    if (!uploader)
        return std::string();
    TUploadInfo info = uploader->Info;
    while (info.Has("signature"))
        info.Remove("signature");
    return info.Text();
}

} // namespace quillo
