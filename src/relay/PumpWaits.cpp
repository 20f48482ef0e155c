#include "relay/PumpWaits.h"

#include "app/PumpWait.h"

namespace relay {

void PumpWaits::Wait(unsigned milliseconds) {
    app::PumpWait(milliseconds / 1000, milliseconds % 1000);
}

bool PumpWaits::Ending() const {
    return app::ProgramEnding();
}

} // namespace relay
