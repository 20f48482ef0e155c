// The relay's tray icon on a StatusNotifierItem host (Xvfb, a session bus of its own, jwm
// without a tray and xfce4-panel's status tray): the item is registered with the panel's
// watcher, its tip names the program and the relay's state, its activation (what the panel sends
// for a click) shows the hidden window, and its exported menu holds "显示窗口", whose entry
// shows the window.
#include "support/BaseSim.h"
#include "support/Instance.h"
#include "support/WaitUntil.h"
#include "support/XSession.h"

#include <gmock/gmock.h>
#include <unistd.h>

using testing::HasSubstr;
using testsupport::BaseSim;
using testsupport::WaitUntil;
using testsupport::XSession;

namespace {

// The id of the first menu entry labelled `label` in a printed dbusmenu layout: the last int32
// printed before the label.
std::string EntryId(const std::string& layout, const std::string& label) {
    const std::size_t at = layout.find("\"" + label + "\"");
    const std::size_t id = layout.rfind("int32 ", at);
    if (at == std::string::npos || id == std::string::npos) {
        return "";
    }
    return std::to_string(std::atoi(layout.c_str() + id + 6));
}

struct SniDesktop : ::testing::Test {
    XSession x;
    testsupport::Instance inst;
    BaseSim base{{"--link", inst.Port("COM1"), "--stay"}}; // station 1 answers: no alarm
    BaseSim host{{"--runtime-dir", inst.RuntimeDir(), "--exchange", inst.Exchange(), "--stdin",
                  "--", inst.Relay()},
                 BaseSim::BuiltProgram("dcrelay-hostsim")};
    void SetUp() override {
        ASSERT_TRUE(x.Start(XSession::Tray::StatusNotifier)) << x.Error();
        ASSERT_TRUE(base.Start()) << base.Error();
        host.SetReadyEvent("started");
        ASSERT_TRUE(host.Start()) << host.Error();
    }
    // Hidden: another program's window takes the focus.
    void HideByOtherProgram(const std::string& window) {
        x.Click(otherWindow, 5, 5);
        ASSERT_TRUE(WaitUntil([&] { return !x.Viewable(window); }, 3000));
    }
    std::string otherWindow;
};

TEST_F(SniDesktop, ActivationAndTheExportedMenuEntryShowTheWindow) {
    std::vector<std::string> items;
    ASSERT_TRUE(WaitUntil([&] { return !(items = x.StatusNotifierItems()).empty(); }, 10000))
        << "the item is registered with the panel's watcher";
    const std::string service = items[0].substr(0, items[0].find('/'));
    const std::string item = "--dest=" + service + " /StatusNotifierItem ";
    const std::string property =
        item + "org.freedesktop.DBus.Properties.Get string:org.kde.StatusNotifierItem string:";

    std::string window;
    ASSERT_TRUE(
        WaitUntil([&] { return !(window = x.WindowNamed("无线点菜机管理")).empty(); }, 5000));
    EXPECT_TRUE(WaitUntil([&] { return !x.Viewable(window); }, 4000)) << "hidden to the tray";
    std::string tip;
    EXPECT_TRUE(WaitUntil(
        [&] {
            tip = x.Bus(property + "ToolTip");
            return tip.find("无线点菜机管理：基站应答 1/1，主机在线，待答请求 0") !=
                   std::string::npos;
        },
        10000))
        << tip;

    x.Bus(item + "org.kde.StatusNotifierItem.Activate int32:0 int32:0");
    ASSERT_TRUE(WaitUntil([&] { return x.Viewable(window); }, 3000)) << "a click shows it";
    usleep(1500 * 1000); // longer than the hide timer: a window brought up stays up
    EXPECT_TRUE(x.Viewable(window));

    x.StartClient({"xmessage", "-geometry", "+600+100", "another program"});
    ASSERT_TRUE(
        WaitUntil([&] { return !(otherWindow = x.WindowNamed("xmessage")).empty(); }, 5000));
    HideByOtherProgram(window);

    EXPECT_THAT(x.Bus(property + "Menu"), HasSubstr("/MenuBar")) << "the menu is exported";
    const std::string layout = x.Bus("--dest=" + service +
                                     " /MenuBar com.canonical.dbusmenu.GetLayout int32:0 "
                                     "int32:-1 array:string:");
    const std::string entry = EntryId(layout, "显示窗口");
    ASSERT_FALSE(entry.empty()) << layout;
    x.Bus("--dest=" + service + " /MenuBar com.canonical.dbusmenu.Event int32:" + entry +
          " string:clicked variant:int32:0 uint32:0");
    EXPECT_TRUE(WaitUntil([&] { return x.Viewable(window); }, 3000)) << "显示窗口 shows it";

    host.Send("close");
    auto exit = host.WaitForEvent("exit", std::chrono::seconds(5));
    ASSERT_TRUE(exit);
    EXPECT_EQ(exit->Int("status"), 0);
}

} // namespace
