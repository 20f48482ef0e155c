// A private runtime directory for the host link tests.
#pragma once

#include "support/TempDir.h"

#include <cstdlib>
#include <optional>
#include <string>

namespace hostlink_test {

// A fresh directory (mode 0700) that DCRELAY_RUNTIME_DIR points to while it lives.
class TempRuntime {
public:
    TempRuntime() {
        const char* old = std::getenv("DCRELAY_RUNTIME_DIR");
        if (old != nullptr) {
            saved_ = old;
        }
        ::setenv("DCRELAY_RUNTIME_DIR", path.c_str(), 1);
    }
    ~TempRuntime() {
        if (saved_) {
            ::setenv("DCRELAY_RUNTIME_DIR", saved_->c_str(), 1);
        } else {
            ::unsetenv("DCRELAY_RUNTIME_DIR");
        }
    }
    TempRuntime(const TempRuntime&) = delete;
    TempRuntime& operator=(const TempRuntime&) = delete;

    testsupport::TempDir dir{"dcr-hostlink"};
    std::string path = dir.path.substr(0, dir.path.size() - 1); // without the final '/'

private:
    std::optional<std::string> saved_;
};

} // namespace hostlink_test
