// The frames of the base-station link, built as hex text. A request (AA 31) and a reply (AA 32)
// share one envelope: lead, kind, station, handheld, big-endian body length L, a body that ends
// with AA BB, and the 16-bit sum of the body.
#pragma once

#include <cstdint>
#include <string>

namespace BaseFrame {

inline constexpr char kQueryFrame[] = "AA00000000000000";
inline constexpr char kNoTime[] = "FFFFFFFFFFFF";
inline constexpr std::size_t kEnvelopeBytes = 8;  // head 6 + check 2
inline constexpr std::size_t kMinRequestBody = 9; // time 6 + operation 1 + trailer 2
inline constexpr int kOperationBase = 0x4C;       // operation byte = operation + 0x4C

// The reply frame F as hex text, in the order the handhelds expect:
// AA 32, addressHex, L, time, operation byte, handheld, status, text length (low byte first),
// text CRC, text, AA BB, body sum. Throws std::invalid_argument when handheldDec is not a decimal
// number, with the conversion's message.
std::string BuildReply(int operation, const std::string& addressHex, const std::string& handheldDec,
                       const std::string& text, const std::string& timeHex, bool success);

// A request frame as hex text (used by tests and tools): the envelope around time, operation and
// data.
std::string BuildRequest(std::uint8_t station, std::uint8_t handheld, const std::string& timeHex,
                         int operation, const std::string& data);

} // namespace BaseFrame
