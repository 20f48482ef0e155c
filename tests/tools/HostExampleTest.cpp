// The Python example host runs the demo's service against the relay: a log-in, an order of two
// items, the host's replies reaching the handhelds, and the host closing the relay.
#include "baselink/xyTypeConv.h"
#include "support/BaseSim.h"
#include "support/Instance.h"

#include <gtest/gtest.h>

using namespace std::chrono_literals;
using testsupport::BaseSim;
using testsupport::Instance;

namespace {

std::string B(int n) {
    return std::string(static_cast<std::size_t>(n), ' ');
}

TEST(HostExample, ServesALogInAndAnOrderAndClosesTheRelay) {
    Instance inst;
    BaseSim base({"--link", inst.Port("COM1"), "--stay"});
    ASSERT_TRUE(base.Start()) << base.Error();
    BaseSim host({"--exchange", inst.Exchange(), "--reply", "DL=欢迎光临", "--reply",
                  "DC=下单成功,共2项", inst.Relay()},
                 DCRELAY_SOURCE_DIR "/examples/host/dcrelay_host.py");
    host.SetReadyEvent("started");
    ASSERT_TRUE(host.Start()) << host.Error();
    ASSERT_TRUE(host.WaitForEvent("announced", 5s));
    ASSERT_TRUE(base.WaitForKind("query", 5s));

    base.Send("req 5 DL t=120000000000 CNS0090008000 999     ");
    auto request = host.WaitForEvent("request", 8s);
    ASSERT_TRUE(request);
    EXPECT_EQ(request->Str("mnemonic"), "DL");
    EXPECT_EQ(request->Str("handheld"), "005");
    auto reply = base.WaitForKind("reply", 8s);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->Str("text"), "欢迎光临");
    EXPECT_EQ(reply->Str("status"), "OK");

    const std::string fixed = std::string("0000012") + "4 " + "xx" + "000000000001";
    const std::string item1 = std::string("00101") + "   2" + "ABCDEFGHIJKL" + "01" + "0" + "zzzz";
    const std::string item2 = std::string("00207") + "  10" + B(12) + "02" + "1" + "zzzz";
    base.Send("req 108 DC t=291615000000 hex:" +
              HexCodec::BytesToHex(fixed + "\x02" + item1 + item2));
    request = host.WaitForEvent("request", 8s);
    ASSERT_TRUE(request);
    EXPECT_EQ(request->Str("text"),
              "DC   108\r\n" + ("0000012" + B(12) + "000000000001" + B(6) + "15:16:29") + "\r\n" +
                  ("0000012 00101" + B(4) + "2 ABCDEFGHIJKL 01 0 15:16:29" + B(6) + "4 ") + "\r\n" +
                  ("0000012 00207" + B(3) + "10" + B(14) + "02 1 15:16:29" + B(6) + "4 ") + "\r\n");
    reply = base.WaitForKind("reply", 8s);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->Int("handheld"), 108);
    EXPECT_EQ(reply->Str("text"), "下单成功,共2项");
    EXPECT_EQ(reply->Str("status"), "OK");

    host.Send("close");
    auto closed = host.WaitForEvent("closed", 10s);
    ASSERT_TRUE(closed);
    EXPECT_EQ(closed->Int("status"), 0);
    EXPECT_FALSE(closed->Bool("terminated")) << "the relay ended on the host's closing message";
    EXPECT_EQ(host.WaitExit(5s), 0);
}

} // namespace
