#include "RelayRecorders.h"

#include "config/AppSettings.h"
#include "config/HandheldRegistry.h"
#include "relay/OperationNames.h"
#include "relay/RequestRecord.h"
#include "text/Files.h"
#include "text/Gbk.h"

#include <gtest/gtest.h>
#include <unistd.h>

using namespace relaytest;
using relay::ComposeRequestRecord;

namespace {

// 62 distinct bytes: positions 1-26 A-Z, 27-52 a-z, 53-62 0-9.
const std::string D = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
std::string B(std::size_t n) {
    return std::string(n, ' ');
}

struct RecordCase {
    int operation;
    std::string data;
    std::string expected; // written out by hand
};

// Handheld 7 throughout.
const std::vector<RecordCase> kAllOperations = {
    {0, D, "DL   007\r\nABCDEFGHIJ KLMN OPQRSTUV \r\n"},
    {1, D, "XGMM 007\r\nABCDEFGH IJKLMNOP\r\n"},
    {2, D, "KT   007\r\nABCD EF GHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789\r\n"},
    {3, D, "HT   007\r\nABCDEFG HIJKLMN \r\n"},
    {4, D, "BT   007\r\nABCDEFG HIJKLMN \r\n"},
    {5, "12", "CT   007\r\n12     \r\n"},
    {6, D, "XGTT 007\r\nABCDEFG HI JKLMN \r\n"},
    {7, "", "DC   007\r\n" + B(1 + 11) + B(1 + 5) + "15:16:29\r\n"},
    {8, D, "TC   007\r\nABCDEFG HIJKLMNOPQ RSTU VWXY Zabcdefghi\r\n"},
    {9, D, "ZZCC 007\r\nABCDEFG\r\n"},
    {10, D, "CPCC 007\r\nABCDEFG HIJKL\r\n"},
    {11, D, "ZDCX 007\r\nABCDEFG\r\n"},
    {12, D, "KXHZ 007\r\n"},
    {13, D, "LBKX 007\r\nAB\r\n"},
    {14, D, "THKX 007\r\nABCD\r\n"},
    {15, D, "YDHZ 007\r\n"},
    {16, D, "THYD 007\r\nABCD\r\n"},
    {17, D, "ZLQR 007\r\nABCDEFG HIJKL MNOPQRSTUV WXYZabcd\r\n"},
    {18, D, ""},
    {19, D, ""},
    {20, "AB", "DYJZ 007\r\nAB     \r\n"},
    {21, D, "GT   007\r\nABCDEFG HIJKL\r\n"},
    {22, D, "CLCC 007\r\nABCDEFG HIJKLMNO\r\n"},
    {23, D, ""},
    {24, D, "JC   007\r\nABCDEFG HIJKL MNOP QRSTUVWXYZabcd efgh ijkl m nopqrstuvwxy\r\n"},
    {25, "ABCDEFGHIJ", "DYDC 007\r\nABCDEFGHIJ   \r\n"},
    {26, D, "GQ   007\r\n"},
    {27, D, "LSC  007\r\nABCDEFG HIJKL MNOP QRSTUVWXYZabcd efgh ijkl m nopqrstuvwxy\r\n"},
    {28, "ABC", "XGJQ 007\r\nABC                  \r\n"},
    {29, D, ""},
    {30, D, "YDKT 007\r\nABCD EF GHIJK\r\n"},
    {31, D, "ZZTC 007\r\nABCDEFG\r\n"},
    {32, D, "CPTC 007\r\nABCDEFG HIJKL\r\n"},
    {33, D, "CLTC 007\r\nABCDEFG HIJKLMNO\r\n"},
    {34, D, "ZZQC 007\r\nABCDEFG\r\n"},
    {35, D, "CPQC 007\r\nABCDEFG HIJKL\r\n"},
    {36, D, "CLQC 007\r\nABCDEFG HIJKLMNO\r\n"},
};

} // namespace

TEST(RequestRecord, EveryOperationHasItsRecord) {
    ASSERT_EQ(kAllOperations.size(), 37u);
    for (const RecordCase& c : kAllOperations) {
        EXPECT_EQ(ComposeRequestRecord(c.operation, 7, c.data, kTime), c.expected)
            << "operation " << c.operation;
    }
}

TEST(RequestRecord, ShortAndEmptyDataKeepTheSeparators) {
    const std::vector<RecordCase> cases = {
        {2, "ABCD", "KT   007\r\nABCD  \r\n"},
        {0, "ABCDEFGHIJKL", "DL   007\r\nABCDEFGHIJ KL  \r\n"},
        {8, "", "TC   007\r\n    \r\n"},
        {24, "", "JC   007\r\n       \r\n"},
        {17, "ABCDEFGHI", "ZLQR 007\r\nABCDEFG HI  \r\n"},
        {5, "1234567", "CT   007\r\n1234567\r\n"},
        {5, "123456789", "CT   007\r\n123456789\r\n"},
        {5, "", "CT   007\r\n       \r\n"},
        {13, "", "LBKX 007\r\n\r\n"},
    };
    for (const RecordCase& c : cases) {
        EXPECT_EQ(ComposeRequestRecord(c.operation, 7, c.data, kTime), c.expected)
            << "operation " << c.operation << " data '" << c.data << "'";
    }
}

TEST(RequestRecord, HeaderNumberHasAtLeastThreeDigits) {
    EXPECT_EQ(ComposeRequestRecord(12, 0, "", kTime), "KXHZ 000\r\n");
    EXPECT_EQ(ComposeRequestRecord(12, 7, "", kTime), "KXHZ 007\r\n");
    EXPECT_EQ(ComposeRequestRecord(12, 108, "", kTime), "KXHZ 108\r\n");
    EXPECT_EQ(ComposeRequestRecord(12, 255, "", kTime), "KXHZ 255\r\n");
}

TEST(RequestRecord, HeaderMnemonicsArePaddedToFive) {
    const std::vector<std::string> expected = {
        "DL   ", "XGMM ", "KT   ", "HT   ", "BT   ", "CT   ", "XGTT ", "DC   ", "TC   ", "ZZCC ",
        "CPCC ", "ZDCX ", "KXHZ ", "LBKX ", "THKX ", "YDHZ ", "THYD ", "ZLQR ", "",      "",
        "DYJZ ", "GT   ", "CLCC ", "",      "JC   ", "DYDC ", "GQ   ", "LSC  ", "XGJQ ", "",
        "YDKT ", "ZZTC ", "CPTC ", "CLTC ", "ZZQC ", "CPQC ", "CLQC "};
    for (int op = 0; op < 37; ++op) {
        EXPECT_EQ(relay::HeaderMnemonic(op), expected[static_cast<std::size_t>(op)]) << op;
    }
    EXPECT_EQ(relay::HeaderMnemonic(-1), "");
    EXPECT_EQ(relay::HeaderMnemonic(37), "");
    EXPECT_EQ(ComposeRequestRecord(37, 7, D, kTime), "");
}

TEST(OperationNames, NamesAndLookUp) {
    EXPECT_EQ(relay::OperationName(0), "DL");
    EXPECT_EQ(relay::OperationName(18), "KHKH");
    EXPECT_EQ(relay::OperationName(30), "QCJE");
    EXPECT_EQ(relay::OperationName(36), "CLQC");
    EXPECT_EQ(relay::OperationName(-1), text::ToGbk("未知操作"));
    EXPECT_EQ(relay::OperationName(37), text::ToGbk("未知操作"));
    EXPECT_EQ(relay::FindOperationName("QCJE"), 30);
    EXPECT_EQ(relay::FindOperationName("ZZQC"), 34);
    EXPECT_EQ(relay::FindOperationName("YDKT"), -1);
    EXPECT_EQ(relay::FindOperationName("dl"), -1);
    EXPECT_EQ(relay::FindOperationName(""), -1);
}

// The order record: 24 fixed bytes, then 28-byte item blocks.
namespace {

const std::string kFixed = std::string("0000012") + "4 " + "xx" + "000000000001";
const std::string kBlock1 = std::string("00101") + "   2" + "ABCDEFGHIJKL" + "01" + "0" + "zzzz";
const std::string kBlock2 = std::string("00207") + "  10" + B(12) + "02" + "1" + "zzzz";
const std::string kOrderLine = "0000012" + B(12) + "000000000001" + B(6) + "15:16:29\r\n";

} // namespace

TEST(OrderRecord, WorkedExample) {
    const std::string data = kFixed + "\x02" + kBlock1 + kBlock2;
    ASSERT_EQ(data.size(), 80u);
    const std::string line1 = "DC   108";
    const std::string line2 = "0000012" + B(12) + "000000000001" + B(6) + "15:16:29";
    const std::string line3 = "0000012 00101" + B(4) + "2 ABCDEFGHIJKL 01 0 15:16:29" + B(6) + "4 ";
    const std::string line4 = "0000012 00207" + B(3) + "10" + B(14) + "02 1 15:16:29" + B(6) + "4 ";
    EXPECT_EQ(line1.size(), 8u);
    EXPECT_EQ(line2.size(), 45u);
    EXPECT_EQ(line3.size(), 53u);
    EXPECT_EQ(line4.size(), 53u);
    EXPECT_EQ(ComposeRequestRecord(7, 108, data, kTime),
              line1 + "\r\n" + line2 + "\r\n" + line3 + "\r\n" + line4 + "\r\n");
}

TEST(OrderRecord, CountLargerThanTheBlocksPresent) {
    const std::string data = kFixed + "\x03" + kBlock1;
    const std::string empty = "0000012" + B(10) + "15:16:29" + B(6) + "4 \r\n";
    EXPECT_EQ(ComposeRequestRecord(7, 1, data, kTime),
              "DC   001\r\n" + kOrderLine + "0000012 00101" + B(4) +
                  "2 ABCDEFGHIJKL 01 0 15:16:29" + B(6) + "4 \r\n" + empty + empty);
}

TEST(OrderRecord, BlockCutShortAndCountZero) {
    // The second block ends inside its quantity: " 1" trims to 1 and pads to "   1".
    const std::string data = kFixed + "\x02" + kBlock1 + "00207 1";
    EXPECT_EQ(ComposeRequestRecord(7, 1, data, kTime),
              "DC   001\r\n" + kOrderLine + "0000012 00101" + B(4) +
                  "2 ABCDEFGHIJKL 01 0 15:16:29" + B(6) + "4 \r\n" + "0000012 00207" + B(4) + "1" +
                  B(4) + "15:16:29" + B(6) + "4 \r\n");
    EXPECT_EQ(ComposeRequestRecord(7, 1, kFixed + std::string(1, '\0') + kBlock1, kTime),
              "DC   001\r\n" + kOrderLine);
}

TEST(OrderRecord, SecondFieldIsTrimmedAndPadded) {
    // F2 "\x01" "5": trimmed to "5", padded to "5 ".
    std::string fixed = "0000012" + std::string("\x01") + "5" + "xx" + "000000000001";
    std::string block = "00101" + std::string("\t3 \x02", 4) + B(12) + "01" + "0" + "zzzz";
    EXPECT_EQ(ComposeRequestRecord(7, 1, fixed + "\x01" + block, kTime),
              "DC   001\r\n" + kOrderLine + "0000012 00101" + B(4) + "3" + B(14) + "01 0 15:16:29" +
                  B(6) + "5 \r\n");
}

// The quantity field holds four bytes, so a five-character quantity cannot stay whole: its
// fifth character is the first byte of the next field.
TEST(OrderRecord, QuantityOfFiveCharacters) {
    std::string block = "00101" + std::string("12345") + "BCDEFGHIJKL" + "01" + "0" + "zzzz";
    ASSERT_EQ(block.size(), 28u);
    EXPECT_EQ(ComposeRequestRecord(7, 1, kFixed + "\x01" + block, kTime),
              "DC   001\r\n" + kOrderLine + "0000012 00101 1234 5BCDEFGHIJKL 01 0 15:16:29" + B(6) +
                  "4 \r\n");
}

TEST(OrderRecord, ItemCountIsTheByteValue) {
    std::string data = kFixed + "\xFF";
    std::string record = ComposeRequestRecord(7, 1, data, kTime);
    std::size_t lines = 0;
    for (std::size_t p = record.find("\r\n"); p != std::string::npos;
         p = record.find("\r\n", p + 2)) {
        ++lines;
    }
    EXPECT_EQ(lines, 2u + 255u);
}

// BuildRequest: the second registration check, the log-in marking, the file and the notice.
class BuildRequestTest : public ::testing::Test {
protected:
    BuildRequestTest() : host(dir.Dir() + "T1.txt") {
        settings.ExchangeDir = dir.Dir();
        registry.Keys.insert("02005");
        registry.Keys.insert("0A255");
        registry.Keys.insert("0A000");
    }
    std::string T1() const { return text::ReadFile(dir.Dir() + "T1.txt").value_or("<none>"); }

    TempDir dir;
    config::AppSettings settings;
    config::HandheldRegistry registry;
    RecordingView view;
    RecordingHost host;
    relay::RequestBuilder builder{settings, registry, view, host};
};

TEST_F(BuildRequestTest, LogInIsWrittenMarkedAndNotified) {
    builder.BuildRequest(0, 0x02, 5, "CNS0090008000 999     ", kTime);
    EXPECT_EQ(T1(), "DL   005\r\nCNS0090008 000  999      \r\n");
    EXPECT_EQ(view.marked, std::vector<std::string>{"0205"});
    EXPECT_EQ(host.notified, std::vector<std::string>{T1()});
}

TEST_F(BuildRequestTest, OtherOperationsDoNotMark) {
    builder.BuildRequest(9, 0x02, 5, "0000012", kTime);
    EXPECT_EQ(T1(), "ZZCC 005\r\n0000012\r\n");
    EXPECT_TRUE(view.marked.empty());
    EXPECT_EQ(host.notified.size(), 1u);
}

TEST_F(BuildRequestTest, HandheldsZeroAnd255) {
    builder.BuildRequest(26, 0x0A, 255, "", kTime);
    EXPECT_EQ(T1(), "GQ   255\r\n");
    builder.BuildRequest(26, 0x0A, 0, "", kTime);
    EXPECT_EQ(T1(), "GQ   000\r\n");
    EXPECT_EQ(host.notified.size(), 2u);
}

TEST_F(BuildRequestTest, OperationWithoutMnemonicWritesAnEmptyFile) {
    text::WriteFileAtomic(dir.Dir() + "T1.txt", "old content");
    builder.BuildRequest(18, 0x02, 5, "anything", kTime);
    EXPECT_EQ(T1(), "");
    EXPECT_EQ(host.notified, std::vector<std::string>{""});
}

TEST_F(BuildRequestTest, NoLongerRegisteredOrUnknownLeavesNoTrace) {
    builder.BuildRequest(0, 0x02, 6, "x", kTime);
    builder.BuildRequest(37, 0x02, 5, "x", kTime);
    builder.BuildRequest(-1, 0x02, 5, "x", kTime);
    EXPECT_FALSE(text::FileExists(dir.Dir() + "T1.txt"));
    EXPECT_TRUE(host.notified.empty());
    EXPECT_TRUE(view.marked.empty());
}

TEST_F(BuildRequestTest, WriteFailureIsRaisedBeforeTheNotice) {
    settings.ExchangeDir = dir.Dir() + "missing/";
    EXPECT_THROW(builder.BuildRequest(9, 0x02, 5, "x", kTime), text::FileError);
    EXPECT_TRUE(host.notified.empty());
}

// The second check keys the registry by the station byte as hex and the handheld byte in three
// decimal digits: 0A 255 is registered, 0xFF 10 (the bytes the other way round) is not.
TEST_F(BuildRequestTest, TheSecondCheckTellsStationFromHandheld) {
    builder.BuildRequest(26, 0xFF, 0x0A, "", kTime);
    EXPECT_TRUE(host.notified.empty());
    builder.BuildRequest(26, 0x0A, 0xFF, "", kTime);
    EXPECT_EQ(host.notified, std::vector<std::string>{"GQ   255\r\n"});
}

TEST_F(BuildRequestTest, EmptyExchangeDirIsTheCurrentDirectory) {
    char* old = ::getcwd(nullptr, 0);
    ASSERT_EQ(::chdir(dir.Dir().c_str()), 0);
    settings.ExchangeDir = "";
    host.SetRequestFile("T1.txt");
    builder.BuildRequest(12, 0x02, 5, "", kTime);
    EXPECT_EQ(::chdir(old), 0);
    ::free(old);
    EXPECT_EQ(T1(), "KXHZ 005\r\n");
    EXPECT_EQ(host.notified, std::vector<std::string>{"KXHZ 005\r\n"});
}
