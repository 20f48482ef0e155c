// Helpers shared by the menu tests: a scratch menu directory and byte notation.
#pragma once

#include "support/TempDir.h"
#include "text/Files.h"
#include "text/Gbk.h"

#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <sys/mount.h>
#include <sys/statvfs.h>
#include <vector>

namespace menutest {

inline std::string Gbk(const std::string& utf8) {
    return text::ToGbk(utf8);
}

// "5A 67 12" -> the three bytes.
inline std::string Hex(const std::string& spaced) {
    std::istringstream in(spaced);
    std::string out;
    std::string pair;
    while (in >> pair) {
        out += static_cast<char>(std::stoi(pair, nullptr, 16));
    }
    return out;
}

inline std::string Blanks(std::size_t n) {
    return std::string(n, ' ');
}
inline std::string Ffs(std::size_t n) {
    return std::string(n, '\xFF');
}

struct MenuDir : testsupport::TempDir {
    // Writes GBK lines joined by CR LF (with a final CR LF when there is any line).
    void Table(const std::string& name, const std::vector<std::string>& gbkLines) const {
        std::string bytes;
        for (const std::string& line : gbkLines) {
            bytes += line + "\r\n";
        }
        Raw(name, bytes);
    }
    void Raw(const std::string& name, const std::string& bytes) const {
        text::WriteFileAtomic(path + name, bytes);
    }
    std::string Read(const std::string& name) const {
        std::optional<std::string> bytes = text::ReadFile(path + name);
        return bytes ? *bytes : std::string("<missing>");
    }
    bool Has(const std::string& name) const { return text::FileExists(path + name); }
};

// A tmpfs of `size` ("2m") mounted over `dir` while the object lives (the tests run as root), so
// that a test can fill the disk. Mounted() is false where mounting is not allowed.
class SmallFileSystem {
public:
    SmallFileSystem(const std::string& dir, const char* size) : dir_(dir) {
        mounted_ =
            ::mount("tmpfs", dir.c_str(), "tmpfs", 0, ("size=" + std::string(size)).c_str()) == 0;
    }
    ~SmallFileSystem() {
        if (mounted_) {
            ::umount2(dir_.c_str(), MNT_DETACH);
        }
    }
    SmallFileSystem(const SmallFileSystem&) = delete;
    SmallFileSystem& operator=(const SmallFileSystem&) = delete;

    bool Mounted() const { return mounted_; }
    // Writes `filler` so that about `free` bytes stay free.
    bool FillLeaving(std::size_t free, const std::string& filler) const {
        struct statvfs st {};
        if (::statvfs(dir_.c_str(), &st) != 0) {
            return false;
        }
        const std::size_t available = st.f_bavail * st.f_frsize;
        if (available < free) {
            return false;
        }
        text::WriteFileAtomic(filler, std::string(available - free, 'f'));
        return true;
    }

private:
    std::string dir_;
    bool mounted_ = false;
};

} // namespace menutest
