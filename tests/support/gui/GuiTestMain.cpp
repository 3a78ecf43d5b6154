// Test main for widget tests: a QApplication on Qt's offscreen platform unless the caller
// chose another (the Xvfb end-to-end checks do).
#include "support/TestEnvironment.h"

#include "ui/ApplicationEvents.h"

#include <QApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    quillo::test::InstallTestEnvironment();
    // The program's own application class, so that unhandled errors reach the error report.
    quillo::TApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
