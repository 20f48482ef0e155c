#include "hostlink/PrivateStream.h"

#include "hostlink/HostSocket.h"
#include "hostlink/HostStream.h"
#include "hostlink/PrivateSocket.h"
#include "hostlink/SocketAddress_unix.h"

#include <algorithm>
#include <cerrno>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace hostlink {
namespace {

// Waits until `fd` is ready for `events` or the deadline passes.
bool WaitFor(int fd, short events, std::chrono::steady_clock::time_point deadline) {
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return false;
        }
        pollfd p{fd, events, 0};
        const int rc = ::poll(&p, 1, static_cast<int>(left.count()) + 1);
        if (rc < 0 && errno == EINTR) {
            continue;
        }
        return rc > 0;
    }
}

// A connected socket to `path` of this user, or -1 with the errno value in `error`.
int Connect(const std::string& path, int& error) {
    sockaddr_un addr;
    if (!MakeAddress(path, addr)) {
        error = ENAMETOOLONG;
        return -1;
    }
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        error = errno;
        return -1;
    }
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
        error = errno;
        ::close(fd);
        return -1;
    }
    if (!PeerIsOwnUser(fd)) {
        error = EACCES;
        ::close(fd);
        return -1;
    }
    return fd;
}

} // namespace

std::string PrivateStreamPath(const std::string& runtimeDir, const std::string& name) {
    if (name.empty() || name.find('/') != std::string::npos || name.rfind(kWindowPrefix, 0) == 0) {
        return "";
    }
    return PrivatePath(runtimeDir, name);
}

ConnectionRead ReadWaiting(int fd, std::string& into, std::size_t limit) {
    char buffer[4096];
    while (into.size() < limit) { // a peer that writes without end cannot hold the reader
        const std::size_t room = std::min(sizeof buffer, limit - into.size());
        const ssize_t n = ::recv(fd, buffer, room, MSG_DONTWAIT);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            return ConnectionRead::More;
        }
        if (n <= 0) {
            return ConnectionRead::Ended;
        }
        into.append(buffer, static_cast<std::size_t>(n));
    }
    return ConnectionRead::More;
}

bool WriteWaiting(int fd, const std::string& data, std::size_t& offset) {
    while (offset < data.size()) {
        const ssize_t n =
            ::send(fd, data.data() + offset, data.size() - offset, MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return errno == EAGAIN || errno == EWOULDBLOCK;
        }
        offset += static_cast<std::size_t>(n);
    }
    return true;
}

void CloseConnection(int fd) {
    if (fd >= 0) {
        ::close(fd);
    }
}

PrivateAnswer AskPrivateStream(const std::string& runtimeDir, const std::string& name,
                               const std::string& question, std::chrono::milliseconds timeout) {
    PrivateAnswer answer;
    const std::string path = PrivateStreamPath(runtimeDir, name);
    int error = 0;
    const int fd = path.empty() ? -1 : Connect(path, error);
    if (fd < 0) {
        // A full backlog (EAGAIN) or a peer of another user means someone listens there.
        answer.kind = error == EAGAIN || error == EACCES ? PrivateAnswer::Kind::NoAnswer
                                                         : PrivateAnswer::Kind::NoListener;
        return answer;
    }
    answer.kind = PrivateAnswer::Kind::NoAnswer;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    const std::string line = question + "\n";
    std::size_t written = 0;
    while (written < line.size()) {
        if (!WriteWaiting(fd, line, written) ||
            (written < line.size() && !WaitFor(fd, POLLOUT, deadline))) {
            ::close(fd);
            return answer;
        }
    }
    ::shutdown(fd, SHUT_WR);
    std::string text;
    while (WaitFor(fd, POLLIN, deadline)) {
        if (ReadWaiting(fd, text, std::string::npos) == ConnectionRead::Ended) {
            answer.kind = PrivateAnswer::Kind::Answered;
            answer.text = std::move(text);
            break;
        }
    }
    ::close(fd);
    return answer;
}

} // namespace hostlink
