#include "support/WaylandSession.h"
#include "support/Command.h"
#include "support/WaitUntil.h"

#include <array>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace testsupport {
namespace {

constexpr const char* kSocket = "dcr-wayland";

} // namespace

WaylandSession::~WaylandSession() {
    if (compositor_ > 0) {
        kill(compositor_, SIGTERM);
        for (int i = 0; i < 100 && waitpid(compositor_, nullptr, WNOHANG) == 0; ++i) {
            usleep(20000);
        }
        if (waitpid(compositor_, nullptr, WNOHANG) == 0) {
            kill(compositor_, SIGKILL);
            waitpid(compositor_, nullptr, 0);
        }
    }
    if (!dir_.empty()) {
        std::filesystem::remove_all(dir_);
    }
}

bool WaylandSession::Start() {
    char dir[] = "/tmp/dcr-wl-XXXXXX";
    if (mkdtemp(dir) == nullptr) {
        error_ = "mkdtemp failed";
        return false;
    }
    dir_ = dir;
    const std::string runtime = dir_ + "/runtime"; // weston wants it private
    std::filesystem::create_directory(runtime);
    std::filesystem::permissions(runtime, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::replace);
    setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    setenv("WAYLAND_DISPLAY", kSocket, 1);
    setenv("QT_QPA_PLATFORM", "wayland", 1);
    setenv("DBUS_SESSION_BUS_ADDRESS", "disabled:", 1);
    unsetenv("DISPLAY");

    compositor_ = fork();
    if (compositor_ == 0) {
        int null = open("/dev/null", O_RDWR);
        dup2(null, 0);
        dup2(null, 1);
        dup2(null, 2);
        execlp("weston", "weston", "--backend=headless-backend.so", "--use-pixman",
               (std::string("--socket=") + kSocket).c_str(), "--idle-time=0", "--width=1280",
               "--height=800", "--debug", static_cast<char*>(nullptr));
        _exit(127);
    }
    if (!WaitUntil([&] { return SceneGraph().find("Output 0") != std::string::npos; }, 10000)) {
        error_ = "weston did not start (are the weston and qt6-wayland packages installed?)";
        return false;
    }
    return true;
}

std::string WaylandSession::Run(const std::string& command) const {
    return RunCommand(command + " 2>/dev/null").output;
}

std::string WaylandSession::SceneGraph() const {
    return Run("timeout 5 weston-debug scene-graph");
}

// weston-screenshooter writes wayland-screenshot-<time>.png into its working directory.
bool WaylandSession::Screenshot(const std::string& path) const {
    const std::string shots = dir_ + "/shots";
    std::filesystem::create_directories(shots);
    Run("cd " + shots + " && timeout 10 weston-screenshooter");
    for (const auto& entry : std::filesystem::directory_iterator(shots)) {
        std::filesystem::rename(entry.path(), path);
        return true;
    }
    return false;
}

} // namespace testsupport
