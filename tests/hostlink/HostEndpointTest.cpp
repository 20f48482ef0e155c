#include "hostlink/HostEndpoint.h"
#include "HostlinkTestSupport.h"
#include "app/PumpWait.h"
#include "support/EventPump.h"
#include "text/Gbk.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace hostlink;
using hostlink_test::TempRuntime;
using namespace std::chrono_literals;

namespace {

class HostEndpointTest : public ::testing::Test {
protected:
    void SetUp() override { testsupport::EnsureCoreApplication(); }
    TempRuntime rt;
};

} // namespace

// Messages are delivered one at a time in arrival order; a receiver that waits gets the next
// messages inside its wait, each exactly once, including one posted during the wait.
TEST_F(HostEndpointTest, DeliversInOrderInsideNestedWaitsEachOnce) {
    HostEndpoint endpoint;
    std::string reason;
    ASSERT_TRUE(endpoint.Open(rt.path, 300, reason)) << reason;
    std::vector<std::string> events;
    QObject::connect(&endpoint, &HostEndpoint::MessageReceived, [&](quint32, qint32 code) {
        events.push_back("begin " + std::to_string(code));
        if (code == 1) {
            endpoint.Post(300, 0, 6); // arrives while 1 still waits
        }
        if (code == 1 || code == 3) {
            app::PumpWait(0, 40);
        }
        events.push_back("end " + std::to_string(code));
    });
    for (int code = 1; code <= 5; ++code) {
        ASSERT_TRUE(PostMessage(rt.path, 300, {0, code}));
    }
    ASSERT_TRUE(testsupport::PumpUntil([&] { return events.size() == 12; }, 2s));
    app::PumpWait(0, 20);
    const std::vector<std::string> expected = {"begin 1", "begin 2", "end 2",   "begin 3",
                                               "begin 4", "end 4",   "begin 5", "end 5",
                                               "begin 6", "end 6",   "end 3",   "end 1"};
    EXPECT_EQ(events, expected);
}

TEST_F(HostEndpointTest, OpenFailureGivesAWorkLogReasonAndClosedEndpointPostsNothing) {
    HostEndpoint endpoint;
    std::string reason;
    EXPECT_FALSE(endpoint.Open(rt.path + "/missing", 301, reason));
    EXPECT_NE(text::ToUtf8(reason).find("主程序消息端点[" + rt.path + "/missing/win-301]无法打开"),
              std::string::npos)
        << text::ToUtf8(reason);
    EXPECT_FALSE(endpoint.WindowExists(301));
    endpoint.Post(301, 1, 1); // nothing to post from: ignored

    ASSERT_TRUE(endpoint.Open(rt.path, 301, reason));
    EXPECT_TRUE(endpoint.WindowExists(301));
    endpoint.Close();
    struct stat st {};
    EXPECT_NE(::lstat((rt.path + "/win-301").c_str(), &st), 0);
}
