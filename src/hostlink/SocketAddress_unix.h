// The address of a socket file in the runtime directory, for the datagram and the stream calls.
#pragma once

#include <cstring>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>

namespace hostlink {

// Fills `addr` with `path`; false when the path does not fit.
inline bool MakeAddress(const std::string& path, sockaddr_un& addr) {
    std::memset(&addr, 0, sizeof addr);
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof addr.sun_path) {
        return false;
    }
    std::memcpy(addr.sun_path, path.data(), path.size());
    return true;
}

} // namespace hostlink
