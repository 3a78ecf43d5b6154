#include "core/net/SocketConnection.h"

#include "core/net/CurlSupport.h"
#include "core/net/IdStackWindowsEx.h"
#include "core/net/NetErrors.h"

#include <curl/curl.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace quillo {

namespace {

// The connect loop looks at the abort flag at least this often.
constexpr int PollSliceMs = 100;

// Holds a stream's small writes in the kernel until a full segment is ready (TCP_CORK): the
// peer then receives the same bytes in a few large segments instead of one per write, which is
// what keeps a stream of 8 KB writes as fast as one of 64 KB writes. Not used while the global
// limit paces the sends: there the timing of each write on the wire is the point. Released
// (and the rest flushed) when the stream ends, however it ends.
class TCorkGuard {
public:
    TCorkGuard(int Sock, bool Enable) : FSock(Enable ? Sock : -1) { Set(1); }
    ~TCorkGuard() { Set(0); }
    TCorkGuard(const TCorkGuard&) = delete;
    TCorkGuard& operator=(const TCorkGuard&) = delete;

private:
    void Set(int On) {
        if (FSock >= 0)
            (void)::setsockopt(FSock, IPPROTO_TCP, TCP_CORK, &On, sizeof On);
    }
    int FSock;
};

} // namespace

class TSocketConnection::TImpl {
public:
    TImpl() {
        curlsupport::GlobalInit();
        Multi = curl_multi_init();
        WakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (!Multi || WakeFd < 0)
            throw ENetworkError("Cannot initialise the socket layer");
    }
    ~TImpl() {
        Close();
        curl_multi_cleanup(Multi);
        ::close(WakeFd);
    }

    void Close() {
        if (Easy) {
            curl_multi_remove_handle(Multi, Easy);
            curl_easy_cleanup(Easy);
            Easy = nullptr;
        }
        Sock = CURL_SOCKET_BAD;
        Pending.clear();
        PendingPos = 0;
        Target.clear();
    }

    // Waits until the socket is ready for `Events`; raises EAbortedError when the abort event
    // fires first and ETimeoutError(TimeoutMessage) after TimeoutMs (0 = no limit).
    void Wait(short Events, int32_t TimeoutMs, const char* TimeoutMessage) {
        pollfd Fds[2] = {{Sock, Events, 0}, {WakeFd, POLLIN, 0}};
        for (;;) {
            const int Rc = ::poll(Fds, 2, TimeoutMs > 0 ? TimeoutMs : -1);
            if (Rc < 0 && errno == EINTR)
                continue;
            if (Fds[1].revents & POLLIN)
                throw EAbortedError();
            if (Rc == 0)
                throw ETimeoutError(TimeoutMessage);
            return;
        }
    }

    CURL* Easy = nullptr;
    CURLM* Multi = nullptr;
    int WakeFd = -1;
    curl_socket_t Sock = CURL_SOCKET_BAD;
    std::string Pending; // received but not yet consumed
    size_t PendingPos = 0;
    std::string Target;
    TIdStackWindowsEx* Stack = &TIdStackWindowsEx::Instance();
    char ErrorBuffer[CURL_ERROR_SIZE] = {};
};

TSocketConnection::TSocketConnection() : FImpl(std::make_unique<TImpl>()) {}

TSocketConnection::~TSocketConnection() = default;

void TSocketConnection::SetStack(TIdStackWindowsEx* Stack) {
    FImpl->Stack = Stack ? Stack : &TIdStackWindowsEx::Instance();
}

void TSocketConnection::Connect(const std::string& Host, int Port) {
    FImpl->Close();
    if (FAborted.load())
        throw EAbortedError();
    TImpl& I = *FImpl;
    I.Target = Host + ":" + std::to_string(Port);
    I.Easy = curl_easy_init();
    if (!I.Easy)
        throw ENetworkError("Cannot initialise the socket layer");
    const std::string Url = "http://" + curlsupport::UrlHost(Host) + ":" + std::to_string(Port) + "/";
    curl_easy_setopt(I.Easy, CURLOPT_URL, Url.c_str());
    curl_easy_setopt(I.Easy, CURLOPT_CONNECT_ONLY, 1L);
    curl_easy_setopt(I.Easy, CURLOPT_ERRORBUFFER, I.ErrorBuffer);
    curlsupport::ApplyConfig(I.Easy, FConfig, true);
    I.ErrorBuffer[0] = 0;

    curl_multi_add_handle(I.Multi, I.Easy);
    CURLcode Result = CURLE_OK;
    bool Done = false;
    for (;;) {
        int Running = 0;
        curl_multi_perform(I.Multi, &Running);
        int Queued = 0;
        while (CURLMsg* Msg = curl_multi_info_read(I.Multi, &Queued))
            if (Msg->msg == CURLMSG_DONE) {
                Result = Msg->data.result;
                Done = true;
            }
        if (Done || Running == 0 || FAborted.load())
            break;
        curl_multi_poll(I.Multi, nullptr, 0, PollSliceMs, nullptr);
    }
    if (FAborted.load()) {
        FImpl->Close();
        throw EAbortedError();
    }
    if (!Done || Result != CURLE_OK) {
        const std::string Target = I.Target;
        try {
            curlsupport::RaiseCurlError(I.Easy, Done ? Result : CURLE_COULDNT_CONNECT, I.ErrorBuffer, Target);
        } catch (...) {
            FImpl->Close();
            throw;
        }
    }
    curl_socket_t Sock = CURL_SOCKET_BAD;
    if (curl_easy_getinfo(I.Easy, CURLINFO_ACTIVESOCKET, &Sock) != CURLE_OK || Sock == CURL_SOCKET_BAD) {
        FImpl->Close();
        throw EConnectError("Could not connect to " + Host + ":" + std::to_string(Port));
    }
    I.Sock = Sock;
    InterceptConnected();
}

bool TSocketConnection::Connected() const {
    return FImpl->Sock != CURL_SOCKET_BAD;
}

void TSocketConnection::Disconnect() {
    FImpl->Close();
    uint64_t Drain = 0;
    while (::read(FImpl->WakeFd, &Drain, sizeof Drain) > 0) {
    }
    FAborted = false;
}

void TSocketConnection::Abort() {
    FAborted = true;
    const uint64_t One = 1;
    (void)!::write(FImpl->WakeFd, &One, sizeof One);
    curl_multi_wakeup(FImpl->Multi);
}

void TSocketConnection::Write(const void* Buffer, int64_t Size) {
    TImpl& I = *FImpl;
    const auto* Data = static_cast<const char*>(Buffer);
    const int64_t Chunk = FConfig.WriteSize();
    int64_t Done = 0;
    while (Done < Size) {
        if (FAborted.load())
            throw EAbortedError();
        if (I.Sock == CURL_SOCKET_BAD)
            throw EConnectionClosed("Not connected");
        const int64_t Want = std::min(Chunk, Size - Done);
        auto RawSend = [&](int64_t Allowed) -> int64_t {
            for (;;) {
                size_t N = 0;
                const CURLcode Rc = curl_easy_send(I.Easy, Data + Done, static_cast<size_t>(Allowed), &N);
                if (Rc == CURLE_OK)
                    return static_cast<int64_t>(N);
                if (Rc != CURLE_AGAIN)
                    throw EConnectionClosed("Connection to " + I.Target + " lost: " + curl_easy_strerror(Rc));
                I.Wait(POLLOUT, FConfig.ReadTimeout, "Write timed out.");
            }
        };
        const int64_t Sent = I.Stack->Send(Want, RawSend, &FAborted);
        if (Sent <= 0) {
            if (FAborted.load())
                throw EAbortedError();
            continue;
        }
        InterceptSend(Data + Done, Sent);
        Done += Sent;
    }
}

void TSocketConnection::WriteLn(const std::string& Line) {
    Write(Line + "\r\n");
}

int64_t TSocketConnection::WriteStream(TFileReader& Reader) {
    const int64_t Total = Reader.Size() - Reader.GetPosition();
    const int64_t Chunk = std::max<int64_t>(FConfig.WriteSize(), 1);
    // The bytes go out straight from the reader's buffer, taken a few writes at a time: the
    // file's state is then looked at once per piece instead of once per write, and nothing is
    // copied on the way. Each write is still at most the write size and reports its progress.
    const int64_t Piece = std::max(Chunk, StreamPieceSize);
    int64_t Done = 0;
    if (auto F = Work.OnWorkBegin)
        F(wmWrite, Total);
    struct TEndGuard {
        TSocketConnection& C;
        ~TEndGuard() {
            if (auto F = C.Work.OnWorkEnd)
                F(wmWrite);
        }
    } EndGuard{*this};
    TCorkGuard Cork(FImpl->Sock, FImpl->Stack->SendLimit.load() <= 0);
    while (Done < Total) {
        const char* Data = nullptr;
        const int64_t N = Reader.ReadView(Data, std::min(Piece, Total - Done));
        if (N <= 0)
            break;
        for (int64_t Sent = 0; Sent < N;) {
            const int64_t W = std::min(Chunk, N - Sent);
            Write(Data + Sent, W);
            Sent += W;
            Done += W;
            if (auto F = Work.OnWork)
                F(wmWrite, Done);
        }
    }
    // A change made while the last piece was on its way still fails the stream.
    if (Done > 0)
        Reader.CheckUnchanged();
    return Done;
}

int64_t TSocketConnection::ReadSome(void* Buffer, int64_t Max) {
    TImpl& I = *FImpl;
    if (Max <= 0)
        return 0;
    if (I.PendingPos < I.Pending.size()) {
        const int64_t N = std::min<int64_t>(Max, static_cast<int64_t>(I.Pending.size() - I.PendingPos));
        std::memcpy(Buffer, I.Pending.data() + I.PendingPos, static_cast<size_t>(N));
        I.PendingPos += static_cast<size_t>(N);
        return N;
    }
    return Receive(Buffer, Max);
}

int64_t TSocketConnection::Receive(void* Buffer, int64_t Max) {
    TImpl& I = *FImpl;
    for (;;) {
        if (FAborted.load())
            throw EAbortedError();
        if (I.Sock == CURL_SOCKET_BAD)
            throw EConnectionClosed("Not connected");
        size_t N = 0;
        const CURLcode Rc = curl_easy_recv(I.Easy, Buffer, static_cast<size_t>(Max), &N);
        if (Rc == CURLE_OK) {
            InterceptReceive(Buffer, static_cast<int64_t>(N));
            return static_cast<int64_t>(N);
        }
        if (Rc != CURLE_AGAIN)
            throw EConnectionClosed("Connection to " + I.Target + " lost: " + curl_easy_strerror(Rc));
        I.Wait(POLLIN, FConfig.ReadTimeout, "Read timed out.");
    }
}

std::string TSocketConnection::ReadLn() {
    TImpl& I = *FImpl;
    // Where the search for the line end goes on: bytes already scanned are not scanned again,
    // so a long line costs linear time.
    size_t Scan = I.PendingPos;
    for (;;) {
        const size_t Lf = I.Pending.find('\n', Scan);
        if (Lf != std::string::npos) {
            size_t End = Lf;
            if (End > I.PendingPos && I.Pending[End - 1] == '\r')
                --End;
            std::string Line = I.Pending.substr(I.PendingPos, End - I.PendingPos);
            I.PendingPos = Lf + 1;
            if (I.PendingPos >= I.Pending.size()) {
                I.Pending.clear();
                I.PendingPos = 0;
            }
            return Line;
        }
        if (I.PendingPos > 0) {
            I.Pending.erase(0, I.PendingPos);
            I.PendingPos = 0;
        }
        // A peer that never ends its line would otherwise make us buffer without bound.
        if (I.Pending.size() > kMaxLineLength)
            throw EProtocolError("A line from " + I.Target + " is longer than " +
                                 std::to_string(kMaxLineLength) + " bytes");
        Scan = I.Pending.size();
        // A partial line stays in Pending when the read fails, so nothing received is lost.
        char Buf[4096];
        const int64_t N = Receive(Buf, sizeof Buf);
        if (N == 0)
            throw EConnectionClosed("Connection closed by " + I.Target);
        I.Pending.append(Buf, static_cast<size_t>(N));
    }
}

std::string TSocketConnection::ReadAll() {
    std::string All;
    char Buf[16384];
    for (;;) {
        const int64_t N = ReadSome(Buf, sizeof Buf);
        if (N == 0)
            return All;
        All.append(Buf, static_cast<size_t>(N));
    }
}

std::string TSocketConnection::LocalAddress() const {
    sockaddr_storage Addr{};
    socklen_t Len = sizeof Addr;
    if (FImpl->Sock == CURL_SOCKET_BAD ||
        ::getsockname(FImpl->Sock, reinterpret_cast<sockaddr*>(&Addr), &Len) != 0)
        return {};
    char Text[INET6_ADDRSTRLEN] = {};
    if (Addr.ss_family == AF_INET)
        ::inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(&Addr)->sin_addr, Text, sizeof Text);
    else if (Addr.ss_family == AF_INET6)
        ::inet_ntop(AF_INET6, &reinterpret_cast<sockaddr_in6*>(&Addr)->sin6_addr, Text, sizeof Text);
    return Text;
}

int TSocketConnection::LocalPort() const {
    sockaddr_storage Addr{};
    socklen_t Len = sizeof Addr;
    if (FImpl->Sock == CURL_SOCKET_BAD ||
        ::getsockname(FImpl->Sock, reinterpret_cast<sockaddr*>(&Addr), &Len) != 0)
        return 0;
    if (Addr.ss_family == AF_INET)
        return ntohs(reinterpret_cast<sockaddr_in*>(&Addr)->sin_port);
    if (Addr.ss_family == AF_INET6)
        return ntohs(reinterpret_cast<sockaddr_in6*>(&Addr)->sin6_port);
    return 0;
}

} // namespace quillo
