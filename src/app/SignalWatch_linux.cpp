// signalfd: the signals are read as data on the main thread's event loop, never in a handler.
#include "app/SignalWatch.h"

#include <QSocketNotifier>
#include <csignal>
#include <sys/signalfd.h>
#include <unistd.h>

namespace app {

namespace {

sigset_t WatchedSignals() {
    sigset_t mask;
    sigemptyset(&mask);
    sigaddset(&mask, SIGTERM);
    sigaddset(&mask, SIGINT);
    return mask;
}

} // namespace

void SignalWatch::BlockSignals() {
    const sigset_t mask = WatchedSignals();
    pthread_sigmask(SIG_BLOCK, &mask, nullptr);
}

SignalWatch::SignalWatch(std::function<void()> onSignal, QObject* parent)
    : QObject(parent), onSignal_(std::move(onSignal)) {
    BlockSignals();
    const sigset_t mask = WatchedSignals();
    fd_ = ::signalfd(-1, &mask, SFD_NONBLOCK | SFD_CLOEXEC);
    if (fd_ < 0) {
        return;
    }
    notifier_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] {
        signalfd_siginfo info{};
        bool got = false;
        while (::read(fd_, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
            got = true;
        }
        if (got && onSignal_) {
            onSignal_();
        }
    });
}

SignalWatch::~SignalWatch() {
    notifier_.reset();
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

} // namespace app
