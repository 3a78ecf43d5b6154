#include "core/l10n/ResStringer.h"

#include "core/app/MyUtils.h"
#include "core/l10n/CodePage.h"
#include "core/l10n/ResMessages.h"
#include "core/l10n/StringUtils.h"

#include <memory>

namespace quillo {

namespace {

std::string Quoted(const QString& Line) {
    return "\"" + Line.toStdString() + "\"";
}

// Publishes what was read and puts translation back the way it was, also when a value that cannot
// be decoded ends the read half-way: messages then come out from the entries read so far instead
// of staying untranslated for the rest of the session.
class TPublishOnExit final {
public:
    explicit TPublishOnExit(std::shared_ptr<TResStringList> List)
        : FList(std::move(List)), FWasActive(ResStringTranslationActive()) {
        SetResStringTranslationActive(false);
    }
    ~TPublishOnExit() {
        const bool any = !FList->empty();
        SetResStringList(std::move(FList));
        SetResStringTranslationActive(FWasActive && any);
    }
    TPublishOnExit(const TPublishOnExit&) = delete;
    TPublishOnExit& operator=(const TPublishOnExit&) = delete;

private:
    std::shared_ptr<TResStringList> FList;
    bool FWasActive;
};

} // namespace

bool SkipMarkedLine(const QString& Line, const char* ObsoleteAdvice,
                    const std::function<void(const std::string&)>& Report) {
    if (Line.startsWith(QStringLiteral("(x)")))
        Report("Obsolete line in language file:\r\n" + Quoted(Line) + "\r\n" + ObsoleteAdvice);
    else if (Line.startsWith(QStringLiteral("(!)")))
        Report("Untranslated line in language file:\r\n" + Quoted(Line) + "\r\nYou have to translate it!");
    return Line.startsWith(u'(');
}

void LoadResourceStrings(const std::vector<std::string>& Lines, std::size_t& Index,
                         const TCodePageDecoder& Decoder, bool Humanize, const QString& Divider,
                         const std::function<void(const std::string&)>& Report) {
    auto list = std::make_shared<TResStringList>();
    TPublishOnExit publish(list);
    for (; Index < Lines.size(); ++Index) {
        const std::string& raw = Lines[Index];
        const QString line = Decoder.Decode(raw);
        if (line.startsWith(u'['))
            break;
        if (raw.empty() || raw[0] == ';')
            continue;
        if (SkipMarkedLine(line, "You have to delete it!", Report))
            continue;
        const qsizetype underscore = line.indexOf(u'_');
        const QString numberText = underscore < 0 ? line : line.left(underscore);
        int32_t number = 0;
        if (!TryStrToInt(numberText.toStdString(), number)) {
            // Such an entry would sit in the list under a number nobody asked for, and could
            // break the ascending order the lookup relies on: left out.
            Report("Bad resource ID in language file: " + Quoted(numberText));
            continue;
        }
        const QString rest = underscore < 0 ? QString() : line.mid(underscore + 1);
        const qsizetype equals = rest.indexOf(u'=');
        const QString value = equals < 0 ? QString() : rest.mid(equals + 1);
        const QString text =
            Humanize ? HumanizeValue(value, Divider, QStringLiteral("\r\n")) : DecodeValue(value);
        list->push_back({number, text.toStdString()});
    }
}

} // namespace quillo
