// The platform calls behind the runtime directory's local sockets (AF_UNIX datagrams), shared by
// the host windows and the relay's private sockets: binding a name (a socket file that nobody
// listens on any more is replaced), sending, receiving with the sender's user and address, and
// removing only the file that this process bound. Errors are errno values.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace hostlink {

// A socket file as this process bound it, so that a name taken over since is left alone.
struct BoundFile {
    std::string path;
    unsigned long long device = 0;
    unsigned long long inode = 0;
};

// A non-blocking datagram socket bound at `path` that receives its senders' credentials. -1 and
// `error` on failure. The file is removed with the process when it ends through exit().
int BindDatagram(const std::string& path, BoundFile& bound, int& error);

// A non-blocking socket to send from. An answerable one gets an address of its own (outside the
// file system) that the receiver can answer to. -1 and `error` on failure.
int OpenSender(bool answerable, int& error);

// One datagram to the socket file `path`, or to an address a datagram came from; never waits.
bool SendDatagram(int fd, const std::string& path, const void* data, std::size_t size);
bool SendToSender(int fd, const std::string& sender, const void* data, std::size_t size);

struct ReceivedDatagram {
    std::size_t size = 0;     // its whole size, also when it did not fit the buffer
    bool fromOwnUser = false; // sent by a process of this process's user
    std::string sender;       // the sender's address, empty when it has none
};
// The next datagram waiting on `fd` (its first `capacity` bytes into `buffer`), or nothing when
// none waits.
std::optional<ReceivedDatagram> ReceiveDatagram(int fd, unsigned char* buffer,
                                                std::size_t capacity);

// Waits up to `milliseconds` for `fd` to become readable.
bool WaitReadable(int fd, int milliseconds);

// A datagram socket at `path` accepts a connection: some process has it bound.
bool SocketAccepts(const std::string& path);
// A socket file whose connection is refused: the process that bound it is gone.
bool IsStaleSocket(const std::string& path);

// Closes the socket and removes its file when it is still the one bound.
void CloseBound(int fd, const BoundFile& bound);
void CloseSocket(int fd);

} // namespace hostlink
