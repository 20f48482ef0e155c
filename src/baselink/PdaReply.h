// Writing frames to the base stations: SendToBase (one hex-text frame to one slot) and
// SendPdaReply (build, log and route a reply to a handheld).
#pragma once

#include "baselink/PdaReplySender.h"
#include "baselink/ReplyHold.h"
#include "text/Stations.h"

#include <array>
#include <deque>
#include <functional>
#include <string>

class WorkLog;

// The serial ports of the four slots as the senders see them.
class BasePorts {
public:
    virtual ~BasePorts() = default;
    // Queues bytes on the port of slot 1..4; false when the port is closed.
    virtual bool SendData(int slot, const std::string& bytes) = 0;
};

class BaseSender : public PdaReplySender {
public:
    // baseIds: the configured identifier of each slot, read at every send.
    // operationName: the name the log shows for an operation number.
    BaseSender(const std::array<std::string, kStationCount>& baseIds, BasePorts& ports,
               WorkLog& log, std::function<std::string(int)> operationName);

    // Decodes the hex text and hands it to the slot's port when the slot has a BaseId; otherwise,
    // or when the port is closed, nothing is sent and nothing is said.
    void SendToBase(const std::string& hex, int slot);

    // A reply is logged as sent ("由 基站1 发送" for slot 1) only once its port has taken it.
    // While the port is out the hold keeps it; a closed port that is not out gets a work-log
    // line naming the handheld and the operation instead.
    void SendPdaReply(int operation, std::uint8_t baseByte, std::uint8_t handheld,
                      const std::string& text, const std::string& timeHex, bool success) override;

    // Where replies wait while their station's port is out; none: they are not sent.
    void SetReplyHold(ReplyHold* hold) { hold_ = hold; }
    // The replies kept while the slot's port was out, in order, now that it is back.
    void SendKept(int slot, std::deque<StationReply> replies);

private:
    enum class Delivery { Sent, Kept, NotSent };

    void LogReply(const std::string& handheldDec, int operation, const std::string& frame,
                  const std::string& text);
    void RouteReply(std::uint8_t baseByte, const StationReply& reply);
    Delivery Deliver(int slot, const StationReply& reply);
    // Decodes the hex text and queues it on the slot's port; false when the port did not take it.
    bool HandOver(int slot, const std::string& hex);

    const std::array<std::string, kStationCount>& baseIds_;
    BasePorts& ports_;
    WorkLog& log_;
    std::function<std::string(int)> operationName_;
    ReplyHold* hold_ = nullptr;
};
