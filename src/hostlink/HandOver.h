// The hand-over of a restarted host's handle. A host that died without its closing message
// leaves the relay with a dead handle; the restarted host starts a second relay, which ends at
// once because one runs. Before it ends, that second start passes the handle it was given to the
// running relay in a private message, which the running relay adopts only when its own host
// window is gone.
#pragma once

#include <optional>
#include <string>

namespace hostlink {

// The running relay's private socket for hand-overs, in the runtime directory.
inline const std::string kHandOverSocket = "relay-handover";

// "handover <handle in decimal>".
std::string HandOverMessage(unsigned handle);
// The handle of a hand-over message; nothing for any other text.
std::optional<unsigned> ParseHandOver(const std::string& message);

} // namespace hostlink
