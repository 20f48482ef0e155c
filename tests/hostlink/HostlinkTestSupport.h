// A private runtime directory for the host link tests.
#pragma once

#include "support/EnvGuard.h"
#include "support/TempDir.h"

#include <string>

namespace hostlink_test {

// A fresh directory (mode 0700) that DCRELAY_RUNTIME_DIR points to while it lives.
class TempRuntime {
public:
    TempRuntime() = default;
    TempRuntime(const TempRuntime&) = delete;
    TempRuntime& operator=(const TempRuntime&) = delete;

    testsupport::TempDir dir{"dcr-hostlink"};
    std::string path = dir.path.substr(0, dir.path.size() - 1); // without the final '/'

private:
    testsupport::EnvGuard runtime_{"DCRELAY_RUNTIME_DIR", path.c_str()};
};

} // namespace hostlink_test
