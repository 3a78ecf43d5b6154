#include "ui/DropWindow.h"

#include "core/app/Settings.h"
#include "ui/AppPicture.h"

#include <QApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QTimer>
#include <QWindow>

namespace quillo {

namespace {

// The silver frame, 2 pixels wide, inset by 2 and following the window's size.
class TShape final : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setPen(QPen(QColor(192, 192, 192), 2));
        p.setBrush(Qt::NoBrush);
        p.drawRect(QRectF(rect()).adjusted(1, 1, -1, -1));
    }
};

QRect WorkArea(const QWidget& W) {
    const QScreen* screen = QGuiApplication::screenAt(W.geometry().center());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry() : QRect();
}

} // namespace

Tfrm_droptarget::Tfrm_droptarget(TDropWindowHooks Hooks)
    : TFormBase<QWidget>(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
      FHooks(std::move(Hooks)) {
    CreateForm();
}

Tfrm_droptarget::~Tfrm_droptarget() {
    SetDropWindowStateProvider(nullptr);
}

void Tfrm_droptarget::CreateWidgets() {
    setObjectName(QStringLiteral("frm_droptarget"));
    // Not the main window's title: a second start and the desktop find the main window by it.
    setWindowTitle(QStringLiteral("Quillo Drop Target"));
    setAccessibleName(tr("Drop files here to upload them"));
    setFixedSize(ClientSize, ClientSize);
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::black);
    setPalette(pal);
    setWindowOpacity(Opacity);

    Shape1 = new TShape(this);
    Shape1->setObjectName(QStringLiteral("Shape1"));
    Shape1->setGeometry(2, 2, ClientSize - 4, ClientSize - 4);
    Image1 = new QLabel(this);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setGeometry(4, 4, 42, 42);
    Image1->setPixmap(ApplicationPicture(42, devicePixelRatioF()));
    Image1->setAccessibleName(accessibleName());
    // The window itself answers the mouse, wherever on it the user clicks.
    for (QWidget* w : {Shape1, static_cast<QWidget*>(Image1)})
        w->setAttribute(Qt::WA_TransparentForMouseEvents);
}

void Tfrm_droptarget::FormCreate() {
    const TAppSettings s = SettingsSnapshot();
    move(s.General.DropLeft, s.General.DropTop);
    FDropTarget = std::make_unique<TDropTarget>(this, TDropFormats{dfFiles});
    FDropTarget->OnDrop = [this](TDropTarget& Sender, const TDropData& Data) {
        HandleDropTargetDrop(Sender, Data);
    };
    // Saving the settings reads visibility and place from the window, as the user left them.
    SetDropWindowStateProvider([this]() -> std::optional<TDropWindowState> {
        const std::optional<bool> stored = FHooks.StoredVisibility ? FHooks.StoredVisibility() : std::nullopt;
        return TDropWindowState{stored.value_or(isVisible()), x(), y()};
    });
}

void Tfrm_droptarget::showEvent(QShowEvent* Event) {
    QWidget::showEvent(Event);
    FormShow();
}

void Tfrm_droptarget::FormShow() {
    const QRect area = WorkArea(*this);
    if (area.isValid())
        move(ClampIntoArea(QRect(pos(), size()), area));
    raise();
}

void Tfrm_droptarget::HandleDropTargetDrop(TDropTarget&, const TDropData& Data) {
    if (!FHooks.FilesDropped)
        return;
    QTimer::singleShot(0, this, [this, names = Data.Files] { FHooks.FilesDropped(names); });
}

void Tfrm_droptarget::Shape1MouseDown(QMouseEvent* Event) {
    if (Event->button() != Qt::LeftButton)
        return;
    FPressed = true;
    FDragging = false;
    FDragOffset = Event->globalPosition().toPoint() - pos();
}

// The move starts once the mouse has really moved, so that clicks and double clicks stay
// clicks (a move started by the press would swallow the release). The window manager then moves
// the window as if its caption were grabbed; without one the window follows the mouse itself.
void Tfrm_droptarget::DragMove(QMouseEvent* Event) {
    if (!FPressed || !(Event->buttons() & Qt::LeftButton))
        return;
    const QPoint target = Event->globalPosition().toPoint() - FDragOffset;
    if (!FDragging) {
        if ((target - pos()).manhattanLength() < QApplication::startDragDistance())
            return;
        if (windowHandle() && windowHandle()->startSystemMove()) {
            FPressed = false;
            return;
        }
        FDragging = true;
    }
    move(target);
}

void Tfrm_droptarget::Image1MouseUp(QMouseEvent* Event) {
    if (Event->button() == Qt::RightButton && FHooks.PopupTrayMenu)
        FHooks.PopupTrayMenu();
}

void Tfrm_droptarget::Image1DblClick() {
    if (FHooks.ShowRequest)
        QTimer::singleShot(0, this, [this] { FHooks.ShowRequest(1); });
}

void Tfrm_droptarget::mousePressEvent(QMouseEvent* Event) {
    Shape1MouseDown(Event);
}

void Tfrm_droptarget::mouseMoveEvent(QMouseEvent* Event) {
    DragMove(Event);
}

void Tfrm_droptarget::mouseReleaseEvent(QMouseEvent* Event) {
    if (Event->button() == Qt::LeftButton)
        FPressed = FDragging = false;
    Image1MouseUp(Event);
}

void Tfrm_droptarget::mouseDoubleClickEvent(QMouseEvent* Event) {
    if (Event->button() == Qt::LeftButton)
        Image1DblClick();
}

} // namespace quillo
