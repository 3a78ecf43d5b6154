#include "ui/FrmAbout.h"

#include "support/ElfImage.h"

#include <QAccessible>
#include <QApplication>
#include <QDate>
#include <QDesktopServices>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QMouseEvent>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QUrl>

#include <gtest/gtest.h>

#include <functional>

namespace quillo {
namespace {

TEXEVersionInfo InfoOf(TVersionNumbers File, const std::vector<std::pair<std::string, std::string>>& Texts) {
    const std::string image =
        quillo_test::MakeElfImage({{VersionRecordSection, BuildVersionRecord(File, File, Texts)}});
    return TEXEVersionInfo::FromImage(image.data(), image.size());
}

// Records the addresses the box asks the desktop to open, instead of starting a browser.
class TUrlCatcher : public QObject {
    Q_OBJECT
public:
    TUrlCatcher() {
        QDesktopServices::setUrlHandler(QStringLiteral("http"), this, "Open");
        QDesktopServices::setUrlHandler(QStringLiteral("https"), this, "Open");
    }
    ~TUrlCatcher() override {
        QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
        QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
    }
    Q_INVOKABLE void Open(const QUrl& Url) { Opened.push_back(Url); }
    std::vector<QUrl> Opened;
};

TEST(FrmAboutTest, ShowsTheVersionRecordAndTheSite) {
    ::setenv("QUILLO_SITE", "127.0.0.1:9", 1);
    TFrm_About box(nullptr, InfoOf({1, 2, 3, 45}, {{"ProductName", "Quillo Uploader"},
                                                   {"LegalCopyright", "Copyright (C) 2026 Q"}}));
    EXPECT_STREQ(box.metaObject()->className(), "TFrm_About");
    EXPECT_EQ(box.lab_product->text(), QStringLiteral("Quillo Uploader"));
    EXPECT_EQ(box.lab_version->text(), QStringLiteral("Version: 1.2.3 (build 45)"));
    EXPECT_EQ(box.lab_copyright->text(), QStringLiteral("Copyright (C) 2026 Q"));
    EXPECT_EQ(box.lab_releasedate->text(), QStringLiteral("Release date: ") +
                                               QLocale().toString(QDate(2009, 8, 11), QLocale::ShortFormat));
    EXPECT_EQ(box.lab_siteurl->text(), QStringLiteral("http://127.0.0.1:9/"));
    EXPECT_EQ(box.width(), TFrm_About::DesignedClientWidth);
    EXPECT_GE(box.height(), TFrm_About::DesignedClientHeight);
    EXPECT_TRUE(box.btn_close->isDefault());
    EXPECT_TRUE(box.windowFlags() & Qt::FramelessWindowHint);
    for (const char* name : {"Image1", "lab_product", "lab_version", "lab_releasedate", "lab_copyright",
                             "lab_siteurl", "btn_close"}) {
        QWidget* w = box.findChild<QWidget*>(QString::fromLatin1(name));
        ASSERT_NE(w, nullptr) << name;
        EXPECT_TRUE(box.rect().contains(w->geometry().translated(w->parentWidget()->mapTo(&box, QPoint()))))
            << name << " is cut off";
        // Screen readers have a name for every control and picture.
        QAccessibleInterface* a = QAccessible::queryAccessibleInterface(w);
        ASSERT_NE(a, nullptr) << name;
        EXPECT_FALSE(a->text(QAccessible::Name).isEmpty()) << name;
    }
    ::unsetenv("QUILLO_SITE");
}

TEST(FrmAboutTest, WithoutARecordTheLinesAreEmptyAndTheVersionZero) {
    TFrm_About box(nullptr, TEXEVersionInfo());
    EXPECT_EQ(box.lab_product->text(), QString());
    EXPECT_EQ(box.lab_copyright->text(), QString());
    EXPECT_EQ(box.lab_version->text(), QStringLiteral("Version: 0.0.0 (build 0)"));
}

TEST(FrmAboutTest, TheLinkOpensTheStartPageInTheBrowser) {
    ::setenv("QUILLO_SITE", "127.0.0.1:9", 1);
    TUrlCatcher catcher;
    TFrm_About box(nullptr, TEXEVersionInfo());
    box.show();
    const QPoint middle = box.lab_siteurl->rect().center();
    QMouseEvent press(QEvent::MouseButtonPress, middle, box.lab_siteurl->mapToGlobal(middle), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, middle, box.lab_siteurl->mapToGlobal(middle),
                        Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(box.lab_siteurl, &press);
    QApplication::sendEvent(box.lab_siteurl, &release);
    QKeyEvent space(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "));
    QApplication::sendEvent(box.lab_siteurl, &space);
    ASSERT_EQ(catcher.Opened.size(), 2u);
    EXPECT_EQ(catcher.Opened[0], QUrl(QStringLiteral("http://127.0.0.1:9/")));
    EXPECT_TRUE(box.isVisible()); // the link does not close the box
    ::unsetenv("QUILLO_SITE");
}

// Each way of closing runs inside the box's own modal loop, as Help > About shows it.
TEST(FrmAboutTest, EscapeEnterAndCloseEndTheBoxWithOk) {
    const std::vector<std::pair<const char*, std::function<void(TFrm_About&)>>> ways = {
        {"Escape on the button",
         [](TFrm_About& b) {
             QKeyEvent k(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier, QStringLiteral("\x1b"));
             QApplication::sendEvent(b.btn_close, &k);
         }},
        {"Escape on the link",
         [](TFrm_About& b) {
             QKeyEvent k(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier, QStringLiteral("\x1b"));
             QApplication::sendEvent(b.lab_siteurl, &k);
         }},
        {"Enter on the box",
         [](TFrm_About& b) {
             QKeyEvent k(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, QStringLiteral("\r"));
             QApplication::sendEvent(&b, &k);
         }},
        {"Enter on the focused control",
         [](TFrm_About& b) {
             QWidget* target = b.focusWidget() ? b.focusWidget() : &b;
             QKeyEvent k(QEvent::KeyPress, Qt::Key_Enter, Qt::KeypadModifier, QStringLiteral("\r"));
             QApplication::sendEvent(target, &k);
         }},
        {"the Close button", [](TFrm_About& b) { b.btn_close->click(); }},
    };
    for (const auto& [what, close] : ways) {
        SCOPED_TRACE(what);
        TFrm_About box(nullptr, TEXEVersionInfo());
        bool ran = false;
        QTimer::singleShot(0, &box, [&] {
            ran = true;
            close(box);
        });
        QTimer::singleShot(5000, &box, [&] { box.done(-1); }); // a box that failed to close
        EXPECT_EQ(box.exec(), QDialog::Accepted);
        EXPECT_TRUE(ran);
        EXPECT_FALSE(box.isVisible());
    }
}

TEST(FrmAboutTest, ShowAboutBoxCentresTheBoxOnItsOwnerAndFreesIt) {
    QWidget owner;
    owner.setGeometry(100, 80, 900, 700);
    owner.show();
    QPointer<TFrm_About> shown;
    QPoint centre;
    bool modal = false;
    QTimer::singleShot(0, [&] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* box = qobject_cast<TFrm_About*>(w); box && box->isVisible()) {
                shown = box;
                centre = box->geometry().center();
                modal = box->isModal() && box->parentWidget() == &owner;
                box->btn_close->click();
            }
    });
    ShowAboutBox(&owner);
    EXPECT_TRUE(modal);
    EXPECT_LE((centre - owner.frameGeometry().center()).manhattanLength(), 2);
    EXPECT_TRUE(shown.isNull()); // destroyed once closed
}

TEST(FrmAboutTest, OtherKeysDoNotCloseTheBox) {
    TFrm_About box(nullptr, TEXEVersionInfo());
    box.show();
    QKeyEvent k(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, QStringLiteral("a"));
    QApplication::sendEvent(box.btn_close, &k);
    EXPECT_FALSE(box.FormKeyPress('a'));
    EXPECT_TRUE(box.isVisible());
}

} // namespace
} // namespace quillo

#include "FrmAbout_test.moc"
