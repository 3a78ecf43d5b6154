// Feeds arbitrary bytes to the shared text routines that meet outside input: URL splitting and
// percent decoding (proxy settings, server replies), name=value lookup (stored result lines),
// times of day (settings file) and message templates (a language file may replace any of them).
// Also the number and date-time texts, with date-times as any bit pattern (the jobs file stores
// them raw). Besides not crashing: decoding undoes encoding, the parts of a URL cannot hold the
// separators that delimit them, lookups give one trimmed line, integers read as a reference
// reading does, formatted numbers read back as their value, and a template's output stays bounded.
#include "FuzzSupport.h"
#include "core/app/MyUtils.h"

#include <QDateTime>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
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

// Decimal text against a reference reading; other forms need only not crash.
void CheckIntegers(const std::string& Text) {
    using namespace quillo;
    int32_t value = 0;
    const bool ok = TryStrToInt(Text, value);
    int32_t decimal = 0;
    const bool okDecimal = TryStrToIntDecimal(Text, decimal);
    size_t i = !Text.empty() && (Text[0] == '+' || Text[0] == '-') ? 1 : 0;
    const bool digitsOnly = i < Text.size() && Text.find_first_not_of("0123456789", i) == std::string::npos;
    if (!digitsOnly) {
        Check(!okDecimal);
        return;
    }
    const std::string digits =
        Text.substr(Text.find_first_not_of('0', i) == std::string::npos ? Text.size() - 1
                                                                        : Text.find_first_not_of('0', i));
    const bool fits =
        digits.size() <= 10 && std::stoll(digits) <= (Text[0] == '-' ? 2147483648LL : 2147483647LL);
    Check(ok == fits && okDecimal == fits);
    if (fits) {
        const int64_t expected = (Text[0] == '-' ? -1 : 1) * std::stoll(digits);
        Check(value == expected && decimal == expected);
    }
}

void CheckNumberTexts(int64_t Number, double Real, int Decimals) {
    using namespace quillo;
    std::string plain = FormatThousands(Number);
    plain.erase(std::remove(plain.begin(), plain.end(), ','), plain.end());
    Check(plain == std::to_string(Number));

    const std::string real = FormatFloatThousands(Real, Decimals);
    if (!std::isfinite(Real)) {
        Check(real == "???");
    } else if (std::fabs(Real) < 1e15) {
        std::string digits = real;
        digits.erase(std::remove(digits.begin(), digits.end(), ','), digits.end());
        const double back = std::strtod(digits.c_str(), nullptr);
        Check(std::fabs(back - Real) <= 0.5 * std::pow(10.0, -Decimals) + 1e-9 * std::fabs(Real) + 1e-12);
        Check(Decimals == 0 ? digits.find('.') == std::string::npos
                            : digits.size() - digits.find('.') - 1 == static_cast<size_t>(Decimals));
    }

    const uint32_t ms = static_cast<uint32_t>(Number);
    const std::string clock = FormatMsAsClock(ms);
    if (ms != 0xFFFFFFFFu) {
        const size_t c1 = clock.find(':'), c2 = clock.rfind(':');
        Check(c1 != std::string::npos && c2 == c1 + 3 && clock.size() == c2 + 3);
        const int64_t seconds = std::stoll(clock.substr(0, c1)) * 3600 +
                                std::stoll(clock.substr(c1 + 1, 2)) * 60 + std::stoll(clock.substr(c2 + 1));
        Check(std::llabs(seconds * 1000 - static_cast<int64_t>(ms)) <= 500);
    }
}

// Date-times come from the jobs file as raw doubles: any bit pattern.
void CheckDateTimes(double A, double B, double C) {
    using namespace quillo;
    for (const double v : {A, B, C}) {
        const double t = TimeOfDay(v);
        Check(t >= 0 && t < 1);
        const int32_t ms = TimeOfDayMs(v);
        Check(ms >= 0 && ms < 86400000);
        double again = -1;
        Check(TryParseTimeOfDay(FormatTimeOfDay(v), again));
        const QDateTime moment = DateTimeToQDateTime(v);
        if (moment.isValid())
            Check(std::isfinite(QDateTimeToDateTime(moment)));
    }
    (void)TimeInWindow(A, B, C);
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
    double reals[3] = {0, 0, 0};
    if (size >= 32) {
        std::memcpy(&number, data, sizeof number);
        std::memcpy(reals, data + 8, sizeof reals);
    }
    const double real = reals[0];
    const std::vector<std::string> f = Fields(bytes, 3);

    CheckUrl(bytes);
    CheckPercentCoding(bytes);
    CheckLines(f[0], f[1]);
    CheckTimeOfDay(bytes);
    CheckIntegers(bytes);
    CheckNumberTexts(number, real, size > 0 ? data[size - 1] % 19 : 2);
    CheckDateTimes(reals[0], reals[1], reals[2]);
    // Message templates are single lines of a language file: a few hundred bytes.
    CheckTemplate(bytes.substr(0, 1024), f[2], number, real);
    return 0;
}
