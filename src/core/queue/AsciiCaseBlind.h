#pragma once
// Hashing and comparing paths the way the queue matches them: equal when they differ at most in
// the case of ASCII letters (other bytes, UTF-8 or not, must match exactly).

#include <cstddef>
#include <string_view>

namespace quillo {

constexpr unsigned char FoldAscii(unsigned char c) {
    return c >= 'a' && c <= 'z' ? static_cast<unsigned char>(c - 'a' + 'A') : c;
}

struct TAsciiCaseBlindHash {
    std::size_t operator()(std::string_view s) const noexcept {
        std::size_t h = 14695981039346656037ull; // FNV-1a
        for (const char c : s)
            h = (h ^ FoldAscii(static_cast<unsigned char>(c))) * 1099511628211ull;
        return h;
    }
};

struct TAsciiCaseBlindEqual {
    bool operator()(std::string_view a, std::string_view b) const noexcept {
        if (a.size() != b.size())
            return false;
        for (std::size_t i = 0; i < a.size(); ++i)
            if (FoldAscii(static_cast<unsigned char>(a[i])) != FoldAscii(static_cast<unsigned char>(b[i])))
                return false;
        return true;
    }
};

} // namespace quillo
