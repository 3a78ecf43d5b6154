// The translators' template and the shipped German translation, checked against the windows as
// they are built.
#include "core/app/Settings.h"
#include "core/l10n/Localizer.h"
#include "core/l10n/ResMessages.h"
#include "support/TestEnvironment.h"
#include "ui/FormBase.h"
#include "ui/LanguageTemplate.h"
#include "ui/LocalizerForms.h"

#include <QAction>
#include <QFile>
#include <QMenu>
#include <QMenuBar>
#include <QProcess>
#include <QRegularExpression>
#include <QWidget>

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace quillo {
namespace {

constexpr const char* kGermanFile = QUILLO_SOURCE_DIR "/languages/German.lng";

class LanguageFilesTest : public testing::Test {
protected:
    void SetUp() override {
        test::UseFreshHome();
        CommitSettings(TAppSettings{});
        FLocalizer.ErrorMode = emMessageBox;
        FLocalizer.SetMessageHandler([this](const std::string& Text) { FReports.push_back(Text); });
    }
    void TearDown() override {
        SetResStringList(nullptr);
        SetResStringTranslationActive(true);
    }
    std::set<int> LoadedMessageNumbers() const {
        std::set<int> numbers;
        if (const auto list = CurrentResStringList())
            for (const TResStringEntry& e : *list)
                numbers.insert(e.Number);
        return numbers;
    }
    static std::set<int> ProgramMessageNumbers() {
        std::set<int> numbers;
        for (int n = 0; n < 65536; ++n)
            if (IsProgramMessage(n))
                numbers.insert(n);
        return numbers;
    }
    // The printf-style places of a message: a translation must keep them, in the same order.
    static QStringList Places(const std::string& Text) {
        QStringList places;
        const QRegularExpression place(QStringLiteral("%[-0-9.]*[sdnuxe%]"));
        for (const auto& m : place.globalMatch(QString::fromStdString(Text)))
            places << m.captured();
        return places;
    }

    TLocalizer FLocalizer;
    std::vector<std::string> FReports;
};

TEST_F(LanguageFilesTest, GermanTranslatesEveryTextOfEveryWindowAndEveryMessage) {
    FLocalizer.LoadLanguageFile(kGermanFile);
    EXPECT_TRUE(FReports.empty()) << FReports.front();

    // What German.lng lacks, as template lines by section: the failure lists them ready to be
    // translated and pasted, so a window that gained texts is caught up with quickly.
    std::string lacking;
    for (const TFormTexts& form : CollectFormTexts()) {
        const TResForm* section = FLocalizer.FindForm(form.ClassName.toStdString());
        EXPECT_NE(section, nullptr) << "German.lng has no section [" << form.ClassName.toStdString() << "]";
        std::set<std::string> translated;
        if (section)
            for (const std::string& path : section->PropertyPaths)
                translated.insert(QString::fromStdString(path).toLower().toStdString());
        std::string lines;
        for (const TTranslatableText& text : form.Texts)
            if (!translated.count(QString::fromStdString(text.Path).toLower().toStdString())) {
                ADD_FAILURE() << "German.lng does not translate " << form.ClassName.toStdString() << " "
                              << text.Path << " (" << text.Lines.join(u'|').toStdString() << ")";
                lines += TemplateLine(text).toStdString() + "\n";
            }
        if (!lines.empty())
            lacking += "[" + form.ClassName.toStdString() + "]\n" + lines;
    }

    EXPECT_EQ(LoadedMessageNumbers(), ProgramMessageNumbers());
    for (const int n : LoadedMessageNumbers())
        EXPECT_TRUE(IsProgramMessage(n))
            << "German.lng translates " << n << ", which the program no longer has";
    std::string messages;
    for (const int n : ProgramMessageNumbers()) {
        if (ResString(n) == BuiltinResString(n)) {
            ADD_FAILURE() << n << " is left in English (" << BuiltinResString(n) << ")";
            messages += MessageTemplateLine(n).toStdString() + "\n";
        }
        EXPECT_EQ(Places(ResString(n)), Places(BuiltinResString(n)))
            << n << " (" << BuiltinResString(n) << ")";
    }
    if (!messages.empty())
        lacking += "[RESOURCESTRINGS]\n" + messages;

    EXPECT_TRUE(lacking.empty()) << "German.lng lacks these lines (English, to translate):\n" << lacking;
}

// A line for a text a window no longer has, a section for a window that is gone, a value the
// widget refuses: each would be silently skipped in the program, so they are caught here.
TEST_F(LanguageFilesTest, GermanAppliesToEveryWindowWithoutAReport) {
    TLocalizer& localizer = Localizer();
    localizer.ErrorMode = emMessageBox;
    localizer.SetMessageHandler([this](const std::string& Text) { FReports.push_back(Text); });
    ASSERT_TRUE(localizer.LoadLanguageFile(kGermanFile));

    std::set<std::string> windows;
    for (const TTranslatableForm& form : TranslatableForms()) {
        windows.insert(form.ClassName.toStdString());
        const std::unique_ptr<QWidget> window = form.Create();
        TranslateComponent(*window);
        for (const std::string& report : FReports)
            ADD_FAILURE() << form.ClassName.toStdString() << ": " << report;
        FReports.clear();
    }
    for (const TResForm& section : localizer.Forms)
        EXPECT_TRUE(windows.count(section.FormClass))
            << "German.lng has a section [" << section.FormClass << "] for no window";

    localizer.Forms.clear();
    localizer.ErrorMode = emSilent;
    localizer.SetMessageHandler(nullptr);
}

// The key after a single "&" ("&&" is a plain ampersand), lower-cased; empty when there is none.
QString AccessKey(const QString& Text) {
    for (qsizetype i = 0; i + 1 < Text.size(); ++i)
        if (Text[i] == u'&') {
            if (Text[i + 1] != u'&')
                return Text.mid(i + 1, 1).toLower();
            ++i;
        }
    return {};
}

// Two entries of one menu with the same key make that key only move between them.
TEST_F(LanguageFilesTest, GermanMenusGiveEachEntryItsOwnAccessKey) {
    TLocalizer& localizer = Localizer();
    ASSERT_TRUE(localizer.LoadLanguageFile(kGermanFile));
    for (const TTranslatableForm& form : TranslatableForms()) {
        const std::unique_ptr<QWidget> window = form.Create();
        TranslateComponent(*window);
        std::vector<std::pair<QString, QList<QAction*>>> menus;
        for (QMenuBar* bar : window->findChildren<QMenuBar*>())
            menus.emplace_back(QStringLiteral("the menu bar"), bar->actions());
        for (QMenu* menu : window->findChildren<QMenu*>())
            menus.emplace_back(menu->objectName(), menu->actions());
        for (const auto& [name, actions] : menus) {
            std::map<QString, QString> taken;
            for (const QAction* action : actions) {
                const QString key = AccessKey(action->text());
                if (key.isEmpty())
                    continue;
                const auto [it, fresh] = taken.emplace(key, action->text());
                EXPECT_TRUE(fresh) << form.ClassName.toStdString() << " " << name.toStdString() << ": \""
                                   << it->second.toStdString() << "\" and \"" << action->text().toStdString()
                                   << "\" share the key " << key.toStdString();
            }
        }
    }
    localizer.Forms.clear();
}

TEST(AccessKeyTest, IsTheLetterAfterASingleAmpersand) {
    EXPECT_EQ(AccessKey(QStringLiteral("E&xtras")), QStringLiteral("x"));
    EXPECT_EQ(AccessKey(QStringLiteral("&Datei")), QStringLiteral("d"));
    EXPECT_EQ(AccessKey(QStringLiteral("Links && &Mehr")), QStringLiteral("m"));
    EXPECT_EQ(AccessKey(QStringLiteral("Fenster anzeigen")), QString());
    EXPECT_EQ(AccessKey(QStringLiteral("A && B")), QString());
}

TEST_F(LanguageFilesTest, TheTemplateLoadsCleanlyAndListsEveryMessageOnce) {
    const QString path = test::MakeScratchDir(QStringLiteral("template")) + QStringLiteral("/Template.lng");
    QString error;
    ASSERT_TRUE(WriteLanguageTemplate(path, error)) << error.toStdString();
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(file.readAll());
    EXPECT_TRUE(text.contains(QStringLiteral("[TFrm_Languages]\nCaption='Select Language'\n")));
    EXPECT_TRUE(
        text.contains(QStringLiteral("65077_YouCanT='You can''t upload files as anonymous user.'\n")));

    FLocalizer.LoadLanguageFile(path.toStdString());
    EXPECT_TRUE(FReports.empty()) << FReports.front();
    EXPECT_EQ(LoadedMessageNumbers(), ProgramMessageNumbers());
    EXPECT_EQ(CurrentResStringList()->size(), ProgramMessageNumbers().size());
    for (const int n : ProgramMessageNumbers())
        EXPECT_EQ(ResString(n), BuiltinResString(n)) << n;
    ASSERT_NE(FLocalizer.FindForm("TFrm_Languages"), nullptr);
    EXPECT_FALSE(FLocalizer.FindForm("TFrm_Languages")->PropertyPaths.empty());
}

TEST_F(LanguageFilesTest, CollectingTheTextsPutsTheInstalledTranslationStepBack) {
    int translated = 0;
    const TFormTranslator before = SetFormTranslator([&translated](QWidget&) { ++translated; });
    const std::vector<TFormTexts> forms = CollectFormTexts();
    EXPECT_FALSE(forms.empty());
    EXPECT_EQ(translated, 0) << "the windows built for the template are not translated";
    QWidget plain;
    TranslateForm(plain);
    EXPECT_EQ(translated, 1);
    SetFormTranslator(before);
}

TEST_F(LanguageFilesTest, TheProgramWritesTheTemplate) {
    const QString path = test::MakeScratchDir(QStringLiteral("out")) + QStringLiteral("/t.lng");
    QProcess quillo;
    quillo.start(QStringLiteral(QUILLO_BINARY_DIR "/src/app/quillo"),
                 {QStringLiteral("--write-language-template"), path});
    ASSERT_TRUE(quillo.waitForFinished(60000));
    EXPECT_EQ(quillo.exitCode(), 0) << quillo.readAllStandardError().toStdString();
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_TRUE(file.readAll().contains("[RESOURCESTRINGS]\n65008_"));

    quillo.start(QStringLiteral(QUILLO_BINARY_DIR "/src/app/quillo"),
                 {QStringLiteral("--write-language-template"), path + QStringLiteral("/no/such/dir/t.lng")});
    ASSERT_TRUE(quillo.waitForFinished(60000));
    EXPECT_EQ(quillo.exitCode(), 1);
}

} // namespace
} // namespace quillo
