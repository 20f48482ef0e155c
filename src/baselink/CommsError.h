// The serial port component's exception, apart from the component so that code which only opens
// ports through an interface (the base-station scan) can read it without Qt.
#pragma once

#include <stdexcept>
#include <string>
#include <utility>

// Raised by TComm::OpenComm with one of the fixed messages. When the system refused the device,
// its reason comes along for the work log; the message stays the fixed text.
class ECommsError : public std::runtime_error {
public:
    explicit ECommsError(const std::string& message, std::string reason = {})
        : std::runtime_error(message), reason_(std::move(reason)) {}

    // The system's reason (GBK), e.g. "权限不够"; empty when the failure has none.
    const std::string& Reason() const { return reason_; }

private:
    std::string reason_;
};
