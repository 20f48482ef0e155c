// Root passes over file permissions: a test of a read-only directory drops that power from the
// calling thread (CAP_DAC_OVERRIDE and its kin) while this object lives, and takes it back after.
// Without root it changes nothing.
#pragma once

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace testsupport {

class WithoutFileOverride {
public:
    WithoutFileOverride() {
        ::syscall(SYS_capget, &header_, saved_);
        __user_cap_data_struct reduced[2] = {saved_[0], saved_[1]};
        reduced[0].effective &=
            ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH) | (1u << CAP_FOWNER));
        ::syscall(SYS_capset, &header_, reduced);
    }
    ~WithoutFileOverride() { ::syscall(SYS_capset, &header_, saved_); }
    WithoutFileOverride(const WithoutFileOverride&) = delete;
    WithoutFileOverride& operator=(const WithoutFileOverride&) = delete;

private:
    __user_cap_header_struct header_{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct saved_[2]{};
};

} // namespace testsupport
