// Private questions with long answers (the relay's status): a tool of the relay's own user
// connects to a stream socket of the relay in the runtime directory, writes one line and reads
// the answer until the relay ends the connection. Both ends accept only a peer of their own user
// (SO_PEERCRED). The host protocol never meets these sockets: their names never begin with "win-".
#pragma once

#include <chrono>
#include <cstddef>
#include <string>

namespace hostlink {

// The running relay's status socket, in the runtime directory.
inline const std::string kStatusSocket = "relay-status";

// The listening end's path; empty for a name that a host window could have.
std::string PrivateStreamPath(const std::string& runtimeDir, const std::string& name);

// A connection, read and written without waiting.
enum class ConnectionRead { More, Ended };
// Appends what waits on `fd` to `into` until it holds `limit` bytes (the rest stays unread).
// Ended: the peer has closed its end, or the connection failed.
ConnectionRead ReadWaiting(int fd, std::string& into, std::size_t limit);
// Writes as much of `data` from `offset` on as the connection takes now, advancing `offset`;
// false when the connection failed.
bool WriteWaiting(int fd, const std::string& data, std::size_t& offset);
void CloseConnection(int fd);

struct PrivateAnswer {
    enum class Kind {
        NoListener, // nobody listens at the name: no relay runs
        NoAnswer,   // connected, but no whole answer came in time (or the peer was refused)
        Answered,
    };
    Kind kind = Kind::NoListener;
    std::string text;
};
// Connects to the socket `name`, writes `question` and a line end, and reads the answer until
// the other end closes the connection, waiting `timeout` at most in all.
PrivateAnswer AskPrivateStream(const std::string& runtimeDir, const std::string& name,
                               const std::string& question, std::chrono::milliseconds timeout);

} // namespace hostlink
