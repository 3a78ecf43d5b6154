// Files dropped on the drop window and on the main window, handed to AddFiles.
#include "ui/MainWindow.h"

#include <QTimer>
#include <QTreeWidget>

#include <utility>

namespace quillo {

void TMainWindow::HandleDroppedFiles() {
    const std::vector<std::string> names = std::exchange(FDroppedFiles, {});
    if (names.empty() || !FAddFiles)
        return;
    // On top of every window: the main window may be in the tray. After OK the window comes up
    // (unless stealth mode is on); after Cancel it stays where it was.
    if (FAddFiles(names, true))
        QTimer::singleShot(0, this, [this] { HandleShowRequest(0); });
}

void TMainWindow::HandleMainWindowDrop(const std::vector<std::string>& Names) {
    if (!Names.empty() && FAddFiles)
        FAddFiles(Names, false);
    TreeView->setCurrentItem(TreeView->topLevelItem(0));
}

} // namespace quillo
