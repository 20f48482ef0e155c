// The relay's host-message window on the event loop: incoming messages are read on the main
// thread, one at a time and in arrival order, so they are handled inside any wait like every
// other event. A host whose window is a stream socket is connected once, when the start-up
// announcement goes to it; its messages then travel on that connection both ways.
#pragma once

#include "hostlink/HostSocket.h"
#include "hostlink/HostStream.h"

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
    // Stops reading, ends a stream host's connection and removes the socket file.
    void Close();

    bool IsOpen() const { return socket_.IsOpen(); }
    unsigned Handle() const { return socket_.Handle(); }

    // Connects to window `to` when it is a stream socket (a connection to another window ends).
    // False, with one work-log line (GBK) in `reason`, when that fails; nothing to do for a
    // datagram window.
    bool ConnectStreamHost(unsigned to, std::string& reason);
    // Posts without waiting; a post that fails (no such window, its queue full) is lost.
    void Post(unsigned to, std::uint32_t first, std::int32_t second) const;
    // A stream host's window exists while its connection is open.
    bool WindowExists(unsigned handle) const;

signals:
    // One incoming message. A receiver may wait (PumpWait) inside; the messages that arrive
    // meanwhile are delivered inside that wait, each exactly once.
    void MessageReceived(quint32 first, qint32 second);
    // A stream host's connection has ended; `reason` is one work-log line (GBK).
    void StreamEnded(const std::string& reason);

private:
    void ReadOne();
    void ReadStream();
    void EndStream(int error);
    void StopStream();

    HostSocket socket_;
    QSocketNotifier* notifier_ = nullptr;
    HostStream stream_;
    unsigned streamHandle_ = 0;
    QSocketNotifier* streamNotifier_ = nullptr;
};

} // namespace hostlink
