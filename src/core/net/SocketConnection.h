#pragma once
// TSocketConnection: a raw TCP connection for the FTP client's control and data connections,
// opened through the configured transparent proxy (CONNECT tunnel, SOCKS 4/4A/5; an HTTP proxy
// kind is treated as a CONNECT tunnel), bound to the configured local address, with connect and
// read time-outs. Every write goes through TIdStackWindowsEx (global limit and speed) and the
// attached intercept (per-transfer speed meter).
//
// Driven by one thread; Abort() may be called from any thread.

#include "core/net/ConnectionHooks.h"
#include "core/net/FileStreamers.h"
#include "core/net/ProxyConfig.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

namespace quillo {

class TIdStackWindowsEx;

class TSocketConnection final : public TInterceptHost {
public:
    TSocketConnection();
    ~TSocketConnection() override;

    void SetConfig(const TProxyConfig& Config) { FConfig = Config; }
    const TProxyConfig& Config() const { return FConfig; }
    void SetConnectTimeout(int32_t Ms) { FConfig.ConnectTimeout = Ms; }
    // 0 = wait without limit.
    void SetReadTimeout(int32_t Ms) { FConfig.ReadTimeout = Ms; }
    void SetSendBufferSize(int32_t Bytes) { FConfig.SendBufferSize = Bytes; }
    void SetStack(TIdStackWindowsEx* Stack);

    // Opens Host:Port (through the proxy when one is configured). Raises EConnectError,
    // EProxyError, ETimeoutError or EAbortedError. Calls the intercept's Connected().
    void Connect(const std::string& Host, int Port);
    bool Connected() const;
    // Owner thread: closes the connection (no error when not connected) and clears Abort().
    void Disconnect();
    // Any thread: the pending and every later operation fail at once with EAbortedError until
    // Disconnect() is called on the owner thread.
    void Abort();
    bool AbortRequested() const { return FAborted.load(); }

    // Sends all `Size` bytes in writes of at most SendBufferSize. Raises on failure.
    void Write(const void* Buffer, int64_t Size);
    void Write(const std::string& Text) { Write(Text.data(), static_cast<int64_t>(Text.size())); }
    // Text followed by CR LF.
    void WriteLn(const std::string& Line);
    // Sends the reader's remaining bytes (from its position to its end) in writes of at most
    // SendBufferSize, firing Work events (wmWrite, CountMax = bytes to send; one event per
    // write); returns the bytes sent. The reader's change check runs once per StreamPieceSize
    // bytes and once more after the last write.
    int64_t WriteStream(TFileReader& Reader);
    static constexpr int64_t StreamPieceSize = 64 * 1024;

    // One line without its line end (LF or CR LF). Raises EConnectionClosed when the peer closes
    // before a line end, ETimeoutError after ReadTimeout ms without a byte, EProtocolError when
    // the line grows beyond kMaxLineLength bytes.
    std::string ReadLn();
    static constexpr size_t kMaxLineLength = 64 * 1024;
    // Up to `Max` bytes, waiting for at least one; 0 when the peer closed the connection.
    int64_t ReadSome(void* Buffer, int64_t Max);
    // Everything until the peer closes.
    std::string ReadAll();

    // Local address and port of the connection (with a proxy: of the connection to the proxy);
    // empty / 0 when not connected.
    std::string LocalAddress() const;
    int LocalPort() const;

    TWorkEvents Work;

    class TImpl;

private:
    // One receive from the socket, bypassing the bytes ReadLn has buffered.
    int64_t Receive(void* Buffer, int64_t Max);

    TProxyConfig FConfig;
    std::atomic<bool> FAborted{false};
    std::unique_ptr<TImpl> FImpl;
};

} // namespace quillo
