// HTTP upload of a large file through the engine (TBrimvaultHttpUploader: server list, multipart
// post streamed from disk, progress events to this thread) against the stand-in service on
// loopback, next to curl posting the same form to the same server in the same run. Prints the
// throughput of both, their ratio, and the peak memory of the engine's process and of curl. Then
// the same with "CalculateMD5" on: the engine's whole task (the MD5 taken from the bytes as they
// go out) against curl's upload followed by `md5sum` of the file, one after the other, with the
// best ratio that overlapping the two could give (the longer of the two over their sum). The
// processor time per upload of this process, of curl and of the stand-in (a Python server whose
// request thread parses, hashes and stores the form, and is often the bottleneck itself) shows
// where the time goes.
//
//   bench_engine_upload [--size BYTES] [--rounds N] [--write-size BYTES]
//
// Runs in a throw-away environment (scratch home, loopback only). Not a pass/fail test.
#include "common/BenchSupport.h"
#include "core/app/Settings.h"
#include "core/engine/BrimvaultHttpUploader.h"
#include "support/BrimvaultService.h"
#include "support/TestEnvironment.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonObject>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

using namespace quillo;
using namespace quillo::test;
using namespace quillo::bench;

namespace {

// curl posting the same four fields; its peak memory from wait4.
TTimedRun RunCurl(const std::string& Url, const std::string& File) {
    const std::string Form = "FILE1=@" + File + ";type=application/octet-stream";
    return RunTimedChild({"/usr/bin/curl", "-s", "-o", "/dev/null", "-w", "%{http_code}", "--noproxy", "*",
                          "-H", "Expect:", "-F", "group_name=soft", "-F", "mode=soft", "-F", "wmid=a::", "-F",
                          Form, Url});
}

TTimedRun RunEngine(const std::string& File, int32_t WriteSize, int& ProgressEvents, int& Attempts) {
    TTimedRun Run;
    QEventLoop Loop;
    ProgressEvents = 0;
    TBrimvaultHttpUploader Uploader(nullptr, [&](TInternetThread&, TInternetThreadEvent Event) {
        if (Event == ieProgress)
            ++ProgressEvents;
        if (Event == ieFinished)
            Loop.quit();
    });
    Uploader.SetSendBufferSize(WriteSize);
    Uploader.SetConnectTimeout(30000);
    QElapsedTimer Timer;
    Timer.start();
    Uploader.StartUpload(File, "", "", "");
    Loop.exec();
    Run.Seconds = Timer.nsecsElapsed() / 1e9;
    Run.Ok = Uploader.WorkResult() == trSuccess;
    Attempts = Uploader.Attempts();
    if (!Run.Ok)
        std::fprintf(stderr, "engine upload failed: %s\n", Uploader.ErrorText().c_str());
    Run.PeakKb = PeakRssKb();
    return Run;
}

// The stand-in keeps every upload; drop the last one so the disk does not fill up.
void RemoveStoredUploads(TBrimvaultService& Service) {
    for (const QJsonObject& Entry : Service.HttpRequests(QStringLiteral("/cgi-bin/upload.cgi"))) {
        const QString Path = Entry[QStringLiteral("stored")].toObject()[QStringLiteral("path")].toString();
        if (!Path.isEmpty())
            QFile::remove(Path);
    }
    Service.ClearLog();
}

} // namespace

int main(int argc, char** argv) {
    InstallTestEnvironment();
    QCoreApplication App(argc, argv);
    int64_t Size = MaxUploadSize;
    int Rounds = 3;
    int32_t WriteSize = 8 * 1024; // the settings' default SendBufferSize
    for (int I = 1; I + 1 < argc; I += 2) {
        const std::string Key = argv[I];
        if (Key == "--size")
            Size = std::atoll(argv[I + 1]);
        else if (Key == "--rounds")
            Rounds = std::max(1, std::atoi(argv[I + 1]));
        else if (Key == "--write-size")
            WriteSize = std::atoi(argv[I + 1]);
    }

    TBrimvaultService Service;
    if (!Service.Start()) {
        std::fprintf(stderr, "cannot start the stand-in service: %s\n",
                     Service.ErrorText().toUtf8().constData());
        return 1;
    }
    ::setenv("QUILLO_SITE", Service.SiteHost().toUtf8().constData(), 1);
    UpdateSettings([](TAppSettings& S) {
        S.UploadManager.CalculateMD5 = false; // curl does not hash either
        S.UploadManager.RetryCount = 1;
    });

    const std::string File =
        (MakeScratchDir(QStringLiteral("bench")) + QStringLiteral("/upload.bin")).toStdString();
    if (!WriteBenchFile(QString::fromStdString(File), Size)) {
        std::fprintf(stderr, "cannot write %s\n", File.c_str());
        return 1;
    }
    const long BaselineKiB = PeakRssKb();

    std::printf("HTTP upload of %lld bytes to the stand-in service (loopback), write size %d, %d rounds\n",
                static_cast<long long>(Size), WriteSize, Rounds);
    std::vector<double> CurlTimes, EngineTimes, CurlCpu, EngineCpu, ServerForCurl, ServerForEngine;
    long CurlPeak = 0, EnginePeak = 0;
    int Progress = 0, Attempts = 0;
    for (int R = 0; R < Rounds; ++R) {
        TTimedRun C, E;
        const TCpuSpent CC = MeasureCpu(true, [&] { C = RunCurl(Service.UploadUrl().toStdString(), File); });
        RemoveStoredUploads(Service);
        const TCpuSpent EC = MeasureCpu(false, [&] { E = RunEngine(File, WriteSize, Progress, Attempts); });
        RemoveStoredUploads(Service);
        CurlCpu.push_back(CC.ClientMs);
        ServerForCurl.push_back(CC.ServerMs);
        EngineCpu.push_back(EC.ClientMs);
        ServerForEngine.push_back(EC.ServerMs);
        if (!C.Ok || !E.Ok) {
            std::fprintf(stderr, "round %d failed (curl %s, engine %s)\n", R + 1, C.Ok ? "ok" : "failed",
                         E.Ok ? "ok" : "failed");
            return 1;
        }
        CurlTimes.push_back(C.Seconds);
        EngineTimes.push_back(E.Seconds);
        CurlPeak = std::max(CurlPeak, C.PeakKb);
        EnginePeak = std::max(EnginePeak, E.PeakKb);
        std::printf("round %d: curl %.2f s (%.1f MB/s)   engine %.2f s (%.1f MB/s), %d progress events, %d "
                    "attempt(s)\n",
                    R + 1, C.Seconds, Size / C.Seconds / 1048576, E.Seconds, Size / E.Seconds / 1048576,
                    Progress, Attempts);
    }
    const double CurlRate = Size / Median(CurlTimes) / 1048576;
    const double EngineRate = Size / Median(EngineTimes) / 1048576;
    std::printf("median throughput: curl %.1f MB/s, engine %.1f MB/s, engine/curl ratio %.2f\n", CurlRate,
                EngineRate, EngineRate / CurlRate);
    std::printf("median processor time per upload: curl %.0f ms, engine process %.0f ms; the stand-in %.0f ms "
                "serving curl, %.0f ms serving the engine\n",
                Median(CurlCpu), Median(EngineCpu), Median(ServerForCurl), Median(ServerForEngine));
    std::printf("peak memory: engine process %.1f MiB (%.1f MiB before the first upload), curl %.1f MiB\n",
                EnginePeak / 1024.0, BaselineKiB / 1024.0, CurlPeak / 1024.0);

    UpdateSettings([](TAppSettings& S) { S.UploadManager.CalculateMD5 = true; });
    std::printf("with CalculateMD5: the engine's task against curl's upload followed by md5sum\n");
    std::vector<double> Md5Ratios, Md5Engine, Md5Reference, BestRatios, Md5EngineCpu, Md5ServerCpu;
    for (int R = 0; R < Rounds; ++R) {
        const TTimedRun C = RunCurl(Service.UploadUrl().toStdString(), File);
        RemoveStoredUploads(Service);
        const TTimedRun M = RunTimedChild({"/usr/bin/md5sum", File});
        TTimedRun E;
        const TCpuSpent EC = MeasureCpu(false, [&] { E = RunEngine(File, WriteSize, Progress, Attempts); });
        RemoveStoredUploads(Service);
        Md5EngineCpu.push_back(EC.ClientMs);
        Md5ServerCpu.push_back(EC.ServerMs);
        if (!C.Ok || !M.Ok || !E.Ok) {
            std::fprintf(stderr, "round %d with MD5 failed\n", R + 1);
            return 1;
        }
        const double Reference = C.Seconds + M.Seconds;
        Md5Engine.push_back(E.Seconds);
        Md5Reference.push_back(Reference);
        Md5Ratios.push_back(E.Seconds / Reference);
        BestRatios.push_back(std::max(C.Seconds, M.Seconds) / Reference);
        std::printf("round %d: engine with MD5 %.2f s, curl %.2f s + md5sum %.2f s = %.2f s, ratio %.2f\n",
                    R + 1, E.Seconds, C.Seconds, M.Seconds, Reference, Md5Ratios.back());
    }
    std::printf("median with MD5: engine %.2f s, curl + md5sum %.2f s; median of the rounds' ratios %.2f "
                "(goal <= 0.6)\n",
                Median(Md5Engine), Median(Md5Reference), Median(Md5Ratios));
    std::printf("median best ratio with the two overlapped perfectly (the longer over the sum): %.2f\n",
                Median(BestRatios));
    std::printf("median processor time per upload with MD5: engine process %.0f ms, the stand-in %.0f ms\n",
                Median(Md5EngineCpu), Median(Md5ServerCpu));
    return 0;
}
