// The project's own icons, drawn as SVG and rendered by Qt at every size a screen asks for.
#pragma once

#include <QIcon>

namespace desktop {

// The program's icon: the main window, the tray and the dialogs.
QIcon ProgramIcon();
// The program's icon with a warning sign: the tray while an alarm stands.
QIcon AlarmIcon();
// The handheld state icons of the tree and the list: 1 registered, 2 logged in (red lamp).
// Any other state has no icon.
QIcon HandheldStateIcon(int state);

} // namespace desktop
