#include "ui/SettingsBox.h"

#include "core/app/MyUtils.h"
#include "ui/HotKeys.h"
#include "ui/LocalSystem.h"
#include "ui/MessageBox.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTimeEdit>
#include <QVBoxLayout>

#include <cmath>
#include <limits>

namespace quillo {

namespace {

constexpr int kClientWidth = 481;
constexpr int kClientHeight = 331;
const char* const kPasswordStateProperty = "quilloPasswordState";

QString Q(const std::string& Text) {
    return QString::fromUtf8(Text.data(), qsizetype(Text.size()));
}
std::string S(const QString& Text) {
    return Text.toUtf8().toStdString();
}
std::string Trimmed(const QLineEdit* Edit) {
    return Trim(S(Edit->text()));
}

QString PasswordPlaceholder() {
    return QStringLiteral("Click here to change");
}

template <class TWidget> TWidget* Named(TWidget* Widget, const char* Name) {
    Widget->setObjectName(QString::fromLatin1(Name));
    return Widget;
}

QCheckBox* MakeCheckBox(QWidget* Parent, const char* Name, const QString& Caption) {
    return Named(new QCheckBox(Caption, Parent), Name);
}

QLabel* MakeLabel(QWidget* Parent, const char* Name, const QString& Caption, QWidget* Buddy = nullptr) {
    auto* Label = Named(new QLabel(Caption, Parent), Name);
    if (Buddy) {
        Label->setBuddy(Buddy);
        Buddy->setAccessibleName(Caption);
    }
    return Label;
}

QLineEdit* MakeEdit(QWidget* Parent, const char* Name) {
    return Named(new QLineEdit(Parent), Name);
}

QComboBox* MakeList(QWidget* Parent, const char* Name, const QStringList& Items, bool Editable = false) {
    auto* Box = Named(new QComboBox(Parent), Name);
    Box->addItems(Items);
    Box->setEditable(Editable);
    return Box;
}

QSpinBox* MakeSpin(QWidget* Parent, const char* Name, int Min, int Max) {
    auto* Spin = Named(new QSpinBox(Parent), Name);
    Spin->setRange(Min, Max);
    Spin->setMinimumWidth(80);
    return Spin;
}

// A group box without a title whose controls the check box above it switches.
QGroupBox* MakeGroup(QWidget* Parent, const char* Name) {
    return Named(new QGroupBox(Parent), Name);
}

// A stored number as a spin position: out-of-range values come in at the nearest end.
void SetSpin(QSpinBox* Spin, int32_t Value) {
    Spin->setValue(std::clamp(Value, Spin->minimum(), Spin->maximum()));
}
int32_t SpinValue(QSpinBox* Spin) {
    Spin->interpretText(); // text typed but not yet taken over
    return Spin->value();
}

// Leading number of an item text ("32 KB (Broadband)" gives 32); -1 when it has none.
int32_t LeadingNumber(const std::string& Text) {
    int Pos = 1;
    std::string Token;
    NextNumberToken(Text, Pos, Token);
    int32_t Value = 0;
    return !Token.empty() && TryStrToIntDecimal(Token, Value) ? Value : -1;
}

QTime TimeOfDayToQTime(double Value) {
    return QTime::fromMSecsSinceStartOfDay(TimeOfDayMs(Value) % 86400000);
}
// The picker's time as a fraction of a day; the stored value itself while its time of day was
// left as it was, so that opening and accepting the dialog never changes it.
double PickerValue(const QTimeEdit* Picker, double Stored) {
    const int Ms = Picker->time().msecsSinceStartOfDay();
    if (Ms == TimeOfDayToQTime(Stored).msecsSinceStartOfDay())
        return Stored;
    return Ms / 86400000.0;
}

} // namespace

bool ShowSettingsBox(QWidget* Owner) {
    TSettingsBox Box(Owner);
    return Box.exec() == QDialog::Accepted;
}

TSettingsBox::TSettingsBox(QWidget* Owner) : TFormBase<QDialog>(Owner) {
    Beep = [] { QApplication::beep(); };
    CreateForm();
}

int32_t TSettingsBox::SendBufferSizeFromText(const std::string& Text) {
    const int32_t Value = LeadingNumber(Text);
    return Value <= 0 ? 8 : Value;
}

void TSettingsBox::CreateWidgets() {
    setObjectName(QStringLiteral("TSettingsBox"));
    setWindowTitle(tr("Settings"));

    PageControl1 = Named(new QTabWidget(this), "PageControl1");
    PageControl1->addTab(CreateAccountPage(), tr("My Account"));
    PageControl1->addTab(CreateConnectionPage(), tr("Internet Connection"));
    PageControl1->addTab(CreateEnginePage(), tr("Upload Engine"));
    PageControl1->addTab(CreateSchedulerPage(), tr("Scheduler"));
    PageControl1->addTab(CreateMiscsPage(), tr("Miscs"));

    Button1 = Named(new QPushButton(tr("Accept"), this), "Button1");
    Button1->setDefault(true);
    Button2 = Named(new QPushButton(tr("Cancel"), this), "Button2");
    connect(Button1, &QPushButton::clicked, this, [this] {
        Button1Click();
        accept();
    });
    connect(Button2, &QPushButton::clicked, this, &QDialog::reject);

    auto* Buttons = new QHBoxLayout;
    Buttons->addStretch(1);
    Buttons->addWidget(Button1);
    Buttons->addWidget(Button2);
    auto* Layout = new QVBoxLayout(this);
    Layout->setContentsMargins(0, 0, 8, 8);
    Layout->addWidget(PageControl1, 1);
    Layout->addLayout(Buttons);

    for (QLineEdit* Edit : {Edit2, Edit14}) {
        Edit->installEventFilter(this);
        connect(Edit, &QLineEdit::textChanged, this, [this, Edit] { Edit2Change(Edit); });
    }
    Edit13->installEventFilter(this);
    for (QCheckBox* Box : {CheckBox1, CheckBox4, CheckBox11})
        connect(Box, &QCheckBox::toggled, this, [this, Box] { CheckBox1Click(Box); });
    connect(Button3, &QPushButton::clicked, this, &TSettingsBox::Button3Click);
}

QWidget* TSettingsBox::CreateAccountPage() {
    auto* Page = Named(new QWidget, "TabSheet4");
    CheckBox11 = MakeCheckBox(Page, "CheckBox11", tr("Upload files to Brimvault Account (PREMIUM or FREE)"));
    GroupBox4 = MakeGroup(Page, "GroupBox4");
    Edit15 = MakeEdit(GroupBox4, "Edit15");
    Edit14 = MakeEdit(GroupBox4, "Edit14");
    auto* Grid = new QGridLayout(GroupBox4);
    Grid->addWidget(MakeLabel(GroupBox4, "Label21", tr("User Name"), Edit15), 0, 0);
    Grid->addWidget(Edit15, 0, 1);
    Grid->addWidget(MakeLabel(GroupBox4, "Label20", tr("Password"), Edit14), 1, 0);
    Grid->addWidget(Edit14, 1, 1);
    Grid->setColumnStretch(1, 1);

    auto* Layout = new QVBoxLayout(Page);
    Layout->addWidget(CheckBox11);
    Layout->addWidget(GroupBox4);
    Layout->addStretch(1);
    return Page;
}

QWidget* TSettingsBox::CreateConnectionPage() {
    auto* Page = Named(new QWidget, "TabSheet1");
    CheckBox1 = MakeCheckBox(Page, "CheckBox1", tr("I connect to my ISP through a proxy"));
    GroupBox1 = MakeGroup(Page, "GroupBox1");
    ComboBox1 = MakeList(GroupBox1, "ComboBox1", {"HTTP", "SOCKS4", "SOCKS4A", "SOCKS5"});
    Edit3 = MakeEdit(GroupBox1, "Edit3");
    ComboBox3 = MakeList(GroupBox1, "ComboBox3",
                         {"CONNECT", "USER-SITE", "SITE", "OPEN", "USER-PASS", "TRANSPARENT",
                          "USER-HOST-FIREWALL-ID", "NOVELL BORDER", "HTTP PROXY WITH FTP"});
    Edit1 = MakeEdit(GroupBox1, "Edit1");
    Edit2 = MakeEdit(GroupBox1, "Edit2");
    Button3 = Named(new QPushButton(tr("Retrieve Proxy settings from the system"), GroupBox1), "Button3");

    auto* Grid = new QGridLayout(GroupBox1);
    Grid->addWidget(MakeLabel(GroupBox1, "Label22", tr("Proxy type"), ComboBox1), 0, 0);
    Grid->addWidget(ComboBox1, 0, 1);
    Grid->addWidget(MakeLabel(GroupBox1, "Label6", tr("FTP Method"), ComboBox3), 0, 2);
    Grid->addWidget(ComboBox3, 0, 3);
    Grid->addWidget(MakeLabel(GroupBox1, "Label3", tr("Proxy"), Edit3), 1, 0);
    Grid->addWidget(Edit3, 1, 1, 1, 2);
    Grid->addWidget(MakeLabel(GroupBox1, "Label12", tr("(host:port)")), 1, 3);
    Grid->addWidget(MakeLabel(GroupBox1, "Label1", tr("User Name"), Edit1), 2, 0);
    Grid->addWidget(Edit1, 2, 1, 1, 2);
    Grid->addWidget(MakeLabel(GroupBox1, "Label2", tr("Password"), Edit2), 3, 0);
    Grid->addWidget(Edit2, 3, 1, 1, 2);
    auto* Hint = MakeLabel(GroupBox1, "Label4", tr("(leave blank if you don't use authentication)"));
    Hint->setWordWrap(true);
    Grid->addWidget(Hint, 2, 3, 2, 1);
    Grid->addWidget(Button3, 4, 1, 1, 3, Qt::AlignLeft);
    Grid->setColumnStretch(1, 1);
    Grid->setColumnStretch(3, 1);

    cb_adapters = MakeList(Page, "cb_adapters", {});
    auto* Adapter = new QGridLayout;
    Adapter->addWidget(MakeLabel(Page, "Label45", tr("Bind to adapter"), cb_adapters), 0, 0);
    Adapter->addWidget(cb_adapters, 0, 1);
    Adapter->addWidget(
        MakeLabel(Page, "Label46", tr("(Quillo will access the Internet through this adapter)")), 1, 1);
    Adapter->setColumnStretch(1, 1);

    auto* Layout = new QVBoxLayout(Page);
    Layout->addWidget(CheckBox1);
    Layout->addWidget(GroupBox1);
    Layout->addLayout(Adapter);
    Layout->addStretch(1);
    return Page;
}

QWidget* TSettingsBox::CreateEnginePage() {
    auto* Page = Named(new QWidget, "TabSheet3");
    GroupBox2 = MakeGroup(Page, "GroupBox2");
    UpDown1 = MakeSpin(GroupBox2, "UpDown1", 1, 2);
    UpDown2 = MakeSpin(GroupBox2, "UpDown2", 0, 32767);
    ComboBox2 =
        MakeList(GroupBox2, "ComboBox2",
                 {"8 KB (Default)", "32 KB (Broadband)", "512 KB (Hyperband)", "1024 KB (Ultraband)"}, true);
    UpDown5 = MakeSpin(GroupBox2, "UpDown5", 0, 32767);
    UpDown3 = MakeSpin(GroupBox2, "UpDown3", 0, 32767);
    UpDown4 = MakeSpin(GroupBox2, "UpDown4", 0, 32767);
    CheckBox2 = MakeCheckBox(GroupBox2, "CheckBox2", tr("Calculate MD5-Hash for uploaded files"));
    CheckBox13 = MakeCheckBox(GroupBox2, "CheckBox13", tr("Distribute bandwidth equally among tasks"));
    CheckBox13->setVisible(false);

    struct TRow {
        const char* LabelName;
        QString Caption;
        QWidget* Control;
        const char* UnitName;
        QString Unit;
    };
    const TRow Rows[] = {
        {"Label5", tr("Number of parallel upload tasks"), UpDown1, nullptr, {}},
        {"Label7", tr("Limit my upload bandwidth to"), UpDown2, "Label9", tr("KB/sec  (0=no limits)")},
        {"Label30", tr("Upload buffer size"), ComboBox2, "Label10", tr("KB (0=default)")},
        {"Label8", tr("Retry count on internet errors"), UpDown5, "Label11", tr("(0=always retry)")},
        {"Label31", tr("Connect timeout"), UpDown3, "Label13", tr("sec (0=infinite)")},
        {"Label32", tr("Read timeout"), UpDown4, "Label16", tr("sec (0=infinite)")},
    };
    auto* Grid = new QGridLayout(GroupBox2);
    int Line = 0;
    for (const TRow& Row : Rows) {
        Grid->addWidget(MakeLabel(GroupBox2, Row.LabelName, Row.Caption, Row.Control), Line, 0);
        Grid->addWidget(Row.Control, Line, 1);
        if (Row.UnitName)
            Grid->addWidget(MakeLabel(GroupBox2, Row.UnitName, Row.Unit), Line, 2);
        ++Line;
    }
    Grid->addWidget(CheckBox2, Line++, 0, 1, 3);
    Grid->addWidget(CheckBox13, Line++, 0, 1, 3);
    Grid->setColumnStretch(2, 1);

    auto* Layout = new QVBoxLayout(Page);
    Layout->addWidget(GroupBox2);
    Layout->addStretch(1);
    return Page;
}

QWidget* TSettingsBox::CreateSchedulerPage() {
    auto* Page = Named(new QWidget, "TabSheet6");
    CheckBox4 = MakeCheckBox(Page, "CheckBox4", tr("Enable short time scheduler"));
    GroupBox3 = MakeGroup(Page, "GroupBox3");
    DateTimePicker1 = Named(new QTimeEdit(GroupBox3), "DateTimePicker1");
    DateTimePicker2 = Named(new QTimeEdit(GroupBox3), "DateTimePicker2");
    for (QTimeEdit* Picker : {DateTimePicker1, DateTimePicker2})
        Picker->setDisplayFormat(QStringLiteral("HH:mm:ss"));
    CheckBox5 =
        MakeCheckBox(GroupBox3, "CheckBox5", tr("Abort all uploads in progress if out of scheduled time"));
    auto* Grid = new QGridLayout(GroupBox3);
    Grid->addWidget(MakeLabel(GroupBox3, "Label14", tr("Start upload at"), DateTimePicker1), 0, 0);
    Grid->addWidget(DateTimePicker1, 0, 1);
    Grid->addWidget(MakeLabel(GroupBox3, "Label15", tr("Stop upload at"), DateTimePicker2), 1, 0);
    Grid->addWidget(DateTimePicker2, 1, 1);
    Grid->addWidget(CheckBox5, 2, 0, 1, 3);
    Grid->setColumnStretch(2, 1);

    auto* Layout = new QVBoxLayout(Page);
    Layout->addWidget(CheckBox4);
    Layout->addWidget(GroupBox3);
    Layout->addStretch(1);
    return Page;
}

QWidget* TSettingsBox::CreateMiscsPage() {
    auto* Page = Named(new QWidget, "TabSheet7");
    GroupBox5 = MakeGroup(Page, "GroupBox5");
    CheckBox6 = MakeCheckBox(GroupBox5, "CheckBox6", tr("Start program when I log in"));
    CheckBox10 = MakeCheckBox(GroupBox5, "CheckBox10", tr("Start in stealth mode"));
    Edit13 = MakeEdit(GroupBox5, "Edit13");
    Edit13->setReadOnly(true);
    lbl_bosskeyunavailable =
        MakeLabel(GroupBox5, "lbl_bosskeyunavailable", tr("(the boss key works only in an X11 session)"));
    // The key grab needs an X server; elsewhere the key is kept but does nothing.
    lbl_bosskeyunavailable->setVisible(QGuiApplication::platformName() != QLatin1String("xcb"));
    CheckBox3 = MakeCheckBox(GroupBox5, "CheckBox3", tr("Autostart paused uploads on startup"));
    CheckBox9 =
        MakeCheckBox(GroupBox5, "CheckBox9", tr("Notify me when all upload tasks are finished by sound"));
    CheckBox8 =
        MakeCheckBox(GroupBox5, "CheckBox8", tr("Turn off computer when all upload tasks are finished"));
    rb_poweroff = Named(new QRadioButton(tr("Power Off"), GroupBox5), "rb_poweroff");
    rb_hibernate = Named(new QRadioButton(tr("Hibernate"), GroupBox5), "rb_hibernate");
    CheckBox23 = MakeCheckBox(GroupBox5, "CheckBox23", tr("Use Vista skin"));
    CheckBox23->setVisible(false);

    auto* BossKey = new QHBoxLayout;
    BossKey->addWidget(MakeLabel(GroupBox5, "Label18", tr("\"BOSS\" Key"), Edit13));
    BossKey->addWidget(Edit13, 1);
    BossKey->addWidget(lbl_bosskeyunavailable);
    auto* Power = new QHBoxLayout;
    Power->addSpacing(24);
    Power->addWidget(rb_poweroff);
    Power->addWidget(rb_hibernate);
    Power->addStretch(1);

    auto* Inner = new QVBoxLayout(GroupBox5);
    Inner->addWidget(CheckBox6);
    Inner->addWidget(CheckBox10);
    Inner->addLayout(BossKey);
    Inner->addWidget(CheckBox3);
    Inner->addWidget(CheckBox9);
    Inner->addWidget(CheckBox8);
    Inner->addLayout(Power);
    Inner->addWidget(CheckBox23);

    auto* Layout = new QVBoxLayout(Page);
    Layout->addWidget(GroupBox5);
    Layout->addStretch(1);
    return Page;
}

void TSettingsBox::FormCreate() {
    const TAppSettings& Settings = AppSettings;
    const TGeneralSettings& General = Settings.General;

    CheckBox6->setChecked(General.StartWithWindows);
    CheckBox10->setChecked(General.StartInStealthMode);
    CheckBox3->setChecked(General.AutostartUploading);
    CheckBox9->setChecked(General.NotifyUploadFinished);
    CheckBox8->setChecked(General.ShutDownWhenFinished);
    rb_hibernate->setChecked(General.Hibernate);
    rb_poweroff->setChecked(!General.Hibernate);
    CheckBox23->setChecked(General.UseSkin);
    PendingBossKey = General.BossKey;
    QString KeyText;
    HotKeyToText(PendingBossKey.Modifiers, PendingBossKey.Key, KeyText);
    Edit13->setText(KeyText);

    if (General.LastSettingsTab >= 0 && General.LastSettingsTab < PageControl1->count())
        PageControl1->setCurrentIndex(General.LastSettingsTab);

    const TInternetConnectionSettings& Connection = Settings.InternetConnection;
    CheckBox1->setChecked(Connection.UseProxy);
    Edit1->setText(Q(Connection.UserName));
    Edit2->setText(PasswordPlaceholder());
    Edit3->setText(Q(Connection.Proxy));
    const int ProxyIndex = int(Connection.ProxyType) - 1;
    ComboBox1->setCurrentIndex(ProxyIndex < ComboBox1->count() ? ProxyIndex : -1);
    ComboBox3->setCurrentIndex(Connection.FtpProxyMethod < ComboBox3->count() ? Connection.FtpProxyMethod
                                                                              : -1);
    cb_adapters->addItem(tr("Default"));
    for (const std::string& Address : LocalIPv4Addresses())
        cb_adapters->addItem(Q(Address));
    const int Bound = Connection.BoundIP.empty() ? -1 : cb_adapters->findText(Q(Connection.BoundIP));
    cb_adapters->setCurrentIndex(Bound > 0 ? Bound : 0);

    CheckBox11->setChecked(Settings.Brimvault.UseAccount);
    Edit15->setText(Q(Settings.Brimvault.UserName));
    Edit14->setText(PasswordPlaceholder());

    const TUploadManagerSettings& Engine = Settings.UploadManager;
    SetSpin(UpDown1, Engine.ParallelThreads);
    SetSpin(UpDown2, Engine.SpeedLimit);
    SetSpin(UpDown3, Engine.ConnectTimeout);
    SetSpin(UpDown4, Engine.ReadTimeout);
    SetSpin(UpDown5, Engine.RetryCount);
    CheckBox13->setChecked(Engine.AutoManageBandwidth);
    ComboBox2->setCurrentIndex(-1);
    ComboBox2->setEditText(QString::number(Engine.SendBufferSize) + QStringLiteral(" KB (User settings)"));
    for (int i = 0; i < ComboBox2->count(); ++i)
        if (LeadingNumber(S(ComboBox2->itemText(i))) == Engine.SendBufferSize) {
            ComboBox2->setCurrentIndex(i);
            break;
        }
    CheckBox2->setChecked(Engine.CalculateMD5);

    CheckBox4->setChecked(Settings.Scheduler.Enabled);
    FStartTime = Settings.Scheduler.StartTime;
    FEndTime = Settings.Scheduler.EndTime;
    DateTimePicker1->setTime(TimeOfDayToQTime(FStartTime));
    DateTimePicker2->setTime(TimeOfDayToQTime(FEndTime));
    CheckBox5->setChecked(Settings.Scheduler.AbortNonFinished);

    for (QCheckBox* Box : {CheckBox1, CheckBox4, CheckBox11})
        CheckBox1Click(Box);
    for (QLineEdit* Edit : {Edit2, Edit14})
        SetPasswordState(Edit, psPlaceholder);

    // A fixed border: the designed size, or more where the (translated) texts need more room.
    const QSize Hint = sizeHint();
    setFixedSize(std::max(Hint.width(), kClientWidth), std::max(Hint.height(), kClientHeight));
}

void TSettingsBox::CheckBox1Click(QCheckBox* Sender) {
    QGroupBox* Group = Sender == CheckBox1 ? GroupBox1 : Sender == CheckBox4 ? GroupBox3 : GroupBox4;
    for (QWidget* Child : Group->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
        Child->setEnabled(Sender->isChecked());
}

TSettingsBox::TPasswordState TSettingsBox::PasswordState(const QLineEdit* Edit) {
    return TPasswordState(Edit->property(kPasswordStateProperty).toInt());
}

void TSettingsBox::SetPasswordState(QLineEdit* Edit, TPasswordState State) {
    Edit->setProperty(kPasswordStateProperty, int(State));
    QFont Font = Edit->font();
    Font.setItalic(State != psChanged);
    Edit->setFont(Font);
}

void TSettingsBox::Edit2Enter(QLineEdit* Edit) {
    if (PasswordState(Edit) != psPlaceholder)
        return;
    Edit->clear();
    Edit->setProperty(kPasswordStateProperty, int(psEntered));
}

void TSettingsBox::Edit2Change(QLineEdit* Edit) {
    if (PasswordState(Edit) == psEntered)
        SetPasswordState(Edit, psChanged);
}

void TSettingsBox::Edit2Exit(QLineEdit* Edit) {
    if (PasswordState(Edit) != psEntered)
        return;
    Edit->setProperty(kPasswordStateProperty, int(psPlaceholder));
    Edit->setText(PasswordPlaceholder());
}

bool TSettingsBox::eventFilter(QObject* Watched, QEvent* Event) {
    if (Watched == Edit13) {
        // Ask for every key as a key press, so that no shortcut takes it first.
        if (Event->type() == QEvent::ShortcutOverride) {
            Event->accept();
            return true;
        }
        if (Event->type() == QEvent::KeyPress)
            return FormKeyDown(*static_cast<QKeyEvent*>(Event));
    }
    auto* Edit = qobject_cast<QLineEdit*>(Watched);
    if (Edit && (Edit == Edit2 || Edit == Edit14)) {
        // Only a move of the focus inside the dialog enters or leaves the field; switching to
        // another window and back, or a context menu, does not.
        auto Reason = [Event] { return static_cast<QFocusEvent*>(Event)->reason(); };
        const bool Moved = (Event->type() == QEvent::FocusIn || Event->type() == QEvent::FocusOut) &&
                           Reason() != Qt::ActiveWindowFocusReason && Reason() != Qt::PopupFocusReason;
        if (Moved && Event->type() == QEvent::FocusIn)
            Edit2Enter(Edit);
        else if (Moved)
            Edit2Exit(Edit);
    }
    return TFormBase<QDialog>::eventFilter(Watched, Event);
}

bool TSettingsBox::FormKeyDown(const QKeyEvent& Event) {
    const THotKeyStroke Stroke = HotKeyFromKeyEvent(Event);
    const uint8_t Key = Stroke.Key;
    const bool TypingKey =
        Key == vkTab || Key == vkSpace || (Key >= '0' && Key <= '9') || (Key >= 'A' && Key <= 'Z');
    const bool Plain = Stroke.Modifiers == 0 || Stroke.Modifiers == bkAlt || Stroke.Modifiers == bkShift;
    bool Accepted = !(Plain && TypingKey) && !(Stroke.Modifiers == 0 && (Key == vkBack || Key == vkDelete));
    QString Text;
    if (Accepted)
        Accepted = HotKeyToText(Stroke.Modifiers, Key, Text);
    if (Accepted) {
        PendingBossKey = TBossKey{Stroke.Modifiers, Key};
        Edit13->setText(Text);
    } else {
        PendingBossKey = TBossKey{};
        Edit13->setText(QStringLiteral("<NONE>"));
        if (Beep)
            Beep();
    }
    return true;
}

void TSettingsBox::Button3Click() {
    const TSystemProxy Proxy = SystemProxy();
    Edit1->setText(Q(Proxy.UserName));
    Edit2->setText(Q(Proxy.Password));
    SetPasswordState(Edit2, psChanged);
    ComboBox1->setCurrentIndex(Proxy.ProxyType - 1);
    ComboBox3->setCurrentIndex(0);
    Edit3->setText(Q(Proxy.Host) + QLatin1Char(':') + QString::number(Proxy.Port));
}

void TSettingsBox::Button1Click() {
    UpdateSettings([this](TAppSettings& Settings) {
        TGeneralSettings& General = Settings.General;
        General.StartWithWindows = CheckBox6->isChecked();
        General.AutostartUploading = CheckBox3->isChecked();
        General.NotifyUploadFinished = CheckBox9->isChecked();
        General.ShutDownWhenFinished = CheckBox8->isChecked();
        General.Hibernate = rb_hibernate->isChecked();
        General.StartInStealthMode = CheckBox10->isChecked();
        General.BossKey = PendingBossKey;
        General.UseSkin = CheckBox23->isChecked();

        TInternetConnectionSettings& Connection = Settings.InternetConnection;
        Connection.UseProxy = CheckBox1->isChecked();
        Connection.UserName = Trimmed(Edit1);
        if (PasswordState(Edit2) == psChanged)
            Connection.Password = Trimmed(Edit2);
        Connection.Proxy = Trimmed(Edit3);
        Connection.ProxyType = uint8_t(ComboBox1->currentIndex() + 1);
        Connection.FtpProxyMethod = uint8_t(ComboBox3->currentIndex());
        Connection.BoundIP = cb_adapters->currentIndex() > 0 ? S(cb_adapters->currentText()) : std::string();

        Settings.Brimvault.UseAccount = CheckBox11->isChecked();
        Settings.Brimvault.UserName = Trimmed(Edit15);
        if (PasswordState(Edit14) == psChanged)
            Settings.Brimvault.Password = Trimmed(Edit14);

        TUploadManagerSettings& Engine = Settings.UploadManager;
        Engine.ParallelThreads = SpinValue(UpDown1);
        Engine.SpeedLimit = SpinValue(UpDown2);
        Engine.AutoManageBandwidth = CheckBox13->isChecked();
        Engine.ConnectTimeout = SpinValue(UpDown3);
        Engine.ReadTimeout = SpinValue(UpDown4);
        Engine.RetryCount = SpinValue(UpDown5);
        Engine.SendBufferSize = SendBufferSizeFromText(S(ComboBox2->currentText()));
        Engine.CalculateMD5 = CheckBox2->isChecked();

        Settings.Scheduler.Enabled = CheckBox4->isChecked();
        Settings.Scheduler.StartTime = PickerValue(DateTimePicker1, FStartTime);
        Settings.Scheduler.EndTime = PickerValue(DateTimePicker2, FEndTime);
        Settings.Scheduler.AbortNonFinished = CheckBox5->isChecked();
    });
}

void TSettingsBox::FormClose() {
    const int Page = PageControl1->currentIndex();
    UpdateSettings([Page](TAppSettings& Settings) { Settings.General.LastSettingsTab = Page; });
    try {
        SaveSettings();
    } catch (const ESettingsError& Error) {
        ShowErrorBox(parentWidget(), QString::fromStdString(Error.what()));
    }
}

void TSettingsBox::done(int Result) {
    FormClose();
    TFormBase<QDialog>::done(Result);
}

} // namespace quillo
