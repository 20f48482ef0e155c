// What the operator sees of the relay's traffic: the operation record table (a record for each
// accepted request and each answer sent, the newest 10,000 kept) and, per handheld, its requests
// since start, when it was last seen, the last reply's status and its refusals. Sits between the
// relay and the reply sender, so it sees every answer that goes out.
#pragma once

#include "app/OperationRecords.h"
#include "baselink/PdaReplySender.h"
#include "relay/RelayInterfaces.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <utility>

namespace app {

struct HandheldActivity {
    int Requests = 0; // since start, refused ones included
    int Unregistered = 0;
    int UnknownOperation = 0;
    std::string LastSeen;   // time of day of the last request
    std::string LastStatus; // "OK" or "NO" of the last answer sent; empty before the first
};

// The activity as one line for the tree's and the list's detail (GBK); null: no request yet.
std::string ActivityDetail(const HandheldActivity* activity);

class OperationRecorder : public relay::RequestEvents, public PdaReplySender {
public:
    static constexpr std::size_t kMaxRecords = 10000;

    // next: the sender that puts the answers on the link. timeOfDay: the clock of the records.
    explicit OperationRecorder(PdaReplySender& next,
                               std::function<std::string()> timeOfDay = TimeOfDayClock());

    const std::deque<OperationRecord>& Records() const { return records_; }
    // The activity of handheld `handheld3` ("005") on base-station ID `baseId` ("0A"), or null.
    const HandheldActivity* ActivityOf(const std::string& baseId,
                                       const std::string& handheld3) const;

    // relay::RequestEvents.
    void RequestAccepted(const relay::PdaRequest& request) override;
    void RequestRefused(const relay::PdaRequest& request, Refusal why) override;
    // PdaReplySender: records the answer, then sends it.
    void SendPdaReply(int operation, std::uint8_t baseByte, std::uint8_t handheld,
                      const std::string& text, const std::string& timeHex, bool success) override;

private:
    static std::function<std::string()> TimeOfDayClock();
    HandheldActivity& Seen(const relay::PdaRequest& request, const std::string& time);
    void Add(OperationRecord record);

    PdaReplySender& next_;
    std::function<std::string()> timeOfDay_;
    std::deque<OperationRecord> records_;
    std::map<std::pair<std::string, std::string>, HandheldActivity> activity_;
};

// A request's data as a short line for the record: for an order its item count and first items,
// otherwise the data with control bytes as blanks, cut to a few dozen bytes.
std::string RequestSummary(int operation, const std::string& data);

} // namespace app
