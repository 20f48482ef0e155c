// Sets or unsets one environment variable for a test and puts back what it was.
#pragma once

#include <cstdlib>
#include <optional>
#include <string>

namespace testsupport {

class EnvGuard {
public:
    explicit EnvGuard(const char* name) : name_(name) {
        if (const char* v = std::getenv(name)) {
            old_ = v;
        }
    }
    EnvGuard(const char* name, const char* value) : EnvGuard(name) { Set(value); }
    ~EnvGuard() { Set(old_ ? old_->c_str() : nullptr); }
    EnvGuard(const EnvGuard&) = delete;
    EnvGuard& operator=(const EnvGuard&) = delete;

    // A null value unsets the variable.
    void Set(const char* value) {
        if (value != nullptr) {
            ::setenv(name_, value, 1);
        } else {
            ::unsetenv(name_);
        }
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

} // namespace testsupport
