#include "ui/FrmLanguages.h"

#include "core/app/Settings.h"
#include "core/l10n/Localizer.h"
#include "ui/LocalizerForms.h"
#include "ui/MessageBox.h"

#include <QDir>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

namespace quillo {

void SetUpLanguages() {
    TLocalizer& localizer = Localizer();
    localizer.ErrorMode = emSilent;
    localizer.LanguageDirectory = InstalledLanguageFolder();
    localizer.UserLanguageDirectory = UserLanguageFolder();
    InstallFormTranslation();
}

void ApplyLanguage() {
    const std::string language = AppSettings.General.LanguageFile;
    if (language.empty())
        return;
    TLocalizer& localizer = Localizer();
    localizer.SetAutoTranslate(true);
    localizer.SetResourceStringTranslation(true);
    // A load that read the whole file has translated the open windows already; one that ended
    // early has not, and its sections read so far still apply.
    if (!localizer.LoadLanguageFile(language + ".lng") || !localizer.AutoTranslateForms)
        localizer.TranslateAllForms();
}

void ListLanguages(const QString& Folder, const QString& Mask, QStringList& List) {
    const QDir dir(Folder);
    for (const QFileInfo& entry :
         dir.entryInfoList({Mask}, QDir::Files | QDir::Hidden | QDir::System, QDir::Name)) {
        if (entry.isDir())
            continue;
        const QString name = entry.fileName();
        const qsizetype dot = name.lastIndexOf(u'.');
        const QString language = (dot < 0 ? name : name.left(dot)).trimmed();
        if (!language.isEmpty())
            List.append(language);
    }
}

TFrm_Languages::TFrm_Languages(QWidget* Owner) : TFormBase<QDialog>(Owner) {
    CreateForm();
}

void TFrm_Languages::CreateWidgets() {
    setObjectName(QStringLiteral("Frm_Languages"));
    setWindowTitle(QStringLiteral("Select Language"));
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);

    Label1 = new QLabel(QStringLiteral("Select user interface language"), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    ListBox1 = new QListWidget(this);
    ListBox1->setObjectName(QStringLiteral("ListBox1"));
    ListBox1->setSelectionMode(QAbstractItemView::SingleSelection);
    ListBox1->setMinimumSize(207, 210);
    Label1->setBuddy(ListBox1); // the label names the list for screen readers, in every language
    Button1 = new QPushButton(QStringLiteral("OK"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setDefault(true);
    Button2 = new QPushButton(QStringLiteral("Cancel"), this);
    Button2->setObjectName(QStringLiteral("Button2"));
    connect(Button1, &QPushButton::clicked, this, &QDialog::accept);
    connect(Button2, &QPushButton::clicked, this, &QDialog::reject);
    connect(ListBox1, &QListWidget::itemDoubleClicked, this, &QDialog::accept);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(Button1);
    buttons->addWidget(Button2);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(12, 8, 12, 12);
    layout->addWidget(Label1);
    layout->addWidget(ListBox1, 1);
    layout->addLayout(buttons);
    // A fixed dialog of the designed client size, larger only if the desktop's font needs it.
    const QSize size = layout->sizeHint().expandedTo(QSize(231, 266));
    setFixedSize(size);
}

void TFrm_Languages::FormCreate() {
    QStringList names;
    // The folders the localizer loads from (SetUpLanguages), so every name listed can be loaded.
    ListLanguages(QString::fromStdString(Localizer().UserLanguageDirectory), QStringLiteral("*.lng"), names);
    ListLanguages(QString::fromStdString(Localizer().LanguageDirectory), QStringLiteral("*.lng"), names);
    names.removeDuplicates(); // the data folder's file wins; its name comes first
    std::stable_sort(names.begin(), names.end(), [](const QString& A, const QString& B) {
        return A.compare(B, Qt::CaseInsensitive) < 0;
    });
    ListBox1->clear();
    ListBox1->addItems(names);
    const QString stored = QString::fromStdString(AppSettings.General.LanguageFile).trimmed();
    for (int i = 0; i < ListBox1->count(); ++i)
        if (!stored.isEmpty() && ListBox1->item(i)->text().compare(stored, Qt::CaseInsensitive) == 0) {
            ListBox1->setCurrentRow(i);
            return;
        }
}

QString TFrm_Languages::SelectedLanguage() const {
    const QList<QListWidgetItem*> selected = ListBox1->selectedItems();
    return selected.isEmpty() ? QString() : selected.front()->text();
}

bool SelectLanguage(QWidget* Owner) {
    QString chosen;
    {
        TFrm_Languages dialog(Owner);
        if (dialog.exec() != QDialog::Accepted)
            return false;
        chosen = dialog.SelectedLanguage();
    }
    UpdateSettings([&chosen](TAppSettings& S) { S.General.LanguageFile = chosen.toStdString(); });
    ApplyLanguage();
    try {
        SaveSettings();
    } catch (const ESettingsError& e) {
        ShowErrorBox(Owner, QString::fromStdString(e.what()));
    }
    return true;
}

} // namespace quillo
