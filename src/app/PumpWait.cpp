#include "app/PumpWait.h"

#include <QCoreApplication>
#include <QTimer>
#include <chrono>

namespace app {
namespace {

bool programEnding = false; // main thread only

} // namespace

void SetProgramEnding(bool ending) {
    programEnding = ending;
}
bool ProgramEnding() {
    return programEnding;
}

void PumpWait(unsigned seconds, unsigned milliseconds) {
    using Clock = std::chrono::steady_clock;
    const auto deadline =
        Clock::now() + std::chrono::seconds(seconds) + std::chrono::milliseconds(milliseconds);
    // A timer that fires at the deadline wakes the blocking event wait below, so the wait uses
    // no processor time between events.
    QTimer wake;
    wake.setSingleShot(true);
    wake.setTimerType(Qt::PreciseTimer);
    bool started = false;
    for (auto now = Clock::now(); now < deadline && !programEnding; now = Clock::now()) {
        if (!started) {
            auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now);
            wake.start(static_cast<int>(left.count()));
            started = true;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
}

} // namespace app
