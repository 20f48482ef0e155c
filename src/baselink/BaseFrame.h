// The frames of the base-station link, built as hex text. A request (AA 31) and a reply (AA 32)
// share one envelope: lead, kind, station, handheld, big-endian body length L, a body that ends
// with AA BB, and the 16-bit sum of the body.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace BaseFrame {

inline constexpr char kQueryFrame[] = "AA00000000000000";
inline constexpr char kNoTime[] = "FFFFFFFFFFFF";
inline constexpr std::size_t kEnvelopeBytes = 8;  // head 6 + check 2
inline constexpr std::size_t kMinRequestBody = 9; // time 6 + operation 1 + trailer 2
inline constexpr int kOperationBase = 0x4C;       // operation byte = operation + 0x4C

// Byte offsets from the first byte of a frame.
inline constexpr std::size_t kLeadOffset = 0;     // 0xAA
inline constexpr std::size_t kKindOffset = 1;     // 0x31 request, 0x32 reply
inline constexpr std::size_t kStationOffset = 2;  // the base station's identifier
inline constexpr std::size_t kHandheldOffset = 3; // the handheld number
inline constexpr std::size_t kLengthOffset = 4;   // body length L, 2 bytes big-endian
inline constexpr std::size_t kBodyOffset = 6;     // L bytes, ending with the trailer
inline constexpr std::size_t kTimeOffset = 6;     // request: 6 bytes of time
inline constexpr std::size_t kTimeBytes = 6;
inline constexpr std::size_t kOperationOffset = 12; // request: operation byte
inline constexpr std::size_t kDataOffset = 13;      // request: L - 9 bytes of data
inline constexpr std::size_t kTrailerBytes = 2;     // AA BB, the last bytes of the body
inline constexpr std::uint8_t kLead = 0xAA;
inline constexpr std::uint8_t kRequestKind = 0x31;
inline constexpr std::uint8_t kTrailer[kTrailerBytes] = {0xAA, 0xBB};

// The fields of a good request frame, as handed to the request decoder.
struct RequestFrame {
    int Operation = 0; // operation byte - 0x4C
    std::uint8_t BaseByte = 0;
    std::uint8_t Handheld = 0;
    std::string TimeHex; // 12 hex digits
    std::string Data;
};

// What the bytes at the front of a buffer are.
enum class RequestVerdict {
    Incomplete, // may be the start of a request frame: Length bytes are needed to judge it
    NotAFrame,  // does not begin with AA 31
    BadTrailer, // the body does not end with AA BB (or is too short to hold it)
    BadSum,     // the check differs from the sum of the body
    NoRequest,  // a checked frame too short for time, operation and trailer
    Request,    // a good request frame; Frame holds its fields
};

struct RequestCheck {
    RequestVerdict Verdict = RequestVerdict::Incomplete;
    // Incomplete: the bytes needed before the front can be judged (2, 6 or L + 8).
    // BadTrailer, BadSum, NoRequest, Request: the frame's length L + 8. NotAFrame: 0.
    std::size_t Length = 0;
    RequestFrame Frame; // set for Request only
};

// Checks the request frame at the front of `bytes`: lead and kind, length, trailer and the
// 16-bit sum of the body, then reads the fields. Bytes after the frame are not looked at.
RequestCheck CheckRequest(std::span<const std::uint8_t> bytes);

// The reply frame F as hex text, in the order the handhelds expect:
// AA 32, station byte, handheld byte, L, time, operation byte, handheld byte, status, text length
// (low byte first), text CRC, text, AA BB, body sum.
std::string BuildReply(int operation, std::uint8_t baseByte, std::uint8_t handheld,
                       const std::string& text, const std::string& timeHex, bool success);

// A request frame as hex text (used by tests and tools): the envelope around time, operation and
// data.
std::string BuildRequest(std::uint8_t station, std::uint8_t handheld, const std::string& timeHex,
                         int operation, const std::string& data);

} // namespace BaseFrame
