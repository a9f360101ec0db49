// The window's tests need a QApplication, set up as the application sets itself up, before the
// first widget; QTest's event helpers then work inside ordinary GoogleTest cases.
#include "ui/Application.h"

#include <QApplication>

#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    setenv("TZ", "UTC", 1);
    QApplication app(argc, argv);
    pelwick::prepareApplication();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
