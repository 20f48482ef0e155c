// The download broadcast with recording ports and view and a scripted wait: what goes out, in
// which order, and what a stop, a second notice, a missing image or the program's end do to it.
#include "menu/DownloadBroadcast.h"

#include "app/PumpWait.h"
#include "baselink/xyTypeConv.h"
#include "menu/DownloadImage.h"
#include "menu/MenuTestSupport.h"
#include "support/EventPump.h"
#include "support/ScriptedWaits.h"
#include "text/Stations.h"
#include "worklog/WorkLog.h"

#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <gmock/gmock.h>
#include <map>
#include <set>

using namespace menu;
using namespace menutest;
using namespace std::chrono_literals;
using download::PacketHex;
using Ms = DownloadPacing::Ms;

namespace {

// The production pauses (the opening one without its random part); the scripted wait tells them
// apart and spends none of them.
constexpr Ms kBeforeCycle{1000}, kAfterBlockZero{2000}, kAfterPacket{90}, kStopWait{5000},
    kReadyWait{500};

const std::string kStartFrameHex = "AA330000000455AA5AA501FE";

std::string ToHexText(const std::string& bytes) {
    return HexCodec::BytesToHex(bytes);
}

// The hex text followed by the 16-bit sum of its bytes, big-endian.
std::string WithSum(const std::string& hex) {
    unsigned sum = 0;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        sum += static_cast<unsigned>(std::stoul(hex.substr(i, 2), nullptr, 16));
    }
    char digits[5];
    std::snprintf(digits, sizeof digits, "%04X", sum & 0xFFFF);
    return hex + digits;
}

// Ports and view that record everything, in one ordered list of events too.
struct Recorder : DownloadPorts, DownloadView {
    void WriteToPort(int slot, const std::string& bytes) override {
        events.push_back("port" + std::to_string(slot) + ":" + ToHexText(bytes));
    }
    void SetBaseOneDtr(bool enabled) override { events.push_back(enabled ? "dtr:on" : "dtr:off"); }
    void SendToBase(const std::string& hex, int slot) override {
        events.push_back("base" + std::to_string(slot) + ":packet");
        packets.push_back(hex);
        if (onPacket) {
            onPacket(packets.size());
        }
    }
    void SetCycleLabel(const std::string& text) override {
        label = text::ToUtf8(text);
        labels.push_back(label);
    }
    void SetCycleProgress(int position, int maximum) override {
        progress = position;
        progressMax = maximum;
        highestProgress = std::max(highestProgress, position);
    }
    void SetDownloadCommandsEnabled(bool enabled) override {
        commandsEnabled = enabled;
        events.push_back(enabled ? "commands:on" : "commands:off");
    }
    void StopHideTimer() override { events.push_back("hide-timer:stop"); }
    void ShowDownloadMessage(const std::string& text, MessageBox box) override {
        messages.push_back(text::ToUtf8(text));
        boxes.push_back(box);
    }
    bool AskDownloadPrompt() override {
        events.push_back("prompt");
        return promptAnswer;
    }

    std::vector<std::string> Writes() const {
        std::vector<std::string> writes;
        for (const std::string& e : events) {
            if (e.rfind("port", 0) == 0) {
                writes.push_back(e);
            }
        }
        return writes;
    }

    std::vector<std::string> events;
    std::vector<std::string> packets;
    std::function<void(std::size_t)> onPacket;
    std::string label;
    std::vector<std::string> labels;
    int progress = -1, progressMax = -1, highestProgress = -1;
    std::optional<bool> commandsEnabled;
    std::vector<std::string> messages;
    std::vector<MessageBox> boxes;
    bool promptAnswer = true;
};

// A dish line that reaches column 45 and no further: both texts empty.
std::string DishWithoutTexts(const std::string& code) {
    std::string line = code + Gbk("拍黄瓜");
    line.resize(27, ' ');
    return line + "    12.00" + Gbk("份") + "  00010";
}

struct DownloadTest : ::testing::Test {
    static void SetUpTestSuite() { testsupport::EnsureCoreApplication(); }
    void TearDown() override { app::SetProgramEnding(false); }

    // The menu of two dishes without texts, every other table empty.
    void TwoDishMenu() {
        dir.Table(kDishTable, {DishWithoutTexts("1000101"), DishWithoutTexts("1000102")});
        for (const char* table : {kReturnReasonTable, kRequirementTable, kSetMealTable,
                                  kSetMealContentTable, kCategoryTable, kPyTable}) {
            dir.Raw(table, "");
        }
    }

    DownloadBroadcast& Make(bool debugLogging = false) {
        DownloadPacing pacing;
        pacing.beforeCycleRandom = 0;
        scripted.everyWait = [this](unsigned ms) {
            const Ms d{ms};
            waits.push_back(d);
            ++waitCount[d];
            if (onWait) {
                onWait(d, waitCount[d]);
            }
        };
        broadcast = std::make_unique<DownloadBroadcast>(rec, rec, dir.path, debugLogging, log,
                                                        scripted, pacing);
        return *broadcast;
    }

    // Stops the download in the opening wait of cycle `cycle`.
    void StopBeforeCycle(int cycle) {
        onWait = [this, cycle](Ms d, int nth) {
            if (d == kBeforeCycle && nth == cycle) {
                broadcast->stopDownload();
            }
        };
    }

    std::vector<std::string> LogUtf8() const {
        std::vector<std::string> lines;
        for (const std::string& l : log.Lines()) {
            lines.push_back(text::ToUtf8(l));
        }
        return lines;
    }

    MenuDir dir;
    WorkLog log;
    Recorder rec;
    testsupport::ScriptedWaits scripted;
    std::vector<Ms> waits;
    std::map<Ms, int> waitCount;
    std::function<void(Ms, int)> onWait;
    std::unique_ptr<DownloadBroadcast> broadcast;
};

std::string BlockWith(std::initializer_list<std::size_t> notFf, char value = 0x00) {
    std::string block(64, '\xFF');
    for (std::size_t i : notFf) {
        block[i] = value;
    }
    return block;
}

} // namespace

TEST(DownloadBlocks, CountingAndSendingTestsLookAtDifferentBytes) {
    struct Case {
        std::initializer_list<std::size_t> notFf;
        bool counted, sent;
    } cases[] = {
        {{}, false, false},      {{0}, true, true},    {{1}, true, true},    {{2}, true, false},
        {{18}, false, true},     {{19}, false, true},  {{20}, false, true},  {{3}, false, false},
        {{17}, false, false},    {{21}, false, false}, {{63}, false, false}, {{2, 19}, true, true},
        {{0, 1, 2}, true, true},
    };
    for (const Case& c : cases) {
        std::string block = BlockWith(c.notFf);
        SCOPED_TRACE(ToHexText(block.substr(0, 24)));
        EXPECT_EQ(download::CountsAsValid(block), c.counted);
        EXPECT_EQ(download::IsSent(block), c.sent);
    }
}

TEST(DownloadBlocks, BlockCountDropsTheRemainder) {
    EXPECT_EQ(download::BlockCount(kImageSize), 12288u);
    EXPECT_EQ(download::BlockCount(63), 0u);
    EXPECT_EQ(download::BlockCount(64 * 5 + 63), 5u);
    // The index field has 16 bits: an image can name 65536 blocks, no more.
    EXPECT_EQ(download::BlockCount(64 * 70000), 65536u);
}

TEST(DownloadBlocks, PacketBytesAsWrittenOut) {
    // 0A, count 0003, four zeros, index 0005, 64 bytes of 11, sum 0A+03+05+64*11 = 0452.
    std::string expected = "0A"
                           "0003"
                           "00000000"
                           "0005" +
                           std::string(128, '1') + "0452";
    EXPECT_EQ(PacketHex(3, 5, std::string(64, '\x11')), expected);
    // All FF with the largest count and index: 0A + 68 * FF = 43C6.
    std::string ffs = "0A"
                      "FFFF"
                      "00000000"
                      "FFFF" +
                      std::string(128, 'F') + "43C6";
    EXPECT_EQ(PacketHex(0xFFFF, 0xFFFF, std::string(64, '\xFF')), ffs);
    EXPECT_EQ(PacketHex(1, 0, std::string(64, '\x11')).size(), download::kPacketSize * 2);
    EXPECT_EQ(ToHexText(download::StartFrame()), kStartFrameHex);
}

// Production pacing: every opening pause lies in 1000 .. 1799 ms, and the random part really
// varies (30 draws from 800 values give far more than ten different pauses).
TEST_F(DownloadTest, OpeningPauseIsOneSecondPlusARandomPartUpTo799Ms) {
    dir.Raw(kImageFile, Ffs(64));
    std::multiset<unsigned> openings;
    scripted.everyWait = [&](unsigned ms) {
        if (ms != 5000) {
            openings.insert(ms);
            broadcast->stopDownload();
        }
    };
    for (int i = 0; i < 30; ++i) {
        broadcast = std::make_unique<DownloadBroadcast>(rec, rec, dir.path, false, log, scripted);
        broadcast->onBroadcastNotice("\x5A");
    }
    ASSERT_EQ(openings.size(), 30u);
    EXPECT_GE(*openings.begin(), 1000u);
    EXPECT_LE(*openings.rbegin(), 1799u);
    EXPECT_GT(std::set<unsigned>(openings.begin(), openings.end()).size(), 10u);
}

TEST_F(DownloadTest, TwoDishesWithoutTextsSendBlocksZeroAndTwo) {
    TwoDishMenu();
    DownloadBroadcast& b = Make();
    b.startDownload();
    ASSERT_TRUE(rec.messages.empty()) << rec.messages[0];
    const std::string image = dir.Read(kImageFile);
    ASSERT_EQ(image.size(), kImageSize);

    StopBeforeCycle(2);
    b.onBroadcastNotice("\x5A");

    ASSERT_EQ(rec.packets.size(), 2u);
    EXPECT_EQ(rec.packets[0], WithSum("0A000200000000"
                                      "0000" +
                                      ToHexText(image.substr(0, 64))));
    EXPECT_EQ(rec.packets[1], WithSum("0A000200000000"
                                      "0002" +
                                      ToHexText(image.substr(128, 64))));
    EXPECT_EQ(rec.highestProgress, 12288);
    EXPECT_EQ(rec.labels.front(), "现在正在下载第1次，请检测PDA是否全部下载完成");
    // Opening pause, 2 s after block 0, 90 ms after each packet, none for skipped blocks; then
    // cycle 2's opening pause, in which the stop came.
    EXPECT_THAT(waits, ::testing::ElementsAre(kBeforeCycle, kAfterBlockZero, kAfterPacket,
                                              kAfterPacket, kBeforeCycle, kStopWait));
}

TEST_F(DownloadTest, LogLinesPerCycleWithAndWithoutDebugLogging) {
    for (bool debug : {false, true}) {
        SCOPED_TRACE(debug);
        TwoDishMenu();
        log.Clear();
        waitCount.clear();
        rec.labels.clear();
        DownloadBroadcast& b = Make(debug);
        b.startDownload();
        StopBeforeCycle(3);
        b.onBroadcastNotice("\x5A");
        const std::string file = "下发文件：" + dir.path + "FF.bin";
        // Cycle 3 began its opening pause before the stop: it still reads and counts the image.
        std::vector<std::string> expected =
            debug ? std::vector<std::string>{file, "有效数据包数：0002", "下载数据包数：0002",
                                             file, "有效数据包数：0002", "下载数据包数：0002",
                                             file, "有效数据包数：0002"}
                  : std::vector<std::string>{file, file, file};
        EXPECT_EQ(LogUtf8(), expected);
        EXPECT_THAT(rec.labels,
                    ::testing::ElementsAre("现在正在下载第1次，请检测PDA是否全部下载完成",
                                           "现在正在下载第2次，请检测PDA是否全部下载完成",
                                           "现在正在下载第3次，请检测PDA是否全部下载完成", ""));
        EXPECT_EQ(rec.packets.size(), 4u);
        rec.packets.clear();
    }
}

TEST_F(DownloadTest, HandMadeImageCountsOneTestAndSendsByTheOther) {
    const std::string blocks[] = {
        BlockWith({0, 1, 2, 5}, 0x5A), // counted and sent
        BlockWith({18}),               // sent, not counted
        BlockWith({2}),                // counted, not sent
        BlockWith({}),                 // neither
        BlockWith({19, 20}),           // sent, not counted
    };
    std::string image;
    for (const std::string& block : blocks) {
        image += block;
    }
    dir.Raw(kImageFile, image + std::string(10, '\x00')); // the remainder is no block
    DownloadBroadcast& b = Make(true);
    StopBeforeCycle(2);
    b.onBroadcastNotice("\x5A");
    EXPECT_THAT(rec.packets,
                ::testing::ElementsAre(PacketHex(2, 0, blocks[0]), PacketHex(2, 1, blocks[1]),
                                       PacketHex(2, 4, blocks[4])));
    EXPECT_EQ(rec.highestProgress, 5);
    EXPECT_EQ(rec.progressMax, 5);
    EXPECT_EQ(LogUtf8()[2], "下载数据包数：0003");
}

TEST_F(DownloadTest, StartPulsesDtrThenSendsTheStartFrameToSlotsOneToFour) {
    TwoDishMenu();
    DownloadBroadcast& b = Make();
    b.stopDownload();
    ASSERT_TRUE(b.StopFlag());
    rec.events.clear();
    b.startDownload();
    EXPECT_FALSE(b.StopFlag());
    EXPECT_THAT(rec.events,
                ::testing::ElementsAre("commands:off", "dtr:on", "dtr:off",
                                       "port1:" + kStartFrameHex, "port2:" + kStartFrameHex,
                                       "port3:" + kStartFrameHex, "port4:" + kStartFrameHex));
}

TEST_F(DownloadTest, FailedPreparationShowsItsMessageAndChangesNothing) {
    TwoDishMenu();
    std::filesystem::remove(dir.path + kCategoryTable);
    DownloadBroadcast& b = Make();
    b.stopDownload();
    rec.events.clear();
    b.startDownload();
    EXPECT_THAT(rec.messages, ::testing::ElementsAre("不存在\"菜品类别表.txt\",不能打包"));
    EXPECT_TRUE(rec.events.empty());
    EXPECT_TRUE(b.StopFlag());
    EXPECT_FALSE(dir.Has(kImageFile));
}

TEST_F(DownloadTest, StopDuringThePauseAfterBlockZeroSendsNothingMore) {
    TwoDishMenu();
    DownloadBroadcast& b = Make();
    b.startDownload();
    std::optional<bool> enabledDuringStopWait;
    onWait = [&](Ms d, int) {
        if (d == kAfterBlockZero) {
            b.stopDownload();
            EXPECT_EQ(rec.commandsEnabled, true); // the buttons are back once the stop returns
        } else if (d == kStopWait) {
            enabledDuringStopWait = rec.commandsEnabled;
            EXPECT_EQ(rec.label, "");
            EXPECT_EQ(rec.progress, 0);
        }
    };
    b.onBroadcastNotice("\x5A");
    EXPECT_EQ(rec.packets.size(), 1u);
    EXPECT_EQ(enabledDuringStopWait, false);
    // The pause already begun runs out (the 90 ms after it too); the next block sees the stop.
    EXPECT_THAT(waits,
                ::testing::ElementsAre(kBeforeCycle, kAfterBlockZero, kStopWait, kAfterPacket));
    EXPECT_EQ(b.SequencesRunning(), 0);
}

TEST_F(DownloadTest, NoticeAfterAStopShowsNothingAndSendsNothing) {
    TwoDishMenu();
    DownloadBroadcast& b = Make();
    b.startDownload();
    b.stopDownload();
    rec.labels.clear();
    waits.clear();
    b.onBroadcastNotice("\x5A");
    EXPECT_TRUE(rec.labels.empty());
    EXPECT_TRUE(rec.packets.empty());
    EXPECT_TRUE(waits.empty());
}

// The stop flag is clear from the start: a notice before any download runs cycles, and the
// commands are left as they are.
TEST_F(DownloadTest, NoticeBeforeAnyStartRunsCycles) {
    TwoDishMenu();
    ASSERT_TRUE(prepareDownload(dir.path, log).ok);
    DownloadBroadcast& b = Make();
    EXPECT_FALSE(b.StopFlag());
    StopBeforeCycle(2);
    b.onBroadcastNotice("\x5A");
    EXPECT_EQ(rec.packets.size(), 2u);
    EXPECT_EQ(std::count(rec.events.begin(), rec.events.end(), "commands:off"), 0);
}

TEST_F(DownloadTest, SecondNoticeStartsANewSequenceAndTheFirstSendsNothingAfterTheStop) {
    TwoDishMenu();
    DownloadBroadcast& b = Make();
    b.startDownload();
    int depthInInner = 0;
    onWait = [&](Ms d, int nth) {
        if (d == kAfterPacket && nth == 1) { // the outer sequence, after its packet 0
            b.onBroadcastNotice("\x5A");
        } else if (d == kBeforeCycle && nth == 3) { // the inner sequence's cycle 2
            depthInInner = b.SequencesRunning();
            b.stopDownload();
        }
    };
    b.onBroadcastNotice("\x5A");
    EXPECT_EQ(depthInInner, 2);
    // Outer: block 0; inner: blocks 0 and 2; outer after the stop: nothing.
    EXPECT_EQ(rec.packets.size(), 3u);
    EXPECT_THAT(rec.labels,
                ::testing::ElementsAre("现在正在下载第1次，请检测PDA是否全部下载完成",
                                       "现在正在下载第1次，请检测PDA是否全部下载完成",
                                       "现在正在下载第2次，请检测PDA是否全部下载完成", ""));
}

TEST_F(DownloadTest, SequenceLeftWaitingUnderAStopStaysEndedAfterANewStart) {
    TwoDishMenu();
    DownloadBroadcast& b = Make();
    b.startDownload();
    onWait = [&](Ms d, int nth) {
        if (d == kAfterPacket && nth == 1) {
            b.stopDownload();
            b.startDownload(); // clears the stop flag while the old sequence still waits
        } else if (d == kBeforeCycle && nth == 2) {
            b.stopDownload(); // ends a sequence that went on, rather than hanging the test
        }
    };
    b.onBroadcastNotice("\x5A");
    EXPECT_EQ(rec.packets.size(), 1u);
    EXPECT_FALSE(b.StopFlag());
}

TEST_F(DownloadTest, ReadyNoticeWaitsStopsTheHideTimerAndAsks) {
    for (bool confirm : {true, false}) {
        SCOPED_TRACE(confirm);
        rec.events.clear();
        waits.clear();
        rec.promptAnswer = confirm;
        DownloadBroadcast& b = Make();
        onWait = [&](Ms, int) { EXPECT_TRUE(rec.events.empty()); };
        b.onReadyNotice("\xAA\x4F");
        EXPECT_THAT(waits, ::testing::ElementsAre(kReadyWait));
        std::vector<std::string> expected{"hide-timer:stop", "prompt"};
        if (confirm) {
            for (int slot = 1; slot <= kStationCount; ++slot) {
                expected.push_back("port" + std::to_string(slot) + ":" + kStartFrameHex);
            }
        }
        EXPECT_EQ(rec.events, expected);
    }
}

TEST_F(DownloadTest, MissingImageEndsTheSequenceAndTellsTheOperator) {
    TwoDishMenu();
    DownloadBroadcast& b = Make();
    b.startDownload();
    std::filesystem::remove(dir.path + kImageFile);
    b.onBroadcastNotice("\x5A");
    ASSERT_EQ(rec.messages.size(), 1u);
    EXPECT_THAT(rec.messages[0], ::testing::HasSubstr("FF.bin"));
    EXPECT_EQ(rec.boxes[0], MessageBox::Error);
    EXPECT_TRUE(rec.packets.empty());
    EXPECT_TRUE(log.Lines().empty());
    EXPECT_EQ(rec.label, "");
    EXPECT_EQ(rec.commandsEnabled, true);
    EXPECT_TRUE(b.StopFlag());
    EXPECT_EQ(b.SequencesRunning(), 0);
    // Later notices do nothing until the next start.
    b.onBroadcastNotice("\x5A");
    EXPECT_EQ(rec.messages.size(), 1u);
}

TEST_F(DownloadTest, ImageGoneBeforeTheSecondCycle) {
    TwoDishMenu();
    DownloadBroadcast& b = Make();
    b.startDownload();
    onWait = [&](Ms d, int nth) {
        if (d == kBeforeCycle && nth == 2) {
            std::filesystem::remove(dir.path + kImageFile);
        }
    };
    b.onBroadcastNotice("\x5A");
    EXPECT_EQ(rec.packets.size(), 2u);
    EXPECT_EQ(rec.messages.size(), 1u);
    EXPECT_EQ(log.LineCount(), 1u);
    EXPECT_EQ(rec.progress, 0);
}

TEST_F(DownloadTest, ProgramEndingInAPauseSendsNothingMore) {
    TwoDishMenu();
    DownloadBroadcast& b = Make();
    b.startDownload();
    onWait = [&](Ms d, int) {
        if (d == kAfterBlockZero) {
            scripted.ending = true;
        }
    };
    b.onBroadcastNotice("\x5A");
    EXPECT_EQ(rec.packets.size(), 1u);
    EXPECT_THAT(waits, ::testing::ElementsAre(kBeforeCycle, kAfterBlockZero));
    // A ready notice while ending asks nothing.
    rec.events.clear();
    b.onReadyNotice("\xAA\x4F");
    EXPECT_TRUE(rec.events.empty());
}

// With the real wait, which returns at once while the program ends: the cycles must not turn
// into a loop that sends packets back to back.
TEST_F(DownloadTest, ProgramEndingWithTheRealWaitReturnsPromptly) {
    std::string image;
    for (int k = 0; k < 200; ++k) {
        image += BlockWith({0}, 0x5A);
    }
    dir.Raw(kImageFile, image);
    DownloadPacing pacing;
    pacing.beforeCycle = 1ms;
    pacing.beforeCycleRandom = 0;
    pacing.afterBlockZero = 200ms;
    pacing.afterPacket = 1ms;
    pacing.stopWait = 1ms;
    app::PumpWaits real;
    DownloadBroadcast b(rec, rec, dir.path, false, log, real, pacing);
    rec.onPacket = [&](std::size_t sent) {
        if (sent > 1000) {
            b.stopDownload(); // a runaway loop; ends the test instead of hanging it
        }
    };
    QTimer::singleShot(20ms, [] { app::SetProgramEnding(true); });
    b.onBroadcastNotice("\x5A");
    EXPECT_EQ(rec.packets.size(), 1u);
    EXPECT_EQ(b.SequencesRunning(), 0);
}
