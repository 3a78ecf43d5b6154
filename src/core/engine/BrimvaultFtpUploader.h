#pragma once
// TBrimvaultFtpUploader, the "FTP Method": stores the file in the user's account on an upload
// server over FTP, continuing a broken upload where the server's copy ends, then asks the same
// server over HTTP to "commit" it, which answers with the download and delete links. The server
// is chosen once per task and kept in Info["upserver"], so a restarted task resumes there.

#include "core/engine/Uploader.h"

#include <cstdint>
#include <string>

namespace quillo {

class TBrimvaultFtpUploader final : public TUploader {
public:
    TBrimvaultFtpUploader(void* Data, TInternetThreadEventHandler OnEvent);
    ~TBrimvaultFtpUploader() override;

protected:
    void DoWork() override;

private:
    // Makes the next attempt delete the server's copy and store the whole file again.
    void ForgetPartialCopy();
};

// The Info["signature"] value that matches no file: the next attempt starts the upload over.
inline constexpr const char* RestartSignature = "restart";

// The FTP port of the upload servers: 21, or the QUILLO_FTP_PORT environment variable when it
// holds a number 1..65535 (the stand-in service and the demo run FTP on a loopback port).
int BrimvaultFtpPort();

// The FTP host of an upload server entry: the entry without its ":port" (which is the HTTP
// port), "[::1]:8080" giving "::1".
std::string FtpHostOfServer(const std::string& Server);

// How a store continues, given whether the server is new for this task, the SIZE result
// (size; -1 no such file; 0 also when SIZE failed) and the local file's size.
struct TFtpResumePlan {
    bool Delete = false; // DELE first (failures ignored)
    bool Append = false; // APPE from Offset, else STOR of the whole file
    int64_t Offset = 0;
};
TFtpResumePlan PlanFtpResume(bool NewServer, int64_t RemoteSize, int64_t LocalSize);

} // namespace quillo
