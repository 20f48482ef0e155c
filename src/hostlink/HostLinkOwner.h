// What the host link needs from the main controller, which owns the relay and the main window.
#pragma once

namespace hostlink {

class HostLinkOwner {
public:
    virtual ~HostLinkOwner() = default;

    // A reply-ready message arrived: after a short wait, read the reply file and answer the
    // request that was with the host when the message came (logged "读文件R1.TXT"). Messages
    // that arrive while one is handled are answered after it, each once.
    virtual void ReplyReady() = 0;
    // Shows the main window; it hides again by the usual hide rule.
    virtual void ShowMainWindow() = 0;
    // Runs the close decision directly (no waiting for the host window first). After the host's
    // closing message it always allows closing: the implementation then ends the program.
    virtual void RunCloseDecision() = 0;
    // A restarted host's handle has been adopted: the request with the host, if any, goes to
    // the new host (its request file written again, the host notified).
    virtual void HostReplaced() = 0;
    // HostHandle has changed.
    virtual void HostHandleChanged(unsigned /*handle*/) {}
};

} // namespace hostlink
