#include "core/net/IdHTTPEx.h"

#include "core/app/MyUtils.h"
#include "core/net/CurlSupport.h"
#include "core/net/IdStackWindowsEx.h"
#include "core/net/NetErrors.h"
#include "core/net/TickClock.h"

#include <QDateTime>

#include <curl/curl.h>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstring>
#include <exception>

namespace quillo {

namespace {

// application/x-www-form-urlencoded: letters, digits and "*-._" stay, a space becomes "+", every
// other byte %XX.
std::string FormEncode(const std::string& S) {
    static const char Hex[] = "0123456789ABCDEF";
    std::string Out;
    Out.reserve(S.size() * 3);
    for (unsigned char C : S) {
        if (std::isalnum(C) || C == '*' || C == '-' || C == '.' || C == '_')
            Out.push_back(static_cast<char>(C));
        else if (C == ' ')
            Out.push_back('+');
        else {
            Out.push_back('%');
            Out.push_back(Hex[C >> 4]);
            Out.push_back(Hex[C & 15]);
        }
    }
    return Out;
}

// Names and file names go between double quotes in a part header. Linux file names may hold a
// quote or a line break, which would end the header early and corrupt the form; they are written
// the way browsers write them (%22, %0D, %0A). Every other byte is sent as it is.
std::string PartHeaderValue(const std::string& S) {
    std::string Out;
    Out.reserve(S.size());
    for (char C : S) {
        if (C == '"')
            Out += "%22";
        else if (C == '\r')
            Out += "%0D";
        else if (C == '\n')
            Out += "%0A";
        else
            Out.push_back(C);
    }
    return Out;
}

// How often the request loop wakes up without socket activity to look at the read time-out.
constexpr int PollSliceMs = 100;

// The file part is taken from the reader's buffer in pieces of this size: the file's state is
// looked at once per piece, not once for each of the library's small reads.
constexpr int64_t FilePieceSize = 64 * 1024;

} // namespace

// The request body: text pieces and at most one file window, sent one after the other.
struct TBodySegment {
    std::string Text;
    TFileReader* Reader = nullptr;
    // What is left of the piece last taken from the reader.
    const char* Piece = nullptr;
    int64_t PieceLeft = 0;
};

class TIdHTTPEx::TImpl {
public:
    explicit TImpl(TIdHTTPEx& Owner) : Self(Owner) {
        curlsupport::GlobalInit();
        Easy = curl_easy_init();
        Multi = curl_multi_init();
        if (!Easy || !Multi)
            throw ENetworkError("Cannot initialise the HTTP library");
        curl_easy_setopt(Easy, CURLOPT_COOKIEFILE, "");
    }
    ~TImpl() {
        curl_multi_cleanup(Multi);
        curl_easy_cleanup(Easy);
    }

    void Perform(bool Post, std::string Url, std::vector<TBodySegment> Body, std::string& Response);

    TIdHTTPEx& Self;
    CURL* Easy = nullptr;
    CURLM* Multi = nullptr;
    TIdStackWindowsEx* Stack = &TIdStackWindowsEx::Instance();

    // State of the exchange in progress.
    std::vector<TBodySegment> Segments;
    size_t SegIndex = 0;
    int64_t SegOffset = 0;
    int64_t BodySize = 0;
    int64_t BodySent = 0;
    bool WriteWorkOpen = false;
    bool ReadWorkOpen = false;
    int64_t Received = 0;
    std::string* Sink = nullptr;
    std::string StatusLine;
    std::string Location;
    std::exception_ptr Error;
    bool ConnectionUp = false;
    uint32_t LastActivity = 0;
    bool TimedOut = false;
    int64_t ChunkLimit = DefaultSendBufferSize;
    // Bumped by every callback that moves bytes: while it moves, the request loop calls the
    // library again at once instead of asking the system whether the socket is ready.
    uint64_t Activity = 0;
    char ErrorBuffer[CURL_ERROR_SIZE] = {};
    // The request's socket, and whether its small body writes are being gathered (TCP_CORK).
    curl_socket_t Socket = CURL_SOCKET_BAD;
    bool Corked = false;
    void Cork(bool On);

    int64_t FillBody(char* Buffer, int64_t Max);
    void FireWorkBegin(TWorkMode Mode, int64_t Max);
    void FireWork(TWorkMode Mode, int64_t Count);
    void FireWorkEnd(TWorkMode Mode);
    void CloseWork();

    static size_t ReadCallback(char* Buffer, size_t Size, size_t Count, void* User);
    static size_t WriteCallback(char* Buffer, size_t Size, size_t Count, void* User);
    static size_t HeaderCallback(char* Buffer, size_t Size, size_t Count, void* User);
    static int PrereqCallback(void* User, char*, char*, int, int);
    static int XferInfoCallback(void* User, curl_off_t, curl_off_t, curl_off_t, curl_off_t);
    static int SockOptCallback(void* User, curl_socket_t Socket, curlsocktype Purpose);
};

// A large body sent in writes of the write size reaches the peer in full segments rather than one
// segment per write, as curl's own uploads do with their 64 KB buffer. Only the body is gathered
// (the connection, a proxy's handshake and the headers are not held back), never while the
// global limit paces the sends, and the last write is let out at once.
void TIdHTTPEx::TImpl::Cork(bool On) {
    if (On == Corked || Socket == CURL_SOCKET_BAD)
        return;
    const int Value = On ? 1 : 0;
    if (::setsockopt(Socket, IPPROTO_TCP, TCP_CORK, &Value, sizeof Value) == 0)
        Corked = On;
}

int TIdHTTPEx::TImpl::SockOptCallback(void* User, curl_socket_t Socket, curlsocktype Purpose) {
    if (Purpose == CURLSOCKTYPE_IPCXN)
        static_cast<TImpl*>(User)->Socket = Socket;
    return CURL_SOCKOPT_OK;
}

void TIdHTTPEx::TImpl::FireWorkBegin(TWorkMode Mode, int64_t Max) {
    (Mode == wmWrite ? WriteWorkOpen : ReadWorkOpen) = true;
    // A copy: the handler may replace the handlers while it runs.
    if (auto F = Self.Work.OnWorkBegin)
        F(Mode, Max);
}

void TIdHTTPEx::TImpl::FireWork(TWorkMode Mode, int64_t Count) {
    if (auto F = Self.Work.OnWork)
        F(Mode, Count);
}

void TIdHTTPEx::TImpl::FireWorkEnd(TWorkMode Mode) {
    bool& Open = Mode == wmWrite ? WriteWorkOpen : ReadWorkOpen;
    if (!Open)
        return;
    Open = false;
    if (auto F = Self.Work.OnWorkEnd)
        F(Mode);
}

void TIdHTTPEx::TImpl::CloseWork() {
    FireWorkEnd(wmWrite);
    FireWorkEnd(wmRead);
}

int64_t TIdHTTPEx::TImpl::FillBody(char* Buffer, int64_t Max) {
    int64_t Done = 0;
    while (Done < Max && SegIndex < Segments.size()) {
        TBodySegment& Seg = Segments[SegIndex];
        int64_t N;
        bool SegmentDone;
        if (Seg.Reader) {
            if (Seg.PieceLeft == 0)
                Seg.PieceLeft = Seg.Reader->ReadView(Seg.Piece, FilePieceSize);
            N = std::min(Max - Done, Seg.PieceLeft);
            if (N > 0)
                std::memcpy(Buffer + Done, Seg.Piece, static_cast<size_t>(N));
            Seg.Piece += N;
            Seg.PieceLeft -= N;
            SegmentDone = N == 0 || (Seg.PieceLeft == 0 && Seg.Reader->GetPosition() >= Seg.Reader->Size());
            // A change made while the last piece was on its way still fails the request.
            if (SegmentDone && N > 0)
                Seg.Reader->CheckUnchanged();
        } else {
            N = std::min<int64_t>(Max - Done, static_cast<int64_t>(Seg.Text.size()) - SegOffset);
            std::memcpy(Buffer + Done, Seg.Text.data() + SegOffset, static_cast<size_t>(N));
            SegOffset += N;
            SegmentDone = SegOffset >= static_cast<int64_t>(Seg.Text.size());
        }
        Done += N;
        if (SegmentDone) {
            ++SegIndex;
            SegOffset = 0;
        }
    }
    return Done;
}

size_t TIdHTTPEx::TImpl::ReadCallback(char* Buffer, size_t Size, size_t Count, void* User) {
    auto* Impl = static_cast<TImpl*>(User);
    if (Impl->Self.FAborted.load())
        return CURL_READFUNC_ABORT;
    try {
        const int64_t Want = std::min<int64_t>(static_cast<int64_t>(Size * Count), Impl->ChunkLimit);
        if (Want <= 0 || Impl->BodySent >= Impl->BodySize)
            return 0;
        constexpr int64_t CorkFrom = 256 * 1024;
        if (Impl->BodySent == 0 && Impl->BodySize >= CorkFrom && Impl->Stack->SendLimit.load() <= 0)
            Impl->Cork(true);
        // Uncorking flushes what is gathered; the last write, which curl makes after this call,
        // then goes out at once.
        if (Impl->BodySent + Want >= Impl->BodySize)
            Impl->Cork(false);
        const int64_t Sent = Impl->Stack->Send(
            Want, [&](int64_t Allowed) { return Impl->FillBody(Buffer, Allowed); }, &Impl->Self.FAborted);
        if (Impl->Self.FAborted.load())
            return CURL_READFUNC_ABORT;
        if (Sent <= 0) // the body ran short of what Content-Length announced
            throw EFileStreamError("The request body ended before its announced length");
        Impl->LastActivity = GetTickCount32();
        ++Impl->Activity;
        Impl->BodySent += Sent;
        Impl->Self.InterceptSend(Buffer, Sent);
        Impl->FireWork(wmWrite, Impl->BodySent);
        if (Impl->BodySent >= Impl->BodySize)
            Impl->FireWorkEnd(wmWrite);
        return static_cast<size_t>(Sent);
    } catch (...) {
        Impl->Error = std::current_exception();
        return CURL_READFUNC_ABORT;
    }
}

size_t TIdHTTPEx::TImpl::WriteCallback(char* Buffer, size_t Size, size_t Count, void* User) {
    auto* Impl = static_cast<TImpl*>(User);
    const size_t N = Size * Count;
    if (Impl->Self.FAborted.load())
        return CURL_WRITEFUNC_ERROR;
    try {
        Impl->LastActivity = GetTickCount32();
        Impl->Self.InterceptReceive(Buffer, static_cast<int64_t>(N));
        // Bodies of redirect responses are not the caller's.
        long Code = 0;
        curl_easy_getinfo(Impl->Easy, CURLINFO_RESPONSE_CODE, &Code);
        if (Impl->Self.HandleRedirects && !Impl->Location.empty() && Code >= 300 && Code < 400)
            return N;
        if (!Impl->ReadWorkOpen && Impl->Received == 0) {
            curl_off_t Length = -1;
            curl_easy_getinfo(Impl->Easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &Length);
            Impl->FireWorkBegin(wmRead, Length > 0 ? Length : 0);
        }
        Impl->Sink->append(Buffer, N);
        ++Impl->Activity;
        Impl->Received += static_cast<int64_t>(N);
        Impl->FireWork(wmRead, Impl->Received);
        return N;
    } catch (...) {
        Impl->Error = std::current_exception();
        return CURL_WRITEFUNC_ERROR;
    }
}

size_t TIdHTTPEx::TImpl::HeaderCallback(char* Buffer, size_t Size, size_t Count, void* User) {
    auto* Impl = static_cast<TImpl*>(User);
    const size_t N = Size * Count;
    if (Impl->Self.FAborted.load())
        return CURL_WRITEFUNC_ERROR;
    Impl->LastActivity = GetTickCount32();
    try {
        Impl->Self.InterceptReceive(Buffer, static_cast<int64_t>(N));
    } catch (...) {
        Impl->Error = std::current_exception();
        return CURL_WRITEFUNC_ERROR;
    }
    const std::string Line(Buffer, N);
    if (Line.rfind("HTTP/", 0) == 0) {
        // A new response (after 100 Continue, or the next hop) starts afresh.
        Impl->StatusLine = Trim(Line);
        Impl->Location.clear();
    } else if (const size_t Colon = Line.find(':'); Colon != std::string::npos) {
        if (SameTextAscii(Line.substr(0, Colon), "Location"))
            Impl->Location = Trim(Line.substr(Colon + 1));
    }
    return N;
}

int TIdHTTPEx::TImpl::PrereqCallback(void* User, char*, char*, int, int) {
    auto* Impl = static_cast<TImpl*>(User);
    try {
        Impl->ConnectionUp = true;
        Impl->LastActivity = GetTickCount32();
        Impl->Self.InterceptConnected();
        if (Impl->BodySize >= 0 && !Impl->Segments.empty() && !Impl->WriteWorkOpen && Impl->BodySent == 0) {
            Impl->FireWorkBegin(wmWrite, Impl->BodySize);
            if (Impl->BodySize == 0)
                Impl->FireWorkEnd(wmWrite);
        }
    } catch (...) {
        Impl->Error = std::current_exception();
        return CURL_PREREQFUNC_ABORT;
    }
    return CURL_PREREQFUNC_OK;
}

int TIdHTTPEx::TImpl::XferInfoCallback(void* User, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    auto* Impl = static_cast<TImpl*>(User);
    return Impl->Self.FAborted.load() ? 1 : 0;
}

void TIdHTTPEx::TImpl::Perform(bool Post, std::string Url, std::vector<TBodySegment> Body,
                               std::string& Response) {
    struct TBusyGuard {
        std::atomic<bool>& Flag;
        explicit TBusyGuard(std::atomic<bool>& F) : Flag(F) { Flag = true; }
        ~TBusyGuard() { Flag = false; }
    } Busy(Self.FBusy);

    const TProxyConfig& Config = Self.FConfig;
    ChunkLimit = Config.WriteSize();
    int Redirects = 0;
    for (;;) {
        if (Self.FAborted.load())
            throw EAbortedError();
        Response.clear();
        Self.FResponseCode = 0;
        Self.FResponseText.clear();
        Self.FLastUrl = Url;

        Segments = Body;
        SegIndex = 0;
        SegOffset = 0;
        BodySize = 0;
        for (const TBodySegment& Seg : Segments) {
            if (Seg.Reader)
                Seg.Reader->SetPosition(0);
            BodySize += Seg.Reader ? Seg.Reader->Size() : static_cast<int64_t>(Seg.Text.size());
        }
        BodySent = 0;
        Received = 0;
        WriteWorkOpen = ReadWorkOpen = false;
        Sink = &Response;
        StatusLine.clear();
        Location.clear();
        Error = nullptr;
        ConnectionUp = false;
        TimedOut = false;
        ErrorBuffer[0] = 0;
        Socket = CURL_SOCKET_BAD;
        Corked = false;

        // No curl_easy_reset: it would drop the cookie store's set-up; every option that matters
        // is set afresh below instead.
        curl_easy_setopt(Easy, CURLOPT_URL, Url.c_str());
        curl_easy_setopt(Easy, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
        curl_easy_setopt(Easy, CURLOPT_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(Easy, CURLOPT_FOLLOWLOCATION, 0L);
        curl_easy_setopt(Easy, CURLOPT_ERRORBUFFER, ErrorBuffer);
        curl_easy_setopt(Easy, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
        // Every request says "Connection: Close": never reuse a connection the server is closing.
        curl_easy_setopt(Easy, CURLOPT_FORBID_REUSE, 1L);
        curlsupport::ApplyConfig(Easy, Config, false);

        curl_slist* Headers = nullptr;
        auto Add = [&](const std::string& Name, const std::string& Value) {
            if (!Value.empty())
                Headers = curl_slist_append(Headers, (Name + ": " + Value).c_str());
        };
        const THttpRequestHeaders& R = Self.Request;
        Add("Connection", R.Connection);
        if (Post)
            Add("Content-Type", R.ContentType);
        Add("Accept", R.Accept);
        Add("Accept-Charset", R.AcceptCharset);
        Add("Accept-Language", R.AcceptLanguage);
        Add("Referer", R.Referer);
        Add("User-Agent", R.UserAgent);
        for (const auto& [Name, Value] : R.CustomHeaders)
            Add(Name, Value);
        // Nothing the library would add on its own: no "Accept: */*", no "Expect: 100-continue".
        if (R.Accept.empty())
            Headers = curl_slist_append(Headers, "Accept:");
        if (!Post || R.ContentType.empty())
            Headers = curl_slist_append(Headers, "Content-Type:");
        Headers = curl_slist_append(Headers, "Expect:");
        curl_easy_setopt(Easy, CURLOPT_HTTPHEADER, Headers);
        struct THeadersGuard {
            CURL* Easy;
            curl_slist* List;
            ~THeadersGuard() {
                curl_easy_setopt(Easy, CURLOPT_HTTPHEADER, nullptr);
                curl_slist_free_all(List);
            }
        } HeadersGuard{Easy, Headers};

        if (Post) {
            curl_easy_setopt(Easy, CURLOPT_POST, 1L);
            curl_easy_setopt(Easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(BodySize));
            curl_easy_setopt(Easy, CURLOPT_READFUNCTION, &TImpl::ReadCallback);
            curl_easy_setopt(Easy, CURLOPT_READDATA, this);
            curl_easy_setopt(Easy, CURLOPT_UPLOAD_BUFFERSIZE,
                             std::max<long>(16384, static_cast<long>(ChunkLimit)));
        } else {
            curl_easy_setopt(Easy, CURLOPT_HTTPGET, 1L);
            curl_easy_setopt(Easy, CURLOPT_READFUNCTION, nullptr);
            curl_easy_setopt(Easy, CURLOPT_READDATA, nullptr);
        }
        curl_easy_setopt(Easy, CURLOPT_WRITEFUNCTION, &TImpl::WriteCallback);
        curl_easy_setopt(Easy, CURLOPT_WRITEDATA, this);
        curl_easy_setopt(Easy, CURLOPT_HEADERFUNCTION, &TImpl::HeaderCallback);
        curl_easy_setopt(Easy, CURLOPT_HEADERDATA, this);
        curl_easy_setopt(Easy, CURLOPT_PREREQFUNCTION, &TImpl::PrereqCallback);
        curl_easy_setopt(Easy, CURLOPT_PREREQDATA, this);
        curl_easy_setopt(Easy, CURLOPT_NOPROGRESS, 0L);
        curl_easy_setopt(Easy, CURLOPT_XFERINFOFUNCTION, &TImpl::XferInfoCallback);
        curl_easy_setopt(Easy, CURLOPT_XFERINFODATA, this);
        curl_easy_setopt(Easy, CURLOPT_SOCKOPTFUNCTION, &TImpl::SockOptCallback);
        curl_easy_setopt(Easy, CURLOPT_SOCKOPTDATA, this);

        // Cookies switched off: keep the store aside so that nothing is sent or stored.
        curl_slist* SavedCookies = nullptr;
        if (!Self.AllowCookies) {
            curl_easy_getinfo(Easy, CURLINFO_COOKIELIST, &SavedCookies);
            curl_easy_setopt(Easy, CURLOPT_COOKIELIST, "ALL");
        }

        curl_multi_add_handle(Multi, Easy);
        CURLcode Result = CURLE_OK;
        bool Done = false;
        while (!Done) {
            int Running = 0;
            const uint64_t ActivityBefore = Activity;
            curl_multi_perform(Multi, &Running);
            int Queued = 0;
            while (CURLMsg* Msg = curl_multi_info_read(Multi, &Queued))
                if (Msg->msg == CURLMSG_DONE) {
                    Result = Msg->data.result;
                    Done = true;
                }
            if (Done || Running == 0)
                break;
            if (Self.FAborted.load() || Error)
                break;
            if (Config.ReadTimeout > 0 && ConnectionUp &&
                GetTickCount32() - LastActivity > static_cast<uint32_t>(Config.ReadTimeout)) {
                TimedOut = true;
                break;
            }
            // The library sends one buffer per call; while bytes flow there is no need to wait.
            if (Activity == ActivityBefore)
                curl_multi_poll(Multi, nullptr, 0, PollSliceMs, nullptr);
        }
        curl_multi_remove_handle(Multi, Easy);

        if (!Self.AllowCookies) {
            curl_easy_setopt(Easy, CURLOPT_COOKIELIST, "ALL");
            for (curl_slist* C = SavedCookies; C; C = C->next)
                curl_easy_setopt(Easy, CURLOPT_COOKIELIST, C->data);
            curl_slist_free_all(SavedCookies);
        }

        long Code = 0;
        curl_easy_getinfo(Easy, CURLINFO_RESPONSE_CODE, &Code);
        Self.FResponseCode = static_cast<int>(Code);
        Self.FResponseText = StatusLine;
        const bool Failed = Error || Self.FAborted.load() || TimedOut || !Done || Result != CURLE_OK;
        if (Failed) {
            CloseWork();
            if (Error)
                std::rethrow_exception(Error);
            if (Self.FAborted.load())
                throw EAbortedError();
            if (TimedOut)
                throw ETimeoutError("Read timed out.");
            curlsupport::RaiseCurlError(Easy, Done ? Result : CURLE_RECV_ERROR, ErrorBuffer,
                                        curlsupport::UrlForMessages(Url));
        }
        CloseWork();

        const bool IsRedirect = Code == 301 || Code == 302 || Code == 303 || Code == 307 || Code == 308;
        if (IsRedirect && Self.HandleRedirects && !Location.empty()) {
            if (++Redirects > Self.RedirectMaximum)
                throw EHttpStatusError(static_cast<int>(Code), StatusLine);
            Self.Request.ContentType.clear();
            const std::string Next = FixRedirectLocation(Location);
            // Relative locations resolve against the URL just requested.
            CURLU* U = curl_url();
            curl_url_set(U, CURLUPART_URL, Url.c_str(), 0);
            const CURLUcode Rc = curl_url_set(U, CURLUPART_URL, Next.c_str(), CURLU_NON_SUPPORT_SCHEME);
            char* Full = nullptr;
            if (Rc == CURLUE_OK)
                curl_url_get(U, CURLUPART_URL, &Full, 0);
            curl_url_cleanup(U);
            if (!Full)
                throw EProtocolError("Invalid redirect location: " + curlsupport::UrlForMessages(Next));
            Url = Full;
            curl_free(Full);
            // 307/308 repeat the request as it was; the others continue with a GET.
            if (Code != 307 && Code != 308) {
                Post = false;
                Body.clear();
            }
            continue;
        }
        if (Code < 200 || Code > 299)
            throw EHttpStatusError(static_cast<int>(Code),
                                   StatusLine.empty() ? "HTTP error " + std::to_string(Code) : StatusLine);
        return;
    }
}

TIdHTTPEx::TIdHTTPEx() : FImpl(std::make_unique<TImpl>(*this)) {
    ResetDefaults();
}

TIdHTTPEx::~TIdHTTPEx() = default;

void TIdHTTPEx::SetStack(TIdStackWindowsEx* Stack) {
    FImpl->Stack = Stack ? Stack : &TIdStackWindowsEx::Instance();
}

void TIdHTTPEx::ResetDefaults() {
    HandleRedirects = true;
    RedirectMaximum = 15;
    AllowCookies = true;
    ClearCookies();
    ClearForm();
    Request = THttpRequestHeaders{};
    Request.UserAgent = "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1)";
    Request.Accept = "image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, application/x-shockwave-flash, "
                     "application/vnd.ms-excel, application/vnd.ms-powerpoint, application/msword, */*";
    Request.AcceptLanguage = "en";
    Request.Connection = "Close";
    FAborted = false;
}

void TIdHTTPEx::AddFormField(const std::string& Name, const std::string& Value) {
    auto It = std::find_if(FFormFields.begin(), FFormFields.end(),
                           [&](const TFormField& F) { return SameTextAscii(F.Name, Name); });
    if (Value.empty()) {
        if (It != FFormFields.end()) {
            if (It->HasFile)
                FFileReader.reset();
            FFormFields.erase(It);
        }
        return;
    }
    if (It != FFormFields.end())
        It->Value = Value;
    else
        FFormFields.push_back({Name, Value, false});
}

void TIdHTTPEx::SetFileField(const std::string& FieldName, const std::string& RemoteName,
                             const std::string& LocalPath, int64_t Start, int64_t Size) {
    FFileReader.reset();
    for (TFormField& F : FFormFields)
        F.HasFile = false;
    FFileReader = std::make_unique<TFileReader>(LocalPath, Start, Size);
    const std::string Value = RemoteName.empty() ? ExtractFileName(LocalPath) : RemoteName;
    // A file part always exists, even for a path without a file-name part.
    auto It = std::find_if(FFormFields.begin(), FFormFields.end(),
                           [&](const TFormField& F) { return SameTextAscii(F.Name, FieldName); });
    if (It != FFormFields.end()) {
        It->Value = Value;
        It->HasFile = true;
    } else {
        FFormFields.push_back({FieldName, Value, true});
    }
}

void TIdHTTPEx::ClearForm() {
    FFormFields.clear();
    FFileReader.reset();
    Request.ContentType.clear();
}

void TIdHTTPEx::ClearCookies() {
    curl_easy_setopt(FImpl->Easy, CURLOPT_COOKIELIST, "ALL");
}

void TIdHTTPEx::PostForm(const std::string& Url, std::string& Response) {
    std::vector<TBodySegment> Body;
    if (FFileReader) {
        const std::string Boundary = MakeBoundary();
        std::string Text;
        for (const TFormField& F : FFormFields) {
            if (F.HasFile) {
                Text += "--" + Boundary + "\r\nContent-Disposition: form-data; name=\"" +
                        PartHeaderValue(F.Name) + "\"; filename=\"" + PartHeaderValue(F.Value) +
                        "\"\r\nContent-Type: application/octet-stream\r\n\r\n";
                Body.push_back({std::move(Text), nullptr});
                Text.clear();
                Body.push_back({{}, FFileReader.get()});
                Text = "\r\n";
            } else {
                Text += "--" + Boundary + "\r\nContent-Disposition: form-data; name=\"" +
                        PartHeaderValue(F.Name) + "\"\r\n\r\n" + F.Value + "\r\n";
            }
        }
        Text += "--" + Boundary + "--\r\n";
        Body.push_back({std::move(Text), nullptr});
        Request.ContentType = "multipart/form-data; boundary=" + Boundary;
    } else {
        std::string Text;
        for (const TFormField& F : FFormFields) {
            if (!Text.empty())
                Text += '&';
            Text += FormEncode(F.Name) + "=" + FormEncode(F.Value);
        }
        Body.push_back({std::move(Text), nullptr});
        Request.ContentType = "application/x-www-form-urlencoded";
    }
    FImpl->Perform(true, Url, std::move(Body), Response);
}

std::string TIdHTTPEx::PostFormText(const std::string& Url) {
    std::string Response;
    PostForm(Url, Response);
    return Response;
}

std::string TIdHTTPEx::Get(const std::string& Url) {
    std::string Response;
    FImpl->Perform(false, Url, {}, Response);
    return Response;
}

std::string TIdHTTPEx::MakeBoundary() {
    return "--------" +
           QDateTime::currentDateTime().toString(QStringLiteral("MMddyyhhmmsszzz")).toStdString();
}

std::string TIdHTTPEx::FixRedirectLocation(const std::string& Location) {
    std::string Out;
    Out.reserve(Location.size());
    for (char C : Location) {
        if (C == ' ')
            Out += "%20";
        else
            Out.push_back(C);
    }
    return Out;
}

void TIdHTTPEx::Abort() {
    FAborted = true;
    curl_multi_wakeup(FImpl->Multi);
}

void TIdHTTPEx::Disconnect() {
    FAborted = false;
}

} // namespace quillo
