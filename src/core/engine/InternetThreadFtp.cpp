// The FTP side of the worker's connections: creation and set-up of the FTP client, its stop and
// close, and the tracking of a store over its data connection.
#include "core/engine/InternetThread.h"

#include "core/app/Settings.h"
#include "core/net/FtpClient.h"
#include "core/net/InternetSpeedLimiter.h"

namespace quillo {

TFtpProxySettings FtpProxySettings(const TInternetConnectionSettings& Settings) {
    TFtpProxySettings Proxy;
    // ProxyType 1 is the one kind the FTP client handles itself, by a firewall login scheme;
    // the SOCKS kinds go on the socket layer (TransparentProxyConfig).
    if (!Settings.UseProxy || Settings.ProxyType != 1 || Settings.FtpProxyMethod > fpsHttpProxyWithFtp)
        return Proxy;
    const TProxyConfig Address = ConnectionConfig(Settings);
    Proxy.Scheme = static_cast<TFtpProxyScheme>(Settings.FtpProxyMethod);
    Proxy.Host = Address.ProxyHost;
    Proxy.Port = Address.ProxyPort;
    Proxy.UserName = Address.ProxyUser;
    Proxy.Password = Address.ProxyPassword;
    return Proxy;
}

TFtpClient& TInternetThread::FtpClient() {
    if (!FFtp) {
        const TInternetConnectionSettings Settings = SettingsSnapshot().InternetConnection;
        auto Client = std::make_unique<TFtpClient>();
        Client->Config = TransparentProxyConfig(Settings);
        Client->ProxySettings = FtpProxySettings(Settings);
        std::lock_guard Lock(FClientLock);
        FFtp = std::move(Client);
    }
    ApplyTimeouts();
    if (AbortRequested())
        FFtp->Abort();
    return *FFtp;
}

void TInternetThread::ApplyFtpTimeouts() {
    if (!FFtp)
        return;
    if (FConnectTimeout.load() != 0)
        FFtp->SetConnectTimeout(FConnectTimeout.load());
    // 0 keeps the client's own 60 seconds on the control connection.
    FFtp->SetReadTimeout(FReadTimeout.load());
    if (FSendBufferSize.load() != 0)
        FFtp->SetSendBufferSize(FSendBufferSize.load());
}

void TInternetThread::AbortFtpClient() {
    if (FFtp)
        FFtp->Abort();
}

void TInternetThread::CloseFtpClient() {
    if (!FFtp)
        return;
    if (FTrackedFtp == FFtp.get()) {
        FFtp->Work = TWorkEvents();
        FFtp->OnDataConnection = nullptr;
        FTrackedFtp = nullptr;
    }
    FFtp->CloseDataConnection();
    FFtp->Disconnect();
}

void TInternetThread::BeginTransfer(TFtpClient& Client, int64_t BaseOffset) {
    BeginTransferTracking(BaseOffset);
    HookTransferWork(Client.Work);
    // The speed meter belongs on the data connection, which exists only once the store begins.
    Client.OnDataConnection = [this, &Client](TSocketConnection& Data) {
        if (FLimiter && FTransferTracking)
            Data.SetIntercept(FLimiter.get());
        // The data connection keeps the client's read time-out (the setting, or the client's
        // own 60 seconds when the setting is 0): a server that stops reading mid-store must
        // end the attempt and let the retry resume, not hang the task for good.
        Client.OnDataConnection = nullptr;
    };
    FTrackedFtp = &Client;
}

} // namespace quillo
