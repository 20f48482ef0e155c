#include "RelayRecorders.h"

#include "baselink/PdaReply.h"
#include "config/AppSettings.h"
#include "config/HandheldRegistry.h"
#include "relay/OperationNames.h"
#include "relay/PdaRequest.h"
#include "text/Gbk.h"
#include "worklog/WorkLog.h"

#include <gtest/gtest.h>

using namespace relaytest;
using text::ToGbk;

namespace {

class DecoderTest : public ::testing::Test {
protected:
    DecoderTest() {
        registry.Keys.insert("02005");
        registry.Keys.insert("02123");
        registry.Keys.insert("0A005");
        settings.TestText = ToGbk("PDA 数据通信测试");
    }
    void Handle(int operationByte, int base, int handheld, const std::string& data = "x") {
        relaytest::HandleRequestByte(decoder, operationByte, base, handheld, kTime, data);
    }

    config::AppSettings settings;
    config::HandheldRegistry registry;
    RecordingSender sender;
    RecordingQueue queue;
    WorkLog log;
    relay::RequestDecoder decoder{settings, registry, sender, queue, log};
};

} // namespace

TEST(PdaRequest, DerivedTexts) {
    relay::PdaRequest r{0, 2, 5, kTime, ""};
    EXPECT_EQ(r.AddressHex(), "0205");
    EXPECT_EQ(r.HandheldDec(), "5");
    EXPECT_EQ(r.Handheld3(), "005");
    EXPECT_EQ(r.BaseDec2(), "02");
    relay::PdaRequest big{0, 0x0A, 123, kTime, ""};
    EXPECT_EQ(big.AddressHex(), "0A7B");
    EXPECT_EQ(big.HandheldDec(), "123");
    EXPECT_EQ(big.Handheld3(), "123");
    EXPECT_EQ(big.BaseDec2(), "10");
    relay::PdaRequest edge{0, 255, 0, kTime, ""};
    EXPECT_EQ(edge.AddressHex(), "FF00");
    EXPECT_EQ(edge.Handheld3(), "000");
    EXPECT_EQ(edge.BaseDec2(), "255");
}

TEST_F(DecoderTest, AcceptedRequestIsLoggedAndQueued) {
    Handle(0x4C, 2, 5, "CNS0090008000 999     ");
    EXPECT_EQ(log.Lines(),
              std::vector<std::string>{ToGbk("数据包:基站2 PDA:5 操作:0 时间:291615000000 数据:"
                                             "CNS0090008000 999     ")});
    ASSERT_EQ(queue.submitted.size(), 1u);
    EXPECT_EQ(queue.submitted[0],
              (RecordingQueue::Submitted{0, "0205", "5", "CNS0090008000 999     ", kTime}));
    EXPECT_TRUE(sender.sent.empty());
}

TEST_F(DecoderTest, OperationRange) {
    Handle(0x70, 2, 5); // p: 36
    ASSERT_EQ(queue.submitted.size(), 1u);
    EXPECT_EQ(queue.submitted[0].operation, 36);

    Handle(0x71, 2, 5); // q: 37
    Handle(0x4B, 2, 5); // K: -1
    EXPECT_EQ(queue.submitted.size(), 1u);
    const std::string kBad = ToGbk("数据包错误，请重发");
    EXPECT_EQ(sender.sent,
              (std::vector<SentReply>{{37, "0205", "5", kBad, "FFFFFFFFFFFF", false},
                                      {-1, "0205", "5", kBad, "FFFFFFFFFFFF", false}}));
    ASSERT_EQ(log.LineCount(), 5u);
    EXPECT_EQ(log.Lines()[2], ToGbk("操作类型[37]不正确"));
    EXPECT_EQ(log.Lines()[3], ToGbk("数据包:基站2 PDA:5 操作:-1 时间:291615000000 数据:x"));
    EXPECT_EQ(log.Lines()[4], ToGbk("操作类型[-1]不正确"));
}

// The error reply as framed by the reply sender: operation byte 0x4B, time twelve F digits.
TEST_F(DecoderTest, UnknownOperationFrameEchoesTheByte) {
    struct Ports : BasePorts {
        std::vector<std::string> sent;
        bool SendData(int, const std::string& bytes) override {
            sent.push_back(bytes);
            return true;
        }
    } ports;
    std::array<std::string, kStationCount> baseIds{"02", "", "", ""};
    WorkLog frameLog;
    BaseSender realSender(baseIds, ports, frameLog,
                          [](int op) { return relay::OperationName(op); });
    relay::RequestDecoder d(settings, registry, realSender, queue, frameLog);
    HandleRequestByte(d, 0x4B, 2, 5, kTime, "x");
    ASSERT_EQ(ports.sent.size(), 1u);
    const std::string& frame = ports.sent[0];
    ASSERT_GE(frame.size(), 16u);
    EXPECT_EQ(frame.substr(6, 6), std::string(6, '\xFF'));
    EXPECT_EQ(static_cast<unsigned char>(frame[12]), 0x4B);
    EXPECT_EQ(frame.substr(14, 2), "NO");
    EXPECT_EQ(frameLog.Lines()[1].substr(0, ToGbk("向PDA 5 发送：未知操作").size()),
              ToGbk("向PDA 5 发送：未知操作"));
}

TEST_F(DecoderTest, UnregisteredHandheldOnBaseIdOA) {
    registry.Keys.clear();
    Handle(0x4C, 0x0A, 5);
    EXPECT_TRUE(queue.submitted.empty());
    ASSERT_EQ(log.LineCount(), 2u);
    EXPECT_EQ(log.Lines()[1], ToGbk("005 的手持机未在 10 号基站注册，请重新注册。"));
    EXPECT_EQ(sender.sent,
              (std::vector<SentReply>{{0, "0A05", "5",
                                       ToGbk("编号为：005的手持机未在10号基站注册，请重新注册。"),
                                       kTime, false}}));
}

TEST_F(DecoderTest, RegistrationKeyUsesHexBaseAndThreeDigits) {
    Handle(0x4C, 0x0A, 5); // key 0A005
    Handle(0x4C, 2, 123);  // key 02123
    ASSERT_EQ(queue.submitted.size(), 2u);
    EXPECT_EQ(queue.submitted[0].address, "0A05");
    EXPECT_EQ(queue.submitted[1].address, "027B");
    EXPECT_EQ(queue.submitted[1].handheld, "123");
    Handle(0x4C, 10, 5 + 256 * 0); // still 0A005
    Handle(0x4C, 2, 6);            // 02006 is not registered
    EXPECT_EQ(queue.submitted.size(), 3u);
    EXPECT_EQ(log.Lines().back(), ToGbk("006 的手持机未在 02 号基站注册，请重新注册。"));
}

TEST_F(DecoderTest, TestModeAnswersRegisteredHandheldsOnly) {
    settings.TestMode = true;
    Handle(0x4C, 2, 5);
    EXPECT_TRUE(queue.submitted.empty());
    EXPECT_EQ(log.Lines().back(), ToGbk("测试状态，向手持机发送信息：PDA 数据通信测试"));
    EXPECT_EQ(sender.sent, (std::vector<SentReply>{
                               {0, "0205", "5", ToGbk("005PDA 数据通信测试"), kTime, false}}));

    Handle(0x4C, 2, 9);
    EXPECT_TRUE(queue.submitted.empty());
    ASSERT_EQ(sender.sent.size(), 2u);
    EXPECT_EQ(sender.sent[1].text, ToGbk("编号为：009的手持机未在02号基站注册，请重新注册。"));
}

TEST_F(DecoderTest, DataWithZeroByteIsLoggedAndForwardedWhole) {
    const std::string data("AB\0CD\r\n", 7);
    Handle(0x55, 2, 5, data);
    EXPECT_EQ(log.Lines()[0], ToGbk("数据包:基站2 PDA:5 操作:9 时间:291615000000 数据:") + data);
    ASSERT_EQ(queue.submitted.size(), 1u);
    EXPECT_EQ(queue.submitted[0].data, data);
}
