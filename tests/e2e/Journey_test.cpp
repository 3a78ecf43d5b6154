// A day with Quillo, from the first start on an empty data folder to the next start, driven only
// through what a person touches: keys and mouse on the real windows (xdotool), the display's own
// clipboard (xclip), a file dropped on the drop window from a drag source (xdnd-source, standing
// in for a file manager). The desktop has a window manager (openbox) and a tray (trayer); the
// service is the stand-in on loopback. Files of the data folder are only read, to check results.
#include "DesktopFixture.h"
#include "core/queue/FinishedLinks.h"
#include "support/BrimvaultService.h"

#include <QJsonArray>
#include <QMap>
#include <QRandomGenerator>
#include <QRect>

#include <algorithm>
#include <set>
#include <string>

namespace {

using namespace quillo::test;

constexpr int kUploadWaitMs = 120000;
constexpr int kSpeedLimitKBs = 150;

// Lines as a set of plain strings, which a failed comparison prints readably.
std::set<std::string> LineSet(const QStringList& Lines) {
    std::set<std::string> set;
    for (const QString& line : Lines)
        set.insert(line.toStdString());
    return set;
}

class JourneyDesktopTest : public DesktopWindowTest {
protected:
    void SetUp() override {
        DesktopWindowTest::SetUp();
        if (HasFatalFailure())
            return;
        RequireTools({"openbox", "trayer", "xprop", "xclip", "curl"});
        if (HasFailure())
            return;
        ASSERT_TRUE(FService.Start()) << FService.ErrorText().toStdString();
        FEnv.insert(QStringLiteral("QUILLO_SITE"), FService.SiteHost());
        FEnv.insert(QStringLiteral("QUILLO_FTP_PORT"), QString::number(FService.FtpPort()));
        FFiles = FRoot + QStringLiteral("/files");
        QDir().mkpath(FFiles);
    }

    // A file of random bytes, so that a link serving another file's bytes is caught.
    QString File(const QString& Name, int Size) const {
        QByteArray bytes(Size, Qt::Uninitialized);
        QRandomGenerator::global()->fillRange(reinterpret_cast<quint32*>(bytes.data()), Size / 4);
        const QString path = FFiles + QLatin1Char('/') + Name;
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly) && f.write(bytes) == Size);
        return path;
    }

    static QByteArray Contents(const QString& Path) {
        QFile f(Path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    void Type(const QString& Text) const {
        Xdotool({QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("30"), Text});
        QThread::msleep(300);
    }

    bool WaitForWindowGone(const QString& Id) const {
        return WaitFor([&] {
            const std::optional<TWindowGeometry> g = Geometry(Id);
            return !g || !g->Viewable;
        });
    }

    void Focus(const QString& Id) const {
        Xdotool({QStringLiteral("windowactivate"), QStringLiteral("--sync"), Id});
        WaitFor([&] { return FocusWindow() == Id; }, 5000);
        QThread::msleep(300);
    }

    // A menu of the main window by its access keys, then an item's.
    void MenuItem(const QString& Main, const QString& MenuKey, const QString& ItemKey) const {
        Focus(Main);
        Keys({QStringLiteral("alt+") + MenuKey});
        Keys({ItemKey});
    }

    // The tray icon's menu, then keys in it (by place, so that they work in every language).
    void TrayMenu(const QProcess& P, const QStringList& Keys) const {
        const QString icon = WaitForTrayIcon(P);
        ASSERT_FALSE(icon.isEmpty()) << "no tray icon";
        // The menu is a new window of the program; a balloon may go meanwhile.
        const QStringList before = ViewableWindowsOf(P);
        Xdotool({QStringLiteral("mousemove"), QStringLiteral("--window"), icon, QStringLiteral("8"),
                 QStringLiteral("8"), QStringLiteral("click"), QStringLiteral("3")});
        ASSERT_TRUE(WaitFor([&] {
            const QStringList now = ViewableWindowsOf(P);
            return std::any_of(now.begin(), now.end(),
                               [&](const QString& Id) { return !before.contains(Id); });
        })) << "no tray menu opened";
        QThread::msleep(300);
        this->Keys(Keys);
    }

    // Add... (Ins) with the path typed into the file dialog, then the method chosen in the
    // properties dialog: Home picks the first of the sorted list (FTP), End the last (HTTP).
    void AddFile(const QString& Main, const QString& Path, const QString& MethodKey) {
        Focus(Main);
        Keys({QStringLiteral("Insert")});
        ASSERT_FALSE(WaitForWindow(QStringLiteral("Add Files to Upload")).isEmpty()) << "no file dialog";
        Type(Path);
        Keys({QStringLiteral("Return")});
        const QString props = WaitForWindow(QStringLiteral("New Upload Task Properties"));
        ASSERT_FALSE(props.isEmpty()) << "no properties dialog for " << Path.toStdString();
        ChooseMethod(MethodKey);
        Keys({QStringLiteral("Return")});
        ASSERT_TRUE(WaitForWindowGone(props)) << "the properties dialog stayed open";
    }
    // In the properties dialog, the focus starts on its page tab; the method list is the third
    // stop after it (upload name, Random, method).
    void ChooseMethod(const QString& Key) const {
        Keys({QStringLiteral("Tab"), QStringLiteral("Tab"), QStringLiteral("Tab"), Key});
    }

    bool WaitForFinished(std::size_t Count) const {
        return WaitFor(
            [&] {
                quillo::TUploadQueue q;
                LoadSavedJobs(q);
                return q.FinishedCount() == Count && q.TaskCount() == 0;
            },
            kUploadWaitMs);
    }

    // The account and the speed limit typed into the settings dialog, as saved.
    void ExpectAccountAndLimitSaved() const {
        const quillo::TAppSettings s = SavedSettings();
        EXPECT_TRUE(s.Brimvault.UseAccount);
        EXPECT_EQ(s.Brimvault.UserName, "user");
        EXPECT_EQ(s.Brimvault.Password, "pass");
        EXPECT_EQ(s.UploadManager.SpeedLimit, kSpeedLimitKBs);
    }

    // The DOWNLOAD and DELETE links the service handed out, from its answers.
    QStringList ServiceLinks(const QString& Kind) const {
        QStringList links;
        for (const QJsonObject& e : FService.HttpRequests(QStringLiteral("/cgi-bin/upload.cgi"))) {
            if (e.value(QStringLiteral("status")).toInt() != 200)
                continue;
            for (const QString& line :
                 e.value(QStringLiteral("reply")).toString().split(QStringLiteral("\r\n")))
                if (line.startsWith(Kind + QStringLiteral(": ")))
                    links << line.mid(Kind.size() + 2).trimmed();
        }
        return links;
    }

    // The clipboard of the test's display, as another program pasting from it gets it.
    QStringList ClipboardLines() const {
        const TToolRun run =
            RunTool(QStringLiteral("xclip"),
                    {QStringLiteral("-o"), QStringLiteral("-selection"), QStringLiteral("clipboard")});
        return run.Output.split(QRegularExpression(QStringLiteral("[\r\n]+")), Qt::SkipEmptyParts);
    }

    // The finished list, every entry selected: a click into the tree of views on the left (below
    // its two items), End for "Finished", its last item, then Tab into the list.
    void SelectAllFinished(const QString& Main) const {
        Focus(Main);
        Xdotool({QStringLiteral("mousemove"), QStringLiteral("--window"), Main, QStringLiteral("60"),
                 QStringLiteral("300"), QStringLiteral("click"), QStringLiteral("1")});
        QThread::msleep(300);
        Keys({QStringLiteral("End"), QStringLiteral("Tab"), QStringLiteral("ctrl+a")});
    }

    // The finished uploads as the jobs file keeps them: the links the service handed out, each
    // serving exactly the bytes of its local file; Methods by file name.
    void ExpectFinishedUploads(const QMap<QString, QString>& Methods) const {
        quillo::TUploadQueue q;
        LoadSavedJobs(q);
        ASSERT_EQ(q.FinishedCount(), std::size_t(Methods.size()));
        QStringList links;
        for (std::size_t i = 0; i < q.FinishedCount(); ++i) {
            const quillo::TFinishedUploadJobData& r = q.Finished(i);
            const QString file = QString::fromStdString(r.FileName);
            const QString link = QString::fromStdString(quillo::DownloadLink(r));
            SCOPED_TRACE(file.toStdString());
            EXPECT_EQ(QString::fromStdString(r.Method), Methods.value(file, QStringLiteral("?")));
            const QByteArray served = Fetch(link);
            EXPECT_TRUE(served == Contents(file))
                << link.toStdString() << " serves " << served.size() << " bytes, not those of the file";
            links << link;
        }
        EXPECT_EQ(LineSet(links), LineSet(ServiceLinks(QStringLiteral("DOWNLOAD"))));
    }

    QByteArray Fetch(const QString& Url) const {
        const QString out = FRoot + QStringLiteral("/fetched.bin");
        QFile::remove(out);
        const TToolRun run = RunTool(QStringLiteral("curl"),
                                     {QStringLiteral("-s"), QStringLiteral("-f"), QStringLiteral("--noproxy"),
                                      QStringLiteral("*"), QStringLiteral("-o"), out, Url});
        return run.ExitCode == 0 ? Contents(out) : QByteArray();
    }

    TBrimvaultService FService;
    QString FFiles;
};

TEST_F(JourneyDesktopTest, ADayWithQuilloFromTheFirstStartToTheNext) {
    StartDesktop(true);
    ASSERT_FALSE(HasFatalFailure());

    // 1. The first start, on an empty data folder.
    QProcess* quillo = &StartQuillo({});
    QString main = WaitForMainWindow();
    ASSERT_FALSE(main.isEmpty()) << "no main window at the first start";
    ASSERT_FALSE(WaitForTrayIcon(*quillo).isEmpty()) << "no tray icon docked in trayer";

    // 2. The account and a speed limit, in the settings dialog (Tools > Settings...).
    MenuItem(main, QStringLiteral("t"), QStringLiteral("e"));
    const QString settings = WaitForWindow(QStringLiteral("Settings"));
    ASSERT_FALSE(settings.isEmpty()) << "Tools > Settings... opened no dialog";
    // On "My Account": the check box, user name, password; the focus starts on the page tabs.
    Keys({QStringLiteral("Tab"), QStringLiteral("space"), QStringLiteral("Tab")});
    Type(QStringLiteral("user"));
    Keys({QStringLiteral("Tab")});
    Type(QStringLiteral("pass"));
    // Back to the page tabs, two pages on to "Upload Engine", its second field is the limit.
    Keys({QStringLiteral("shift+Tab"), QStringLiteral("shift+Tab"), QStringLiteral("shift+Tab"),
          QStringLiteral("Right"), QStringLiteral("Right"), QStringLiteral("Tab"), QStringLiteral("Tab"),
          QStringLiteral("ctrl+a")});
    Type(QString::number(kSpeedLimitKBs));
    Keys({QStringLiteral("Return")}); // Accept
    ASSERT_TRUE(WaitForWindowGone(settings)) << "Accept did not close the settings dialog";
    ExpectAccountAndLimitSaved();

    // 3. Two files through Add...: one by HTTP, one by FTP; both reach the finished list.
    const QString httpFile = File(QStringLiteral("holiday photos.zip"), 400000);
    const QString ftpFile = File(QStringLiteral("band-rehearsal.mp3"), 300000);
    AddFile(main, httpFile, QStringLiteral("End"));
    ASSERT_FALSE(HasFatalFailure());
    AddFile(main, ftpFile, QStringLiteral("Home"));
    ASSERT_FALSE(HasFatalFailure());
    ASSERT_TRUE(WaitForFinished(2)) << "the two uploads did not finish";
    QMap<QString, QString> methods{{httpFile, QStringLiteral("HTTP Method")},
                                   {ftpFile, QStringLiteral("FTP Method")}};
    ExpectFinishedUploads(methods);
    // The HTTP one came as a form post, the FTP one by STOR on the account and a commit.
    QStringList posted;
    for (const QJsonObject& e : FService.HttpRequests(QStringLiteral("/cgi-bin/upload.cgi")))
        if (e.value(QStringLiteral("method")).toString() == QStringLiteral("POST"))
            posted << e.value(QStringLiteral("form"))
                          .toObject()
                          .value(QStringLiteral("file"))
                          .toObject()
                          .value(QStringLiteral("filename"))
                          .toString();
    EXPECT_EQ(posted, QStringList{QStringLiteral("holiday photos.zip")});
    EXPECT_TRUE(FService.FtpCommandLines().contains(QStringLiteral("USER user")));
    EXPECT_EQ(FService.ReadAccountFile(QStringLiteral("user"), QStringLiteral("band-rehearsal.mp3")),
              Contents(ftpFile));
    const QStringList downloads = ServiceLinks(QStringLiteral("DOWNLOAD"));
    const QStringList deletes = ServiceLinks(QStringLiteral("DELETE"));
    ASSERT_EQ(downloads.size(), 2) << downloads.join(QLatin1Char(' ')).toStdString();

    // 4. The download links, copied from the finished list, pasted from the clipboard.
    SelectAllFinished(main);
    Keys({QStringLiteral("ctrl+c")});
    QStringList copied;
    EXPECT_TRUE(WaitFor([&] {
        copied = ClipboardLines();
        return copied.size() == 2;
    })) << "clipboard: "
        << copied.join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(LineSet(copied), LineSet(downloads));

    // 5. Every link exported (the list's menu: Export links to a TXT file > Export All), to a
    // file name typed into the save dialog; the extension comes from the filter.
    const QString exported = FRoot + QStringLiteral("/cwd/all-links");
    Keys({QStringLiteral("Menu")});
    Keys({QStringLiteral("Down"), QStringLiteral("Down"), QStringLiteral("Down"), QStringLiteral("Down"),
          QStringLiteral("Right"), QStringLiteral("Down"), QStringLiteral("Down"), QStringLiteral("Return")});
    const QString saveDialog = WaitForWindow(QStringLiteral("Export Links As"));
    ASSERT_FALSE(saveDialog.isEmpty()) << "Export All opened no save dialog";
    Type(exported);
    Keys({QStringLiteral("Return")});
    ASSERT_TRUE(WaitFor([&] { return QFile::exists(exported + QStringLiteral(".txt")); }))
        << "nothing exported";
    {
        const QString text = QString::fromUtf8(Contents(exported + QStringLiteral(".txt")));
        for (const QString& link : downloads + deletes)
            EXPECT_TRUE(text.contains(link)) << link.toStdString() << " missing from:\n"
                                             << text.toStdString();
        EXPECT_TRUE(text.contains(QStringLiteral("holiday photos.zip")));
        EXPECT_TRUE(text.contains(QStringLiteral("band-rehearsal.mp3")));
    }

    // 6. German (Tools > Language...), seen in the captions (Extras > Sprache... is "Sprache
    // wählen"); then no language again: English from the next start on.
    MenuItem(main, QStringLiteral("t"), QStringLiteral("l"));
    QString languages = WaitForWindow(QStringLiteral("Select Language"));
    ASSERT_FALSE(languages.isEmpty()) << "Tools > Language... opened no dialog";
    // German, the only file: the list has the focus, with the mark on it but nothing selected.
    Keys({QStringLiteral("Home"), QStringLiteral("space"), QStringLiteral("Return")});
    ASSERT_TRUE(WaitForWindowGone(languages));
    EXPECT_EQ(SavedSettings().General.LanguageFile, "German");
    MenuItem(main, QStringLiteral("x"), QStringLiteral("s"));
    languages = WaitForWindow(QStringLiteral("Sprache wählen"));
    ASSERT_FALSE(languages.isEmpty())
        << "no German caption: Extras > Sprache... opened no \"Sprache wählen\"";
    Keys({QStringLiteral("ctrl+space"), QStringLiteral("Return")}); // German unselected: no language
    ASSERT_TRUE(WaitForWindowGone(languages));
    EXPECT_EQ(SavedSettings().General.LanguageFile, "");

    // 7. The close box hides the window into the tray.
    Focus(main);
    Keys({QStringLiteral("alt+F4")});
    ASSERT_TRUE(WaitFor([&] { return MainWindows().isEmpty(); })) << "the close box did not hide the window";
    EXPECT_EQ(quillo->state(), QProcess::Running);
    EXPECT_FALSE(TrayIconWindow(*quillo).isEmpty()) << "the tray icon went with the window";

    // 8. The drop window, from the tray menu (the item above Exit), takes a file dragged onto it.
    TrayMenu(*quillo, {QStringLiteral("Up"), QStringLiteral("Up")});
    Keys({QStringLiteral("Return")});
    ASSERT_FALSE(HasFatalFailure());
    QString drop;
    ASSERT_TRUE(WaitFor([&] {
        const QStringList d = DropWindows();
        drop = d.isEmpty() ? QString() : d.first();
        return !drop.isEmpty();
    })) << "the tray menu did not show the drop window";
    const QString droppedFile = File(QStringLiteral("scans-march.pdf"), 250000);
    const TToolRun dragged = RunTool(QStringLiteral(XDND_SOURCE_PROGRAM), {drop, droppedFile});
    ASSERT_EQ(dragged.ExitCode, 0) << "the drop window did not take the file";
    const QString props =
        WaitForWindow(QStringLiteral("(Eigenschaften der neuen Upload-Aufgabe|New Upload Task Properties)"));
    ASSERT_FALSE(props.isEmpty()) << "no properties dialog for the dropped file";
    Keys({QStringLiteral("Return")}); // OK, with the method used last (FTP)
    ASSERT_TRUE(WaitForFinished(3)) << "the dropped file did not upload";
    methods.insert(droppedFile, QStringLiteral("FTP Method"));
    ExpectFinishedUploads(methods);
    main = WaitForMainWindow();
    ASSERT_FALSE(main.isEmpty()) << "after OK on a dropped file the window did not come up";

    // 9. The window dragged by its title bar to another place, then Exit from the tray menu.
    std::optional<TWindowGeometry> before = Geometry(main);
    ASSERT_TRUE(before);
    Xdotool({QStringLiteral("mousemove"), QString::number(before->X + 300), QString::number(before->Y - 8)});
    Xdotool({QStringLiteral("mousedown"), QStringLiteral("1")});
    for (int step = 1; step <= 10; ++step) {
        Xdotool({QStringLiteral("mousemove"), QString::number(before->X + 300 + 15 * step),
                 QString::number(before->Y - 8 + 10 * step)});
        QThread::msleep(40);
    }
    Xdotool({QStringLiteral("mouseup"), QStringLiteral("1")});
    std::optional<TWindowGeometry> moved;
    ASSERT_TRUE(WaitFor([&] {
        moved = Geometry(main);
        return moved && moved->X > before->X + 50;
    })) << "dragging the title bar did not move the window";
    QThread::msleep(500);
    moved = Geometry(main);
    TrayMenu(*quillo, {QStringLiteral("Up"), QStringLiteral("Return")}); // Exit
    ASSERT_TRUE(WaitForEnd(*quillo, 30000)) << "Exit did not end the program";
    EXPECT_EQ(quillo->exitCode(), 0);

    // The next start: the same finished uploads, settings and window place, in English.
    quillo = &StartQuillo({});
    main = WaitForMainWindow();
    ASSERT_FALSE(main.isEmpty()) << "no main window at the second start";
    const std::optional<TWindowGeometry> again = Geometry(main);
    ASSERT_TRUE(again);
    EXPECT_EQ(QRect(again->X, again->Y, again->Width, again->Height),
              QRect(moved->X, moved->Y, moved->Width, moved->Height));
    ExpectAccountAndLimitSaved();
    SelectAllFinished(main);
    Keys({QStringLiteral("ctrl+c")});
    const QStringList allDownloads = ServiceLinks(QStringLiteral("DOWNLOAD"));
    ASSERT_EQ(allDownloads.size(), 3);
    EXPECT_TRUE(WaitFor([&] {
        copied = ClipboardLines();
        return LineSet(copied) == LineSet(allDownloads);
    })) << "clipboard after the restart: "
        << copied.join(QLatin1Char('|')).toStdString();
    ExpectFinishedUploads(methods);
    MenuItem(main, QStringLiteral("t"), QStringLiteral("l"));
    EXPECT_FALSE(WaitForWindow(QStringLiteral("Select Language")).isEmpty())
        << "the second start is not in English";
    Keys({QStringLiteral("Escape")});
    EXPECT_EQ(quillo->state(), QProcess::Running);
}

} // namespace
