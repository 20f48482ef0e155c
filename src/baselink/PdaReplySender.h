// What the relay needs to answer a handheld: build, log and send one reply frame through the base
// station that carries the handheld's requests.
#pragma once

#include <string>

class PdaReplySender {
public:
    virtual ~PdaReplySender() = default;
    // operation: the request's operation number (echoed as operation + 0x4C); addressHex: station
    // and handheld bytes as 4 hex digits; handheldDec: the handheld number in decimal; text: GBK
    // reply text; timeHex: 12 hex digits to echo; success: status OK, else NO.
    virtual void SendPdaReply(int operation, const std::string& addressHex,
                              const std::string& handheldDec, const std::string& text,
                              const std::string& timeHex, bool success) = 0;
};
