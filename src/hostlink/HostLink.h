// The host link protocol: the incoming message 0x500 and its codes, NotifyHost after each
// request file, the start-up announcement, and the host-related state (HostHandle, HostGone,
// HostClosing). The actions on the relay and the main window stay with the main controller,
// reached through HostLinkOwner.
#pragma once

#include "hostlink/HostLinkOwner.h"
#include "hostlink/HostProtocol.h"
#include "relay/RelayInterfaces.h"

#include <QMetaObject>
#include <cstdint>

class WorkLog;

namespace hostlink {

class HostEndpoint;

class HostLink : public relay::HostNotifier {
public:
    // `endpoint` may be null (no usable runtime directory): then nothing is posted, no message
    // arrives and no host window exists. While it lives, HostLink handles the endpoint's
    // incoming messages.
    HostLink(WorkLog& log, HostLinkOwner& owner, HostEndpoint* endpoint);
    ~HostLink() override;
    HostLink(const HostLink&) = delete;
    HostLink& operator=(const HostLink&) = delete;

    // Incoming message 0x500. Only the second parameter counts.
    void HandleMessage(std::uint32_t first, std::int32_t second);

    // Called right after a request file has been written: tells the host to read it.
    void NotifyHost() override;

    // Once at start-up when started by the host: 0x500 to HostHandle with the relay's own
    // handle as both parameters. A stream host is connected now.
    void PostStartupAnnouncement();

    // "The host window exists"; false while HostHandle is 0.
    bool HostWindowExists() const;

    // A second start hands over the handle of a restarted host. Adopted only when the host
    // window no longer exists (the close decision's test): the new host then gets the start-up
    // announcement and the owner gives it the request that waits. Refused while the host lives.
    // Each outcome is one work-log line; true when adopted.
    bool HandOver(unsigned handle);

    // HostHandle: the host's window; 0 means no host known.
    unsigned HostHandle() const { return hostHandle_; }
    void SetHostHandle(unsigned handle);
    // HostGone: the host window was found gone, or the host announced that it closes.
    bool HostGone() const { return hostGone_; }
    void SetHostGone(bool gone) { hostGone_ = gone; }
    // HostClosing: the host announced that it closes; a close request then always ends the
    // program.
    bool HostClosing() const { return hostClosing_; }
    void SetHostClosing(bool closing) { hostClosing_ = closing; }

private:
    void HandleOrReply(std::int32_t code);
    void HostCloses();
    void ReportIfGone(unsigned handle);

    WorkLog& log_;
    HostLinkOwner& owner_;
    HostEndpoint* endpoint_;
    QMetaObject::Connection connection_;
    QMetaObject::Connection streamEnd_;
    unsigned hostHandle_ = 0;
    bool hostGone_ = false;
    bool hostClosing_ = false;
    bool goneReported_ = false; // the vanished host has been logged once
};

} // namespace hostlink
