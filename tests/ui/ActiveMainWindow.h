#pragma once
// A shown, active main window for the tests of its commands: a fresh data folder with the default
// settings, the service's site on a closed loopback port, and message boxes answered by the test.
// Active, because the enable rules of the list commands follow the keyboard focus, which only
// the active window has.

#include "OfflineHome.h"
#include "core/app/Settings.h"
#include "ui/MainWindow.h"
#include "ui/MessageBox.h"

#include <QPlainTextEdit>
#include <QTest>
#include <gtest/gtest.h>

#include <memory>

namespace quillo::test {

class ActiveMainWindowTest : public testing::Test {
protected:
    // Boxes: the answers to message boxes (every box is answered OK when empty).
    void StartWindow(TMessageBoxHandler Boxes = {}) {
        Home = UseOfflineHome();
        if (!Boxes)
            Boxes = [](QWidget*, const QString&, const QString&, TMsgBoxButtons, TMsgBoxIcon) {
                return mrOK;
            };
        SetMessageBoxHandler(std::move(Boxes));
        W = std::make_unique<TMainWindow>(TMainWindowStart{true});
        W->show();
        W->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(W.get()));
    }
    void TearDown() override {
        W.reset();
        SetMessageBoxHandler(nullptr);
        CommitSettings(TAppSettings{});
    }

    // The lines the error report has collected under its fixed ones.
    QStringList ReportLines() const {
        return W->Memo1->toPlainText().split(QLatin1Char('\n')).mid(TMainWindow::ErrorReportHeader().size());
    }

    QString Home;
    std::unique_ptr<TMainWindow> W;
};

} // namespace quillo::test
