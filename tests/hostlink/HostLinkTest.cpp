#include "hostlink/HostLink.h"
#include "HostlinkTestSupport.h"
#include "app/PumpWait.h"
#include "hostlink/HostEndpoint.h"
#include "hostlink/HostStream.h"
#include "support/EventPump.h"
#include "text/Gbk.h"
#include "worklog/WorkLog.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <stdexcept>
#include <unistd.h>

using namespace hostlink;
using hostlink_test::TempRuntime;
using namespace std::chrono_literals;

namespace {

// Stands in for the main controller: records every call in order.
class Recorder : public HostLinkOwner {
public:
    void ReplyReady() override {
        calls.push_back("ReplyReady");
        if (onReply) {
            onReply();
        }
    }
    void ShowMainWindow() override { calls.push_back("ShowMainWindow"); }
    // The decision runs once the host state says that the host closes.
    void RunCloseDecision() override {
        calls.push_back("RunCloseDecision");
        if (onClose) {
            onClose();
        }
    }

    void HostReplaced() override { calls.push_back("HostReplaced"); }
    void HostHandleChanged(unsigned handle) override { handles.push_back(handle); }

    std::vector<std::string> calls;
    std::vector<unsigned> handles;
    std::function<void()> onClose;
    std::function<void()> onReply;
};

std::vector<std::string> Utf8Lines(const WorkLog& log) {
    std::vector<std::string> out;
    for (const auto& line : log.Lines()) {
        out.push_back(text::ToUtf8(line));
    }
    return out;
}

std::string Received(unsigned handle, int code) {
    return "收到主程序[句柄:" + std::to_string(handle) + "]发来的消息[" + std::to_string(code) +
           "]";
}

class HostLinkTest : public ::testing::Test {
protected:
    void SetUp() override {
        testsupport::EnsureCoreApplication();
        std::string reason;
        ASSERT_TRUE(endpoint.Open(rt.path, own, reason)) << reason;
    }

    // Posts a message to the relay's window as the host does and lets it be handled.
    void Deliver(std::uint32_t first, std::int32_t code, std::size_t expectLines) {
        ASSERT_TRUE(PostMessage(rt.path, own, {first, code}));
        ASSERT_TRUE(testsupport::PumpUntil([&] { return log.LineCount() >= expectLines; }, 2s));
        app::PumpWait(0, 10); // anything more would show now
    }

    TempRuntime rt;
    const unsigned own = static_cast<unsigned>(::getpid());
    WorkLog log;
    Recorder owner;
    HostEndpoint endpoint;
    HostLink link{log, owner, &endpoint};
};

} // namespace

TEST_F(HostLinkTest, EveryCodeRangeOfTheMessageTable) {
    const std::string invalid = "无效的主程序句柄";
    const std::string closing = "收到窗口关闭信息,主程序句柄置为:0";
    const std::vector<std::string> reply = {"ReplyReady"};
    const std::vector<std::string> close = {"RunCloseDecision"};
    struct Case {
        unsigned handle;
        std::int32_t code;
        std::vector<std::string> lines; // after the received-message line
        std::vector<std::string> calls;
        unsigned handleAfter;
    };
    const Case cases[] = {
        {7, 0, {invalid}, {}, 7},
        {7, -1, {invalid}, {}, 7},
        {7, INT32_MIN, {invalid}, {}, 7},
        {7, 100000000, {invalid}, {}, 7},
        {0, 5, {"无主程序句柄,设置新句柄:5"}, {}, 5},
        {0, 99999999, {"无主程序句柄,设置新句柄:99999999"}, {}, 99999999},
        {7, 1, {}, reply, 7},
        {7, 5, {}, reply, 7},
        {7, 10, {}, reply, 7},
        {7, 14, {}, reply, 7},
        {7, 15, {}, reply, 7},
        {7, 17, {}, reply, 7},
        {7, 99999999, {}, reply, 7},
        {7, 11, {}, {}, 7},
        {7, 12, {}, {"ShowMainWindow"}, 7},
        {7, 13, {closing}, close, 0},
        {7, 16, {closing}, close, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("code " + std::to_string(c.code) + " handle " + std::to_string(c.handle));
        log.Clear();
        owner.calls.clear();
        link.SetHostHandle(c.handle);
        link.SetHostGone(false);
        link.SetHostClosing(false);
        owner.onClose = [&] {
            EXPECT_EQ(link.HostHandle(), 0u);
            EXPECT_TRUE(link.HostClosing() && link.HostGone());
        };
        // The first parameter plays no part: a closing code there changes nothing.
        Deliver(13, c.code, 1 + c.lines.size());
        std::vector<std::string> lines = {Received(c.handle, c.code)};
        lines.insert(lines.end(), c.lines.begin(), c.lines.end());
        EXPECT_EQ(Utf8Lines(log), lines);
        EXPECT_EQ(owner.calls, c.calls);
        EXPECT_EQ(link.HostHandle(), c.handleAfter);
        EXPECT_EQ(link.HostClosing(), c.code == 13 || c.code == 16);
        EXPECT_EQ(link.HostGone(), c.code == 13 || c.code == 16);
    }
}

TEST_F(HostLinkTest, AReplyHandlerErrorLeavesTheLinkUsable) {
    link.SetHostHandle(7);
    owner.onReply = [] { throw std::runtime_error("R2.txt"); };
    EXPECT_THROW(link.HandleMessage(0, 1), std::runtime_error);
    owner.onReply = nullptr;
    owner.calls.clear();
    link.HandleMessage(0, 1);
    EXPECT_EQ(owner.calls, (std::vector<std::string>{"ReplyReady"}));
}

TEST_F(HostLinkTest, NotifyHostPostsExactlyOneMessageUnlessTheHandleIsZero) {
    HostSocket host;
    ASSERT_EQ(host.Open(rt.path, 4242), "");
    HostSocket windowZero;
    ASSERT_EQ(windowZero.Open(rt.path, 0), "");

    link.SetHostHandle(4242);
    for (int i = 0; i < 3; ++i) {
        link.NotifyHost();
    }
    EXPECT_EQ(Utf8Lines(log)[0], "主程序句柄:[4242]");
    EXPECT_EQ(Utf8Lines(log)[1], "向主程序[4242]发送消息,通知主程序读取 T1.TXT");
    EXPECT_EQ(log.LineCount(), 6u);
    for (int i = 0; i < 3; ++i) {
        auto m = host.Receive();
        ASSERT_TRUE(m) << "message " << i;
        EXPECT_EQ(m->first, 1u);
        EXPECT_EQ(m->second, 1);
    }
    EXPECT_FALSE(host.Receive());

    log.Clear();
    link.SetHostHandle(0);
    link.NotifyHost();
    EXPECT_EQ(Utf8Lines(log), (std::vector<std::string>{"主程序句柄:[0]", "错误的主程序句柄[0]"}));
    EXPECT_FALSE(windowZero.Receive());
    EXPECT_FALSE(host.Receive());
}

TEST_F(HostLinkTest, StartupAnnouncementAndHostWindowExists) {
    HostSocket host;
    ASSERT_EQ(host.Open(rt.path, 4243), "");
    link.SetHostHandle(4243);
    EXPECT_TRUE(link.HostWindowExists());
    link.PostStartupAnnouncement();
    auto m = host.Receive();
    ASSERT_TRUE(m);
    EXPECT_EQ(m->first, own);
    EXPECT_EQ(m->second, static_cast<std::int32_t>(own));
    EXPECT_FALSE(host.Receive());
    EXPECT_TRUE(log.Lines().empty());

    host.Close();
    EXPECT_FALSE(link.HostWindowExists());
    link.SetHostHandle(0);
    EXPECT_FALSE(link.HostWindowExists());
}

// A stream host gets the announcement and the notifications on its connection and answers on
// it; its closing message closes the relay, and the connection's end is logged as such.
TEST_F(HostLinkTest, AStreamHostTalksOnItsConnection) {
    StreamWindow window;
    ASSERT_EQ(window.Open(rt.path, 4244), "");
    link.SetHostHandle(4244);
    link.PostStartupAnnouncement();
    HostStream host;
    ASSERT_TRUE(window.Accept(host));
    EXPECT_TRUE(link.HostWindowExists());
    link.NotifyHost();
    std::vector<std::string> got;
    ASSERT_TRUE(testsupport::PumpUntil(
        [&] {
            HostMessage m;
            int error = 0;
            if (host.ReadSome(m, error) == HostStream::Read::Message) {
                got.push_back(std::to_string(m.first) + "," + std::to_string(m.second));
            }
            return got.size() == 2;
        },
        2s));
    EXPECT_EQ(got,
              (std::vector<std::string>{std::to_string(own) + "," + std::to_string(own), "1,1"}));

    owner.onClose = [&] { host.Close(); };
    for (std::int32_t code : {1, 13}) {
        ASSERT_TRUE(host.Write({4244, code}));
    }
    ASSERT_TRUE(testsupport::PumpUntil([&] { return log.LineCount() == 6; }, 2s));
    app::PumpWait(0, 10);
    EXPECT_EQ(owner.calls, (std::vector<std::string>{"ReplyReady", "RunCloseDecision"}));
    const std::vector<std::string> lines = Utf8Lines(log);
    EXPECT_EQ(std::vector<std::string>(lines.begin() + 2, lines.end()),
              (std::vector<std::string>{Received(4244, 1), Received(4244, 13),
                                        "收到窗口关闭信息,主程序句柄置为:0",
                                        "主程序消息端点[" + rt.path + "/win-4244]的连接已断开"}));
    EXPECT_FALSE(link.HostWindowExists());
}

// A restarted host's handle from a second start: refused while the host lives, adopted once it
// is gone, with the start-up announcement to the new host.
TEST_F(HostLinkTest, AHandOverIsAdoptedOnlyWhenTheHostWindowIsGone) {
    HostSocket host;
    ASSERT_EQ(host.Open(rt.path, 4244), "");
    HostSocket next;
    ASSERT_EQ(next.Open(rt.path, 4245), "");
    link.SetHostHandle(4244);
    EXPECT_FALSE(link.HandOver(4245));
    EXPECT_EQ(Utf8Lines(log), (std::vector<std::string>{
                                  "主程序[句柄:4244]仍在运行,不接受新启动的主程序句柄:4245"}));
    EXPECT_EQ(link.HostHandle(), 4244u);
    EXPECT_TRUE(owner.calls.empty());
    EXPECT_FALSE(next.Receive());

    host.Close(); // killed: no closing message
    log.Clear();
    EXPECT_TRUE(link.HandOver(4245));
    EXPECT_EQ(Utf8Lines(log),
              (std::vector<std::string>{"主程序[句柄:4244]已不存在,改用新启动的主程序句柄:4245"}));
    EXPECT_EQ(link.HostHandle(), 4245u);
    EXPECT_EQ(owner.handles.back(), 4245u);
    EXPECT_EQ(owner.calls, (std::vector<std::string>{"HostReplaced"}));
    auto announcement = next.Receive();
    ASSERT_TRUE(announcement);
    EXPECT_EQ(announcement->first, own);
    EXPECT_EQ(announcement->second, static_cast<std::int32_t>(own));
}

// The requests wait for a restarted host; the work log says so once, not for every request.
TEST_F(HostLinkTest, ANotificationThatFindsTheHostGoneIsLoggedOnce) {
    link.SetHostHandle(4246); // no such window
    for (int i = 0; i < 3; ++i) {
        link.NotifyHost();
    }
    const std::string gone = "主程序窗口[句柄:4246]已不存在,请求留在命令缓存中,等待主程序重新启动";
    std::vector<std::string> lines = Utf8Lines(log);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), gone), 1) << ::testing::PrintToString(lines);
    EXPECT_EQ(lines.size(), 7u);

    HostSocket host;
    ASSERT_EQ(host.Open(rt.path, 4246), "");
    link.NotifyHost();
    host.Close(); // back, then gone again: said again
    log.Clear();
    link.NotifyHost();
    lines = Utf8Lines(log);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), gone), 1);
}

TEST(HostLinkWithoutEndpoint, LogsButPostsNothing) {
    WorkLog log;
    Recorder owner;
    HostLink link(log, owner, nullptr);
    link.SetHostHandle(9);
    link.NotifyHost();
    link.PostStartupAnnouncement();
    EXPECT_EQ(log.LineCount(), 2u);
    EXPECT_FALSE(link.HostWindowExists());
}
