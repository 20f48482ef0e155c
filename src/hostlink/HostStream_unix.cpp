#include "hostlink/HostStream.h"

#include "hostlink/ExitCleanup.h"
#include "hostlink/HostSocket.h"
#include "hostlink/LocalSocket.h"
#include "hostlink/SocketAddress_unix.h"
#include "text/SystemReason.h"

#include <cerrno>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace hostlink {
namespace {

int NewSocket(int type) {
    return ::socket(AF_UNIX, type | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
}

// Connects `fd` to the socket file `path` without waiting: 0, or the errno value.
int ConnectTo(int fd, const std::string& path) {
    sockaddr_un addr;
    if (!MakeAddress(path, addr)) {
        return ENAMETOOLONG;
    }
    return ::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0 ? 0 : errno;
}

// What a connect from a new socket of `type` to `path` gives: 0, or the errno value.
int TryConnect(int type, const std::string& path) {
    const int fd = NewSocket(type);
    if (fd < 0) {
        return errno;
    }
    const int error = ConnectTo(fd, path);
    ::close(fd);
    return error;
}

} // namespace

bool PeerIsOwnUser(int fd) {
    ucred cred{};
    socklen_t length = sizeof cred;
    return ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &length) == 0 && cred.uid == ::getuid();
}

bool WindowIsStream(const std::string& runtimeDir, unsigned handle) {
    return TryConnect(SOCK_DGRAM, WindowPath(runtimeDir, handle)) == EPROTOTYPE;
}

HostStream::~HostStream() {
    Close();
}

int HostStream::Connect(const std::string& runtimeDir, unsigned handle) {
    Close();
    const int fd = NewSocket(SOCK_STREAM);
    if (fd < 0) {
        return errno;
    }
    int error = ConnectTo(fd, WindowPath(runtimeDir, handle));
    if (error == 0 && !PeerIsOwnUser(fd)) {
        error = EACCES;
    }
    if (error != 0) {
        ::close(fd);
        return error;
    }
    Adopt(fd);
    return 0;
}

void HostStream::Adopt(int fd) {
    Close();
    fd_ = fd;
}

void HostStream::Close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    have_ = 0;
}

bool HostStream::PeerOpen() const {
    if (fd_ < 0) {
        return false;
    }
    pollfd p{fd_, POLLRDHUP, 0};
    return ::poll(&p, 1, 0) >= 0 && (p.revents & (POLLRDHUP | POLLHUP | POLLERR)) == 0;
}

HostStream::Read HostStream::ReadSome(HostMessage& message, int& error) {
    error = 0;
    if (fd_ < 0) {
        return Read::Ended;
    }
    ssize_t n;
    do {
        n = ::recv(fd_, pending_.data() + have_, pending_.size() - have_, MSG_DONTWAIT);
    } while (n < 0 && errno == EINTR);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        return Read::Nothing;
    }
    if (n <= 0) {
        error = n < 0 ? errno : 0;
        have_ = 0;
        return Read::Ended;
    }
    have_ += static_cast<std::size_t>(n);
    if (have_ < pending_.size()) {
        return Read::Nothing;
    }
    have_ = 0;
    const std::optional<HostMessage> decoded = DecodeMessage(pending_.data(), pending_.size());
    if (!decoded) {
        return Read::Nothing; // another message number: skipped, as such a datagram is
    }
    message = *decoded;
    return Read::Message;
}

bool HostStream::Write(const HostMessage& message) const {
    if (fd_ < 0) {
        return false;
    }
    const Datagram d = EncodeMessage(message);
    ssize_t n;
    do {
        n = ::send(fd_, d.data(), d.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
    } while (n < 0 && errno == EINTR);
    if (n > 0 && n < static_cast<ssize_t>(d.size())) {
        // A Unix stream takes a write this small whole or not at all. Should it ever tear one,
        // the connection ends rather than carry the rest of the message as the next one's start.
        ::shutdown(fd_, SHUT_RDWR);
    }
    return n == static_cast<ssize_t>(d.size());
}

StreamListener::~StreamListener() {
    Close();
}

int StreamListener::Open(const std::string& path, bool removeAtExit) {
    Close();
    sockaddr_un addr;
    if (!MakeAddress(path, addr)) {
        return ENAMETOOLONG;
    }
    const int fd = NewSocket(SOCK_STREAM);
    if (fd < 0) {
        return errno;
    }
    const auto* address = reinterpret_cast<const sockaddr*>(&addr);
    int rc = ::bind(fd, address, sizeof addr);
    if (rc != 0 && errno == EADDRINUSE && IsStaleSocket(path)) {
        ::unlink(path.c_str());
        rc = ::bind(fd, address, sizeof addr);
    }
    if (rc != 0) {
        const int error = errno;
        ::close(fd);
        return error;
    }
    struct stat st {};
    if (::listen(fd, SOMAXCONN) != 0 || ::lstat(path.c_str(), &st) != 0) {
        const int error = errno;
        ::unlink(path.c_str());
        ::close(fd);
        return error;
    }
    fd_ = fd;
    path_ = path;
    inode_ = st.st_ino;
    device_ = st.st_dev;
    removeAtExit_ = removeAtExit;
    if (removeAtExit_) {
        RemoveAtExit(path_);
    }
    return 0;
}

void StreamListener::Close() {
    if (fd_ < 0) {
        return;
    }
    struct stat st {};
    if (::lstat(path_.c_str(), &st) == 0 && st.st_ino == inode_ && st.st_dev == device_) {
        ::unlink(path_.c_str());
    }
    if (removeAtExit_) {
        KeepAtExit(path_);
    }
    ::close(fd_);
    fd_ = -1;
}

int StreamListener::Accept() {
    if (fd_ < 0) {
        return -1;
    }
    int fd;
    do {
        fd = ::accept4(fd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        return -1;
    }
    if (!PeerIsOwnUser(fd)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

std::string StreamWindow::Open(const std::string& runtimeDir, unsigned handle) {
    const int error = listener_.Open(WindowPath(runtimeDir, handle));
    return error == 0 ? std::string() : text::SystemReason(error);
}

bool StreamWindow::Accept(HostStream& stream) {
    const int fd = listener_.Accept();
    if (fd < 0) {
        return false;
    }
    stream.Adopt(fd);
    return true;
}

} // namespace hostlink
