// The one temporary directory of the tests: fresh, private, and removed with everything in it
// when it goes out of scope.
#pragma once

#include "text/Files.h"

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>

namespace testsupport {

class TempDir {
public:
    explicit TempDir(const std::string& prefix = "dcr-test") {
        std::string pattern = "/tmp/" + prefix + "-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) {
            throw std::runtime_error("mkdtemp failed for " + pattern);
        }
        path = pattern + "/";
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    std::string File(const std::string& name) const { return path + name; }
    // Writes the file and returns its path.
    std::string Write(const std::string& name, const std::string& bytes) const {
        text::WriteFileAtomic(File(name), bytes);
        return File(name);
    }

    std::string path; // ends in '/'
};

} // namespace testsupport
