// One running relay per user: an exclusive lock on a file in the runtime directory, held for the
// life of the process. A second start that cannot take it ends silently.
#pragma once

#include <string>

namespace hostlink {

// The lock file's name, UTF-8 on disk.
inline const std::string kInstanceLockFile = "无线点菜机管理1.lock";

class InstanceLock {
public:
    enum class Result {
        Acquired,
        HeldByAnother, // another instance runs
        Failed,        // the lock file cannot be opened; Reason() says why
    };

    InstanceLock() = default;
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    Result TryAcquire(const std::string& runtimeDir);
    void Release();
    bool Held() const { return fd_ >= 0; }
    const std::string& Reason() const { return reason_; }

private:
    int fd_ = -1;
    std::string reason_;
};

} // namespace hostlink
