#include "core/app/EXEUtils.h"

#include "core/app/MyUtils.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <sys/stat.h>
#include <unistd.h>

namespace quillo {

namespace {

// Random access to the bytes of a file or of an image in memory. Read fails, rather than reads
// short, when the range is not wholly inside.
class TByteSource {
public:
    virtual ~TByteSource() = default;
    virtual uint64_t Size() const = 0;
    virtual bool Read(uint64_t Offset, void* Buffer, size_t Length) const = 0;

protected:
    bool Inside(uint64_t Offset, uint64_t Length) const {
        return Offset <= Size() && Length <= Size() - Offset;
    }
};

class TMemorySource final : public TByteSource {
public:
    TMemorySource(const void* Data, size_t Size)
        : FData(static_cast<const unsigned char*>(Data)), FSize(Size) {}
    uint64_t Size() const override { return FSize; }
    bool Read(uint64_t Offset, void* Buffer, size_t Length) const override {
        if (!Inside(Offset, Length))
            return false;
        if (Length)
            std::memcpy(Buffer, FData + Offset, Length);
        return true;
    }

private:
    const unsigned char* FData;
    size_t FSize;
};

class TFileSource final : public TByteSource {
public:
    explicit TFileSource(const std::string& FileName) {
        FFd = ::open(FileName.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        struct stat St {};
        // Only regular files: a pipe or a device would block or never end.
        if (FFd >= 0 && ::fstat(FFd, &St) == 0 && S_ISREG(St.st_mode))
            FSize = static_cast<uint64_t>(St.st_size);
    }
    ~TFileSource() override {
        if (FFd >= 0)
            ::close(FFd);
    }
    TFileSource(const TFileSource&) = delete;
    TFileSource& operator=(const TFileSource&) = delete;

    uint64_t Size() const override { return FSize; }
    bool Read(uint64_t Offset, void* Buffer, size_t Length) const override {
        if (FFd < 0 || !Inside(Offset, Length))
            return false;
        auto* At = static_cast<char*>(Buffer);
        while (Length > 0) {
            const ssize_t N = ::pread(FFd, At, Length, static_cast<off_t>(Offset));
            if (N < 0 && errno == EINTR)
                continue;
            if (N <= 0)
                return false; // the file shrank under us, or cannot be read
            At += N;
            Offset += static_cast<uint64_t>(N);
            Length -= static_cast<size_t>(N);
        }
        return true;
    }

private:
    int FFd = -1;
    uint64_t FSize = 0;
};

// Reads the integers of an ELF file in its own class (32 or 64 bits) and byte order.
class TElfFile {
public:
    explicit TElfFile(const TByteSource& Source) : FSource(Source) {}

    bool Open() {
        unsigned char Ident[16];
        if (!FSource.Read(0, Ident, sizeof Ident) || std::memcmp(Ident,
                                                                 "\x7f"
                                                                 "ELF",
                                                                 4) != 0)
            return false;
        if ((Ident[4] != 1 && Ident[4] != 2) || (Ident[5] != 1 && Ident[5] != 2))
            return false;
        F64 = Ident[4] == 2;
        FBigEndian = Ident[5] == 2;
        return true;
    }

    // Offset and size of the first section called Name that has contents in the file.
    bool FindSection(const char* Name, uint64_t& Offset, uint64_t& Size) const {
        uint64_t TableOffset = 0, EntrySize = 0, Count = 0, NamesIndex = 0;
        if (!Get(F64 ? 0x28 : 0x20, F64 ? 8 : 4, TableOffset) || !Get(F64 ? 0x3A : 0x2E, 2, EntrySize) ||
            !Get(F64 ? 0x3C : 0x30, 2, Count) || !Get(F64 ? 0x3E : 0x32, 2, NamesIndex))
            return false;
        if (TableOffset == 0 || EntrySize < (F64 ? 64u : 40u) || TableOffset >= FSource.Size())
            return false;
        // Many sections: the real count and name-table index live in section 0.
        if (Count == 0 && !Get(TableOffset + SizeField(), F64 ? 8 : 4, Count))
            return false;
        if (NamesIndex == 0xFFFF && !Get(TableOffset + LinkField(), 4, NamesIndex))
            return false;
        // Never walk past the end of the file, whatever the header claims.
        Count = std::min(Count, (FSource.Size() - TableOffset) / EntrySize);
        if (NamesIndex >= Count)
            return false;

        uint64_t NamesOffset = 0, NamesSize = 0;
        if (!Contents(TableOffset + NamesIndex * EntrySize, NamesOffset, NamesSize))
            return false;

        const size_t NameLength = std::strlen(Name) + 1;
        std::string Candidate(NameLength, '\0');
        for (uint64_t I = 0; I < Count; ++I) {
            const uint64_t Header = TableOffset + I * EntrySize;
            uint64_t NameAt = 0;
            if (!Get(Header, 4, NameAt) || NameAt >= NamesSize || NamesSize - NameAt < NameLength)
                continue;
            if (!FSource.Read(NamesOffset + NameAt, Candidate.data(), NameLength) ||
                std::memcmp(Candidate.data(), Name, NameLength) != 0)
                continue;
            if (Contents(Header, Offset, Size))
                return true;
        }
        return false;
    }

private:
    uint64_t SizeField() const { return F64 ? 0x20 : 0x14; }
    uint64_t LinkField() const { return F64 ? 0x28 : 0x18; }

    // A section's bytes when it has some in the file (not SHT_NOBITS) and they lie inside it.
    bool Contents(uint64_t Header, uint64_t& Offset, uint64_t& Size) const {
        constexpr uint64_t ShtNobits = 8;
        uint64_t Type = 0;
        if (!Get(Header + 4, 4, Type) || Type == ShtNobits ||
            !Get(Header + (F64 ? 0x18 : 0x10), F64 ? 8 : 4, Offset) ||
            !Get(Header + SizeField(), F64 ? 8 : 4, Size))
            return false;
        return Offset <= FSource.Size() && Size <= FSource.Size() - Offset;
    }

    bool Get(uint64_t Offset, int Width, uint64_t& Value) const {
        unsigned char Bytes[8];
        if (!FSource.Read(Offset, Bytes, static_cast<size_t>(Width)))
            return false;
        Value = 0;
        for (int I = 0; I < Width; ++I) {
            const int Shift = FBigEndian ? 8 * (Width - 1 - I) : 8 * I;
            Value |= static_cast<uint64_t>(Bytes[I]) << Shift;
        }
        return true;
    }

    const TByteSource& FSource;
    bool F64 = false;
    bool FBigEndian = false;
};

uint32_t GetU32(const std::string& Bytes, size_t At) {
    uint32_t Value = 0;
    for (int I = 0; I < 4; ++I)
        Value |= static_cast<uint32_t>(static_cast<unsigned char>(Bytes[At + I])) << (8 * I);
    return Value;
}

// The low byte of each 16-bit number, major to build.
uint32_t Pack(uint32_t Most, uint32_t Least) {
    return ((Most >> 16) & 0xFF) << 24 | (Most & 0xFF) << 16 | ((Least >> 16) & 0xFF) << 8 | (Least & 0xFF);
}

// The NUL-terminated text at Pos, which must end before Limit; Pos moves past its NUL.
bool NextText(const std::string& Record, size_t Limit, size_t& Pos, std::string& Text) {
    const size_t End = Record.find('\0', Pos);
    if (End == std::string::npos || End >= Limit)
        return false;
    Text.assign(Record, Pos, End - Pos);
    Pos = End + 1;
    return true;
}

// Fills Info from a whole record; false (Info untouched) when it is damaged in any way.
bool ParseRecord(const std::string& Record, TEXEVersionInfo& Info) {
    if (Record.size() < VersionRecordHeaderSize ||
        std::memcmp(Record.data(), VersionRecordSignature, sizeof VersionRecordSignature) != 0 ||
        GetU32(Record, 8) != VersionRecordLayout)
        return false;
    const uint32_t Length = GetU32(Record, 12);
    if (Length < VersionRecordHeaderSize || Length > Record.size())
        return false;

    // First occurrence of each key (ASCII case ignored) in the US English table.
    std::map<std::string, std::string> Texts;
    size_t Pos = VersionRecordHeaderSize;
    std::string Table, Key, Value;
    while (Pos < Length) {
        if (!NextText(Record, Length, Pos, Table))
            return false;
        if (Table.empty())
            break; // padding after the last table
        const bool Wanted = SameTextAscii(Table, VersionStringTable);
        for (;;) {
            if (!NextText(Record, Length, Pos, Key))
                return false;
            if (Key.empty())
                break;
            if (!NextText(Record, Length, Pos, Value))
                return false;
            if (Wanted)
                Texts.emplace(UpperCaseAscii(Key), Value);
        }
    }

    Info.FileVersionPacked = Pack(GetU32(Record, 16), GetU32(Record, 20));
    Info.ProductVersionPacked = Pack(GetU32(Record, 24), GetU32(Record, 28));
    for (const char* K : VersionKeys) {
        const auto It = Texts.find(UpperCaseAscii(K));
        if (It != Texts.end() && !It->second.empty())
            Info.Values.push_back(std::string(K) + "=" + It->second);
    }
    return true;
}

TEXEVersionInfo ReadVersionInfo(const TByteSource& Source) {
    TEXEVersionInfo Info;
    TElfFile Elf(Source);
    uint64_t Offset = 0, Size = 0;
    if (!Elf.Open() || !Elf.FindSection(VersionRecordSection, Offset, Size) ||
        Size < VersionRecordHeaderSize || Size > VersionRecordMaxSize)
        return Info;
    std::string Record(static_cast<size_t>(Size), '\0');
    if (!Source.Read(Offset, Record.data(), Record.size()) || !ParseRecord(Record, Info))
        return TEXEVersionInfo();
    return Info;
}

} // namespace

TEXEVersionInfo::TEXEVersionInfo(const std::string& FileName) {
    *this = ReadVersionInfo(TFileSource(FileName));
}

TEXEVersionInfo TEXEVersionInfo::FromImage(const void* Data, std::size_t Size) {
    return ReadVersionInfo(TMemorySource(Data, Data ? Size : 0));
}

std::string TEXEVersionInfo::Value(const std::string& Key) const {
    for (const std::string& Line : Values) {
        const size_t Eq = Line.find('=');
        if (Eq != std::string::npos && SameTextAscii(Line.substr(0, Eq), Key))
            return Line.substr(Eq + 1);
    }
    return std::string();
}

std::string FormatPackedVersion(std::uint32_t Packed) {
    return FormatText("%d.%d.%d.%d", {int64_t(Packed >> 24), int64_t((Packed >> 16) & 255),
                                      int64_t((Packed >> 8) & 255), int64_t(Packed & 255)});
}

const TEXEVersionInfo& ProgramVersionInfo() {
    static const TEXEVersionInfo Info("/proc/self/exe");
    return Info;
}

std::string VersionText(const std::string& Program, const TEXEVersionInfo& Info) {
    std::string version = Info.Value("FileVersion");
    if (version.empty())
        version = FormatPackedVersion(Info.FileVersionPacked);
    std::string text = Program + " " + version;
    if (const std::string product = Info.Value("ProductName"); !product.empty())
        text += " (" + product + ")";
    text += "\n";
    if (const std::string copyright = Info.Value("LegalCopyright"); !copyright.empty())
        text += copyright + "\n";
    return text;
}

std::string BuildVersionRecord(TVersionNumbers File, TVersionNumbers Product,
                               const std::vector<std::pair<std::string, std::string>>& Texts,
                               const std::string& Table) {
    std::string Record(VersionRecordHeaderSize, '\0');
    if (!Table.empty()) {
        Record += Table + '\0';
        for (const auto& [Key, Value] : Texts)
            Record += Key + '\0' + Value + '\0';
        Record += '\0';
    }
    version_record_detail::PutHeader(Record.data(), static_cast<uint32_t>(Record.size()), File, Product);
    return Record;
}

} // namespace quillo
