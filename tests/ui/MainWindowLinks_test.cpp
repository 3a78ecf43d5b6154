// The finished list's commands as the user reaches them: the context menu, the keys, the column
// headers, the clipboard and the save dialog (replaced through its hook).
#include "ActiveMainWindow.h"
#include "core/l10n/ResMessages.h"
#include "core/queue/FinishedLinks.h"
#include "ui/MainWindow.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHeaderView>
#include <QMenu>
#include <QPlainTextEdit>
#include <QTableView>
#include <QTest>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace quillo {
namespace {

QByteArray ReadAll(const QString& Path) {
    QFile f(Path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

class MainWindowLinksTest : public test::ActiveMainWindowTest {
protected:
    void SetUp() override {
        if (QGuiApplication::platformName() != QLatin1String("offscreen"))
            GTEST_SKIP() << "the clipboard tests run only on the offscreen platform's own clipboard";
        StartWindow();
        W->FSaveFileDialog = [this](QWidget*, const TMainWindow::TSaveDialogRequest& R) {
            Requests.push_back(R);
            return Answer;
        };
        QGuiApplication::clipboard()->clear();
    }

    QTableView* View() const { return W->ListViewFinishedUploadJobs; }

    void Add(const std::string& FileName, const std::string& Result, std::int64_t Size = 100,
             const std::string& UploadName = {}) {
        TFinishedUploadJobData f;
        f.FileName = FileName;
        f.FileSize = Size;
        f.UploadName = UploadName;
        f.EndTime = 46000.5;
        f.Result = Result;
        W->FQueue.AppendFinished(f);
    }

    // Three uploads; the middle one got no delete link and no hash.
    void AddThree() {
        Add("/d/one.zip", "download-link=http://h/d/1\r\nkill-link=http://h/k/1\r\nMD5=0123abcd");
        Add("/d/two.zip", "download-link=http://h/d/2");
        Add("/d/three.zip", "download-link=http://h/d/3\r\nkill-link=http://h/k/3\r\nMD5=ffee");
    }

    void ShowFinished() {
        W->TreeView->setCurrentItem(W->TreeView->topLevelItem(1));
        View()->setFocus();
        QApplication::processEvents();
    }

    void Select(std::vector<int> Rows) {
        QItemSelectionModel* s = View()->selectionModel();
        s->clearSelection();
        if (!Rows.empty())
            s->setCurrentIndex(View()->model()->index(Rows.front(), 0), QItemSelectionModel::NoUpdate);
        for (int row : Rows)
            s->select(View()->model()->index(row, 0),
                      QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }

    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        for (std::size_t i = 0; i < W->FQueue.FinishedCount(); ++i)
            names.push_back(ShownName(W->FQueue.Finished(i)));
        return names;
    }

    std::vector<TMainWindow::TSaveDialogRequest> Requests;
    QString Answer; // what the save dialog answers; empty: cancelled
};

TEST_F(MainWindowLinksTest, TheContextMenuHoldsTheNineCommandsInOrder) {
    std::vector<std::string> items;
    const auto walk = [&](const QMenu* Menu, const std::string& Indent, const auto& Self) -> void {
        for (const QAction* a : Menu->actions()) {
            if (a->isSeparator())
                items.push_back(Indent + "-");
            else if (a->menu())
                items.push_back(Indent + a->text().toStdString() + " >"),
                    Self(a->menu(), Indent + "  ", Self);
            else
                items.push_back(Indent + a->objectName().toStdString() + " \"" + a->text().toStdString() +
                                "\" " + a->shortcut().toString().toStdString() +
                                (a->isVisible() ? "" : " hidden"));
        }
    };
    walk(W->LinksListContextMenu, "", walk);
    const std::vector<std::string> expected{
        "act_copydownloadlinks \"Copy download-links\" Ctrl+C",
        "act_copydownloadlinksandmd5 \"Copy download-links and MD5\" ",
        "act_copydeletelinks \"Copy delete links\" ",
        "-",
        "Export links to a TXT file >",
        "  act_exportdownloadlinks \"Export download links\" ",
        "  act_exportdeletelinks \"Export delete links\" ",
        "  act_exportalllinks \"Export All\" ",
        "act_makerenamescript \"Make autorename BAT script\" ",
        "-",
        "act_deleteselectedlinks \"Delete selected\" Del",
        "act_selectalllinks \"Select all\" Ctrl+A",
    };
    EXPECT_EQ(items, expected);
}

TEST_F(MainWindowLinksTest, CommandsNeedTheFocusAndASelectionOrEntries) {
    const auto enabled = [&](TLinkCommand C) { return W->LinkAction(C)->isEnabled(); };
    ShowFinished();
    // An empty list: nothing to select or export.
    for (const TLinkCommandInfo& info : LinkCommands)
        EXPECT_FALSE(enabled(info.Command)) << info.Name;

    AddThree();
    Select({});
    EXPECT_TRUE(enabled(lcExportAll));
    EXPECT_TRUE(enabled(lcExportDownloadLinks));
    EXPECT_TRUE(enabled(lcSelectAll));
    EXPECT_FALSE(enabled(lcCopyDownloadLinks));
    EXPECT_FALSE(enabled(lcMakeRenameScript));
    EXPECT_FALSE(enabled(lcDeleteSelected));

    Select({1});
    for (const TLinkCommandInfo& info : LinkCommands)
        EXPECT_TRUE(enabled(info.Command)) << info.Name;

    // The focus elsewhere (the tree) disables every one of them, the selection notwithstanding.
    W->TreeView->setFocus();
    QApplication::processEvents();
    for (const TLinkCommandInfo& info : LinkCommands)
        EXPECT_FALSE(enabled(info.Command)) << info.Name;
}

// Delete and Ctrl+A belong to whichever list has the focus; two enabled commands on one key would
// leave the key doing nothing at all.
TEST_F(MainWindowLinksTest, DeleteAndSelectAllKeysHaveOneEnabledCommandAtATime) {
    AddThree();
    TUploadJobData t;
    t.FileName = "/d/task.bin";
    W->FQueue.AppendTask(std::move(t));
    const auto enabledOn = [&](const QKeySequence& Key) {
        std::vector<std::string> names;
        for (const QAction* a : W->findChildren<QAction*>())
            if (a->shortcut() == Key && a->isEnabled() && a->isVisible())
                names.push_back(a->objectName().toStdString());
        return names;
    };
    ShowFinished();
    Select({0});
    EXPECT_EQ(enabledOn(QKeySequence(Qt::Key_Delete)), std::vector<std::string>{"act_deleteselectedlinks"});
    EXPECT_EQ(enabledOn(QKeySequence(Qt::CTRL | Qt::Key_A)), std::vector<std::string>{"act_selectalllinks"});

    W->TreeView->setCurrentItem(W->TreeView->topLevelItem(0));
    W->ListViewUploadJobs->setFocus();
    W->ListViewUploadJobs->selectRow(0);
    QApplication::processEvents();
    for (const std::string& name : enabledOn(QKeySequence(Qt::Key_Delete)))
        EXPECT_NE(name, "act_deleteselectedlinks");
    for (const std::string& name : enabledOn(QKeySequence(Qt::CTRL | Qt::Key_A)))
        EXPECT_NE(name, "act_selectalllinks");
}

TEST_F(MainWindowLinksTest, CopyCommandsPutTheLinksOnTheClipboard) {
    AddThree();
    ShowFinished();
    Select({0, 1, 2});
    // Ctrl+C on the list, as the user presses it.
    QTest::keyClick(View(), Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(),
              "http://h/d/1\r\nhttp://h/d/2\r\nhttp://h/d/3\r\n");

    W->LinkAction(lcCopyDeleteLinks)->trigger();
    EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(), "http://h/k/1\r\n\r\nhttp://h/k/3\r\n");

    W->LinkAction(lcCopyDownloadLinksAndMD5)->trigger();
    EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(),
              "http://h/d/1\r\nMD5: 0123ABCD\r\n\r\nhttp://h/d/2\r\n\r\nhttp://h/d/3\r\nMD5: FFEE\r\n\r\n");

    // Only the selected rows, top to bottom.
    Select({2, 0});
    W->LinkAction(lcCopyDownloadLinks)->trigger();
    EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(), "http://h/d/1\r\nhttp://h/d/3\r\n");
}

// The context menu takes the keyboard while it is open; its commands must stay usable.
TEST_F(MainWindowLinksTest, TheContextMenuRunsItsCommandsFromTheKeyboard) {
    AddThree();
    ShowFinished();
    Select({0, 2});
    QMenu* menu = W->LinksListContextMenu;
    emit View()->customContextMenuRequested(QPoint(20, 20));
    ASSERT_TRUE(QTest::qWaitFor([&] { return menu->isVisible(); }));
    QTest::keyClick(menu, Qt::Key_Down); // onto the first item
    EXPECT_TRUE(W->LinkAction(lcCopyDownloadLinks)->isEnabled());
    EXPECT_TRUE(W->mi_ExportLinks->isEnabled());
    QTest::keyClick(menu, Qt::Key_Return);
    EXPECT_FALSE(menu->isVisible());
    EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(), "http://h/d/1\r\nhttp://h/d/3\r\n");
}

TEST_F(MainWindowLinksTest, ExportAsksForAFileAndWritesTheSelectedRows) {
    AddThree();
    ShowFinished();
    const QString file = QDir(Home).filePath(QStringLiteral("links.txt"));

    // Cancelled: nothing is written.
    Select({0});
    W->LinkAction(lcExportDownloadLinks)->trigger();
    ASSERT_EQ(Requests.size(), 1u);
    EXPECT_EQ(Requests[0].Title, ResQString(rmExportLinksCaption));
    EXPECT_EQ(Requests[0].DefaultSuffix, QStringLiteral("txt"));
    EXPECT_EQ(Requests[0].Filters, QStringList{ResQString(rmTextFile) + QStringLiteral("|*.txt")});
    EXPECT_FALSE(QFileInfo::exists(file));

    Answer = file;
    Select({0, 1, 2});
    W->LinkAction(lcExportDeleteLinks)->trigger();
    EXPECT_EQ(ReadAll(file), QByteArray("http://h/k/1\r\n\r\nhttp://h/k/3\r\n"));

    Select({1});
    W->LinkAction(lcExportAll)->trigger();
    const QByteArray all = ReadAll(file);
    EXPECT_TRUE(all.startsWith("Date: ")) << all.toStdString();
    EXPECT_TRUE(all.endsWith("\r\nFile: two.zip\r\nDownload: http://h/d/2\r\nKill: \r\n" +
                             QByteArray(70, '-') + "\r\n"))
        << all.toStdString();

    // Export needs entries, not a selection: with none selected the old file becomes empty.
    Select({});
    ASSERT_TRUE(W->LinkAction(lcExportDownloadLinks)->isEnabled());
    W->LinkAction(lcExportDownloadLinks)->trigger();
    EXPECT_TRUE(QFileInfo::exists(file));
    EXPECT_EQ(ReadAll(file), QByteArray());
    EXPECT_TRUE(W->Memo1->isHidden());
}

TEST_F(MainWindowLinksTest, AFileThatCannotBeWrittenEndsInTheErrorReport) {
    AddThree();
    ShowFinished();
    Select({0});
    const QString notAFolder = QDir(Home).filePath(QStringLiteral("plain-file"));
    {
        QFile f(notAFolder);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    Answer = notAFolder + QStringLiteral("/links.txt");
    W->LinkAction(lcExportAll)->trigger();
    EXPECT_FALSE(W->Memo1->isHidden());
    const QStringList lines = ReportLines();
    ASSERT_EQ(lines.size(), 1) << W->Memo1->toPlainText().toStdString();
    EXPECT_TRUE(lines[0].startsWith(QStringLiteral("TMainWindow -> EFileWriteError: ")))
        << lines[0].toStdString();
    EXPECT_TRUE(lines[0].contains(Answer)) << lines[0].toStdString();
    // The window goes on: the next export works.
    Answer = QDir(Home).filePath(QStringLiteral("ok.txt"));
    W->LinkAction(lcExportDownloadLinks)->trigger();
    EXPECT_EQ(ReadAll(Answer), QByteArray("http://h/d/1\r\n"));
}

TEST_F(MainWindowLinksTest, RenameScriptFollowsTheChosenNameAndReportsWhatItLeftOut) {
    Add("/d/holiday.avi", "download-link=x", 1, "Kqwe.avi");
    Add("/d/own-name.avi", "download-link=y", 1);
    Add("/d/say \"hi\".avi", "download-link=z", 1, "Zzz.avi");
    Add("/d/100%.avi", "download-link=z", 1, "Pct.avi");
    ShowFinished();
    Select({0, 1, 2, 3});

    Answer = QDir(Home).filePath(QStringLiteral("rename.bat"));
    W->LinkAction(lcMakeRenameScript)->trigger();
    ASSERT_EQ(Requests.size(), 1u);
    EXPECT_EQ(Requests[0].Title, ResQString(rmSaveBatchCaption));
    EXPECT_EQ(Requests[0].DefaultSuffix, QStringLiteral("bat"));
    EXPECT_EQ(Requests[0].Filters, (QStringList{ResQString(rmBatchScript) + QStringLiteral("|*.bat"),
                                                QStringLiteral("Shell script|*.sh")}));
    EXPECT_EQ(ReadAll(Answer),
              QByteArray("ren \"Kqwe.avi\" \"holiday.avi\"\r\nren \"Pct.avi\" \"100%%.avi\"\r\n"));
    const QStringList lines = ReportLines();
    ASSERT_EQ(lines.size(), 1) << W->Memo1->toPlainText().toStdString();
    EXPECT_TRUE(lines[0].contains(QStringLiteral("Zzz.avi"))) << lines[0].toStdString();

    Answer = QDir(Home).filePath(QStringLiteral("rename.sh"));
    W->LinkAction(lcMakeRenameScript)->trigger();
    const QByteArray shell = ReadAll(Answer);
    EXPECT_TRUE(shell.startsWith("#!/bin/sh\n")) << shell.toStdString();
    EXPECT_TRUE(shell.contains("mv -n -- 'Zzz.avi' 'say \"hi\".avi'\n")) << shell.toStdString();
    EXPECT_FALSE(shell.contains("own-name")) << shell.toStdString();
    EXPECT_TRUE(QFileInfo(Answer).permissions() & QFileDevice::ExeOwner);
}

TEST_F(MainWindowLinksTest, HeaderClicksSortTheListAndTheMarksStayOnTheirRows) {
    Add("/z/b-file.txt", "", 1000);
    Add("/a/C-file.txt", "", 999);
    Add("/m/a-file.txt", "", 5);
    ShowFinished();
    Select({0});
    QHeaderView* header = View()->horizontalHeader();
    const auto clickColumn = [&](int Column) {
        const int x = header->sectionViewportPosition(Column) + header->sectionSize(Column) / 2;
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, QPoint(x, header->height() / 2));
    };
    clickColumn(1);
    EXPECT_EQ(Names(), (std::vector<std::string>{"a-file.txt", "C-file.txt", "b-file.txt"}));
    EXPECT_EQ(TMainWindow::SelectedRows(View()), std::vector<int>{0});
    clickColumn(0); // the folder does not count, nor the letter case
    EXPECT_EQ(Names(), (std::vector<std::string>{"a-file.txt", "b-file.txt", "C-file.txt"}));
    clickColumn(0); // again: ascending as before
    EXPECT_EQ(Names(), (std::vector<std::string>{"a-file.txt", "b-file.txt", "C-file.txt"}));
    EXPECT_EQ(TMainWindow::SelectedRows(View()), std::vector<int>{0});
    // The details describe the entry now under the mark.
    EXPECT_TRUE(W->RichEdit1->toPlainText().contains(QStringLiteral("a-file.txt")));
}

TEST_F(MainWindowLinksTest, DeleteAndSelectAllKeysWorkOnTheFinishedList) {
    AddThree();
    ShowFinished();
    QTest::keyClick(View(), Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(TMainWindow::SelectedRows(View()), (std::vector<int>{0, 1, 2}));
    Select({1});
    QTest::keyClick(View(), Qt::Key_Delete);
    EXPECT_EQ(Names(), (std::vector<std::string>{"one.zip", "three.zip"}));
}

} // namespace
} // namespace quillo
