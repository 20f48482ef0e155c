// A real X display for the tests that need one (the tray, focus, hiding): Xvfb with the jwm
// window manager, whose tray docks Qt's XEmbed tray icons, driven and inspected with xdotool
// and xwininfo. Or, for a StatusNotifierItem tray, Xvfb with a private D-Bus session bus, jwm
// without a tray and Debian's xfce4-panel with its status tray plugin, inspected and driven over
// the bus with dbus-send. Child processes see the session through DISPLAY and
// DBUS_SESSION_BUS_ADDRESS, which Start() sets for this process.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace testsupport {

class XSession {
public:
    XSession() = default;
    ~XSession(); // ends the window manager and the server
    XSession(const XSession&) = delete;
    XSession& operator=(const XSession&) = delete;

    enum class Tray {
        XEmbed,        // jwm's tray; no session bus, so Qt docks an XEmbed icon
        StatusNotifier // xfce4-panel on a session bus of its own
    };
    // Starts Xvfb on a free display and the tray's desktop, waits until the tray is up, sets
    // DISPLAY (and the session bus) and unsets QT_QPA_PLATFORM and WAYLAND_DISPLAY. False (see
    // Error) on failure.
    bool Start(Tray tray = Tray::XEmbed);
    const std::string& Error() const { return error_; }
    const std::string& Display() const { return display_; }

    // Kills the X server, as when the display goes away under its clients.
    void KillServer();

    // Starts another X client (another program's window), ended with the session.
    void StartClient(std::vector<std::string> args);
    // Runs an X client tool on this display; its standard output.
    std::string Tool(const std::string& command) const;

    // Window ids (decimal, as xdotool prints them).
    // A top-level client window whose title is exactly `title`, or "".
    std::string WindowNamed(const std::string& title) const;
    // A window of the program whose WM_CLASS instance is `instance`, docked in jwm's tray, or "".
    std::string TrayIconOf(const std::string& instance) const;
    bool Viewable(const std::string& window) const;

    // A method call on the session bus: dbus-send's arguments after --print-reply (destination,
    // object path, interface.method, typed arguments); its printed reply.
    std::string Bus(const std::string& arguments) const;
    // The StatusNotifierItems registered with the panel's watcher, as it names them
    // (":1.7/StatusNotifierItem").
    std::vector<std::string> StatusNotifierItems() const;

    // Pointer actions at a point inside the window (its own coordinates).
    void Click(const std::string& window, int x, int y, int button = 1, int repeat = 1) const;
    // The close box in jwm's title bar of a client window.
    void ClickCloseBox(const std::string& window) const;

private:
    std::string error_;
    std::string display_;
    std::string dir_;
    pid_t server_ = -1;
    bool StartBus();
    bool StartPanel();

    pid_t manager_ = -1;
    pid_t bus_ = -1;
    pid_t panel_ = -1;
    std::vector<pid_t> clients_;
};

} // namespace testsupport
