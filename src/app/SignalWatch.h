// SIGTERM and SIGINT as events on the main thread, so that a system shutdown ends the program
// the same way the host's closing message does.
#pragma once

#include <QObject>
#include <functional>
#include <memory>

class QSocketNotifier;

namespace app {

class SignalWatch : public QObject {
public:
    // Blocks SIGTERM and SIGINT for the process and calls onSignal on the main thread when one
    // arrives. Call before any other thread starts, so that every thread inherits the mask.
    explicit SignalWatch(std::function<void()> onSignal, QObject* parent = nullptr);
    // Blocks SIGTERM and SIGINT for this thread and the threads it starts from now on: for a
    // program that starts threads (Qt's own) before it can make the watch.
    static void BlockSignals();
    ~SignalWatch() override;

private:
    int fd_ = -1;
    std::unique_ptr<QSocketNotifier> notifier_;
    std::function<void()> onSignal_;
};

} // namespace app
