#include "core/app/MyUtils.h"

#include <QDateTime>
#include <QIODevice>
#include <QRandomGenerator>
#include <QTimeZone>

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string_view>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quillo {

namespace {

bool IsBlank(char C) {
    return static_cast<unsigned char>(C) <= 32;
}

int HexDigitValue(char C) {
    if (C >= '0' && C <= '9')
        return C - '0';
    if (C >= 'a' && C <= 'f')
        return C - 'a' + 10;
    if (C >= 'A' && C <= 'F')
        return C - 'A' + 10;
    return -1;
}

const char kHexUpper[] = "0123456789ABCDEF";

// Positions are 1-based; a 0-based index of an std::string is Pos - 1.
int Len(const std::string& S) {
    return static_cast<int>(std::min<size_t>(S.size(), std::numeric_limits<int>::max() - 2));
}

constexpr double kMsPerDay = 86400000.0;
// 1 January 0001 and 31 December 9999 as date-times.
constexpr double kFirstDay = -693593.0;
constexpr double kLastDay = 2958465.0;

// Day 0 of date-times: 30 December 1899.
const QDate& EpochDate() {
    static const QDate epoch(1899, 12, 30);
    return epoch;
}

} // namespace

std::string TrimLeft(const std::string& Text) {
    size_t b = 0;
    while (b < Text.size() && IsBlank(Text[b]))
        ++b;
    return Text.substr(b);
}

std::string TrimRight(const std::string& Text) {
    size_t e = Text.size();
    while (e > 0 && IsBlank(Text[e - 1]))
        --e;
    return Text.substr(0, e);
}

std::string Trim(const std::string& Text) {
    return TrimLeft(TrimRight(Text));
}

std::string LowerCaseAscii(const std::string& Text) {
    std::string r = Text;
    for (char& c : r)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return r;
}

std::string UpperCaseAscii(const std::string& Text) {
    std::string r = Text;
    for (char& c : r)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return r;
}

bool SameTextAscii(const std::string& A, const std::string& B) {
    return A.size() == B.size() && LowerCaseAscii(A) == LowerCaseAscii(B);
}

std::string ExtractFileName(const std::string& Path) {
    const size_t slash = Path.find_last_of('/');
    return slash == std::string::npos ? Path : Path.substr(slash + 1);
}

bool TryStrToInt(const std::string& Text, int32_t& Value) {
    size_t i = 0;
    bool negative = false;
    if (i < Text.size() && (Text[i] == '+' || Text[i] == '-')) {
        negative = Text[i] == '-';
        ++i;
    }
    bool hex = false;
    if (i < Text.size() && Text[i] == '$') {
        hex = true;
        ++i;
    } else if (i + 1 < Text.size() && Text[i] == '0' && (Text[i + 1] == 'x' || Text[i + 1] == 'X')) {
        hex = true;
        i += 2;
    }
    if (i >= Text.size())
        return false;
    uint64_t v = 0;
    if (hex) {
        if (Text.size() - i > 8)
            return false;
        for (; i < Text.size(); ++i) {
            const int d = HexDigitValue(Text[i]);
            if (d < 0)
                return false;
            v = v * 16 + static_cast<uint64_t>(d);
        }
        uint32_t u = static_cast<uint32_t>(v);
        if (negative)
            u = 0u - u;
        Value = static_cast<int32_t>(u);
        return true;
    }
    for (; i < Text.size(); ++i) {
        if (Text[i] < '0' || Text[i] > '9')
            return false;
        v = v * 10 + static_cast<uint64_t>(Text[i] - '0');
        if (v > 2147483648ull)
            return false;
    }
    if (!negative && v > 2147483647ull)
        return false;
    Value = negative ? static_cast<int32_t>(-static_cast<int64_t>(v)) : static_cast<int32_t>(v);
    return true;
}

int32_t StrToIntDef(const std::string& Text, int32_t Default) {
    int32_t v = 0;
    return TryStrToInt(Text, v) ? v : Default;
}

bool TryStrToIntDecimal(const std::string& Text, int32_t& Value) {
    size_t i = 0;
    if (i < Text.size() && (Text[i] == '+' || Text[i] == '-'))
        ++i;
    if (i >= Text.size())
        return false;
    for (size_t k = i; k < Text.size(); ++k)
        if (Text[k] < '0' || Text[k] > '9')
            return false;
    return TryStrToInt(Text, Value);
}

void NextNumberToken(const std::string& Text, int& Pos, std::string& Token) {
    const int len = Len(Text);
    int p = std::max(Pos, 1);
    while (p <= len && !(Text[p - 1] >= '0' && Text[p - 1] <= '9'))
        ++p;
    const int start = p;
    while (p <= len && Text[p - 1] >= '0' && Text[p - 1] <= '9')
        ++p;
    Token = Text.substr(start - 1 < len ? start - 1 : Text.size(), p - start);
    Pos = p;
}

std::string UrlDecode(const std::string& Text) {
    std::string r;
    r.reserve(Text.size());
    for (size_t i = 0; i < Text.size(); ++i) {
        const char c = Text[i];
        if (c == '%') {
            const std::string digits = Text.substr(i + 1, 2);
            const int hi = digits.size() == 2 ? HexDigitValue(digits[0]) : -1;
            const int lo = digits.size() == 2 ? HexDigitValue(digits[1]) : -1;
            if (hi < 0 || lo < 0)
                throw EConvertError("'$" + digits + "' is not a valid integer value");
            r.push_back(static_cast<char>(hi * 16 + lo));
            i += 2;
        } else if (c == '+') {
            r.push_back(' ');
        } else {
            r.push_back(c);
        }
    }
    return r;
}

std::string UrlEncodeAll(const std::string& Text) {
    std::string r;
    r.reserve(Text.size() * 3);
    for (unsigned char c : Text) {
        r.push_back('%');
        r.push_back(kHexUpper[c >> 4]);
        r.push_back(kHexUpper[c & 15]);
    }
    return r;
}

std::string TextBeforeColon(const std::string& Text) {
    const size_t p = Text.find(':');
    return Trim(p == std::string::npos ? Text : Text.substr(0, p));
}

std::string TextAfterColon(const std::string& Text) {
    const size_t p = Text.find(':');
    return p == std::string::npos ? std::string() : Trim(Text.substr(p + 1));
}

std::string TwoDigits(int32_t N) {
    std::string s = std::to_string(N);
    if (s.size() < 2)
        s.insert(s.begin(), '0');
    return s;
}

std::string FormatMsAsClock(uint32_t Ms) {
    if (Ms == 0xFFFFFFFFu)
        return "??:??:??";
    uint32_t s = Ms / 1000;
    const uint32_t rest = Ms % 1000;
    if (rest > 500 || (rest == 500 && (s & 1u)))
        ++s;
    const int64_t minutes = s / 60;
    return TwoDigits(static_cast<int32_t>(minutes / 60)) + ":" +
           TwoDigits(static_cast<int32_t>(minutes % 60)) + ":" + TwoDigits(static_cast<int32_t>(s % 60));
}

std::string SingleLine(const std::string& Text) {
    std::string r;
    for (char c : Trim(Text)) {
        if (c == '\n')
            continue;
        r.push_back(c == '\r' ? ' ' : c);
    }
    return r;
}

std::string FormatThousands(int64_t Value) {
    try {
        const bool negative = Value < 0;
        uint64_t v = negative ? 0u - static_cast<uint64_t>(Value) : static_cast<uint64_t>(Value);
        std::string r;
        int count = 0;
        do {
            if (count > 0 && count % 3 == 0)
                r.push_back(',');
            r.push_back(static_cast<char>('0' + v % 10));
            v /= 10;
            ++count;
        } while (v != 0);
        if (negative)
            r.push_back('-');
        std::reverse(r.begin(), r.end());
        return r;
    } catch (...) {
        return "???";
    }
}

namespace {

// Opens a regular file read-only by its bytes (a name need not be UTF-8). Anything else is not
// opened: a pipe would block until someone writes to it, a device may never end, and a folder
// is no file. -1 with errno set on failure (EISDIR, or EINVAL for what is not a regular file).
int OpenRegularFile(const std::string& FileName, struct stat& St) {
    if (::stat(FileName.c_str(), &St) != 0)
        return -1;
    if (!S_ISREG(St.st_mode)) {
        errno = S_ISDIR(St.st_mode) ? EISDIR : EINVAL;
        return -1;
    }
    // O_NONBLOCK in case the name was swapped for a pipe since the stat.
    const int Fd = ::open(FileName.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (Fd >= 0 && (::fstat(Fd, &St) != 0 || !S_ISREG(St.st_mode))) {
        ::close(Fd);
        errno = EINVAL;
        return -1;
    }
    return Fd;
}

} // namespace

std::string ReadRegularFile(const std::string& FileName) {
    struct stat St {};
    const int Fd = OpenRegularFile(FileName, St);
    if (Fd < 0)
        return std::string();
    std::string Data;
    char Buffer[65536];
    for (;;) {
        const ssize_t N = ::read(Fd, Buffer, sizeof Buffer);
        if (N < 0 && errno == EINTR)
            continue;
        if (N < 0) {
            Data.clear();
            break;
        }
        if (N == 0)
            break;
        Data.append(Buffer, static_cast<size_t>(N));
    }
    ::close(Fd);
    return Data;
}

int64_t GetFileSize64(const std::string& FileName) {
    // What an open for reading would decide, without opening: opening a device may act on it,
    // and adding a folder of many files costs one system call less per file.
    struct stat St {};
    int Error = 0;
    if (::stat(FileName.c_str(), &St) != 0)
        Error = errno;
    else if (!S_ISREG(St.st_mode))
        Error = S_ISDIR(St.st_mode) ? EISDIR : EINVAL;
    else if (::faccessat(AT_FDCWD, FileName.c_str(), R_OK, AT_EACCESS) != 0)
        Error = errno;
    if (Error != 0)
        throw EFOpenError(
            "Cannot open file \"" + FileName + "\". " +
            (Error == EINVAL ? std::string("It is not a regular file.") : std::strerror(Error)));
    return static_cast<int64_t>(St.st_size);
}

void ReadLStr(QIODevice& Stream, std::string& S) {
    unsigned char b[4];
    if (Stream.read(reinterpret_cast<char*>(b), 4) != 4)
        throw EReadError();
    const int32_t n =
        static_cast<int32_t>(static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8 |
                             static_cast<uint32_t>(b[2]) << 16 | static_cast<uint32_t>(b[3]) << 24);
    if (n < 0)
        throw EReadError();
    std::string r;
    // Grow with the data actually read, so a hostile length costs no more memory than the file.
    constexpr int32_t kPiece = 1 << 20;
    int32_t left = n;
    while (left > 0) {
        const int32_t want = std::min(left, kPiece);
        const size_t old = r.size();
        r.resize(old + static_cast<size_t>(want));
        const qint64 got = Stream.read(r.data() + old, want);
        if (got != want)
            throw EReadError();
        left -= want;
    }
    S = std::move(r);
}

void WriteLStr(QIODevice& Stream, const std::string& S) {
    if (S.size() > static_cast<size_t>(std::numeric_limits<int32_t>::max()))
        throw EWriteError();
    const uint32_t n = static_cast<uint32_t>(S.size());
    const char b[4] = {static_cast<char>(n & 255), static_cast<char>((n >> 8) & 255),
                       static_cast<char>((n >> 16) & 255), static_cast<char>((n >> 24) & 255)};
    if (Stream.write(b, 4) != 4)
        throw EWriteError();
    if (n != 0 && Stream.write(S.data(), static_cast<qint64>(n)) != static_cast<qint64>(n))
        throw EWriteError();
}

void NextLine(const std::string& Text, int& Pos, std::string& Line) {
    const int len = Len(Text);
    const int start = std::max(Pos, 1);
    int e = start;
    while (e <= len && Text[e - 1] != '\r' && Text[e - 1] != '\n')
        ++e;
    Line = start <= len ? Trim(Text.substr(start - 1, e - start)) : std::string();
    if (e < len && Text[e] == '\n')
        ++e;
    Pos = e + 1;
}

std::string GetValueOfKey(const std::string& Key, const std::string& Text) {
    // Runs for every row a list view draws: no copies until the value is found. A line ends at
    // any CR or LF (empty lines never match, so how NextLine pairs them does not matter).
    const auto IsBlank = [](char C) { return static_cast<unsigned char>(C) <= 32; };
    const auto TrimView = [&](std::string_view V) {
        while (!V.empty() && IsBlank(V.front()))
            V.remove_prefix(1);
        while (!V.empty() && IsBlank(V.back()))
            V.remove_suffix(1);
        return V;
    };
    const auto Lower = [](char C) { return C >= 'A' && C <= 'Z' ? static_cast<char>(C + 32) : C; };
    const std::string_view K = TrimView(Key);
    std::string_view Rest(Text);
    while (!Rest.empty()) {
        size_t End = 0; // find_first_of would call memchr for every byte
        while (End < Rest.size() && Rest[End] != '\r' && Rest[End] != '\n')
            ++End;
        const std::string_view Line = Rest.substr(0, End);
        Rest = End < Rest.size() ? Rest.substr(End + 1) : std::string_view();
        const size_t Eq = Line.find('=');
        if (Eq == std::string_view::npos)
            continue;
        const std::string_view Name = TrimView(Line.substr(0, Eq));
        if (Name.size() == K.size() && std::equal(Name.begin(), Name.end(), K.begin(),
                                                  [&](char A, char B) { return Lower(A) == Lower(B); }))
            return std::string(TrimView(Line.substr(Eq + 1)));
    }
    return std::string();
}

bool TimeInWindow(double Time, double Start, double Stop) {
    const int32_t t = TimeOfDayMs(Time);
    const int32_t a = TimeOfDayMs(Start);
    const int32_t b = TimeOfDayMs(Stop);
    if (a <= b)
        return a <= t && t < b;
    return t >= a || t < b;
}

std::string RandomFileName(const std::function<int(int)>& Random) {
    static const std::array<const char*, 9> kExtensions = {"mpeg", "pdf", "avi", "doc", "mpg",
                                                           "xls",  "wmv", "mp3", "dat"};
    std::string r;
    const int n1 = Random(3) + 3;
    for (int i = 0; i < n1; ++i)
        r.push_back(static_cast<char>(97 + Random(25)));
    r[0] = static_cast<char>(r[0] - 'a' + 'A');
    const int n2 = Random(4);
    if (n2 > 0) {
        r.push_back('_');
        for (int i = 0; i < n2; ++i)
            r.push_back(static_cast<char>(97 + Random(25)));
    }
    const int n3 = Random(3);
    for (int i = 0; i < n3; ++i)
        r.push_back(static_cast<char>(48 + Random(9)));
    r.push_back('.');
    r += kExtensions[static_cast<size_t>(Random(9))];
    return r;
}

std::string RandomFileName() {
    return RandomFileName([](int n) { return static_cast<int>(QRandomGenerator::global()->bounded(n)); });
}

bool SplitAt(const std::string& Sep, const std::string& Text, std::string& Before, std::string& After,
             bool TrimParts, bool CaseSensitive) {
    const size_t p = CaseSensitive ? Text.find(Sep) : LowerCaseAscii(Text).find(LowerCaseAscii(Sep));
    bool found = p != std::string::npos;
    std::string before, after;
    if (found) {
        before = Text.substr(0, p);
        after = Text.substr(p + Sep.size());
    } else {
        before = Text;
    }
    if (TrimParts) {
        before = Trim(before);
        after = Trim(after);
    }
    Before = std::move(before);
    After = std::move(after);
    return found;
}

void ParseUrl(const std::string& Url, std::string& Protocol, std::string& Host, std::string& Port,
              std::string& Path, std::string& User, std::string& Password) {
    std::string protocol, rest;
    if (!SplitAt("://", Url, protocol, rest, false, true)) {
        rest = Url;
        protocol.clear();
    }
    std::string authority, path;
    SplitAt("/", rest, authority, path);
    if (!path.empty() && path[0] != '/')
        path.insert(path.begin(), '/');
    std::string user;
    const size_t at = authority.rfind('@');
    if (at != std::string::npos) {
        user = authority.substr(0, at);
        authority.erase(0, at + 1);
    }
    std::string host, port, password;
    SplitAt(":", authority, host, port);
    SplitAt(":", user, user, password);
    Protocol = std::move(protocol);
    Host = std::move(host);
    Port = std::move(port);
    Path = std::move(path);
    User = std::move(user);
    Password = std::move(password);
}

bool ParseUrlWithPort(const std::string& Url, std::string& Protocol, std::string& Host, int32_t& Port,
                      std::string& User, std::string& Password) {
    std::string portText, path;
    ParseUrl(Url, Protocol, Host, portText, path, User, Password);
    int32_t port = 0;
    if (!TryStrToIntDecimal(portText, port))
        return false;
    Port = port;
    return !Host.empty() && Port >= 0 && Port <= 65535;
}

std::string FormatFloatThousands(double Value, int Decimals) {
    if (!std::isfinite(Value))
        return "???";
    Decimals = std::clamp(Decimals, 0, 18);
    const bool negative = std::signbit(Value) && Value != 0;
    const double a = std::fabs(Value);
    // Halves away from zero on the decimal text. The text is the value's 15 significant digits
    // (all a double holds reliably), so 2.5 gives 3 and 1.005 gives 1.01 rather than the binary
    // neighbours, while 8.49998 stays 8: rounding an already rounded short printout would carry a
    // digit that the value never had.
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.14e", a);
    const std::string sci = buf; // d.dddddddddddddde[+-]XX
    const size_t ePos = sci.find('e');
    const std::string mantissa = sci.substr(0, 1) + sci.substr(2, ePos - 2);
    const int exponent = std::atoi(sci.c_str() + ePos + 1);
    std::string intPart, frac;
    if (exponent >= 0) {
        const size_t intDigits = static_cast<size_t>(exponent) + 1;
        intPart = mantissa.substr(0, std::min(intDigits, mantissa.size()));
        if (intDigits > mantissa.size())
            intPart.append(intDigits - mantissa.size(), '0');
        else
            frac = mantissa.substr(intDigits);
    } else {
        intPart = "0";
        frac = std::string(static_cast<size_t>(-exponent - 1), '0') + mantissa;
    }
    const bool roundUp = frac.size() > static_cast<size_t>(Decimals) && frac[Decimals] >= '5';
    frac.resize(static_cast<size_t>(Decimals), '0');
    if (roundUp) {
        std::string all = intPart + frac;
        int i = static_cast<int>(all.size()) - 1;
        while (i >= 0 && all[i] == '9')
            all[i--] = '0';
        if (i >= 0)
            ++all[i];
        else
            all.insert(all.begin(), '1');
        intPart = all.substr(0, all.size() - Decimals);
        frac = all.substr(all.size() - Decimals);
    }
    std::string r;
    const int n = static_cast<int>(intPart.size());
    for (int i = 0; i < n; ++i) {
        if (i > 0 && (n - i) % 3 == 0)
            r.push_back(',');
        r.push_back(intPart[i]);
    }
    if (Decimals > 0)
        r += "." + frac;
    const bool allZero = r.find_first_not_of("0.,") == std::string::npos;
    if (negative && !allZero)
        r.insert(r.begin(), '-');
    return r;
}

std::string FormatText(const std::string& Fmt, std::initializer_list<TFormatArg> Args) {
    std::string r;
    size_t next = 0;
    const size_t n = Fmt.size();
    size_t i = 0;
    while (i < n) {
        const char c = Fmt[i];
        if (c != '%') {
            r.push_back(c);
            ++i;
            continue;
        }
        const size_t start = i++;
        if (i < n && Fmt[i] == '%') {
            r.push_back('%');
            ++i;
            continue;
        }
        auto readNumber = [&](int& out) {
            bool any = false;
            out = 0;
            while (i < n && Fmt[i] >= '0' && Fmt[i] <= '9') {
                out = std::min(out * 10 + (Fmt[i] - '0'), 100000);
                ++i;
                any = true;
            }
            return any;
        };
        // [index:][-][width][.precision]type
        int number = 0;
        const size_t save = i;
        if (readNumber(number) && i < n && Fmt[i] == ':')
            next = static_cast<size_t>(number), ++i;
        else
            i = save;
        bool left = false;
        if (i < n && Fmt[i] == '-')
            left = true, ++i;
        int width = 0;
        readNumber(width);
        int precision = -1;
        if (i < n && Fmt[i] == '.') {
            ++i;
            readNumber(precision);
        }
        if (i >= n) {
            r += Fmt.substr(start);
            break;
        }
        const char type = static_cast<char>(std::tolower(static_cast<unsigned char>(Fmt[i])));
        ++i;
        const TFormatArg* arg = next < Args.size() ? Args.begin() + next : nullptr;
        std::string piece;
        auto asInt = [&](int64_t& v) {
            if (!arg)
                return false;
            if (auto p = std::get_if<int64_t>(arg))
                return v = *p, true;
            if (auto d = std::get_if<double>(arg))
                return v = static_cast<int64_t>(std::isfinite(*d) ? std::clamp(*d, -9.2e18, 9.2e18) : 0.0),
                       true;
            return false;
        };
        auto asDouble = [&](double& v) {
            if (!arg)
                return false;
            if (auto p = std::get_if<int64_t>(arg))
                return v = static_cast<double>(*p), true;
            if (auto d = std::get_if<double>(arg))
                return v = *d, true;
            return false;
        };
        auto textOf = [&]() -> std::string {
            if (!arg)
                return std::string();
            if (auto s = std::get_if<std::string>(arg))
                return *s;
            if (auto p = std::get_if<int64_t>(arg))
                return std::to_string(*p);
            char b[64];
            std::snprintf(b, sizeof b, "%g", std::get<double>(*arg));
            return b;
        };
        int64_t iv = 0;
        double dv = 0;
        char buf[512];
        switch (type) {
        case 's':
            piece = textOf();
            if (precision >= 0 && piece.size() > static_cast<size_t>(precision))
                piece.resize(precision);
            break;
        case 'd':
            if (asInt(iv)) {
                // Negated as unsigned: the most negative value has no positive counterpart.
                piece = std::to_string(iv < 0 ? 0u - static_cast<uint64_t>(iv) : static_cast<uint64_t>(iv));
                if (precision > 0 && piece.size() < static_cast<size_t>(precision))
                    piece.insert(0, precision - piece.size(), '0');
                if (iv < 0)
                    piece.insert(piece.begin(), '-');
            } else {
                piece = textOf();
            }
            break;
        case 'u':
            if (asInt(iv))
                piece = std::to_string(static_cast<uint32_t>(iv));
            else
                piece = textOf();
            break;
        case 'x':
            if (asInt(iv)) {
                std::snprintf(buf, sizeof buf, "%llX", static_cast<unsigned long long>(iv));
                piece = buf;
                if (precision > 0 && piece.size() < static_cast<size_t>(precision))
                    piece.insert(0, precision - piece.size(), '0');
            } else {
                piece = textOf();
            }
            break;
        case 'f':
        case 'e':
        case 'g':
            if (asDouble(dv)) {
                const char f[] = {'%', '.', '*', type, 0};
                std::snprintf(buf, sizeof buf, f, std::clamp(precision < 0 ? 2 : precision, 0, 30), dv);
                piece = buf;
            } else {
                piece = textOf();
            }
            break;
        case 'n':
        case 'm':
            if (asDouble(dv))
                piece = FormatFloatThousands(dv, precision < 0 ? 2 : precision);
            else
                piece = textOf();
            break;
        default:
            r += Fmt.substr(start, i - start);
            continue;
        }
        ++next;
        if (piece.size() < static_cast<size_t>(width)) {
            const std::string pad(static_cast<size_t>(width) - piece.size(), ' ');
            piece = left ? piece + pad : pad + piece;
        }
        r += piece;
    }
    return r;
}

double QDateTimeToDateTime(const QDateTime& Value) {
    const QDateTime local = Value.toLocalTime();
    const double days = static_cast<double>(EpochDate().daysTo(local.date()));
    const double frac = local.time().msecsSinceStartOfDay() / kMsPerDay;
    // Negative date-times keep the time of day as a positive fraction after the sign.
    return days >= 0 ? days + frac : days - frac;
}

QDateTime DateTimeToQDateTime(double Value) {
    // Years 1..9999 only: a corrupt value (the jobs file stores date-times raw) must not
    // overflow the day count.
    if (!std::isfinite(Value) || Value <= kFirstDay - 1 || Value >= kLastDay + 1)
        return QDateTime();
    const double whole = std::trunc(Value);
    int64_t ms = std::llround(std::fabs(Value - whole) * kMsPerDay);
    int64_t days = static_cast<int64_t>(whole);
    if (ms >= static_cast<int64_t>(kMsPerDay)) {
        ms -= static_cast<int64_t>(kMsPerDay);
        days += Value < 0 ? -1 : 1;
    }
    return QDateTime(EpochDate().addDays(days), QTime::fromMSecsSinceStartOfDay(static_cast<int>(ms)));
}

double NowDateTime() {
    return QDateTimeToDateTime(QDateTime::currentDateTime());
}

double TimeOfDay(double Value) {
    if (!std::isfinite(Value))
        return 0;
    const double f = std::fabs(Value - std::trunc(Value));
    return f >= 1 ? 0 : f;
}

int32_t TimeOfDayMs(double Value) {
    int64_t ms = std::llround(TimeOfDay(Value) * kMsPerDay);
    if (ms >= static_cast<int64_t>(kMsPerDay))
        ms = 0;
    return static_cast<int32_t>(ms);
}

std::string FormatTimeOfDay(double Value) {
    int32_t s = static_cast<int32_t>(std::llround(TimeOfDayMs(Value) / 1000.0));
    s %= 86400;
    char buf[32];
    std::snprintf(buf, sizeof buf, "%d:%02d:%02d", s / 3600, (s / 60) % 60, s % 60);
    return buf;
}

bool TryParseTimeOfDay(const std::string& Text, double& Time) {
    std::string t = Trim(Text);
    int ampm = 0; // 0 none, 1 AM, 2 PM
    if (t.size() >= 2) {
        const std::string tail = UpperCaseAscii(t.substr(t.size() - 2));
        if (tail == "AM" || tail == "PM") {
            ampm = tail == "AM" ? 1 : 2;
            t = Trim(t.substr(0, t.size() - 2));
        }
    }
    size_t i = 0;
    auto digits = [&](size_t minCount, size_t maxCount, int& out) {
        size_t k = 0;
        out = 0;
        while (i < t.size() && k < maxCount && t[i] >= '0' && t[i] <= '9') {
            out = out * 10 + (t[i] - '0');
            ++i;
            ++k;
        }
        return k >= minCount;
    };
    int h = 0, m = 0, s = 0, ms = 0;
    if (!digits(1, 2, h) || i >= t.size() || t[i] != ':')
        return false;
    ++i;
    if (!digits(2, 2, m))
        return false;
    if (i < t.size() && t[i] == ':') {
        ++i;
        if (!digits(2, 2, s))
            return false;
        if (i < t.size() && t[i] == '.') {
            ++i;
            const size_t before = i;
            if (!digits(1, 3, ms))
                return false;
            for (size_t k = i - before; k < 3; ++k)
                ms *= 10;
        }
    }
    if (i != t.size() || m > 59 || s > 59)
        return false;
    if (ampm != 0) {
        if (h < 1 || h > 12)
            return false;
        h = h % 12 + (ampm == 2 ? 12 : 0);
    } else if (h > 23) {
        return false;
    }
    Time = (((h * 60 + m) * 60 + s) * 1000.0 + ms) / kMsPerDay;
    return true;
}

} // namespace quillo
