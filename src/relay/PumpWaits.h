// The relay's waits in the running program: they keep handling events (PumpWait).
#pragma once

#include "relay/RelayInterfaces.h"

namespace relay {

class PumpWaits : public RelayWaits {
public:
    void Wait(unsigned milliseconds) override;
    bool Ending() const override;
};

} // namespace relay
