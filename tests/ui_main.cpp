// Entry point of the UI tests: one offscreen application for the process.
#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>

#include "platform/Application.h"

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    platform::InitApplicationLook(app);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
