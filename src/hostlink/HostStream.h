// Stream hosts: a host may bind a Unix stream socket at <runtime dir>/win-H instead of a datagram
// socket. The relay connects to it once; both sides then write the same 12-byte messages on that
// one connection, in order, and each side reads exactly 12 bytes per message, across as many
// reads as it takes. The connection's end is the host gone. Both ends accept only a peer of
// their own user (SO_PEERCRED).
#pragma once

#include "hostlink/HostProtocol.h"

#include <cstddef>
#include <string>
#include <sys/types.h>

namespace hostlink {

// The window H is a stream socket: a datagram connect to it fails with EPROTOTYPE.
bool WindowIsStream(const std::string& runtimeDir, unsigned handle);

// One end of a message connection.
class HostStream {
public:
    HostStream() = default;
    ~HostStream();
    HostStream(const HostStream&) = delete;
    HostStream& operator=(const HostStream&) = delete;

    // Connects to the stream window `handle` without waiting. A peer of another user is refused
    // (EACCES). Returns 0 on success, else the errno value.
    int Connect(const std::string& runtimeDir, unsigned handle);
    // Takes over a connected socket (a listener's accepted connection).
    void Adopt(int fd);
    void Close();

    bool IsOpen() const { return fd_ >= 0; }
    int Fd() const { return fd_; }
    // The peer has not ended the connection (what it wrote before may still wait unread).
    bool PeerOpen() const;

    enum class Read { Message, Nothing, Ended };
    // Reads toward the next message, never more than its missing bytes, so that the following
    // messages stay in the socket and a level-triggered watch on it fires again. Message: a
    // whole message with the message number is in `message`. Nothing: no whole message yet
    // (one with another number is skipped). Ended: the peer closed the connection, or it
    // failed (`error` then holds the errno value); what was begun of a message is dropped.
    Read ReadSome(HostMessage& message, int& error);
    // Writes one message without waiting; false when it was not written (the peer reads
    // nothing any more, or has left it all unread until the socket is full).
    bool Write(const HostMessage& message) const;

private:
    int fd_ = -1;
    Datagram pending_{};
    std::size_t have_ = 0;
};

// A listening stream socket bound at a path of the runtime directory: a stream window, or a
// private socket of the relay. A socket file that no process listens on any more is replaced.
class StreamListener {
public:
    StreamListener() = default;
    ~StreamListener();
    StreamListener(const StreamListener&) = delete;
    StreamListener& operator=(const StreamListener&) = delete;

    // Binds and listens: 0, or the errno value. With removeAtExit the file also goes when the
    // process ends through exit() before closing it (see ExitCleanup).
    int Open(const std::string& path, bool removeAtExit = false);
    // Closes the socket and removes its file, unless another endpoint has taken the name since.
    void Close();

    bool IsOpen() const { return fd_ >= 0; }
    int Fd() const { return fd_; }

    // One waiting connection (non-blocking), or -1 when none waits or it came from another user
    // (it is then closed at once).
    int Accept();

private:
    int fd_ = -1;
    bool removeAtExit_ = false;
    std::string path_;
    ino_t inode_ = 0;
    dev_t device_ = 0;
};

// The other end of a connected socket runs as this process's user (SO_PEERCRED).
bool PeerIsOwnUser(int fd);

// A stream window, the host's end: the bound and listening socket at <runtime dir>/win-H.
class StreamWindow {
public:
    // Binds and listens, replacing a socket file that no process listens on any more. Returns
    // "" on success, else the system's reason (GBK).
    std::string Open(const std::string& runtimeDir, unsigned handle);
    // Closes the socket and removes its file, unless another endpoint has taken the name since.
    void Close() { listener_.Close(); }

    bool IsOpen() const { return listener_.IsOpen(); }
    int Fd() const { return listener_.Fd(); }

    // Accepts one waiting connection into `stream`. False when none waits or it came from
    // another user (it is then closed at once).
    bool Accept(HostStream& stream);

private:
    StreamListener listener_;
};

} // namespace hostlink
