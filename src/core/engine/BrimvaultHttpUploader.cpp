#include "core/engine/BrimvaultHttpUploader.h"

#include "core/app/MyUtils.h"
#include "core/app/Settings.h"
#include "core/engine/ServiceSite.h"
#include "core/l10n/ResMessages.h"
#include "core/net/IdHTTPEx.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <random>

namespace quillo {

namespace {

// The process-wide upload server cache. Fetching is single-flight: the first worker that finds
// the cache empty or stale fetches the list with FFetching set, and the others wait on the
// condition variable instead of sending the same request.
struct TUploadServerCache {
    std::mutex Lock;
    std::condition_variable Changed;
    std::string CachedUploadServer;
    uint32_t CachedServerTick = 0;
    bool Fetching = false;
    std::atomic<int> Fetches{0};
    std::mt19937 Random{std::random_device{}()};
};

TUploadServerCache& Cache() {
    static TUploadServerCache Instance;
    return Instance;
}

bool CacheFresh(const TUploadServerCache& C) {
    return !C.CachedUploadServer.empty() && EngineTickCount() - C.CachedServerTick < UploadServerCacheMs;
}

bool IsListSeparator(char C) {
    return C == ',' || static_cast<unsigned char>(C) <= 32;
}

} // namespace

std::vector<std::string> ParseUploadServerList(const std::string& Text) {
    const std::string List = Trim(Text);
    std::vector<std::string> Entries;
    size_t I = 0;
    while (I < List.size()) {
        while (I < List.size() && IsListSeparator(List[I]))
            ++I;
        if (I >= List.size())
            break;
        std::string Entry;
        if (List[I] == '"') {
            // A quoted entry runs to the closing quote; "" inside stands for one quote.
            ++I;
            while (I < List.size()) {
                if (List[I] == '"') {
                    if (I + 1 < List.size() && List[I + 1] == '"') {
                        Entry += '"';
                        I += 2;
                        continue;
                    }
                    ++I;
                    break;
                }
                Entry += List[I++];
            }
            while (I < List.size() && !IsListSeparator(List[I]))
                Entry += List[I++];
        } else {
            while (I < List.size() && !IsListSeparator(List[I]))
                Entry += List[I++];
        }
        Entry = Trim(Entry);
        if (IsPlainHost(Entry))
            Entries.push_back(Entry);
    }
    return Entries;
}

std::string ChooseUploadServer(TIdHTTPEx& Http, const std::function<bool()>& Aborted) {
    TUploadServerCache& C = Cache();
    std::unique_lock Lock(C.Lock);
    for (;;) {
        if (CacheFresh(C))
            return C.CachedUploadServer;
        if (!C.Fetching)
            break;
        C.Changed.wait_for(Lock, std::chrono::milliseconds(50));
        if (Aborted && Aborted())
            throw EAbortedByUser();
    }
    C.Fetching = true;
    Lock.unlock();
    std::string Server;
    try {
        C.Fetches.fetch_add(1);
        const std::vector<std::string> Entries = ParseUploadServerList(Http.Get(UploadServerListUrl()));
        if (Entries.empty())
            throw EITError(ResString(rmNoUploadServer));
        Lock.lock();
        std::uniform_int_distribution<size_t> Pick(0, Entries.size() - 1);
        Server = Entries[Pick(C.Random)];
        C.CachedUploadServer = Server;
        C.CachedServerTick = EngineTickCount();
        C.Fetching = false;
    } catch (...) {
        if (!Lock.owns_lock())
            Lock.lock();
        C.Fetching = false;
        C.Changed.notify_all();
        throw;
    }
    C.Changed.notify_all();
    return Server;
}

void ClearUploadServerCache() {
    TUploadServerCache& C = Cache();
    std::lock_guard Lock(C.Lock);
    C.CachedUploadServer.clear();
    C.CachedServerTick = 0;
}

void ExpireUploadServerCache() {
    TUploadServerCache& C = Cache();
    std::lock_guard Lock(C.Lock);
    C.CachedServerTick = EngineTickCount() - UploadServerCacheMs;
}

int UploadServerListFetches() {
    return Cache().Fetches.load();
}

void ParseUploadReply(const std::string& Reply, TUploadInfo& Info) {
    const std::string Text = Trim(Reply);
    std::string Download;
    std::string Delete;
    bool HaveDownload = false;
    bool HaveDelete = false;
    size_t Start = 0;
    while (Start <= Text.size()) {
        size_t End = Text.find_first_of("\r\n", Start);
        if (End == std::string::npos)
            End = Text.size();
        const std::string Line = Text.substr(Start, End - Start);
        const size_t Colon = Line.find(':');
        if (Colon != std::string::npos) {
            const std::string Name = Line.substr(0, Colon);
            if (!HaveDownload && SameTextAscii(Name, "DOWNLOAD")) {
                Download = Trim(Line.substr(Colon + 1));
                HaveDownload = true;
            } else if (!HaveDelete && SameTextAscii(Name, "DELETE")) {
                Delete = Trim(Line.substr(Colon + 1));
                HaveDelete = true;
            }
        }
        if (End < Text.size() && Text[End] == '\r' && End + 1 < Text.size() && Text[End + 1] == '\n')
            ++End;
        Start = End + 1;
    }
    Info.SetValue("download-link", Download);
    if (Info.Value("download-link").empty())
        throw EITError(ResString(rmNoDownloadLink));
    Info.SetValue("kill-link", Delete);
}

std::string AccountFormValue(bool UseAccount, const std::string& UserName, const std::string& Password) {
    if (!UseAccount)
        return "a::";
    for (const std::string* Field : {&UserName, &Password}) {
        if (Field->find_first_of(std::string("\r\n\0", 3)) != std::string::npos)
            throw EITError("The account user name or password contains a line break; please correct it in "
                           "the settings.");
    }
    return "a:" + UserName + ":" + Password;
}

TBrimvaultHttpUploader::TBrimvaultHttpUploader(void* Data, TInternetThreadEventHandler OnEvent)
    : TUploader(Data, std::move(OnEvent)) {}

// The worker may be inside DoWork: stop it before this object's part is gone.
TBrimvaultHttpUploader::~TBrimvaultHttpUploader() {
    Stop(true);
}

void TBrimvaultHttpUploader::DoWork() {
    CheckMaxFileSize(MaxUploadSize);
    const TBrimvaultSettings Account = SettingsSnapshot().Brimvault;
    const std::string Wmid = AccountFormValue(Account.UseAccount, Account.UserName, Account.Password);

    HttpClient().Request.Referer = ServiceRootUrl();
    HttpClient().AllowCookies = true;
    SetStatusText(ResString(rmLookingForServer));
    const std::string Host = ChooseUploadServer(HttpClient(), [this] { return AbortRequested(); });
    CheckAborted();

    TIdHTTPEx& Http = HttpClient();
    Http.ClearForm();
    Http.AddFormField("group_name", "soft");
    Http.AddFormField("mode", "soft");
    Http.AddFormField("wmid", Wmid);
    AddUploadFileField("FILE1", 0, -1);
    const std::string Reply = PostUpload(UploadUrl(Host));
    ParseUploadReply(Reply, Info);
}

} // namespace quillo
