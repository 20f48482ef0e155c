// One running relay per user: an exclusive lock on a file in the runtime directory, held for the
// life of the process. A second start that cannot take it ends silently. The file goes with its
// holder, also when the holder ends through exit(); while it is held it records the holder's
// process id and its host's handle, for the installation check.
#pragma once

#include <optional>
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
    // Removes the file and releases the lock.
    void Release();
    bool Held() const { return fd_ >= 0; }
    const std::string& Reason() const { return reason_; } // the system's reason (GBK)
    int Error() const { return error_; }                  // its errno value
    const std::string& Path() const { return path_; }

    // Writes "pid=<own process id>" and "host=<handle>" into the held file.
    void RecordHost(unsigned handle) const;

private:
    int fd_ = -1;
    int error_ = 0;
    std::string reason_;
    std::string path_;
};

// The host handle recorded by the relay that holds the lock of `runtimeDir`; nothing when the
// file records none.
std::optional<unsigned> RecordedHost(const std::string& runtimeDir);

} // namespace hostlink
