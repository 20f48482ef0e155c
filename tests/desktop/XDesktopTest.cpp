// The relay's window under a real X server with a notification area (Xvfb, jwm, xdotool): the
// tray icon docks, its double-click and its menu entry show the window, another program taking
// the focus hides it, and the close box only hides it while the host window exists.
#include "support/BaseSim.h"
#include "support/Instance.h"
#include "support/WaitUntil.h"
#include "support/XSession.h"

#include <gtest/gtest.h>
#include <unistd.h>

using namespace std::chrono_literals;
using testsupport::BaseSim;
using testsupport::WaitUntil;

namespace {

// An X server with jwm, and the relay started there by the host simulator.
struct XDesktop : ::testing::Test {
    testsupport::XSession x;
    testsupport::Instance inst;
    BaseSim host{{"--runtime-dir", inst.RuntimeDir(), "--exchange", inst.Exchange(), "--stdin",
                  "--", inst.Relay()},
                 BaseSim::BuiltProgram("dcrelay-hostsim")};
    void SetUp() override {
        ASSERT_TRUE(x.Start()) << x.Error();
        host.SetReadyEvent("started");
        ASSERT_TRUE(host.Start()) << host.Error();
    }
};

} // namespace

TEST_F(XDesktop, TrayFocusAndCloseBoxUnderARealDesktop) {

    std::string icon, window;
    ASSERT_TRUE(WaitUntil([&] { return !(icon = x.TrayIconOf("dcrelay")).empty(); }, 10000))
        << "the tray icon docks in jwm's tray";
    ASSERT_TRUE(
        WaitUntil([&] { return !(window = x.WindowNamed("无线点菜机管理")).empty(); }, 5000));
    EXPECT_TRUE(WaitUntil([&] { return x.Viewable(window); }, 3000)) << "the first showing";
    EXPECT_TRUE(WaitUntil([&] { return !x.Viewable(window); }, 3000)) << "hides again";

    x.Click(icon, 8, 8, 1, 2);
    ASSERT_TRUE(WaitUntil([&] { return x.Viewable(window); }, 3000)) << "double-click shows it";
    usleep(1500 * 1000); // longer than the hide timer: a window brought up stays up
    EXPECT_TRUE(x.Viewable(window));

    x.StartClient({"xmessage", "-geometry", "+600+100", "another program"});
    std::string otherWindow;
    ASSERT_TRUE(
        WaitUntil([&] { return !(otherWindow = x.WindowNamed("xmessage")).empty(); }, 5000));
    x.Click(otherWindow, 5, 5);
    EXPECT_TRUE(WaitUntil([&] { return !x.Viewable(window); }, 3000))
        << "another program's window took the focus";

    x.Click(icon, 8, 8, 3);
    usleep(300 * 1000);
    x.Tool("xdotool key Down Return");
    ASSERT_TRUE(WaitUntil([&] { return x.Viewable(window); }, 3000)) << "显示窗口 shows it";

    x.ClickCloseBox(window);
    EXPECT_TRUE(WaitUntil([&] { return !x.Viewable(window); }, 3000));
    EXPECT_FALSE(host.WaitForEvent("exit", 500ms)) << "the host window exists: only hidden";
    host.Send("close");
    auto exit = host.WaitForEvent("exit", 5s);
    ASSERT_TRUE(exit);
    EXPECT_EQ(exit->Int("status"), 0);
}

// Qt's own threads under X (the display's event reader) must not take SIGTERM: the relay ends
// through its controller and exits with status 0.
TEST_F(XDesktop, SigtermEndsTheRelayWithItsWindowCleanly) {
    ASSERT_TRUE(WaitUntil([&] { return !x.WindowNamed("无线点菜机管理").empty(); }, 5000));
    host.Send("signal TERM");
    auto exit = host.WaitForEvent("exit", 5s);
    ASSERT_TRUE(exit);
    EXPECT_EQ(exit->Int("status"), 0);
}
