#include "ui/ShutDown.h"

#include "core/app/Settings.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusInterface>
#include <QDBusReply>
#include <QEventLoop>
#include <QHBoxLayout>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>

namespace quillo {

namespace {

constexpr int kCommandTimeoutMs = 30000;
constexpr int kLogindTimeoutMs = 10000;

} // namespace

bool SplitCommandLine(const QString& CommandLine, QStringList& Words) {
    Words.clear();
    QString Word;
    bool InWord = false;
    enum { Plain, Single, Double } Quote = Plain;
    for (qsizetype i = 0; i < CommandLine.size(); ++i) {
        const QChar c = CommandLine[i];
        if (Quote == Single) {
            if (c == QLatin1Char('\''))
                Quote = Plain;
            else
                Word += c;
        } else if (Quote == Double) {
            if (c == QLatin1Char('"'))
                Quote = Plain;
            else if (c == QLatin1Char('\\') && i + 1 < CommandLine.size() &&
                     QStringLiteral("\\\"$`").contains(CommandLine[i + 1]))
                Word += CommandLine[++i];
            else
                Word += c;
        } else if (c.isSpace()) {
            if (InWord)
                Words << Word;
            Word.clear();
            InWord = false;
        } else {
            InWord = true;
            if (c == QLatin1Char('\''))
                Quote = Single;
            else if (c == QLatin1Char('"'))
                Quote = Double;
            else if (c == QLatin1Char('\\') && i + 1 < CommandLine.size())
                Word += CommandLine[++i];
            else
                Word += c;
        }
    }
    if (Quote != Plain) {
        Words.clear();
        return false;
    }
    if (InWord)
        Words << Word;
    return !Words.isEmpty();
}

namespace {

bool RunShutDownCommand(const QString& CommandLine, uint32_t Flags, const QString& Action) {
    QStringList Arguments;
    if (!SplitCommandLine(CommandLine, Arguments))
        return false;
    const QString Program = Arguments.takeFirst();
    Arguments << QString::number(Flags) << Action;
    QProcess Process;
    Process.setProcessChannelMode(QProcess::ForwardedChannels);
    QEventLoop Loop;
    QObject::connect(&Process, &QProcess::finished, &Loop, &QEventLoop::quit);
    QObject::connect(&Process, &QProcess::errorOccurred, &Loop, &QEventLoop::quit);
    QTimer::singleShot(kCommandTimeoutMs, &Loop, &QEventLoop::quit);
    Process.start(Program, Arguments);
    if (Process.state() != QProcess::NotRunning)
        Loop.exec();
    if (Process.state() != QProcess::NotRunning) {
        Process.kill();
        Process.waitForFinished(1000);
        return false;
    }
    return Process.exitStatus() == QProcess::NormalExit && Process.exitCode() == 0 &&
           Process.error() == QProcess::UnknownError;
}

bool AskLogind(const QString& Method, bool Interactive) {
    QDBusConnection Bus = QDBusConnection::systemBus();
    if (!Bus.isConnected())
        return false;
    QDBusInterface Manager(QStringLiteral("org.freedesktop.login1"),
                           QStringLiteral("/org/freedesktop/login1"),
                           QStringLiteral("org.freedesktop.login1.Manager"), Bus);
    if (!Manager.isValid())
        return false;
    Manager.setTimeout(kLogindTimeoutMs);
    const QDBusMessage Reply = Manager.call(Method, Interactive);
    return Reply.type() == QDBusMessage::ReplyMessage;
}

} // namespace

bool ShutDownComputer(uint32_t Flags) {
    const bool Hibernate = AppSettings.General.Hibernate;
    const QString Command = QString::fromLocal8Bit(qgetenv("QUILLO_SHUTDOWN_COMMAND")).trimmed();
    if (!Command.isEmpty())
        return RunShutDownCommand(Command, Flags,
                                  Hibernate ? QStringLiteral("hibernate") : QStringLiteral("poweroff"));
    // A forced request runs unattended: asking for authorization would wait for nobody.
    return AskLogind(Hibernate ? QStringLiteral("Hibernate") : QStringLiteral("PowerOff"),
                     !(Flags & ewxForce));
}

TShutDownBox::TShutDownBox(QWidget* Owner, TShutDownBoxOptions Options)
    : TFormBase<QDialog>(Owner), FOptions(Options) {
    CreateForm();
}

void TShutDownBox::CreateWidgets() {
    setObjectName(QStringLiteral("TShutDownBox"));
    setWindowTitle(tr("Computer Shut Down"));
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    setAutoFillBackground(true);
    QPalette Black = palette();
    Black.setColor(QPalette::Window, Qt::black);
    Black.setColor(QPalette::WindowText, Qt::white);
    setPalette(Black);

    auto MakeLabel = [this](const char* Name, const QString& Text, int PixelSize, const QColor& Color) {
        auto* Label = new QLabel(Text, this);
        Label->setObjectName(QString::fromLatin1(Name));
        QFont Font = Label->font();
        if (PixelSize > 0) {
            Font.setFamily(QStringLiteral("Arial"));
            Font.setPixelSize(PixelSize);
        }
        Font.setBold(true);
        Label->setFont(Font);
        QPalette Colors = Label->palette();
        Colors.setColor(QPalette::WindowText, Color);
        Label->setPalette(Colors);
        return Label;
    };
    Image2 = new QLabel(this);
    Image2->setObjectName(QStringLiteral("Image2"));
    Image2->setFixedSize(32, 32);
    Label2 = MakeLabel("Label2", tr("Computer Shut Down"), 16, Qt::white);
    Label1 = MakeLabel("Label1", tr("Quillo will shut down computer in"), 0, Qt::white);
    Label3 = MakeLabel("Label3", QStringLiteral("20"), 48, Qt::yellow);
    Label4 = MakeLabel("Label4", tr("seconds"), 0, Qt::white);
    for (QLabel* Label : {Label1, Label3, Label4})
        Label->setAlignment(Qt::AlignCenter);
    Label3->setAccessibleName(tr("Seconds left"));

    Button1 = new QPushButton(tr("Shut Down Now"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setAutoDefault(false);
    Button2 = new QPushButton(tr("Cancel"), this);
    Button2->setObjectName(QStringLiteral("Button2"));
    Button2->setDefault(true);
    connect(Button1, &QPushButton::clicked, this, [this] {
        Button1Click();
        accept();
    });
    connect(Button2, &QPushButton::clicked, this, &QDialog::reject);

    auto* Title = new QHBoxLayout;
    Title->addWidget(Image2);
    Title->addSpacing(8);
    Title->addWidget(Label2, 1);
    auto* Buttons = new QHBoxLayout;
    Buttons->addStretch(1);
    Buttons->addWidget(Button1);
    Buttons->addWidget(Button2);
    Buttons->addStretch(1);
    auto* Layout = new QVBoxLayout(this);
    Layout->setContentsMargins(10, 8, 10, 10);
    Layout->setSpacing(2);
    Layout->addLayout(Title);
    Layout->addSpacing(6);
    Layout->addWidget(Label1);
    Layout->addWidget(Label3);
    Layout->addWidget(Label4);
    Layout->addStretch(1);
    Layout->addLayout(Buttons);

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(1000);
    connect(Timer1, &QTimer::timeout, this, &TShutDownBox::Timer1Timer);
}

void TShutDownBox::FormCreate() {
    FCounter = 20;
    Label3->setText(QString::number(FCounter));
    QIcon Icon = QApplication::windowIcon();
    if (Icon.isNull())
        Icon = QIcon::fromTheme(QStringLiteral("system-shutdown"),
                                style()->standardIcon(QStyle::SP_MessageBoxWarning));
    Image2->setPixmap(Icon.pixmap(32, 32));
    const QSize Hint = sizeHint();
    setFixedSize(std::max(Hint.width(), DesignedWidth), std::max(Hint.height(), DesignedHeight));
    Button2->setFocus();
    if (FOptions.RunTimer)
        Timer1->start();
}

void TShutDownBox::showEvent(QShowEvent* Event) {
    TFormBase<QDialog>::showEvent(Event);
    FormShow();
}

void TShutDownBox::FormShow() {
    // Centred on the screen, above every window, and in front so that Enter and Escape reach it.
    if (const QScreen* Screen = screen() ? screen() : QGuiApplication::primaryScreen())
        move(Screen->availableGeometry().center() - rect().center());
    raise();
    activateWindow();
    Button2->setFocus();
}

void TShutDownBox::Timer1Timer() {
    if (FCounter > 0) {
        --FCounter;
        Label3->setText(QString::number(FCounter));
        return;
    }
    Timer1->stop();
    ShutDownComputer(ShutDownUnattended);
    accept();
}

void TShutDownBox::Button1Click() {
    ShutDownComputer(ShutDownByUser);
}

void ShutDownWhenFinished(QWidget* Owner, bool Stealth, TShutDownBoxOptions Options) {
    if (Stealth) {
        ShutDownComputer(ShutDownUnattended);
        return;
    }
    TShutDownBox Box(Owner, Options);
    Box.exec();
}

} // namespace quillo
