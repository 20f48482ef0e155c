// signalfd: the signals are read as data on the main thread's event loop, never in a handler.
#include "app/SignalWatch.h"

#include <QSocketNotifier>
#include <csignal>
#include <sys/signalfd.h>
#include <unistd.h>

namespace app {

SignalWatch::SignalWatch(std::function<void()> onSignal, QObject* parent)
    : QObject(parent), onSignal_(std::move(onSignal)) {
    sigset_t mask;
    sigemptyset(&mask);
    sigaddset(&mask, SIGTERM);
    sigaddset(&mask, SIGINT);
    pthread_sigmask(SIG_BLOCK, &mask, nullptr);
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
