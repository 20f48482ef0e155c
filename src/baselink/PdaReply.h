// Writing frames to the base stations: SendToBase (one hex-text frame to one slot) and
// SendPdaReply (build, log and route a reply to a handheld).
#pragma once

#include "baselink/PdaReplySender.h"

#include <array>
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
    BaseSender(const std::array<std::string, 4>& baseIds, BasePorts& ports, WorkLog& log,
               std::function<std::string(int)> operationName);

    // Decodes the hex text and hands it to the slot's port when the slot has a BaseId; otherwise,
    // or when the port is closed, nothing is sent and nothing is said.
    void SendToBase(const std::string& hex, int slot);

    void SendPdaReply(int operation, const std::string& addressHex, const std::string& handheldDec,
                      const std::string& text, const std::string& timeHex, bool success) override;

private:
    void LogReply(const std::string& handheldDec, int operation, const std::string& frame,
                  const std::string& text);
    void RouteReply(const std::string& addressHex, const std::string& frame);

    const std::array<std::string, 4>& baseIds_;
    BasePorts& ports_;
    WorkLog& log_;
    std::function<std::string(int)> operationName_;
};
