#include "text/Files.h"

#include "text/Decimal.h"
#include "text/Gbk.h"
#include "text/SystemReason.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
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

namespace {

// The whole file into `data`; 0, or the errno value of the failure.
int ReadInto(const std::string& path, std::string& data) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return errno;
    }
    char buffer[65536];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            int err = n == 0 ? 0 : errno;
            ::close(fd);
            return err;
        }
        data.append(buffer, static_cast<std::size_t>(n));
    }
}

} // namespace

std::optional<std::string> ReadFile(const std::string& path) {
    std::string data;
    if (ReadInto(path, data) != 0) {
        return std::nullopt;
    }
    return data;
}

std::string ReadWholeFile(const std::string& path) {
    std::string data;
    if (int err = ReadInto(path, data); err != 0) {
        throw FileError(FileFailure("无法读取", path, err));
    }
    return data;
}

LimitedRead ReadRegularFile(const std::string& path, std::size_t limit) {
    LimitedRead result;
    const std::string notRegular = SystemTextToGbk(path) + Fixed(" 不是普通文件");
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        // O_NOFOLLOW refuses a symbolic link with ELOOP.
        result.error = errno == ELOOP ? notRegular : FileFailure("无法读取", path, errno);
        return result;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        result.error = notRegular;
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
            result.error = FileFailure("无法读取", path, errno);
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

[[noreturn]] void Fail(const char* what, const std::string& path, int err) {
    throw FileError(FileFailure(what, path, err));
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

// The mode of a file that replaces `path`: the read and write bits of an old regular file (its
// own, by lstat: a symbolic link's target is never consulted), else the usual 0644. Execute,
// set-user-ID, set-group-ID and sticky bits are never carried over: these are data files.
mode_t ReplacementMode(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
        return st.st_mode & 0666;
    }
    return 0644;
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
        Fail("无法创建临时文件以写入", path, errno);
    }
    ::fchmod(fd, ReplacementMode(path));
    if (!WriteAll(fd, bytes) || (durability == Durability::Synced && ::fsync(fd) != 0)) {
        int err = errno;
        ::close(fd);
        ::unlink(tmpl.c_str());
        Fail("无法写入", path, err);
    }
    ::close(fd);
    return {path, tmpl};
}

void PutInPlace(const PendingFile& file) {
    if (::rename(file.temporary.c_str(), file.path.c_str()) != 0) {
        int err = errno;
        ::unlink(file.temporary.c_str());
        Fail("无法替换", file.path, err);
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
    for (std::size_t i = 0; i < pending.size(); ++i) {
        try {
            PutInPlace(pending[i]);
        } catch (const FileError&) {
            for (std::size_t later = i + 1; later < pending.size(); ++later) {
                ::unlink(pending[later].temporary.c_str());
            }
            throw;
        }
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
