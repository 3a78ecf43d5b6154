// Test main for the GUI-free core: an event loop object exists (queued and blocking
// connections need one), and the process runs in its own scratch environment.
#include "support/TestEnvironment.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    quillo::test::InstallTestEnvironment();
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
