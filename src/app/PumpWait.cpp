#include "app/PumpWait.h"

#include "app/WakeTimer.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <chrono>
#include <optional>

namespace app {
namespace {

using Clock = std::chrono::steady_clock;

bool programEnding = false; // main thread only

// Wakes the blocking event wait of PumpWait at its deadline, so that the wait uses no processor
// time between events. A kernel timer does it on time however often events interrupt the
// wait; a Qt timer, rounded up to the next millisecond at each look, stands in when the system
// gives no kernel timer.
class DeadlineWake {
public:
    explicit DeadlineWake(Clock::time_point deadline) : timer_(deadline) {
        if (timer_.Fd() >= 0) {
            notifier_.emplace(timer_.Fd(), QSocketNotifier::Read);
            // Taken at once, so that the expiry of an outer wait does not keep waking the loop of
            // a wait nested in it.
            QObject::connect(&*notifier_, &QSocketNotifier::activated, [this] {
                timer_.Consume();
                notifier_->setEnabled(false);
            });
            return;
        }
        fallback_.setSingleShot(true);
        fallback_.setTimerType(Qt::PreciseTimer);
        fallback_.start(std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()));
    }

private:
    WakeTimer timer_;
    std::optional<QSocketNotifier> notifier_;
    QTimer fallback_;
};

} // namespace

void SetProgramEnding(bool ending) {
    programEnding = ending;
}
bool ProgramEnding() {
    return programEnding;
}

void PumpWait(unsigned seconds, unsigned milliseconds) {
    const auto deadline =
        Clock::now() + std::chrono::seconds(seconds) + std::chrono::milliseconds(milliseconds);
    if (Clock::now() >= deadline || programEnding) {
        return;
    }
    const DeadlineWake wake(deadline);
    while (Clock::now() < deadline && !programEnding) {
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
}

} // namespace app
