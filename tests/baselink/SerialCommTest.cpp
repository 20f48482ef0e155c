#include "baselink/SerialComm.h"
#include "baselink/SerialPlatform.h"
#include "support/EventPump.h"
#include "support/PtyPair.h"
#include "support/TempDir.h"
#include "text/Gbk.h"

#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <stdexcept>
#include <thread>

using namespace std::chrono_literals;
using testsupport::PumpFor;
using testsupport::PumpUntil;
namespace fs = std::filesystem;

namespace {

// The message of the failed opening, "" when it opened; `reason` receives the system's reason.
std::string OpenError(TComm& comm, std::string* reason = nullptr) {
    try {
        comm.OpenComm();
    } catch (const ECommsError& e) {
        if (reason) {
            *reason = e.Reason();
        }
        return e.what();
    }
    return "";
}

bool Send(TComm& comm, const std::string& bytes) {
    return comm.SendData(bytes.data(), static_cast<std::uint16_t>(bytes.size()));
}

std::string Pattern(std::size_t size) {
    std::string s(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        s[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
    }
    return s;
}

speed_t Speed(const testsupport::PtyPair& pty) {
    const termios t = pty.DeviceSettings();
    return cfgetospeed(&t);
}

std::size_t OpenFileCount() {
    std::size_t n = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator("/proc/self/fd")) {
        ++n;
    }
    return n;
}

double ProcessCpuMs() {
    timespec ts{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec * 1000.0 + ts.tv_nsec / 1e6;
}

// One pseudo-terminal reached as COM1 through the program directory's ports/ folder, and a
// component on it with the main window's line settings.
class SerialCommTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { testsupport::EnsureCoreApplication(); }

    void SetUp() override {
        fs::create_directory(dir_ + "ports");
        pty_.LinkAs(dir_ + "ports/COM1");
        TComm::SetProgramDirectory(dir_);
        comm_ = std::make_unique<TComm>();
        comm_->SetCommName("COM1");
        comm_->SetBaudRate(115200);
        comm_->SetOutx_XonXoffFlow(false);
        comm_->SetInx_XonXoffFlow(false);
        comm_->SetXonChar(0);
        comm_->SetXoffChar(0);
        comm_->OnReceiveData = [this](TComm*, const char* buffer, std::uint16_t length) {
            chunks_.emplace_back(buffer, length);
        };
    }

    void TearDown() override {
        comm_.reset();
        TComm::SetProgramDirectory("");
    }

    bool WaitChunks(std::size_t count, std::chrono::milliseconds timeout = 2s) {
        return PumpUntil([&] { return chunks_.size() >= count; }, timeout);
    }

    testsupport::TempDir temp_{"dcr-serial"};
    const std::string dir_ = temp_.path;
    testsupport::PtyPair pty_;
    std::unique_ptr<TComm> comm_;
    std::vector<std::string> chunks_;
};

// The main window leaves stop bits and parity at the component's defaults (a pseudo-terminal
// always shows 8 data bits and no PARENB, so only these flags can be seen).
TEST_F(SerialCommTest, DefaultLineHasOneStopBitAndNoParity) {
    comm_->OpenComm();
    EXPECT_EQ(pty_.DeviceSettings().c_cflag & (CSTOPB | PARODD | CMSPAR), 0u);
}

TEST_F(SerialCommTest, OpenTwiceRaisesAndKeepsTheFirstOpening) {
    comm_->OpenComm();
    EXPECT_EQ(OpenError(*comm_), "This serial port already opened");
    pty_.Write("abc");
    ASSERT_TRUE(WaitChunks(1));
    EXPECT_EQ(chunks_[0], "abc");
    EXPECT_TRUE(Send(*comm_, "x"));
}

// The message stays the fixed text; the system's reason comes with it.
TEST_F(SerialCommTest, OpenFailuresLeaveTheComponentClosed) {
    std::ofstream(dir_ + "plain.txt") << "x";
    fs::create_symlink(dir_ + "gone", dir_ + "ports/COM9");
    struct Case {
        std::string name;
        std::string message;
        const char* reason; // UTF-8
    } cases[] = {
        {"ttyDoesNotExist", "Error opening serial port", "没有那个文件或目录"},
        {"COM9", "Error opening serial port", "没有那个文件或目录"}, // dangling link
        {dir_, "Error opening serial port", "是一个目录"},
        {"/dev/null", "File handle is not a comm handle ", ""},
        {dir_ + "plain.txt", "File handle is not a comm handle ", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        comm_->SetCommName(c.name);
        std::string reason;
        EXPECT_EQ(OpenError(*comm_, &reason), c.message);
        EXPECT_EQ(reason, text::ToGbk(c.reason));
        EXPECT_FALSE(Send(*comm_, "x"));
    }
    comm_->SetCommName("COM1");
    EXPECT_EQ(OpenError(*comm_), "");
}

TEST_F(SerialCommTest, ASecondComponentCannotOpenAHeldDevice) {
    comm_->OpenComm();
    TComm other;
    other.SetCommName(pty_.DevicePath());
    std::string reason;
    EXPECT_EQ(OpenError(other, &reason), "Error opening serial port");
    EXPECT_EQ(reason, text::ToGbk("设备或资源忙"));
    EXPECT_FALSE(Send(other, "x"));
    pty_.Write("still mine");
    ASSERT_TRUE(WaitChunks(1));
    EXPECT_EQ(chunks_[0], "still mine");
    comm_->CloseComm();
    EXPECT_EQ(OpenError(other), "");
}

TEST_F(SerialCommTest, SendDataRefusesWhenClosedOrEmpty) {
    EXPECT_FALSE(Send(*comm_, "abc"));
    comm_->OpenComm();
    EXPECT_FALSE(comm_->SendData("abc", 0));
    EXPECT_TRUE(Send(*comm_, "abc"));
    comm_->CloseComm();
    EXPECT_FALSE(Send(*comm_, "abc"));
}

TEST_F(SerialCommTest, ABurstIsCutAt2048Bytes) {
    comm_->OpenComm();
    const std::string burst = Pattern(3000);
    pty_.Write(burst);
    ASSERT_TRUE(WaitChunks(2));
    PumpFor(150ms);
    ASSERT_EQ(chunks_.size(), 2u);
    EXPECT_EQ(chunks_[0].size(), 2048u);
    EXPECT_EQ(chunks_[1].size(), 952u);
    EXPECT_TRUE(chunks_[0] + chunks_[1] == burst);
}

TEST_F(SerialCommTest, SilenceEndsAChunk) {
    comm_->OpenComm();
    pty_.Write("AA31first");
    std::this_thread::sleep_for(150ms);
    pty_.Write("AA31second");
    ASSERT_TRUE(WaitChunks(2));
    EXPECT_EQ(chunks_[0], "AA31first");
    EXPECT_EQ(chunks_[1], "AA31second");

    chunks_.clear();
    pty_.Write("frame1");
    pty_.Write("frame2");
    ASSERT_TRUE(WaitChunks(1));
    PumpFor(150ms);
    ASSERT_EQ(chunks_.size(), 1u);
    EXPECT_EQ(chunks_[0], "frame1frame2");
}

TEST_F(SerialCommTest, ReadIntervalChangesOnTheOpenPort) {
    comm_->SetReadIntervalTimeout(2000);
    comm_->OpenComm();
    comm_->SetReadIntervalTimeout(20);
    pty_.Write("a");
    std::this_thread::sleep_for(60ms);
    pty_.Write("b");
    ASSERT_TRUE(WaitChunks(2, 1s));
    EXPECT_EQ(chunks_[0], "a");
}

TEST_F(SerialCommTest, IgnoreNullCharDropsZeroBytes) {
    comm_->SetIgnoreNullChar(true);
    comm_->OpenComm();
    pty_.Write(std::string("\0a\0\0b\0", 6));
    ASSERT_TRUE(WaitChunks(1));
    EXPECT_EQ(chunks_[0], "ab");
}

TEST_F(SerialCommTest, AnErrorInTheReceiveHandlerIsSwallowed) {
    int calls = 0;
    comm_->OnReceiveData = [&](TComm* sender, const char* buffer, std::uint16_t length) {
        ++calls;
        chunks_.emplace_back(buffer, length);
        EXPECT_EQ(buffer[length], '\0');
        EXPECT_EQ(sender, comm_.get());
        throw std::runtime_error("handler failed");
    };
    comm_->OpenComm();
    pty_.Write("one");
    ASSERT_TRUE(WaitChunks(1));
    pty_.Write("two");
    ASSERT_TRUE(WaitChunks(2));
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(chunks_[1], "two");
}

TEST_F(SerialCommTest, SentBytesArriveWholeAndInOrder) {
    int emptyReports = 0;
    comm_->OnSendDataEmpty = [&](TComm*) { ++emptyReports; };
    comm_->OpenComm();
    ASSERT_TRUE(PumpUntil([&] { return emptyReports == 1; }, 1s));

    ASSERT_TRUE(Send(*comm_, "AA32reply"));
    ASSERT_TRUE(pty_.WaitReceived(9, 2s));
    EXPECT_EQ(pty_.Received(), "AA32reply");

    pty_.ClearReceived();
    const std::string big = Pattern(64 * 1024);
    for (std::size_t at = 0; at < big.size(); at += 75) {
        ASSERT_TRUE(Send(*comm_, big.substr(at, 75)));
    }
    ASSERT_TRUE(pty_.WaitReceived(big.size(), 5s));
    EXPECT_TRUE(pty_.Received() == big);
    EXPECT_TRUE(PumpUntil([&] { return comm_->SendQueueEmpty() && emptyReports >= 3; }, 5s));
}

TEST_F(SerialCommTest, LineSettingsApplyAtOnceParityAtTheNextOpening) {
    comm_->OpenComm();
    EXPECT_EQ(Speed(pty_), speed_t(B115200));
    EXPECT_EQ(pty_.DeviceSettings().c_lflag & ECHO, 0u); // raw at once

    comm_->SetBaudRate(9600);
    EXPECT_EQ(Speed(pty_), speed_t(B9600));
    comm_->SetStopBits(TStopBits::_2);
    EXPECT_NE(pty_.DeviceSettings().c_cflag & CSTOPB, 0u);
    comm_->SetOutx_XonXoffFlow(true);
    EXPECT_NE(pty_.DeviceSettings().c_iflag & IXON, 0u);
    EXPECT_EQ(pty_.DeviceSettings().c_iflag & IXOFF, 0u);

    // (A pseudo-terminal keeps PARODD and CMSPAR but always clears PARENB.)
    comm_->SetParity(TParity::Odd);
    comm_->SetBaudRate(19200); // applying the line settings again keeps the opened parity
    EXPECT_EQ(pty_.DeviceSettings().c_cflag & PARODD, 0u);
    comm_->CloseComm();
    comm_->OpenComm();
    EXPECT_NE(pty_.DeviceSettings().c_cflag & PARODD, 0u);
    EXPECT_EQ(Speed(pty_), speed_t(B19200));
}

TEST_F(SerialCommTest, DtrPulseOnADeviceWithoutModemLines) {
    comm_->SetDtrControl(TDtrControl::DtrDisable);
    comm_->OpenComm();
    comm_->SetDtrControl(TDtrControl::DtrEnable);
    comm_->SetDtrControl(TDtrControl::DtrDisable);
    EXPECT_EQ(comm_->DtrControl(), TDtrControl::DtrDisable);
    ASSERT_TRUE(Send(*comm_, "start"));
    EXPECT_TRUE(pty_.WaitReceived(5, 2s));
}

TEST_F(SerialCommTest, AVanishedDeviceHangsUpOnceAndReopens) {
    int hangups = 0;
    comm_->OnRequestHangup = [&](TComm*) { ++hangups; };
    comm_->OpenComm();
    pty_.CloseFarEnd();
    ASSERT_TRUE(PumpUntil([&] { return hangups == 1; }, 2s));
    Send(*comm_, "lost"); // the writer meets the same hang-up
    const double cpuBefore = ProcessCpuMs();
    PumpFor(300ms);
    EXPECT_EQ(hangups, 1);
    EXPECT_LT(ProcessCpuMs() - cpuBefore, 100.0); // nothing spins on the dead device
    EXPECT_EQ(OpenError(*comm_), "This serial port already opened"); // open until CloseComm
    EXPECT_TRUE(comm_->HungUp());

    comm_->CloseComm();
    pty_.ReopenFarEnd();
    ASSERT_EQ(OpenError(*comm_), "");
    EXPECT_FALSE(comm_->HungUp()) << "the new opening has not hung up";
    pty_.Write("back");
    ASSERT_TRUE(WaitChunks(1));
    EXPECT_EQ(chunks_.back(), "back");
    ASSERT_TRUE(Send(*comm_, "again"));
    EXPECT_TRUE(pty_.WaitReceived(5, 2s));
    EXPECT_EQ(hangups, 1);
}

// What was handed over before the port closes still goes out: the scan closes working ports
// between their replies.
TEST_F(SerialCommTest, SentBytesLeaveBeforeThePortCloses) {
    comm_->OpenComm();
    const std::string sent = Pattern(3 * 60000); // ten times the pseudo-terminal's buffer
    for (std::size_t at = 0; at < sent.size(); at += 60000) {
        ASSERT_TRUE(Send(*comm_, sent.substr(at, 60000)));
    }
    comm_->CloseComm();
    ASSERT_TRUE(pty_.WaitReceived(sent.size(), 2s)) << pty_.ReceivedCount();
    EXPECT_TRUE(pty_.Received() == sent);
}

// What the reader already holds when the port closes is delivered as the last chunk.
TEST_F(SerialCommTest, CloseWhileAReadIsPendingReturnsPromptly) {
    comm_->SetReadIntervalTimeout(60000);
    const std::size_t filesBefore = OpenFileCount();
    comm_->OpenComm();
    pty_.Write("partial");
    std::this_thread::sleep_for(20ms);
    ASSERT_TRUE(Send(*comm_, Pattern(1000)));
    const auto start = std::chrono::steady_clock::now();
    comm_->CloseComm();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 500ms);
    EXPECT_EQ(OpenFileCount(), filesBefore); // device, close event and queue signal are gone
    ASSERT_TRUE(WaitChunks(1));
    EXPECT_EQ(chunks_, std::vector<std::string>{"partial"});
    EXPECT_TRUE(comm_->SendQueueEmpty());
}

// Notifications still queued when the port closes are delivered afterwards; those still queued
// when the component goes are freed with it.
TEST_F(SerialCommTest, QueuedNotificationsOutliveCloseButNotTheComponent) {
    comm_->SetReadIntervalTimeout(0);
    comm_->OpenComm();
    pty_.Write("queued");
    std::this_thread::sleep_for(50ms); // delivered by the reader, not yet handled
    comm_->CloseComm();
    ASSERT_TRUE(WaitChunks(1));
    EXPECT_EQ(chunks_[0], "queued");

    comm_->OpenComm();
    pty_.Write("dropped with the component");
    std::this_thread::sleep_for(50ms);
    comm_.reset();
    PumpFor(20ms);
    EXPECT_EQ(chunks_.size(), 1u);
}

TEST(SerialLineCounters, DifferencesBecomeNotificationBits) {
    using serial::LineCounters;
    LineCounters before{1, 2, 3, 4, 5, 6, 7};
    struct Case {
        LineCounters after;
        std::uint32_t errors;
        std::uint32_t modem;
    } cases[] = {
        {{1, 2, 3, 4, 5, 6, 7}, 0, 0},
        {{2, 2, 3, 4, 5, 6, 7}, serial::kErrorFrame, 0},
        {{1, 3, 4, 4, 6, 6, 7},
         serial::kErrorOverrun | serial::kErrorParity | serial::kErrorRxOver,
         0},
        {{1, 2, 3, 5, 5, 6, 7}, serial::kErrorBreak, 0},
        {{1, 2, 3, 4, 5, 7, 7}, 0, 8},
        {{1, 2, 3, 4, 5, 7, 9}, 0, 8 | 4},
        {{1, 2, 3, 4, 5, 6, 8}, 0, 4},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(serial::LineErrorBits(before, c.after), c.errors);
        EXPECT_EQ(serial::ModemEventBits(before, c.after), c.modem);
    }
}

} // namespace
