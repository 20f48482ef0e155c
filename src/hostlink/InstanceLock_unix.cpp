#include "hostlink/InstanceLock.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace hostlink {

InstanceLock::~InstanceLock() {
    Release();
}

InstanceLock::Result InstanceLock::TryAcquire(const std::string& runtimeDir) {
    Release();
    reason_.clear();
    std::string path = runtimeDir + "/" + kInstanceLockFile;
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        reason_ = std::strerror(errno);
        return Result::Failed;
    }
    int rc;
    do {
        rc = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        bool held = errno == EWOULDBLOCK;
        reason_ = std::strerror(errno);
        ::close(fd);
        return held ? Result::HeldByAnother : Result::Failed;
    }
    fd_ = fd;
    return Result::Acquired;
}

void InstanceLock::Release() {
    if (fd_ >= 0) {
        ::close(fd_); // closing the only descriptor releases the lock
        fd_ = -1;
    }
}

} // namespace hostlink
