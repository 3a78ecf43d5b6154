#pragma once
// TFrmUploadTaskProperties: the task properties dialog, asked for new tasks (AddFiles) and for
// tasks already queued (EditTaskProperties). The dialog only gathers the answers; the queue
// operations that apply them are the core's (AddFiles.h, QueueCommands.h). User-interface thread.

#include "core/queue/UploadJob.h"
#include "ui/FormBase.h"

#include <QDialog>

#include <functional>
#include <string>
#include <vector>

class QButtonGroup;
class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace quillo {

class TScheduler;

class TFrmUploadTaskProperties final : public TFormBase<QDialog> {
    Q_OBJECT
public:
    static constexpr int DesignedClientWidth = 378;
    static constexpr int DesignedClientHeight = 414;

    explicit TFrmUploadTaskProperties(QWidget* Owner);

    QLabel* lab_info = nullptr;
    QLabel* Label3 = nullptr;
    QLineEdit* EB_UploadName = nullptr;
    QPushButton* B_Scramble = nullptr;
    QLabel* Label1 = nullptr;
    QComboBox* CB_UploadServer = nullptr;
    QGroupBox* RG_Options = nullptr; // items: "Queue for upload" (0), "Delay upload" (1)
    QLabel* Label4 = nullptr;
    QFrame* Bevel1 = nullptr;
    QLabel* Label12 = nullptr;
    QLabel* Label2 = nullptr;
    QPushButton* B_OK = nullptr;
    QPushButton* B_Cancel = nullptr;

    // The information text; "\r\n" starts a new line.
    void SetInfo(const QString& Text);
    // The first entry equal to Name (case-sensitive), else the first entry.
    void SelectMethod(const QString& Name);
    // The selected item of RG_Options: 0, 1, or -1 for none.
    int OptionIndex() const;
    void SetOptionIndex(int Index);
    // The selected method, empty when none is selected.
    QString SelectedMethod() const;

    void B_ScrambleClick();
    // Whether closing with OK may go on: refuses FTP Method without the account setting, and an
    // upload name the service could not store, each with its message.
    bool FormCloseQuery();

    // The dialog's own message for a refused close (tests answer it instead of a person).
    void done(int Result) override;

protected:
    void CreateWidgets() override;
    void FormCreate() override;
    void showEvent(QShowEvent* Event) override;

private:
    QButtonGroup* FOptions = nullptr;
    QRadioButton* FOptionItems[2] = {nullptr, nullptr};
};

// Runs just before a properties dialog is shown modally; tests answer the dialog through it (and
// may close it themselves). Returns the hook that was installed.
using TTaskPropertiesHook = std::function<void(TFrmUploadTaskProperties&)>;
TTaskPropertiesHook SetTaskPropertiesHook(TTaskPropertiesHook Hook);

// Adds the paths (files and folders) as tasks after asking for their properties: folders are
// expanded, files already queued dropped with the information messages, the dialog asked, and the
// tasks created and saved. True when the dialog was confirmed. A file that cannot become a task
// (it vanished) raises EFOpenError with the reason after the tasks before it were kept and saved.
bool AddFiles(QWidget* Owner, TScheduler& Scheduler, std::vector<std::string>& Paths, bool StayOnTop);

// The dialog for the selected tasks (ids in list order): one task, or several. A single task that
// is Uploading gets no dialog. On OK the choice is applied and the jobs file written. True when
// the dialog was confirmed.
bool EditTaskProperties(QWidget* Owner, TScheduler& Scheduler, const std::vector<TJobId>& Selected);

} // namespace quillo
