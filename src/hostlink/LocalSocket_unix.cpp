#include "hostlink/LocalSocket.h"

#include "hostlink/ExitCleanup.h"
#include "hostlink/SocketAddress_unix.h"

#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace hostlink {
namespace {

int NewSocket() {
    return ::socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
}

bool PassCredentials(int fd) {
    int on = 1;
    return ::setsockopt(fd, SOL_SOCKET, SO_PASSCRED, &on, sizeof on) == 0;
}

int Bind(int fd, const sockaddr_un& addr) {
    return ::bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
}

bool SendTo(int fd, const sockaddr* addr, socklen_t length, const void* data, std::size_t size) {
    ssize_t n;
    do {
        n = ::sendto(fd, data, size, MSG_DONTWAIT | MSG_NOSIGNAL, addr, length);
    } while (n < 0 && errno == EINTR);
    return n == static_cast<ssize_t>(size);
}

// The sender's user id travels with every datagram once SO_PASSCRED is on.
bool FromOwnUser(msghdr& header) {
    for (cmsghdr* c = CMSG_FIRSTHDR(&header); c != nullptr; c = CMSG_NXTHDR(&header, c)) {
        if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_CREDENTIALS) {
            ucred cred;
            std::memcpy(&cred, CMSG_DATA(c), sizeof cred);
            return cred.uid == ::getuid();
        }
    }
    return false;
}

// -1 with errno when the socket cannot be connected to.
int ConnectResult(const std::string& path) {
    sockaddr_un addr;
    if (!MakeAddress(path, addr)) {
        errno = ENAMETOOLONG;
        return -1;
    }
    int fd = NewSocket();
    if (fd < 0) {
        return -1;
    }
    int rc = ::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
    const int saved = errno;
    ::close(fd);
    errno = saved;
    return rc;
}

} // namespace

int BindDatagram(const std::string& path, BoundFile& bound, int& error) {
    sockaddr_un addr;
    if (!MakeAddress(path, addr)) {
        error = ENAMETOOLONG;
        return -1;
    }
    int fd = NewSocket();
    if (fd < 0 || !PassCredentials(fd)) {
        error = errno;
        CloseSocket(fd);
        return -1;
    }
    int rc = Bind(fd, addr);
    if (rc != 0 && errno == EADDRINUSE && IsStaleSocket(path)) {
        ::unlink(path.c_str());
        rc = Bind(fd, addr);
    }
    struct stat st {};
    if (rc != 0 || ::lstat(path.c_str(), &st) != 0) {
        error = errno;
        ::close(fd);
        return -1;
    }
    bound = BoundFile{path, st.st_dev, st.st_ino};
    RemoveAtExit(path);
    return fd;
}

int OpenSender(bool answerable, int& error) {
    int fd = NewSocket();
    if (fd < 0) {
        error = errno;
        return -1;
    }
    // An address of its own in the abstract namespace: binding only the family autobinds.
    const sa_family_t family = AF_UNIX;
    if (answerable &&
        (!PassCredentials(fd) ||
         ::bind(fd, reinterpret_cast<const sockaddr*>(&family), sizeof family) != 0)) {
        error = errno;
        ::close(fd);
        return -1;
    }
    return fd;
}

bool SendDatagram(int fd, const std::string& path, const void* data, std::size_t size) {
    sockaddr_un addr;
    if (!MakeAddress(path, addr)) {
        return false;
    }
    return SendTo(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr, data, size);
}

bool SendToSender(int fd, const std::string& sender, const void* data, std::size_t size) {
    sockaddr_un addr;
    if (sender.empty() || sender.size() > sizeof addr) {
        return false;
    }
    std::memcpy(&addr, sender.data(), sender.size());
    return SendTo(fd, reinterpret_cast<const sockaddr*>(&addr),
                  static_cast<socklen_t>(sender.size()), data, size);
}

std::optional<ReceivedDatagram> ReceiveDatagram(int fd, unsigned char* buffer,
                                                std::size_t capacity) {
    for (;;) {
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(ucred))];
        sockaddr_un from{};
        iovec iov{buffer, capacity};
        msghdr header{};
        header.msg_name = &from;
        header.msg_namelen = sizeof from;
        header.msg_iov = &iov;
        header.msg_iovlen = 1;
        header.msg_control = control;
        header.msg_controllen = sizeof control;
        ssize_t n = ::recvmsg(fd, &header, MSG_DONTWAIT | MSG_TRUNC | MSG_CMSG_CLOEXEC);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return std::nullopt; // nothing waiting (or a socket error: nothing to read either)
        }
        ReceivedDatagram d;
        d.size = static_cast<std::size_t>(n);
        d.fromOwnUser = FromOwnUser(header);
        if (header.msg_namelen > sizeof(sa_family_t)) {
            d.sender.assign(reinterpret_cast<const char*>(&from), header.msg_namelen);
        }
        return d;
    }
}

bool WaitReadable(int fd, int milliseconds) {
    pollfd p{fd, POLLIN, 0};
    int rc;
    do {
        rc = ::poll(&p, 1, milliseconds);
    } while (rc < 0 && errno == EINTR);
    return rc > 0 && (p.revents & POLLIN) != 0;
}

bool SocketAccepts(const std::string& path) {
    return ConnectResult(path) == 0;
}

bool IsStaleSocket(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISSOCK(st.st_mode)) {
        return false;
    }
    return ConnectResult(path) != 0 && errno == ECONNREFUSED;
}

void CloseBound(int fd, const BoundFile& bound) {
    struct stat st {};
    if (::lstat(bound.path.c_str(), &st) == 0 && st.st_ino == bound.inode &&
        st.st_dev == bound.device) {
        ::unlink(bound.path.c_str());
    }
    KeepAtExit(bound.path);
    CloseSocket(fd);
}

void CloseSocket(int fd) {
    if (fd >= 0) {
        ::close(fd);
    }
}

} // namespace hostlink
