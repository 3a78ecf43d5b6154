#include "FakeUploader.h"

#include "core/engine/PluginManager.h"

#include <algorithm>
#include <chrono>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

namespace quillo::test {

namespace {

std::mutex gLock;
std::map<std::string, TFakeOutcome> gOutcomes;
int gAbortDelayMs = 0;

TFakeOutcome OutcomeOf(const std::string& fileName) {
    std::lock_guard<std::mutex> lock(gLock);
    auto it = gOutcomes.find(fileName);
    return it == gOutcomes.end() ? foPending : it->second;
}

class TFakeUploader final : public TUploader {
public:
    TFakeUploader(void* Data, TInternetThreadEventHandler OnEvent) : TUploader(Data, std::move(OnEvent)) {}
    ~TFakeUploader() override { Stop(true); }

protected:
    void DoWork() override {
        SetStatusText("Uploading file...");
        for (;;) {
            if (AbortRequested()) {
                int delay;
                {
                    std::lock_guard<std::mutex> lock(gLock);
                    delay = gAbortDelayMs;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(delay));
                throw EAbortedByUser();
            }
            switch (OutcomeOf(FileName())) {
            case foSucceed:
                Info.SetValue("download-link", "http://127.0.0.1/dl/" + UploadName());
                Info.SetValue("signature", "0123");
                Info.SetValue("kill-link", "http://127.0.0.1/kill/" + UploadName());
                return;
            case foFail:
                throw EITError("The fake server refused the file");
            case foPending:
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }
};

} // namespace

void SetFakeOutcome(const std::string& FileName, TFakeOutcome Outcome) {
    std::lock_guard<std::mutex> lock(gLock);
    gOutcomes[FileName] = Outcome;
}

void SetFakeAbortDelayMs(int Ms) {
    std::lock_guard<std::mutex> lock(gLock);
    gAbortDelayMs = Ms;
}

void ResetFakeUploads() {
    std::lock_guard<std::mutex> lock(gLock);
    gOutcomes.clear();
    gAbortDelayMs = 0;
}

// Idempotent, and registers again after a test has put the registry back to the built-in methods.
void EnsureFakeMethodRegistered() {
    RegisterBuiltinUploaders();
    const std::vector<std::string> names = UploaderNames();
    if (std::find(names.begin(), names.end(), FakeMethodName) == names.end())
        RegisterUploader(FakeMethodName, UploaderClassOf<TFakeUploader>());
}

} // namespace quillo::test
