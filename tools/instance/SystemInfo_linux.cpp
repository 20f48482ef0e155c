#include "SystemInfo.h"

#include "hostlink/HostSocket.h"
#include "hostlink/InstanceLock.h"
#include "text/Files.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <grp.h>
#include <pwd.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace instance {
namespace {

std::vector<int> ProcessIds() {
    std::vector<int> pids;
    std::error_code ec;
    for (fs::directory_iterator it("/proc", ec); !ec && it != fs::directory_iterator();
         it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (!name.empty() && name.find_first_not_of("0123456789") == std::string::npos) {
            pids.push_back(std::atoi(name.c_str()));
        }
    }
    return pids;
}

std::string Comm(int pid) {
    auto text = text::ReadFile("/proc/" + std::to_string(pid) + "/comm");
    std::string name = text ? *text : std::string();
    while (!name.empty() && name.back() == '\n') {
        name.pop_back();
    }
    return name;
}

// The pty index /proc reports for a master descriptor, or -1.
int MasterIndex(const std::string& fdinfo) {
    std::istringstream in(text::ReadFile(fdinfo).value_or(""));
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("tty-index:", 0) == 0) {
            return std::atoi(line.c_str() + 10);
        }
    }
    return -1;
}

int SlaveIndex(const std::string& device) {
    std::error_code ec;
    const std::string real = fs::canonical(device, ec).string();
    if (ec || real.rfind("/dev/pts/", 0) != 0) {
        return -1;
    }
    return std::atoi(real.c_str() + 9);
}

struct ProcessFds {
    bool readable = false;
    bool holdsDevice = false;
    bool holdsFarEnd = false;
};

ProcessFds ScanFds(int pid, dev_t device, int ptyIndex) {
    ProcessFds result;
    const std::string dir = "/proc/" + std::to_string(pid) + "/";
    std::error_code ec;
    fs::directory_iterator it(dir + "fd", ec);
    result.readable = ec != std::errc::permission_denied; // a process may end meanwhile
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
        struct stat st {};
        if (::stat(it->path().c_str(), &st) != 0 || !S_ISCHR(st.st_mode)) {
            continue;
        }
        std::error_code linkError;
        if (st.st_rdev == device) {
            result.holdsDevice = true;
        } else if (ptyIndex >= 0 && fs::read_symlink(it->path(), linkError).filename() == "ptmx" &&
                   MasterIndex(dir + "fdinfo/" + it->path().filename().string()) == ptyIndex) {
            result.holdsFarEnd = true;
        }
    }
    return result;
}

// A relay's program directory from its command line and working directory, as it fixed it.
std::string ProgramDirOf(int pid) {
    const std::string proc = "/proc/" + std::to_string(pid) + "/";
    auto cmdline = text::ReadFile(proc + "cmdline");
    std::string argv0 = cmdline ? std::string(cmdline->c_str()) : std::string();
    std::error_code ec;
    if (argv0.find('/') == std::string::npos) {
        return text::DirName(fs::read_symlink(proc + "exe", ec).string());
    }
    if (argv0[0] != '/') {
        argv0 = fs::read_symlink(proc + "cwd", ec).string() + "/" + argv0;
    }
    return text::DirName(argv0);
}

std::optional<int> LockHolder(const std::string& lockFile) {
    struct stat st {};
    if (::stat(lockFile.c_str(), &st) != 0) {
        return std::nullopt;
    }
    char key[64];
    std::snprintf(key, sizeof key, "%02x:%02x:%llu", major(st.st_dev), minor(st.st_dev),
                  static_cast<unsigned long long>(st.st_ino));
    std::istringstream in(text::ReadFile("/proc/locks").value_or(""));
    for (std::string line; std::getline(in, line);) {
        std::istringstream fields(line);
        std::string number, kind, mode, access, pid, file;
        fields >> number >> kind >> mode >> access >> pid >> file;
        if (kind == "FLOCK" && file == key) { // waiting entries have "->" as their kind
            return std::atoi(pid.c_str());
        }
    }
    return std::nullopt;
}

std::optional<int> SocketHolder(const std::string& runtimeDir) {
    std::error_code ec;
    for (fs::directory_iterator it(runtimeDir, ec); !ec && it != fs::directory_iterator();
         it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.rfind("win-", 0) != 0) {
            continue;
        }
        const int pid = std::atoi(name.c_str() + 4);
        if (pid > 0 && Comm(pid) == "dcrelay" &&
            hostlink::WindowExists(runtimeDir, static_cast<unsigned>(pid))) {
            return pid;
        }
    }
    return std::nullopt;
}

} // namespace

HolderScan ProcessesHolding(const std::string& device) {
    HolderScan scan;
    struct stat st {};
    if (::stat(device.c_str(), &st) != 0 || !S_ISCHR(st.st_mode)) {
        return scan;
    }
    const int ptyIndex = SlaveIndex(device);
    for (int pid : ProcessIds()) {
        if (pid == ::getpid()) {
            continue;
        }
        const ProcessFds fds = ScanFds(pid, st.st_rdev, ptyIndex);
        scan.incomplete = scan.incomplete || !fds.readable;
        if (fds.holdsDevice && !fds.holdsFarEnd) {
            scan.holders.push_back({pid, Comm(pid)});
        }
    }
    return scan;
}

std::vector<int> ProcessesNamed(const std::string& name) {
    std::vector<int> pids;
    for (int pid : ProcessIds()) {
        if (Comm(pid) == name) {
            pids.push_back(pid);
        }
    }
    return pids;
}

std::optional<RunningRelay> FindRunningRelay(const std::string& runtimeDir) {
    std::optional<int> pid = LockHolder(runtimeDir + "/" + hostlink::kInstanceLockFile);
    if (!pid) {
        pid = SocketHolder(runtimeDir);
    }
    if (!pid) {
        return std::nullopt;
    }
    return RunningRelay{*pid, ProgramDirOf(*pid)};
}

UserInfo CurrentUser() {
    UserInfo user;
    user.uid = ::getuid();
    const passwd* pw = ::getpwuid(user.uid);
    user.name = pw != nullptr ? pw->pw_name : std::to_string(user.uid);
    const int count = ::getgroups(0, nullptr);
    std::vector<gid_t> groups(static_cast<std::size_t>(std::max(count, 0)));
    if (count > 0 && ::getgroups(count, groups.data()) == count) {
        user.processGroups.assign(groups.begin(), groups.end());
    }
    user.processGroups.push_back(::getgid());
    int listed = 64;
    std::vector<gid_t> member(static_cast<std::size_t>(listed));
    const gid_t primary = pw != nullptr ? pw->pw_gid : ::getgid();
    if (::getgrouplist(user.name.c_str(), primary, member.data(), &listed) < 0) {
        member.resize(static_cast<std::size_t>(listed));
        ::getgrouplist(user.name.c_str(), primary, member.data(), &listed);
    }
    member.resize(static_cast<std::size_t>(std::max(listed, 0)));
    user.memberGroups.assign(member.begin(), member.end());
    return user;
}

std::optional<DeviceOwner> OwnerOf(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        return std::nullopt;
    }
    DeviceOwner owner{st.st_mode & 07777, st.st_uid, st.st_gid, std::to_string(st.st_uid),
                      std::to_string(st.st_gid)};
    if (const passwd* pw = ::getpwuid(st.st_uid)) {
        owner.ownerName = pw->pw_name;
    }
    if (const group* gr = ::getgrgid(st.st_gid)) {
        owner.groupName = gr->gr_name;
    }
    return owner;
}

bool MayReadWrite(const std::string& path) {
    return ::access(path.c_str(), R_OK | W_OK) == 0;
}

bool MayWriteIn(const std::string& path) {
    return ::access(path.c_str(), W_OK | X_OK) == 0;
}

std::string StableDeviceName(const std::string& device, const std::string& byIdDir) {
    std::error_code ec;
    std::vector<std::string> names;
    for (fs::directory_iterator it(byIdDir, ec); !ec && it != fs::directory_iterator();
         it.increment(ec)) {
        std::error_code same;
        if (fs::equivalent(it->path(), device, same)) {
            names.push_back(it->path().string());
        }
    }
    std::sort(names.begin(), names.end());
    return names.empty() ? std::string() : names.front();
}

} // namespace instance
