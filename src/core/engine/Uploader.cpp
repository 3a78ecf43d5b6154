#include "core/engine/Uploader.h"

#include "core/app/MyUtils.h"
#include "core/app/Settings.h"
#include "core/l10n/ResMessages.h"
#include "core/net/FileStreamers.h"
#include "core/net/FtpClient.h"
#include "core/net/IdHTTPEx.h"

#include <QCryptographicHash>

#include <filesystem>
#include <memory>
#include <vector>

namespace quillo {

std::string EscapeFormFileName(const std::string& Name) {
    std::string Result;
    Result.reserve(Name.size());
    for (const char C : Name) {
        switch (C) {
        case '\r':
            Result += "%0D";
            break;
        case '\n':
            Result += "%0A";
            break;
        case '"':
            Result += "%22";
            break;
        default:
            Result += C;
        }
    }
    return Result;
}

std::string FileMD5Hex(const std::string& FileName) {
    TFileReader Reader(FileName, 0, -1);
    QCryptographicHash Hash(QCryptographicHash::Md5);
    std::vector<char> Buffer(1 << 20);
    for (;;) {
        const int64_t Got = Reader.Read(Buffer.data(), static_cast<int64_t>(Buffer.size()));
        if (Got <= 0)
            break;
        Hash.addData(QByteArrayView(Buffer.data(), static_cast<qsizetype>(Got)));
    }
    return Hash.result().toHex().toUpper().toStdString();
}

TUploader::TUploader(void* Data, TInternetThreadEventHandler OnEvent)
    : TInternetThread(Data, std::move(OnEvent)) {}

TUploader::~TUploader() {
    Stop(true);
}

void TUploader::StartUpload(const std::string& FileName, const std::string& UploadName,
                            const std::string& Description, const std::string& ResumeInfo) {
    if (!Parked())
        return;
    FFileName = FileName;
    FUploadName = UploadName.empty() ? ExtractFileName(FileName) : UploadName;
    FDescription = Description;
    Info.SetText(ResumeInfo);
    FFileSize = 0;
    std::error_code Error;
    if (std::filesystem::exists(FileName, Error))
        FFileSize = GetFileSize64(FileName);
    StartWork();
}

void TUploader::CheckMaxFileSize(int64_t Limit) const {
    if (GetFileSize64(FFileName) > Limit)
        throw EITError(FormatText(ResString(rmFileTooBig), {static_cast<double>(Limit) / 1048576.0}));
}

std::string TUploader::FileMD5() const {
    return FileMD5Hex(FFileName);
}

void TUploader::AddUploadFileField(const std::string& FieldName, int64_t Start, int64_t Size) {
    HttpClient().SetFileField(FieldName, EscapeFormFileName(FUploadName), FFileName, Start, Size);
}

std::string TUploader::StreamedOrFileMD5(const TFileReader* Reader) const {
    std::string MD5 = Reader ? Reader->FileDigest() : std::string();
    return MD5.empty() ? FileMD5() : MD5;
}

std::string TUploader::PostUpload(const std::string& Url) {
    SetStatusText(ResString(rmUploadingFile));
    TIdHTTPEx& Http = HttpClient();
    // The MD5 is taken from the bytes as the form's file part goes out, so the file is read once.
    if (SettingsSnapshot().UploadManager.CalculateMD5 && Http.FileReader())
        Http.FileReader()->EnableDigest();
    BeginTransfer(Http, 0);
    std::string Reply = Http.PostFormText(Url);
    if (WorkResult() == trSuccess && SettingsSnapshot().UploadManager.CalculateMD5) {
        SetStatusText(ResString(rmCalculatingMD5));
        Info.SetValue("MD5", StreamedOrFileMD5(Http.FileReader()));
    }
    return Reply;
}

std::string TUploader::FtpPutFile(bool Append, int64_t ResumeOffset, int64_t Start, int64_t Size,
                                  const TStoreOptions& Options) {
    SetStatusText(ResString(rmUploadingFile));
    TFileReader Reader(FFileName, Start, Size);
    const std::string Source = Reader.SourceSignature();
    if (!Options.ExpectedSource.empty() && Source != Options.ExpectedSource)
        throw EFileStreamError("The file \"" + FFileName +
                               "\" was changed by another program while it was being read");
    Info.SetValue("signature", Source);
    Reader.SetPosition(ResumeOffset);
    if (Options.HashFile) {
        // The bytes already on the server are hashed before the rest goes out: together with
        // the stored bytes that is one read of the whole file.
        Reader.EnableDigest();
        Reader.DigestThrough(Reader.Position);
    }
    // The reader clamps the offset into the file, so progress never shows more than the file.
    TFtpClient& Client = FtpClient();
    BeginTransfer(Client, Reader.GetPosition());
    Client.Put(Reader, FUploadName, Append);
    return Options.HashFile ? Reader.FileDigest() : std::string();
}

} // namespace quillo
