// Replies to the handhelds on their way to a base station whose port is out (its device
// vanished and the port is being reopened, or the base-station scan has closed it to open it
// again): kept until the port is back instead of being written into a dead or closed device.
#pragma once

#include <string>

// One reply frame, with what the work log names it by.
struct StationReply {
    std::string Frame;     // hex text, as built
    std::string Handheld;  // the handheld number in decimal
    std::string Operation; // the name of the reply's operation
};

// The work-log line of a reply that the slot's closed port did not take.
std::string NotSentLine(int slot, const StationReply& reply);

class ReplyHold {
public:
    virtual ~ReplyHold() = default;
    // True when the slot's port is out: the reply is kept, or dropped with a work-log line when
    // the port has been out too long. False when the port is not out.
    virtual bool Keep(int slot, const StationReply& reply) = 0;
};
