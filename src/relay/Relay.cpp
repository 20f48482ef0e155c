#include "relay/Relay.h"

namespace relay {

Relay::Relay(const RelayContext& c)
    : builder_(c.settings, c.registry, c.view, c.host), queue_(builder_, c.log, c.waits, c.retry),
      decoder_(c.settings, c.registry, c.sender, queue_, c.log),
      replies_(c.settings, queue_, c.sender, c.log, c.waits) {}

} // namespace relay
