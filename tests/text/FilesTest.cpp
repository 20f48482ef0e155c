#include "text/Files.h"
#include "support/Leftovers.h"
#include "support/TempDir.h"
#include "text/Gbk.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace text;
namespace fs = std::filesystem;

using testsupport::TempDir;

TEST(Files, AtomicWriteReplacesWholeAndLeavesNoTemporary) {
    TempDir d;
    WriteFileAtomic(d.path + "T1.txt", "old");
    WriteFileAtomic(d.path + "T1.txt", std::string("new\0data", 8));
    EXPECT_EQ(*ReadFile(d.path + "T1.txt"), std::string("new\0data", 8));
    int entries = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(d.path)) {
        ++entries;
    }
    EXPECT_EQ(entries, 1);
    EXPECT_THROW(WriteFileAtomic(d.path + "missing/x.txt", "x"), FileError);
    EXPECT_FALSE(ReadFile(d.path + "nothing").has_value());
}

// The operator reads what failed, the file and the system's reason, in Chinese.
TEST(Files, FailuresNameTheFileAndTheReason) {
    TempDir d;
    auto failure = [](const auto& act) {
        try {
            act();
        } catch (const FileError& e) {
            return ToUtf8(e.what());
        }
        return std::string("no error");
    };
    EXPECT_EQ(failure([&] { WriteFileAtomic(d.path + "missing/x.txt", "x"); }),
              "无法创建临时文件以写入 " + d.path + "missing/x.txt：没有那个文件或目录");
    EXPECT_EQ(failure([&] { ReadWholeFile(d.path + "nothing"); }),
              "无法读取 " + d.path + "nothing：没有那个文件或目录");
    EXPECT_EQ(failure([&] { ReadWholeFile(d.path); }), "无法读取 " + d.path + "：是一个目录");
}

// A replacement keeps the read and write bits of the old regular file itself, never its
// execute or special bits, and takes nothing from the target of a symbolic link in its place.
TEST(Files, AReplacementTakesNoModeThroughALinkAndNoSpecialBits) {
    TempDir d;
    auto modeAfterReplacing = [&](const std::string& name) {
        WriteFileAtomic(d.path + name, "new");
        struct stat st {};
        EXPECT_EQ(::lstat((d.path + name).c_str(), &st), 0);
        EXPECT_TRUE(S_ISREG(st.st_mode)) << name;
        return st.st_mode & 07777;
    };
    auto file = [&](const std::string& name, mode_t mode) {
        const std::string path = d.Write(name, "old");
        EXPECT_EQ(::chmod(path.c_str(), mode), 0);
        return path;
    };
    file("private.ini", 0640);
    EXPECT_EQ(modeAfterReplacing("private.ini"), 0640u);
    file("setuid.txt", 04755);
    EXPECT_EQ(modeAfterReplacing("setuid.txt"), 0644u);
    for (mode_t target : {04755, 0600}) {
        const std::string victim = file("victim", target);
        fs::create_symlink(victim, d.path + "T1.txt");
        EXPECT_EQ(modeAfterReplacing("T1.txt"), 0644u) << std::oct << target;
        struct stat st {};
        ASSERT_EQ(::stat(victim.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, target);
        EXPECT_EQ(*ReadFile(victim), "old");
        fs::remove(d.path + "T1.txt");
    }
}

TEST(Files, FilesThatBelongTogetherAreReplacedAllOrNone) {
    TempDir d;
    const std::string a = d.path + "a.ini";
    WriteFileAtomic(a, "old a");
    EXPECT_THROW(WriteFilesAtomic({{a, "new a"}, {d.path + "missing/b.ini", "new b"}}), FileError);
    EXPECT_EQ(*ReadFile(a), "old a");
    EXPECT_EQ(std::distance(fs::directory_iterator(d.path), fs::directory_iterator()), 1);
    WriteFilesAtomic({{a, "new a"}, {d.path + "b.ini", "new b"}});
    EXPECT_EQ(*ReadFile(a), "new a");
    EXPECT_EQ(*ReadFile(d.path + "b.ini"), "new b");
    // A rename that fails (a directory in the way) leaves no temporary of the files after it.
    fs::create_directories(d.path + "in-the-way/x");
    EXPECT_THROW(WriteFilesAtomic({{a, "a"}, {d.path + "in-the-way", "w"}, {d.path + "c", "c"}}),
                 FileError);
    EXPECT_EQ(std::distance(fs::directory_iterator(d.path), fs::directory_iterator()), 3);
}

TEST(Files, FindNoCasePrefersExactThenAnyCase) {
    TempDir d;
    EXPECT_EQ(FindNoCase(d.path, "R1.TXT"), d.path + "R1.TXT");
    WriteFileAtomic(d.path + "r1.txt", "x");
    EXPECT_EQ(FindNoCase(d.path, "R1.TXT"), d.path + "r1.txt");
    WriteFileAtomic(d.path + "R1.TXT", "x");
    EXPECT_EQ(FindNoCase(d.path, "R1.TXT"), d.path + "R1.TXT");
    fs::create_directory(d.path + "Txt");
    EXPECT_EQ(FindNoCase(d.path, "txt"), d.path + "Txt");
    EXPECT_TRUE(DirectoryExists(d.path + "Txt"));
    EXPECT_FALSE(FileExists(d.path + "Txt"));
}

TEST(Files, OnlyTemporariesOfEndedWritersAreRemoved) {
    TempDir d;
    const std::string dead = ".dcrelay-" + std::to_string(testsupport::DeadPid());
    const std::string self = ".dcrelay-" + std::to_string(::getpid());
    const std::vector<std::string> leftovers{dead + "-a1B2c3", ".dcrelay-Zx9k2Q"};
    const std::vector<std::string> others{self + "-a1B2c3", dead + "-a1B2c",  dead + "-a1B2c3.txt",
                                          dead + "_a1B2c3", "dcrelay-Zx9k2Q", "T1.txt"};
    for (const auto& name : leftovers) {
        WriteFileAtomic(d.path + name, "x");
    }
    for (const auto& name : others) {
        WriteFileAtomic(d.path + name, "x");
    }
    fs::create_symlink(d.path + "T1.txt", d.path + dead + "-linkTo"); // not a file of ours

    EXPECT_EQ(RemoveLeftoverTemporaries(d.path), 2);
    for (const auto& name : leftovers) {
        EXPECT_FALSE(fs::exists(d.path + name)) << name;
    }
    for (const auto& name : others) {
        EXPECT_TRUE(fs::exists(d.path + name)) << name;
    }
    EXPECT_TRUE(fs::is_symlink(d.path + dead + "-linkTo"));
}

TEST(Files, DirName) {
    EXPECT_EQ(DirName("/a/b/c.txt"), "/a/b/");
    EXPECT_EQ(DirName("c.txt"), "");
}
