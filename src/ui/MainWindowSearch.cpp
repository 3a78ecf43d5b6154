// The main window's small services: the search panel over the finished list, the Help command,
// the check for a newer version, and the red error report of unhandled errors.
#include "ui/MainWindow.h"

#include "core/app/EXEUtils.h"
#include "core/engine/ServiceSite.h"
#include "core/engine/UpdateCheck.h"
#include "core/l10n/ResMessages.h"
#include "core/queue/FinishedSearch.h"
#include "core/queue/QueueCommands.h"
#include "ui/ApplicationEvents.h"
#include "ui/FreezeUpdates.h"
#include "ui/MessageBox.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDesktopServices>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QScrollBar>
#include <QSplitter>
#include <QStyle>
#include <QTableView>
#include <QToolButton>
#include <QTreeWidget>
#include <QUrl>

namespace quillo {

namespace {

constexpr const char* kSupportAddress = "support@brimvault.com";

QIcon ThemeIcon(const char* Name, QStyle::StandardPixmap Fallback, const QWidget* W) {
    return QIcon::fromTheme(QString::fromLatin1(Name), W->style()->standardIcon(Fallback));
}

void OpenUrl(const std::string& Url) {
    // The browser's start is not reported: there is nothing the user could do about it here.
    QDesktopServices::openUrl(QUrl(QString::fromStdString(Url)));
}

} // namespace

// ---- widgets ---------------------------------------------------------------------------------

void TMainWindow::CreateSearchPanel() {
    auto* layout = new QHBoxLayout(searchpanel);
    layout->setContentsMargins(6, 4, 6, 4);
    layout->setSpacing(8);

    SpeedButton1 = new QToolButton(searchpanel);
    SpeedButton1->setObjectName(QStringLiteral("SpeedButton1"));
    SpeedButton1->setAccessibleName(tr("Close search"));
    SpeedButton1->setToolTip(tr("Close search"));
    SpeedButton1->setAutoRaise(true);
    SpeedButton1->setFixedSize(20, 20);
    SpeedButton1->setIconSize(QSize(16, 16));
    SpeedButton1->setIcon(ThemeIcon("window-close", QStyle::SP_TitleBarCloseButton, this));

    Edit1 = new QLineEdit(searchpanel);
    Edit1->setObjectName(QStringLiteral("Edit1"));
    Edit1->setAccessibleName(tr("Search finished uploads by file name"));
    Edit1->setFixedWidth(297);
    Edit1->setAutoFillBackground(true);

    BitBtn1 = new QPushButton(tr("Find"), searchpanel);
    BitBtn1->setObjectName(QStringLiteral("BitBtn1"));
    BitBtn1->setIcon(ThemeIcon("edit-find", QStyle::SP_FileDialogContentsView, this));
    BitBtn1->setAutoDefault(false);

    CheckBox1 = new QCheckBox(tr("Select All"), searchpanel);
    CheckBox1->setObjectName(QStringLiteral("CheckBox1"));

    Label1 = new QLabel(tr("Reached end of the list, continued from the top..."), searchpanel);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->hide();

    layout->addWidget(SpeedButton1);
    layout->addWidget(Edit1);
    layout->addWidget(BitBtn1);
    layout->addWidget(CheckBox1);
    layout->addWidget(Label1);
    layout->addStretch(1);
}

QStringList TMainWindow::ErrorReportHeader() {
    return {QStringLiteral("AN UNHANDLED ERROR HAS OCCURED !"),
            QStringLiteral("Please tell the Quillo developers about it at %1, with the lines below.")
                .arg(QString::fromLatin1(kSupportAddress)),
            QStringLiteral("What were you doing when this happened ? What OS do you use ?")};
}

void TMainWindow::CreateErrorReport() {
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(15);
    font.setBold(true);
    Memo1->setFont(font);
    QPalette p = Memo1->palette();
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        p.setColor(group, QPalette::Base, Qt::red);
        p.setColor(group, QPalette::Text, Qt::white);
    }
    Memo1->setPalette(p);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    Memo1->setPlainText(ErrorReportHeader().join(QLatin1Char('\n')));
}

void TMainWindow::InstallSearchCommands() {
    InstallCommand(act_search, [this] { act_searchExecute(); });
    connect(SpeedButton1, &QToolButton::clicked, this, [this] { SpeedButton1Click(); });
    connect(Edit1, &QLineEdit::textChanged, this, [this] { Edit1Change(); });
    // Enter in the search box finds the next match, as Find does.
    connect(Edit1, &QLineEdit::returnPressed, this, [this] { BitBtn1Click(); });
    connect(BitBtn1, &QPushButton::clicked, this, [this] { BitBtn1Click(); });
    if (!FBeep)
        FBeep = [] { QApplication::beep(); };

    InstallCommand(act_help, [this] { act_helpExecute(); });
    FUpdateCheck = new TUpdateCheck(this);
    InstallCommand(act_checkforupdate, [this] { act_checkforupdateExecute(); });

    // Whatever no other code handled ends here, while this window exists.
    SetApplicationExceptionHandler(
        [Window = QPointer<TMainWindow>(this)](QObject* Sender, std::exception_ptr E) {
            if (!Window)
                return false;
            Window->ApplicationEventsException(Sender, E);
            return true;
        });
}

// ---- search ----------------------------------------------------------------------------------

void TMainWindow::act_searchExecute() {
    // The check mark has already flipped.
    SetBottomWidgetVisible(searchpanel, act_search->isChecked());
    if (act_search->isChecked())
        Edit1->setFocus(Qt::ShortcutFocusReason);
}

void TMainWindow::SpeedButton1Click() {
    SetBottomWidgetVisible(searchpanel, false);
    act_search->setChecked(false);
}

void TMainWindow::Edit1Change() {
    SearchFinishedList(false, CheckBox1->isChecked());
}

void TMainWindow::BitBtn1Click() {
    SearchFinishedList(true, CheckBox1->isChecked());
}

void TMainWindow::SearchFinishedList(bool Next, bool SelectAll) {
    QTableView* view = ListViewFinishedUploadJobs;
    const TSearchOutcome outcome = quillo::SearchFinishedList(FQueue, view->currentIndex().row(), Next,
                                                              SelectAll, Edit1->text().toStdString());
    if (!outcome.Searched)
        return;
    Label1->setVisible(outcome.Wrapped);
    {
        TFreezeUpdates bulk(view);
        std::optional<std::size_t> focus;
        if (outcome.Found)
            focus = std::size_t(outcome.FocusedRow);
        ApplySelection(view, TListSelection::OfRows(FQueue.FinishedCount(), outcome.Selected, focus));
        if (outcome.Found)
            view->scrollTo(view->model()->index(outcome.FocusedRow, 0));
    }
    QPalette p = Edit1->palette();
    p.setColor(QPalette::Base, outcome.Found ? QApplication::palette(Edit1).color(QPalette::Base)
                                             : QColor::fromRgb(SearchMissColour));
    Edit1->setPalette(p);
    if (!outcome.Found && FBeep)
        FBeep();
    if (CurrentView() != ListViewFinishedUploadJobs)
        TreeView->setCurrentItem(TreeView->topLevelItem(1));
}

// ---- help and update check -------------------------------------------------------------------

void TMainWindow::act_helpExecute() {
    OpenUrl(HelpPageUrl());
}

bool TMainWindow::UpdateCheckRunning() const {
    return FUpdateCheck && FUpdateCheck->Running();
}

void TMainWindow::act_checkforupdateExecute() {
    if (UpdateCheckRunning())
        return;
    const std::uint32_t version =
        FFileVersionPacked ? FFileVersionPacked() : ProgramVersionInfo().FileVersionPacked;
    act_checkforupdate->setEnabled(false);
    if (!FUpdateCheck->Start(
            version, [this](const TUpdateCheckOutcome& Outcome) { UpdateCheckDone(Outcome); },
            FUpdateCheckUrl, FUpdateCheckTimeoutMs))
        act_checkforupdate->setEnabled(true);
}

void TMainWindow::UpdateCheckDone(const TUpdateCheckOutcome& Outcome) {
    act_checkforupdate->setEnabled(true);
    if (Outcome.Error) {
        ApplicationEventsException(this, Outcome.Error);
        return;
    }
    if (!Outcome.NewerAvailable) {
        ShowMessageBox(this, ResQString(rmVersionUpToDate), ResQString(rmInformation), mbOK, miInformation);
        return;
    }
    if (ShowMessageBox(this, ResQString(rmNewerVersion), ResQString(rmInformation), mbYesNo, miInformation) ==
        mrYes)
        OpenUrl(DownloadPageUrl());
}

// ---- error report ----------------------------------------------------------------------------

void TMainWindow::ApplicationEventsException(QObject* Sender, std::exception_ptr E) {
    AddErrorReportLine(UnhandledErrorLine(Sender, E));
}

void TMainWindow::AddErrorReportLine(const QString& Line) {
    Memo1->appendPlainText(Line);
    Memo1->verticalScrollBar()->setValue(Memo1->verticalScrollBar()->maximum());
    SetBottomWidgetVisible(Memo1, true);
}

void TMainWindow::SetBottomWidgetVisible(QWidget* Widget, bool Visible) {
    if (Widget->isHidden() != Visible)
        return;
    QList<int> sizes = Splitter2->sizes();
    Widget->setVisible(Visible);
    if (sizes.size() != 2)
        return;
    // Room taken from the lists above, as far as they have it; given back when hidden.
    const int change =
        Visible ? qMin(Widget->maximumHeight(), qMax(0, sizes[0] - 50)) : -Widget->maximumHeight();
    sizes[0] -= change;
    sizes[1] = qMax(0, sizes[1] + change);
    Splitter2->setSizes(sizes);
}

} // namespace quillo
