// Feeds arbitrary bytes to the shared text routines that meet outside input: URL splitting and
// percent decoding (proxy settings, server replies), name=value lookup (stored result lines),
// times of day (settings file) and message templates (a language file may replace any of them).
// Besides not crashing: decoding undoes encoding, the parts of a URL cannot hold the separators
// that delimit them, lookups give one trimmed line, and a template's output stays bounded.
#include "FuzzSupport.h"
#include "core/app/MyUtils.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {

using namespace quillo_fuzz;

bool IsTrimmed(const std::string& Text) {
    return quillo::Trim(Text) == Text;
}

void CheckUrl(const std::string& Url) {
    using namespace quillo;
    std::string protocol, host, port, path, user, password;
    ParseUrl(Url, protocol, host, port, path, user, password);
    Check(host.find_first_of(":/@") == std::string::npos);
    Check(port.find('/') == std::string::npos && port.find('@') == std::string::npos);
    Check(path.empty() || path.front() == '/');
    Check(password.empty() || Url.find('@') != std::string::npos);
    int32_t portNumber = -12345;
    if (ParseUrlWithPort(Url, protocol, host, portNumber, user, password))
        Check(!host.empty() && portNumber >= 0 && portNumber <= 65535);
}

void CheckPercentCoding(const std::string& Text) {
    using namespace quillo;
    const std::string encoded = UrlEncodeAll(Text);
    Check(encoded.size() == 3 * Text.size());
    Check(UrlDecode(encoded) == Text);
    try {
        Check(UrlDecode(Text).size() <= Text.size());
    } catch (const EConvertError&) {
        Check(Text.find('%') != std::string::npos);
    }
}

void CheckLines(const std::string& Key, const std::string& Text) {
    using namespace quillo;
    const std::string value = GetValueOfKey(Key, Text);
    Check(!HasLineBreak(value) && IsTrimmed(value));
    int pos = 1;
    std::string line;
    size_t lines = 0;
    while (pos <= static_cast<int>(Text.size())) {
        const int before = pos;
        NextLine(Text, pos, line);
        Check(pos > before && !HasLineBreak(line) && IsTrimmed(line));
        Check(++lines <= Text.size() + 1);
    }
}

void CheckTimeOfDay(const std::string& Text) {
    using namespace quillo;
    double time = -1;
    if (!TryParseTimeOfDay(Text, time))
        return;
    Check(time >= 0 && time < 1);
    double again = -1;
    Check(TryParseTimeOfDay(FormatTimeOfDay(time), again) && again >= 0 && again < 1);
}

void CheckTemplate(const std::string& Fmt, const std::string& Text, int64_t Number, double Real) {
    using namespace quillo;
    const std::string out = FormatText(Fmt, {Text, Number, Real, std::string()});
    // Each conversion yields at most its width (capped), its argument or a fixed-size number.
    size_t conversions = 0;
    for (const char c : Fmt)
        conversions += c == '%';
    Check(out.size() <= Fmt.size() + conversions * (100000 + Text.size() + 512));
    (void)FormatText(Fmt, {});
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    int64_t number = 0;
    double real = 0;
    if (size >= 16) {
        std::memcpy(&number, data, sizeof number);
        std::memcpy(&real, data + 8, sizeof real);
    }
    const std::vector<std::string> f = Fields(bytes, 3);

    CheckUrl(bytes);
    CheckPercentCoding(bytes);
    CheckLines(f[0], f[1]);
    CheckTimeOfDay(bytes);
    // Message templates are single lines of a language file: a few hundred bytes.
    CheckTemplate(bytes.substr(0, 1024), f[2], number, real);
    return 0;
}
