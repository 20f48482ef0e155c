// The main of the widget tests: one QApplication for the whole run. The process ends without
// running the exit handlers: Qt's global input-device objects crash when torn down after the
// pointing device that QTest's mouse events create.
#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <gmock/gmock.h>

int main(int argc, char** argv) {
    auto* app = new QApplication(argc, argv);
    (void)app;
    testing::InitGoogleMock(&argc, argv);
    const int status = RUN_ALL_TESTS();
    std::fflush(stdout);
    std::fflush(stderr);
    std::_Exit(status);
}
