// Waiting without blocking the event loop: timers, socket notifiers, queued events and nested
// waits all run while a caller waits. The wait is measured on the monotonic clock, so a change of
// the wall clock neither shortens nor stretches it.
#pragma once

#include "text/Waits.h"

namespace app {

// Waits `seconds` s plus `milliseconds` ms while handling events. A zero wait returns at once
// without handling anything. Returns at once while the program is ending.
void PumpWait(unsigned seconds, unsigned milliseconds);

// Once the program is ending, every wait returns at once and every loop that waits ends at its
// next wait. Set by the host's closing message, an allowed close and SIGTERM/SIGINT.
void SetProgramEnding(bool ending);
bool ProgramEnding();

// The program's Waits: PumpWait and the program-ending flag above.
class PumpWaits final : public Waits {
public:
    void Wait(unsigned seconds, unsigned milliseconds) override { PumpWait(seconds, milliseconds); }
    bool Ending() const override { return ProgramEnding(); }
};

} // namespace app
