// Upload throughput, memory and the global limit of the HTTP client on loopback.
//
// Generates a 200 MB file in a temporary folder, starts a sink on 127.0.0.1 that discards request
// bodies and answers 200, and prints:
//   - the multipart upload throughput of TIdHTTPEx as a ratio to `curl -F` against the same sink
//     in the same run (best of five each);
//   - the peak resident memory of this process, which holds the client and the sink;
//   - the rate achieved with a global limit of 1 MB/s over 10 seconds.
// Usage: bench_upload [size-in-MB]   (never part of the pass/fail tests)

#include "common/BenchSupport.h"
#include "core/net/IdHTTPEx.h"
#include "core/net/IdStackWindowsEx.h"
#include "core/net/NetErrors.h"

#include <QTemporaryDir>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

using namespace quillo;
using Clock = std::chrono::steady_clock;

namespace {

// Reads each request's head and Content-Length bytes of body into a scratch buffer and answers
// 200. One thread per connection; the body is never kept.
class TSink {
public:
    TSink() {
        FListen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int One = 1;
        ::setsockopt(FListen, SOL_SOCKET, SO_REUSEADDR, &One, sizeof One);
        sockaddr_in A{};
        A.sin_family = AF_INET;
        A.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(FListen, reinterpret_cast<sockaddr*>(&A), sizeof A);
        ::listen(FListen, 16);
        socklen_t Len = sizeof A;
        ::getsockname(FListen, reinterpret_cast<sockaddr*>(&A), &Len);
        FPort = ntohs(A.sin_port);
        std::thread([this] { Accept(); }).detach();
    }
    int Port() const { return FPort; }
    std::atomic<int64_t> BodyBytes{0};

private:
    void Accept() {
        for (;;) {
            const int Fd = ::accept4(FListen, nullptr, nullptr, SOCK_CLOEXEC);
            if (Fd >= 0)
                std::thread([this, Fd] { Serve(Fd); }).detach();
        }
    }
    void Serve(int Fd) {
        std::vector<char> Buf(1 << 20);
        std::string Head;
        size_t End;
        ssize_t N = 0;
        while ((End = Head.find("\r\n\r\n")) == std::string::npos) {
            N = ::recv(Fd, Buf.data(), 65536, 0);
            if (N <= 0) {
                ::close(Fd);
                return;
            }
            Head.append(Buf.data(), static_cast<size_t>(N));
        }
        int64_t Remaining = 0;
        for (const char* Name : {"Content-Length:", "content-length:"})
            if (const size_t P = Head.find(Name); P != std::string::npos)
                Remaining = std::atoll(Head.c_str() + P + std::strlen(Name));
        if (Head.find("100-continue") != std::string::npos)
            (void)!::send(Fd, "HTTP/1.1 100 Continue\r\n\r\n", 25, MSG_NOSIGNAL);
        const int64_t Early = static_cast<int64_t>(Head.size() - End - 4);
        Remaining -= Early;
        BodyBytes += Early;
        while (Remaining > 0) {
            N = ::recv(Fd, Buf.data(), Buf.size(), 0);
            if (N <= 0)
                break;
            Remaining -= N;
            BodyBytes += N;
        }
        const char Reply[] = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nConnection: close\r\n\r\nOK";
        (void)!::send(Fd, Reply, sizeof Reply - 1, MSG_NOSIGNAL);
        ::shutdown(Fd, SHUT_WR);
        while (::recv(Fd, Buf.data(), Buf.size(), 0) > 0) {
        }
        ::close(Fd);
    }
    int FListen = -1;
    int FPort = 0;
};

double Seconds(Clock::duration D) {
    return std::chrono::duration<double>(D).count();
}

double TimeQuillo(const std::string& Url, const std::string& Path) {
    TIdHTTPEx Http;
    Http.AddFormField("group_name", "soft");
    Http.SetFileField("FILE1", "", Path);
    const auto Start = Clock::now();
    Http.PostFormText(Url);
    return Seconds(Clock::now() - Start);
}

double TimeCurl(const std::string& Url, const std::string& Path) {
    const bench::TTimedRun Run =
        bench::RunTimedChild({"/usr/bin/curl", "-s", "-S", "-o", "/dev/null", "--noproxy", "*", "-F",
                              "group_name=soft", "-F", "FILE1=@" + Path, Url});
    if (!Run.Ok)
        std::fprintf(stderr, "curl failed\n");
    return Run.Seconds;
}

} // namespace

int main(int argc, char** argv) {
    const int64_t SizeMb = argc > 1 ? std::atoll(argv[1]) : 200;
    QTemporaryDir Dir;
    const QString File = Dir.filePath(QStringLiteral("upload.bin"));
    if (!bench::WriteBenchFile(File, SizeMb << 20)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(File));
        return 1;
    }
    const std::string Path = File.toStdString();
    TSink Sink;
    const std::string Url = "http://127.0.0.1:" + std::to_string(Sink.Port()) + "/cgi-bin/upload.cgi";
    const long RssBefore = bench::PeakRssKb();

    double BestQuillo = 1e9, BestCurl = 1e9;
    for (int Round = 0; Round < 5; ++Round) {
        BestCurl = std::min(BestCurl, TimeCurl(Url, Path));
        BestQuillo = std::min(BestQuillo, TimeQuillo(Url, Path));
    }
    const double Mb = static_cast<double>(SizeMb);
    std::printf("upload %lld MB over loopback (best of 5)\n", static_cast<long long>(SizeMb));
    std::printf("  quillo  : %.3f s  %.1f MB/s\n", BestQuillo, Mb / BestQuillo);
    std::printf("  curl -F : %.3f s  %.1f MB/s\n", BestCurl, Mb / BestCurl);
    std::printf("  throughput ratio quillo/curl: %.2f (goal >= 0.8)\n", BestCurl / BestQuillo);
    std::printf("peak RSS: %.1f MB (before uploads %.1f MB; goal < 64 MB)\n", bench::PeakRssKb() / 1024.0,
                RssBefore / 1024.0);

    // The global limit: 1 MB/s, measured at the sink over 10 s once the transfer runs.
    TIdStackWindowsEx::Instance().SendLimit = 1 << 20;
    TIdHTTPEx Http;
    Http.SetFileField("FILE1", "", Path);
    std::thread Upload([&] {
        try {
            Http.PostFormText(Url);
        } catch (const ENetworkError&) {
        }
    });
    while (Sink.BodyBytes.load() == 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    Sink.BodyBytes = 0;
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const int64_t From = Sink.BodyBytes.load();
    const auto T0 = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(10));
    const int64_t To = Sink.BodyBytes.load();
    const double Window = Seconds(Clock::now() - T0);
    Http.Abort();
    Upload.join();
    TIdStackWindowsEx::Instance().SendLimit = 0;
    const double Rate = static_cast<double>(To - From) / Window;
    std::printf("limit 1 MB/s: %.0f bytes/s over %.2f s = %.3f of the limit (goal within 5%%)\n", Rate,
                Window, Rate / (1 << 20));
    return 0;
}
