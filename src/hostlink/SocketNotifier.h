// The event loop's watch on a socket, ended before the socket closes.
#pragma once

#include <QSocketNotifier>

namespace hostlink {

// Stops `notifier` at once and lets the event loop delete it (it may be the sender of the
// activation being handled); null afterwards. Nothing happens when it is null already.
inline void StopNotifier(QSocketNotifier*& notifier) {
    if (notifier != nullptr) {
        notifier->setEnabled(false);
        notifier->deleteLater();
        notifier = nullptr;
    }
}

} // namespace hostlink
