#pragma once
// Builds small ELF files in memory for the version-record tests and the fuzz target: an ELF
// header, the given sections and a section-name table, in either class and byte order.

#include <cstdint>
#include <string>
#include <vector>

namespace quillo_test {

struct TElfSection {
    std::string Name;
    std::string Data;
    uint32_t Type = 1; // SHT_PROGBITS; 8 is SHT_NOBITS
};

inline std::string MakeElfImage(const std::vector<TElfSection>& Sections, bool Is64 = true,
                                bool BigEndian = false) {
    auto Put = [BigEndian](std::string& Out, size_t At, uint64_t Value, int Width) {
        if (Out.size() < At + Width)
            Out.resize(At + Width, '\0');
        for (int I = 0; I < Width; ++I)
            Out[At + I] = static_cast<char>(Value >> (8 * (BigEndian ? Width - 1 - I : I)));
    };
    const size_t HeaderSize = Is64 ? 64 : 52;
    const size_t EntrySize = Is64 ? 64 : 40;
    std::string Out(HeaderSize, '\0');
    Out[0] = 0x7f;
    Out[1] = 'E';
    Out[2] = 'L';
    Out[3] = 'F';
    Out[4] = Is64 ? 2 : 1;
    Out[5] = BigEndian ? 2 : 1;
    Out[6] = 1;

    // Section 0 is the null section; then the given ones; last the name table.
    std::string Names(1, '\0');
    std::vector<uint64_t> NameAt, DataAt;
    for (const TElfSection& S : Sections) {
        NameAt.push_back(Names.size());
        Names += S.Name + '\0';
        DataAt.push_back(Out.size());
        Out += S.Data;
    }
    const uint64_t NamesName = Names.size();
    Names += std::string(".shstrtab") + '\0';
    const uint64_t NamesAt = Out.size();
    Out += Names;
    while (Out.size() % 8)
        Out += '\0';

    const uint64_t TableAt = Out.size();
    const size_t Count = Sections.size() + 2;
    Out.resize(TableAt + Count * EntrySize, '\0');
    auto Entry = [&](size_t Index, uint64_t Name, uint32_t Type, uint64_t Offset, uint64_t Size) {
        const size_t H = TableAt + Index * EntrySize;
        Put(Out, H, Name, 4);
        Put(Out, H + 4, Type, 4);
        Put(Out, H + (Is64 ? 0x18 : 0x10), Offset, Is64 ? 8 : 4);
        Put(Out, H + (Is64 ? 0x20 : 0x14), Size, Is64 ? 8 : 4);
    };
    for (size_t I = 0; I < Sections.size(); ++I)
        Entry(I + 1, NameAt[I], Sections[I].Type, DataAt[I], Sections[I].Data.size());
    Entry(Count - 1, NamesName, 3, NamesAt, Names.size());

    Put(Out, Is64 ? 0x28 : 0x20, TableAt, Is64 ? 8 : 4);
    Put(Out, Is64 ? 0x3A : 0x2E, EntrySize, 2);
    Put(Out, Is64 ? 0x3C : 0x30, Count, 2);
    Put(Out, Is64 ? 0x3E : 0x32, Count - 1, 2);
    return Out;
}

} // namespace quillo_test
