#include "text/Files.h"
#include "support/Leftovers.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

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
