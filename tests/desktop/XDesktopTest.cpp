// The relay's window under a real X server with a notification area (Xvfb, jwm, xdotool): the
// tray icon docks, its double-click and its menu entry show the window, another program taking
// the focus hides it, and the close box only hides it while the host window exists.
#include "support/BaseSim.h"
#include "support/Instance.h"
#include "support/WaitUntil.h"
#include "support/XSession.h"
#include "text/Files.h"

#include <gtest/gtest.h>
#include <sstream>

using namespace std::chrono_literals;
using testsupport::BaseSim;
using testsupport::WaitUntil;

namespace {

// Bounds that hold on a busy two-core machine; every wait polls, so they cost nothing when the
// condition comes sooner. A program starting (the relay, another client) may take long there;
// a window reacting to an event it has already received takes less.
constexpr long kStartMs = 30000;
constexpr long kReactMs = 10000;

// An X server with jwm, and the relay started there by the host simulator. Station 1 answers,
// so no alarm and no tray message of one stands in the way of the clicks.
struct XDesktop : ::testing::Test {
    testsupport::XSession x;
    testsupport::Instance inst;
    BaseSim base{{"--link", inst.Port("COM1"), "--stay"}};
    BaseSim host{{"--runtime-dir", inst.RuntimeDir(), "--exchange", inst.Exchange(), "--stdin",
                  "--", inst.Relay()},
                 BaseSim::BuiltProgram("dcrelay-hostsim")};
    void SetUp() override {
        ASSERT_TRUE(x.Start()) << x.Error();
        ASSERT_TRUE(base.Start()) << base.Error();
        host.SetReadyEvent("started");
        ASSERT_TRUE(host.Start(std::chrono::milliseconds(kStartMs))) << host.Error();
    }
    // Another window of the relay besides these two is showing: the tray icon's menu.
    bool MenuShowing(const std::string& icon, const std::string& window) const {
        std::istringstream ids(x.Tool("xdotool search --onlyvisible --classname dcrelay"));
        for (std::string id; ids >> id;) {
            if (id != icon && id != window) {
                return true;
            }
        }
        return false;
    }
    // Double-clicks the icon until the window shows: under load the two clicks of one try may
    // reach the server too far apart to make a double-click (a single click does nothing).
    bool DoubleClickShows(const std::string& icon, const std::string& window) {
        for (int attempt = 0; attempt < 3; ++attempt) {
            x.Click(icon, 8, 8, 1, 2);
            if (WaitUntil([&] { return x.Viewable(window); }, kReactMs)) {
                return true;
            }
        }
        return false;
    }
};

} // namespace

TEST_F(XDesktop, TrayFocusAndCloseBoxUnderARealDesktop) {

    std::string icon, window;
    ASSERT_TRUE(WaitUntil([&] { return !(icon = x.TrayIconOf("dcrelay")).empty(); }, kStartMs))
        << "the tray icon docks in jwm's tray";
    ASSERT_TRUE(
        WaitUntil([&] { return !(window = x.WindowNamed("无线点菜机管理")).empty(); }, kStartMs));
    EXPECT_TRUE(WaitUntil([&] { return x.Viewable(window); }, kReactMs)) << "the first showing";
    EXPECT_TRUE(WaitUntil([&] { return !x.Viewable(window); }, kReactMs)) << "hides again";

    ASSERT_TRUE(DoubleClickShows(icon, window)) << "double-click shows it";
    EXPECT_FALSE(WaitUntil([&] { return !x.Viewable(window); }, 1500))
        << "longer than the hide timer: a window brought up stays up";

    x.StartClient({"xmessage", "-geometry", "+600+100", "another program"});
    std::string otherWindow;
    ASSERT_TRUE(
        WaitUntil([&] { return !(otherWindow = x.WindowNamed("xmessage")).empty(); }, kStartMs));
    x.Click(otherWindow, 5, 5);
    EXPECT_TRUE(WaitUntil([&] { return !x.Viewable(window); }, kReactMs))
        << "another program's window took the focus";

    x.Click(icon, 8, 8, 3);
    ASSERT_TRUE(WaitUntil([&] { return MenuShowing(icon, window); }, kReactMs))
        << "right-click opens the menu";
    x.Tool("xdotool key Down Return");
    ASSERT_TRUE(WaitUntil([&] { return x.Viewable(window); }, kReactMs)) << "显示窗口 shows it";

    x.ClickCloseBox(window);
    EXPECT_TRUE(WaitUntil([&] { return !x.Viewable(window); }, kReactMs));
    EXPECT_FALSE(host.WaitForEvent("exit", 500ms)) << "the host window exists: only hidden";
    host.Send("close");
    auto exit = host.WaitForEvent("exit", std::chrono::milliseconds(kReactMs));
    ASSERT_TRUE(exit);
    EXPECT_EQ(exit->Int("status"), 0);
}

// Qt's own threads under X (the display's event reader) must not take SIGTERM: the relay ends
// through its controller and exits with status 0. Started again in standalone debug, it ends the
// same way while its warning box is still open.
TEST_F(XDesktop, SigtermEndsTheRelayWithItsWindowCleanly) {
    ASSERT_TRUE(WaitUntil([&] { return !x.WindowNamed("无线点菜机管理").empty(); }, kStartMs));
    host.Send("signal TERM");
    auto exit = host.WaitForEvent("exit", std::chrono::milliseconds(kReactMs));
    ASSERT_TRUE(exit);
    EXPECT_EQ(exit->Int("status"), 0);

    text::WriteFileAtomic(inst.Dir() + "debug2.txt", "");
    BaseSim debug{{"--runtime-dir", inst.RuntimeDir(), "--exchange", inst.Exchange(), "--stdin",
                   "--", inst.Relay()},
                  BaseSim::BuiltProgram("dcrelay-hostsim")};
    debug.SetReadyEvent("started");
    ASSERT_TRUE(debug.Start(std::chrono::milliseconds(kStartMs))) << debug.Error();
    ASSERT_TRUE(WaitUntil([&] { return !x.WindowNamed("警告").empty(); }, kStartMs));
    debug.Send("signal TERM");
    exit = debug.WaitForEvent("exit", std::chrono::milliseconds(kReactMs));
    ASSERT_TRUE(exit);
    EXPECT_EQ(exit->Int("status"), 0);
}
