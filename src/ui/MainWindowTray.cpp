// The main window in the tray: the tray icon and its menu, hiding instead of closing and
// minimizing, show requests, stealth mode and the boss key.
#include "ui/MainWindow.h"

#include "core/app/Settings.h"
#include "ui/AppPicture.h"
#include "ui/HotKeys.h"
#include "ui/X11WindowHints.h"

#include <QAction>
#include <QCursor>
#include <QEvent>
#include <QGuiApplication>
#include <QMenu>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QTimer>

namespace quillo {

namespace {

// Long enough to be read after the start; the status panels come back afterwards.
constexpr int kStealthNoticeMs = 60000;
// How often the window looks for a tray host that came or went.
constexpr int kTrayProbeMs = 1000;

std::function<bool()> gTrayProbe;

} // namespace

void SetSystemTrayProbe(std::function<bool()> Probe) {
    gTrayProbe = std::move(Probe);
}

bool TMainWindow::TrayAvailable() const {
    return gTrayProbe ? gTrayProbe() : QSystemTrayIcon::isSystemTrayAvailable();
}

bool TMainWindow::ApplicationVisible() const {
    return isVisible() && !isMinimized();
}

void TMainWindow::CreateTray() {
    act_showmainwindow = NewAction("act_showmainwindow", tr("Show Window"), tr("Show window"));
    InstallCommand(act_showmainwindow, [this] { act_showmainwindowExecute(); });
    act_showdroptarget = NewAction("act_showdroptarget", tr("Show Drop Target"), tr("Show drop"));
    act_showdroptarget->setCheckable(true);
    InstallCommand(act_showdroptarget, [this] { act_showdroptargetExecute(); });

    TrayPopupMenu = new QMenu(this);
    TrayPopupMenu->setObjectName(QStringLiteral("TrayPopupMenu"));
    TrayPopupMenu->addAction(act_newtasks);
    TrayPopupMenu->addSeparator();
    TrayPopupMenu->addAction(act_showmainwindow);
    TrayPopupMenu->addAction(act_showdroptarget);
    TrayPopupMenu->addSeparator();
    TrayPopupMenu->addAction(act_exit);
    connect(TrayPopupMenu, &QMenu::aboutToShow, this, &TMainWindow::TrayPopupMenuPopup);

    TrayIcon = new QSystemTrayIcon(ApplicationIcon(), this);
    TrayIcon->setObjectName(QStringLiteral("TrayIcon"));
    TrayIcon->setContextMenu(TrayPopupMenu);
    connect(TrayIcon, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason Reason) {
        if (Reason == QSystemTrayIcon::Trigger)
            TrayIconClick();
    });

    auto* probe = new QTimer(this);
    probe->setObjectName(QStringLiteral("TrayProbe"));
    connect(probe, &QTimer::timeout, this, &TMainWindow::UpdateTrayPresence);
    probe->start(kTrayProbeMs);
}

void TMainWindow::ShowAtStart(const TMainWindowStart& Start) {
    setWindowIcon(ApplicationIcon());
    // A hidden program that nothing can bring back would be lost to the user: without a working
    // boss key stealth mode waits until the key can be pressed.
    if (FStealthMode && !FHotKeyRegistered) {
        FStealthMode = false;
        QString why;
        const TBossKey key = AppSettings.General.BossKey;
        if (key.Key == 0)
            why = tr("Not started in stealth mode: no boss key is set.");
        else if (!FHotKeyGrab || !FHotKeyGrab->Available())
            why = tr("Not started in stealth mode: this desktop offers no system-wide keys (X11), so the "
                     "boss key cannot work.");
        else {
            QString text;
            HotKeyToText(key.Modifiers, key.Key, text);
            why = tr("Not started in stealth mode: the boss key %1 could not be registered (another "
                     "program may use it).")
                      .arg(text);
        }
        statusBar()->showMessage(why, kStealthNoticeMs);
    }

    TDropWindowHooks hooks;
    hooks.PopupTrayMenu = [this] { PopupTrayMenu(); };
    hooks.ShowRequest = [this](int WParam) { HandleShowRequest(WParam); };
    hooks.FilesDropped = [this](std::vector<std::string> Names) {
        FDroppedFiles = std::move(Names);
        HandleDroppedFiles();
    };
    // Stealth mode hides the drop window; the user's choice is what the settings keep.
    hooks.StoredVisibility = [this]() -> std::optional<bool> {
        if (FStealthMode)
            return FDropShownOutsideStealth;
        return std::nullopt;
    };
    FDropShownOutsideStealth = AppSettings.General.ShowDropTarget;
    frm_droptarget = std::make_unique<Tfrm_droptarget>(std::move(hooks));

    FTrayWasAvailable = TrayAvailable();
    // The window appears when the event loop takes over, after everything else is in place.
    // Started for the tray while there is none, it waits on the task bar instead.
    if (!FStealthMode) {
        if (!Start.StartHidden)
            QTimer::singleShot(0, this, [this] { ShowApplication(true); });
        else if (!FTrayWasAvailable)
            QTimer::singleShot(0, this, [this] { showMinimized(); });
    }
    frm_droptarget->setVisible(AppSettings.General.ShowDropTarget && !FStealthMode);
    TrayIcon->setToolTip(QString::fromLatin1(ApplicationTitle));
    TrayIcon->setVisible(!FStealthMode);
    UpdateTrayMenus();

    FMainDropTarget = std::make_unique<TDropTarget>(this, TDropFormats{dfFiles});
    FMainDropTarget->OnDrop = [this](TDropTarget&, const TDropData& Data) {
        // After the drag has ended: the properties dialog must not open inside it.
        QTimer::singleShot(0, this, [this, names = Data.Files] { HandleMainWindowDrop(names); });
    };
    // The end of the session reaches the program as a request to quit.
    qApp->installEventFilter(this);
}

// Without a tray the commands of its menu that the window's menus lack go to the Tools menu.
void TMainWindow::UpdateTrayMenus() {
    if (FTrayWasAvailable)
        mi_Tools->removeAction(act_showdroptarget);
    else
        mi_Tools->addAction(act_showdroptarget);
}

void TMainWindow::UpdateTrayPresence() {
    const bool tray = TrayAvailable();
    if (tray == FTrayWasAvailable)
        return;
    FTrayWasAvailable = tray;
    // Qt docks a visible icon in a tray that appears by itself.
    TrayIcon->setVisible(!FStealthMode);
    UpdateTrayMenus();
    // The tray went away with the window in it: the task bar holds it now.
    if (!tray && !isVisible() && !FStealthMode)
        showMinimized();
    act_showmainwindowUpdate();
}

void TMainWindow::HandleShowRequest(int WParam) {
    if (ApplicationVisible()) {
        if (WParam == 1)
            HideApplication(true);
        return;
    }
    if (!FStealthMode)
        ShowApplication(true);
}

void TMainWindow::ShowApplication(bool Restore) {
    // Nothing of the program appears in stealth mode, whatever asks for the window.
    if (FStealthMode)
        return;
    // Also while hidden: the state the window is shown with decides whether it maps minimized,
    // and a window once started minimized still asks X11 to start iconic.
    if (Restore) {
        setWindowState(windowState() & ~Qt::WindowMinimized);
        if (!isVisible())
            ShowNormallyNextTime(*this);
    }
    show();
    raise();
    activateWindow();
    act_showmainwindowUpdate();
}

void TMainWindow::HideApplication(bool Minimize) {
    if (!FStealthMode && !TrayAvailable()) {
        if (Minimize)
            showMinimized();
    } else {
        hide();
    }
    act_showmainwindowUpdate();
}

void TMainWindow::HandleSysCommand(int Command) {
    if (Command == scClose)
        HideApplication(true);
}

void TMainWindow::ApplicationEventsMinimize() {
    // Without a tray the window stays minimized on the task bar.
    if (TrayAvailable() || FStealthMode)
        QTimer::singleShot(0, this, [this] {
            if (isMinimized())
                HideApplication(true);
        });
}

void TMainWindow::changeEvent(QEvent* Event) {
    QMainWindow::changeEvent(Event);
    if (Event->type() != QEvent::WindowStateChange)
        return;
    if (isMinimized())
        ApplicationEventsMinimize();
    act_showmainwindowUpdate();
}

void TMainWindow::WatchApplicationQuit(QObject* Watched, QEvent* Event) {
    if (Event->type() == QEvent::Quit && Watched == qApp && !FCloseStepsDone)
        HandleEndSession(true, false);
}

void TMainWindow::TrayIconClick() {
    if (ApplicationVisible())
        HideApplication(true);
    else
        ShowApplication(true);
}

void TMainWindow::TrayPopupMenuPopup() {
    act_showdroptarget->setChecked(frm_droptarget->isVisible());
    act_showmainwindowUpdate();
}

void TMainWindow::PopupTrayMenu() {
    TrayPopupMenu->popup(QCursor::pos());
}

void TMainWindow::act_showmainwindowExecute() {
    if (!ApplicationVisible())
        ShowApplication(true);
}

void TMainWindow::act_showmainwindowUpdate() {
    if (act_showmainwindow)
        act_showmainwindow->setEnabled(!ApplicationVisible());
}

void TMainWindow::act_showdroptargetExecute() {
    frm_droptarget->setVisible(!frm_droptarget->isVisible());
    act_showdroptarget->setChecked(frm_droptarget->isVisible());
}

void TMainWindow::HandleHotKey(int Id) {
    // Until the start is over (a box of the start runs its own event loop) the drop window and
    // the tray icon the key switches do not exist yet.
    if (Id != 0 || FSettingsOpen || !frm_droptarget)
        return;
    FStealthMode = !FStealthMode;
    if (FStealthMode) {
        FDropShownOutsideStealth = frm_droptarget->isVisible();
        TrayIcon->hide();
        frm_droptarget->hide();
        HideApplication(true);
    } else {
        TrayIcon->show();
        frm_droptarget->show();
        ShowApplication(true);
    }
}

bool TMainWindow::BossKeyPossible() const {
    return FHotKeyGrab && FHotKeyGrab->Available();
}

void TMainWindow::RegisterBossKey() {
    if (!FHotKeyGrab) {
        FHotKeyGrab = CreateHotKeyGrabber();
        FHotKeyGrab->OnPressed = [this] { HandleHotKey(0); };
    }
    // The old key is given back before the new one is taken, so only one is ever active; and
    // the flag says whether a key is registered now, nothing else.
    FHotKeyGrab->Release();
    const TBossKey key = AppSettings.General.BossKey;
    FHotKeyRegistered = key.Key != 0 && FHotKeyGrab->Grab(key.Modifiers, key.Key);
}

} // namespace quillo
