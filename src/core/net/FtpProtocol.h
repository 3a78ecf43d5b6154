#pragma once
// The socket-free half of the FTP client: assembling control-connection replies (RFC 959
// multi-line rule), reading the passive-mode and SIZE replies, checking command arguments, and
// the command sequences of the FTP firewall login schemes.

#include "core/net/NetErrors.h"

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace quillo {

// A command argument the control connection cannot carry (CR, LF or NUL would end the command
// early and let the rest run as a command of its own). Not a network error: no retry helps.
class EFtpInvalidArgument : public std::invalid_argument {
public:
    using std::invalid_argument::invalid_argument;
};

// The server answered a command with a reply the exchange cannot go on from. The message is
// the reply itself ("550 No such file"), so it reads well as a task's error text.
class EFtpReplyError : public EProtocolError {
public:
    EFtpReplyError(int Code, const std::string& Message) : EProtocolError(Message), FCode(Code) {}
    int Code() const { return FCode; }

private:
    int FCode;
};

struct TFtpReply {
    int Code = 0;
    // Every line of the reply as received, without its line end.
    std::vector<std::string> Lines;

    // The reply text: the lines joined by "\n" with the code and its separator taken off the
    // first and the last line ("213 1000" -> "1000").
    std::string Text() const;
    // The first line as received, "550 No such file" (used in error messages).
    std::string FirstLine() const { return Lines.empty() ? std::string() : Lines.front(); }
    // The whole reply as received, lines joined by "\n".
    std::string FullText() const;
};

// Gathers lines of the control connection into replies. A reply is one line "ddd text", or a
// first line "ddd-text", any further lines, and a last line that starts with the same code
// followed by a blank (RFC 959 4.2). A lone "ddd" counts as a one-line reply.
class TFtpReplyAssembler {
public:
    // Feeds one line (without CR LF). True when the reply is complete; take it with TakeReply.
    // A first line that does not start with three digits raises EProtocolError. A reply longer
    // than MaxReplyLines raises too, so a hostile server cannot make the client hoard memory.
    bool AddLine(const std::string& Line);
    TFtpReply TakeReply();
    bool InReply() const { return !FReply.Lines.empty(); }

    static constexpr size_t MaxReplyLines = 1000;

private:
    TFtpReply FReply;
    bool FMultiLine = false;
    bool FComplete = false;
};

// The reply code at the start of a line, or -1 when the line does not start with three digits.
int FtpReplyCode(const std::string& Line);

// "227 Entering Passive Mode (h1,h2,h3,h4,p1,p2)": the address and port; false when the text
// holds no six numbers 0..255 (the brackets are optional, as some servers omit them).
bool ParsePasvReply(const std::string& Text, std::string& Host, uint16_t& Port);
// "229 Entering Extended Passive Mode (|||port|)": the port; false when malformed or 0.
bool ParseEpsvReply(const std::string& Text, uint16_t& Port);
// The size in the text of a 213 reply to SIZE; -1 when it is not a non-negative decimal number.
int64_t ParseSizeReply(const std::string& Text);

// Raises EFtpInvalidArgument when `Value` holds CR, LF or NUL. `What` names the field in the
// message ("upload name", "user name").
void CheckFtpArgument(const std::string& Value, const std::string& What);

// The firewall login schemes, in the order of the settings' FtpProxyMethod list. 0 connects
// directly.
enum TFtpProxyScheme : uint8_t {
    fpsNone = 0,               // "CONNECT"
    fpsUserSite = 1,           // "USER-SITE"
    fpsSite = 2,               // "SITE"
    fpsOpen = 3,               // "OPEN"
    fpsUserPass = 4,           // "USER-PASS"
    fpsTransparent = 5,        // "TRANSPARENT"
    fpsUserHostFirewallId = 6, // "USER-HOST-FIREWALL-ID"
    fpsNovellBorder = 7,       // "NOVELL BORDER"
    fpsHttpProxyWithFtp = 8,   // "HTTP PROXY WITH FTP"
};

// The display name of a scheme ("USER-SITE"); empty for values past the list.
std::string FtpProxySchemeName(uint8_t Scheme);

// One step of a login: either a USER/PASS(/ACCT) exchange or a single command that must get a
// positive (2xx) answer.
struct TFtpLoginStep {
    enum TKind : uint8_t { lkLogin, lkCommand };
    TKind Kind = lkLogin;
    std::string User;     // lkLogin
    std::string Password; // lkLogin: sent when the server asks for it (331)
    std::string Account;  // lkLogin: sent when the server asks for it (332); empty = none
    std::string Command;  // lkCommand

    bool operator==(const TFtpLoginStep&) const = default;
};

struct TFtpLoginPlan {
    // Whether the control connection goes to the firewall (proxy host and port) instead of the
    // target server.
    bool ConnectToFirewall = false;
    std::vector<TFtpLoginStep> Steps;
};

// What the login needs to know about the target and the firewall.
struct TFtpLoginTarget {
    std::string Host;
    uint16_t Port = 21;
    std::string User;
    std::string Password;
    std::string FirewallUser;
    std::string FirewallPassword;
};

// The target as firewalls expect it inside commands: "host", or "host:port" when the port is
// not 21 ("[::1]:2121" for an IPv6 address).
std::string FtpTargetAddress(const TFtpLoginTarget& Target);

// The command sequence of `Scheme` (see the definition of each case in FtpProtocol.cpp). Raises
// EFtpInvalidArgument when a value that goes into a command holds CR, LF or NUL.
TFtpLoginPlan MakeFtpLoginPlan(TFtpProxyScheme Scheme, const TFtpLoginTarget& Target);

} // namespace quillo
