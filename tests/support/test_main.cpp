// Test entry point: an offscreen QApplication around GoogleTest, so widget tests
// run on the real widgets without a display.
#include <cstdlib>

#include <QApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    // Discovery runs this binary outside ctest's environment, so the platform
    // is chosen here rather than by the caller.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
