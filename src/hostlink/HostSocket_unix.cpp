#include "hostlink/HostSocket.h"

#include "text/Files.h"

#include <cstring>
#include <unistd.h>

namespace hostlink {
namespace {

// The handle in a window's file name; nothing for any other name.
std::optional<unsigned long> HandleOfName(const std::string& name) {
    const std::size_t prefix = kWindowPrefix.size();
    if (name.size() <= prefix || name.size() > prefix + 10 ||
        name.compare(0, prefix, kWindowPrefix) != 0 ||
        name.find_first_not_of("0123456789", prefix) != std::string::npos) {
        return std::nullopt;
    }
    return std::stoul(name.substr(prefix));
}

} // namespace

std::string WindowPath(const std::string& runtimeDir, unsigned handle) {
    return runtimeDir + "/" + std::string(kWindowPrefix) + std::to_string(handle);
}

int RemoveDeadWindows(const std::string& runtimeDir) {
    int removed = 0;
    for (const std::string& name : text::EntryNames(runtimeDir)) {
        const std::optional<unsigned long> handle = HandleOfName(name);
        const std::string path = runtimeDir + "/" + name;
        if (handle && !text::ProcessRuns(static_cast<long>(*handle)) && IsStaleSocket(path)) {
            removed += ::unlink(path.c_str()) == 0;
        }
    }
    return removed;
}

bool WindowExists(const std::string& runtimeDir, unsigned handle) {
    return SocketAccepts(WindowPath(runtimeDir, handle));
}

bool PostMessage(const std::string& runtimeDir, unsigned to, const HostMessage& message) {
    int error = 0;
    int fd = OpenSender(false, error);
    if (fd < 0) {
        return false;
    }
    const Datagram d = EncodeMessage(message);
    bool sent = SendDatagram(fd, WindowPath(runtimeDir, to), d.data(), d.size());
    CloseSocket(fd);
    return sent;
}

HostSocket::~HostSocket() {
    Close();
}

std::string HostSocket::Open(const std::string& runtimeDir, unsigned handle) {
    Close();
    int error = 0;
    int fd = BindDatagram(WindowPath(runtimeDir, handle), bound_, error);
    if (fd < 0) {
        return std::strerror(error);
    }
    fd_ = fd;
    handle_ = handle;
    runtimeDir_ = runtimeDir;
    return "";
}

void HostSocket::Close() {
    if (fd_ < 0) {
        return;
    }
    CloseBound(fd_, bound_);
    fd_ = -1;
}

std::optional<HostMessage> HostSocket::Receive() {
    if (fd_ < 0) {
        return std::nullopt;
    }
    unsigned char data[kDatagramSize + 1];
    while (auto d = ReceiveDatagram(fd_, data, sizeof data)) {
        if (!d->fromOwnUser) {
            continue;
        }
        if (auto message = DecodeMessage(data, d->size)) {
            return message;
        }
    }
    return std::nullopt;
}

bool HostSocket::Post(unsigned to, const HostMessage& message) const {
    if (fd_ < 0) {
        return !runtimeDir_.empty() && PostMessage(runtimeDir_, to, message);
    }
    const Datagram d = EncodeMessage(message);
    return SendDatagram(fd_, WindowPath(runtimeDir_, to), d.data(), d.size());
}

} // namespace hostlink
