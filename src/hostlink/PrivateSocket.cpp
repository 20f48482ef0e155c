#include "hostlink/PrivateSocket.h"

#include "hostlink/HostSocket.h"

#include <cerrno>

namespace hostlink {

std::string PrivatePath(const std::string& runtimeDir, const std::string& name) {
    return runtimeDir + "/" + name;
}

PrivateSocket::~PrivateSocket() {
    Close();
}

int PrivateSocket::Open(const std::string& runtimeDir, const std::string& name) {
    Close();
    if (name.empty() || name.find('/') != std::string::npos || name.rfind(kWindowPrefix, 0) == 0) {
        return EINVAL;
    }
    int error = 0;
    fd_ = BindDatagram(PrivatePath(runtimeDir, name), bound_, error);
    return fd_ >= 0 ? 0 : error;
}

void PrivateSocket::Close() {
    if (fd_ >= 0) {
        CloseBound(fd_, bound_);
        fd_ = -1;
    }
}

std::optional<PrivateMessage> PrivateSocket::Receive() {
    if (fd_ < 0) {
        return std::nullopt;
    }
    unsigned char data[kMaxPrivateMessage];
    while (auto d = ReceiveDatagram(fd_, data, sizeof data)) {
        if (d->fromOwnUser && d->size <= sizeof data) {
            return PrivateMessage{std::string(reinterpret_cast<const char*>(data), d->size),
                                  d->sender};
        }
    }
    return std::nullopt;
}

bool PrivateSocket::Answer(const PrivateMessage& to, const std::string& text) const {
    return fd_ >= 0 && text.size() <= kMaxPrivateMessage &&
           SendToSender(fd_, to.sender, text.data(), text.size());
}

bool SendPrivate(const std::string& runtimeDir, const std::string& name, const std::string& text) {
    int error = 0;
    int fd = OpenSender(false, error);
    if (fd < 0) {
        return false;
    }
    bool sent = SendDatagram(fd, PrivatePath(runtimeDir, name), text.data(), text.size());
    CloseSocket(fd);
    return sent;
}

std::optional<std::string> AskPrivate(const std::string& runtimeDir, const std::string& name,
                                      const std::string& text, std::chrono::milliseconds timeout) {
    int error = 0;
    int fd = OpenSender(true, error);
    if (fd < 0) {
        return std::nullopt;
    }
    std::optional<std::string> answer;
    if (SendDatagram(fd, PrivatePath(runtimeDir, name), text.data(), text.size())) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        unsigned char data[kMaxPrivateMessage];
        while (!answer) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0 || !WaitReadable(fd, static_cast<int>(left.count()))) {
                break;
            }
            auto d = ReceiveDatagram(fd, data, sizeof data);
            if (d && d->fromOwnUser && d->size <= sizeof data) {
                answer = std::string(reinterpret_cast<const char*>(data), d->size);
            }
        }
    }
    CloseSocket(fd);
    return answer;
}

} // namespace hostlink
