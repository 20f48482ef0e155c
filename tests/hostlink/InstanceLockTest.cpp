#include "hostlink/InstanceLock.h"
#include "HostlinkTestSupport.h"
#include "hostlink/HostSocket.h"

#include <cstdlib>
#include <filesystem>
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

// Qt ends the program through exit(1) when the display goes away: the lock file and the window's
// socket go with the process all the same, but a forked child's exit leaves its parent's alone.
TEST(InstanceLock, TheFileAndTheWindowGoWithTheirProcessAlsoThroughExit) {
    TempRuntime rt;
    const std::string lockFile = rt.path + "/" + kInstanceLockFile;
    {
        InstanceLock lock;
        ASSERT_EQ(lock.TryAcquire(rt.path), InstanceLock::Result::Acquired);
        lock.RecordHost(77);
        EXPECT_EQ(RecordedHost(rt.path), 77u);
    }
    EXPECT_FALSE(std::filesystem::exists(lockFile)) << "removed on release";
    EXPECT_FALSE(RecordedHost(rt.path));

    pid_t child = ::fork();
    if (child == 0) {
        InstanceLock lock;
        HostSocket window;
        if (lock.TryAcquire(rt.path) != InstanceLock::Result::Acquired ||
            !window.Open(rt.path, 9).empty()) {
            ::_exit(2);
        }
        std::exit(1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1);
    EXPECT_FALSE(std::filesystem::exists(lockFile));
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(WindowPath(rt.path, 9))));

    InstanceLock held;
    ASSERT_EQ(held.TryAcquire(rt.path), InstanceLock::Result::Acquired);
    HostSocket own;
    ASSERT_EQ(own.Open(rt.path, 10), "");
    child = ::fork();
    if (child == 0) {
        std::exit(0);
    }
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(std::filesystem::exists(lockFile));
    EXPECT_TRUE(WindowExists(rt.path, 10));
}
