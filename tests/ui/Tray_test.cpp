// The main window in the tray, stealth mode with the boss key, the drop window and files
// dropped on either window, on Qt's offscreen platform. Whether a tray host is there and
// whether the boss key can be grabbed are set by each test.
#include "ui/MainWindow.h"

#include "FakeHotKeyGrabber.h"
#include "OfflineHome.h"
#include "core/app/DataFolder.h"
#include "core/app/Settings.h"
#include "ui/DropTarget.h"
#include "ui/DropWindow.h"
#include "ui/HotKeyGrab.h"
#include "ui/MessageBox.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDeadlineTimer>
#include <QDragEnterEvent>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QScreen>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QThread>
#include <QTreeWidget>
#include <QUrl>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace quillo {
namespace {

using test::TFakeGrabber;
using test::TGrabLog;

struct TAddFilesCall {
    std::vector<std::string> Paths;
    bool StayOnTop;
};

class TrayTest : public testing::Test {
protected:
    void SetUp() override {
        test::UseOfflineHome();
        SetMessageBoxHandler([this](QWidget*, const QString&, const QString&, TMsgBoxButtons, TMsgBoxIcon) {
            ++FBoxes;
            return FAnswer;
        });
        SetSystemTrayProbe([this] { return FTray; });
        SetHotKeyGrabberFactory([this] { return std::make_unique<TFakeGrabber>(FGrab); });
        UseBossKey(bkCtrl | bkAlt, 'Q');
    }
    void TearDown() override {
        SetMessageBoxHandler(nullptr);
        SetSystemTrayProbe(nullptr);
        SetHotKeyGrabberFactory(nullptr);
        CommitSettings(TAppSettings{});
    }

    static void UseBossKey(uint8_t Modifiers, uint8_t Key) {
        UpdateSettings([&](TAppSettings& s) { s.General.BossKey = {Modifiers, Key}; });
    }

    static void ProcessEvents() {
        for (int i = 0; i < 5; ++i)
            QApplication::processEvents();
    }
    // Long enough for the window's one-second look for a tray host.
    static void WaitForTrayProbe() {
        QDeadlineTimer deadline(1600);
        while (!deadline.hasExpired()) {
            QApplication::processEvents();
            QThread::msleep(20);
        }
    }

    std::unique_ptr<TMainWindow> MakeWindow(bool StartHidden = false) {
        auto w = std::make_unique<TMainWindow>(TMainWindowStart{StartHidden});
        w->FAddFiles = [this](const std::vector<std::string>& Paths, bool StayOnTop) {
            FAddCalls.push_back({Paths, StayOnTop});
            return FAddAnswer;
        };
        ProcessEvents();
        return w;
    }

    // The close box as the window manager sends it.
    static void PressCloseBox(TMainWindow& W) {
        QCloseEvent e;
        QApplication::sendEvent(&W, &e);
    }

    static std::vector<QString> MenuNames(QMenu& Menu) {
        std::vector<QString> names;
        for (QAction* a : Menu.actions())
            names.push_back(a->isSeparator() ? QStringLiteral("-") : a->objectName());
        return names;
    }

    static QString ReadFile(const std::string& Path) {
        QFile f(QString::fromStdString(Path));
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }

    bool FTray = true;
    TGrabLog FGrab;
    int FBoxes = 0;
    TMsgBoxResult FAnswer = mrOK;
    std::vector<TAddFilesCall> FAddCalls;
    bool FAddAnswer = true;
};

// The three states: shown, in tray, stealth; checked together wherever a test moves between them.
enum TTrayState { tsShown, tsInTray, tsStealth };

void ExpectState(TMainWindow& W, TTrayState State, bool DropVisible) {
    EXPECT_EQ(W.TrayIcon->isVisible(), State != tsStealth);
    EXPECT_EQ(W.isVisible(), State == tsShown);
    EXPECT_EQ(W.ApplicationVisible(), State == tsShown);
    EXPECT_EQ(W.FStealthMode, State == tsStealth);
    EXPECT_EQ(W.frm_droptarget->isVisible(), DropVisible);
}

TEST_F(TrayTest, TrayIconCarriesTheTitleTheIconAndTheMenuInItsOrder) {
    auto w = MakeWindow();
    EXPECT_EQ(w->TrayIcon->toolTip(), QStringLiteral("Quillo Uploader"));
    EXPECT_FALSE(w->TrayIcon->icon().isNull());
    EXPECT_EQ(w->TrayIcon->contextMenu(), w->TrayPopupMenu);
    EXPECT_EQ(w->TrayPopupMenu->objectName(), QStringLiteral("TrayPopupMenu"));
    EXPECT_EQ(MenuNames(*w->TrayPopupMenu),
              (std::vector<QString>{
                  QStringLiteral("act_newtasks"), QStringLiteral("-"), QStringLiteral("act_showmainwindow"),
                  QStringLiteral("act_showdroptarget"), QStringLiteral("-"), QStringLiteral("act_exit")}));
    EXPECT_EQ(w->act_showmainwindow->text(), QStringLiteral("Show Window"));
    EXPECT_EQ(w->act_showmainwindow->statusTip(), QStringLiteral("Show window"));
    EXPECT_EQ(w->act_showdroptarget->text(), QStringLiteral("Show Drop Target"));
    EXPECT_EQ(w->act_showdroptarget->statusTip(), QStringLiteral("Show drop"));
    EXPECT_EQ(w->TrayPopupMenu->actions().last(), w->act_exit); // the same Exit as the File menu's
}

TEST_F(TrayTest, CloseBoxAndMinimizeHideIntoTheTrayAndTheIconBringsTheWindowBack) {
    auto w = MakeWindow();
    ExpectState(*w, tsShown, false);

    PressCloseBox(*w);
    ProcessEvents();
    ExpectState(*w, tsInTray, false);
    EXPECT_FALSE(w->FQueue.FExitRequested);
    EXPECT_EQ(FBoxes, 0);
    EXPECT_FALSE(QFile::exists(QString::fromStdString(SettingsFileName()))) << "closing ran the close steps";

    w->TrayIconClick();
    ExpectState(*w, tsShown, false);

    w->showMinimized();
    ProcessEvents();
    ExpectState(*w, tsInTray, false);
    w->HandleShowRequest(0);
    ExpectState(*w, tsShown, false);
    EXPECT_FALSE(w->isMinimized());

    w->TrayIconClick();
    ExpectState(*w, tsInTray, false);
    w->act_showmainwindow->trigger();
    ExpectState(*w, tsShown, false);
}

TEST_F(TrayTest, CloseBoxWithARunningUploadNeitherAsksNorStopsIt) {
    auto w = MakeWindow();
    static int token;
    TUploadJobData task;
    task.FileName = "/data/movie.avi";
    task.State = jsUploading;
    const std::size_t index = w->FQueue.AppendTask(std::move(task));
    w->FQueue.AttachUploader(
        index, TUploaderHandle(reinterpret_cast<TUploader*>(&token), TUploaderDeleter{+[](TUploader*) {}}));
    PressCloseBox(*w);
    EXPECT_EQ(FBoxes, 0);
    EXPECT_EQ(w->FQueue.RunningCount(), 1);
    EXPECT_FALSE(w->isVisible());

    // The tray menu's Exit is the Exit command, question included.
    FAnswer = mrCancel;
    w->TrayPopupMenu->actions().last()->trigger();
    EXPECT_EQ(FBoxes, 1);
    EXPECT_EQ(w->FQueue.RunningCount(), 1);
    FAnswer = mrOK;
    w->TrayPopupMenu->actions().last()->trigger();
    EXPECT_EQ(FBoxes, 2);
    EXPECT_EQ(w->FQueue.RunningCount(), 0);
    EXPECT_TRUE(QFile::exists(QString::fromStdString(JobsFileName())));
}

TEST_F(TrayTest, ShowWindowIsEnabledExactlyWhileTheWindowIsOffTheScreen) {
    auto w = MakeWindow();
    w->frm_droptarget->show();
    w->TrayPopupMenuPopup();
    EXPECT_FALSE(w->act_showmainwindow->isEnabled());
    EXPECT_TRUE(w->act_showdroptarget->isChecked());
    w->HideApplication(true);
    w->frm_droptarget->hide();
    w->TrayPopupMenuPopup();
    EXPECT_TRUE(w->act_showmainwindow->isEnabled());
    EXPECT_FALSE(w->act_showdroptarget->isChecked());
    w->act_showdroptarget->trigger();
    EXPECT_TRUE(w->frm_droptarget->isVisible());
    w->act_showdroptarget->trigger();
    EXPECT_FALSE(w->frm_droptarget->isVisible());
}

TEST_F(TrayTest, BossKeyTwiceGoesThroughStealthAndBringsBackAHiddenDropWindow) {
    auto w = MakeWindow();
    ASSERT_TRUE(w->FHotKeyRegistered);
    ASSERT_EQ(FGrab.Grabs.back(), std::make_pair(int(bkCtrl | bkAlt), int('Q')));
    ASSERT_FALSE(w->frm_droptarget->isVisible()); // hidden by the user (ShowDropTarget off)

    FGrab.Live->OnPressed();
    ExpectState(*w, tsStealth, false);
    w->HandleShowRequest(0); // a second start: ignored
    w->HandleShowRequest(1);
    w->TrayIconClick();
    ExpectState(*w, tsStealth, false);

    FGrab.Live->OnPressed();
    ExpectState(*w, tsShown, true);

    // From the tray too, and back to the shown state.
    w->HideApplication(true);
    w->HandleHotKey(0);
    ExpectState(*w, tsStealth, false);
    w->HandleHotKey(0);
    ExpectState(*w, tsShown, true);
}

TEST_F(TrayTest, BossKeyDoesNothingWhileTheSettingsDialogIsOpenOrUnderAnotherIdentifier) {
    auto w = MakeWindow();
    w->FSettingsOpen = true;
    w->HandleHotKey(0);
    ExpectState(*w, tsShown, false);
    w->FSettingsOpen = false;
    w->HandleHotKey(1);
    ExpectState(*w, tsShown, false);
    w->HandleHotKey(0);
    ExpectState(*w, tsStealth, false);
}

TEST_F(TrayTest, StealthStartShowsNothingUntilTheBossKey) {
    UpdateSettings([](TAppSettings& s) {
        s.General.StartInStealthMode = true;
        s.General.ShowDropTarget = false;
    });
    auto w = MakeWindow();
    ExpectState(*w, tsStealth, false);
    w->HandleHotKey(0);
    ExpectState(*w, tsShown, true);
}

TEST_F(TrayTest, StealthIsNeverEnteredAtStartWithoutABossKeyThatWorks) {
    struct Case {
        const char* Name;
        uint8_t Key;
        bool Available;
        bool Succeeds;
        const char* Why;
    } cases[] = {
        {"no key", 0, true, true, "no boss key is set"},
        {"no X11", 'Q', false, false, "no system-wide keys"},
        {"key taken", 'Q', true, false, "ALT+CTRL+Q could not be registered"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        UseBossKey(bkCtrl | bkAlt, c.Key);
        UpdateSettings([](TAppSettings& s) { s.General.StartInStealthMode = true; });
        FGrab.Available = c.Available;
        FGrab.Succeeds = c.Succeeds;
        auto w = MakeWindow();
        EXPECT_FALSE(w->FHotKeyRegistered);
        EXPECT_EQ(w->BossKeyPossible(), c.Available);
        ExpectState(*w, tsShown, false);
        EXPECT_TRUE(w->statusBar()->currentMessage().contains(QLatin1String(c.Why)))
            << w->statusBar()->currentMessage().toStdString();
    }
}

// Qt's offscreen platform stands for every desktop without X11 (a Wayland session).
TEST(HotKeyGrabTest, WithoutX11NoKeyCanBeGrabbed) {
    SetHotKeyGrabberFactory(nullptr);
    const std::unique_ptr<THotKeyGrabber> grabber = CreateHotKeyGrabber();
    EXPECT_FALSE(grabber->Available());
    EXPECT_FALSE(grabber->Grab(bkCtrl | bkAlt, 'Q'));
    grabber->Release();
}

TEST_F(TrayTest, ApplySettingsGivesTheOldKeyBackBeforeTakingTheNewOne) {
    auto w = MakeWindow();
    const int releases = FGrab.Releases;
    UseBossKey(bkShift, 112);
    w->ApplySettings();
    EXPECT_GT(FGrab.Releases, releases);
    EXPECT_EQ(FGrab.Grabs.back(), std::make_pair(int(bkShift), 112));
    EXPECT_TRUE(w->FHotKeyRegistered);
    UseBossKey(0, 0);
    const std::size_t grabs = FGrab.Grabs.size();
    w->ApplySettings();
    EXPECT_EQ(FGrab.Grabs.size(), grabs);
    EXPECT_FALSE(w->FHotKeyRegistered); // released: no key is registered any more
    w.reset();
    EXPECT_EQ(FGrab.Live, nullptr); // the window gave its grab back when it went
}

TEST_F(TrayTest, WithoutATrayTheWindowStaysOnTheTaskBarAndATrayThatAppearsIsUsed) {
    FTray = false;
    auto w = MakeWindow();
    EXPECT_TRUE(w->mi_Tools->actions().contains(w->act_showdroptarget));

    PressCloseBox(*w);
    ProcessEvents();
    EXPECT_TRUE(w->isVisible());
    EXPECT_TRUE(w->isMinimized());
    EXPECT_FALSE(w->ApplicationVisible());
    w->HandleShowRequest(0); // a second start brings it up again
    EXPECT_TRUE(w->ApplicationVisible());

    w->showMinimized();
    ProcessEvents();
    EXPECT_TRUE(w->isVisible()) << "minimizing without a tray must not hide the window";
    EXPECT_TRUE(w->act_showmainwindow->isEnabled());
    w->ShowApplication(true);
    EXPECT_FALSE(w->act_showmainwindow->isEnabled());

    FTray = true;
    WaitForTrayProbe();
    EXPECT_FALSE(w->mi_Tools->actions().contains(w->act_showdroptarget));
    PressCloseBox(*w);
    ProcessEvents();
    EXPECT_FALSE(w->isVisible());

    // The tray host goes away with the window in it: the task bar takes the window.
    FTray = false;
    WaitForTrayProbe();
    EXPECT_TRUE(w->isVisible());
    EXPECT_TRUE(w->isMinimized());

    // Exit still ends the program.
    w->act_exitExecute();
    EXPECT_FALSE(w->isVisible());
    EXPECT_TRUE(QFile::exists(QString::fromStdString(JobsFileName())));
}

TEST_F(TrayTest, HyphenMWithoutATrayStartsMinimizedInsteadOfHidden) {
    for (bool tray : {true, false}) {
        SCOPED_TRACE(tray ? "tray" : "no tray");
        FTray = tray;
        auto w = MakeWindow(true);
        EXPECT_EQ(w->isVisible(), !tray);
        EXPECT_FALSE(w->ApplicationVisible());
        EXPECT_TRUE(w->TrayIcon->isVisible());
    }
}

TEST_F(TrayTest, QuitFromTheSessionRunsTheCloseStepsOnceAndLetsTheWindowClose) {
    auto w = MakeWindow();
    QEvent quit(QEvent::Quit);
    static_cast<QObject&>(*w).eventFilter(qApp, &quit);
    EXPECT_TRUE(QFile::exists(QString::fromStdString(JobsFileName())));
    EXPECT_TRUE(QFile::exists(QString::fromStdString(SettingsFileName())));
    EXPECT_TRUE(w->close());
    EXPECT_FALSE(w->isVisible());
}

// ---- the drop window ----

QMimeData* FileList(const QStringList& Paths) {
    auto* data = new QMimeData;
    QList<QUrl> urls;
    for (const QString& p : Paths)
        urls << QUrl::fromLocalFile(p);
    data->setUrls(urls);
    return data;
}

TEST(DropTargetTest, TakesOnlyLocalFileListsAndOnlyWithTheCopyAction) {
    struct Case {
        const char* Name;
        QMimeData* Data;
        Qt::DropActions Actions;
        bool Accepted;
    };
    auto* text = new QMimeData;
    text->setText(QStringLiteral("/tmp/a.txt"));
    auto* mixed = new QMimeData;
    mixed->setUrls(
        {QUrl::fromLocalFile(QStringLiteral("/tmp/a")), QUrl(QStringLiteral("https://example.org/b"))});
    auto* remote = new QMimeData;
    remote->setUrls({QUrl(QStringLiteral("https://example.org/b"))});
    auto* both = FileList({QStringLiteral("/tmp/a")});
    both->setText(QStringLiteral("/tmp/a"));
    const Case cases[] = {
        {"three files, copy", FileList({"/tmp/a", "/tmp/b c", "/tmp/d"}), Qt::CopyAction, true},
        {"files, copy or move", FileList({"/tmp/a"}), Qt::CopyAction | Qt::MoveAction, true},
        {"files, move only", FileList({"/tmp/a"}), Qt::MoveAction, false},
        {"files, link only", FileList({"/tmp/a"}), Qt::LinkAction, false},
        {"plain text", text, Qt::CopyAction, false},
        {"a remote address", remote, Qt::CopyAction, false},
        {"local and remote", mixed, Qt::CopyAction, false},
        {"files offered as text too", both, Qt::CopyAction, true},
        {"nothing", new QMimeData, Qt::CopyAction, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        const auto format = TDropTarget::ChooseFormat(c.Data, c.Actions, TDropFormats{dfFiles});
        EXPECT_EQ(format.has_value(), c.Accepted);
        if (format) {
            EXPECT_EQ(*format, dfFiles);
        }
        delete c.Data;
    }
    auto* plain = new QMimeData;
    plain->setText(QStringLiteral("hello"));
    EXPECT_EQ(TDropTarget::ChooseFormat(plain, Qt::CopyAction, TDropFormats{dfText, dfFiles}), dfText);
    delete plain;
}

// Drags Data over the window and drops it; the accepted flag and action of the enter event.
struct TDragResult {
    bool Accepted;
    Qt::DropAction Action;
};
TDragResult DragAndDrop(QWidget& Target, QMimeData& Data, Qt::DropActions Actions, Qt::DropAction Proposed) {
    const QPointF at(25, 25);
    QDragEnterEvent enter(at.toPoint(), Actions, &Data, Qt::LeftButton, Qt::NoModifier);
    enter.setDropAction(Proposed);
    QApplication::sendEvent(&Target, &enter);
    const TDragResult result{enter.isAccepted(), enter.dropAction()};
    QDragMoveEvent move(at.toPoint(), Actions, &Data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&Target, &move);
    QDropEvent drop(at, Actions, &Data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&Target, &drop);
    return result;
}

TEST_F(TrayTest, DropWindowIsTheFramelessHalfTransparentSquareAboveEverything) {
    auto w = MakeWindow();
    Tfrm_droptarget& d = *w->frm_droptarget;
    EXPECT_TRUE(QByteArray(d.metaObject()->className()).endsWith("Tfrm_droptarget"));
    EXPECT_EQ(d.objectName(), QStringLiteral("frm_droptarget"));
    EXPECT_EQ(d.parentWidget(), nullptr);
    EXPECT_EQ(d.size(), QSize(50, 50));
    EXPECT_TRUE(d.windowFlags() & Qt::FramelessWindowHint);
    EXPECT_TRUE(d.windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_EQ(d.windowFlags() & Qt::WindowType_Mask, Qt::Tool);
    EXPECT_NEAR(d.windowOpacity(), 180.0 / 255.0, 0.01);
    EXPECT_EQ(d.Shape1->geometry(), QRect(2, 2, 46, 46));
    EXPECT_EQ(d.Image1->geometry(), QRect(4, 4, 42, 42));
    EXPECT_FALSE(d.Image1->pixmap().isNull());
    EXPECT_FALSE(d.accessibleName().isEmpty());
}

TEST_F(TrayTest, FilesDroppedOnTheDropWindowGoToAddFilesOnTopAfterTheDragAndOkShowsTheWindow) {
    for (bool ok : {true, false}) {
        SCOPED_TRACE(ok ? "OK" : "Cancel");
        FAddCalls.clear();
        FAddAnswer = ok;
        auto w = MakeWindow(true);
        ASSERT_FALSE(w->isVisible());
        std::unique_ptr<QMimeData> files(
            FileList({"/tmp/one.zip", "/tmp/two words.avi", "/tmp/line\r\nbreak"}));
        const TDragResult r =
            DragAndDrop(*w->frm_droptarget, *files, Qt::CopyAction | Qt::MoveAction, Qt::MoveAction);
        EXPECT_TRUE(r.Accepted);
        EXPECT_EQ(r.Action, Qt::CopyAction);
        EXPECT_TRUE(FAddCalls.empty()) << "AddFiles ran inside the drag";
        ProcessEvents();
        ASSERT_EQ(FAddCalls.size(), 1u);
        EXPECT_EQ(FAddCalls[0].Paths,
                  (std::vector<std::string>{"/tmp/one.zip", "/tmp/two words.avi", "/tmp/line\r\nbreak"}));
        EXPECT_TRUE(FAddCalls[0].StayOnTop);
        EXPECT_TRUE(w->FDroppedFiles.empty());
        EXPECT_EQ(w->isVisible(), ok);
    }
}

TEST_F(TrayTest, TextAndMoveOnlyDragsAreRefusedAndAddNothing) {
    auto w = MakeWindow();
    QMimeData text;
    text.setText(QStringLiteral("/etc/passwd"));
    TDragResult r = DragAndDrop(*w->frm_droptarget, text, Qt::CopyAction, Qt::CopyAction);
    EXPECT_FALSE(r.Accepted);
    std::unique_ptr<QMimeData> files(FileList({"/tmp/one.zip"}));
    r = DragAndDrop(*w->frm_droptarget, *files, Qt::MoveAction, Qt::MoveAction);
    EXPECT_FALSE(r.Accepted);
    ProcessEvents();
    EXPECT_TRUE(FAddCalls.empty());
}

TEST_F(TrayTest, FilesDroppedOnTheMainWindowAreQueuedNotOnTopAndTheQueueIsShown) {
    auto w = MakeWindow();
    w->TreeView->setCurrentItem(w->TreeView->topLevelItem(1));
    std::unique_ptr<QMimeData> files(FileList({"/tmp/a.bin", "/tmp/b.bin"}));
    EXPECT_TRUE(DragAndDrop(*w, *files, Qt::CopyAction, Qt::CopyAction).Accepted);
    ProcessEvents();
    ASSERT_EQ(FAddCalls.size(), 1u);
    EXPECT_EQ(FAddCalls[0].Paths, (std::vector<std::string>{"/tmp/a.bin", "/tmp/b.bin"}));
    EXPECT_FALSE(FAddCalls[0].StayOnTop);
    EXPECT_EQ(w->TreeView->currentItem(), w->TreeView->topLevelItem(0));
}

TEST(DropWindowPlaceTest, ShowPullsTheWindowBackIntoTheWorkArea) {
    const QRect area(0, 0, 1600, 1170);
    struct Case {
        QPoint At;
        QPoint Expected;
    } cases[] = {
        {{10000, 10000}, {1550, 1120}}, // the default: bottom right corner
        {{-25, 300}, {0, 300}},         // half off the left edge
        {{700, -10}, {700, 0}},         {{1575, 1150}, {1550, 1120}}, {{100, 200}, {100, 200}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ClampIntoArea(QRect(c.At, QSize(50, 50)), area), c.Expected) << c.At.x() << "," << c.At.y();
    EXPECT_EQ(ClampIntoArea(QRect(-5, -5, 50, 50), QRect(100, 40, 800, 600)), QPoint(100, 40));
    // A window larger than the area keeps its left and top edges in it, wherever it came from.
    for (const QPoint at : {QPoint(200, 100), QPoint(-300, -200), QPoint(100, 40)})
        EXPECT_EQ(ClampIntoArea(QRect(at, QSize(900, 700)), QRect(100, 40, 800, 600)), QPoint(100, 40))
            << at.x() << "," << at.y();
}

TEST_F(TrayTest, DropWindowStartsWhereTheSettingsSayClampedAndItsStateIsSavedFromTheWindow) {
    UpdateSettings([](TAppSettings& s) {
        s.General.ShowDropTarget = true;
        s.General.DropLeft = 10000;
        s.General.DropTop = 10000;
    });
    auto w = MakeWindow();
    Tfrm_droptarget& d = *w->frm_droptarget;
    ASSERT_TRUE(d.isVisible());
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_EQ(d.pos(), QPoint(area.right() + 1 - 50, area.bottom() + 1 - 50));

    d.move(123, 45);
    w->act_exitExecute();
    const QString ini = ReadFile(SettingsFileName());
    EXPECT_TRUE(ini.contains(QStringLiteral("ShowDropTarget=1\r\n"))) << ini.toStdString();
    EXPECT_TRUE(ini.contains(QStringLiteral("DropLeft=123\r\n")));
    EXPECT_TRUE(ini.contains(QStringLiteral("DropTop=45\r\n")));
}

TEST_F(TrayTest, StealthModeKeepsTheStoredDropWindowChoiceOfTheUser) {
    struct Case {
        const char* Name;
        bool StartInStealth;
        bool Shown;
    } cases[] = {{"stealth start, drop window on", true, true},
                 {"stealth start, drop window off", true, false},
                 {"boss key, drop window on", false, true},
                 {"boss key, drop window off", false, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        UpdateSettings([&](TAppSettings& s) {
            s.General.StartInStealthMode = c.StartInStealth;
            s.General.ShowDropTarget = c.Shown;
        });
        auto w = MakeWindow();
        if (!c.StartInStealth)
            w->HandleHotKey(0);
        ASSERT_TRUE(w->FStealthMode);
        ASSERT_FALSE(w->frm_droptarget->isVisible());
        SaveSettings();
        EXPECT_TRUE(ReadFile(SettingsFileName())
                        .contains(QStringLiteral("ShowDropTarget=%1\r\n").arg(c.Shown ? 1 : 0)));
    }
}

TEST_F(TrayTest, DoubleClickTogglesTheMainWindowAndRightClickOpensTheTrayMenu) {
    auto w = MakeWindow();
    Tfrm_droptarget& d = *w->frm_droptarget;
    d.show();
    const QPointF at(25, 25);
    QMouseEvent dbl(QEvent::MouseButtonDblClick, at, d.mapToGlobal(at), Qt::LeftButton, Qt::LeftButton,
                    Qt::NoModifier);
    QApplication::sendEvent(&d, &dbl);
    ProcessEvents();
    EXPECT_FALSE(w->isVisible());
    QApplication::sendEvent(&d, &dbl);
    ProcessEvents();
    EXPECT_TRUE(w->ApplicationVisible());

    QMouseEvent right(QEvent::MouseButtonRelease, at, d.mapToGlobal(at), Qt::RightButton, Qt::NoButton,
                      Qt::NoModifier);
    QApplication::sendEvent(&d, &right);
    ProcessEvents();
    EXPECT_TRUE(w->TrayPopupMenu->isVisible());
    EXPECT_FALSE(w->act_showmainwindow->isEnabled());
    w->TrayPopupMenu->hide();
}

TEST_F(TrayTest, DraggingTheDropWindowWithoutAWindowManagerMovesItWithTheMouse) {
    auto w = MakeWindow();
    Tfrm_droptarget& d = *w->frm_droptarget;
    d.move(300, 300);
    d.show();
    const QPoint start = d.pos();
    auto send = [&](QEvent::Type Type, QPoint Global, Qt::MouseButtons Buttons) {
        QMouseEvent e(Type, QPointF(Global - d.pos()), QPointF(Global),
                      Type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, Buttons, Qt::NoModifier);
        QApplication::sendEvent(&d, &e);
    };
    send(QEvent::MouseButtonPress, start + QPoint(10, 10), Qt::LeftButton);
    send(QEvent::MouseMove, start + QPoint(60, 40), Qt::LeftButton);
    send(QEvent::MouseMove, start + QPoint(110, 70), Qt::LeftButton);
    send(QEvent::MouseButtonRelease, start + QPoint(110, 70), Qt::NoButton);
    EXPECT_EQ(d.pos(), start + QPoint(100, 60));
}

} // namespace
} // namespace quillo
