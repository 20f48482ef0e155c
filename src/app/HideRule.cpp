#include "app/HideRule.h"

namespace app {

HideRule::HideRule(MainView& view) : view_(view) {
    Timer1.setInterval(1000);
    QObject::connect(&Timer1, &QTimer::timeout, [this] {
        if (HideOnTick) {
            view_.HideMainWindow();
            HideOnTick = false;
            Timer1.stop();
        }
    });
}

void HideRule::WindowActivated() {
    HideOnTick = true;
    Timer1.start();
}

} // namespace app
