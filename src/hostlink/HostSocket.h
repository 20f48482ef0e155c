// The carrier of host messages: a "window" with handle H is a datagram socket bound at
// <runtime dir>/win-H. Messages are posted without waiting; a post that cannot be delivered is
// lost, as a post to a vanished window is.
#pragma once

#include "hostlink/HostProtocol.h"
#include "hostlink/LocalSocket.h"

#include <optional>
#include <string>
#include <string_view>

namespace hostlink {

// Every host window's socket name begins so; no other socket of the runtime directory does.
inline constexpr std::string_view kWindowPrefix = "win-";

std::string WindowPath(const std::string& runtimeDir, unsigned handle);

// "The window H exists": its socket accepts a connection.
bool WindowExists(const std::string& runtimeDir, unsigned handle);

// Removes the socket files of windows that are gone: "win-<n>" sockets that no process listens
// on any more and whose process n (a relay's handle is its process id) no longer runs. Other
// files stay. Returns how many were removed.
int RemoveDeadWindows(const std::string& runtimeDir);

// Posts one message to window `to` from a socket of its own; false when it was not sent.
bool PostMessage(const std::string& runtimeDir, unsigned to, const HostMessage& message);

// One bound endpoint. Datagrams of another size or number and datagrams sent by another user
// are dropped unread.
class HostSocket {
public:
    HostSocket() = default;
    ~HostSocket();
    HostSocket(const HostSocket&) = delete;
    HostSocket& operator=(const HostSocket&) = delete;

    // Binds the endpoint of window `handle`. A socket file that no process listens on any more
    // (left by a process that crashed) is replaced. Returns "" on success, else the system's
    // reason.
    std::string Open(const std::string& runtimeDir, unsigned handle);
    // Closes the socket and removes its file, unless another endpoint has taken the name since.
    void Close();

    bool IsOpen() const { return fd_ >= 0; }
    int Fd() const { return fd_; }
    unsigned Handle() const { return handle_; }
    const std::string& RuntimeDir() const { return runtimeDir_; }

    // The next valid message waiting on the socket, or nothing when none waits. Never blocks.
    std::optional<HostMessage> Receive();

    // Posts from this endpoint, so the receiver sees this process's user id.
    bool Post(unsigned to, const HostMessage& message) const;

private:
    int fd_ = -1;
    unsigned handle_ = 0;
    std::string runtimeDir_;
    BoundFile bound_;
};

} // namespace hostlink
