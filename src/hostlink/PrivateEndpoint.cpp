#include "hostlink/PrivateEndpoint.h"

#include "hostlink/SocketNotifier.h"
#include "text/Gbk.h"
#include "text/SystemReason.h"

#include <QSocketNotifier>

namespace hostlink {

PrivateEndpoint::PrivateEndpoint(Handler handler, QObject* parent)
    : QObject(parent), handler_(std::move(handler)) {}

PrivateEndpoint::~PrivateEndpoint() {
    Close();
}

bool PrivateEndpoint::Open(const std::string& runtimeDir, const std::string& name,
                           std::string& reason) {
    Close();
    if (const int error = socket_.Open(runtimeDir, name); error != 0) {
        reason =
            text::FileFailure("无法建立本程序的私有通信端点", PrivatePath(runtimeDir, name), error);
        return false;
    }
    notifier_ = new QSocketNotifier(socket_.Fd(), QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &PrivateEndpoint::ReadOne);
    return true;
}

void PrivateEndpoint::Close() {
    StopNotifier(notifier_);
    socket_.Close();
}

// One datagram per activation; the notifier fires again while more wait (see HostEndpoint).
void PrivateEndpoint::ReadOne() {
    const auto message = socket_.Receive();
    if (!message) {
        return;
    }
    const std::string answer = handler_(message->text);
    if (!answer.empty()) {
        socket_.Answer(*message, answer);
    }
}

} // namespace hostlink
