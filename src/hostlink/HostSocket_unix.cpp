#include "hostlink/HostSocket.h"

#include "hostlink/SocketAddress_unix.h"
#include "text/Files.h"

#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace hostlink {
namespace {

int NewSocket() {
    return ::socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
}

bool SendTo(int fd, const std::string& path, const HostMessage& message) {
    sockaddr_un addr;
    if (!MakeAddress(path, addr)) {
        return false;
    }
    Datagram d = EncodeMessage(message);
    ssize_t n;
    do {
        n = ::sendto(fd, d.data(), d.size(), MSG_DONTWAIT | MSG_NOSIGNAL,
                     reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
    } while (n < 0 && errno == EINTR);
    return n == static_cast<ssize_t>(d.size());
}

constexpr char kWindowPrefix[] = "win-";

// The handle in a window's file name; nothing for any other name.
std::optional<unsigned long> HandleOfName(const std::string& name) {
    const std::size_t prefix = sizeof kWindowPrefix - 1;
    if (name.size() <= prefix || name.size() > prefix + 10 ||
        name.compare(0, prefix, kWindowPrefix) != 0 ||
        name.find_first_not_of("0123456789", prefix) != std::string::npos) {
        return std::nullopt;
    }
    return std::stoul(name.substr(prefix));
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

} // namespace

// With no socket left behind the file, a connect of either type is refused (a live socket of
// the other type would answer EPROTOTYPE instead).
bool IsStaleSocket(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISSOCK(st.st_mode)) {
        return false;
    }
    sockaddr_un addr;
    int fd = NewSocket();
    if (fd < 0 || !MakeAddress(path, addr)) {
        if (fd >= 0) {
            ::close(fd);
        }
        return false;
    }
    int rc = ::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
    bool refused = rc != 0 && errno == ECONNREFUSED;
    ::close(fd);
    return refused;
}

std::string WindowPath(const std::string& runtimeDir, unsigned handle) {
    return runtimeDir + "/" + kWindowPrefix + std::to_string(handle);
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
    sockaddr_un addr;
    if (!MakeAddress(WindowPath(runtimeDir, handle), addr)) {
        return false;
    }
    int fd = NewSocket();
    if (fd < 0) {
        return false;
    }
    bool exists = ::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0;
    ::close(fd);
    return exists;
}

bool PostMessage(const std::string& runtimeDir, unsigned to, const HostMessage& message) {
    int fd = NewSocket();
    if (fd < 0) {
        return false;
    }
    bool sent = SendTo(fd, WindowPath(runtimeDir, to), message);
    ::close(fd);
    return sent;
}

HostSocket::~HostSocket() {
    Close();
}

std::string HostSocket::Open(const std::string& runtimeDir, unsigned handle) {
    Close();
    std::string path = WindowPath(runtimeDir, handle);
    sockaddr_un addr;
    if (!MakeAddress(path, addr)) {
        return std::strerror(ENAMETOOLONG);
    }
    int fd = NewSocket();
    if (fd < 0) {
        return std::strerror(errno);
    }
    int on = 1;
    if (::setsockopt(fd, SOL_SOCKET, SO_PASSCRED, &on, sizeof on) != 0) {
        std::string reason = std::strerror(errno);
        ::close(fd);
        return reason;
    }
    int rc = ::bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
    if (rc != 0 && errno == EADDRINUSE && IsStaleSocket(path)) {
        ::unlink(path.c_str());
        rc = ::bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
    }
    struct stat st {};
    if (rc != 0 || ::lstat(path.c_str(), &st) != 0) {
        std::string reason = std::strerror(errno);
        ::close(fd);
        return reason;
    }
    fd_ = fd;
    handle_ = handle;
    runtimeDir_ = runtimeDir;
    path_ = path;
    inode_ = st.st_ino;
    device_ = st.st_dev;
    return "";
}

void HostSocket::Close() {
    if (fd_ < 0) {
        return;
    }
    struct stat st {};
    if (::lstat(path_.c_str(), &st) == 0 && st.st_ino == inode_ && st.st_dev == device_) {
        ::unlink(path_.c_str());
    }
    ::close(fd_);
    fd_ = -1;
}

std::optional<HostMessage> HostSocket::Receive() {
    if (fd_ < 0) {
        return std::nullopt;
    }
    for (;;) {
        unsigned char data[kDatagramSize + 1];
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(ucred))];
        iovec iov{data, sizeof data};
        msghdr header{};
        header.msg_iov = &iov;
        header.msg_iovlen = 1;
        header.msg_control = control;
        header.msg_controllen = sizeof control;
        ssize_t n = ::recvmsg(fd_, &header, MSG_DONTWAIT | MSG_TRUNC | MSG_CMSG_CLOEXEC);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return std::nullopt; // nothing waiting (or a socket error: nothing to read either)
        }
        if (!FromOwnUser(header)) {
            continue;
        }
        if (auto message = DecodeMessage(data, static_cast<std::size_t>(n))) {
            return message;
        }
    }
}

bool HostSocket::Post(unsigned to, const HostMessage& message) const {
    if (fd_ < 0) {
        return !runtimeDir_.empty() && PostMessage(runtimeDir_, to, message);
    }
    return SendTo(fd_, WindowPath(runtimeDir_, to), message);
}

} // namespace hostlink
