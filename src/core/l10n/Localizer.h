#pragma once
// TLocalizer, the file side (module Localizer): reads a language file into one TResForm per form
// section and hands the file's resource-string section to the message table. Applying the
// sections to windows is the window layer's part (ui/LocalizerForms.h), which plugs itself in
// through SetFormHooks; the core knows no widgets.
//
// A language file is 8-bit text in the Windows code page its "Codepage" line names (UTF-8 when it
// names none). Header keys (Codepage, Humanize, HumanizeDivider) are found anywhere, the first
// line is never read as a section or property, "[RESOURCESTRINGS]" starts the message
// translations, any other "[Name]" a form section of property lines "Path{comment}=Value".
//
// One localizer per process (Localizer()); user-interface thread only.

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace quillo {

enum TErrorMode : uint8_t { emSilent = 0, emMessageBox = 1, emRaise = 2 };

// A report made with ErrorMode emRaise.
class ELocalizerError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// One form section: property assignments in file order; values decoded, UTF-8.
struct TResForm {
    std::string FormClass;
    std::vector<std::string> PropertyPaths;
    std::vector<std::string> PropertyValues;
};

// What the window layer offers the localizer.
struct TLocalizerFormHooks {
    // Switches the translation of windows created from now on.
    std::function<void(bool On)> SetAutoTranslate;
    // Applies Forms to every open window.
    std::function<void()> TranslateAllForms;
};

// How emMessageBox reports are shown (the window layer shows a box, quillo-cli prints).
using TLocalizerMessageHandler = std::function<void(const std::string& Text)>;

// The largest language file read; a bigger one is refused with a loading error.
inline constexpr std::int64_t MaxLanguageFileSize = 16 * 1024 * 1024;

class TLocalizer final {
public:
    TLocalizer() = default;
    TLocalizer(const TLocalizer&) = delete;
    TLocalizer& operator=(const TLocalizer&) = delete;

    std::vector<TResForm> Forms;
    bool AutoTranslateForms = false;
    // The shipped folder of language files; user files in UserLanguageDirectory win over it.
    std::string LanguageDirectory;
    std::string UserLanguageDirectory;
    TErrorMode ErrorMode = emSilent;

    // Loads Name (relative to the language folders, with or without ".lng"; an absolute path is
    // taken as it is). Problems go through ReportError; what was read before one stays. True when
    // the whole file was read and, with AutoTranslateForms, the open windows translated.
    bool LoadLanguageFile(const std::string& Name);
    // The file LoadLanguageFile reads for Name: the exact name in the user folder, then in the
    // shipped one; then the one entry of either folder that matches without regard to ASCII case.
    // A name found nowhere gives its path in the shipped folder (whose load then fails).
    std::string LanguageFilePath(const std::string& Name) const;
    // LoadLanguageFile for a file's content already in memory; Path names it in reports.
    bool LoadLanguageText(const std::string& Path, const std::string& Bytes);

    // The first section for a class name (exact, case included); null when there is none.
    const TResForm* FindForm(const std::string& FormClass) const;

    void SetAutoTranslate(bool On);
    void SetResourceStringTranslation(bool On);
    void TranslateAllForms();

    // emSilent: nothing; emMessageBox: the message handler ("Localizer Error" box); emRaise:
    // throws ELocalizerError.
    void ReportError(const std::string& Text);

    void SetFormHooks(TLocalizerFormHooks Hooks);
    void SetMessageHandler(TLocalizerMessageHandler Handler);

private:
    bool ReadText(const std::string& Path, const std::string& Bytes);
    // Runs a load: Forms emptied, any error ending it reported as a loading error of Path.
    bool Load(const std::string& Path, const std::function<bool()>& Read);
    TLocalizerFormHooks FHooks;
    TLocalizerMessageHandler FMessageHandler;
};

TLocalizer& Localizer();

// The shipped language files: "languages" beside the executable, else share/quillo/languages
// beside its bin folder (an installed program); the first when neither exists.
std::string InstalledLanguageFolder();
// The user's own: "languages" inside the data folder.
std::string UserLanguageFolder();

// The lines of a text: breaks at CR LF, CR or LF; a break at the very end makes no empty line.
std::vector<std::string> SplitLanguageFileLines(const std::string& Text);

} // namespace quillo
