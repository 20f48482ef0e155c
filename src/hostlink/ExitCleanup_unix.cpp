#include "hostlink/ExitCleanup.h"

#include <algorithm>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace hostlink {
namespace {

struct Entry {
    std::string path;
    dev_t device;
    ino_t inode;
    pid_t owner;
};

// Never destroyed, so that it is still there when the exit handlers run.
std::vector<Entry>& Entries() {
    static auto* entries = new std::vector<Entry>;
    return *entries;
}

void RemoveRegistered() {
    std::vector<Entry>& entries = Entries();
    for (const Entry& e : entries) {
        struct stat st {};
        if (e.owner == ::getpid() && ::lstat(e.path.c_str(), &st) == 0 && st.st_dev == e.device &&
            st.st_ino == e.inode) {
            ::unlink(e.path.c_str());
        }
    }
    entries.clear();
}

} // namespace

void RemoveAtExit(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
        return;
    }
    KeepAtExit(path);
    Entries().push_back({path, st.st_dev, st.st_ino, ::getpid()});
    // Registered again each time: exit handlers run last-registered first, so the handler runs
    // before the clean-up of libraries that started after the first file (Qt's), whose failure
    // would otherwise keep it from running.
    std::atexit(RemoveRegistered);
}

void KeepAtExit(const std::string& path) {
    std::vector<Entry>& entries = Entries();
    entries.erase(std::remove_if(entries.begin(), entries.end(),
                                 [&](const Entry& e) { return e.path == path; }),
                  entries.end());
}

} // namespace hostlink
