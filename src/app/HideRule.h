// The hide rule of the main window: when it becomes the active window it hides at the next tick
// of Timer1 (1 s); when it stops being the active window it hides at once.
#pragma once

#include "app/MainView.h"

#include <QTimer>

namespace app {

class HideRule {
public:
    explicit HideRule(MainView& view);

    void WindowActivated();
    void WindowDeactivated() { view_.HideMainWindow(); }
    // Stops Timer1: a pending hide is cancelled.
    void Stop() { Timer1.stop(); }

private:
    MainView& view_;
    QTimer Timer1;
    bool HideOnTick = false;
};

} // namespace app
