#include "core/net/FtpClient.h"

#include "core/net/IdStackWindowsEx.h"

#include <algorithm>

namespace quillo {

namespace {

bool Positive(int Code) {
    return Code >= 200 && Code < 300;
}

bool OneOf(int Code, std::initializer_list<int> Codes) {
    return std::find(Codes.begin(), Codes.end(), Code) != Codes.end();
}

// Calls a copy of the handler, so a handler that replaces itself does not destroy the callable
// it is running in.
template <typename F, typename... A> void Fire(const F& Handler, A... Args) {
    F Copy = Handler;
    if (Copy)
        Copy(Args...);
}

} // namespace

TFtpClient::TFtpClient() = default;

TFtpClient::~TFtpClient() {
    try {
        Disconnect();
    } catch (...) {
    }
}

void TFtpClient::CheckAborted() const {
    if (FAborted.load())
        throw EAbortedError();
}

std::unique_ptr<TSocketConnection> TFtpClient::MakeConnection(int32_t ReadTimeoutMs) const {
    auto Connection = std::make_unique<TSocketConnection>();
    TProxyConfig C = Config;
    if (ProxySettings.Scheme == fpsHttpProxyWithFtp) {
        C.ProxyKind = pkConnectTunnel;
        C.ProxyHost = ProxySettings.Host;
        C.ProxyPort = ProxySettings.Port > 0 ? ProxySettings.Port : 8080;
        C.ProxyUser = ProxySettings.UserName;
        C.ProxyPassword = ProxySettings.Password;
    }
    C.ReadTimeout = ReadTimeoutMs;
    Connection->SetConfig(C);
    if (FStack)
        Connection->SetStack(FStack);
    return Connection;
}

void TFtpClient::Connect() {
    CheckAborted();
    // Not Disconnect(): an Abort() that arrives now must still stop this connect.
    CloseConnections();
    try {
        TFtpLoginTarget Target;
        Target.Host = Host;
        Target.Port = static_cast<uint16_t>(Port > 0 && Port < 65536 ? Port : 21);
        Target.User = Username;
        Target.Password = Password;
        Target.FirewallUser = ProxySettings.UserName;
        Target.FirewallPassword = ProxySettings.Password;
        TFtpLoginPlan Plan = MakeFtpLoginPlan(ProxySettings.Scheme, Target);

        std::string ConnectHost = Target.Host;
        int ConnectPort = Target.Port;
        if (Plan.ConnectToFirewall) {
            if (ProxySettings.Host.empty())
                throw EFtpInvalidArgument("The FTP proxy scheme " + FtpProxySchemeName(ProxySettings.Scheme) +
                                          " needs a proxy host");
            ConnectHost = ProxySettings.Host;
            ConnectPort = ProxySettings.Port > 0 ? ProxySettings.Port : 21;
        }
        if (ConnectHost.empty())
            throw EFtpInvalidArgument("No FTP server given");

        auto Control = MakeConnection(FReadTimeout);
        {
            std::lock_guard<std::mutex> Guard(FLock);
            CheckAborted();
            FControl = std::move(Control);
            FConnected = true;
        }
        FControlHost = ConnectHost;
        FPreferEpsv = false;
        FControl->Connect(ConnectHost, ConnectPort);

        TFtpReply Greeting = ReadReply();
        while (Greeting.Code >= 100 && Greeting.Code < 200) // 120: ready in a moment
            Greeting = ReadReply();
        if (Greeting.Code != 220)
            throw EFtpReplyError(Greeting.Code, Greeting.FirstLine());
        RunLogin(Plan);
    } catch (...) {
        CloseConnections();
        throw;
    }
}

void TFtpClient::RunLogin(const TFtpLoginPlan& Plan) {
    for (const TFtpLoginStep& Step : Plan.Steps) {
        if (Step.Kind == TFtpLoginStep::lkCommand) {
            TFtpReply Reply = SendCmd(Step.Command);
            if (!Positive(Reply.Code))
                throw EFtpReplyError(Reply.Code, Reply.FirstLine());
        } else {
            LoginExchange(Step);
        }
    }
}

void TFtpClient::LoginExchange(const TFtpLoginStep& Step) {
    // RFC 959 login: USER, then PASS when asked (331), then ACCT when asked (332).
    TFtpReply Reply = SendCmd("USER " + Step.User);
    if (Reply.Code == 331)
        Reply = SendCmd("PASS " + Step.Password);
    if (Reply.Code == 332) {
        if (Step.Account.empty())
            throw EFtpReplyError(Reply.Code, Reply.FirstLine());
        Reply = SendCmd("ACCT " + Step.Account);
    }
    if (!Positive(Reply.Code))
        throw EFtpReplyError(Reply.Code, Reply.FirstLine());
}

void TFtpClient::SendLine(const std::string& Line) {
    CheckFtpArgument(Line, "FTP command");
    CheckAborted();
    if (!FControl)
        throw EConnectionClosed("Not connected to the FTP server");
    Fire(OnTrace, Line, true);
    try {
        FControl->WriteLn(Line);
    } catch (const ENetworkError&) {
        CloseConnections();
        throw;
    }
}

TFtpReply TFtpClient::ReadReply() {
    if (!FControl)
        throw EConnectionClosed("Not connected to the FTP server");
    // After a failed read the control connection is out of step (a late reply would be taken
    // as the answer to the next command), so it is closed: later commands fail instead of
    // acting on a wrong reply, and the next attempt starts on a fresh connection.
    try {
        TFtpReplyAssembler Assembler;
        for (;;) {
            CheckAborted();
            std::string Line = FControl->ReadLn();
            if (!Line.empty() && Line.back() == '\r')
                Line.pop_back();
            Fire(OnTrace, Line, false);
            if (!Assembler.InReply() && Line.empty())
                continue; // stray blank line between replies
            if (Assembler.AddLine(Line))
                break;
        }
        FLastReply = Assembler.TakeReply();
        if (FLastReply.Code == 421) {
            // Service closing: the server hangs up after this reply.
            throw EConnectionClosed(FLastReply.FirstLine());
        }
    } catch (const ENetworkError&) {
        CloseConnections();
        throw;
    }
    return FLastReply;
}

TFtpReply TFtpClient::SendCmd(const std::string& Command) {
    SendLine(Command);
    return ReadReply();
}

TFtpReply TFtpClient::SendCmd(const std::string& Command, std::initializer_list<int> Expected) {
    TFtpReply Reply = SendCmd(Command);
    if (!OneOf(Reply.Code, Expected))
        throw EFtpReplyError(Reply.Code, Reply.FirstLine());
    return Reply;
}

void TFtpClient::SetBinary() {
    SendCmd("TYPE I", {200});
}

int64_t TFtpClient::Size(const std::string& Name) {
    CheckFtpArgument(Name, "file name");
    TFtpReply Reply = SendCmd("SIZE " + Name);
    if (Reply.Code != 213)
        return -1;
    return ParseSizeReply(Reply.Text());
}

void TFtpClient::Delete(const std::string& Name) {
    CheckFtpArgument(Name, "file name");
    SendCmd("DELE " + Name, {250, 200});
}

uint16_t TFtpClient::EnterPassiveMode() {
    uint16_t DataPort = 0;
    if (!FPreferEpsv) {
        TFtpReply Reply = SendCmd("PASV");
        if (Reply.Code == 227) {
            std::string Address;
            if (!ParsePasvReply(Reply.Text(), Address, DataPort))
                throw EProtocolError("Malformed passive mode reply: " + Reply.FirstLine());
            // Only the port is taken: the data connection goes where the control connection
            // went. The address in the reply is often a private one behind NAT, and following
            // it would let a server point the upload at any host.
            return DataPort;
        }
        if (Reply.Code < 500)
            throw EFtpReplyError(Reply.Code, Reply.FirstLine());
    }
    TFtpReply Reply = SendCmd("EPSV");
    if (Reply.Code != 229)
        throw EFtpReplyError(Reply.Code, Reply.FirstLine());
    if (!ParseEpsvReply(Reply.Text(), DataPort))
        throw EProtocolError("Malformed passive mode reply: " + Reply.FirstLine());
    FPreferEpsv = true;
    return DataPort;
}

void TFtpClient::Put(TFileReader& Source, const std::string& Name, bool Append) {
    CheckFtpArgument(Name, "file name");
    const uint16_t DataPort = EnterPassiveMode();

    auto Data = MakeConnection(FReadTimeout);
    Data->Work.OnWorkBegin = [this](TWorkMode Mode, int64_t Max) { Fire(Work.OnWorkBegin, Mode, Max); };
    Data->Work.OnWork = [this](TWorkMode Mode, int64_t Count) { Fire(Work.OnWork, Mode, Count); };
    Data->Work.OnWorkEnd = [this](TWorkMode Mode) { Fire(Work.OnWorkEnd, Mode); };
    {
        std::lock_guard<std::mutex> Guard(FLock);
        CheckAborted();
        FData = std::move(Data);
        FDataConnected = true;
    }
    bool Storing = false;
    try {
        Fire(OnDataConnection, std::ref(*FData));
        FData->Connect(FControlHost, DataPort);

        TFtpReply Reply = SendCmd((Append ? "APPE " : "STOR ") + Name);
        if (Reply.Code < 100 || Reply.Code >= 200)
            throw EFtpReplyError(Reply.Code, Reply.FirstLine());
        Storing = true;

        FData->WriteStream(Source);
        // Closing our end tells the server the file is complete.
        CloseDataConnection();
        Storing = false;

        Reply = ReadReply();
        if (Reply.Code != 226 && Reply.Code != 250)
            throw EFtpReplyError(Reply.Code, Reply.FirstLine());
    } catch (...) {
        CloseDataConnection();
        // A store cut short leaves the server's verdict (426, 451, ...) unread on the control
        // connection, where it would pass for the answer to the next command.
        if (Storing)
            CloseConnections();
        throw;
    }
}

void TFtpClient::CloseDataConnection() {
    std::unique_ptr<TSocketConnection> Data;
    {
        std::lock_guard<std::mutex> Guard(FLock);
        Data = std::move(FData);
        FDataConnected = false;
    }
    if (Data)
        Data->Disconnect();
}

void TFtpClient::Quit() {
    if (FControl && !FAborted.load()) {
        try {
            // A server that does not answer the goodbye must not hold the worker for long.
            FControl->SetReadTimeout(std::min<int32_t>(FReadTimeout, 5000));
            SendCmd("QUIT");
        } catch (...) {
        }
    }
    try {
        CloseConnections();
    } catch (...) {
    }
}

void TFtpClient::CloseConnections() {
    std::unique_ptr<TSocketConnection> Data, Control;
    {
        std::lock_guard<std::mutex> Guard(FLock);
        Data = std::move(FData);
        Control = std::move(FControl);
        FDataConnected = false;
        FConnected = false;
    }
    if (Data)
        Data->Disconnect();
    if (Control)
        Control->Disconnect();
}

void TFtpClient::Disconnect() {
    CloseConnections();
    FAborted = false;
}

void TFtpClient::Abort() {
    FAborted = true;
    std::lock_guard<std::mutex> Guard(FLock);
    if (FData)
        FData->Abort();
    if (FControl)
        FControl->Abort();
}

} // namespace quillo
