#include "cli/CliText.h"

#include <cstdio>
#include <filesystem>
#include <system_error>
#include <vector>

namespace quillo::cli {

namespace {

// Length of the valid UTF-8 sequence at Text[i] (1 to 4) and its code point; 0 if none starts there.
int Utf8Sequence(std::string_view Text, std::size_t i, char32_t& cp) {
    const auto at = [&](std::size_t k) { return static_cast<unsigned char>(Text[k]); };
    const unsigned char b = at(i);
    if (b < 0x80) {
        cp = b;
        return 1;
    }
    int n = 0;
    unsigned char lo = 0x80, hi = 0xBF; // allowed range of the second byte
    if (b >= 0xC2 && b <= 0xDF) {
        n = 2;
        cp = b & 0x1F;
    } else if (b >= 0xE0 && b <= 0xEF) {
        n = 3;
        cp = b & 0x0F;
        lo = b == 0xE0 ? 0xA0 : 0x80; // no overlong forms
        hi = b == 0xED ? 0x9F : 0xBF; // no surrogates
    } else if (b >= 0xF0 && b <= 0xF4) {
        n = 4;
        cp = b & 0x07;
        lo = b == 0xF0 ? 0x90 : 0x80;
        hi = b == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (i + std::size_t(n) > Text.size())
        return 0;
    for (int k = 1; k < n; ++k) {
        const unsigned char c = at(i + std::size_t(k));
        if (c < (k == 1 ? lo : 0x80) || c > (k == 1 ? hi : 0xBF))
            return 0;
        cp = (cp << 6) | (c & 0x3F);
    }
    return n;
}

} // namespace

std::string Printable(std::string_view Text) {
    std::string out;
    out.reserve(Text.size());
    char escape[8];
    for (std::size_t i = 0; i < Text.size();) {
        char32_t cp = 0;
        const int n = Utf8Sequence(Text, i, cp);
        if (n == 0 || cp < 0x20 || cp == 0x7F) {
            std::snprintf(escape, sizeof escape, "\\x%02X", static_cast<unsigned char>(Text[i]));
            out += escape;
            ++i;
            continue;
        }
        if (cp >= 0x80 && cp <= 0x9F) {
            std::snprintf(escape, sizeof escape, "\\u%04X", static_cast<unsigned>(cp));
            out += escape;
        } else {
            out.append(Text.substr(i, std::size_t(n)));
        }
        i += std::size_t(n);
    }
    return out;
}

bool IsValidUtf8(std::string_view Text) {
    for (std::size_t i = 0; i < Text.size();) {
        char32_t cp = 0;
        const int n = Utf8Sequence(Text, i, cp);
        if (n == 0)
            return false;
        i += std::size_t(n);
    }
    return true;
}

std::string AbsolutePath(const std::string& Path) {
    if (Path.empty())
        return Path;
    std::string full = Path;
    if (full.front() != '/') {
        std::error_code error;
        full = std::filesystem::current_path(error).native() + "/" + full;
    }
    std::vector<std::string_view> parts;
    std::string_view rest = full;
    while (!rest.empty()) {
        const std::size_t slash = rest.find('/');
        const std::string_view part = rest.substr(0, slash);
        rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
        if (part.empty() || part == ".")
            continue;
        if (part == "..") {
            if (!parts.empty())
                parts.pop_back();
            continue;
        }
        parts.push_back(part);
    }
    std::string clean;
    for (std::string_view part : parts) {
        clean += '/';
        clean.append(part);
    }
    return clean.empty() ? "/" : clean;
}

} // namespace quillo::cli
