#pragma once
// TUploader: the worker thread turned into the upload of one file. It holds the file, the name
// under which it appears on the service and the Info lines (links, MD5, resume data), and offers
// the steps both upload methods share: the size check, the MD5, the form post with progress and
// the FTP store with resume. Each method derives from it and supplies DoWork.
//
// Calling order (user-interface thread): CreateUploader (PluginManager.h); SetSendBufferSize,
// SetConnectTimeout, SetReadTimeout; StartUpload; events until ieFinished; then WorkResult(),
// ErrorText() and Info; destroy. Destroying it stops a running upload and waits for the worker.

#include "core/engine/InternetThread.h"
#include "core/engine/UploadInfo.h"

#include <cstdint>
#include <string>

namespace quillo {

class TFileReader;

// The largest file either method accepts: 200 MB.
inline constexpr int64_t MaxUploadSize = 209715200;

class TUploader : public TInternetThread {
public:
    TUploader(void* Data, TInternetThreadEventHandler OnEvent);
    ~TUploader() override;

    // Stores the texts (an empty UploadName becomes the file-name part of FileName), replaces
    // Info by the lines of ResumeInfo, notes the file's size (0 when it does not exist) and
    // starts the work. Raises the file system's error when the file exists but cannot be opened.
    void StartUpload(const std::string& FileName, const std::string& UploadName,
                     const std::string& Description, const std::string& ResumeInfo);

    const std::string& FileName() const { return FFileName; }
    const std::string& UploadName() const { return FUploadName; }
    const std::string& Description() const { return FDescription; }
    int64_t FileSize() const { return FFileSize; }

    // Results and resume data. Written by the worker; read by the event handler (while the
    // worker waits) and after ieFinished.
    TUploadInfo Info;

    // Raises EITError "This file is too big. ..." when the file is now larger than Limit.
    void CheckMaxFileSize(int64_t Limit) const;
    // MD5 (RFC 1321) of the whole file as 32 upper-case hexadecimal digits.
    std::string FileMD5() const;

protected:
    // SetFileField(FieldName, UploadName, FileName, Start, Size) on HttpClient(). The upload name
    // goes into a part header, so its CR, LF and double quotes are sent percent-encoded.
    void AddUploadFileField(const std::string& FieldName, int64_t Start, int64_t Size);
    // Posts the form that the method has built, with progress over the request body and, when
    // CalculateMD5 is set, the MD5 afterwards. Returns the response body.
    std::string PostUpload(const std::string& Url);
    // Stores the file (Size bytes from Start, -1 = to the end) on FtpClient() under UploadName,
    // "APPE" when Append, else "STOR", sending from ResumeOffset on (clamped into the file);
    // progress counts include the bytes already on the server. Info["signature"] records what the
    // stored bytes are read from (TFileReader::SourceSignature) before the first of them is sent.
    // With Options.HashFile the MD5 of the whole file is computed on the way (the bytes before
    // ResumeOffset are hashed first) and returned; otherwise, or when the store did not read the
    // whole file, the result is empty.
    struct TStoreOptions {
        bool HashFile = false;
        // When not empty: the signature the resume decision was made on. A file that no longer
        // matches it fails the store instead of appending other bytes to the server's copy.
        std::string ExpectedSource;
    };
    std::string FtpPutFile(bool Append, int64_t ResumeOffset, int64_t Start, int64_t Size,
                           const TStoreOptions& Options);
    // The MD5 a reader computed while the file went out, or, when it did not see every byte,
    // FileMD5() (a second read of the file).
    std::string StreamedOrFileMD5(const TFileReader* Reader) const;

private:
    std::string FFileName;
    std::string FUploadName;
    std::string FDescription;
    int64_t FFileSize = 0;
};

// The name as it may appear inside a quoted part header: CR, LF and '"' percent-encoded
// (%0D, %0A, %22), as browsers send file names.
std::string EscapeFormFileName(const std::string& Name);

// MD5 of a whole file as 32 upper-case hexadecimal digits; raises EFileStreamError.
std::string FileMD5Hex(const std::string& FileName);

} // namespace quillo
