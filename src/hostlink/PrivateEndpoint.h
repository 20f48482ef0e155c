// A private socket of the relay on the event loop: each message from this user is handed to
// the handler on the main thread, one at a time and in arrival order, also inside a wait; an
// answer the handler gives goes back to the sender.
#pragma once

#include "hostlink/PrivateSocket.h"

#include <QObject>
#include <functional>
#include <string>

class QSocketNotifier;

namespace hostlink {

class PrivateEndpoint : public QObject {
    Q_OBJECT
public:
    // Returns the answer to a message, or "" for none.
    using Handler = std::function<std::string(const std::string& message)>;

    explicit PrivateEndpoint(Handler handler, QObject* parent = nullptr);
    ~PrivateEndpoint() override;

    // Binds <runtimeDir>/<name>. On failure returns false and sets `reason` to one work-log
    // line (GBK).
    bool Open(const std::string& runtimeDir, const std::string& name, std::string& reason);
    // Stops reading and removes the socket file.
    void Close();
    bool IsOpen() const { return socket_.IsOpen(); }

private:
    void ReadOne();

    Handler handler_;
    PrivateSocket socket_;
    QSocketNotifier* notifier_ = nullptr;
};

} // namespace hostlink
