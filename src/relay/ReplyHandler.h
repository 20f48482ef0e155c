// Delivery of the host's replies: reads R1.TXT when the host says a reply is ready, answers the
// handheld whose request is with the host, keeps a copy in R2.txt and lets the queue go on.
#pragma once

#include "relay/CommandQueue.h"
#include "relay/RelayInterfaces.h"
#include "relay/ReplyFile.h"

#include <cstdint>
#include <deque>
#include <exception>
#include <optional>
#include <string>

class PdaReplySender;
class WorkLog;

namespace config {
struct AppSettings;
}

namespace relay {

class ReplyHandler {
public:
    ReplyHandler(const config::AppSettings& settings, CommandQueue& queue, PdaReplySender& sender,
                 WorkLog& log, Waits& waits);

    // The host has posted reply-ready. The message belongs to the request that is with the host
    // now (none when the queue is empty). Runs do not nest: a message that comes while one is
    // being handled is recorded at once and handled after it, in arrival order, and those whose
    // request has been answered meanwhile only add a work-log line. So every request is
    // answered once, from a reply that the host wrote for it, and a flood of messages costs
    // neither stack nor memory: repeats for one request are kept as a count. An error of a run
    // (R2.txt cannot be written; the handheld is answered all the same) goes to the caller once
    // the runs are done.
    void HandleReply();

    // The whole reply step of a reply-ready message, to be called the moment the message
    // arrives (instead of waiting 20 ms, logging "读文件R1.TXT" and calling HandleReply): the
    // message is matched to the request with the host before the 20 ms wait, so that a second
    // message that comes during that wait cannot be taken for the next request either.
    void ReplyReady();

    bool Running() const { return running_; }

private:
    // Reply-ready messages of one request in a row, not yet handled.
    struct Notices {
        std::uint64_t request = 0; // serial of the request with the host, 0 for none
        bool settle = false;       // the message's own 20 ms wait comes first
        std::size_t count = 1;
    };

    void Record(std::uint64_t request, bool settle);
    void RunPending();
    void RunOnce(std::uint64_t request, bool settle);
    bool AnsweredAlready(std::uint64_t request);
    bool Settle();
    void AnswerHead(const std::string& path);
    std::optional<std::string> WaitForReplyFile();
    std::optional<ReplyFile> ReadReplyFile(const std::string& path);
    std::exception_ptr WriteReplyCopy(const ReplyFile& reply);
    void Answer(const ReplyFile& reply);
    void AnswerSuccess();

    const config::AppSettings& settings_;
    CommandQueue& queue_;
    PdaReplySender& sender_;
    WorkLog& log_;
    Waits& waits_;
    std::deque<Notices> pending_;
    bool running_ = false;
};

} // namespace relay
