#include "baselink/xyTypeConv.h"

#include <gtest/gtest.h>

using namespace HexCodec;

namespace {
const std::string kWorkedRequest =
    "AA31026C001F2916150000004C434E5330303930303038303030203939392020202020AABB0645";
}

TEST(HexCodec, BytesToHex) {
    EXPECT_EQ(BytesToHex(std::string("\x00\xAB\xFF", 3)), "00ABFF");
    EXPECT_EQ(BytesToHex(std::string()), "");
}

TEST(HexCodec, HexToBytesDecodesUntilTheFirstBadPair) {
    struct Case {
        std::string hex;
        std::size_t capacity;
        bool result;
        std::vector<std::uint8_t> bytes;
    } cases[] = {
        {"aa31", 2, true, {0xAA, 0x31}},
        {"AA3", 1, true, {0xAA}},
        {"AA 31", 2, true, {0xAA, 0x00}},
        {"AA31\r\n", 3, true, {0xAA, 0x31, 0x00}}, // a line-break pair gives a zero byte
        {"AAG1BB", 3, true, {0xAA, 0x00, 0x00}},
        {"AA31", 1, true, {0xAA}}, // limited to the capacity
    };
    for (const auto& c : cases) {
        TArrayChar dest(c.capacity, 0x55);
        EXPECT_EQ(HexToBytes(c.hex, dest, c.capacity), c.result) << c.hex;
        EXPECT_EQ(dest, c.bytes) << c.hex;
    }
    TArrayChar untouched{7};
    EXPECT_FALSE(HexToBytes("A", untouched, 1));
    EXPECT_EQ(untouched, TArrayChar{7});
    EXPECT_EQ(HexToText("4F4B"), "OK");
    EXPECT_EQ(HexToText("4FZZ41"), std::string("O\0\0", 3));
}

TEST(HexCodec, ToHex) {
    EXPECT_EQ(ToHex(-1, 2), "FFFFFFFF");
    EXPECT_EQ(ToHex(0x4C, 2), "4C");
    EXPECT_EQ(ToHex(19, 4), "0013");
    EXPECT_EQ(ToHex(300, 2), "12C");
    EXPECT_EQ(ToHex(0, 2), "00");
}

TEST(HexCodec, HexByteToIntRaisesOnNonHex) {
    EXPECT_EQ(HexByteToInt("FF"), 255);
    EXPECT_EQ(HexByteToInt("0a"), 10);
    EXPECT_THROW(HexByteToInt("G1"), EConvertError);
    EXPECT_THROW(HexByteToInt(""), EConvertError);
    EXPECT_THROW(HexByteToInt("1 "), EConvertError);
}

TEST(HexCodec, Sums) {
    EXPECT_EQ(HexSum16("AA31"), "00DB");
    EXPECT_EQ(HexSum16("FFFF01"), "01FF");
    std::string ffs;
    for (int i = 0; i < 257; ++i) {
        ffs += "FF";
    }
    EXPECT_EQ(HexSum16(ffs + "06"), "0005"); // 257 * 255 + 6 = 65536 + 5
    EXPECT_EQ(HexSum16("FF01A"), "0100");    // odd final digit ignored
    EXPECT_THROW(HexSum16("AAZZ"), EConvertError);
    EXPECT_EQ(HexSum("FF01", 2), "00");
    EXPECT_EQ(HexSum("FFFF01", 4), "01FF");
    EXPECT_EQ(HexSum("0102", 6), "000003");
    EXPECT_EQ(HexSum("ZZ", 4), "0000"); // never fails

    TArrayChar frame(kWorkedRequest.size() / 2);
    HexToBytes(kWorkedRequest, frame, frame.size());
    EXPECT_EQ(ByteSum(frame, 6, 36, 4), 0x0645);
    EXPECT_EQ(ByteSum(frame, 5, 4, 4), 0);
    EXPECT_EQ(HexSum16(kWorkedRequest.substr(12, 62)), "0645");
    // The worked replies: body sums
    EXPECT_EQ(
        HexSum16(std::string("AA32026C00132916150000004C6C4F4B03008097616263AABB").substr(12)),
        "054B");
    EXPECT_EQ(HexSum16(std::string("AA32026C0010FFFFFFFFFFFF4C6C4E4F0000FFFFAABB").substr(12)),
              "0AB2");
}

TEST(HexCodec, TextCrcLeavesOutTheLastByte) {
    EXPECT_EQ(TextCrc(""), "FFFF");
    EXPECT_EQ(TextCrc("A"), "FFFF");
    EXPECT_EQ(TextCrc("4F4B"), "B903");
    EXPECT_EQ(TextCrc("616263"), "8097");
    EXPECT_EQ(TextCrc("123456789"), "37DD");
    EXPECT_EQ(TextCrc("1234567890"), "4B37"); // the whole of 123456789
}
