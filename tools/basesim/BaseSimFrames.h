// The base station's side of the serial link: the frames it sends (handheld requests, query
// answers, notices), the cutting of the byte stream from the relay into frames by their own
// length fields, and the checks of every frame it receives. The checks are computed here, on
// their own, so that the simulator can judge what the relay sends.
#pragma once

#include "relay/OperationNames.h"

#include "JsonLine.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace basesim {

using Bytes = std::string; // raw bytes
using simjson::JsonLine;

// --- check values, written independently of the relay's codec ---
std::uint16_t Sum16(std::string_view bytes);
// CRC-16/MODBUS over every byte but the last; 0xFFFF for 0 or 1 byte.
std::uint16_t CrcAllButLast(std::string_view text);
std::string Hex(std::string_view bytes);
// Strict hex: pairs of digits, blanks between pairs allowed; nothing on an odd or bad digit.
std::optional<Bytes> ParseHex(std::string_view hex);

// --- frames sent by the base station ---
inline constexpr std::uint8_t kFirstOpByte = 0x4C; // operation 0
inline constexpr int kOperationCount = relay::kOperationCount;
// The operation's name (DL, XGMM, ...) for 0..36, else "".
std::string_view OperationName(int operation);
// The operation of a name or request mnemonic, ignoring case (YDKT is operation 30, named QCJE).
std::optional<int> OperationByName(std::string_view name);

struct RequestFrame {
    std::uint8_t station = 0x02;
    std::uint8_t handheld = 0;
    Bytes time = Bytes(6, '\0'); // 6 bytes: seconds, minutes, hours (BCD), 3 more
    std::uint8_t opByte = kFirstOpByte;
    Bytes data;
};
// Head AA 31, station, handheld, body length, body (time, op byte, data, AA BB), body sum.
Bytes BuildRequest(const RequestFrame& request);
// The request time field for a wall-clock time: seconds, minutes, hours as BCD, then 00 00 00.
Bytes TimeField(int hour, int minute, int second);

// Query answer: AA 00 00 00 00 00 00, then the channel index (channel - 1) unless shortAnswer.
Bytes BuildAnswer(int channel, bool shortAnswer);
Bytes BroadcastNotice();
Bytes ReadyNotice();

// --- frames received from the relay ---
enum class FrameKind { Reply, Query, SetId, Clock, Start, Packet, Unknown };
const char* KindName(FrameKind kind);

struct Frame {
    FrameKind kind = FrameKind::Unknown;
    Bytes bytes;
    bool truncated = false; // the stream went quiet before the frame's length was reached
};

inline constexpr std::size_t kQueryLength = 8;
inline constexpr std::size_t kPacketLength = 75;
inline constexpr std::size_t kBlockSize = 64;

// Cuts the byte stream into frames. A frame that starts with AA is measured by its kind: AA 00 is
// 8 bytes, AA 32 / 40 / 41 / 33 carry a body length at bytes 4-5 (frame = length + 8); a frame
// that starts with 0A is a 75-byte image packet. Bytes that start none of these are gathered, up
// to the next AA or 0A, into one unknown frame (at the end of the buffer they wait for Flush).
class FrameSplitter {
public:
    void Feed(std::string_view bytes) { buffer_.append(bytes); }
    // The next complete frame, or nothing while the buffer holds only a partial one.
    std::optional<Frame> Next();
    // Whatever is left as one frame, truncated unless it is unknown bytes; empties the buffer.
    std::optional<Frame> Flush();
    bool HasPartial() const { return !buffer_.empty(); }

private:
    Bytes buffer_;
};

// --- checks and reports ---
struct SetIdFrame {
    std::uint8_t id = 0;
    int channel = 0; // channel number, channel byte + 1
};
struct ClockFrame {
    int second = 0, minute = 0, hour = 0, day = 0, weekday = 0, month = 0, year = 0;
};
struct PacketFrame {
    int count = 0;
    int block = 0;
    Bytes data; // 64 bytes
};

// Each check fills the report line (kind first, hex last) and returns the decoded frame when it
// can be applied: lengths and sums held (and for the clock, valid BCD fields).
void CheckReply(const Frame& frame, JsonLine& line);
bool CheckQuery(const Frame& frame, JsonLine& line); // true for exactly AA00000000000000
std::optional<SetIdFrame> CheckSetId(const Frame& frame, JsonLine& line);
std::optional<ClockFrame> CheckClock(const Frame& frame, JsonLine& line);
bool CheckStart(const Frame& frame, JsonLine& line); // true for exactly the start frame
std::optional<PacketFrame> CheckPacket(const Frame& frame, JsonLine& line);

// Weekday of a Gregorian date, 1 Monday to 7 Sunday.
int Weekday(int year, int month, int day);

} // namespace basesim
