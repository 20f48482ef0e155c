// Which kind of notification area takes the program's tray icon. Qt exports the icon as a
// StatusNotifierItem over D-Bus where the session bus has a watcher with a host registered (KDE
// Plasma, XFCE, GNOME with its AppIndicator extension), and docks it in an XEmbed tray on X11
// otherwise. The two differ in their clicks: a StatusNotifierItem host sends one activation for
// a click and no double-click, and shows the item's exported menu itself.
#pragma once

namespace desktop {

// True when the session bus has a StatusNotifierWatcher with a host registered: the question
// by which Qt chooses the D-Bus tray, asked the same way.
bool StatusNotifierHostPresent();

} // namespace desktop
