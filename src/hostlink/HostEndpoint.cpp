#include "hostlink/HostEndpoint.h"

#include "hostlink/RuntimeDir.h"
#include "hostlink/SocketNotifier.h"
#include "text/Gbk.h"
#include "text/SystemReason.h"

#include <QSocketNotifier>
#include <cerrno>

namespace hostlink {

HostEndpoint::HostEndpoint(QObject* parent) : QObject(parent) {}

HostEndpoint::~HostEndpoint() {
    Close();
}

bool HostEndpoint::Open(const std::string& runtimeDir, unsigned handle, std::string& reason) {
    Close();
    std::string error = socket_.Open(runtimeDir, handle);
    if (!error.empty()) {
        reason = text::Fixed("主程序消息端点[") +
                 text::SystemTextToGbk(WindowPath(runtimeDir, handle)) +
                 text::Fixed("]无法打开,不与主程序通信:") + error;
        return false;
    }
    notifier_ = new QSocketNotifier(socket_.Fd(), QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &HostEndpoint::ReadOne);
    return true;
}

void HostEndpoint::Close() {
    StopStream();
    StopNotifier(notifier_);
    socket_.Close();
}

bool HostEndpoint::ConnectStreamHost(unsigned to, std::string& reason) {
    if (!socket_.IsOpen() || (streamHandle_ == to && stream_.PeerOpen()) ||
        !WindowIsStream(socket_.RuntimeDir(), to)) {
        return true;
    }
    StopStream(); // one host at a time
    const int error = stream_.Connect(socket_.RuntimeDir(), to);
    if (error != 0) {
        reason = text::Fixed("主程序消息端点[") +
                 text::SystemTextToGbk(WindowPath(socket_.RuntimeDir(), to)) +
                 (error == EACCES
                      ? text::Fixed("]属于其他用户,不与其通信")
                      : text::Fixed("]无法连接,不与主程序通信:") + text::SystemReason(error));
        return false;
    }
    streamHandle_ = to;
    streamNotifier_ = new QSocketNotifier(stream_.Fd(), QSocketNotifier::Read, this);
    connect(streamNotifier_, &QSocketNotifier::activated, this, &HostEndpoint::ReadStream);
    return true;
}

void HostEndpoint::Post(unsigned to, std::uint32_t first, std::int32_t second) const {
    if (stream_.IsOpen() && streamHandle_ == to) {
        stream_.Write(HostMessage{first, second});
    } else if (socket_.IsOpen()) {
        socket_.Post(to, HostMessage{first, second});
    }
}

bool HostEndpoint::WindowExists(unsigned handle) const {
    if (stream_.IsOpen() && streamHandle_ == handle) {
        return stream_.PeerOpen();
    }
    return socket_.IsOpen() && hostlink::WindowExists(socket_.RuntimeDir(), handle);
}

// Takes exactly one datagram off the socket per activation. The notifier is level-triggered:
// while more datagrams wait it fires again, also inside a wait that the receiver of this one
// runs, so each datagram is read once and delivered in the order it arrived.
void HostEndpoint::ReadOne() {
    auto message = socket_.Receive();
    if (!message) {
        return;
    }
    emit MessageReceived(message->first, message->second); // nothing may touch `this` after it
}

// As ReadOne: at most one message per activation, the following ones stay in the socket.
void HostEndpoint::ReadStream() {
    HostMessage message;
    int error = 0;
    switch (stream_.ReadSome(message, error)) {
    case HostStream::Read::Nothing:
        return;
    case HostStream::Read::Ended:
        EndStream(error);
        return;
    case HostStream::Read::Message:
        emit MessageReceived(message.first, message.second); // nothing may touch `this` after it
        return;
    }
}

// The host is gone; no closing message is implied.
void HostEndpoint::EndStream(int error) {
    std::string line = text::Fixed("主程序消息端点[") +
                       text::SystemTextToGbk(WindowPath(socket_.RuntimeDir(), streamHandle_)) +
                       text::Fixed("]的连接已断开");
    if (error != 0 && error != ECONNRESET) { // reset: the host closed with messages unread
        line += ":" + text::SystemReason(error);
    }
    StopStream();
    emit StreamEnded(line);
}

void HostEndpoint::StopStream() {
    StopNotifier(streamNotifier_);
    stream_.Close();
    streamHandle_ = 0;
}

} // namespace hostlink
