#include "desktop/Icons.h"

#include "admin/HandheldView.h"

namespace desktop {

QIcon ProgramIcon() {
    static const QIcon icon(QStringLiteral(":/icons/dcrelay.svg"));
    return icon;
}

QIcon AlarmIcon() {
    static const QIcon icon(QStringLiteral(":/icons/dcrelay-alarm.svg"));
    return icon;
}

QIcon HandheldStateIcon(int state) {
    static const QIcon registered(QStringLiteral(":/icons/handheld.svg"));
    static const QIcon loggedIn(QStringLiteral(":/icons/handheld-on.svg"));
    switch (state) {
    case admin::kRegistered:
        return registered;
    case admin::kLoggedIn:
        return loggedIn;
    default:
        return {};
    }
}

} // namespace desktop
