// The one temporary directory of the tests: fresh, private, and removed with all it holds.
#pragma once

#include "text/Files.h"

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>

namespace testsupport {

struct TempDir {
    explicit TempDir(const std::string& prefix = "dcr-test") : path("/tmp/" + prefix + "-XXXXXX") {
        if (::mkdtemp(path.data()) == nullptr) {
            throw std::runtime_error("mkdtemp failed for " + path);
        }
        path += '/';
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    std::string File(const std::string& name) const { return path + name; }
    std::string Write(const std::string& name, const std::string& bytes) const {
        text::WriteFileAtomic(File(name), bytes);
        return File(name);
    }

    std::string path; // ends in '/'
};

} // namespace testsupport
