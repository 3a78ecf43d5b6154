#pragma once
// TEXEVersionInfo: the version record of a program file (see VersionRecord.h for its layout),
// read from the file's ELF section headers. The file version packs into four bytes, major to
// build, each the low 8 bits of the record's 16-bit number (2.300.1.7 packs as 2.44.1.7).
//
// Any file may be given: one without the section, one that is not ELF at all, a truncated or
// damaged one. All of them give the packed versions 0 and no texts; the reader never trusts an
// offset or a length of the file before checking it against the file's size.
// Reading is thread-safe; the object is immutable after construction.

#include "core/app/VersionRecord.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace quillo {

// The texts the reader takes from the record, in this order.
inline constexpr std::array<const char*, 11> VersionKeys = {
    "CompanyName",     "FileDescription",  "FileVersion", "InternalName",   "LegalCopyright",
    "LegalTradeMarks", "OriginalFilename", "ProductName", "ProductVersion", "Comments",
    "Author"};

class TEXEVersionInfo final {
public:
    TEXEVersionInfo() = default;
    explicit TEXEVersionInfo(const std::string& FileName);
    // The same from a file's bytes in memory.
    static TEXEVersionInfo FromImage(const void* Data, std::size_t Size);

    // "Key=Value" for each key of VersionKeys found with a non-empty text, in that key order.
    std::vector<std::string> Values;
    std::uint32_t FileVersionPacked = 0;
    std::uint32_t ProductVersionPacked = 0;

    // The text of Key (compared without regard to ASCII case); empty when it is missing.
    std::string Value(const std::string& Key) const;

    // The bytes of the packed file version, highest first.
    int Major() const { return static_cast<int>(FileVersionPacked >> 24); }
    int Minor() const { return static_cast<int>((FileVersionPacked >> 16) & 0xFF); }
    int Release() const { return static_cast<int>((FileVersionPacked >> 8) & 0xFF); }
    int Build() const { return static_cast<int>(FileVersionPacked & 0xFF); }
};

// "%d.%d.%d.%d" of the four bytes, highest first (0x0102032D -> "1.2.3.45").
std::string FormatPackedVersion(std::uint32_t Packed);

// The running program's own record (its executable, /proc/self/exe), read on first use and kept
// until the process ends.
const TEXEVersionInfo& ProgramVersionInfo();

// What "--version" prints: "Program Version (ProductName)" and the copyright line, each ending in
// a newline, from Info (a record without texts still gives the packed version).
std::string VersionText(const std::string& Program, const TEXEVersionInfo& Info = ProgramVersionInfo());

// The bytes of a record: what the build embeds, for tests and tools. Texts are written in the
// given order into one table named Table (an empty Table writes no string table at all).
std::string BuildVersionRecord(TVersionNumbers File, TVersionNumbers Product,
                               const std::vector<std::pair<std::string, std::string>>& Texts,
                               const std::string& Table = VersionStringTable);

} // namespace quillo
