// The relay's window under a Wayland compositor (weston's headless back end, Qt's Wayland
// platform), started by the host simulator: the window shows, named by its desktop entry, asks
// for its fixed size (so a compositor offers no maximising), stays up since there is no
// notification area to bring it back from, and the relay ends cleanly when the host closes it.
#include "support/BaseSim.h"
#include "support/Instance.h"
#include "support/WaitUntil.h"
#include "support/WaylandSession.h"

#include <cstdlib>
#include <fstream>
#include <gmock/gmock.h>
#include <regex>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

using testing::HasSubstr;
using testsupport::BaseSim;
using testsupport::WaitUntil;

namespace {

std::string ReadAll(const std::string& path) {
    std::ostringstream text;
    text << std::ifstream(path).rdbuf();
    return text.str();
}

struct WaylandDesktop : ::testing::Test {
    testsupport::WaylandSession wayland;
    testsupport::Instance inst;
    std::string protocol; // the relay's Wayland requests (WAYLAND_DEBUG)
    std::unique_ptr<BaseSim> host;
    void SetUp() override {
        ASSERT_TRUE(wayland.Start()) << wayland.Error();
        // The host starts the relay through a script that sends the relay's standard error,
        // its Wayland requests among it, to a file; the host's handle is the argument.
        protocol = wayland.Dir() + "/protocol.log";
        const std::string script = wayland.Dir() + "/relay.sh";
        std::ofstream(script) << "#!/bin/sh\nWAYLAND_DEBUG=1 exec " << inst.Relay() << " \"$@\" 2>"
                              << protocol << "\n";
        chmod(script.c_str(), 0755);
        host = std::make_unique<BaseSim>(
            std::vector<std::string>{"--runtime-dir", inst.RuntimeDir(), "--exchange",
                                     inst.Exchange(), "--stdin", "--", script},
            BaseSim::BuiltProgram("dcrelay-hostsim"));
        host->SetReadyEvent("started");
        ASSERT_TRUE(host->Start()) << host->Error();
    }
};

TEST_F(WaylandDesktop, TheWindowShowsAtItsFixedSizeAndTheRelayEndsCleanly) {
    const std::string window = "top-level window '无线点菜机管理' of com.example.dcrelay";
    std::string scene;
    ASSERT_TRUE(WaitUntil(
        [&] { return (scene = wayland.SceneGraph()).find(window) != std::string::npos; }, 10000))
        << scene << ReadAll(protocol).substr(0, 3000);
    usleep(1500 * 1000); // longer than the hide timer: no notification area, so it stays up
    EXPECT_THAT(wayland.SceneGraph(), HasSubstr(window));
    if (const char* shots = std::getenv("DCRELAY_SHOTS")) {
        wayland.Screenshot(std::string(shots) + "/wayland-main.png");
    }

    const std::string requests = ReadAll(protocol);
    std::smatch min, max;
    ASSERT_TRUE(std::regex_search(requests, min, std::regex(R"(set_min_size\((\d+), (\d+)\))")));
    ASSERT_TRUE(std::regex_search(requests, max, std::regex(R"(set_max_size\((\d+), (\d+)\))")));
    EXPECT_EQ(min.str(1) + "x" + min.str(2), "908x589");
    EXPECT_EQ(max.str(1) + "x" + max.str(2), "908x589") << "fixed: nothing to maximise";

    host->Send("close");
    auto exit = host->WaitForEvent("exit", std::chrono::seconds(5));
    ASSERT_TRUE(exit);
    EXPECT_EQ(exit->Int("status"), 0);
}

} // namespace
