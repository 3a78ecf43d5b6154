#include "core/engine/BrimvaultFtpUploader.h"

#include "core/app/MyUtils.h"
#include "core/app/Settings.h"
#include "core/engine/BrimvaultHttpUploader.h"
#include "core/engine/ServiceSite.h"
#include "core/l10n/ResMessages.h"
#include "core/net/FileStreamers.h"
#include "core/net/FtpClient.h"
#include "core/net/IdHTTPEx.h"
#include "core/net/NetErrors.h"

#include <cstdlib>

namespace quillo {

int BrimvaultFtpPort() {
    const char* Text = std::getenv("QUILLO_FTP_PORT");
    int32_t Port = 0;
    if (Text && TryStrToIntDecimal(Text, Port) && Port > 0 && Port < 65536)
        return Port;
    return 21;
}

std::string FtpHostOfServer(const std::string& Server) {
    if (!Server.empty() && Server.front() == '[') {
        const size_t Close = Server.find(']');
        return Close == std::string::npos ? Server : Server.substr(1, Close - 1);
    }
    return Server.substr(0, Server.find(':'));
}

TFtpResumePlan PlanFtpResume(bool NewServer, int64_t RemoteSize, int64_t LocalSize) {
    TFtpResumePlan Plan;
    // A new server may hold a stale file of the same name; an empty remote file (or a SIZE that
    // failed) is not worth appending to.
    Plan.Delete = NewServer || RemoteSize == 0;
    if (!NewServer && RemoteSize > 0) {
        if (RemoteSize <= LocalSize) {
            Plan.Append = true;
            Plan.Offset = RemoteSize;
        } else {
            // A remote copy longer than the file cannot be a prefix of it: appending nothing
            // would leave a different file on the server under this name and commit it as this
            // one. Start over instead.
            Plan.Delete = true;
        }
    }
    return Plan;
}

TBrimvaultFtpUploader::TBrimvaultFtpUploader(void* Data, TInternetThreadEventHandler OnEvent)
    : TUploader(Data, std::move(OnEvent)) {}

// The worker may be inside DoWork: stop it before this object's part is gone.
TBrimvaultFtpUploader::~TBrimvaultFtpUploader() {
    Stop(true);
}

namespace {

// Names and credentials travel inside FTP command lines; a line break or NUL in them would end
// the command early and run the rest as a command of its own.
void CheckFtpText(const std::string& Value, const std::string& What) {
    try {
        CheckFtpArgument(Value, What);
    } catch (const EFtpInvalidArgument& E) {
        throw EITError(E.what());
    }
}

} // namespace

void TBrimvaultFtpUploader::DoWork() {
    CheckMaxFileSize(MaxUploadSize);
    const TBrimvaultSettings Account = SettingsSnapshot().Brimvault;
    if (!Account.UseAccount)
        throw EITError(ResString(rmNoAnonymousUpload));
    CheckFtpText(UploadName(), "upload name");
    CheckFtpText(Account.UserName, "account user name");
    CheckFtpText(Account.Password, "account password");

    HttpClient().Request.Referer = ServiceRootUrl();

    std::string Server = Info.Value("upserver");
    // The resume data comes from the jobs file; a server entry that is not a plain host would
    // rewrite the commit request, so it is dropped and a server chosen anew.
    if (!Server.empty() && !IsPlainHost(Server))
        Server.clear();
    bool NewServer = false;
    if (Server.empty()) {
        SetStatusText(ResString(rmLookingForServer));
        Server = ChooseUploadServer(HttpClient(), [this] { return AbortRequested(); });
        CheckAborted();
        Info.SetValue("upserver", Server);
        NewServer = true;
    }

    SetStatusText(ResString(rmLoggingIn));
    TFtpClient& Ftp = FtpClient();
    Ftp.Host = FtpHostOfServer(Server);
    Ftp.Port = BrimvaultFtpPort();
    Ftp.Username = Account.UserName;
    Ftp.Password = Account.Password;
    Ftp.Connect();
    Ftp.SetBinary();

    int64_t Remote = 0;
    try {
        Remote = Ftp.Size(UploadName());
    } catch (const EAbortedError&) {
        throw;
    } catch (const ENetworkError&) {
        Remote = 0; // the command itself failed
    }

    // The server's copy may only be continued with bytes of the same file: when the resume data
    // says it was made from a file other than the one there now (changed, replaced, or a commit
    // refused it), it is treated like a copy on a new server and replaced. Resume data without
    // a signature (from an older version) is trusted once; a refused commit then sends the next
    // attempt here.
    const std::string Current = FileSourceSignature(FileName());
    const std::string Recorded = Info.Value("signature");
    const bool OtherSource = !Recorded.empty() && Recorded != Current;
    if (OtherSource)
        Info.Remove("MD5"); // the digest of other bytes
    const TFtpResumePlan Plan = PlanFtpResume(NewServer || OtherSource, Remote, GetFileSize64(FileName()));
    if (Plan.Delete) {
        try {
            Ftp.Delete(UploadName());
        } catch (const ENetworkError&) {
            // Nothing to delete, or not allowed: the store overwrites anyway.
        }
    }
    TStoreOptions Store;
    Store.HashFile = !Info.Has("MD5");
    Store.ExpectedSource = Current;
    const std::string StreamedMD5 = FtpPutFile(Plan.Append, Plan.Offset, 0, -1, Store);

    try {
        Ftp.CloseDataConnection();
    } catch (...) {
    }
    Ftp.Quit();

    if (AbortRequested())
        throw EITError(ResString(rmUploadStoppedResumable));

    if (!Info.Has("MD5")) {
        SetStatusText(ResString(rmCalculatingMD5));
        Info.SetValue("MD5", StreamedMD5.empty() ? FileMD5() : StreamedMD5);
    }
    SetStatusText(ResString(rmCommitting));
    // Continued bytes, or an MD5 kept from an earlier run, are the only parts of this upload not
    // made from the file as it is now. When the service refuses such an upload, the next attempt
    // starts over instead of appending to the same copy again and again.
    const bool Continued = (Plan.Append && Plan.Offset > 0) || !Store.HashFile;
    try {
        const std::string Reply = HttpClient().Get(CommitUrl(Server, Account.UserName, Account.Password,
                                                             UploadName(), FileSize(), Info.Value("MD5")));
        ParseUploadReply(Reply, Info);
    } catch (const EITError&) {
        if (Continued)
            ForgetPartialCopy();
        throw;
    } catch (const EHttpStatusError&) {
        if (Continued && !AbortRequested())
            ForgetPartialCopy();
        throw;
    }
    Info.Remove("signature");
}

void TBrimvaultFtpUploader::ForgetPartialCopy() {
    Info.SetValue("signature", RestartSignature);
    Info.Remove("MD5");
}

} // namespace quillo
