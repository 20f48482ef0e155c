#include "text/Files.h"

#include "text/Decimal.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace text {

bool FileExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool DirectoryExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::optional<std::string> ReadFile(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return std::nullopt;
    }
    std::string data;
    char buffer[65536];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            bool ok = n == 0;
            ::close(fd);
            if (!ok) {
                return std::nullopt;
            }
            return data;
        }
        data.append(buffer, static_cast<std::size_t>(n));
    }
}

LimitedRead ReadRegularFile(const std::string& path, std::size_t limit) {
    LimitedRead result;
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        result.error = "cannot read " + path + ": " + std::strerror(errno);
        return result;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        result.error = path + " is not a regular file";
        return result;
    }
    // One byte beyond the limit tells a cut file from one of exactly `limit` bytes.
    const std::size_t want = limit + 1;
    std::string data(std::min(static_cast<std::size_t>(st.st_size) + 1, want), '\0');
    std::size_t have = 0;
    while (have < want) {
        if (have == data.size()) { // the file grew since fstat
            data.resize(std::min(data.size() * 2, want));
        }
        ssize_t n = ::read(fd, data.data() + have, data.size() - have);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            result.error = "cannot read " + path + ": " + std::strerror(errno);
            ::close(fd);
            return result;
        }
        if (n == 0) {
            break;
        }
        have += static_cast<std::size_t>(n);
    }
    ::close(fd);
    result.cut = have > limit;
    data.resize(std::min(have, limit));
    result.bytes = std::move(data);
    return result;
}

namespace {

[[noreturn]] void Fail(const std::string& what, const std::string& path, int err) {
    throw FileError(what + " " + path + ": " + std::strerror(err));
}

constexpr char kTemporaryPrefix[] = ".dcrelay-";
constexpr std::size_t kTemporaryRandom = 6; // mkstemp's XXXXXX

bool Digit(char c) {
    return c >= '0' && c <= '9';
}

bool Alnum(char c) {
    return Digit(c) || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// True when s[from, to) is not empty and every character passes `is`.
bool AllOf(const std::string& s, std::size_t from, std::size_t to, bool (*is)(char)) {
    return from < to &&
           std::all_of(s.begin() + static_cast<long>(from), s.begin() + static_cast<long>(to), is);
}

// The writer of a temporary file by its name: ".dcrelay-<pid>-XXXXXX" gives the pid, the older
// ".dcrelay-XXXXXX" gives 0 (not told); nothing when the name is not one of ours.
std::optional<long> TemporaryWriter(const std::string& name) {
    const std::size_t prefix = sizeof kTemporaryPrefix - 1;
    if (name.size() < prefix + kTemporaryRandom || name.compare(0, prefix, kTemporaryPrefix) != 0 ||
        !AllOf(name, name.size() - kTemporaryRandom, name.size(), Alnum)) {
        return std::nullopt;
    }
    if (name.size() == prefix + kTemporaryRandom) {
        return 0;
    }
    const std::size_t dash = name.size() - kTemporaryRandom - 1;
    if (name[dash] != '-' || dash - prefix > 9 || !AllOf(name, prefix, dash, Digit)) {
        return std::nullopt;
    }
    return ParseDecimal(name.substr(prefix, dash - prefix), {false, 0, 999999999});
}

bool IsRegularFile(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool WriteAll(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// A new content written beside its file, not yet in place.
struct PendingFile {
    std::string path;
    std::string temporary;
};

PendingFile WriteTemporary(const std::string& path, const std::string& bytes,
                           Durability durability) {
    std::string dir = DirName(path);
    std::string tmpl = (dir.empty() ? std::string("./") : dir) + kTemporaryPrefix +
                       std::to_string(::getpid()) + "-XXXXXX";
    int fd = ::mkstemp(tmpl.data());
    if (fd < 0) {
        Fail("cannot create a temporary file for", path, errno);
    }
    // Keep the permissions an existing file had; new files get the usual 0644.
    struct stat st {};
    mode_t mode = ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0644;
    ::fchmod(fd, mode);
    if (!WriteAll(fd, bytes) || (durability == Durability::Synced && ::fsync(fd) != 0)) {
        int err = errno;
        ::close(fd);
        ::unlink(tmpl.c_str());
        Fail("cannot write", path, err);
    }
    ::close(fd);
    return {path, tmpl};
}

void PutInPlace(const PendingFile& file) {
    if (::rename(file.temporary.c_str(), file.path.c_str()) != 0) {
        int err = errno;
        ::unlink(file.temporary.c_str());
        Fail("cannot replace", file.path, err);
    }
}

} // namespace

void WriteFileAtomic(const std::string& path, const std::string& bytes, Durability durability) {
    PutInPlace(WriteTemporary(path, bytes, durability));
}

void WriteFilesAtomic(const std::vector<std::pair<std::string, std::string>>& files) {
    std::vector<PendingFile> pending;
    try {
        for (const auto& [path, bytes] : files) {
            pending.push_back(WriteTemporary(path, bytes, Durability::Synced));
        }
    } catch (const FileError&) {
        for (const PendingFile& file : pending) {
            ::unlink(file.temporary.c_str());
        }
        throw;
    }
    for (const PendingFile& file : pending) {
        PutInPlace(file);
    }
}

int RemoveLeftoverTemporaries(const std::string& dir) {
    std::string base = dir.empty() ? std::string("./") : dir;
    if (base.back() != '/') {
        base += '/';
    }
    int removed = 0;
    for (const std::string& name : EntryNames(base)) {
        const std::optional<long> writer = TemporaryWriter(name);
        if (!writer || (*writer != 0 && ProcessRuns(*writer)) || !IsRegularFile(base + name)) {
            continue;
        }
        removed += ::unlink((base + name).c_str()) == 0;
    }
    return removed;
}

bool ProcessRuns(long pid) {
    if (pid <= 0 || pid > INT_MAX) {
        return false;
    }
    return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

std::string FindNoCase(const std::string& dir, const std::string& name) {
    std::string exact = dir + name;
    struct stat st {};
    if (::lstat(exact.c_str(), &st) == 0) {
        return exact;
    }
    DIR* d = ::opendir(dir.empty() ? "." : dir.c_str());
    if (d == nullptr) {
        return exact;
    }
    std::string found;
    while (dirent* e = ::readdir(d)) {
        if (::strcasecmp(e->d_name, name.c_str()) == 0) {
            found = dir + e->d_name;
            break;
        }
    }
    ::closedir(d);
    return found.empty() ? exact : found;
}

std::vector<std::string> EntryNames(const std::string& dir) {
    std::vector<std::string> names;
    if (DIR* d = ::opendir(dir.c_str())) {
        while (dirent* e = ::readdir(d)) {
            const std::string name = e->d_name;
            if (name != "." && name != "..") {
                names.push_back(name);
            }
        }
        ::closedir(d);
    }
    return names;
}

std::string DirName(const std::string& path) {
    std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

} // namespace text
