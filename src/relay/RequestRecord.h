// The request file T1.txt: one fixed-layout text record per request, which the host parses by
// position, and BuildRequest, which writes it and tells the host.
#pragma once

#include "relay/RelayInterfaces.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace config {
struct AppSettings;
class HandheldRegistry;
} // namespace config

namespace relay {

// The dish order: a 24-byte fixed part whose last byte is the item count, then one 28-byte block
// per item.
constexpr int kOrderOperation = 7;
constexpr std::size_t kOrderFixedPart = 24;
constexpr std::size_t kOrderItemBlock = 28;

// The request mnemonic padded with blanks to five characters ("DL   "), or "" for the four
// operations that have none (18, 19, 23, 29) and for numbers outside 0..36.
std::string HeaderMnemonic(int operation);

// The complete request file for one request: header and body lines, each ended by CR LF; empty
// for an operation without mnemonic. handheld is the number written into the header; timeHex
// is the request's 12-digit time text. Short data never fails: missing fields are empty.
std::string ComposeRequestRecord(int operation, int handheld, const std::string& data,
                                 const std::string& timeHex);

// The request file's path: ExchangeDir + "T1.txt" (an empty ExchangeDir is the current
// directory).
std::string RequestFilePath(const config::AppSettings& settings);

class RequestBuilder {
public:
    RequestBuilder(const config::AppSettings& settings, const config::HandheldRegistry& registry,
                   HandheldView& view, HostNotifier& host);

    // Writes the request's record to T1.txt and notifies the host. Does nothing for an
    // operation outside 0..36 or a handheld that is no longer registered. Throws
    // text::FileError when the file cannot be written (the host is then not notified).
    void BuildRequest(int operation, std::uint8_t baseByte, std::uint8_t handheld,
                      const std::string& data, const std::string& timeHex);

private:
    bool StillRegistered(std::uint8_t baseByte, std::uint8_t handheld) const;

    const config::AppSettings& settings_;
    const config::HandheldRegistry& registry_;
    HandheldView& view_;
    HostNotifier& host_;
};

} // namespace relay
