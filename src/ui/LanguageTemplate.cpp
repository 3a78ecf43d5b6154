#include "ui/LanguageTemplate.h"

#include "core/l10n/ResMessages.h"
#include "core/l10n/StringUtils.h"
#include "ui/DropWindow.h"
#include "ui/FormBase.h"
#include "ui/FrmAbout.h"
#include "ui/FrmLanguages.h"
#include "ui/MainWindow.h"
#include "ui/SettingsBox.h"
#include "ui/ShutDown.h"
#include "ui/UpTaskProps.h"

#include <QRegularExpression>
#include <QSaveFile>
#include <QWidget>

namespace quillo {

std::vector<TTranslatableForm> TranslatableForms() {
    return {
        {QStringLiteral("TMainWindow"), [] { return std::make_unique<TMainWindow>(TMainWindowStart{true}); }},
        {QStringLiteral("TFrmUploadTaskProperties"),
         [] { return std::make_unique<TFrmUploadTaskProperties>(nullptr); }},
        {QStringLiteral("TSettingsBox"), [] { return std::make_unique<TSettingsBox>(); }},
        // Without its one-second timer: the countdown must not run while its texts are taken.
        {QStringLiteral("TShutDownBox"),
         [] { return std::make_unique<TShutDownBox>(nullptr, TShutDownBoxOptions{false}); }},
        {QStringLiteral("TFrm_About"), [] { return std::make_unique<TFrm_About>(); }},
        {QStringLiteral("TFrm_Languages"), [] { return std::make_unique<TFrm_Languages>(); }},
        {QStringLiteral("Tfrm_droptarget"),
         [] { return std::make_unique<Tfrm_droptarget>(TDropWindowHooks{}); }},
    };
}

std::vector<TFormTexts> CollectFormTexts() {
    // The translation step is borrowed for the collection; whatever was installed comes back
    // afterwards, also when building a window throws (the borrowed one points into this frame).
    struct TRestore {
        TFormTranslator Previous = SetFormTranslator({});
        ~TRestore() { SetFormTranslator(std::move(Previous)); }
    } restore;
    std::vector<TFormTexts> result;
    for (const TTranslatableForm& form : TranslatableForms()) {
        TFormTexts texts{form.ClassName, {}};
        bool taken = false;
        // In place of the translation step: the texts as built, before the creation logic.
        SetFormTranslator([&](QWidget& Form) {
            if (!taken && FormClassName(Form) == form.ClassName) {
                texts.Texts = TranslatableTexts(Form);
                taken = true;
            }
        });
        const std::unique_ptr<QWidget> window = form.Create();
        if (!taken) // a window not built on TFormBase
            texts.Texts = TranslatableTexts(*window);
        result.push_back(std::move(texts));
    }
    return result;
}

namespace {

// "65036_Idle": the number and the first words of the English text.
QString MessageKey(int Number, const QString& English) {
    QString name;
    int words = 0;
    for (const QString& word :
         English.split(QRegularExpression(QStringLiteral("[^A-Za-z0-9]+")), Qt::SkipEmptyParts)) {
        if (words++ == 3)
            break;
        name += word.left(1).toUpper() + word.mid(1);
    }
    return QString::number(Number) + u'_' + name;
}

} // namespace

QString TemplateLine(const TTranslatableText& Text) {
    QStringList values;
    for (const QString& line : Text.Lines)
        values << EncodeLiteral(line);
    return QString::fromStdString(Text.Path) + u'=' + values.join(u' ');
}

QString MessageTemplateLine(int Number) {
    const QString english = QString::fromStdString(BuiltinResText(Number));
    return MessageKey(Number, english) + u'=' + EncodeLiteral(english);
}

QString LanguageTemplate() {
    QString out;
    out += QStringLiteral(
        "; Quillo language file. Translate the quoted texts and save the file as <Language>.lng\n");
    out += QStringLiteral("Codepage=65001\n");
    out += QStringLiteral(
        "; Texts stand in single quotes; a quote inside is written twice ('It''s'), #13#10 is a line\n"
        "; break, and the lines of a list are quoted one by one: 'One' 'Two'. An & marks the key\n"
        "; of a menu item or button. Keep %s, %d and %.0n: the program fills them in.\n");
    for (const TFormTexts& form : CollectFormTexts()) {
        out += u'\n' + QStringLiteral("[%1]\n").arg(form.ClassName);
        for (const TTranslatableText& text : form.Texts)
            out += TemplateLine(text) + u'\n';
    }
    out += QStringLiteral("\n[RESOURCESTRINGS]\n");
    for (int number = 0; number < 65536; ++number)
        if (IsProgramMessage(number))
            out += MessageTemplateLine(number) + u'\n';
    return out;
}

bool WriteLanguageTemplate(const QString& Path, QString& Error) {
    QSaveFile file(Path);
    if (!file.open(QIODevice::WriteOnly)) {
        Error = file.errorString();
        return false;
    }
    file.write(LanguageTemplate().toUtf8());
    if (!file.commit()) {
        Error = file.errorString();
        return false;
    }
    return true;
}

} // namespace quillo
