// Hostile language files: any bytes, in any of the code pages a file may name, must load without
// a crash, a hang or memory far beyond the input's size; what is read stays consistent.
#include "FuzzSupport.h"

#include "core/l10n/Localizer.h"
#include "core/l10n/ResMessages.h"
#include "core/l10n/StringUtils.h"

#include <cstddef>
#include <cstdint>
#include <string>

using quillo_fuzz::Check;

namespace {

const char* const kCodePages[] = {nullptr, "1250",  "1251", "1252", "932", "936",         "949", "950",
                                  "874",   "65001", "x",    "",     "-1",  "99999999999", "1253"};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
    if (Size == 0)
        return 0;
    // The first byte picks a code page line (added at the end, where header keys are still found)
    // and the error mode; the rest is the file.
    const uint8_t control = Data[0];
    std::string file(reinterpret_cast<const char*>(Data + 1), Size - 1);
    if (const char* codePage = kCodePages[control % (sizeof kCodePages / sizeof *kCodePages)])
        file += std::string("\nCodepage=") + codePage;

    quillo::TLocalizer localizer;
    size_t reported = 0;
    localizer.ErrorMode = (control & 0x80) ? quillo::emRaise : quillo::emMessageBox;
    localizer.SetMessageHandler([&reported](const std::string& Text) { reported += Text.size(); });
    try {
        localizer.LoadLanguageText("fuzz.lng", file);
    } catch (const quillo::ELocalizerError&) {
        Check(localizer.ErrorMode == quillo::emRaise);
    }

    // Every character of the file yields at most one character of a value (3 UTF-8 bytes for
    // a replacement character) plus one line break for a stray character.
    size_t total = 0;
    for (const quillo::TResForm& form : localizer.Forms) {
        Check(form.PropertyPaths.size() == form.PropertyValues.size());
        for (size_t i = 0; i < form.PropertyPaths.size(); ++i) {
            Check(!form.PropertyPaths[i].empty());
            total += form.PropertyPaths[i].size() + form.PropertyValues[i].size();
        }
    }
    if (const auto list = quillo::CurrentResStringList())
        for (const quillo::TResStringEntry& entry : *list) {
            total += entry.Text.size();
            std::string text;
            quillo::FindResourceString(*list, entry.Number, text);
        }
    Check(total <= 4 * file.size() + 16);
    quillo::SetResStringList(nullptr);

    // The decoder on its own, on the file as UTF-16 text.
    const QString text = QString::fromUtf8(file.data(), static_cast<qsizetype>(file.size()));
    try {
        const QString decoded = quillo::DecodeValue(text);
        Check(decoded.size() <= 2 * text.size() + 1);
        Check(quillo::DecodeValue(quillo::EncodeLiteral(decoded)) == decoded);
    } catch (const quillo::EDecodeError&) {
    }
    return 0;
}
