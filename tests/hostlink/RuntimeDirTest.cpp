#include "hostlink/RuntimeDir.h"
#include "HostlinkTestSupport.h"
#include "support/EnvGuard.h"
#include "text/Gbk.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace hostlink;
using hostlink_test::TempRuntime;
using testsupport::EnvGuard;

namespace {

std::string Mode(const std::string& path) {
    struct stat st {};
    ::stat(path.c_str(), &st);
    return std::to_string(st.st_mode & 0777);
}

} // namespace

TEST(RuntimeDir, PathFromOwnVariableThenXdgThenTmp) {
    struct Case {
        const char* own;
        const char* xdg;
        std::string expected;
    };
    const std::string tmp = "/tmp/dcrelay-" + std::to_string(::getuid());
    const Case cases[] = {
        {"/run/own/", "/run/user/5", "/run/own"},
        {nullptr, "/run/user/5/", "/run/user/5/dcrelay"},
        {"", "/run/user/5", "/run/user/5/dcrelay"},
        {nullptr, nullptr, tmp},
        {nullptr, "", tmp},
    };
    EnvGuard own("DCRELAY_RUNTIME_DIR");
    EnvGuard xdg("XDG_RUNTIME_DIR");
    for (const Case& c : cases) {
        own.Set(c.own);
        xdg.Set(c.xdg);
        EXPECT_EQ(RuntimeDirPath(), c.expected)
            << (c.own ? c.own : "-") << " " << (c.xdg ? c.xdg : "-");
    }
}

TEST(RuntimeDir, CreatedPrivateAndRefusedWhenOpenOrForeign) {
    TempRuntime base;
    const std::string fresh = base.path + "/fresh";
    RuntimeDirResult made = PrepareRuntimeDir(fresh);
    EXPECT_TRUE(made.ok) << text::ToUtf8(made.reason);
    EXPECT_EQ(Mode(fresh), std::to_string(0700));
    EXPECT_TRUE(PrepareRuntimeDir(fresh).ok) << "an existing private directory is used";

    struct Case {
        std::string name;
        std::function<void(const std::string&)> make;
        std::string reasonPart; // UTF-8
        std::string remedyPart; // UTF-8, the path follows when it ends in a blank or '('
    };
    const Case cases[] = {
        {"open", [](const std::string& p) { ::mkdir(p.c_str(), 0700), ::chmod(p.c_str(), 0755); },
         "其他用户可以访问(权限 0755)", "请执行 chmod 700 "},
        {"group", [](const std::string& p) { ::mkdir(p.c_str(), 0700), ::chmod(p.c_str(), 0710); },
         "其他用户可以访问(权限 0710)", "请执行 chmod 700 "},
        {"file", [](const std::string& p) { ::close(::creat(p.c_str(), 0600)); }, "不是目录",
         "请删除或移走该文件("},
        {"link",
         [&](const std::string& p) {
             [[maybe_unused]] int r = ::symlink(fresh.c_str(), p.c_str());
         },
         "是符号链接", "请删除该链接(rm "},
        {"missing/parent", [](const std::string&) {}, "无法创建:没有那个文件或目录",
         "请检查其上级目录"},
    };
    for (const Case& c : cases) {
        const std::string path = base.path + "/" + c.name;
        c.make(path);
        RuntimeDirResult r = PrepareRuntimeDir(path);
        EXPECT_FALSE(r.ok) << c.name;
        const std::string reason = text::ToUtf8(r.reason);
        EXPECT_EQ(reason.find("主程序通信目录[" + path + "]" + c.reasonPart), 0u) << reason;
        const std::string remedy = text::ToUtf8(r.remedy);
        const bool pathFollows = c.remedyPart.back() == ' ' || c.remedyPart.back() == '(';
        EXPECT_NE(remedy.find(c.remedyPart + (pathFollows ? path : "")), std::string::npos)
            << remedy;
    }
}

TEST(RuntimeDir, RefusedWhenItBelongsToAnotherUser) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to give a directory away";
    }
    TempRuntime base;
    const std::string path = base.path + "/foreign";
    ASSERT_EQ(::mkdir(path.c_str(), 0700), 0);
    ASSERT_EQ(::chown(path.c_str(), 65534, 65534), 0);
    RuntimeDirResult r = PrepareRuntimeDir(path);
    EXPECT_FALSE(r.ok);
    EXPECT_NE(text::ToUtf8(r.reason).find("属于其他用户(uid 65534)"), std::string::npos);
    EXPECT_NE(text::ToUtf8(r.remedy).find("DCRELAY_RUNTIME_DIR"), std::string::npos);
}
