// The receive pipeline in the running relay: dcrelay-hostsim plays the host and starts dcrelay;
// two dcrelay-basesim processes play base stations 1 (02) and 2 (03) on pseudo-terminals.
#include "baselink/BaseFrame.h"
#include "baselink/xyTypeConv.h"
#include "support/BaseSim.h"
#include "support/Instance.h"
#include "support/LinkNoise.h"

#include <cstdio>
#include <gtest/gtest.h>

using namespace std::chrono_literals;
using testsupport::BaseSim;
using testsupport::Instance;
using testsupport::SimLine;

namespace {

using Clock = std::chrono::steady_clock;

struct ReceiveProcessTest : ::testing::Test {
    std::unique_ptr<Instance> inst;
    std::unique_ptr<BaseSim> base1, base2, host;

    void SetUp() override {
        testsupport::InstanceSettings s;
        s.ports = {"COM1", "COM2", "", ""};
        s.ids = {"02", "03", "", ""};
        inst = std::make_unique<Instance>(s);
        base1 = Station("COM1", "02");
        base2 = Station("COM2", "03");
        host = std::make_unique<BaseSim>(
            std::vector<std::string>{"--runtime-dir", inst->RuntimeDir(), "--exchange",
                                     inst->Exchange(), "--stdin", "--reply", "好\\n", "--",
                                     inst->Relay()},
            BaseSim::BuiltProgram("dcrelay-hostsim"));
        host->SetReadyEvent("started");
        ASSERT_TRUE(host->Start()) << host->Error();
        for (BaseSim* b : {base1.get(), base2.get()}) {
            ASSERT_TRUE(b->WaitFor([](const SimLine& l) { return l.Kind() == "query"; }, 5s));
        }
    }
    void TearDown() override {
        host->Send("close");
        EXPECT_EQ(host->WaitExit(5s), 0);
    }
    std::unique_ptr<BaseSim> Station(const std::string& port, const std::string& id) {
        auto b = std::make_unique<BaseSim>(
            std::vector<std::string>{"--link", inst->Port(port), "--id", id, "--stay"});
        EXPECT_TRUE(b->Start()) << b->Error();
        return b;
    }
    // The time from a request of handheld 5 on `base` to its reply; nothing without a reply.
    std::optional<Clock::duration> AnswerTime(BaseSim& base) {
        auto start = Clock::now();
        base.Send("req 5 KT 01");
        if (!base.WaitForKind("reply", 5s)) {
            return std::nullopt;
        }
        return Clock::now() - start;
    }
};

std::string Raw(const std::string& bytes) {
    return "raw " + HexCodec::BytesToHex(bytes);
}

} // namespace

TEST_F(ReceiveProcessTest, ACutOrderOnOneStationDoesNotDelayAnother) {
    auto alone = AnswerTime(*base2);
    ASSERT_TRUE(alone);
    // Base station 1 sends the first 2,048 bytes of a longer frame and falls silent.
    std::string order = HexCodec::HexToText(
        BaseFrame::BuildRequest(2, 5, "000000000000", 2, std::string(2600, 'x')));
    base1->Send(Raw(order.substr(0, 2048)));
    auto withCut = AnswerTime(*base2);
    ASSERT_TRUE(withCut);
    EXPECT_LT(*withCut, *alone + 300ms);
    // Base station 1 is heard again after its silence.
    EXPECT_TRUE(AnswerTime(*base1));
}

TEST_F(ReceiveProcessTest, AnOrderLongerThanOneChunkIsRelayedWhole) {
    // 87 items of 28 bytes behind the 24-byte fixed part, padded to a 2,500-byte frame.
    std::string data = "0000012" + std::string("4 ") + "xx" + "000000000001" + "\x57";
    char item[32];
    for (int i = 1; i <= 87; ++i) {
        std::snprintf(item, sizeof item, "%05d   1ITEM%08d010zzzz", i, i);
        data += item;
    }
    data += std::string(2500 - 17 - data.size(), ' ');
    base1->Send("req 5 DC hex:" + HexCodec::BytesToHex(data));
    auto request = host->WaitForEvent("request", 5s);
    ASSERT_TRUE(request);
    std::string record = HexCodec::HexToText(request->Str("hex"));
    EXPECT_NE(record.find("00087    1 ITEM00000087 01 0"), std::string::npos) << record;
    EXPECT_TRUE(base1->WaitForKind("reply", 5s));
}

TEST_F(ReceiveProcessTest, GarbageBehindARequestHeadLeavesTheStationHeard) {
    base1->Send(Raw(testsupport::LinkNoise(100 * 1024, 1)));
    auto sent = base1->WaitFor(
        [](const SimLine& l) { return l.Event() == "sent" && l.Str("what") == "raw"; }, 5s);
    ASSERT_TRUE(sent);
    auto garbageSent = Clock::now();
    base1->Send("req 5 KT 01");
    EXPECT_TRUE(base1->WaitForKind("reply", 5s));
    EXPECT_LT(Clock::now() - garbageSent, 1s) << "answered within 1 s of the garbage";
}
