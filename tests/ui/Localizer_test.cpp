// Windows translated from language files, and the language dialog, on small windows of our own.
#include "core/app/DataFolder.h"
#include "core/app/Settings.h"
#include "core/l10n/Localizer.h"
#include "core/l10n/ResMessages.h"
#include "support/TestEnvironment.h"
#include "ui/FormBase.h"
#include "ui/FrmLanguages.h"
#include "ui/LocalizerForms.h"
#include "ui/MessageBox.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace quillo {

class TTestBaseForm : public TFormBase<QDialog> {
    Q_OBJECT
public:
    explicit TTestBaseForm(QWidget* Parent = nullptr) : TFormBase<QDialog>(Parent) {}
    QPushButton* Button1 = nullptr;
    QLabel* Label1 = nullptr;

protected:
    void CreateWidgets() override {
        setObjectName(QStringLiteral("TestForm"));
        setWindowTitle(QStringLiteral("Test"));
        auto* layout = new QVBoxLayout(this);
        Button1 = Add<QPushButton>(layout, "Button1");
        Button1->setText(QStringLiteral("Apply"));
        Label1 = Add<QLabel>(layout, "Label1");
        Label1->setText(QStringLiteral("Label"));
    }
    template <class T> T* Add(QVBoxLayout* Layout, const char* Name, QWidget* Parent = nullptr) {
        auto* w = new T(Parent ? Parent : this);
        w->setObjectName(QString::fromLatin1(Name));
        if (!Parent)
            Layout->addWidget(w);
        return w;
    }
};

class TTestForm final : public TTestBaseForm {
    Q_OBJECT
public:
    explicit TTestForm(QWidget* Parent = nullptr) : TTestBaseForm(Parent) { CreateForm(); }
    QFrame* Panel1 = nullptr;
    QPushButton* Button2 = nullptr;
    QGroupBox* GroupBox1 = nullptr;
    QComboBox* ComboBox2 = nullptr;
    QListWidget* ListBox1 = nullptr;
    QPlainTextEdit* Memo1 = nullptr;
    QLineEdit* Edit1 = nullptr;
    QTabWidget* PageControl1 = nullptr;
    QWidget* TabSheet1 = nullptr;
    QTreeWidget* ListView1 = nullptr;
    QGroupBox* RadioGroup1 = nullptr;
    QAction* act_go = nullptr;
    QMenu* mi_File = nullptr;
    QLabel* LabelSetInCode = nullptr;

protected:
    void CreateWidgets() override {
        TTestBaseForm::CreateWidgets();
        auto* layout = static_cast<QVBoxLayout*>(this->layout());
        Panel1 = Add<QFrame>(layout, "Panel1");
        Button2 = Add<QPushButton>(layout, "Button2", Panel1);
        Button2->setText(QStringLiteral("Inside"));
        GroupBox1 = Add<QGroupBox>(layout, "GroupBox1");
        GroupBox1->setTitle(QStringLiteral("Group"));
        ComboBox2 = Add<QComboBox>(layout, "ComboBox2");
        ComboBox2->addItem(QStringLiteral("8 KB"), 8);
        ComboBox2->addItem(QStringLiteral("32 KB"), 32);
        ComboBox2->addItem(QStringLiteral("512 KB"), 512);
        ComboBox2->addItem(QStringLiteral("1024 KB"), 1024);
        ListBox1 = Add<QListWidget>(layout, "ListBox1");
        ListBox1->addItems({QStringLiteral("one"), QStringLiteral("two")});
        Memo1 = Add<QPlainTextEdit>(layout, "Memo1");
        Memo1->setPlainText(QStringLiteral("first\nsecond\nthird"));
        Edit1 = Add<QLineEdit>(layout, "Edit1");
        Edit1->setPlaceholderText(QStringLiteral("Type here"));
        PageControl1 = Add<QTabWidget>(layout, "PageControl1");
        TabSheet1 = new QWidget;
        TabSheet1->setObjectName(QStringLiteral("TabSheet1"));
        PageControl1->addTab(TabSheet1, QStringLiteral("General"));
        ListView1 = Add<QTreeWidget>(layout, "ListView1");
        ListView1->setHeaderLabels({QStringLiteral("File"), QStringLiteral("Size"), QStringLiteral("State")});
        RadioGroup1 = Add<QGroupBox>(layout, "RadioGroup1");
        for (const char* text : {"Off", "Low", "High"})
            new QRadioButton(QString::fromLatin1(text), RadioGroup1);
        act_go = new QAction(QStringLiteral("Go"), this);
        act_go->setObjectName(QStringLiteral("act_go"));
        mi_File = new QMenu(QStringLiteral("File"), this);
        mi_File->setObjectName(QStringLiteral("mi_File"));
        LabelSetInCode = Add<QLabel>(layout, "LabelSetInCode");
        LabelSetInCode->setText(QStringLiteral("built"));
    }
    void FormCreate() override { LabelSetInCode->setText(QStringLiteral("set in code")); }
};

namespace {

class FormTranslationTest : public testing::Test {
protected:
    void SetUp() override {
        FHome = test::UseFreshHome();
        CommitSettings(TAppSettings{});
        SetUpLanguages();
        FFolder = UserLanguageFolder();
        QDir().mkpath(QString::fromStdString(FFolder));
        Localizer().ErrorMode = emMessageBox;
        Localizer().SetMessageHandler([this](const std::string& Text) { FReports.push_back(Text); });
    }
    void TearDown() override {
        Localizer().SetAutoTranslate(false);
        Localizer().Forms.clear();
        Localizer().ErrorMode = emSilent;
        Localizer().SetMessageHandler(nullptr);
        SetResStringList(nullptr);
        SetResStringTranslationActive(true);
        SetMessageBoxHandler(nullptr);
        CommitSettings(TAppSettings{});
    }
    void WriteLanguage(const std::string& Name, const std::string& Text) {
        QFile f(QString::fromStdString(FFolder + "/" + Name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(Text.data(), static_cast<qint64>(Text.size()));
    }
    void UseLanguage(const std::string& Name) {
        UpdateSettings([&](TAppSettings& S) { S.General.LanguageFile = Name; });
        ApplyLanguage();
    }
    // Answers the modal language dialog once it runs.
    static void WhenDialogRuns(std::function<void(TFrm_Languages&)> Act) {
        QTimer::singleShot(0, [Act] {
            auto* dialog = qobject_cast<TFrm_Languages*>(QApplication::activeModalWidget());
            ASSERT_NE(dialog, nullptr);
            Act(*dialog);
        });
    }

    QString FHome;
    std::string FFolder;
    std::vector<std::string> FReports;
};

const char* const kGermanTest = R"(German test file
Codepage=1252
[TTestBaseForm]
Caption='Basis'
Button1.Caption='&Übernehmen'
Label1.Caption='Beschriftung'
[TTestForm]
Caption{Test}='Prüfung'
Panel1.Button2.Caption='Drinnen'
GroupBox1.Caption='Gruppe'
TabSheet1.Caption='Allgemein'
ListView1.Columns.(1).Caption='Größe'
ListView1.Columns.(7).Caption='zu weit'
Button1.Hint='Wendet an'
Edit1.TextHint='Hier tippen'
act_go.Caption='Los'
mi_File.Caption='&Datei'
RadioGroup1.Items.x='Aus' 'Niedrig' 'Hoch'
NoSuchThing.Caption='x'
Button1.Caption ='blank'
Edit1.Enabled='False'
ListBox1.Items.Strings='eins' 'zwei' 'drei'
LabelSetInCode.Caption='übersetzt'
)";

TEST_F(FormTranslationTest, AWindowIsTranslatedFromAFile) {
    // Written in code page 1252, as its header says.
    WriteLanguage("German.lng", QString::fromUtf8(kGermanTest).toLatin1().toStdString());
    TTestForm before;
    UseLanguage("German");
    TTestForm& f = before;
    EXPECT_EQ(f.windowTitle(), QStringLiteral("Prüfung")); // the class's own section after its base's
    EXPECT_EQ(f.Button1->text(), QStringLiteral("&Übernehmen"));
    EXPECT_EQ(f.Button1->toolTip(), QStringLiteral("Wendet an"));
    EXPECT_EQ(f.Button1->statusTip(), QStringLiteral("Wendet an"));
    EXPECT_EQ(f.Label1->text(), QStringLiteral("Beschriftung"));
    EXPECT_EQ(f.Button2->text(), QStringLiteral("Drinnen"));
    EXPECT_EQ(f.GroupBox1->title(), QStringLiteral("Gruppe"));
    EXPECT_EQ(f.PageControl1->tabText(0), QStringLiteral("Allgemein"));
    EXPECT_EQ(f.ListView1->headerItem()->text(1), QStringLiteral("Größe"));
    EXPECT_EQ(f.ListView1->headerItem()->text(2), QStringLiteral("State"));
    EXPECT_EQ(f.Edit1->placeholderText(), QStringLiteral("Hier tippen"));
    EXPECT_FALSE(f.Edit1->isEnabled());
    EXPECT_EQ(f.act_go->text(), QStringLiteral("Los"));
    EXPECT_EQ(f.mi_File->title(), QStringLiteral("&Datei"));
    const auto radios = f.RadioGroup1->findChildren<QRadioButton*>();
    ASSERT_EQ(radios.size(), 3);
    EXPECT_EQ(radios[2]->text(), QStringLiteral("Hoch"));
    ASSERT_EQ(f.ListBox1->count(), 3);
    EXPECT_EQ(f.ListBox1->item(2)->text(), QStringLiteral("drei"));
    EXPECT_EQ(f.LabelSetInCode->text(), QStringLiteral("übersetzt")); // an open window: no creation step runs

    ASSERT_EQ(FReports.size(), 3u);
    EXPECT_EQ(FReports[0], "Translation error of property \"ListView1.Columns.(7).Caption\" in component "
                           "\"TestForm\"\r\nList index out of bounds (7)");
    EXPECT_EQ(FReports[1],
              "Unknown property \"NoSuchThing.Caption\" found in component \"TestForm\".\r\nRemove "
              "it from language file");
    EXPECT_EQ(FReports[2],
              "Unknown property \"Button1.Caption \" found in component \"TestForm\".\r\nRemove it "
              "from language file");
}

TEST_F(FormTranslationTest, AWindowCreatedAfterTheLoadIsTranslatedBeforeItsCreationStep) {
    WriteLanguage("German.lng", QString::fromUtf8(kGermanTest).toLatin1().toStdString());
    UseLanguage("German");
    FReports.clear();
    TTestForm later;
    EXPECT_EQ(later.windowTitle(), QStringLiteral("Prüfung"));
    EXPECT_EQ(later.Button2->text(), QStringLiteral("Drinnen"));
    EXPECT_EQ(later.LabelSetInCode->text(), QStringLiteral("set in code"));
    EXPECT_EQ(FReports.size(), 3u);

    // Switching languages keeps what the second file does not cover.
    WriteLanguage("Other.lng", "x\n[TTestForm]\nGroupBox1.Caption='Grupo'\n");
    UseLanguage("Other");
    EXPECT_EQ(later.GroupBox1->title(), QStringLiteral("Grupo"));
    EXPECT_EQ(later.Button2->text(), QStringLiteral("Drinnen"));
}

TEST_F(FormTranslationTest, AStringListIsReplacedLineByLine) {
    TTestForm f;
    f.ComboBox2->setCurrentIndex(1);
    ApplyTranslation(f, "ComboBox2.Items.x", "8 KB (Standard)\r32 KB (Breitband)");
    ASSERT_EQ(f.ComboBox2->count(), 2);
    EXPECT_EQ(f.ComboBox2->itemText(0), QStringLiteral("8 KB (Standard)"));
    EXPECT_EQ(f.ComboBox2->itemText(1), QStringLiteral("32 KB (Breitband)"));
    EXPECT_EQ(f.ComboBox2->itemData(1).toInt(), 32); // overwritten in place, not rebuilt
    EXPECT_EQ(f.ComboBox2->currentIndex(), 1);
    ApplyTranslation(f, "combobox2.items.Strings", "a\rb\rc");
    ASSERT_EQ(f.ComboBox2->count(), 3);
    EXPECT_EQ(f.ComboBox2->itemText(2), QStringLiteral("c"));
    ApplyTranslation(f, "Memo1.Lines.x", "eins\r\nzwei");
    EXPECT_EQ(f.Memo1->toPlainText(), QStringLiteral("eins\nzwei"));
    ApplyTranslation(f, "ListBox1.Items.x", "");
    EXPECT_EQ(f.ListBox1->count(), 0);
    ApplyTranslation(f, "Label1.Caption", "two\rlines");
    EXPECT_EQ(f.Label1->text(), QStringLiteral("two\nlines"));
    EXPECT_TRUE(FReports.empty());
    ApplyTranslation(f, "ComboBox2.Items", "x");
    ASSERT_EQ(FReports.size(), 1u);
    EXPECT_NE(FReports[0].find("is a list"), std::string::npos) << FReports[0];
}

TEST_F(FormTranslationTest, OtherPropertiesGoThroughQtsOwnPropertiesByName) {
    TTestForm f;
    ApplyTranslation(f, "Label1.Alignment", "AlignRight|AlignVCenter");
    EXPECT_EQ(f.Label1->alignment(), Qt::AlignRight | Qt::AlignVCenter);
    ApplyTranslation(f, "Edit1.MaxLength", "12");
    EXPECT_EQ(f.Edit1->maxLength(), 12);
    ApplyTranslation(f, "act_go.Hint", "Run it");
    EXPECT_EQ(f.act_go->toolTip(), QStringLiteral("Run it"));
    EXPECT_EQ(f.act_go->statusTip(), QStringLiteral("Run it"));
    ApplyTranslation(f, "Edit1.Text", "typed");
    EXPECT_EQ(f.Edit1->text(), QStringLiteral("typed"));
    EXPECT_TRUE(FReports.empty());
    ApplyTranslation(f, "Edit1.MaxLength", "many");
    ApplyTranslation(f, "ListView1.Columns.x.Caption", "?");
    ASSERT_EQ(FReports.size(), 2u);
    EXPECT_EQ(FReports[0],
              "Translation error of property \"Edit1.MaxLength\" in component \"TestForm\"\r\nInvalid "
              "property value many for MaxLength");
    EXPECT_EQ(FReports[1].rfind("Unknown property \"ListView1.Columns.x.Caption\"", 0), 0u);
}

TEST_F(FormTranslationTest, ALoadThatEndsEarlyStillTranslatesWithWhatWasRead) {
    const struct {
        std::string File;
        std::string Report;
    } cases[] = {
        {"x\n[TTestForm]\nGroupBox1.Caption='Gruppe'\n=bad\nButton2.Caption='never'\n",
         "Bad line in language file: \"=bad\""},
        {"x\n[TTestForm]\nGroupBox1.Caption='Gruppe'\n[(x)TOldForm]\n[TTestBaseForm]\nButton1.Caption='never'"
         "\n",
         "Deleted component in language file:\r\n\"[(x)TOldForm]\"\r\nYou have to remove it!"},
    };
    for (const auto& c : cases) {
        WriteLanguage("Broken.lng", c.File);
        TTestForm f;
        FReports.clear();
        UseLanguage("Broken");
        EXPECT_EQ(f.GroupBox1->title(), QStringLiteral("Gruppe"));
        EXPECT_EQ(f.Button2->text(), QStringLiteral("Inside"));
        EXPECT_EQ(f.Button1->text(), QStringLiteral("Apply"));
        ASSERT_EQ(FReports.size(), 1u);
        EXPECT_EQ(FReports[0], c.Report);
    }
}

TEST_F(FormTranslationTest, ReportsOfTheProgramAreSilentAndMessageBoxesSayLocalizerError) {
    std::vector<QString> captions;
    SetMessageBoxHandler(
        [&](QWidget*, const QString&, const QString& Caption, TMsgBoxButtons, TMsgBoxIcon Icon) {
            EXPECT_EQ(Icon, miError);
            captions.push_back(Caption);
            return mrOK;
        });
    InstallFormTranslation();
    Localizer().ErrorMode = emMessageBox;
    Localizer().LoadLanguageFile("Missing");
    ASSERT_EQ(captions.size(), 1u);
    EXPECT_EQ(captions[0], QStringLiteral("Localizer Error"));
    SetUpLanguages();
    Localizer().LoadLanguageFile("Missing");
    EXPECT_EQ(captions.size(), 1u);
}

TEST_F(FormTranslationTest, TheDialogListsTheLanguagesOfBothFolders) {
    WriteLanguage("Portugues.Brasil.lng", "x\n[TFrm_Languages]\nCaption='Selecionar idioma'\n");
    WriteLanguage(
        "German.lng",
        "x\n[TFrm_Languages]\nCaption='Sprache wählen'\n[RESOURCESTRINGS]\n65085_Q='Warteschlange'\n");
    WriteLanguage("  Spaced .lng", "x\n");
    WriteLanguage("readme.txt", "x\n");
    QDir().mkpath(QString::fromStdString(FFolder + "/x.lng"));
    QStringList names;
    ListLanguages(QString::fromStdString(FFolder), QStringLiteral("*.lng"), names);
    names.sort(Qt::CaseInsensitive);
    EXPECT_EQ(names, (QStringList{QStringLiteral("German"), QStringLiteral("Portugues.Brasil"),
                                  QStringLiteral("Spaced")}));

    // The shipped folder adds its languages; a name in the data folder is listed once.
    const QString shipped = test::MakeScratchDir(QStringLiteral("shipped"));
    for (const char* name : {"German.lng", "italiano.lng"}) {
        QFile f(shipped + u'/' + QLatin1String(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("x\n[TFrm_Languages]\nCaption='shipped'\n");
    }
    Localizer().LanguageDirectory = shipped.toStdString();

    UpdateSettings([](TAppSettings& S) { S.General.LanguageFile = " german"; });
    {
        TFrm_Languages dialog;
        ASSERT_EQ(dialog.ListBox1->count(), 4);
        EXPECT_EQ(dialog.ListBox1->item(0)->text(), QStringLiteral("German"));
        EXPECT_EQ(dialog.ListBox1->item(1)->text(), QStringLiteral("italiano"));
        EXPECT_EQ(dialog.ListBox1->item(2)->text(), QStringLiteral("Portugues.Brasil"));
        EXPECT_EQ(dialog.SelectedLanguage(), QStringLiteral("German"));
        EXPECT_EQ(dialog.Button1->text(), QStringLiteral("OK"));
        EXPECT_TRUE(dialog.Button1->isDefault());
        EXPECT_GE(dialog.width(), 231);
        EXPECT_EQ(dialog.Label1->buddy(), dialog.ListBox1); // names the list for screen readers
    }

    // Choosing Portugues.Brasil stores and loads that file; the next dialog comes up translated.
    WhenDialogRuns([](TFrm_Languages& D) {
        D.ListBox1->item(2)->setSelected(true);
        D.Button1->click();
    });
    EXPECT_TRUE(SelectLanguage(nullptr));
    EXPECT_EQ(AppSettings.General.LanguageFile, "Portugues.Brasil");
    EXPECT_EQ(TFrm_Languages().windowTitle(), QStringLiteral("Selecionar idioma"));
    LoadSettings();
    EXPECT_EQ(AppSettings.General.LanguageFile, "Portugues.Brasil"); // saved

    // The stored name "german" selects German and loads German.lng.
    UseLanguage("german");
    EXPECT_EQ(ResString(rmNodeUploadQueue), "Warteschlange");

    // Cancel changes nothing.
    WhenDialogRuns([](TFrm_Languages& D) { D.Button2->click(); });
    EXPECT_FALSE(SelectLanguage(nullptr));
    EXPECT_EQ(AppSettings.General.LanguageFile, "german");
}

TEST_F(FormTranslationTest, OkWithNothingSelectedClearsTheLanguageAndKeepsTheTexts) {
    WriteLanguage("German.lng", kGermanTest);
    UseLanguage("German");
    TTestForm open;
    ASSERT_EQ(open.GroupBox1->title(), QStringLiteral("Gruppe"));
    WhenDialogRuns([](TFrm_Languages& D) {
        D.ListBox1->clearSelection();
        D.Button1->click();
    });
    EXPECT_TRUE(SelectLanguage(nullptr));
    EXPECT_EQ(AppSettings.General.LanguageFile, "");
    LoadSettings();
    EXPECT_EQ(AppSettings.General.LanguageFile, "");
    EXPECT_EQ(open.GroupBox1->title(), QStringLiteral("Gruppe"));
}

} // namespace
} // namespace quillo

#include "Localizer_test.moc"
