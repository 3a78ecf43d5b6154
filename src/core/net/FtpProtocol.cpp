#include "core/net/FtpProtocol.h"

#include <cctype>

namespace quillo {

namespace {

bool IsDigit(char C) {
    return C >= '0' && C <= '9';
}

// The text after "ddd " / "ddd-" of a line that starts with a code.
std::string AfterCode(const std::string& Line) {
    if (Line.size() <= 4)
        return std::string();
    return Line.substr(4);
}

} // namespace

int FtpReplyCode(const std::string& Line) {
    if (Line.size() < 3 || !IsDigit(Line[0]) || !IsDigit(Line[1]) || !IsDigit(Line[2]))
        return -1;
    if (Line.size() > 3 && Line[3] != ' ' && Line[3] != '-')
        return -1;
    return (Line[0] - '0') * 100 + (Line[1] - '0') * 10 + (Line[2] - '0');
}

std::string TFtpReply::Text() const {
    std::string Result;
    for (size_t I = 0; I < Lines.size(); ++I) {
        if (I > 0)
            Result += '\n';
        bool Coded = (I == 0 || I + 1 == Lines.size()) && FtpReplyCode(Lines[I]) == Code;
        Result += Coded ? AfterCode(Lines[I]) : Lines[I];
    }
    return Result;
}

std::string TFtpReply::FullText() const {
    std::string Result;
    for (size_t I = 0; I < Lines.size(); ++I) {
        if (I > 0)
            Result += '\n';
        Result += Lines[I];
    }
    return Result;
}

bool TFtpReplyAssembler::AddLine(const std::string& Line) {
    if (FComplete)
        FReply = TFtpReply{}, FComplete = false, FMultiLine = false;
    if (FReply.Lines.empty()) {
        int Code = FtpReplyCode(Line);
        if (Code < 100)
            throw EProtocolError("Invalid FTP reply: \"" + Line.substr(0, 80) + "\"");
        FReply.Code = Code;
        FReply.Lines.push_back(Line);
        FMultiLine = Line.size() > 3 && Line[3] == '-';
        FComplete = !FMultiLine;
        return FComplete;
    }
    if (FReply.Lines.size() >= MaxReplyLines)
        throw EProtocolError("FTP reply too long");
    FReply.Lines.push_back(Line);
    // Only "ddd " with the opening code ends the reply; "ddd-" lines and other text inside it
    // are part of the text (RFC 959 allows lines starting with digits in the middle).
    if (FtpReplyCode(Line) == FReply.Code && (Line.size() == 3 || Line[3] == ' '))
        FComplete = true;
    return FComplete;
}

TFtpReply TFtpReplyAssembler::TakeReply() {
    TFtpReply Result = std::move(FReply);
    FReply = TFtpReply{};
    FComplete = false;
    FMultiLine = false;
    return Result;
}

bool ParsePasvReply(const std::string& Text, std::string& Host, uint16_t& Port) {
    // Look for six comma-separated numbers; prefer the part after "(" when there is one.
    size_t From = Text.find('(');
    if (From == std::string::npos)
        From = 0;
    // Scan for a run h1,h2,h3,h4,p1,p2: numbers separated by commas (blanks tolerated).
    for (size_t Start = From; Start < Text.size(); ++Start) {
        if (!IsDigit(Text[Start]) || (Start > 0 && IsDigit(Text[Start - 1])))
            continue;
        long Values[6];
        size_t I = Start;
        int Count = 0;
        bool Ok = true;
        while (Count < 6) {
            if (I >= Text.size() || !IsDigit(Text[I])) {
                Ok = false;
                break;
            }
            long Value = 0;
            size_t Digits = 0;
            while (I < Text.size() && IsDigit(Text[I])) {
                Value = Value * 10 + (Text[I] - '0');
                if (++Digits > 3) {
                    Ok = false;
                    break;
                }
                ++I;
            }
            if (!Ok || Value > 255) {
                Ok = false;
                break;
            }
            Values[Count++] = Value;
            if (Count == 6)
                break;
            while (I < Text.size() && Text[I] == ' ')
                ++I;
            if (I >= Text.size() || Text[I] != ',') {
                Ok = false;
                break;
            }
            ++I;
            while (I < Text.size() && Text[I] == ' ')
                ++I;
        }
        if (!Ok)
            continue;
        Host = std::to_string(Values[0]) + "." + std::to_string(Values[1]) + "." + std::to_string(Values[2]) +
               "." + std::to_string(Values[3]);
        Port = static_cast<uint16_t>(Values[4] * 256 + Values[5]);
        return Port != 0;
    }
    return false;
}

bool ParseEpsvReply(const std::string& Text, uint16_t& Port) {
    // "(<d><d><d>port<d>)" where <d> is one printable delimiter, normally "|".
    size_t Open = Text.find('(');
    if (Open == std::string::npos || Open + 5 >= Text.size())
        return false;
    char D = Text[Open + 1];
    if (D < 33 || D > 126 || IsDigit(D) || Text[Open + 2] != D || Text[Open + 3] != D)
        return false;
    size_t I = Open + 4;
    long Value = 0;
    size_t Digits = 0;
    while (I < Text.size() && IsDigit(Text[I])) {
        Value = Value * 10 + (Text[I] - '0');
        if (++Digits > 5)
            return false;
        ++I;
    }
    if (Digits == 0 || I + 1 >= Text.size() || Text[I] != D || Text[I + 1] != ')')
        return false;
    if (Value <= 0 || Value > 65535)
        return false;
    Port = static_cast<uint16_t>(Value);
    return true;
}

int64_t ParseSizeReply(const std::string& Text) {
    size_t B = 0, E = Text.size();
    while (B < E && (Text[B] == ' ' || Text[B] == '\t'))
        ++B;
    while (E > B && (Text[E - 1] == ' ' || Text[E - 1] == '\t' || Text[E - 1] == '\r'))
        --E;
    if (B == E || E - B > 18)
        return -1;
    int64_t Value = 0;
    for (size_t I = B; I < E; ++I) {
        if (!IsDigit(Text[I]))
            return -1;
        Value = Value * 10 + (Text[I] - '0');
    }
    return Value;
}

void CheckFtpArgument(const std::string& Value, const std::string& What) {
    for (char C : Value)
        if (C == '\r' || C == '\n' || C == '\0')
            throw EFtpInvalidArgument("The " + What +
                                      " contains a line break or NUL character, which FTP cannot send");
}

std::string FtpProxySchemeName(uint8_t Scheme) {
    static const char* const Names[] = {"CONNECT",
                                        "USER-SITE",
                                        "SITE",
                                        "OPEN",
                                        "USER-PASS",
                                        "TRANSPARENT",
                                        "USER-HOST-FIREWALL-ID",
                                        "NOVELL BORDER",
                                        "HTTP PROXY WITH FTP"};
    return Scheme < sizeof(Names) / sizeof(Names[0]) ? Names[Scheme] : std::string();
}

std::string FtpTargetAddress(const TFtpLoginTarget& Target) {
    if (Target.Port == 21)
        return Target.Host;
    // An IPv6 address needs brackets, or its last group would read as the port; a host given
    // with its brackets already keeps them as they are.
    const bool Bare6 = Target.Host.find(':') != std::string::npos && Target.Host.front() != '[';
    return (Bare6 ? "[" + Target.Host + "]" : Target.Host) + ":" + std::to_string(Target.Port);
}

namespace {

TFtpLoginStep Login(std::string User, std::string Password, std::string Account = std::string()) {
    TFtpLoginStep Step;
    Step.Kind = TFtpLoginStep::lkLogin;
    Step.User = std::move(User);
    Step.Password = std::move(Password);
    Step.Account = std::move(Account);
    return Step;
}

TFtpLoginStep Command(std::string Text) {
    TFtpLoginStep Step;
    Step.Kind = TFtpLoginStep::lkCommand;
    Step.Command = std::move(Text);
    return Step;
}

// The firewall's own login, for the schemes where it comes first. Without a firewall user name
// the firewall is taken to need no login and the step is left out (the "no login" variants of
// these schemes, which simple gateways such as proxy-suite's ftp-proxy implement).
void AddFirewallLogin(TFtpLoginPlan& Plan, const TFtpLoginTarget& T) {
    if (!T.FirewallUser.empty())
        Plan.Steps.push_back(Login(T.FirewallUser, T.FirewallPassword));
}

} // namespace

TFtpLoginPlan MakeFtpLoginPlan(TFtpProxyScheme Scheme, const TFtpLoginTarget& T) {
    CheckFtpArgument(T.Host, "server name");
    CheckFtpArgument(T.User, "user name");
    CheckFtpArgument(T.Password, "password");
    CheckFtpArgument(T.FirewallUser, "proxy user name");
    CheckFtpArgument(T.FirewallPassword, "proxy password");

    const std::string Target = FtpTargetAddress(T);
    TFtpLoginPlan Plan;
    switch (Scheme) {
    case fpsUserSite:
        // Firewall: USER fwuser, PASS fwpass; then USER user@host, PASS pass. The firewall opens
        // the connection to host when it sees the second USER.
        Plan.ConnectToFirewall = true;
        AddFirewallLogin(Plan, T);
        Plan.Steps.push_back(Login(T.User + "@" + Target, T.Password));
        break;
    case fpsSite:
        // Firewall: USER fwuser, PASS fwpass; SITE host; then USER user, PASS pass.
        Plan.ConnectToFirewall = true;
        AddFirewallLogin(Plan, T);
        Plan.Steps.push_back(Command("SITE " + Target));
        Plan.Steps.push_back(Login(T.User, T.Password));
        break;
    case fpsOpen:
        // Firewall: USER fwuser, PASS fwpass; OPEN host; then USER user, PASS pass.
        Plan.ConnectToFirewall = true;
        AddFirewallLogin(Plan, T);
        Plan.Steps.push_back(Command("OPEN " + Target));
        Plan.Steps.push_back(Login(T.User, T.Password));
        break;
    case fpsUserPass:
        // Firewall: USER user@fwuser@host, PASS pass@fwpass (one exchange carries both logins).
        Plan.ConnectToFirewall = true;
        Plan.Steps.push_back(
            Login(T.User + "@" + T.FirewallUser + "@" + Target, T.Password + "@" + T.FirewallPassword));
        break;
    case fpsTransparent:
        // The firewall sits on the path and intercepts the connection to host: USER fwuser,
        // PASS fwpass to it first, then USER user, PASS pass for the server itself.
        Plan.ConnectToFirewall = false;
        AddFirewallLogin(Plan, T);
        Plan.Steps.push_back(Login(T.User, T.Password));
        break;
    case fpsUserHostFirewallId:
        // Firewall: USER user@host fwuser, PASS pass, and ACCT fwpass when the firewall asks
        // for an account (332), as Check Point style gateways do.
        Plan.ConnectToFirewall = true;
        Plan.Steps.push_back(
            Login(T.User + "@" + Target + (T.FirewallUser.empty() ? "" : " " + T.FirewallUser), T.Password,
                  T.FirewallPassword));
        break;
    case fpsNovellBorder:
        // Novell BorderManager's FTP proxy: USER user@host, PASS pass; the proxy user is
        // authenticated out of band, so no firewall credentials go over the wire.
        Plan.ConnectToFirewall = true;
        Plan.Steps.push_back(Login(T.User + "@" + Target, T.Password));
        break;
    case fpsHttpProxyWithFtp:
        // Both FTP connections run through the HTTP proxy's CONNECT tunnel; the login itself
        // is the plain one.
    case fpsNone:
    default:
        Plan.ConnectToFirewall = false;
        Plan.Steps.push_back(Login(T.User, T.Password));
        break;
    }
    return Plan;
}

} // namespace quillo
