// Helpers shared by the configuration tests.
#pragma once

#include "text/Files.h"

#include <cstdlib>
#include <filesystem>
#include <string>

namespace configtest {

struct TempDir {
    std::string path;
    TempDir() {
        char tmpl[] = "/tmp/dcr-config-XXXXXX";
        path = std::string(::mkdtemp(tmpl)) + "/";
    }
    ~TempDir() { std::filesystem::remove_all(path); }
    std::string File(const std::string& name) const { return path + name; }
};

inline std::string ReadAll(const std::string& path) {
    return text::ReadFile(path).value_or("");
}

inline std::string ExampleFile(const std::string& name) {
    return std::string(DCRELAY_SOURCE_DIR) + "/examples/ini/" + name;
}

} // namespace configtest
