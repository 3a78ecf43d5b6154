#include "ui/UpTaskProps.h"

#include "core/app/MyUtils.h"
#include "core/app/Settings.h"
#include "core/engine/PluginManager.h"
#include "core/l10n/ResMessages.h"
#include "core/queue/AddFiles.h"
#include "core/queue/QueueCommands.h"
#include "core/queue/Scheduler.h"
#include "ui/MessageBox.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include <utility>

namespace quillo {

namespace {

QString Q(const std::string& s) {
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}

std::string S(const QString& s) {
    return s.toUtf8().toStdString();
}

TTaskPropertiesHook& InstalledHook() {
    static TTaskPropertiesHook hook;
    return hook;
}

QLabel* NoteLabel(QWidget* parent, const char* name, const char* text) {
    auto* label = new QLabel(QString::fromUtf8(text), parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setWordWrap(true);
    label->setStyleSheet(QStringLiteral("color: blue;"));
    return label;
}

// Shows the dialog modally after the test hook (if any) had its say.
int Run(TFrmUploadTaskProperties& dialog) {
    if (const TTaskPropertiesHook& hook = InstalledHook())
        hook(dialog);
    return dialog.exec();
}

// The file-name part of a path for the information text: a name that is not UTF-8 is shown with
// replacement characters, which the label can draw.
QString FileNameText(const std::string& path) {
    return Q(ExtractFileName(path));
}

} // namespace

TTaskPropertiesHook SetTaskPropertiesHook(TTaskPropertiesHook Hook) {
    return std::exchange(InstalledHook(), std::move(Hook));
}

TFrmUploadTaskProperties::TFrmUploadTaskProperties(QWidget* Owner) : TFormBase<QDialog>(Owner) {
    CreateForm();
}

void TFrmUploadTaskProperties::CreateWidgets() {
    setObjectName(QStringLiteral("FrmUploadTaskProperties"));
    setModal(true);
    QFont font(QStringLiteral("Tahoma"));
    font.setPointSize(8);
    setFont(font);

    auto* page = new QVBoxLayout(this);
    page->setContentsMargins(10, 10, 10, 10);
    page->setSpacing(6);

    auto* pages = new QTabWidget(this);
    pages->setObjectName(QStringLiteral("PageControl1"));
    auto* properties = new QWidget(pages);
    properties->setObjectName(QStringLiteral("TabSheet1"));
    pages->addTab(properties, QStringLiteral("Properties"));
    auto* box = new QVBoxLayout(properties);
    box->setSpacing(6);

    lab_info = new QLabel(QStringLiteral("<INFO>\n"), properties);
    lab_info->setObjectName(QStringLiteral("lab_info"));
    lab_info->setWordWrap(true);
    lab_info->setStyleSheet(QStringLiteral("color: blue;"));
    lab_info->setMinimumHeight(lab_info->fontMetrics().lineSpacing() * 2 + 4);
    lab_info->setTextInteractionFlags(Qt::TextSelectableByMouse);
    box->addWidget(lab_info);

    Label3 = new QLabel(QStringLiteral("Upload file name"), properties);
    Label3->setObjectName(QStringLiteral("Label3"));
    box->addWidget(Label3);
    auto* nameRow = new QHBoxLayout;
    EB_UploadName = new QLineEdit(properties);
    EB_UploadName->setObjectName(QStringLiteral("EB_UploadName"));
    Label3->setBuddy(EB_UploadName);
    B_Scramble = new QPushButton(QStringLiteral("Random"), properties);
    B_Scramble->setObjectName(QStringLiteral("B_Scramble"));
    B_Scramble->setAccessibleName(QStringLiteral("Random upload file name"));
    nameRow->addWidget(EB_UploadName, 1);
    nameRow->addWidget(B_Scramble);
    box->addLayout(nameRow);

    Label1 = new QLabel(QStringLiteral("Upload method"), properties);
    Label1->setObjectName(QStringLiteral("Label1"));
    box->addWidget(Label1);
    CB_UploadServer = new QComboBox(properties);
    CB_UploadServer->setObjectName(QStringLiteral("CB_UploadServer"));
    CB_UploadServer->setMaxVisibleItems(10);
    Label1->setBuddy(CB_UploadServer);
    box->addWidget(CB_UploadServer);

    RG_Options = new QGroupBox(QStringLiteral("When to start upload ?"), properties);
    RG_Options->setObjectName(QStringLiteral("RG_Options"));
    auto* options = new QVBoxLayout(RG_Options);
    FOptions = new QButtonGroup(this);
    const char* const items[2] = {"Queue for upload", "Delay upload"};
    for (int i = 0; i < 2; ++i) {
        FOptionItems[i] = new QRadioButton(QString::fromUtf8(items[i]), RG_Options);
        FOptionItems[i]->setObjectName(QStringLiteral("RG_Options_%1").arg(i));
        FOptions->addButton(FOptionItems[i], i);
        options->addWidget(FOptionItems[i]);
    }
    box->addWidget(RG_Options);

    auto* notesRow = new QHBoxLayout;
    Label4 = new QLabel(QStringLiteral("NOTES"), properties);
    Label4->setObjectName(QStringLiteral("Label4"));
    QFont bold = Label4->font();
    bold.setBold(true);
    Label4->setFont(bold);
    Bevel1 = new QFrame(properties);
    Bevel1->setObjectName(QStringLiteral("Bevel1"));
    Bevel1->setFrameShape(QFrame::HLine);
    Bevel1->setFrameShadow(QFrame::Sunken);
    notesRow->addWidget(Label4);
    notesRow->addWidget(Bevel1, 1);
    box->addLayout(notesRow);
    Label12 = NoteLabel(
        properties, "Label12",
        "- Max file size is 100 MB. If file is larger, you can use WinRAR to split it into the parts.");
    Label2 = NoteLabel(
        properties, "Label2",
        "- FTP upload method supports resume of broken uploads while HTTP method doesn't support it.");
    box->addWidget(Label12);
    box->addWidget(Label2);
    box->addStretch(1);
    page->addWidget(pages, 1);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    B_OK = new QPushButton(QStringLiteral("OK"), this);
    B_OK->setObjectName(QStringLiteral("B_OK"));
    B_OK->setDefault(true);
    B_Cancel = new QPushButton(QStringLiteral("Cancel"), this);
    B_Cancel->setObjectName(QStringLiteral("B_Cancel"));
    buttons->addWidget(B_OK);
    buttons->addWidget(B_Cancel);
    page->addLayout(buttons);

    connect(B_Scramble, &QPushButton::clicked, this, [this] { B_ScrambleClick(); });
    connect(B_OK, &QPushButton::clicked, this, &QDialog::accept);
    connect(B_Cancel, &QPushButton::clicked, this, &QDialog::reject);
    setFixedSize(DesignedClientWidth, DesignedClientHeight);
}

void TFrmUploadTaskProperties::FormCreate() {
    // The registry's order; the list shows them sorted ("FTP Method" before "HTTP Method").
    QStringList methods;
    for (const std::string& name : UploaderNames())
        methods << Q(name);
    methods.sort(Qt::CaseInsensitive);
    CB_UploadServer->addItems(methods);
    CB_UploadServer->setCurrentIndex(methods.isEmpty() ? -1 : 0);
    SetOptionIndex(1);
}

void TFrmUploadTaskProperties::showEvent(QShowEvent* Event) {
    TFormBase<QDialog>::showEvent(Event);
    raise();
    activateWindow();
}

void TFrmUploadTaskProperties::SetInfo(const QString& Text) {
    QString text = Text;
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    lab_info->setText(text);
}

void TFrmUploadTaskProperties::SelectMethod(const QString& Name) {
    const int index = CB_UploadServer->findText(Name, Qt::MatchExactly | Qt::MatchCaseSensitive);
    CB_UploadServer->setCurrentIndex(index >= 0 ? index : (CB_UploadServer->count() ? 0 : -1));
}

int TFrmUploadTaskProperties::OptionIndex() const {
    return FOptions->checkedId();
}

void TFrmUploadTaskProperties::SetOptionIndex(int Index) {
    if (Index < 0 || Index > 1) {
        // A button group does not let its last button go by itself.
        FOptions->setExclusive(false);
        for (QRadioButton* b : FOptionItems)
            b->setChecked(false);
        FOptions->setExclusive(true);
        return;
    }
    FOptionItems[Index]->setChecked(true);
}

QString TFrmUploadTaskProperties::SelectedMethod() const {
    return CB_UploadServer->currentIndex() < 0 ? QString() : CB_UploadServer->currentText();
}

void TFrmUploadTaskProperties::B_ScrambleClick() {
    EB_UploadName->setText(Q(RandomFileName()));
}

bool TFrmUploadTaskProperties::FormCloseQuery() {
    if (CB_UploadServer->count() > 0 && CB_UploadServer->currentIndex() == 0 &&
        !AppSettings.Brimvault.UseAccount) {
        ShowMessageBox(this, ResQString(rmNeedAccountForFtp), ResQString(rmError), mbOK, miError);
        return false;
    }
    const std::string name = Trim(S(EB_UploadName->text()));
    // Only what the user typed: a proposed name (the file's own, a random one) is taken as it is.
    if (EB_UploadName->isEnabled() && EB_UploadName->isModified() && !name.empty())
        if (const std::optional<std::string> problem = UploadNameProblem(name)) {
            ShowMessageBox(this, Q(*problem), ResQString(rmError), mbOK, miError);
            EB_UploadName->setFocus();
            return false;
        }
    return true;
}

void TFrmUploadTaskProperties::done(int Result) {
    if (Result == QDialog::Accepted && !FormCloseQuery())
        return;
    TFormBase<QDialog>::done(Result);
}

// ---- adding files ----------------------------------------------------------------------------

bool AddFiles(QWidget* Owner, TScheduler& Scheduler, std::vector<std::string>& Paths, bool StayOnTop) {
    if (Paths.empty())
        return false;
    TUploadQueue& queue = Scheduler.Queue();
    TAddFilesPlan plan = PlanAddFiles(std::move(Paths), queue);
    Paths = plan.Files;
    if (plan.Duplicates != dnNone) {
        if (Owner && Owner->isVisible())
            Owner->raise();
        const int message = plan.Duplicates == dnTheFile       ? rmFileAlreadyQueued
                            : plan.Duplicates == dnAllTheFiles ? rmFilesAlreadyQueued
                                                               : rmSomeFilesAlreadyQueued;
        ShowMessageBox(Owner, ResQString(message), ResQString(rmInformation), mbOK, miInformation);
        if (!plan.GoOn())
            return false;
    }

    TFrmUploadTaskProperties dialog(Owner);
    if (plan.Files.size() == 1) {
        const std::string& file = plan.Files.front();
        dialog.setWindowTitle(ResQString(rmNewTaskPropsCaption));
        dialog.SetInfo(Q(FormatText(ResString(rmTaskPropsFile),
                                    {ExtractFileName(file), FormatThousands(GetFileSize64(file))})));
        dialog.EB_UploadName->setText(FileNameText(file));
    } else {
        dialog.setWindowTitle(ResQString(rmNewTasksPropsCaption));
        dialog.SetInfo(Q(
            FormatText(ResString(rmNewTasksPropsSummary), {FormatThousands(std::int64_t(plan.Files.size())),
                                                           double(TotalFileSize(plan.Files)) / 1048576.0})));
        dialog.EB_UploadName->setEnabled(false);
        dialog.B_Scramble->setEnabled(false);
    }
    dialog.SelectMethod(Q(AppSettings.General.LastUploadHost));
    dialog.SetOptionIndex(0);
    if (StayOnTop)
        dialog.setWindowFlag(Qt::WindowStaysOnTopHint, true);
    if (Run(dialog) != QDialog::Accepted)
        return false;

    TNewTaskChoice choice;
    // A name that is not UTF-8 was shown with replacement characters: left as shown, the file
    // keeps its own bytes.
    const bool shownName = plan.Files.size() == 1 && dialog.EB_UploadName->text().trimmed() ==
                                                         FileNameText(plan.Files.front()).trimmed();
    choice.UploadName = shownName ? std::string() : Trim(S(dialog.EB_UploadName->text()));
    choice.Method = S(dialog.SelectedMethod());
    choice.State = dialog.OptionIndex() == 1 ? jsDelayed : jsQueued;
    UpdateSettings([&](TAppSettings& s) { s.General.LastUploadHost = choice.Method; });
    const TAddFilesResult result = AddPlannedFiles(Scheduler, plan.Files, choice, true);
    if (!result.Failed.empty())
        throw EFOpenError(result.Failed.front().Reason);
    return true;
}

// ---- editing tasks ---------------------------------------------------------------------------

bool EditTaskProperties(QWidget* Owner, TScheduler& Scheduler, const std::vector<TJobId>& Selected) {
    if (Selected.empty())
        return false;
    const TUploadJobData* focused = Scheduler.Queue().FindTask(Selected.front());
    if (!focused)
        return false;
    // The dialog runs its own loop while the scheduler goes on: the task may finish or leave the
    // queue before the answer comes, so what the answer needs is copied now.
    const std::string fileName = focused->FileName;
    const bool ownName = focused->UploadName.empty();
    TFrmUploadTaskProperties dialog(Owner);
    if (Selected.size() == 1) {
        if (focused->State == jsUploading)
            return false;
        dialog.setWindowTitle(ResQString(rmTaskPropsCaption));
        dialog.SetInfo(Q(FormatText(ResString(rmTaskPropsFile), {ExtractFileName(focused->FileName),
                                                                 FormatThousands(focused->FileSize)})));
        dialog.EB_UploadName->setText(focused->UploadName.empty() ? FileNameText(focused->FileName)
                                                                  : Q(focused->UploadName));
        dialog.SelectMethod(Q(focused->Method));
        dialog.SetOptionIndex(focused->State == jsDelayed ? 1 : 0);
    } else {
        dialog.setWindowTitle(ResQString(rmTasksPropsCaption));
        dialog.SetInfo(
            Q(FormatText(ResString(rmTasksPropsMultiple), {FormatThousands(std::int64_t(Selected.size()))})));
        dialog.EB_UploadName->setEnabled(false);
        dialog.B_Scramble->setEnabled(false);
        dialog.CB_UploadServer->setCurrentIndex(-1);
        dialog.SetOptionIndex(-1);
    }
    if (Run(dialog) != QDialog::Accepted)
        return false;

    TTaskPropertiesChoice choice;
    // A name that is not UTF-8 was shown with replacement characters: unless the user typed
    // another one, the stored bytes stay as they are.
    const QString typed = dialog.EB_UploadName->text().trimmed();
    const bool untouched = Selected.size() == 1 && ownName && typed == FileNameText(fileName).trimmed();
    choice.UploadName = untouched ? std::string() : Trim(S(dialog.EB_UploadName->text()));
    choice.Method = S(dialog.SelectedMethod());
    if (dialog.OptionIndex() >= 0)
        choice.State = dialog.OptionIndex() == 1 ? jsDelayed : jsQueued;
    std::string problem;
    if (!ApplyTaskProperties(Scheduler, Selected, choice, &problem))
        ShowErrorBox(Owner, Q(problem));
    return true;
}

} // namespace quillo
