// The requests that passed the checks, oldest first. The head is the request that is with the
// host; the others wait until the reply to the one before them has been delivered.
#pragma once

#include "relay/RelayInterfaces.h"
#include "relay/RequestRecord.h"
#include "text/Waits.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>

class WorkLog;

namespace relay {

struct CommandEntry {
    int Operation = 0;
    std::uint8_t BaseByte = 0; // the request frame's station and handheld bytes
    std::uint8_t Handheld = 0;
    std::string Data;
    std::string Time; // TimeHex
    // Tells entries apart, so that a reply-ready message is matched to the request that was
    // with the host when it came. Counts from 1.
    std::uint64_t Serial = 0;
    // When it joined the queue.
    std::chrono::steady_clock::time_point Since{};
};

class CommandQueue : public RequestQueue {
public:
    // A head whose request file could not be written is tried again after this long, until it
    // is written, answered anyway or the program ends. The causes (an exchange directory that
    // is briefly gone, a full disk) last seconds, not milliseconds; a second adds little to a
    // handheld that already waits and keeps the work log at one line per try.
    static constexpr int kRetryMs = 1000;

    CommandQueue(RequestBuilder& builder, WorkLog& log, Waits& waits, RetryTimer& retry);

    // Appends the request; when it is the only one, writes its request file and notifies the
    // host. An error of BuildRequest goes to the caller; the entry stays at the head, and a
    // request file that could not be written is tried again (kRetryMs).
    void SubmitRequest(int operation, std::uint8_t baseByte, std::uint8_t handheld,
                       const std::string& data, const std::string& time) override;

    // The head has been answered: drops it and hands the next one to the host. An error while
    // handing it over is logged; that entry stays at the head, tried again like a new one.
    void CompleteHead();

    // The host has been replaced (a restarted host): the head's request file is written again
    // and the new host notified, so that the queue flows again. Errors as in CompleteHead.
    void HandHeadToNewHost();

    bool Empty() const { return entries_.empty(); }
    std::size_t Size() const { return entries_.size(); }
    // Only while not Empty().
    const CommandEntry& Head() const { return entries_.front(); }
    // The head's serial, 0 when the queue is empty.
    std::uint64_t HeadSerial() const { return Empty() ? 0 : Head().Serial; }

    // Called with each head as its answer has been delivered, just before it is dropped.
    void OnCompleted(std::function<void(const CommandEntry&)> completed) {
        completed_ = std::move(completed);
    }

    // The head's request file could not be written; a try is due.
    bool Retrying() const { return retry_.Active(); }

private:
    void HandOver(const CommandEntry& entry);
    void HandOverHead();
    void RetryLater();
    void Retry();

    RequestBuilder& builder_;
    WorkLog& log_;
    Waits& waits_;
    std::deque<CommandEntry> entries_;
    std::uint64_t nextSerial_ = 1;
    RetryTimer& retry_;
    std::function<void(const CommandEntry&)> completed_;
};

} // namespace relay
