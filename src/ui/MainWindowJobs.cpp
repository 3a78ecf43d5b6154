// The jobs file of the main window's queue: read at creation, written when the window closes.
#include "ui/MainWindow.h"

#include "core/app/DataFolder.h"
#include "core/queue/JobsFile.h"
#include "ui/MessageBox.h"

namespace quillo {

namespace {
TJobsErrorReporter BoxReporter(QWidget* Owner) {
    return [Owner](const std::string& Caption, const std::string& Text) {
        ShowMessageBox(Owner, QString::fromStdString(Text), QString::fromStdString(Caption), mbOK, miError);
    };
}
} // namespace

void TMainWindow::LoadJobsFile() {
    LoadJobs(FQueue, JobsFileName(), BoxReporter(this));
}

void TMainWindow::SaveJobsFile() {
    SaveJobs(FQueue, JobsFileName(), BoxReporter(this));
}

} // namespace quillo
