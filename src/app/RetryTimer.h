// The relay's retry timer in the running program: a single-shot timer on the main thread.
#pragma once

#include "relay/RelayInterfaces.h"

#include <QTimer>
#include <functional>
#include <utility>

namespace app {

class QtRetryTimer final : public relay::RetryTimer {
public:
    QtRetryTimer() {
        timer_.setSingleShot(true);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            if (due_) {
                due_();
            }
        });
    }
    void Start(unsigned milliseconds, std::function<void()> due) override {
        due_ = std::move(due);
        timer_.start(static_cast<int>(milliseconds));
    }
    void Stop() override { timer_.stop(); }
    bool Active() const override { return timer_.isActive(); }

private:
    QTimer timer_;
    std::function<void()> due_;
};

} // namespace app
