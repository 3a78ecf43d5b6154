// Feeds arbitrary bytes to the socket-free half of the FTP client, as a server's control
// connection would deliver them: the lines go through the reply assembler, and every reply and
// line through the PASV, EPSV and SIZE readers. The same bytes, cut into fields, go into the
// firewall login plans. Besides not crashing: replies are well formed and bounded, the passive
// readers only give usable addresses and ports, and no command of a login plan can carry a line
// break (a second command smuggled into the control connection).
#include "FuzzSupport.h"
#include "core/net/FtpProtocol.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace {

using namespace quillo_fuzz;

bool HasBreak(const std::string& Text) {
    return Text.find_first_of(std::string("\r\n\0", 3)) != std::string::npos;
}

bool IsDecimal(const std::string& Text) {
    if (Text.empty() || Text.size() > 3)
        return false;
    for (const char c : Text)
        if (c < '0' || c > '9')
            return false;
    return std::stoi(Text) <= 255;
}

void CheckPassiveReaders(const std::string& Text) {
    using namespace quillo;
    std::string host = "unchanged";
    uint16_t port = 7;
    if (ParsePasvReply(Text, host, port)) {
        Check(port != 0);
        // Four numbers 0..255 joined by dots: an address, never a name from the reply.
        size_t from = 0;
        int parts = 0;
        for (;;) {
            const size_t dot = host.find('.', from);
            Check(IsDecimal(host.substr(from, dot == std::string::npos ? std::string::npos : dot - from)));
            ++parts;
            if (dot == std::string::npos)
                break;
            from = dot + 1;
        }
        Check(parts == 4);
    }
    port = 7;
    if (ParseEpsvReply(Text, port))
        Check(port != 0);
    const int64_t size = ParseSizeReply(Text);
    Check(size >= -1);
    if (size >= 0) {
        const size_t first = Text.find_first_not_of(" \t");
        const size_t last = Text.find_last_not_of(" \t\r");
        const std::string digits = Text.substr(first, last - first + 1);
        Check(digits.find_first_not_of("0123456789") == std::string::npos && std::stoll(digits) == size);
    }
}

void CheckReplies(const std::string& Bytes) {
    using namespace quillo;
    TFtpReplyAssembler assembler;
    size_t start = 0;
    while (start <= Bytes.size()) {
        size_t end = Bytes.find('\n', start);
        if (end == std::string::npos)
            end = Bytes.size();
        std::string line = Bytes.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        start = end + 1;
        CheckPassiveReaders(line);
        bool complete = false;
        try {
            complete = assembler.AddLine(line);
        } catch (const EProtocolError&) {
            // A broken reply ends the exchange; a new one starts on a fresh connection.
            assembler = TFtpReplyAssembler();
            continue;
        }
        Check(assembler.InReply());
        if (!complete)
            continue;
        const TFtpReply reply = assembler.TakeReply();
        Check(!assembler.InReply());
        Check(!reply.Lines.empty() && reply.Lines.size() <= TFtpReplyAssembler::MaxReplyLines);
        Check(reply.Code >= 100 && reply.Code <= 999);
        Check(FtpReplyCode(reply.Lines.front()) == reply.Code);
        if (reply.Lines.size() > 1) {
            const std::string& last = reply.Lines.back();
            Check(FtpReplyCode(last) == reply.Code && (last.size() == 3 || last[3] == ' '));
        }
        Check(reply.FirstLine() == reply.Lines.front());
        const std::string text = reply.Text();
        const std::string full = reply.FullText();
        Check(text.size() <= full.size());
        CheckPassiveReaders(text);
    }
}

void CheckLoginPlans(const std::string& Bytes) {
    using namespace quillo;
    if (Bytes.size() < 2)
        return;
    const std::vector<std::string> f = Fields(Bytes.substr(2), 6);
    TFtpLoginTarget target;
    target.Host = f[0];
    target.Port = static_cast<uint16_t>(static_cast<unsigned char>(Bytes[0]) << 8 |
                                        static_cast<unsigned char>(Bytes[1]));
    target.User = f[1];
    target.Password = f[2];
    target.FirewallUser = f[3];
    target.FirewallPassword = f[4];
    for (uint8_t scheme = fpsNone; scheme <= fpsHttpProxyWithFtp; ++scheme) {
        Check(!FtpProxySchemeName(scheme).empty());
        TFtpLoginPlan plan;
        try {
            plan = MakeFtpLoginPlan(static_cast<TFtpProxyScheme>(scheme), target);
        } catch (const EFtpInvalidArgument&) {
            continue;
        }
        Check(!plan.Steps.empty());
        for (const TFtpLoginStep& step : plan.Steps)
            Check(!HasBreak(step.User) && !HasBreak(step.Password) && !HasBreak(step.Account) &&
                  !HasBreak(step.Command));
    }
    Check(FtpProxySchemeName(fpsHttpProxyWithFtp + 1).empty());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    CheckReplies(bytes);
    CheckPassiveReaders(bytes);
    CheckLoginPlans(bytes);
    return 0;
}
