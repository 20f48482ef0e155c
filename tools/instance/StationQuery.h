// Asks a base station for its channel, as the relay does when it connects: the port opened with
// the relay's line settings, the query frame sent, the answer read.
#pragma once

#include <string>

namespace instance {

struct QueryOutcome {
    enum class Status {
        Answered,    // channel holds the channel number (the answer's index + 1)
        ShortAnswer, // an answer shorter than 8 bytes: the relay cannot read its channel
        Silent,      // no answer to any attempt
        Held,        // another process holds the port (its lock or exclusive use); error says so
        CannotOpen,  // error gives the system's reason
        NotATerminal,
    };
    Status status = Status::Silent;
    int channel = 0;
    std::string error;
};

// Opens `device` for base-station slot `slot` (DTR as the relay sets it), sends the query up to
// `attempts` times and waits `waitMs` for an answer after each. The port is closed afterwards.
QueryOutcome QueryStation(const std::string& device, int slot, int attempts = 3, int waitMs = 500);

} // namespace instance
