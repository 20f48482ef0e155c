#include "support/EventPump.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

namespace testsupport {

void EnsureCoreApplication() {
    if (QCoreApplication::instance() == nullptr) {
        static int argc = 1;
        static char name[] = "dcrelay-test";
        static char* argv[] = {name, nullptr};
        static QCoreApplication app(argc, argv);
    }
}

bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + timeout;
    QTimer tick; // wakes the blocking wait so `done` is looked at again
    tick.start(1);
    while (!done() && Clock::now() < deadline) {
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    return done();
}

void PumpFor(std::chrono::milliseconds duration) {
    PumpUntil([] { return false; }, duration);
}

} // namespace testsupport
