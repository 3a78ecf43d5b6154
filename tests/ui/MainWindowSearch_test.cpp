// The main window's search panel, Help, the check for a newer version (against loopback sites
// that answer, and one that never does) and the red error report of unhandled errors.
#include "ActiveMainWindow.h"
#include "core/engine/ServiceSite.h"
#include "core/l10n/ResMessages.h"
#include "ui/ApplicationEvents.h"
#include "ui/MainWindow.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDesktopServices>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableView>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <QUrl>
#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace quillo {

// Errors of the kinds the program raises, named as it names them.
class EConvertError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};
namespace inner {
class EFileStreamError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};
} // namespace inner

namespace {

// Catches the addresses QDesktopServices would hand to the browser.
class TUrlCatcher : public QObject {
    Q_OBJECT
public:
    std::vector<QUrl> Urls;
public slots:
    void Open(const QUrl& Url) { Urls.push_back(Url); }
};

// A loopback web site: answers every request with Body, or never answers at all.
class TTinySite : public QObject {
public:
    explicit TTinySite(QByteArray Body, bool Answers = true) : FBody(std::move(Body)), FAnswers(Answers) {
        connect(&FServer, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* s = FServer.nextPendingConnection()) {
                FSockets.push_back(s);
                connect(s, &QTcpSocket::readyRead, this, [this, s] {
                    FRequest += s->readAll();
                    if (FAnswers && FRequest.contains("\r\n\r\n")) {
                        s->write("HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nConnection: "
                                 "close\r\nContent-Length: " +
                                 QByteArray::number(FBody.size()) + "\r\n\r\n" + FBody);
                        s->disconnectFromHost();
                    }
                });
            }
        });
        FServer.listen(QHostAddress::LocalHost);
    }
    std::string Url() const {
        return "http://127.0.0.1:" + std::to_string(FServer.serverPort()) + "/quillouploader/version.txt";
    }
    QByteArray FRequest;

private:
    QByteArray FBody;
    bool FAnswers;
    QTcpServer FServer;
    std::vector<QTcpSocket*> FSockets;
};

struct TShownBox {
    QString Text;
    QString Caption;
    TMsgBoxButtons Buttons;
    TMsgBoxIcon Icon;
};

class MainWindowSearchTest : public test::ActiveMainWindowTest {
protected:
    void SetUp() override {
        QDesktopServices::setUrlHandler(QStringLiteral("http"), &Browser, "Open");
        StartWindow([this](QWidget*, const QString& Text, const QString& Caption, TMsgBoxButtons Buttons,
                           TMsgBoxIcon Icon) {
            Boxes.push_back({Text, Caption, Buttons, Icon});
            return BoxAnswer;
        });
        W->FBeep = [this] { ++Beeps; };
    }
    void TearDown() override {
        ActiveMainWindowTest::TearDown();
        QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
    }

    void Add(const std::string& FileName) {
        TFinishedUploadJobData f;
        f.FileName = FileName;
        W->FQueue.AppendFinished(f);
    }
    QTableView* View() const { return W->ListViewFinishedUploadJobs; }
    std::vector<int> Selected() const { return TMainWindow::SelectedRows(View()); }
    void Focus(int Row) {
        View()->selectionModel()->setCurrentIndex(View()->model()->index(Row, 0),
                                                  QItemSelectionModel::NoUpdate);
    }
    void OpenSearch() {
        QTest::keyClick(W.get(), Qt::Key_F, Qt::ControlModifier);
        ASSERT_TRUE(W->searchpanel->isVisible());
    }
    // Types Text into the search box as the user does, one key at a time, after clearing it.
    void Type(const QString& Text) {
        W->Edit1->clear();
        QTest::keyClicks(W->Edit1, Text);
    }
    QColor SearchBoxColour() const { return W->Edit1->palette().color(QPalette::Base); }
    // Runs the event loop until Done or the time is up.
    bool WaitFor(const std::function<bool()>& Done, int Ms) {
        QElapsedTimer t;
        t.start();
        while (!Done() && t.elapsed() < Ms)
            QTest::qWait(10);
        return Done();
    }

    TUrlCatcher Browser;
    std::vector<TShownBox> Boxes;
    TMsgBoxResult BoxAnswer = mrOK;
    int Beeps = 0;
};

TEST_F(MainWindowSearchTest, CtrlFOpensThePanelAndTheCloseButtonHidesIt) {
    EXPECT_FALSE(W->searchpanel->isVisible());
    OpenSearch();
    EXPECT_TRUE(W->act_search->isChecked());
    EXPECT_TRUE(W->Edit1->hasFocus());
    EXPECT_EQ(W->BitBtn1->text(), QStringLiteral("Find"));
    EXPECT_EQ(W->CheckBox1->text(), QStringLiteral("Select All"));
    EXPECT_FALSE(W->Label1->isVisible());
    QTest::mouseClick(W->SpeedButton1, Qt::LeftButton);
    EXPECT_FALSE(W->searchpanel->isVisible());
    EXPECT_FALSE(W->act_search->isChecked());
    W->act_search->trigger();
    EXPECT_TRUE(W->searchpanel->isVisible());
    W->act_search->trigger();
    EXPECT_FALSE(W->searchpanel->isVisible());
}

TEST_F(MainWindowSearchTest, TypingFindsNamesThatStartWithThePatternAndAStarFindsThemAnywhere) {
    Add("/docs/Report.doc");
    Add("/docs/myreport.doc");
    Add("/docs/other.txt");
    OpenSearch();
    // The queue is in front: the search brings the finished list.
    ASSERT_EQ(W->CurrentView(), W->ListViewUploadJobs);
    Type(QStringLiteral("rep"));
    EXPECT_EQ(W->CurrentView(), View());
    EXPECT_EQ(Selected(), std::vector<int>{0});
    EXPECT_EQ(View()->currentIndex().row(), 0);

    // Select All marks every match in one pass from the focused row; the focus ends on the last
    // match visited.
    W->CheckBox1->setChecked(true);
    W->Edit1->setText(QStringLiteral("*REP"));
    EXPECT_EQ(Selected(), (std::vector<int>{0, 1}));
    EXPECT_EQ(View()->currentIndex().row(), 1);
    EXPECT_EQ(Beeps, 0);
    EXPECT_EQ(SearchBoxColour(), QApplication::palette(W->Edit1).color(QPalette::Base));

    // Find moves on to the next match after the focused row, past the end if need be.
    W->CheckBox1->setChecked(false);
    QTest::mouseClick(W->BitBtn1, Qt::LeftButton);
    EXPECT_EQ(Selected(), std::vector<int>{0});
    EXPECT_TRUE(W->Label1->isVisible());
    QTest::mouseClick(W->BitBtn1, Qt::LeftButton);
    EXPECT_EQ(Selected(), std::vector<int>{1});
    EXPECT_FALSE(W->Label1->isVisible());
}

TEST_F(MainWindowSearchTest, AMatchAboveTheStartShowsTheWrapLabel) {
    for (const char* name : {"/a.doc", "/Report.doc", "/b.doc", "/c.doc"})
        Add(name);
    OpenSearch();
    W->TreeView->setCurrentItem(W->TreeView->topLevelItem(1));
    Focus(2);
    W->Edit1->setText(QStringLiteral("rep"));
    EXPECT_EQ(Selected(), std::vector<int>{1});
    EXPECT_TRUE(W->Label1->isVisible());
    EXPECT_EQ(W->Label1->text(), QStringLiteral("Reached end of the list, continued from the top..."));
    // From the match itself nothing wraps.
    Type(QStringLiteral("re"));
    EXPECT_FALSE(W->Label1->isVisible());
}

TEST_F(MainWindowSearchTest, AMissBeepsAndColoursTheBoxUntilTheNextHit) {
    Add("/Report.doc");
    Add("/other.txt");
    OpenSearch();
    W->TreeView->setCurrentItem(W->TreeView->topLevelItem(1));
    View()->selectRow(1);
    Type(QStringLiteral("x"));
    EXPECT_EQ(Beeps, 1);
    EXPECT_EQ(SearchBoxColour(), QColor(252, 177, 200));
    EXPECT_EQ(Selected(), std::vector<int>{}); // the marks are cleared
    QTest::keyClick(W->Edit1, Qt::Key_Backspace);
    Type(QStringLiteral("o"));
    EXPECT_EQ(Beeps, 1);
    EXPECT_EQ(SearchBoxColour(), QApplication::palette(W->Edit1).color(QPalette::Base));
    EXPECT_EQ(Selected(), std::vector<int>{1});
}

TEST_F(MainWindowSearchTest, AnEmptyPatternOrAnEmptyListChangesNothing) {
    OpenSearch();
    Type(QStringLiteral("rep")); // no entries at all
    EXPECT_EQ(Beeps, 0);
    EXPECT_EQ(W->CurrentView(), W->ListViewUploadJobs);
    Add("/Report.doc");
    for (const QString& pattern : {QStringLiteral("   "), QStringLiteral(" *")}) {
        Type(pattern);
        EXPECT_EQ(Beeps, 0);
        EXPECT_EQ(W->CurrentView(), W->ListViewUploadJobs);
        EXPECT_EQ(SearchBoxColour(), QApplication::palette(W->Edit1).color(QPalette::Base));
    }
}

TEST_F(MainWindowSearchTest, HelpOpensTheProductPage) {
    W->act_help->trigger();
    ASSERT_EQ(Browser.Urls.size(), 1u);
    EXPECT_EQ(Browser.Urls[0].toString().toStdString(), HelpPageUrl());
    EXPECT_EQ(HelpPageUrl(), "http://127.0.0.1:9/quillouploader");
}

TEST_F(MainWindowSearchTest, UpdateCheckOffersANewerVersionOrSaysItIsUpToDate) {
    W->FFileVersionPacked = [] { return 0x01020300u; }; // 1.2.3
    struct Case {
        QByteArray Reply;
        bool Newer;
    } cases[] = {{"124", true}, {" 124\r\n", true}, {"123", false}, {"abc", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Reply.toStdString());
        Boxes.clear();
        Browser.Urls.clear();
        TTinySite site(c.Reply);
        W->FUpdateCheckUrl = site.Url();
        BoxAnswer = mrYes;
        W->act_checkforupdate->trigger();
        ASSERT_TRUE(WaitFor([&] { return !Boxes.empty(); }, 10000));
        EXPECT_TRUE(site.FRequest.startsWith("GET /quillouploader/version.txt "))
            << site.FRequest.toStdString();
        EXPECT_EQ(Boxes[0].Caption, ResQString(rmInformation));
        EXPECT_EQ(Boxes[0].Icon, miInformation);
        if (c.Newer) {
            EXPECT_EQ(Boxes[0].Text, ResQString(rmNewerVersion));
            EXPECT_EQ(Boxes[0].Buttons, mbYesNo);
            ASSERT_EQ(Browser.Urls.size(), 1u);
            EXPECT_EQ(Browser.Urls[0].toString().toStdString(), DownloadPageUrl());
        } else {
            EXPECT_EQ(Boxes[0].Text, ResQString(rmVersionUpToDate));
            EXPECT_EQ(Boxes[0].Buttons, mbOK);
            EXPECT_TRUE(Browser.Urls.empty());
        }
        EXPECT_TRUE(W->act_checkforupdate->isEnabled());
        EXPECT_TRUE(W->Memo1->isHidden());
    }
    // No on the question: no browser.
    Boxes.clear();
    TTinySite site("200");
    W->FUpdateCheckUrl = site.Url();
    BoxAnswer = mrNo;
    W->act_checkforupdate->trigger();
    ASSERT_TRUE(WaitFor([&] { return !Boxes.empty(); }, 10000));
    EXPECT_TRUE(Browser.Urls.empty());
}

TEST_F(MainWindowSearchTest, ASiteThatNeverAnswersLeavesTheWindowResponsiveAndEndsInTheErrorReport) {
    TTinySite site("124", false);
    W->FUpdateCheckUrl = site.Url();
    W->FUpdateCheckTimeoutMs = 700;
    int ticks = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    ticker.start(20);
    QElapsedTimer clock;
    clock.start();
    W->act_checkforupdate->trigger();
    EXPECT_FALSE(W->act_checkforupdate->isEnabled());
    EXPECT_TRUE(W->UpdateCheckRunning());
    // While it waits the window answers: the search box takes keys.
    OpenSearch();
    QTest::keyClicks(W->Edit1, QStringLiteral("abc"));
    EXPECT_EQ(W->Edit1->text(), QStringLiteral("abc"));
    EXPECT_TRUE(W->Memo1->isHidden());
    ASSERT_TRUE(WaitFor([&] { return W->Memo1->isVisible(); }, 10000));
    EXPECT_GE(clock.elapsed(), 600);
    EXPECT_GT(ticks, 10); // the event loop ran all along
    const QStringList lines = ReportLines();
    ASSERT_EQ(lines.size(), 1);
    EXPECT_EQ(lines[0].toStdString(),
              "TMainWindow -> ETimeoutError: No answer from " + site.Url() + " within 700 ms.");
    EXPECT_TRUE(Boxes.empty());
    EXPECT_TRUE(W->act_checkforupdate->isEnabled());
    EXPECT_FALSE(W->UpdateCheckRunning());
}

TEST_F(MainWindowSearchTest, ErrorReportStartsHiddenWithItsThreeFixedLines) {
    EXPECT_TRUE(W->Memo1->isHidden());
    EXPECT_TRUE(W->Memo1->isReadOnly());
    const QStringList lines = W->Memo1->toPlainText().split(QLatin1Char('\n'));
    ASSERT_EQ(lines.size(), 3);
    EXPECT_EQ(lines[0], QStringLiteral("AN UNHANDLED ERROR HAS OCCURED !"));
    EXPECT_TRUE(lines[1].contains(QLatin1Char('@')));
    EXPECT_EQ(lines[2], QStringLiteral("What were you doing when this happened ? What OS do you use ?"));
    EXPECT_EQ(W->Memo1->palette().color(QPalette::Base), QColor(Qt::red));
    EXPECT_EQ(W->Memo1->palette().color(QPalette::Text), QColor(Qt::white));
    EXPECT_TRUE(W->Memo1->font().bold());
    EXPECT_EQ(W->Memo1->font().pixelSize(), 15);
}

// Errors that escape an event handler, raised the way the program meets them: in a queued call
// to the window and in the click handler of one of its buttons.
TEST_F(MainWindowSearchTest, TwoUnhandledErrorsGiveTwoLinesAndTheProgramGoesOn) {
    QMetaObject::invokeMethod(
        W.get(), [] { throw EConvertError("'abc' is not a valid integer value"); }, Qt::QueuedConnection);
    QApplication::processEvents();
    EXPECT_FALSE(W->Memo1->isHidden());
    OpenSearch();
    const QMetaObject::Connection c = QObject::connect(W->BitBtn1, &QPushButton::clicked, W.get(), [] {
        throw inner::EFileStreamError("Cannot open file \"x\".");
    });
    QTest::mouseClick(W->BitBtn1, Qt::LeftButton);
    QObject::disconnect(c);
    EXPECT_EQ(ReportLines(),
              (QStringList{QStringLiteral("TMainWindow -> EConvertError: 'abc' is not a valid integer value"),
                           QStringLiteral("TMainWindow -> EFileStreamError: Cannot open file \"x\".")}));
    // Still working: the search panel answers the next click.
    QTest::mouseClick(W->SpeedButton1, Qt::LeftButton);
    EXPECT_FALSE(W->searchpanel->isVisible());
    EXPECT_FALSE(W->Memo1->isHidden());
}

TEST(ApplicationEvents, ClassNamesAreThePrograms) {
    EXPECT_EQ(UnqualifiedClassName("quillo::TMainWindow"), "TMainWindow");
    EXPECT_EQ(UnqualifiedClassName("EFileWriteError"), "EFileWriteError");
    EXPECT_EQ(UnqualifiedClassName("a::b::TList<a::X, b::Y>"), "TList<a::X, b::Y>");
    EXPECT_EQ(ExceptionClassName(std::make_exception_ptr(inner::EFileStreamError("m"))), "EFileStreamError");
    EXPECT_EQ(ExceptionClassName(std::make_exception_ptr(std::runtime_error("m"))), "runtime_error");
    EXPECT_EQ(ExceptionClassName(std::make_exception_ptr(42)), "int");
    EXPECT_EQ(ExceptionMessage(std::make_exception_ptr(42)), "");
    QObject plain;
    EXPECT_EQ(UnhandledErrorLine(&plain, std::make_exception_ptr(EConvertError("two\nlines"))),
              QStringLiteral("QObject -> EConvertError: two lines"));
}

} // namespace
} // namespace quillo

#include "MainWindowSearch_test.moc"
