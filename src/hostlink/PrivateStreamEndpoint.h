// A private stream socket of the relay on the event loop: each connection of this user asks one
// line, which the handler answers on the main thread; the answer is written back without
// waiting and the connection ends. A few connections at a time are served, each for a bounded
// time, so that a tool that connects and then hangs (or a flood of them) costs the relay little.
#pragma once

#include <QObject>
#include <chrono>
#include <functional>
#include <list>
#include <memory>
#include <string>

#include "hostlink/HostStream.h"

class QSocketNotifier;
class QTimer;

namespace hostlink {

class PrivateStreamEndpoint : public QObject {
    Q_OBJECT
public:
    // Returns the answer to one question (its line without the line end).
    using Handler = std::function<std::string(const std::string& question)>;

    // Connections served at once; more are closed as they come.
    static constexpr std::size_t kMaxConnections = 8;
    // The longest question; a longer one is cut there.
    static constexpr std::size_t kMaxQuestion = 512;
    // A connection that has neither asked nor taken its answer by then is closed.
    static constexpr std::chrono::seconds kConnectionTime{10};

    explicit PrivateStreamEndpoint(Handler handler, QObject* parent = nullptr);
    ~PrivateStreamEndpoint() override;

    // Listens at <runtimeDir>/<name>. On failure returns false and sets `reason` to one work-log
    // line (GBK).
    bool Open(const std::string& runtimeDir, const std::string& name, std::string& reason);
    // Ends every connection, stops listening and removes the socket file.
    void Close();
    bool IsOpen() const { return listener_.IsOpen(); }
    std::size_t Connections() const { return connections_.size(); }

private:
    struct Connection;

    void AcceptOne();
    bool Serve(Connection& c);
    void Watch(Connection& c);
    void End(Connection& c);

    Handler handler_;
    StreamListener listener_;
    QSocketNotifier* notifier_ = nullptr;
    std::list<std::unique_ptr<Connection>> connections_;
};

} // namespace hostlink
