// The relay's host-message window on the event loop: incoming messages are read on the main
// thread, one at a time and in arrival order, so they are handled inside any wait like every
// other event.
#pragma once

#include "hostlink/HostSocket.h"

#include <QObject>
#include <cstdint>
#include <string>

class QSocketNotifier;

namespace hostlink {

class HostEndpoint : public QObject {
    Q_OBJECT
public:
    explicit HostEndpoint(QObject* parent = nullptr);
    ~HostEndpoint() override;

    // Binds window `handle` in `runtimeDir`. On failure returns false and sets `reason` to one
    // work-log line (GBK).
    bool Open(const std::string& runtimeDir, unsigned handle, std::string& reason);
    // Stops reading and removes the socket file.
    void Close();

    bool IsOpen() const { return socket_.IsOpen(); }
    unsigned Handle() const { return socket_.Handle(); }

    // Posts without waiting; a post that fails (no such window, its queue full) is lost.
    void Post(unsigned to, std::uint32_t first, std::int32_t second) const;
    bool WindowExists(unsigned handle) const;

signals:
    // One incoming message. A receiver may wait (PumpWait) inside; the messages that arrive
    // meanwhile are delivered inside that wait, each exactly once.
    void MessageReceived(quint32 first, qint32 second);

private:
    void ReadOne();

    HostSocket socket_;
    QSocketNotifier* notifier_ = nullptr;
};

} // namespace hostlink
