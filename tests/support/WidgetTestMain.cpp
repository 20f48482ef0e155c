// The main of the widget tests: one QApplication for the whole run, destroyed before the
// program's exit handlers run (a static one would outlive Qt's own global objects).
#include <QApplication>
#include <gmock/gmock.h>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    testing::InitGoogleMock(&argc, argv);
    return RUN_ALL_TESTS();
}
