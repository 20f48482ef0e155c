#include "support/XSession.h"
#include "support/Command.h"
#include "support/WaitUntil.h"

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

namespace testsupport {
namespace {

// A bottom tray with a task list and the dock that holds tray icons; focus follows clicks.
constexpr const char* kJwmConfig = R"(<?xml version="1.0"?>
<JWM>
  <Tray x="0" y="-1" height="32" autohide="off"><TaskList maxwidth="200"/><Dock/></Tray>
  <FocusModel>click</FocusModel>
</JWM>
)";
// jwm beside xfce4-panel: a window manager without a tray of its own.
constexpr const char* kJwmWithoutTray = R"(<?xml version="1.0"?>
<JWM>
  <FocusModel>click</FocusModel>
</JWM>
)";
// A bottom panel with a task list and the status tray (StatusNotifierItems and XEmbed icons),
// read by xfconfd from the session's configuration directory.
constexpr const char* kPanelConfig = R"(<?xml version="1.0" encoding="UTF-8"?>
<channel name="xfce4-panel" version="1.0">
  <property name="configver" type="int" value="2"/>
  <property name="panels" type="array">
    <value type="int" value="1"/>
    <property name="panel-1" type="empty">
      <property name="position" type="string" value="p=8;x=640;y=784"/>
      <property name="length" type="uint" value="100"/>
      <property name="position-locked" type="bool" value="true"/>
      <property name="size" type="uint" value="32"/>
      <property name="plugin-ids" type="array">
        <value type="int" value="1"/>
        <value type="int" value="2"/>
      </property>
    </property>
  </property>
  <property name="plugins" type="empty">
    <property name="plugin-1" type="string" value="tasklist"/>
    <property name="plugin-2" type="string" value="systray"/>
  </property>
</channel>
)";
constexpr const char* kWatcher = "--dest=org.kde.StatusNotifierWatcher /StatusNotifierWatcher "
                                 "org.freedesktop.DBus.Properties.Get "
                                 "string:org.kde.StatusNotifierWatcher ";
constexpr const char* kScreen = "1280x800x24";
constexpr const char* kTrayGeometry = "1280x32+0+768";
constexpr int kStartMs = 30000; // a bound for the server and jwm that holds on a busy machine

pid_t Spawn(std::vector<std::string> args, int keepFd = -1) {
    pid_t pid = fork();
    if (pid == 0) {
        if (keepFd >= 0) {
            fcntl(keepFd, F_SETFD, 0);
        }
        int null = open("/dev/null", O_RDWR);
        dup2(null, 0);
        dup2(null, 1);
        dup2(null, 2);
        std::vector<char*> argv;
        for (std::string& a : args) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

void End(pid_t& pid) {
    if (pid <= 0) {
        return;
    }
    kill(pid, SIGTERM);
    for (int i = 0; i < 100 && waitpid(pid, nullptr, WNOHANG) == 0; ++i) {
        usleep(20000);
    }
    if (waitpid(pid, nullptr, WNOHANG) == 0) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    pid = -1;
}

// The first line that a child writes to fd when it is ready (Xvfb's display number, the
// session bus's address).
std::string ReadFirstLine(int fd) {
    std::string number;
    pollfd p{fd, POLLIN, 0};
    while (number.find('\n') == std::string::npos && poll(&p, 1, kStartMs) > 0) {
        char buf[32];
        ssize_t n = read(fd, buf, sizeof buf);
        if (n <= 0) {
            break;
        }
        number.append(buf, static_cast<std::size_t>(n));
    }
    return number.substr(0, number.find('\n'));
}

std::string Decimal(const std::string& id) {
    return std::to_string(std::stoul(id, nullptr, 0));
}

int Field(const std::string& info, const std::string& label) {
    std::size_t at = info.find(label);
    return at == std::string::npos ? 0 : std::atoi(info.c_str() + at + label.size());
}

} // namespace

XSession::~XSession() {
    for (pid_t& client : clients_) {
        End(client);
    }
    End(panel_);
    End(manager_);
    End(bus_); // the services it started (xfconfd) end with their bus
    End(server_);
    if (!dir_.empty()) {
        std::filesystem::remove_all(dir_);
    }
}

bool XSession::Start(Tray tray) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        error_ = "pipe failed";
        return false;
    }
    // -noreset: by default the server resets when its last client leaves, and a client that
    // connects meanwhile is refused; the polls below connect and leave before jwm is up.
    server_ = Spawn({"Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0", kScreen,
                     "-nolisten", "tcp", "-noreset"},
                    fds[1]);
    close(fds[1]);
    std::string number = ReadFirstLine(fds[0]);
    close(fds[0]);
    if (number.empty()) {
        error_ = "Xvfb did not start (is the xvfb package installed?)";
        return false;
    }
    display_ = ":" + number;
    setenv("DISPLAY", display_.c_str(), 1);
    unsetenv("QT_QPA_PLATFORM");
    unsetenv("WAYLAND_DISPLAY");

    char dir[] = "/tmp/dcr-x-XXXXXX";
    dir_ = mkdtemp(dir) != nullptr ? dir : "";
    if (tray == Tray::StatusNotifier) {
        std::ofstream(dir_ + "/jwmrc") << kJwmWithoutTray;
        return StartBus() && (manager_ = Spawn({"jwm", "-f", dir_ + "/jwmrc"})) > 0 && StartPanel();
    }
    // No session bus: Qt docks an XEmbed icon whatever bus the machine has.
    setenv("DBUS_SESSION_BUS_ADDRESS", "disabled:", 1);
    std::ofstream(dir_ + "/jwmrc") << kJwmConfig;
    manager_ = Spawn({"jwm", "-f", dir_ + "/jwmrc"});
    if (!WaitUntil(
            [&] { return Tool("xwininfo -root -tree").find(kTrayGeometry) != std::string::npos; },
            kStartMs)) {
        const bool ended = waitpid(manager_, nullptr, WNOHANG) == manager_;
        if (ended) {
            manager_ = -1; // reaped: nothing to end
        }
        error_ = std::string("jwm's tray did not appear (is the jwm package installed?); jwm ") +
                 (ended ? "ended" : "runs") + "; windows:\n" + Tool("xwininfo -root -tree");
        return false;
    }
    return true;
}

void XSession::KillServer() {
    if (server_ > 0) {
        kill(server_, SIGKILL);
        waitpid(server_, nullptr, 0);
        server_ = -1;
    }
}

// A session bus whose services (xfconfd) read and write only this session's directories.
bool XSession::StartBus() {
    for (const char* name : {"config", "cache", "data"}) {
        std::filesystem::create_directories(dir_ + "/" + name);
    }
    const std::string channels = dir_ + "/config/xfce4/xfconf/xfce-perchannel-xml";
    std::filesystem::create_directories(channels);
    std::ofstream(channels + "/xfce4-panel.xml") << kPanelConfig;
    setenv("XDG_CONFIG_HOME", (dir_ + "/config").c_str(), 1);
    setenv("XDG_CACHE_HOME", (dir_ + "/cache").c_str(), 1);
    setenv("XDG_DATA_HOME", (dir_ + "/data").c_str(), 1);
    setenv("NO_AT_BRIDGE", "1", 1); // no accessibility bus for GTK
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        error_ = "pipe failed";
        return false;
    }
    bus_ =
        Spawn({"dbus-daemon", "--session", "--nofork", "--print-address=" + std::to_string(fds[1])},
              fds[1]);
    close(fds[1]);
    const std::string address = ReadFirstLine(fds[0]);
    close(fds[0]);
    if (address.empty()) {
        error_ = "dbus-daemon did not start (is the dbus package installed?)";
        return false;
    }
    setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
    return true;
}

bool XSession::StartPanel() {
    panel_ = Spawn({"xfce4-panel"});
    if (!WaitUntil(
            [&] {
                return Bus(std::string(kWatcher) + "string:IsStatusNotifierHostRegistered")
                           .find("boolean true") != std::string::npos;
            },
            30000)) { // the panel loads its plugins as processes of their own
        error_ = "xfce4-panel's status tray did not appear (is the xfce4-panel package installed?)";
        return false;
    }
    return true;
}

std::string XSession::Bus(const std::string& arguments) const {
    return Tool("dbus-send --session --print-reply " + arguments);
}

std::vector<std::string> XSession::StatusNotifierItems() const {
    std::istringstream reply(Bus(std::string(kWatcher) + "string:RegisteredStatusNotifierItems"));
    std::vector<std::string> items;
    std::string line;
    while (std::getline(reply, line)) {
        const std::size_t open = line.find("string \"");
        if (open != std::string::npos) {
            const std::size_t from = open + 8;
            items.push_back(line.substr(from, line.rfind('"') - from));
        }
    }
    return items;
}

void XSession::StartClient(std::vector<std::string> args) {
    clients_.push_back(Spawn(std::move(args)));
}

std::string XSession::Tool(const std::string& command) const {
    return RunCommand(command + " 2>/dev/null").output;
}

std::string XSession::WindowNamed(const std::string& title) const {
    // Client windows carry WM_STATE; xdotool's search lists only those with --onlyvisible off,
    // so the first id that xwininfo names with exactly this title is taken.
    std::istringstream tree(Tool("xwininfo -root -tree"));
    std::string line;
    const std::string quoted = "\"" + title + "\": (";
    while (std::getline(tree, line)) {
        std::size_t at = line.find(quoted);
        if (at != std::string::npos) {
            std::istringstream words(line);
            std::string id;
            words >> id;
            return Decimal(id);
        }
    }
    return "";
}

std::string XSession::TrayIconOf(const std::string& instance) const {
    // Depth from the indentation: root children have 5 spaces, each level 3 more. A tray icon
    // sits in jwm's dock inside the tray (depth 3); a client sits in its frame (depth 2).
    std::istringstream tree(Tool("xwininfo -root -tree"));
    std::string line;
    const std::string wmClass = "(\"" + instance + "\" ";
    while (std::getline(tree, line)) {
        std::size_t indent = line.find_first_not_of(' ');
        if (indent != std::string::npos && indent >= 11 &&
            line.find(wmClass) != std::string::npos) {
            std::istringstream words(line);
            std::string id;
            words >> id;
            return Decimal(id);
        }
    }
    return "";
}

bool XSession::Viewable(const std::string& window) const {
    return Tool("xwininfo -id " + window).find("IsViewable") != std::string::npos;
}

void XSession::Click(const std::string& window, int x, int y, int button, int repeat) const {
    Tool("xdotool mousemove --window " + window + " " + std::to_string(x) + " " +
         std::to_string(y) + " click --repeat " + std::to_string(repeat) + " --delay 80 " +
         std::to_string(button));
}

void XSession::ClickCloseBox(const std::string& window) const {
    // The frame is the client's parent; the close box is the last button of its title bar, at
    // the right end, one border width in.
    std::string children = Tool("xwininfo -children -id " + window);
    std::size_t at = children.find("Parent window id: ");
    if (at == std::string::npos) {
        return;
    }
    std::string frame = Decimal(children.substr(at + 18, children.find(' ', at + 18) - at - 18));
    std::string client = Tool("xwininfo -id " + window);
    std::string outer = Tool("xwininfo -id " + frame);
    int width = Field(outer, "Width: ");
    int top = Field(client, "Absolute upper-left Y: ") - Field(outer, "Absolute upper-left Y: ");
    int border = Field(client, "Absolute upper-left X: ") - Field(outer, "Absolute upper-left X: ");
    Click(frame, width - border - top / 2, top / 2 + border / 2);
}

} // namespace testsupport
