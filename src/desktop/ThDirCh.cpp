#include "desktop/ThDirCh.h"

#include <QMetaObject>
#include <QObject>
#include <utility>

namespace desktop {
namespace {

std::string WithoutFinalSeparator(std::string dir) {
    if (dir.size() > 1 && dir.back() == '/') {
        dir.pop_back();
    }
    return dir;
}

// Sets an event when it goes out of scope, however the scope is left.
struct TSetOnExit {
    TWakeEvent& event;
    ~TSetOnExit() { event.Set(); }
};

} // namespace

TThDirChange::TThDirChange(std::string dir, QObject* context, std::function<void()> compare,
                           std::function<void()> ended)
    : directory_(std::move(dir)), context_(context), compare_(std::move(compare)),
      ended_(std::move(ended)), control_(std::make_shared<TControl>()),
      notification_(WithoutFinalSeparator(directory_)) {
    if (notification_.Open()) {
        notification_.Rearm();
    }
}

TThDirChange::~TThDirChange() = default;

void TThDirChange::Start() {
    worker_ = std::thread([this] { Execute(); });
}

void TThDirChange::RequestStop() {
    control_->Stop = true;
    control_->Wake.Set();
}

bool TThDirChange::StopRequested() const {
    return control_->Stop;
}

void TThDirChange::Execute() {
    if (notification_.IsOpen()) {
        WatchUntilStopped();
    }
    notification_.Close();
    QMetaObject::invokeMethod(
        context_, [this] { Finish(); }, Qt::QueuedConnection);
}

void TThDirChange::WatchUntilStopped() {
    while (!StopRequested()) {
        if (!notification_.Rearm()) {
            PauseBeforeRetry();
            continue;
        }
        if (notification_.Wait(control_->Wake.Fd()) && !StopRequested()) {
            RunComparisonAndWait();
        }
    }
}

// The comparison is queued rather than called blocking, so that this thread can stop waiting
// for it the moment a stop is requested. A comparison still queued then is skipped.
void TThDirChange::RunComparisonAndWait() {
    QMetaObject::invokeMethod(
        context_,
        [control = control_, compare = compare_] {
            TSetOnExit done{control->CompareDone};
            if (!control->Stop) {
                compare();
            }
        },
        Qt::QueuedConnection);
    if (WaitReadable({control_->Wake.Fd(), control_->CompareDone.Fd()}, -1) == 1) {
        control_->CompareDone.Reset();
    }
}

void TThDirChange::PauseBeforeRetry() {
    WaitReadable({control_->Wake.Fd()}, kRetryPauseMs);
}

// On the context's thread, after Execute has queued its last call.
void TThDirChange::Finish() {
    worker_.join();
    std::function<void()> ended = std::move(ended_);
    delete this;
    if (ended) {
        ended();
    }
}

} // namespace desktop
