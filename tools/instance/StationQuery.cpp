#include "StationQuery.h"

#include "baselink/BaseFrame.h"
#include "baselink/SerialPlatform.h"
#include "baselink/xyTypeConv.h"
#include "text/Gbk.h"

#include <chrono>
#include <cstring>
#include <thread>

namespace instance {
namespace {

using Clock = std::chrono::steady_clock;
using Status = QueryOutcome::Status;

constexpr std::size_t kAnswerBytes = 8; // the channel index is byte 7

// The relay's line settings: 115200 8N1 without flow control, RTS on, DTR off on slot 1.
void SetUpLine(int fd, int slot) {
    serial::LineSettings line;
    line.baudRate = 115200;
    line.xonChar = 0;
    line.xoffChar = 0;
    serial::ApplyLineSettings(fd, line);
    serial::SetModemLine(fd, serial::ModemLine::Dtr, slot != 1);
    serial::SetModemLine(fd, serial::ModemLine::Rts, true);
}

bool SendQuery(int fd) {
    const std::string frame = HexCodec::HexToText(BaseFrame::kQueryFrame);
    serial::IoResult written = serial::WriteSome(fd, frame.data(), frame.size());
    return written.status == serial::IoStatus::Done && written.count == frame.size();
}

// The answer, from its AA 00 on, among the bytes that arrive within waitMs; what comes before it
// belongs to other traffic, such as handheld requests.
std::string ReadAnswer(int fd, int waitMs) {
    static const std::string kHead("\xAA\x00", 2);
    std::string got;
    const auto deadline = Clock::now() + std::chrono::milliseconds(waitMs);
    for (;;) {
        const std::size_t start = got.find(kHead);
        const std::string answer = start == std::string::npos ? "" : got.substr(start);
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        if (answer.size() >= kAnswerBytes || left.count() <= 0 ||
            serial::WaitReady(fd, false, -1, static_cast<int>(left.count())) !=
                serial::Readiness::Ready) {
            return answer;
        }
        char buffer[256];
        const serial::IoResult read = serial::ReadSome(fd, buffer, sizeof buffer);
        if (read.status == serial::IoStatus::Done) {
            got.append(buffer, read.count);
        } else if (read.status != serial::IoStatus::WouldBlock) {
            return answer;
        }
    }
}

QueryOutcome Ask(int fd, int attempts, int waitMs) {
    QueryOutcome outcome;
    for (int attempt = 0; attempt < attempts; ++attempt) {
        serial::DiscardInput(fd);
        if (!SendQuery(fd)) {
            outcome.error = "the query could not be written";
            continue;
        }
        const std::string answer = ReadAnswer(fd, waitMs);
        if (answer.size() >= kAnswerBytes) {
            outcome.status = Status::Answered;
            outcome.channel = static_cast<unsigned char>(answer[7]) + 1;
            return outcome;
        }
        if (answer.size() >= 2) {
            outcome.status = Status::ShortAnswer;
        }
    }
    return outcome;
}

// The system's reason in the outcome's words, then as the relay's work log gives it.
std::string ReasonText(const serial::SystemError& error) {
    std::string words;
    switch (error.fault) {
    case serial::OpenFault::NoDevice:
        words = "no such device";
        break;
    case serial::OpenFault::PermissionDenied:
        words = "permission denied";
        break;
    case serial::OpenFault::Busy:
        words = "busy";
        break;
    default:
        words = std::strerror(error.errnum);
        break;
    }
    return words + " (" + text::ToUtf8(error.reason) + ")";
}

} // namespace

QueryOutcome QueryStation(const std::string& device, int slot, int attempts, int waitMs) {
    serial::OpenedDevice opened = serial::OpenDevice(device);
    if (opened.status == serial::OpenStatus::NotATerminal) {
        return {Status::NotATerminal, 0, "not a serial device"};
    }
    if (opened.status != serial::OpenStatus::Opened) {
        const bool held = opened.error.fault == serial::OpenFault::Busy;
        return {held ? Status::Held : Status::CannotOpen, 0, ReasonText(opened.error)};
    }
    SetUpLine(opened.fd, slot);
    std::this_thread::sleep_for(std::chrono::milliseconds(100)); // the relay's pause before a query
    QueryOutcome outcome = Ask(opened.fd, attempts, waitMs);
    serial::CloseDevice(opened.fd);
    return outcome;
}

} // namespace instance
