// A Wayland compositor for the tests of the window under Wayland: weston's headless back end
// (pixman, so that it can take screenshots), in a runtime directory of its own. Start() points
// this process and its children at it (WAYLAND_DISPLAY, XDG_RUNTIME_DIR, QT_QPA_PLATFORM=wayland,
// no DISPLAY and no session bus). Inspected through weston's debug protocol.
#pragma once

#include <string>
#include <sys/types.h>

namespace testsupport {

class WaylandSession {
public:
    WaylandSession() = default;
    ~WaylandSession(); // ends the compositor
    WaylandSession(const WaylandSession&) = delete;
    WaylandSession& operator=(const WaylandSession&) = delete;

    // False (see Error) when weston does not come up.
    bool Start();
    const std::string& Error() const { return error_; }
    const std::string& Dir() const { return dir_; } // a scratch directory, removed at the end

    // weston's scene graph as weston-debug prints it: every view with its role, title, app id
    // and position.
    std::string SceneGraph() const;
    // Saves a screenshot of the output as PNG at `path`; false when none was taken.
    bool Screenshot(const std::string& path) const;

private:
    std::string Run(const std::string& command) const;

    std::string error_;
    std::string dir_;
    pid_t compositor_ = -1;
};

} // namespace testsupport
