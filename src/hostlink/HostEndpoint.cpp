#include "hostlink/HostEndpoint.h"

#include "hostlink/RuntimeDir.h"
#include "text/Gbk.h"

#include <QSocketNotifier>

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
    if (notifier_ != nullptr) {
        notifier_->setEnabled(false);
        notifier_->deleteLater();
        notifier_ = nullptr;
    }
    socket_.Close();
}

void HostEndpoint::Post(unsigned to, std::uint32_t first, std::int32_t second) const {
    if (socket_.IsOpen()) {
        socket_.Post(to, HostMessage{first, second});
    }
}

bool HostEndpoint::WindowExists(unsigned handle) const {
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

} // namespace hostlink
