#include "cli/CliLanguage.h"

#include "core/l10n/Localizer.h"
#include "core/l10n/ResMessages.h"

#include <QFileInfo>

#include <iostream>

namespace quillo::cli {

namespace {

// Line ends as plain LF: every run of CRs right before a LF goes, in one pass.
std::string Lines(const std::string& Text) {
    std::string out;
    out.reserve(Text.size());
    for (std::size_t i = 0; i < Text.size(); ++i) {
        if (Text[i] == '\r') {
            std::size_t end = i;
            while (end < Text.size() && Text[end] == '\r')
                ++end;
            if (end < Text.size() && Text[end] == '\n') {
                i = end - 1;
                continue;
            }
        }
        out += Text[i];
    }
    return out;
}

} // namespace

int CmdCheckLanguage(const std::vector<std::string>& Args) {
    if (Args.size() != 1) {
        std::cerr << "quillo-cli: check-language needs exactly one language file\n";
        return 2;
    }
    const std::string path =
        QFileInfo(QString::fromLocal8Bit(Args[0].c_str())).absoluteFilePath().toStdString();
    int problems = 0;
    TLocalizer localizer;
    localizer.ErrorMode = emMessageBox;
    localizer.SetMessageHandler([&problems](const std::string& Text) {
        ++problems;
        std::cout << Lines(Text) << "\n\n";
    });
    SetResStringList(nullptr);
    localizer.LoadLanguageFile(path);

    const auto list = CurrentResStringList();
    std::size_t messages = 0;
    if (list) {
        messages = list->size();
        for (std::size_t i = 0; i < list->size(); ++i) {
            std::string text;
            const int number = (*list)[i].Number;
            if (FindResourceString(*list, number, text) && text == (*list)[i].Text)
                continue;
            ++problems;
            std::cout << "Resource string " << number << " will not be found: the numbers of the "
                      << "[RESOURCESTRINGS] section must be listed in ascending order, each once.\n\n";
        }
    }
    std::size_t properties = 0;
    for (const TResForm& form : localizer.Forms)
        properties += form.PropertyPaths.size();
    std::cout << path << ": " << localizer.Forms.size() << " form sections, " << properties << " properties, "
              << messages << " messages; "
              << (problems ? std::to_string(problems) + " problems" : "no problems") << ".\n";
    return problems ? 1 : 0;
}

} // namespace quillo::cli
