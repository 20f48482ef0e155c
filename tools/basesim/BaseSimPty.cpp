#include "BaseSimPty.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <pty.h>
#include <stdexcept>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace basesim {
namespace {

[[noreturn]] void Fail(const std::string& what) {
    throw std::runtime_error(what + ": " + std::strerror(errno));
}

void MakeRaw(int fd) {
    termios t{};
    if (tcgetattr(fd, &t) != 0) {
        Fail("tcgetattr");
    }
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    cfsetispeed(&t, B115200);
    cfsetospeed(&t, B115200);
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    if (tcsetattr(fd, TCSANOW, &t) != 0) {
        Fail("tcsetattr");
    }
}

} // namespace

Pty OpenPty() {
    Pty pty;
    char name[256] = {};
    if (openpty(&pty.master, &pty.slave, name, nullptr, nullptr) != 0) {
        Fail("openpty");
    }
    pty.path = name;
    try {
        MakeRaw(pty.slave);
        MakeRaw(pty.master);
        int flags = fcntl(pty.master, F_GETFL);
        if (flags < 0 || fcntl(pty.master, F_SETFL, flags | O_NONBLOCK) != 0) {
            Fail("fcntl");
        }
        fcntl(pty.master, F_SETFD, FD_CLOEXEC);
        fcntl(pty.slave, F_SETFD, FD_CLOEXEC);
    } catch (...) {
        ClosePty(pty);
        throw;
    }
    return pty;
}

void ClosePty(Pty& pty) {
    if (pty.slave >= 0) {
        close(pty.slave);
    }
    if (pty.master >= 0) {
        close(pty.master);
    }
    pty.slave = pty.master = -1;
}

void MakeLink(const std::string& link, const std::string& target) {
    // A new link beside the old one, renamed over it, so the name never goes missing.
    std::string temp = link + ".basesim-" + std::to_string(getpid());
    unlink(temp.c_str());
    if (symlink(target.c_str(), temp.c_str()) != 0) {
        Fail("symlink " + link);
    }
    if (rename(temp.c_str(), link.c_str()) != 0) {
        int saved = errno;
        unlink(temp.c_str());
        errno = saved;
        Fail("rename " + link);
    }
}

void RemoveLink(const std::string& link, const std::string& target) {
    std::vector<char> buf(target.size() + 2);
    ssize_t n = readlink(link.c_str(), buf.data(), buf.size());
    if (n >= 0 && std::string(buf.data(), static_cast<std::size_t>(n)) == target) {
        unlink(link.c_str());
    }
}

} // namespace basesim
