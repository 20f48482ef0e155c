// What the relay needs to answer a handheld: build, log and send one reply frame through the base
// station that carries the handheld's requests.
#pragma once

#include <cstdint>
#include <string>

class PdaReplySender {
public:
    virtual ~PdaReplySender() = default;
    // operation: the request's operation number (echoed as operation + 0x4C); baseByte and
    // handheld: the request frame's station and handheld bytes; text: GBK reply text; timeHex:
    // 12 hex digits to echo; success: status OK, else NO.
    virtual void SendPdaReply(int operation, std::uint8_t baseByte, std::uint8_t handheld,
                              const std::string& text, const std::string& timeHex,
                              bool success) = 0;
};
