// The one way of pausing: a wait during which the rest of the program keeps running (timers,
// serial data, host messages and window events are handled meanwhile), and whether the program
// is ending. The running program waits with PumpWait; tests script what happens during a wait.
// Every part that pauses (the base-station scan, the relay, the download, the base-station
// dialog) takes one of these, so none of them needs the event loop or the controller.
#pragma once

class Waits {
public:
    virtual ~Waits() = default;
    // Waits `seconds` s plus `milliseconds` ms. Returns at once while the program is ending.
    virtual void Wait(unsigned seconds, unsigned milliseconds) = 0;
    // The program is ending: every wait returns at once, and loops that wait stop at their next
    // wait.
    virtual bool Ending() const = 0;
};
