// The host message and the exchange files: what the relay and the host program exchange.
// A message only says that something is ready; the data travels in the exchange files.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace hostlink {

// The one message number used in both directions.
constexpr std::uint32_t kHostMessage = 0x500;

// Parameters of the notification the relay posts after each request file.
constexpr std::uint32_t kNotifyFirst = 1;
constexpr std::int32_t kNotifySecond = 1;

struct HostMessage {
    std::uint32_t first = 0; // word parameter; the relay ignores it on incoming messages
    std::int32_t second = 0; // long parameter: the code
};

// A message on the carrier is one datagram of 12 bytes, little-endian: message number (uint32),
// first parameter (uint32), second parameter (int32).
constexpr std::size_t kDatagramSize = 12;
using Datagram = std::array<unsigned char, kDatagramSize>;

Datagram EncodeMessage(const HostMessage& message);
// Nothing when the datagram has another size or carries another message number.
std::optional<HostMessage> DecodeMessage(const unsigned char* data, std::size_t size);

// What an incoming code means to the relay.
enum class HostCode {
    Invalid,       // 0 or less, or above 99999999
    HandleOrReply, // 1..10, 14, 15, 17..99999999: reply ready, or a handle announcement
    NoOperation,   // 11
    ShowWindow,    // 12
    HostCloses,    // 13, 16
};
HostCode ClassifyHostCode(std::int32_t code);

// The largest code that still means "reply ready" (a window handle up to here can be adopted).
constexpr std::int32_t kLargestReplyCode = 99999999;

// Exchange files, appended directly to the exchange directory. The reply file is looked for
// under this spelling, then without regard to case; the file found is the one read.
inline const std::string kRequestFile = "T1.txt";
inline const std::string kReplyFile = "R1.TXT";

} // namespace hostlink
