#include "hostlink/InstanceLock.h"
#include "HostlinkTestSupport.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace hostlink;
using hostlink_test::TempRuntime;

namespace {

// Tries the lock in a second process; its exit code is the result.
InstanceLock::Result TryInOtherProcess(const std::string& dir) {
    pid_t child = ::fork();
    if (child == 0) {
        InstanceLock lock;
        ::_exit(static_cast<int>(lock.TryAcquire(dir)));
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return static_cast<InstanceLock::Result>(WEXITSTATUS(status));
}

} // namespace

TEST(InstanceLock, TakenOnceAndRefusedToASecondProcess) {
    TempRuntime rt;
    {
        InstanceLock lock;
        ASSERT_EQ(lock.TryAcquire(rt.path), InstanceLock::Result::Acquired) << lock.Reason();
        EXPECT_TRUE(std::filesystem::exists(rt.path + "/无线点菜机管理1.lock"));
        EXPECT_EQ(TryInOtherProcess(rt.path), InstanceLock::Result::HeldByAnother);
        InstanceLock second;
        EXPECT_EQ(second.TryAcquire(rt.path), InstanceLock::Result::HeldByAnother)
            << "a second open in the same process is refused too";
    }
    EXPECT_EQ(TryInOtherProcess(rt.path), InstanceLock::Result::Acquired)
        << "released when its holder ends";
    InstanceLock broken;
    EXPECT_EQ(broken.TryAcquire(rt.path + "/missing"), InstanceLock::Result::Failed);
    EXPECT_FALSE(broken.Reason().empty());
}
