#include "baselink/BaseFrame.h"
#include "baselink/PdaReply.h"
#include "baselink/xyTypeConv.h"
#include "text/Gbk.h"
#include "worklog/WorkLog.h"

#include <deque>
#include <gtest/gtest.h>
#include <map>
#include <stdexcept>
#include <tuple>
#include <vector>

namespace {

const std::string kWorkedRequest =
    "AA31026C001F2916150000004C434E5330303930303038303030203939392020202020AABB0645";

struct RecordingPorts : BasePorts {
    std::vector<std::pair<int, std::string>> sent;
    bool open = true;
    bool SendData(int slot, const std::string& bytes) override {
        if (open) {
            sent.emplace_back(slot, bytes);
        }
        return open;
    }
};

// Keeps every reply while `out`.
struct RecordingHold : ReplyHold {
    bool out = false;
    std::deque<StationReply> kept;
    bool Keep(int slot, const StationReply& reply) override {
        if (out) {
            EXPECT_EQ(slot, 1);
            kept.push_back(reply);
        }
        return out;
    }
};

std::string Hex(const std::string& bytes) {
    static const char d[] = "0123456789ABCDEF";
    std::string h;
    for (unsigned char c : bytes) {
        h += d[c >> 4];
        h += d[c & 15];
    }
    return h;
}

struct SenderFixture : ::testing::Test {
    std::array<std::string, kStationCount> ids{"02", "", "", ""};
    RecordingPorts ports;
    WorkLog log;
    BaseSender sender{ids, ports, log, [](int op) { return "OP" + std::to_string(op); }};
};

} // namespace

TEST(BaseFrame, WorkedFramesByteForByte) {
    EXPECT_EQ(BaseFrame::BuildRequest(0x02, 0x6C, "291615000000", 0, "CNS0090008000 999     "),
              kWorkedRequest);
    EXPECT_EQ(BaseFrame::BuildReply(0, 0x02, 0x6C, "abc", "291615000000", true),
              "AA32026C00132916150000004C6C4F4B03008097616263AABB054B");
    EXPECT_EQ(BaseFrame::BuildReply(0, 0x02, 0x6C, "", "FFFFFFFFFFFF", false),
              "AA32026C0010FFFFFFFFFFFF4C6C4E4F0000FFFFAABB0AB2");
}

TEST(BaseFrame, ReplyTextLengthAndCrc) {
    // One byte "A": hex text 41, CRC over the single digit 4
    std::string one = BaseFrame::BuildReply(1, 0x02, 5, "A", "000000000000", true);
    EXPECT_EQ(one.substr(8, 4), "0011");  // L = 1 + 16
    EXPECT_EQ(one.substr(32, 4), "0100"); // length low byte first
    EXPECT_EQ(one.substr(36, 4), "97BE"); // CRC-16/MODBUS of "4"
    EXPECT_EQ(one.substr(40, 6), "41AABB");
    std::string big =
        BaseFrame::BuildReply(1, 0x02, 5, std::string(256, 'x'), "000000000000", true);
    EXPECT_EQ(big.substr(32, 4), "0001");
    EXPECT_EQ(big.size(), 2u * (256 + 24));
    // The station and handheld bytes at both ends of their range, in the address and after the
    // operation byte.
    const std::string ends = BaseFrame::BuildReply(0, 0xFF, 0, "", "000000000000", true);
    EXPECT_EQ(ends.substr(4, 4) + ends.substr(26, 2), "FF0000");
    const std::string high = BaseFrame::BuildReply(0, 0, 0xFF, "", "000000000000", true);
    EXPECT_EQ(high.substr(4, 4) + high.substr(26, 2), "00FFFF");
}

TEST_F(SenderFixture, ReplyIsLoggedInFourLinesThenRoutedToSlotOne) {
    sender.SendPdaReply(0, 0x02, 108, "abc", "291615000000", true);
    ASSERT_EQ(log.LineCount(), 5u);
    EXPECT_EQ(log.Lines()[0], text::ToGbk("向PDA 108 发送：OP0\r\n") +
                                  "AA32026C00132916150000004C6C4F4B03008097616263AABB054B");
    EXPECT_EQ(log.Lines()[1], std::string(59, '-'));
    EXPECT_EQ(log.Lines()[2], "abc");
    EXPECT_EQ(log.Lines()[3], std::string(59, '='));
    EXPECT_EQ(log.Lines()[4], text::ToGbk("由 基站1 发送"));
    ASSERT_EQ(ports.sent.size(), 1u);
    EXPECT_EQ(ports.sent[0].first, 1);
    EXPECT_EQ(Hex(ports.sent[0].second), "AA32026C00132916150000004C6C4F4B03008097616263AABB054B");
}

// "由 基站1 发送" only for a reply that its port took: one for a port that is out is kept (and
// logged as sent once it goes out), one for a closed port is logged as not sent.
TEST_F(SenderFixture, AReplyIsLoggedAsSentOnlyWhenItsPortTookIt) {
    RecordingHold hold;
    sender.SetReplyHold(&hold);
    hold.out = true;
    sender.SendPdaReply(0, 0x02, 108, "abc", "291615000000", true);
    sender.SendPdaReply(1, 0x02, 5, "d", "291615000000", true);
    EXPECT_TRUE(ports.sent.empty());
    EXPECT_EQ(log.LineCount(), 8u) << "four lines each, none saying sent";
    ASSERT_EQ(hold.kept.size(), 2u);
    EXPECT_EQ(hold.kept[0].Frame, "AA32026C00132916150000004C6C4F4B03008097616263AABB054B");
    EXPECT_EQ(hold.kept[0].Handheld, "108");
    EXPECT_EQ(hold.kept[0].Operation, "OP0");

    hold.out = false;
    log.Clear();
    sender.SendKept(1, hold.kept);
    ASSERT_EQ(ports.sent.size(), 2u);
    EXPECT_EQ(Hex(ports.sent[0].second), hold.kept[0].Frame);
    EXPECT_EQ(Hex(ports.sent[1].second), hold.kept[1].Frame);
    ASSERT_EQ(log.LineCount(), 4u);
    EXPECT_EQ(text::ToUtf8(log.Lines()[0]), "由 基站1 发送");
    EXPECT_EQ(text::ToUtf8(log.Lines()[1]), "基站1 补发了向PDA 108 的回复 OP0");

    ports.open = false;
    log.Clear();
    sender.SendPdaReply(0, 0x02, 108, "abc", "291615000000", true);
    ASSERT_EQ(log.LineCount(), 5u);
    EXPECT_EQ(text::ToUtf8(log.Lines()[4]), "基站1 的串口未打开，向PDA 108 的回复 OP0 未发送");
}

TEST_F(SenderFixture, RoutingComparesTheStationTextExactly) {
    struct Case {
        std::array<std::string, kStationCount> ids;
        int slot; // 0: not sent
    } cases[] = {
        {{"2", "", "", ""}, 0},  {{"", "02", "02", ""}, 2}, {{"", "", "", "02"}, 4},
        {{"0a", "", "", ""}, 0}, {{"", "", "", ""}, 0},
    };
    for (const auto& c : cases) {
        ids = c.ids;
        ports.sent.clear();
        log.Clear();
        sender.SendPdaReply(0, 0x02, 108, "abc", "291615000000", true);
        if (c.slot == 0) {
            EXPECT_TRUE(ports.sent.empty());
        } else {
            ASSERT_EQ(ports.sent.size(), 1u);
            EXPECT_EQ(ports.sent[0].first, c.slot);
        }
        EXPECT_EQ(log.LineCount(), 4u) << "only slot 1 adds its line";
    }
    ids = {"", "0A", "", ""};
    ports.sent.clear();
    sender.SendPdaReply(0, 0x0A, 5, "x", "291615000000", false);
    ASSERT_EQ(ports.sent.size(), 1u);
}

TEST_F(SenderFixture, AFailureWhileSendingIsLoggedAndNothingIsSent) {
    BaseSender failing{ids, ports, log, [](int) -> std::string { throw std::runtime_error("x"); }};
    failing.SendPdaReply(0, 0x02, 108, "abc", "291615000000", true);
    ASSERT_EQ(log.LineCount(), 1u);
    EXPECT_EQ(log.Lines()[0], text::ToGbk("发送数据失败.信息:") + "x");
    EXPECT_TRUE(ports.sent.empty());
}

TEST_F(SenderFixture, SendToBaseNeedsASlotWithAnId) {
    sender.SendToBase("AA00000000000000", 1);
    sender.SendToBase("AA00000000000000", 2); // no BaseId
    sender.SendToBase("AA00000000000000", 0);
    sender.SendToBase("AA00000000000000", 5);
    ASSERT_EQ(ports.sent.size(), 1u);
    EXPECT_EQ(ports.sent[0].second, std::string("\xAA\0\0\0\0\0\0\0", 8));
    EXPECT_EQ(log.LineCount(), 0u);
}

namespace {

BaseFrame::RequestCheck Check(const std::string& hex) {
    std::string b = HexCodec::HexToText(hex);
    return BaseFrame::CheckRequest({reinterpret_cast<const std::uint8_t*>(b.data()), b.size()});
}

// A request frame around `body` (hex, trailer included) with its correct check.
std::string Framed(const std::string& body) {
    return "AA31026C" + HexCodec::ToHex(static_cast<int>(body.size() / 2), 4) + body +
           HexCodec::HexSum16(body);
}

} // namespace

TEST(CheckRequest, WorkedRequestGivesItsFieldsAndLength) {
    for (const std::string extra : {"", "AA3100"}) {
        auto c = Check(kWorkedRequest + extra);
        ASSERT_EQ(c.Verdict, BaseFrame::RequestVerdict::Request);
        EXPECT_EQ(c.Length, 39u);
        EXPECT_EQ(c.Frame.BaseByte, 2);
        EXPECT_EQ(c.Frame.Handheld, 108);
        EXPECT_EQ(c.Frame.Operation, 0);
        EXPECT_EQ(c.Frame.TimeHex, "291615000000");
        EXPECT_EQ(c.Frame.Data, "CNS0090008000 999     ");
    }
    // The least request: time, operation byte 0x4B (operation -1) and trailer, no data.
    auto least = Check(Framed("0102030405064BAABB"));
    ASSERT_EQ(least.Verdict, BaseFrame::RequestVerdict::Request);
    EXPECT_EQ(least.Frame.Operation, -1);
    EXPECT_EQ(least.Frame.Data, "");
}

TEST(CheckRequest, VerdictsAndTheLengthTheyName) {
    using V = BaseFrame::RequestVerdict;
    const std::string cut = kWorkedRequest.substr(0, kWorkedRequest.size() - 2);
    const std::string badTrailer = Framed("0102030405064CAABC");
    const std::string badSum = kWorkedRequest.substr(0, kWorkedRequest.size() - 4) + "0646";
    const std::vector<std::tuple<std::string, V, std::size_t>> cases{
        {"", V::Incomplete, 2},
        {"AA", V::Incomplete, 2},
        {"AB", V::NotAFrame, 0},
        {"AA32026C", V::NotAFrame, 0},
        {"AA31026C00", V::Incomplete, 6},
        {cut, V::Incomplete, 39},
        {"AA31026CFFFF", V::Incomplete, 65543},
        {badTrailer, V::BadTrailer, 17},
        {badSum, V::BadSum, 39},
        {"AA31026C0001AA0000", V::BadTrailer, 9},   // L = 1 cannot hold the trailer
        {"AA31026C0000AABB0000", V::BadTrailer, 8}, // L = 0: the trailer is not in the body
        {Framed("AABB"), V::NoRequest, 10},
        {Framed("010203040506AABB"), V::NoRequest, 16}, // L = 8: no operation byte
    };
    for (const auto& [hex, verdict, length] : cases) {
        auto c = Check(hex);
        EXPECT_EQ(c.Verdict, verdict) << hex;
        EXPECT_EQ(c.Length, length) << hex;
    }
}
