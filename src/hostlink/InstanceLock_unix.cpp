#include "hostlink/InstanceLock.h"

#include "hostlink/ExitCleanup.h"
#include "text/Decimal.h"
#include "text/Files.h"
#include "text/SystemReason.h"

#include <cerrno>
#include <fcntl.h>
#include <limits>
#include <stdexcept>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace hostlink {
namespace {

std::string LockPath(const std::string& runtimeDir) {
    return runtimeDir + "/" + kInstanceLockFile;
}

// The locked descriptor still belongs to the file under `path`: a holder that ended may have
// removed the file between this process's open and its lock, and a lock on a removed file locks
// nobody out.
bool StillNamed(int fd, const std::string& path) {
    struct stat held {
    }, named{};
    return ::fstat(fd, &held) == 0 && ::lstat(path.c_str(), &named) == 0 &&
           held.st_dev == named.st_dev && held.st_ino == named.st_ino;
}

} // namespace

InstanceLock::~InstanceLock() {
    Release();
}

InstanceLock::Result InstanceLock::TryAcquire(const std::string& runtimeDir) {
    Release();
    reason_.clear();
    error_ = 0;
    path_ = LockPath(runtimeDir);
    for (int attempt = 0; attempt < 10; ++attempt) {
        int fd = ::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0) {
            error_ = errno;
            reason_ = text::SystemReason(error_);
            return Result::Failed;
        }
        int rc;
        do {
            rc = ::flock(fd, LOCK_EX | LOCK_NB);
        } while (rc != 0 && errno == EINTR);
        if (rc != 0) {
            error_ = errno;
            reason_ = text::SystemReason(error_);
            ::close(fd);
            return error_ == EWOULDBLOCK ? Result::HeldByAnother : Result::Failed;
        }
        if (StillNamed(fd, path_)) {
            fd_ = fd;
            RemoveAtExit(path_);
            return Result::Acquired;
        }
        ::close(fd); // taken from a holder that removed it: try the file that is there now
    }
    error_ = EAGAIN; // the file keeps being replaced under this process
    reason_ = text::SystemReason(error_);
    return Result::Failed;
}

void InstanceLock::Release() {
    if (fd_ < 0) {
        return;
    }
    // Removed while still locked, so a newcomer either finds the file gone or waits for it.
    if (StillNamed(fd_, path_)) {
        ::unlink(path_.c_str());
    }
    KeepAtExit(path_);
    ::close(fd_); // closing the only descriptor releases the lock
    fd_ = -1;
}

void InstanceLock::RecordHost(unsigned handle) const {
    if (fd_ < 0) {
        return;
    }
    const std::string record =
        "pid=" + std::to_string(::getpid()) + "\nhost=" + std::to_string(handle) + "\n";
    if (::ftruncate(fd_, 0) == 0) {
        [[maybe_unused]] ssize_t n = ::pwrite(fd_, record.data(), record.size(), 0);
    }
}

std::optional<unsigned> RecordedHost(const std::string& runtimeDir) {
    const std::string record = text::ReadFile(LockPath(runtimeDir)).value_or("");
    const std::size_t at = record.find("host=");
    if (at == std::string::npos) {
        return std::nullopt;
    }
    const std::size_t end = record.find('\n', at);
    if (end == std::string::npos) {
        return std::nullopt; // being written
    }
    try {
        return static_cast<unsigned>(
            text::ParseDecimal(std::string_view(record).substr(at + 5, end - at - 5),
                               {false, 0, std::numeric_limits<std::uint32_t>::max()}));
    } catch (const std::invalid_argument&) {
        return std::nullopt;
    }
}

} // namespace hostlink
