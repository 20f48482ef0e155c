// The requests that passed the checks, oldest first. The head is the request that is with the
// host; the others wait until the reply to the one before them has been delivered.
#pragma once

#include "relay/RelayInterfaces.h"
#include "relay/RequestRecord.h"
#include "text/Waits.h"

#include <cstdint>
#include <deque>
#include <string>

class WorkLog;

namespace relay {

struct CommandEntry {
    std::string Operation; // decimal
    std::string Address;   // AddressHex
    std::string Handheld;  // HandheldDec
    std::string Data;
    std::string Time; // TimeHex
    // Tells entries apart, so that a reply-ready message is matched to the request that was
    // with the host when it came. Counts from 1.
    std::uint64_t Serial = 0;
};

class CommandQueue : public RequestQueue {
public:
    CommandQueue(RequestBuilder& builder, WorkLog& log, Waits& waits);

    // Appends the request; when it is the only one, writes its request file and notifies the
    // host. An error of BuildRequest goes to the caller; the entry stays at the head.
    void SubmitRequest(int operation, const std::string& address, const std::string& handheld,
                       const std::string& data, const std::string& time) override;

    // The head has been answered: drops it and hands the next one to the host. An error while
    // handing it over is logged; that entry stays at the head.
    void CompleteHead();

    bool Empty() const { return entries_.empty(); }
    std::size_t Size() const { return entries_.size(); }
    // Only while not Empty().
    const CommandEntry& Head() const { return entries_.front(); }
    // The head's serial, 0 when the queue is empty.
    std::uint64_t HeadSerial() const { return Empty() ? 0 : Head().Serial; }

private:
    void HandOver(const CommandEntry& entry);

    RequestBuilder& builder_;
    WorkLog& log_;
    Waits& waits_;
    std::deque<CommandEntry> entries_;
    std::uint64_t nextSerial_ = 1;
};

} // namespace relay
