#pragma once
// The layout of the version record that the build places in every Quillo program (an ELF
// section of its own), and a compile-time builder for it. TEXEVersionInfo (EXEUtils.h) reads it
// back; BuildVersionRecord makes the same bytes at run time for tests.
//
// All numbers are little-endian, whatever the machine:
//   0  "QUILLOVR"                       8 bytes, the signature
//   8  u32 layout version (1)
//  12  u32 length of the whole record in bytes
//  16  u32 file version, most significant  (major << 16 | minor)
//  20  u32 file version, least significant (release << 16 | build)
//  24  u32 product version, most significant
//  28  u32 product version, least significant
//  32  string tables up to the record's length, each: a NUL-terminated table name ("040904E4":
//      US English, code page 1252, the only one the reader looks at), then pairs of NUL-terminated
//      key and value, ended by an empty key (a lone NUL).

#include <cstddef>
#include <cstdint>

namespace quillo {

inline constexpr const char* VersionRecordSection = ".quillo.version";
inline constexpr char VersionRecordSignature[8] = {'Q', 'U', 'I', 'L', 'L', 'O', 'V', 'R'};
inline constexpr std::uint32_t VersionRecordLayout = 1;
inline constexpr std::size_t VersionRecordHeaderSize = 32;
// A record is a few hundred bytes; anything much bigger is not one of ours.
inline constexpr std::size_t VersionRecordMaxSize = 64 * 1024;
inline constexpr const char* VersionStringTable = "040904E4";

// Four 16-bit numbers, as the build writes them: major.minor.release.build.
struct TVersionNumbers {
    std::uint16_t Major = 0;
    std::uint16_t Minor = 0;
    std::uint16_t Release = 0;
    std::uint16_t Build = 0;
};

template <std::size_t N> struct TVersionRecordImage { char Bytes[N]; };

namespace version_record_detail {
constexpr void PutU32(char* At, std::uint32_t Value) {
    for (int I = 0; I < 4; ++I)
        At[I] = static_cast<char>((Value >> (8 * I)) & 0xFF);
}
// The VersionRecordHeaderSize bytes at At, for a record of Length bytes in all.
constexpr void PutHeader(char* At, std::uint32_t Length, TVersionNumbers File, TVersionNumbers Product) {
    for (std::size_t I = 0; I < 8; ++I)
        At[I] = VersionRecordSignature[I];
    PutU32(At + 8, VersionRecordLayout);
    PutU32(At + 12, Length);
    PutU32(At + 16, static_cast<std::uint32_t>(File.Major) << 16 | File.Minor);
    PutU32(At + 20, static_cast<std::uint32_t>(File.Release) << 16 | File.Build);
    PutU32(At + 24, static_cast<std::uint32_t>(Product.Major) << 16 | Product.Minor);
    PutU32(At + 28, static_cast<std::uint32_t>(Product.Release) << 16 | Product.Build);
}
} // namespace version_record_detail

// The record of a program: Texts is the string-table part, e.g.
//   "040904E4\0ProductName\0Quillo Uploader\0Comments\0...\0" (the literal's own terminating NUL
// is the empty key that ends the table).
template <std::size_t N>
constexpr TVersionRecordImage<VersionRecordHeaderSize + N>
MakeVersionRecordImage(TVersionNumbers File, TVersionNumbers Product, const char (&Texts)[N]) {
    TVersionRecordImage<VersionRecordHeaderSize + N> Image{};
    version_record_detail::PutHeader(Image.Bytes, static_cast<std::uint32_t>(VersionRecordHeaderSize + N), File,
                                     Product);
    for (std::size_t I = 0; I < N; ++I)
        Image.Bytes[VersionRecordHeaderSize + I] = Texts[I];
    return Image;
}

} // namespace quillo
