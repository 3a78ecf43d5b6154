#pragma once
// Tfrm_droptarget: the small half-transparent square that floats above every window and takes
// files dropped from anywhere on the desktop, while the main window may sit in the tray. It is
// not owned by the main window (no task-bar entry of its own, not hidden with it); the main
// window creates it, tells it what to do through TDropWindowHooks, and frees it.

#include "ui/DropTarget.h"
#include "ui/FormBase.h"
#include "ui/ScreenArea.h"

#include <QPoint>
#include <QRect>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QLabel;

namespace quillo {

struct TDropWindowHooks {
    // Right click: the tray menu at the mouse.
    std::function<void()> PopupTrayMenu;
    // Posted to the main window (never called inside the drag or the click): a show request
    // (1 toggles the main window) and a list of dropped names.
    std::function<void(int WParam)> ShowRequest;
    std::function<void(std::vector<std::string> Names)> FilesDropped;
    // The visibility to store when it is not the window's own (nothing: the window's own).
    std::function<std::optional<bool>()> StoredVisibility;
};

class Tfrm_droptarget final : public TFormBase<QWidget> {
    Q_OBJECT
public:
    static constexpr int ClientSize = 50;
    static constexpr double Opacity = 180.0 / 255.0;

    explicit Tfrm_droptarget(TDropWindowHooks Hooks);
    ~Tfrm_droptarget() override;

    // The drop target's handler: the names go to the main window by a posted hand-over, so the
    // properties dialog opens after the drag has ended.
    void HandleDropTargetDrop(TDropTarget& Sender, const TDropData& Data);
    void Shape1MouseDown(QMouseEvent* Event);
    void Image1MouseUp(QMouseEvent* Event);
    void Image1DblClick();

    QWidget* Shape1 = nullptr;
    QLabel* Image1 = nullptr;

protected:
    void CreateWidgets() override;
    void FormCreate() override;
    void FormShow();
    void showEvent(QShowEvent* Event) override;
    void mousePressEvent(QMouseEvent* Event) override;
    void mouseMoveEvent(QMouseEvent* Event) override;
    void mouseReleaseEvent(QMouseEvent* Event) override;
    void mouseDoubleClickEvent(QMouseEvent* Event) override;

private:
    TDropWindowHooks FHooks;
    std::unique_ptr<TDropTarget> FDropTarget;
    void DragMove(QMouseEvent* Event);

    bool FPressed = false;
    // Dragging by hand where no window manager moves the window.
    bool FDragging = false;
    QPoint FDragOffset;
};

} // namespace quillo
