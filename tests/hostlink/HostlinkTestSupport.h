// Shared pieces of the host link tests: a private runtime directory, the application object and
// pumping the event loop until something has happened.
#pragma once

#include "app/PumpWait.h"

#include <QCoreApplication>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

namespace hostlink_test {

// A fresh directory (mode 0700) that DCRELAY_RUNTIME_DIR points to while it lives.
class TempRuntime {
public:
    TempRuntime() {
        char tmpl[] = "/tmp/dcr-hostlink-XXXXXX";
        path = ::mkdtemp(tmpl);
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
        std::filesystem::remove_all(path);
    }
    TempRuntime(const TempRuntime&) = delete;
    TempRuntime& operator=(const TempRuntime&) = delete;

    std::string path;

private:
    std::optional<std::string> saved_;
};

inline void EnsureApp() {
    static int argc = 1;
    static char name[] = "test_hostlink";
    static char* argv[] = {name, nullptr};
    static QCoreApplication* app =
        QCoreApplication::instance() ? nullptr : new QCoreApplication(argc, argv);
    (void)app;
}

// Handles events until `done` holds or `limitMs` has passed; true when it holds.
inline bool PumpUntil(const std::function<bool()>& done, int limitMs = 2000) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        app::PumpWait(0, 2);
    }
    return true;
}

} // namespace hostlink_test
