#pragma once
// Helpers of the upload engine's tests: an event recorder standing in for the scheduler's
// handler, a worker whose attempt is a lambda, waiting while serving the event loop, settings
// changes, and scratch files.

#include "core/app/Settings.h"
#include "core/engine/BrimvaultHttpUploader.h"
#include "core/engine/InternetThread.h"
#include "core/engine/Uploader.h"
#include "support/BrimvaultService.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTimer>

#include <functional>
#include <string>
#include <vector>

namespace quillo::test {

// What the scheduler would see: every event with the readers' values at that moment.
struct TRecordedEvent {
    TInternetThreadEvent Event;
    TInternetThreadState State;
    std::string StateText;
    int64_t BytesDone;
    int64_t BytesTotal;
    int32_t Percent;
    int32_t RemainingMs;
    TInternetThreadResult Result;
    std::string ErrorText;
};

struct TEventRecorder {
    std::vector<TRecordedEvent> Events;
    int FinishedCount = 0;
    std::function<void(TInternetThread&, TInternetThreadEvent)> Extra;

    TInternetThreadEventHandler Handler() {
        return [this](TInternetThread& T, TInternetThreadEvent E) {
            Events.push_back({E, T.State(), T.StateText(), T.BytesDone(), T.BytesTotal(), T.Percent(),
                              T.TransferRemainingMs(), T.WorkResult(), T.ErrorText()});
            if (E == ieFinished)
                ++FinishedCount;
            if (Extra)
                Extra(T, E);
        };
    }
    int Count(TInternetThreadEvent E) const {
        int N = 0;
        for (const auto& R : Events)
            N += R.Event == E ? 1 : 0;
        return N;
    }
    std::vector<TRecordedEvent> ProgressEvents() const {
        std::vector<TRecordedEvent> Progress;
        for (const auto& R : Events) {
            if (R.Event == ieProgress)
                Progress.push_back(R);
        }
        return Progress;
    }
    std::vector<std::string> StatusTexts() const {
        std::vector<std::string> Texts;
        for (const auto& R : Events) {
            if (R.Event == ieStatusText)
                Texts.push_back(R.StateText);
        }
        return Texts;
    }
};

// Serves the event loop until Done() or the time-out.
inline bool WaitUntil(const std::function<bool()>& Done, int TimeoutMs = 20000) {
    QElapsedTimer Timer;
    Timer.start();
    while (!Done()) {
        if (Timer.elapsed() > TimeoutMs)
            return false;
        QEventLoop Loop;
        QTimer::singleShot(5, &Loop, &QEventLoop::quit);
        Loop.exec();
    }
    return true;
}

// A worker whose attempt is a lambda; the lambda may use the protected helpers via the wrappers.
class TScriptedThread final : public TInternetThread {
public:
    TScriptedThread(TInternetThreadEventHandler OnEvent) : TInternetThread(nullptr, std::move(OnEvent)) {}
    ~TScriptedThread() override { Stop(true); }
    std::function<void(TScriptedThread&)> Work;
    void Status(const std::string& Text) { SetStatusText(Text); }
    void Progress(int64_t Total, const std::vector<int64_t>& Steps, int64_t BaseOffset = 0) {
        BeginTransferTracking(BaseOffset);
        TransferWorkBegin(Total);
        for (const int64_t S : Steps)
            TransferWork(S);
        TransferWorkEnd();
    }
    bool Aborted() const { return AbortRequested(); }

protected:
    void DoWork() override {
        if (Work)
            Work(*this);
    }
};

// An uploader whose attempt is a lambda (for the shared steps of TUploader).
class TScriptedUploader final : public TUploader {
public:
    TScriptedUploader(TInternetThreadEventHandler OnEvent) : TUploader(nullptr, std::move(OnEvent)) {}
    ~TScriptedUploader() override { Stop(true); }
    std::function<void(TScriptedUploader&)> Work;
    TIdHTTPEx& Http() { return HttpClient(); }
    TFtpClient& Ftp() { return FtpClient(); }

protected:
    void DoWork() override {
        if (Work)
            Work(*this);
    }
};

inline void ChangeSettings(const std::function<void(TAppSettings&)>& Change) {
    UpdateSettings(Change);
}

// Restores the settings the engine tests rely on.
inline void ResetEngineSettings() {
    UpdateSettings([](TAppSettings& S) { S = TAppSettings(); });
}

// A suite of uploads against one stand-in service, started once by StartService from the suite's
// SetUpTestSuite. Every test begins with the default settings, no cached server list, no faults and
// an empty log, with QUILLO_SITE naming the service.
class TServiceUploadTest : public ::testing::Test {
protected:
    static void StartService(const TBrimvaultServiceOptions& Options = {}) {
        Service = new TBrimvaultService();
        ASSERT_TRUE(Service->Start(Options)) << Service->ErrorText().toStdString();
    }
    static void TearDownTestSuite() {
        delete Service;
        Service = nullptr;
    }
    void SetUp() override {
        ASSERT_TRUE(Service && Service->IsRunning());
        ::setenv("QUILLO_SITE", Service->SiteHost().toUtf8().constData(), 1);
        ResetEngineSettings();
        ClearUploadServerCache();
        ASSERT_TRUE(Service->ResetFaults());
        ASSERT_TRUE(Service->ClearLog());
    }
    void TearDown() override {
        ResetEngineSettings();
        ::unsetenv("QUILLO_SITE");
    }

    inline static TBrimvaultService* Service = nullptr;
};

// A scratch file of `Size` bytes with a repeating, position-dependent pattern.
inline std::string MakeFile(const std::string& Name, int64_t Size) {
    const std::string Path = (MakeScratchDir(QStringLiteral("files")) + "/").toStdString() + Name;
    QFile File(QString::fromStdString(Path));
    File.open(QIODevice::WriteOnly);
    QByteArray Block(1 << 16, 0);
    for (int I = 0; I < Block.size(); ++I)
        Block[I] = static_cast<char>((I * 7 + 13) & 0xFF);
    int64_t Left = Size;
    while (Left > 0) {
        const int64_t N = std::min<int64_t>(Left, Block.size());
        File.write(Block.constData(), N);
        Left -= N;
    }
    File.close();
    return Path;
}

} // namespace quillo::test
