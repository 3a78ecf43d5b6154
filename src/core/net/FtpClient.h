#pragma once
// TFtpClient: the FTP client of the upload engine. Passive mode only (PASV, EPSV as fallback),
// binary type, SIZE, DELE, STOR and APPE streamed from a TFileReader, the FTP firewall login
// schemes, and the transparent proxies of the socket layer on both the control and the data
// connection. Every byte of the data connection goes through TIdStackWindowsEx (global limit
// and speed) and the intercept that OnDataConnection attaches (per-transfer speed meter).
//
// Driven by one thread (the worker that owns it). Only Abort(), Connected() and
// DataConnected() may be called from another thread. Failures raise ENetworkError descendants
// (EFtpReplyError for an unexpected reply), except EFtpInvalidArgument for a name or credential
// the control connection cannot carry, and EFileStreamError from the file being stored.

#include "core/net/ConnectionHooks.h"
#include "core/net/FileStreamers.h"
#include "core/net/FtpProtocol.h"
#include "core/net/ProxyConfig.h"
#include "core/net/SocketConnection.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <string>

namespace quillo {

class TIdStackWindowsEx;

// The FTP firewall in front of the server (Scheme fpsNone: none). For fpsHttpProxyWithFtp the
// host, port and credentials are those of the HTTP proxy whose CONNECT tunnel carries both
// connections.
struct TFtpProxySettings {
    TFtpProxyScheme Scheme = fpsNone;
    std::string Host;
    int Port = 0;
    std::string UserName;
    std::string Password;
};

class TFtpClient final {
public:
    TFtpClient();
    ~TFtpClient();
    TFtpClient(const TFtpClient&) = delete;
    TFtpClient& operator=(const TFtpClient&) = delete;

    // The control connection's read time-out when none is set.
    static constexpr int32_t DefaultReadTimeout = 60000;

    // Target and login.
    std::string Host;
    int Port = 21;
    std::string Username;
    std::string Password;

    // Socket layer of both connections: transparent proxy (CONNECT tunnel, SOCKS), bound local
    // address, connect time-out, socket write size. Its ReadTimeout is ignored: see
    // SetReadTimeout.
    TProxyConfig Config;
    TFtpProxySettings ProxySettings;

    void SetConnectTimeout(int32_t Ms) { Config.ConnectTimeout = Ms; }
    // Control connection; 0 keeps DefaultReadTimeout. The data connection starts with the same
    // value; OnDataConnection may change it.
    void SetReadTimeout(int32_t Ms) { FReadTimeout = Ms > 0 ? Ms : DefaultReadTimeout; }
    int32_t ReadTimeout() const { return FReadTimeout; }
    void SetSendBufferSize(int32_t Bytes) { Config.SendBufferSize = Bytes; }
    void SetBoundIP(const std::string& Ip) { Config.BoundIP = Ip; }
    // The send path of both connections (default TIdStackWindowsEx::Instance()).
    void SetStack(TIdStackWindowsEx* Stack) { FStack = Stack; }

    // Connects (to the firewall when the scheme says so), reads the greeting and logs in with
    // the scheme's command sequence. Raises on failure, leaving the client disconnected.
    void Connect();
    // Connected or connecting (any thread). A network failure on the control connection, or a
    // store cut short, closes both connections (a late reply would otherwise pass for the answer
    // to the next command), so this turns false then.
    bool Connected() const { return FConnected.load(); }
    bool DataConnected() const { return FDataConnected.load(); }

    // Sends one command and reads its reply. The command must not hold CR, LF or NUL.
    TFtpReply SendCmd(const std::string& Command);
    // The same, raising EFtpReplyError unless the reply code is one of `Expected`.
    TFtpReply SendCmd(const std::string& Command, std::initializer_list<int> Expected);
    const TFtpReply& LastReply() const { return FLastReply; }

    // TYPE I.
    void SetBinary();
    // SIZE name: the size from a 213 reply; -1 for any other reply (or a 213 without a number).
    // Network failures raise.
    int64_t Size(const std::string& Name);
    // DELE name; raises EFtpReplyError unless the server confirms (250, 200).
    void Delete(const std::string& Name);
    // STOR (Append false) or APPE (Append true) of the reader's remaining bytes, over a new
    // passive data connection. Fires Work (wmWrite, CountMax = the bytes to send) and waits for
    // the server's confirmation of the transfer.
    void Put(TFileReader& Source, const std::string& Name, bool Append);

    // QUIT, then closes both connections; every failure ignored. A pending Abort() stays.
    void Quit();
    // Owner thread: closes the data connection. No error when there is none.
    void CloseDataConnection();
    // Owner thread: closes both connections without a goodbye and clears a pending Abort().
    void Disconnect();
    // Any thread: the pending call and every later one fail at once with EAbortedError, until
    // Disconnect() on the owner thread.
    void Abort();
    bool AbortRequested() const { return FAborted.load(); }

    // Progress of a Put (forwarded from the data connection).
    TWorkEvents Work;
    // Called on the owner thread right after a data connection object is made and before it
    // connects, e.g. to attach a speed meter or change its read time-out. The handler may
    // reset OnDataConnection from inside itself.
    std::function<void(TSocketConnection& Data)> OnDataConnection;
    // Every command line sent (passwords included) and every reply; for tests and diagnostics.
    std::function<void(const std::string& Line, bool Sent)> OnTrace;

private:
    TFtpReply ReadReply();
    void SendLine(const std::string& Line);
    void RunLogin(const TFtpLoginPlan& Plan);
    void LoginExchange(const TFtpLoginStep& Step);
    // PASV (EPSV when PASV is refused): the port of the server's data listener.
    uint16_t EnterPassiveMode();
    std::unique_ptr<TSocketConnection> MakeConnection(int32_t ReadTimeoutMs) const;
    void CheckAborted() const;
    // Closes both connections, keeping a pending Abort().
    void CloseConnections();

    int32_t FReadTimeout = DefaultReadTimeout;
    TIdStackWindowsEx* FStack = nullptr;
    std::string FControlHost; // where the control connection went (server or firewall)
    bool FPreferEpsv = false;

    std::mutex FLock; // guards the two connection pointers against Abort() from other threads
    std::unique_ptr<TSocketConnection> FControl;
    std::unique_ptr<TSocketConnection> FData;
    std::atomic<bool> FConnected{false};
    std::atomic<bool> FDataConnected{false};
    std::atomic<bool> FAborted{false};
    TFtpReply FLastReply;
};

} // namespace quillo
