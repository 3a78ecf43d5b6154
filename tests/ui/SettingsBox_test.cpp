#include "ui/SettingsBox.h"

#include "core/app/DataFolder.h"
#include "core/app/MyUtils.h"
#include "support/TestEnvironment.h"
#include "ui/MessageBox.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTest>
#include <QTimeEdit>
#include <QTimer>
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <memory>

QT_BEGIN_NAMESPACE
inline void PrintTo(const QString& Text, std::ostream* Out) {
    *Out << '"' << Text.toStdString() << '"';
}
QT_END_NAMESPACE

namespace quillo {
namespace {

class SettingsBoxTest : public testing::Test {
protected:
    void SetUp() override {
        test::UseFreshHome();
        ::unsetenv("http_proxy");
        ::unsetenv("HTTP_PROXY");
        ::unsetenv("all_proxy");
        ::unsetenv("ALL_PROXY");
        CommitSettings(TAppSettings{});
        SetMessageBoxHandler(
            [this](QWidget*, const QString& Text, const QString&, TMsgBoxButtons, TMsgBoxIcon) {
                FBoxes.push_back(Text);
                return mrOK;
            });
    }
    void TearDown() override {
        SetMessageBoxHandler(nullptr);
        CommitSettings(TAppSettings{});
    }

    std::unique_ptr<TSettingsBox> Open() {
        auto Box = std::make_unique<TSettingsBox>();
        Box->Beep = [this] { ++FBeeps; };
        return Box;
    }

    // Focus moves as the user's Tab key or mouse would make them.
    static void Enter(QLineEdit* Edit) {
        QFocusEvent In(QEvent::FocusIn, Qt::TabFocusReason);
        QApplication::sendEvent(Edit, &In);
    }
    static void Leave(QLineEdit* Edit) {
        QFocusEvent Out(QEvent::FocusOut, Qt::TabFocusReason);
        QApplication::sendEvent(Edit, &Out);
    }
    static void Type(QLineEdit* Edit, const QString& Text) {
        Enter(Edit);
        Edit->setText(Text); // what typing does to the text, one textChanged per key or at once
        Leave(Edit);
    }

    static TAppSettings NonDefaultSettings() {
        TAppSettings S;
        S.General.StartWithWindows = true;
        S.General.AutostartUploading = true;
        S.General.NotifyUploadFinished = false;
        S.General.ShutDownWhenFinished = true;
        S.General.Hibernate = true;
        S.General.StartInStealthMode = true;
        S.General.BossKey = {3, 66};
        S.General.UseSkin = true;
        S.General.LastSettingsTab = 2;
        S.InternetConnection = {true, "proxyuser", "proxy pass", 3, 6, "proxy.lan:3128", "127.0.0.1"};
        S.Brimvault = {true, "me@example.com", "secret"};
        S.UploadManager = {1, 250, true, 100, 45, 60, 7, false};
        S.Scheduler = {true, 45000.875, 0.25, false}; // a date part the dialog keeps
        return S;
    }

    std::vector<QString> FBoxes;
    int FBeeps = 0;
};

// Opening the dialog and pressing Accept stores exactly what was there.
TEST_F(SettingsBoxTest, FormCreateThenAcceptChangesNothing) {
    TAppSettings Odd = NonDefaultSettings();
    Odd.UploadManager.SendBufferSize = 32; // one of the items
    Odd.InternetConnection.ProxyType = 4;
    Odd.InternetConnection.FtpProxyMethod = 8;
    Odd.General.BossKey = {8, 27};
    Odd.Scheduler.StartTime = 21.5 / 24;
    Odd.Scheduler.EndTime = 0.3;
    for (const TAppSettings& Settings : {TAppSettings{}, NonDefaultSettings(), Odd}) {
        CommitSettings(Settings);
        auto Box = Open();
        Box->Button1Click();
        EXPECT_EQ(AppSettings, Settings);
    }
}

TEST_F(SettingsBoxTest, EachControlChangesExactlyItsField) {
    struct TCase {
        const char* Name;
        std::function<void(TSettingsBox&)> Act;
        std::function<void(TAppSettings&)> Expect;
    };
    auto Press = [](TSettingsBox& B, int QtKey, Qt::KeyboardModifiers Modifiers) {
        QKeyEvent Key(QEvent::KeyPress, QtKey, Modifiers);
        QApplication::sendEvent(B.Edit13, &Key);
    };
    const TCase Cases[] = {
        {"CheckBox6", [](TSettingsBox& B) { B.CheckBox6->click(); },
         [](TAppSettings& S) { S.General.StartWithWindows = true; }},
        {"CheckBox10", [](TSettingsBox& B) { B.CheckBox10->click(); },
         [](TAppSettings& S) { S.General.StartInStealthMode = true; }},
        {"CheckBox3", [](TSettingsBox& B) { B.CheckBox3->click(); },
         [](TAppSettings& S) { S.General.AutostartUploading = true; }},
        {"CheckBox9", [](TSettingsBox& B) { B.CheckBox9->click(); },
         [](TAppSettings& S) { S.General.NotifyUploadFinished = false; }},
        {"CheckBox8", [](TSettingsBox& B) { B.CheckBox8->click(); },
         [](TAppSettings& S) { S.General.ShutDownWhenFinished = true; }},
        {"rb_hibernate", [](TSettingsBox& B) { B.rb_hibernate->click(); },
         [](TAppSettings& S) { S.General.Hibernate = true; }},
        {"CheckBox23", [](TSettingsBox& B) { B.CheckBox23->setChecked(true); },
         [](TAppSettings& S) { S.General.UseSkin = true; }},
        {"Edit13", [&Press](TSettingsBox& B) { Press(B, Qt::Key_F12, Qt::ShiftModifier); },
         [](TAppSettings& S) {
             S.General.BossKey = {4, 123};
         }},
        {"CheckBox1", [](TSettingsBox& B) { B.CheckBox1->click(); },
         [](TAppSettings& S) { S.InternetConnection.UseProxy = true; }},
        {"Edit1", [](TSettingsBox& B) { Type(B.Edit1, "  proxyuser "); },
         [](TAppSettings& S) { S.InternetConnection.UserName = "proxyuser"; }},
        {"Edit2", [](TSettingsBox& B) { Type(B.Edit2, " p w "); },
         [](TAppSettings& S) { S.InternetConnection.Password = "p w"; }},
        {"Edit3", [](TSettingsBox& B) { Type(B.Edit3, "proxy.lan:8080 "); },
         [](TAppSettings& S) { S.InternetConnection.Proxy = "proxy.lan:8080"; }},
        {"ComboBox1", [](TSettingsBox& B) { B.ComboBox1->setCurrentIndex(3); },
         [](TAppSettings& S) { S.InternetConnection.ProxyType = 4; }},
        {"ComboBox3", [](TSettingsBox& B) { B.ComboBox3->setCurrentIndex(8); },
         [](TAppSettings& S) { S.InternetConnection.FtpProxyMethod = 8; }},
        {"cb_adapters",
         [](TSettingsBox& B) { B.cb_adapters->setCurrentIndex(B.cb_adapters->findText("127.0.0.1")); },
         [](TAppSettings& S) { S.InternetConnection.BoundIP = "127.0.0.1"; }},
        {"CheckBox11", [](TSettingsBox& B) { B.CheckBox11->click(); },
         [](TAppSettings& S) { S.Brimvault.UseAccount = true; }},
        {"Edit15", [](TSettingsBox& B) { Type(B.Edit15, "me"); },
         [](TAppSettings& S) { S.Brimvault.UserName = "me"; }},
        {"Edit14", [](TSettingsBox& B) { Type(B.Edit14, "secret"); },
         [](TAppSettings& S) { S.Brimvault.Password = "secret"; }},
        {"UpDown1", [](TSettingsBox& B) { B.UpDown1->setValue(1); },
         [](TAppSettings& S) { S.UploadManager.ParallelThreads = 1; }},
        {"UpDown2", [](TSettingsBox& B) { B.UpDown2->setValue(512); },
         [](TAppSettings& S) { S.UploadManager.SpeedLimit = 512; }},
        {"CheckBox13", [](TSettingsBox& B) { B.CheckBox13->setChecked(true); },
         [](TAppSettings& S) { S.UploadManager.AutoManageBandwidth = true; }},
        {"ComboBox2", [](TSettingsBox& B) { B.ComboBox2->setCurrentIndex(2); },
         [](TAppSettings& S) { S.UploadManager.SendBufferSize = 512; }},
        {"UpDown5", [](TSettingsBox& B) { B.UpDown5->setValue(0); },
         [](TAppSettings& S) { S.UploadManager.RetryCount = 0; }},
        {"UpDown3", [](TSettingsBox& B) { B.UpDown3->setValue(32767); },
         [](TAppSettings& S) { S.UploadManager.ConnectTimeout = 32767; }},
        {"UpDown4", [](TSettingsBox& B) { B.UpDown4->setValue(5); },
         [](TAppSettings& S) { S.UploadManager.ReadTimeout = 5; }},
        {"CheckBox2", [](TSettingsBox& B) { B.CheckBox2->click(); },
         [](TAppSettings& S) { S.UploadManager.CalculateMD5 = false; }},
        {"CheckBox4", [](TSettingsBox& B) { B.CheckBox4->click(); },
         [](TAppSettings& S) { S.Scheduler.Enabled = true; }},
        {"DateTimePicker1", [](TSettingsBox& B) { B.DateTimePicker1->setTime(QTime(21, 30)); },
         [](TAppSettings& S) { S.Scheduler.StartTime = 21.5 / 24; }},
        {"DateTimePicker2", [](TSettingsBox& B) { B.DateTimePicker2->setTime(QTime(6, 0, 30)); },
         [](TAppSettings& S) { S.Scheduler.EndTime = (6 * 3600 + 30) / 86400.0; }},
        {"CheckBox5", [](TSettingsBox& B) { B.CheckBox5->setChecked(false); },
         [](TAppSettings& S) { S.Scheduler.AbortNonFinished = false; }},
    };
    for (const TCase& Case : Cases) {
        CommitSettings(TAppSettings{});
        auto Box = Open();
        Case.Act(*Box);
        Box->Button1Click();
        TAppSettings Expected;
        Case.Expect(Expected);
        EXPECT_EQ(AppSettings, Expected) << Case.Name;
        EXPECT_NE(Expected, TAppSettings{}) << Case.Name; // every case changes something
    }
}

TEST_F(SettingsBoxTest, UploadBufferSizeIsTheLeadingNumber) {
    const std::pair<const char*, int32_t> Cases[] = {
        {"64", 64},
        {"8 KB (Default)", 8},
        {"abc", 8},
        {"0", 8},
        {"1,024", 1},
        {"", 8},
        {" 100 KB (User settings)", 100},
        {"99999999999", 8},
        {"KB 16", 16},
        {"-5", 5},
        {"2147483647", 2147483647},
    };
    for (const auto& [Text, Size] : Cases) {
        EXPECT_EQ(TSettingsBox::SendBufferSizeFromText(Text), Size) << Text;
        auto Box = Open();
        Box->ComboBox2->setEditText(QString::fromUtf8(Text));
        Box->Button1Click();
        EXPECT_EQ(AppSettings.UploadManager.SendBufferSize, Size) << Text;
    }
}

TEST_F(SettingsBoxTest, UploadBufferSizeShowsItsItemOrTheUserValue) {
    const std::tuple<int32_t, const char*, int> Cases[] = {
        {100, "100 KB (User settings)", -1}, {32, "32 KB (Broadband)", 1},    {8, "8 KB (Default)", 0},
        {1024, "1024 KB (Ultraband)", 3},    {0, "0 KB (User settings)", -1},
    };
    for (const auto& [Size, Text, Index] : Cases) {
        UpdateSettings([Size = Size](TAppSettings& S) { S.UploadManager.SendBufferSize = Size; });
        auto Box = Open();
        EXPECT_EQ(Box->ComboBox2->currentText(), QString::fromLatin1(Text));
        EXPECT_EQ(Box->ComboBox2->currentIndex(), Index);
    }
}

TEST_F(SettingsBoxTest, SpinControlsBringStoredValuesIntoRange) {
    struct TCase {
        int32_t Stored;
        int32_t Shown;
    };
    for (const TCase& Case : {TCase{5, 2}, TCase{0, 1}, TCase{-3, 1}, TCase{2, 2}}) {
        UpdateSettings([&](TAppSettings& S) { S.UploadManager.ParallelThreads = Case.Stored; });
        auto Box = Open();
        EXPECT_EQ(Box->UpDown1->value(), Case.Shown);
        Box->Button1Click();
        EXPECT_EQ(AppSettings.UploadManager.ParallelThreads, Case.Shown);
    }
    // A value beyond the range stops at its end rather than wrapping round 16 bits.
    for (const TCase& Case : {TCase{70000, 32767}, TCase{-1, 0}, TCase{32767, 32767}}) {
        UpdateSettings([&](TAppSettings& S) { S.UploadManager.SpeedLimit = Case.Stored; });
        auto Box = Open();
        EXPECT_EQ(Box->UpDown2->value(), Case.Shown) << Case.Stored;
    }
    auto Box = Open();
    const std::tuple<QSpinBox*, int, int> Ranges[] = {
        {Box->UpDown1, 1, 2},     {Box->UpDown2, 0, 32767}, {Box->UpDown3, 0, 32767},
        {Box->UpDown4, 0, 32767}, {Box->UpDown5, 0, 32767},
    };
    for (const auto& [Spin, Min, Max] : Ranges) {
        EXPECT_EQ(Spin->minimum(), Min) << Spin->objectName().toStdString();
        EXPECT_EQ(Spin->maximum(), Max) << Spin->objectName().toStdString();
    }
}

TEST_F(SettingsBoxTest, BoundAddressMustStillBeOneOfTheComputers) {
    const std::tuple<const char*, const char*, const char*> Cases[] = {
        {"127.0.0.1", "127.0.0.1", "127.0.0.1"},
        {"10.254.254.254", "Default", ""},
        {"", "Default", ""},
        {"Default", "Default", ""},
    };
    for (const auto& [Stored, Shown, Accepted] : Cases) {
        UpdateSettings([Stored = Stored](TAppSettings& S) { S.InternetConnection.BoundIP = Stored; });
        auto Box = Open();
        EXPECT_EQ(Box->cb_adapters->itemText(0), QStringLiteral("Default"));
        EXPECT_EQ(Box->cb_adapters->currentText(), QString::fromLatin1(Shown)) << Stored;
        Box->Button1Click();
        EXPECT_EQ(AppSettings.InternetConnection.BoundIP, Accepted) << Stored;
    }
}

TEST_F(SettingsBoxTest, ImpossibleProxyTypeAndMethodLeaveNoSelection) {
    UpdateSettings([](TAppSettings& S) {
        S.InternetConnection.ProxyType = 9;
        S.InternetConnection.FtpProxyMethod = 9;
    });
    auto Box = Open();
    EXPECT_EQ(Box->ComboBox1->currentIndex(), -1);
    EXPECT_EQ(Box->ComboBox3->currentIndex(), -1);
    Box->Button1Click();
    EXPECT_EQ(AppSettings.InternetConnection.ProxyType, 0);
    EXPECT_EQ(AppSettings.InternetConnection.FtpProxyMethod, 255);
}

TEST_F(SettingsBoxTest, PasswordFieldsNeverShowTheStoredPassword) {
    struct TCase {
        const char* Name;
        std::function<void(QLineEdit*)> Act;
        bool Stored; // whether Accept stores the field's text
        const char* Text;
    };
    const TCase Cases[] = {
        {"untouched", [](QLineEdit*) {}, false, "Click here to change"},
        {"entered and left", [](QLineEdit* E) { Enter(E), Leave(E); }, false, "Click here to change"},
        {"entered twice", [](QLineEdit* E) { Enter(E), Leave(E), Enter(E), Leave(E); }, false,
         "Click here to change"},
        {"typed", [](QLineEdit* E) { Type(E, "new"); }, true, "new"},
        {"typed and erased",
         [](QLineEdit* E) {
             Enter(E);
             E->setText("n");
             E->clear();
             Leave(E);
         },
         true, ""},
        {"typed, left, entered again",
         [](QLineEdit* E) {
             Type(E, "new");
             Enter(E);
             Leave(E);
         },
         true, "new"},
        // Switching to another window and back is no visit of the field.
        {"window switch",
         [](QLineEdit* E) {
             QFocusEvent In(QEvent::FocusIn, Qt::ActiveWindowFocusReason);
             QApplication::sendEvent(E, &In);
         },
         false, "Click here to change"},
    };
    for (const TCase& Case : Cases) {
        for (bool Account : {false, true}) {
            UpdateSettings([](TAppSettings& S) {
                S.InternetConnection.Password = "old proxy";
                S.Brimvault.Password = "old account";
            });
            auto Box = Open();
            QLineEdit* Edit = Account ? Box->Edit14 : Box->Edit2;
            EXPECT_EQ(Edit->text(), QStringLiteral("Click here to change"));
            EXPECT_TRUE(Edit->font().italic());
            Case.Act(Edit);
            EXPECT_EQ(Edit->text(), QString::fromLatin1(Case.Text)) << Case.Name;
            EXPECT_EQ(Edit->font().italic(), !Case.Stored) << Case.Name;
            Box->Button1Click();
            const std::string Expected = Case.Stored ? Case.Text : (Account ? "old account" : "old proxy");
            EXPECT_EQ(Account ? AppSettings.Brimvault.Password : AppSettings.InternetConnection.Password,
                      Expected)
                << Case.Name;
            // The other field kept its password.
            EXPECT_EQ(Account ? AppSettings.InternetConnection.Password : AppSettings.Brimvault.Password,
                      Account ? "old proxy" : "old account")
                << Case.Name;
        }
    }
}

TEST_F(SettingsBoxTest, BossKeyCapture) {
    struct TCase {
        const char* Name;
        int QtKey;
        Qt::KeyboardModifiers Modifiers;
        quint32 KeySym; // 0: an offscreen-style event without X11 key symbol
        const char* Text;
        TBossKey Key;
        bool Beeps;
    };
    const Qt::KeyboardModifiers None = Qt::NoModifier;
    const TCase Cases[] = {
        {"A", Qt::Key_A, None, 0x61, "<NONE>", {0, 0}, true},
        {"Shift+A", Qt::Key_A, Qt::ShiftModifier, 0x41, "<NONE>", {0, 0}, true},
        {"Alt+5", Qt::Key_5, Qt::AltModifier, 0x35, "<NONE>", {0, 0}, true},
        {"Shift+Alt+5",
         Qt::Key_Percent,
         Qt::AltModifier | Qt::ShiftModifier,
         0x25,
         "SHIFT+ALT+5",
         {5, 53},
         false},
        {"Tab", Qt::Key_Tab, None, 0xff09, "<NONE>", {0, 0}, true},
        {"Shift+Tab", Qt::Key_Backtab, Qt::ShiftModifier, 0xfe20, "<NONE>", {0, 0}, true},
        {"Space", Qt::Key_Space, None, 0x20, "<NONE>", {0, 0}, true},
        {"Ctrl+Space", Qt::Key_Space, Qt::ControlModifier, 0x20, "CTRL+Spacebar", {2, 32}, false},
        {"Ctrl+Alt+B", Qt::Key_B, Qt::ControlModifier | Qt::AltModifier, 0x62, "ALT+CTRL+B", {3, 66}, false},
        {"Ctrl+Alt+B offscreen",
         Qt::Key_B,
         Qt::ControlModifier | Qt::AltModifier,
         0,
         "ALT+CTRL+B",
         {3, 66},
         false},
        {"Win+Escape", Qt::Key_Escape, Qt::MetaModifier, 0xff1b, "WIN+Escape", {8, 27}, false},
        {"F12", Qt::Key_F12, None, 0xffc9, "F12", {0, 123}, false},
        {"Escape", Qt::Key_Escape, None, 0xff1b, "Escape", {0, 27}, false},
        {"Enter", Qt::Key_Return, None, 0xff0d, "Enter", {0, 13}, false},
        {"Backspace", Qt::Key_Backspace, None, 0xff08, "<NONE>", {0, 0}, true},
        {"Delete", Qt::Key_Delete, None, 0xffff, "<NONE>", {0, 0}, true},
        {"Ctrl+Delete", Qt::Key_Delete, Qt::ControlModifier, 0xffff, "CTRL+Delete", {2, 46}, false},
        {"Ctrl alone", Qt::Key_Control, None, 0xffe3, "CTRL", {2, 17}, false},
        {"Super alone", Qt::Key_Super_L, None, 0xffeb, "WIN", {8, 91}, false},
        {"Shift alone", Qt::Key_Shift, None, 0xffe1, "SHIFT", {4, 16}, false},
        {"Numpad 7", Qt::Key_7, Qt::KeypadModifier, 0xffb7, "Numpad 7", {0, 103}, false},
        {"unknown key", Qt::Key_VolumeUp, None, 0x1008ff13, "<NONE>", {0, 0}, true},
        {"Ctrl+unknown", Qt::Key_VolumeUp, Qt::ControlModifier, 0x1008ff13, "CTRL", {2, 0}, false},
    };
    for (const TCase& Case : Cases) {
        UpdateSettings([](TAppSettings& S) { S.General.BossKey = {2, 70}; });
        auto Box = Open();
        Box->show();
        ASSERT_EQ(Box->Edit13->text(), QStringLiteral("CTRL+F"));
        FBeeps = 0;
        QKeyEvent Key(QEvent::KeyPress, Case.QtKey, Case.Modifiers, 0, Case.KeySym, 0);
        QApplication::sendEvent(Box->Edit13, &Key);
        EXPECT_TRUE(Key.isAccepted()) << Case.Name;
        EXPECT_EQ(Box->Edit13->text(), QString::fromLatin1(Case.Text)) << Case.Name;
        EXPECT_EQ(Box->PendingBossKey, Case.Key) << Case.Name;
        EXPECT_EQ(FBeeps, Case.Beeps ? 1 : 0) << Case.Name;
        // Enter and Escape in the key field do not close the dialog.
        EXPECT_TRUE(Box->isVisible()) << Case.Name;
        Box->Button1Click();
        EXPECT_EQ(AppSettings.General.BossKey, Case.Key) << Case.Name;
    }
}

TEST_F(SettingsBoxTest, BossKeyTypedAsAPersonWould) {
    auto Box = Open();
    Box->show();
    // QTest presses Ctrl, then Alt, then B, as a person does.
    QTest::keyClick(Box->Edit13, Qt::Key_B, Qt::ControlModifier | Qt::AltModifier);
    EXPECT_EQ(Box->Edit13->text(), QStringLiteral("ALT+CTRL+B"));
    EXPECT_EQ(Box->PendingBossKey, (TBossKey{3, 66}));
    QTest::keyClick(Box->Edit13, Qt::Key_Escape);
    EXPECT_EQ(Box->Edit13->text(), QStringLiteral("Escape"));
    EXPECT_TRUE(Box->isVisible());
    EXPECT_EQ(FBeeps, 0);
}

TEST_F(SettingsBoxTest, KeysOutsideTheBossKeyFieldAreLeftAlone) {
    UpdateSettings([](TAppSettings& S) { S.Brimvault.UseAccount = true; });
    auto Box = Open();
    Box->show();
    QTest::keyClick(Box->Edit15, Qt::Key_A);
    EXPECT_EQ(Box->Edit15->text(), QStringLiteral("a"));
    EXPECT_EQ(Box->PendingBossKey, TBossKey{});
    QTest::keyClick(Box->Edit15, Qt::Key_Escape);
    EXPECT_FALSE(Box->isVisible());
    EXPECT_EQ(Box->result(), QDialog::Rejected);
}

TEST_F(SettingsBoxTest, EnablingCheckBoxesSwitchTheirGroups) {
    for (bool On : {false, true}) {
        UpdateSettings([On](TAppSettings& S) {
            S.InternetConnection.UseProxy = On;
            S.Scheduler.Enabled = On;
            S.Brimvault.UseAccount = On;
        });
        auto Box = Open();
        const std::pair<QCheckBox*, QGroupBox*> Pairs[] = {{Box->CheckBox1, Box->GroupBox1},
                                                           {Box->CheckBox4, Box->GroupBox3},
                                                           {Box->CheckBox11, Box->GroupBox4}};
        for (const auto& [Check, Group] : Pairs) {
            const auto Children = Group->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly);
            ASSERT_GE(Children.size(), 2);
            for (QWidget* Child : Children)
                EXPECT_EQ(Child->isEnabled(), On) << Child->objectName().toStdString();
            Check->click();
            for (QWidget* Child : Children)
                EXPECT_EQ(Child->isEnabled(), !On) << Child->objectName().toStdString();
        }
        // The other pages' controls are not switched.
        EXPECT_TRUE(Box->UpDown1->isEnabled());
        EXPECT_TRUE(Box->Edit13->isEnabled());
    }
}

TEST_F(SettingsBoxTest, RetrievesTheProxyOfTheSession) {
    struct TCase {
        const char* Env;
        const char* Proxy;
        int ProxyType;
        const char* User;
        const char* Password;
    };
    const TCase Cases[] = {
        {"http://proxy.lan:3128/", "proxy.lan:3128", 1, "", ""},
        {"http://me:pw@proxy.lan", "proxy.lan:80", 1, "me", "pw"},
        {"socks5://127.0.0.1:1080", "127.0.0.1:1080", 4, "", ""},
        {nullptr, ":0", 1, "", ""},
    };
    for (const TCase& Case : Cases) {
        if (Case.Env)
            ::setenv("http_proxy", Case.Env, 1);
        else
            ::unsetenv("http_proxy");
        UpdateSettings(
            [](TAppSettings& S) { S.InternetConnection = {true, "olduser", "oldpass", 2, 4, "old:1", ""}; });
        auto Box = Open();
        Box->Button3->click();
        EXPECT_EQ(Box->Edit3->text(), QString::fromLatin1(Case.Proxy));
        EXPECT_EQ(Box->ComboBox1->currentIndex(), Case.ProxyType - 1);
        EXPECT_EQ(Box->ComboBox3->currentText(), QStringLiteral("CONNECT"));
        EXPECT_FALSE(Box->Edit2->font().italic());
        Box->Button1Click();
        EXPECT_EQ(AppSettings.InternetConnection,
                  (TInternetConnectionSettings{true, Case.User, Case.Password, uint8_t(Case.ProxyType), 0,
                                               Case.Proxy, ""}))
            << (Case.Env ? Case.Env : "(none)");
    }
    ::unsetenv("http_proxy");
}

TEST_F(SettingsBoxTest, EveryCloseStoresThePageAndSaves) {
    struct TCase {
        const char* Name;
        std::function<void(TSettingsBox&)> Close;
        bool Accepted;
    };
    const TCase Cases[] = {
        {"Accept", [](TSettingsBox& B) { B.Button1->click(); }, true},
        {"Cancel", [](TSettingsBox& B) { B.Button2->click(); }, false},
        {"Escape", [](TSettingsBox& B) { QTest::keyClick(B.CheckBox5, Qt::Key_Escape); }, false},
        {"close box", [](TSettingsBox& B) { B.close(); }, false},
    };
    for (const TCase& Case : Cases) {
        CommitSettings(TAppSettings{});
        QFile::remove(QString::fromStdString(SettingsFileName()));
        auto Box = Open();
        Box->show();
        Box->PageControl1->setCurrentIndex(3);
        Box->CheckBox6->setChecked(true);
        Type(Box->Edit14, "typed");
        Case.Close(*Box);
        EXPECT_FALSE(Box->isVisible()) << Case.Name;
        EXPECT_EQ(Box->result() == QDialog::Accepted, Case.Accepted) << Case.Name;
        TAppSettings Expected;
        Expected.General.LastSettingsTab = 3;
        if (Case.Accepted) {
            Expected.General.StartWithWindows = true;
            Expected.Brimvault.Password = "typed";
        }
        EXPECT_EQ(AppSettings, Expected) << Case.Name;
        // The file holds what the record holds.
        const TAppSettings Saved = AppSettings;
        CommitSettings(TAppSettings{});
        LoadSettings();
        EXPECT_EQ(AppSettings, Saved) << Case.Name;
        // The next dialog opens on the page shown last.
        auto Again = Open();
        EXPECT_EQ(Again->PageControl1->currentIndex(), 3) << Case.Name;
    }
}

TEST_F(SettingsBoxTest, StoredPageOutsideTheRangeShowsTheFirst) {
    for (int Stored : {-1, 5, 100}) {
        UpdateSettings([Stored](TAppSettings& S) { S.General.LastSettingsTab = Stored; });
        auto Box = Open();
        EXPECT_EQ(Box->PageControl1->currentIndex(), 0) << Stored;
    }
    UpdateSettings([](TAppSettings& S) { S.General.LastSettingsTab = 4; });
    EXPECT_EQ(Open()->PageControl1->currentIndex(), 4);
}

TEST_F(SettingsBoxTest, ShowSettingsBoxTellsWhetherTheUserAccepted) {
    for (bool Accept : {true, false}) {
        CommitSettings(TAppSettings{});
        QTimer::singleShot(0, [Accept] {
            for (QWidget* W : QApplication::topLevelWidgets())
                if (auto* Box = qobject_cast<TSettingsBox*>(W); Box && Box->isVisible()) {
                    Box->CheckBox8->setChecked(true);
                    (Accept ? Box->Button1 : Box->Button2)->click();
                }
        });
        EXPECT_EQ(ShowSettingsBox(nullptr), Accept);
        EXPECT_EQ(AppSettings.General.ShutDownWhenFinished, Accept);
    }
}

TEST_F(SettingsBoxTest, AFailedSaveIsShownAndTheDialogStillCloses) {
    // The data folder lies below a regular file, so the settings file cannot be written.
    const QString Blocker = test::MakeScratchDir() + QStringLiteral("/file");
    QFile File(Blocker);
    ASSERT_TRUE(File.open(QIODevice::WriteOnly));
    File.close();
    ::setenv("QUILLO_HOME", qPrintable(Blocker + QStringLiteral("/home")), 1);
    auto Box = Open();
    Box->show();
    Box->Button2->click();
    EXPECT_FALSE(Box->isVisible());
    ASSERT_EQ(FBoxes.size(), 1u);
    EXPECT_FALSE(FBoxes[0].isEmpty());
}

TEST_F(SettingsBoxTest, CaptionsItemsAndNames) {
    auto Box = Open();
    EXPECT_EQ(QString::fromLatin1(Box->metaObject()->className()).section(QStringLiteral("::"), -1),
              QStringLiteral("TSettingsBox"));
    EXPECT_EQ(Box->objectName(), QStringLiteral("TSettingsBox"));
    EXPECT_EQ(Box->windowTitle(), QStringLiteral("Settings"));
    const char* const Pages[][2] = {{"TabSheet4", "My Account"},
                                    {"TabSheet1", "Internet Connection"},
                                    {"TabSheet3", "Upload Engine"},
                                    {"TabSheet6", "Scheduler"},
                                    {"TabSheet7", "Miscs"}};
    ASSERT_EQ(Box->PageControl1->count(), 5);
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(Box->PageControl1->widget(i)->objectName(), QString::fromLatin1(Pages[i][0]));
        EXPECT_EQ(Box->PageControl1->tabText(i), QString::fromLatin1(Pages[i][1]));
    }
    const char* const Captions[][2] = {
        {"CheckBox11", "Upload files to Brimvault Account (PREMIUM or FREE)"},
        {"Label21", "User Name"},
        {"Label20", "Password"},
        {"CheckBox1", "I connect to my ISP through a proxy"},
        {"Label22", "Proxy type"},
        {"Label3", "Proxy"},
        {"Label12", "(host:port)"},
        {"Label6", "FTP Method"},
        {"Label1", "User Name"},
        {"Label2", "Password"},
        {"Label4", "(leave blank if you don't use authentication)"},
        {"Button3", "Retrieve Proxy settings from the system"},
        {"Label45", "Bind to adapter"},
        {"Label46", "(Quillo will access the Internet through this adapter)"},
        {"Label5", "Number of parallel upload tasks"},
        {"Label7", "Limit my upload bandwidth to"},
        {"Label9", "KB/sec  (0=no limits)"},
        {"Label30", "Upload buffer size"},
        {"Label10", "KB (0=default)"},
        {"Label8", "Retry count on internet errors"},
        {"Label11", "(0=always retry)"},
        {"Label31", "Connect timeout"},
        {"Label13", "sec (0=infinite)"},
        {"Label32", "Read timeout"},
        {"Label16", "sec (0=infinite)"},
        {"CheckBox2", "Calculate MD5-Hash for uploaded files"},
        {"CheckBox13", "Distribute bandwidth equally among tasks"},
        {"CheckBox4", "Enable short time scheduler"},
        {"Label14", "Start upload at"},
        {"Label15", "Stop upload at"},
        {"CheckBox5", "Abort all uploads in progress if out of scheduled time"},
        {"CheckBox6", "Start program when I log in"},
        {"CheckBox10", "Start in stealth mode"},
        {"Label18", "\"BOSS\" Key"},
        {"CheckBox3", "Autostart paused uploads on startup"},
        {"CheckBox9", "Notify me when all upload tasks are finished by sound"},
        {"CheckBox8", "Turn off computer when all upload tasks are finished"},
        {"rb_poweroff", "Power Off"},
        {"rb_hibernate", "Hibernate"},
        {"CheckBox23", "Use Vista skin"},
        {"Button1", "Accept"},
        {"Button2", "Cancel"},
    };
    for (const auto& [Name, Caption] : Captions) {
        QWidget* W = Box->findChild<QWidget*>(QString::fromLatin1(Name));
        ASSERT_NE(W, nullptr) << Name;
        const QString Text = W->property("text").toString();
        EXPECT_EQ(Text, QString::fromLatin1(Caption)) << Name;
    }
    const std::pair<const char*, QStringList> Items[] = {
        {"ComboBox1", {"HTTP", "SOCKS4", "SOCKS4A", "SOCKS5"}},
        {"ComboBox3",
         {"CONNECT", "USER-SITE", "SITE", "OPEN", "USER-PASS", "TRANSPARENT", "USER-HOST-FIREWALL-ID",
          "NOVELL BORDER", "HTTP PROXY WITH FTP"}},
        {"ComboBox2", {"8 KB (Default)", "32 KB (Broadband)", "512 KB (Hyperband)", "1024 KB (Ultraband)"}},
    };
    for (const auto& [Name, List] : Items) {
        auto* Combo = Box->findChild<QComboBox*>(QString::fromLatin1(Name));
        ASSERT_NE(Combo, nullptr) << Name;
        QStringList Shown;
        for (int i = 0; i < Combo->count(); ++i)
            Shown << Combo->itemText(i);
        EXPECT_EQ(Shown, List) << Name;
    }
    EXPECT_TRUE(Box->ComboBox2->isEditable());
    EXPECT_FALSE(Box->ComboBox1->isEditable());
    EXPECT_TRUE(Box->Edit13->isReadOnly());
    EXPECT_TRUE(Box->Button1->isDefault());
    EXPECT_FALSE(Box->CheckBox13->isVisibleTo(Box.get()));
    EXPECT_FALSE(Box->CheckBox23->isVisibleTo(Box.get()));
    EXPECT_GE(Box->width(), 481);
    EXPECT_GE(Box->height(), 331);
    EXPECT_EQ(Box->minimumSize(), Box->maximumSize());
    // Screen readers find every input control by a name.
    for (QWidget* W : Box->findChildren<QWidget*>()) {
        if (qobject_cast<QLineEdit*>(W) && W->parentWidget() &&
            qobject_cast<QAbstractSpinBox*>(W->parentWidget()))
            continue; // the spin box's own edit line; the spin box carries the name
        if (qobject_cast<QLineEdit*>(W) || qobject_cast<QAbstractSpinBox*>(W) || qobject_cast<QComboBox*>(W))
            if (!qobject_cast<QComboBox*>(W->parentWidget())) {
                EXPECT_FALSE(W->accessibleName().isEmpty()) << W->objectName().toStdString();
            }
    }
}

} // namespace
} // namespace quillo
