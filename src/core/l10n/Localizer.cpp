#include "core/l10n/Localizer.h"

#include "core/app/DataFolder.h"
#include "core/app/MyUtils.h"
#include "core/l10n/CodePage.h"
#include "core/l10n/ResMessages.h"
#include "core/l10n/ResStringer.h"
#include "core/l10n/StringUtils.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstdio>
#include <optional>

namespace quillo {

namespace {

std::string Quoted(const std::string& Text) {
    return "\"" + Text + "\"";
}

std::string JoinPath(const std::string& Dir, const std::string& Name) {
    if (Dir.empty() || Dir.back() == '/' || Dir.back() == '\\')
        return Dir + Name;
    return Dir + "/" + Name;
}

bool EndsWithLng(const std::string& Name) {
    return Name.size() >= 4 && SameTextAscii(Name.substr(Name.size() - 4), ".lng");
}

// The value of the first "Key=..." line, the name compared without regard to case and neither
// side trimmed.
std::optional<std::string> HeaderValue(const std::vector<std::string>& Lines, const std::string& Key) {
    for (const std::string& line : Lines) {
        const std::size_t equals = line.find('=');
        if (equals != std::string::npos && SameTextAscii(line.substr(0, equals), Key))
            return line.substr(equals + 1);
    }
    return std::nullopt;
}

std::string ReadLanguageFile(const std::string& Path) {
    const QString path = QString::fromStdString(Path);
    const QFileInfo info(path);
    if (!info.exists())
        throw std::runtime_error("Cannot open file " + Quoted(Path) + ". No such file.");
    // A folder, a pipe or a device is never opened: a pipe would block, a device never ends.
    if (!info.isFile())
        throw std::runtime_error("Cannot open file " + Quoted(Path) + ". It is not a regular file.");
    if (info.size() > MaxLanguageFileSize)
        throw std::runtime_error("Cannot open file " + Quoted(Path) + ". It is larger than " +
                                 std::to_string(MaxLanguageFileSize / (1024 * 1024)) + " MB.");
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw std::runtime_error("Cannot open file " + Quoted(Path) + ". " +
                                 file.errorString().toStdString());
    const QByteArray bytes = file.read(MaxLanguageFileSize + 1);
    if (file.error() != QFileDevice::NoError)
        throw std::runtime_error("Cannot read file " + Quoted(Path) + ". " +
                                 file.errorString().toStdString());
    return bytes.toStdString();
}

} // namespace

std::vector<std::string> SplitLanguageFileLines(const std::string& Text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t i = 0; i < Text.size(); ++i) {
        if (Text[i] != '\r' && Text[i] != '\n')
            continue;
        lines.push_back(Text.substr(start, i - start));
        if (Text[i] == '\r' && i + 1 < Text.size() && Text[i + 1] == '\n')
            ++i;
        start = i + 1;
    }
    if (start < Text.size())
        lines.push_back(Text.substr(start));
    return lines;
}

std::string InstalledLanguageFolder() {
    const std::string beside = JoinPath(ExecutableFolder(), "languages");
    const std::string shared = JoinPath(ExecutableFolder(), "../share/quillo/languages");
    if (!QFileInfo(QString::fromStdString(beside)).isDir() &&
        QFileInfo(QString::fromStdString(shared)).isDir())
        return QDir::cleanPath(QString::fromStdString(shared)).toStdString();
    return beside;
}

std::string UserLanguageFolder() {
    return JoinPath(DataFolder(), "languages");
}

TLocalizer& Localizer() {
    static TLocalizer localizer;
    return localizer;
}

std::string TLocalizer::LanguageFilePath(const std::string& Name) const {
    const std::string file = EndsWithLng(Name) ? Name : Name + ".lng";
    if (!file.empty() && file.front() == '/')
        return file;
    std::vector<std::string> dirs;
    for (const std::string& dir : {UserLanguageDirectory, LanguageDirectory})
        if (!dir.empty())
            dirs.push_back(dir);
    for (const std::string& dir : dirs) {
        const std::string path = JoinPath(dir, file);
        if (QFileInfo::exists(QString::fromStdString(path)))
            return path;
    }
    // A settings file written where names are compared without case ("german" for German.lng).
    if (file.find('/') == std::string::npos) {
        for (const std::string& dir : dirs) {
            std::vector<std::string> matches;
            for (const QString& entry :
                 QDir(QString::fromStdString(dir))
                     .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot))
                if (SameTextAscii(entry.toStdString(), file))
                    matches.push_back(entry.toStdString());
            if (matches.size() == 1)
                return JoinPath(dir, matches.front());
        }
    }
    return JoinPath(LanguageDirectory.empty() ? UserLanguageDirectory : LanguageDirectory, file);
}

const TResForm* TLocalizer::FindForm(const std::string& FormClass) const {
    for (const TResForm& form : Forms)
        if (form.FormClass == FormClass)
            return &form;
    return nullptr;
}

bool TLocalizer::LoadLanguageFile(const std::string& Name) {
    const std::string path = LanguageFilePath(Name);
    return Load(path, [&] { return ReadText(path, ReadLanguageFile(path)); });
}

bool TLocalizer::LoadLanguageText(const std::string& Path, const std::string& Bytes) {
    return Load(Path, [&] { return ReadText(Path, Bytes); });
}

bool TLocalizer::Load(const std::string& Path, const std::function<bool()>& Read) {
    Forms.clear();
    try {
        return Read();
    } catch (const std::exception& e) {
        ReportError("Error while loading language file " + Quoted(Path) + "\r\n" + e.what());
        return false;
    }
}

bool TLocalizer::ReadText(const std::string& Path, const std::string& Bytes) {
    const std::vector<std::string> lines = SplitLanguageFileLines(Bytes);

    int32_t codePage = cpUtf8;
    if (const auto value = HeaderValue(lines, "Codepage")) {
        if (!TryStrToInt(*value, codePage)) {
            ReportError("Bad codepage in language file " + Quoted(Path));
            return false;
        }
    }
    const TCodePageDecoder decoder(codePage);
    if (!decoder.Valid())
        throw std::runtime_error("The code page " + std::to_string(codePage) + " is not supported.");
    bool humanize = false;
    QString divider = QStringLiteral("\\");
    if (const auto value = HeaderValue(lines, "Humanize")) {
        humanize = *value == "1";
        if (const auto text = HeaderValue(lines, "HumanizeDivider"))
            divider = decoder.Decode(*text);
    }

    const auto report = [this](const std::string& Text) { ReportError(Text); };
    std::optional<std::size_t> current;
    std::size_t i = 1; // the first line is never a section or a property
    while (i < lines.size()) {
        const std::string& raw = lines[i];
        if (raw.empty() || raw[0] == ';') {
            ++i;
            continue;
        }
        if (raw[0] == '[') {
            ++i;
            if (UpperCaseAscii(raw) == "[RESOURCESTRINGS]") {
                LoadResourceStrings(lines, i, decoder, humanize, divider, report);
            } else if (raw.compare(1, 3, "(x)") == 0) {
                ReportError("Deleted component in language file:\r\n" + Quoted(raw) +
                            "\r\nYou have to remove it!");
                return false;
            } else {
                Forms.push_back({raw.size() >= 2 ? raw.substr(1, raw.size() - 2) : std::string(), {}, {}});
                current = Forms.size() - 1;
            }
            continue;
        }
        ++i;
        if (!current)
            continue;
        const QString line = decoder.Decode(raw);
        if (SkipMarkedLine(line, "You have to remove it!", report))
            continue;
        const qsizetype equals = line.indexOf(u'=');
        const QString key = equals < 0 ? line : line.left(equals);
        const QString path = key.left(key.indexOf(u'{') < 0 ? key.size() : key.indexOf(u'{'));
        if (path.isEmpty()) {
            ReportError("Bad line in language file: " + Quoted(line.toStdString()));
            return false;
        }
        const QString value = equals < 0 ? QString() : line.mid(equals + 1);
        TResForm& form = Forms[*current];
        form.PropertyValues.push_back(
            (humanize ? HumanizeValue(value, divider, QStringLiteral("\r")) : DecodeValue(value))
                .toStdString());
        form.PropertyPaths.push_back(path.toStdString());
    }
    if (AutoTranslateForms)
        TranslateAllForms();
    return true;
}

void TLocalizer::SetAutoTranslate(bool On) {
    if (On == AutoTranslateForms)
        return;
    AutoTranslateForms = On;
    if (FHooks.SetAutoTranslate)
        FHooks.SetAutoTranslate(On);
}

void TLocalizer::SetResourceStringTranslation(bool On) {
    SetResStringTranslationActive(On);
}

void TLocalizer::TranslateAllForms() {
    if (FHooks.TranslateAllForms)
        FHooks.TranslateAllForms();
}

void TLocalizer::ReportError(const std::string& Text) {
    switch (ErrorMode) {
    case emSilent:
        return;
    case emMessageBox:
        if (FMessageHandler)
            FMessageHandler(Text);
        else
            std::fprintf(stderr, "Localizer Error: %s\n", Text.c_str());
        return;
    case emRaise:
    default:
        throw ELocalizerError(Text);
    }
}

void TLocalizer::SetFormHooks(TLocalizerFormHooks Hooks) {
    FHooks = std::move(Hooks);
    if (FHooks.SetAutoTranslate)
        FHooks.SetAutoTranslate(AutoTranslateForms);
}

void TLocalizer::SetMessageHandler(TLocalizerMessageHandler Handler) {
    FMessageHandler = std::move(Handler);
}

} // namespace quillo
