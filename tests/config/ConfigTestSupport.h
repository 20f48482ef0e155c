// Helpers shared by the configuration tests.
#pragma once

#include "support/TempDir.h"
#include "text/Files.h"

#include <string>

namespace configtest {

using testsupport::TempDir;

inline std::string ReadAll(const std::string& path) {
    return text::ReadFile(path).value_or("");
}

inline std::string ExampleFile(const std::string& name) {
    return std::string(DCRELAY_SOURCE_DIR) + "/examples/ini/" + name;
}

} // namespace configtest
