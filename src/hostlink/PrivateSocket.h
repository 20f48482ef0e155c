// Private messages between a relay and the programs of its own user (a second start handing
// over its host's handle; a tool asking the running relay). They travel on sockets of their own
// in the runtime directory, never under a host window's "win-" name, so the host protocol
// never meets them. A message is one datagram of text; one sent by another user is dropped
// unread.
#pragma once

#include "hostlink/LocalSocket.h"

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>

namespace hostlink {

// Longer messages are dropped.
constexpr std::size_t kMaxPrivateMessage = 4096;

std::string PrivatePath(const std::string& runtimeDir, const std::string& name);

struct PrivateMessage {
    std::string text;
    std::string sender; // where an answer goes; empty when the sender cannot be answered
};

// The receiving end, bound at <runtime dir>/<name>.
class PrivateSocket {
public:
    PrivateSocket() = default;
    ~PrivateSocket();
    PrivateSocket(const PrivateSocket&) = delete;
    PrivateSocket& operator=(const PrivateSocket&) = delete;

    // 0 on success, else the errno value (EINVAL for a host window's name).
    int Open(const std::string& runtimeDir, const std::string& name);
    // Closes the socket and removes its file.
    void Close();
    bool IsOpen() const { return fd_ >= 0; }
    int Fd() const { return fd_; }

    // The next message from this user, or nothing when none waits. Never blocks.
    std::optional<PrivateMessage> Receive();
    // Answers a message; false when it cannot be answered.
    bool Answer(const PrivateMessage& to, const std::string& text) const;

private:
    int fd_ = -1;
    BoundFile bound_;
};

// Sends one message to the socket `name`; false when nobody receives there.
bool SendPrivate(const std::string& runtimeDir, const std::string& name, const std::string& text);

// Sends one message and waits up to `timeout` for the answer; nothing when none came.
std::optional<std::string> AskPrivate(const std::string& runtimeDir, const std::string& name,
                                      const std::string& text, std::chrono::milliseconds timeout);

} // namespace hostlink
