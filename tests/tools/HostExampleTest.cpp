// The example hosts (Python, Java, Node.js, C on either carrier) run the demo's service against
// the relay: a log-in, an order of two items, a request whose file is empty, the host's replies
// reaching the handhelds, and the host closing the relay.
#include "dcrelay_host.h"

#include "baselink/xyTypeConv.h"
#include "hostlink/HostProtocol.h"
#include "support/BaseSim.h"
#include "support/EnvGuard.h"
#include "support/Instance.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace std::chrono_literals;
using testsupport::BaseSim;
using testsupport::Instance;

namespace {

std::string B(int n) {
    return std::string(static_cast<std::size_t>(n), ' ');
}

// `name` found on PATH, as a shell would run it.
std::string OnPath(const std::string& name) {
    const std::string path = std::getenv("PATH") != nullptr ? std::getenv("PATH") : "";
    for (std::size_t start = 0; start <= path.size();) {
        const std::size_t end = std::min(path.find(':', start), path.size());
        const std::string candidate = path.substr(start, end - start) + "/" + name;
        if (::access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
        start = end + 1;
    }
    return name;
}

struct Example {
    std::string name;
    std::string program;
    std::vector<std::string> before; // arguments before the example's own
};

void PrintTo(const Example& example, std::ostream* os) {
    *os << example.name;
}

const std::string kHostDir = DCRELAY_SOURCE_DIR "/examples/host/";

class HostExample : public ::testing::TestWithParam<Example> {};

TEST_P(HostExample, ServesALogInAnOrderAndAnEmptyRequestAndClosesTheRelay) {
    testsupport::EnvGuard locale("LC_ALL", "C.UTF-8"); // Java reads its arguments by the locale
    Instance inst;
    BaseSim base({"--link", inst.Port("COM1"), "--stay"});
    ASSERT_TRUE(base.Start()) << base.Error();
    std::vector<std::string> args = GetParam().before;
    args.insert(args.end(), {"--exchange", inst.Exchange(), "--reply", "DL=欢迎光临", "--reply",
                             "DC=下单成功,共2项", "--reply", "PYKH=拼音已更新", inst.Relay()});
    BaseSim host(args, GetParam().program);
    host.SetReadyEvent("started");
    ASSERT_TRUE(host.Start(30s)) << host.Error(); // the JVM compiles the example first
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

    // Operation 19's request file is empty; the reply names the operation, so the handheld
    // hears PYKH and not a log-in answer.
    base.Send("req 5 19");
    request = host.WaitForEvent("request", 8s);
    ASSERT_TRUE(request);
    EXPECT_EQ(request->Str("text"), "");
    reply = base.WaitForKind("reply", 8s);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->Str("op"), "PYKH");
    EXPECT_EQ(reply->Str("text"), "拼音已更新");

    host.Send("close");
    auto closed = host.WaitForEvent("closed", 15s);
    ASSERT_TRUE(closed);
    EXPECT_EQ(closed->Int("status"), 0);
    EXPECT_FALSE(closed->Bool("terminated")) << "the relay ended on the host's closing message";
    EXPECT_EQ(host.WaitExit(5s), 0);
}

// The C and C++ header writes and reads the relay's messages.
TEST(HostHeader, MessagesAreTheRelays) {
    const dcr_message sent{0x01020304u, -2};
    unsigned char bytes[DCR_MESSAGE_SIZE];
    dcr_encode(&sent, bytes);
    const auto got = hostlink::DecodeMessage(bytes, sizeof bytes);
    ASSERT_TRUE(got);
    EXPECT_EQ(got->first, sent.first);
    EXPECT_EQ(got->second, sent.second);
    const hostlink::Datagram d = hostlink::EncodeMessage({77, 77});
    dcr_message m{};
    ASSERT_TRUE(dcr_decode(d.data(), &m));
    EXPECT_TRUE(dcr_is_announcement(&m));
    hostlink::Datagram other = d;
    other[1] = 0x06;
    EXPECT_FALSE(dcr_decode(other.data(), &m)) << "another message number";
}

INSTANTIATE_TEST_SUITE_P(
    Examples, HostExample,
    ::testing::Values(Example{"Python", kHostDir + "dcrelay_host.py", {}},
                      Example{"Java", OnPath("java"), {kHostDir + "DcrelayHost.java"}},
                      Example{"Node", OnPath("node"), {kHostDir + "dcrelay_host.js"}},
                      Example{"C", DCRELAY_HOST_EXAMPLE_C, {}},
                      Example{"CStream", DCRELAY_HOST_EXAMPLE_C, {"--stream"}}),
    [](const ::testing::TestParamInfo<Example>& info) { return info.param.name; });

} // namespace
