#include "SheetWindowTesting.h"

#include <QGuiApplication>

#include <gtest/gtest.h>

// The clipboard and the sheet-window hand-over need an application object; tests never use the
// real display, sockets or settings.
int main(int argc, char** argv) {
    gqtest::IsolateProcessFolders();
    testing::InitGoogleTest(&argc, argv);
    QGuiApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
