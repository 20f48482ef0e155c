#include "app/Startup.h"
#include "app/Face.h"
#include "support/Leftovers.h"
#include "support/TempDir.h"
#include "text/Gbk.h"
#include "worklog/WorkLog.h"

#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace app;
namespace fs = std::filesystem;

TEST(Startup, ProgramDirectoryFromArgumentZero) {
    EXPECT_EQ(ProgramDirectory("/opt/dcrelay/bin/dcrelay"), "/opt/dcrelay/bin/");
    char cwd[4096];
    ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
    EXPECT_EQ(ProgramDirectory("inst/dcrelay"), std::string(cwd) + "/inst/");
    // A bare name: the directory of the running executable
    std::string self = ProgramDirectory("dcrelay");
    EXPECT_EQ(self.back(), '/');
    EXPECT_TRUE(fs::exists(self));
}

TEST(Startup, MarkersAndRunModes) {
    testsupport::TempDir temp;
    const std::string& dir = temp.path;
    Markers none = ReadMarkers(dir);
    EXPECT_FALSE(none.DebugLogging);
    EXPECT_FALSE(none.StandaloneDebug);
    std::ofstream(dir + "debug.txt").put('x');
    std::ofstream(dir + "debug2.txt"); // empty: only existence matters
    Markers both = ReadMarkers(dir);
    EXPECT_TRUE(both.DebugLogging);
    EXPECT_TRUE(both.StandaloneDebug);

    Markers standalone{false, true};
    EXPECT_EQ(ChooseRunMode(standalone, 0), RunMode::StandaloneDebug);
    EXPECT_EQ(ChooseRunMode(standalone, 1), RunMode::StandaloneDebug); // argument ignored
    EXPECT_EQ(ChooseRunMode(Markers{}, 1), RunMode::StartedByHost);
    EXPECT_EQ(ChooseRunMode(Markers{true, false}, 0), RunMode::Neither);
}

TEST(Startup, HostHandleIsADecimalInteger) {
    EXPECT_EQ(ParseHostHandle("12345"), 12345u);
    EXPECT_EQ(ParseHostHandle("0"), 0u);
    EXPECT_EQ(ParseHostHandle("4294967295"), 4294967295u);
    for (const char* bad : {"", "12a", "0x10", " 5", "\f5", "\v5", "5 ", "99999999999"}) {
        EXPECT_THROW(ParseHostHandle(bad), std::invalid_argument) << bad;
    }
    try {
        ParseHostHandle("abc");
    } catch (const std::invalid_argument& e) {
        EXPECT_EQ(text::ToUtf8(e.what()), "主程序句柄“abc”不是十进制整数，无法与餐饮软件通信。");
    }
}

TEST(WorkLogTest, LinesAreKeptAsAppendedAndListenersSeeThem) {
    struct Recorder : WorkLogListener {
        std::vector<std::string> seen;
        int cleared = 0;
        void LineAppended(const std::string& l) override { seen.push_back(l); }
        void Cleared() override { ++cleared; }
    } rec;
    WorkLog log;
    log.AddListener(&rec);
    log.Append(std::string("a\r\nb\0c", 6));
    for (int i = 0; i < 1000; ++i) {
        log.Append("x");
    }
    EXPECT_EQ(log.LineCount(), 1001u); // appending never empties the log
    EXPECT_EQ(log.Lines()[0], std::string("a\r\nb\0c", 6));
    log.Clear();
    EXPECT_EQ(log.LineCount(), 0u);
    EXPECT_EQ(rec.cleared, 1);
    log.RemoveListener(&rec);
    log.Append("y");
    EXPECT_EQ(rec.seen.size(), 1001u);
}

TEST(WorkLogTest, KeepsTheNewestLinesOnceFull) {
    struct Recorder : WorkLogListener {
        std::size_t dropped = 0;
        void LineAppended(const std::string&) override {}
        void Cleared() override {}
        void OldestDropped(std::size_t count) override { dropped += count; }
    } rec;
    WorkLog log;
    log.AddListener(&rec);
    for (int i = 0; i < 20000; ++i) {
        log.Append(std::to_string(i));
    }
    EXPECT_EQ(log.LineCount(), 20000u) << "20,000 lines are kept whole";
    for (int i = 20000; i < 60000; ++i) {
        log.Append(std::to_string(i));
        ASSERT_LE(log.LineCount(), 20000u);
    }
    EXPECT_EQ(log.Lines().back(), "59999");
    EXPECT_EQ(rec.dropped + log.LineCount(), 60000u);
    EXPECT_EQ(log.Lines().front(), std::to_string(rec.dropped)); // the oldest kept, in order
}

TEST(Startup, FaceFollowsTheDisplayUnlessForced) {
    auto face = [](const char* forced, const char* platform, const char* display,
                   const char* wayland) {
        FaceChoice c = ChooseFace({forced, platform, display, wayland});
        return std::string(c.face == Face::Window ? "window" : "headless") +
               (c.unattended ? "+unattended" : "") + (c.refusal.empty() ? "" : "+refused");
    };
    EXPECT_EQ(face(nullptr, nullptr, ":0", nullptr), "window");
    EXPECT_EQ(face(nullptr, "xcb", nullptr, "wayland-0"), "window");
    EXPECT_EQ(face(nullptr, nullptr, "", nullptr), "headless");
    EXPECT_EQ(face(nullptr, "offscreen", ":0", nullptr), "headless");
    EXPECT_EQ(face(nullptr, "minimal:x=1", ":0", nullptr), "headless");
    EXPECT_EQ(face("window", "offscreen", nullptr, nullptr), "window+unattended");
    EXPECT_EQ(face("window", nullptr, ":0", nullptr), "window");
    EXPECT_EQ(face("headless", nullptr, ":0", nullptr), "headless");
    EXPECT_EQ(face("Window", nullptr, ":0", nullptr), "window+refused");
}

TEST(Startup, AWindowWithoutAChosenPlatformFallsBackToHeadless) {
    const FaceChoice x11 = ChooseFace({nullptr, nullptr, ":0", nullptr});
    EXPECT_EQ(x11.platforms, "xcb;offscreen");
    EXPECT_TRUE(FellBackWithoutScreen(x11, "offscreen"));
    EXPECT_FALSE(FellBackWithoutScreen(x11, "xcb"));
    EXPECT_EQ(ChooseFace({nullptr, nullptr, nullptr, "wayland-0"}).platforms,
              "wayland;xcb;offscreen");
    // A platform chosen by the user is left alone, also when it is offscreen.
    const FaceChoice chosen = ChooseFace({"window", "offscreen", ":0", nullptr});
    EXPECT_EQ(chosen.platforms, "");
    EXPECT_FALSE(FellBackWithoutScreen(chosen, "offscreen"));
}

// A bus that is there is used; without one, no address of a known kind lets D-Bus start one.
TEST(Startup, NoSessionBusIsStartedWhereNoneIsThere) {
    testsupport::TempDir runtime;
    EXPECT_EQ(NoBusAutolaunch(nullptr, nullptr), "disabled:");
    EXPECT_EQ(NoBusAutolaunch("", runtime.path.c_str()), "disabled:");
    EXPECT_FALSE(NoBusAutolaunch("unix:path=/run/user/0/bus", nullptr));
    text::WriteFileAtomic(runtime.File("bus"), ""); // a file, not a bus
    EXPECT_EQ(NoBusAutolaunch(nullptr, runtime.path.c_str()), "disabled:");
    fs::remove(runtime.File("bus"));
    ASSERT_TRUE(testsupport::LeaveStaleSocket(runtime.File("bus")));
    EXPECT_FALSE(NoBusAutolaunch(nullptr, runtime.path.c_str()));
}
