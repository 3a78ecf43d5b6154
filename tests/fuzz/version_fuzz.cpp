// Feeds arbitrary bytes to the version-record reader, both as a whole program file and (first
// byte odd) as the contents of the record's section inside a well-formed ELF file of the class
// and byte order the first byte picks, so that the record parser itself is reached often.
// Besides not crashing: the texts are known keys in their fixed order with non-empty values,
// a file without a readable record has no texts, and the packed version prints as four bytes.
#include "../support/ElfImage.h"
#include "FuzzSupport.h"
#include "core/app/EXEUtils.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

using namespace quillo_fuzz;

void CheckInfo(const quillo::TEXEVersionInfo& Info) {
    size_t NextKey = 0;
    for (const std::string& Line : Info.Values) {
        const size_t Eq = Line.find('=');
        Check(Eq != std::string::npos && Eq + 1 < Line.size());
        const std::string Key = Line.substr(0, Eq);
        while (NextKey < quillo::VersionKeys.size() && Key != quillo::VersionKeys[NextKey])
            ++NextKey;
        Check(NextKey < quillo::VersionKeys.size());
        Check(Info.Value(Key) == Line.substr(Eq + 1));
        ++NextKey;
    }
    unsigned a = 0, b = 0, c = 0, d = 0;
    const std::string Text = quillo::FormatPackedVersion(Info.FileVersionPacked);
    Check(std::sscanf(Text.c_str(), "%u.%u.%u.%u", &a, &b, &c, &d) == 4);
    Check((a << 24 | b << 16 | c << 8 | d) == Info.FileVersionPacked);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    CheckInfo(quillo::TEXEVersionInfo::FromImage(data, size));
    if (size > 0 && (data[0] & 1)) {
        const std::string Record(reinterpret_cast<const char*>(data) + 1, size - 1);
        const std::string Image = quillo_test::MakeElfImage(
            {{".text", "\x90\x90"}, {quillo::VersionRecordSection, Record}}, (data[0] & 2) == 0, (data[0] & 4) != 0);
        const quillo::TEXEVersionInfo Info = quillo::TEXEVersionInfo::FromImage(Image.data(), Image.size());
        CheckInfo(Info);
        // What the record says cannot depend on how the file around it is laid out.
        const std::string Other = quillo_test::MakeElfImage({{quillo::VersionRecordSection, Record}}, true, false);
        const quillo::TEXEVersionInfo Again = quillo::TEXEVersionInfo::FromImage(Other.data(), Other.size());
        Check(Again.Values == Info.Values && Again.FileVersionPacked == Info.FileVersionPacked &&
              Again.ProductVersionPacked == Info.ProductVersionPacked);
    }
    return 0;
}
