#pragma once
// Small helpers shared by the fuzz targets.

#include <cstddef>
#include <string>
#include <vector>

namespace quillo_fuzz {

// A failed invariant stops the run at once, so libFuzzer keeps the input that broke it.
inline void Check(bool condition) {
    if (!condition)
        __builtin_trap();
}

inline bool HasLineBreak(const std::string& Text) {
    return Text.find_first_of("\r\n") != std::string::npos;
}

// Cuts the bytes into Count fields at 0xFF bytes (never at CR, LF or NUL: those are among the
// bytes the code under test must cope with).
inline std::vector<std::string> Fields(const std::string& Bytes, size_t Count) {
    std::vector<std::string> fields(Count);
    size_t i = 0;
    for (const char c : Bytes) {
        if (static_cast<unsigned char>(c) == 0xFF && i + 1 < Count)
            ++i;
        else
            fields[i].push_back(c);
    }
    return fields;
}

} // namespace quillo_fuzz
