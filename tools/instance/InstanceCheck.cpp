#include "InstanceCheck.h"

#include "MenuDryRun.h"
#include "StationQuery.h"
#include "SystemInfo.h"

#include "baselink/BaseConnection.h"
#include "baselink/SerialPortList.h"
#include "config/AppSettings.h"
#include "config/HandheldRegistry.h"
#include "hostlink/HostSocket.h"
#include "hostlink/InstanceLock.h"
#include "hostlink/RuntimeDir.h"
#include "text/Files.h"
#include "text/Gbk.h"
#include "text/Stations.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace instance {
namespace {

std::string Utf8(const std::string& gbk) {
    return text::ToUtf8(gbk);
}

std::string TwoDigits(int n) {
    return n < 10 ? "0" + std::to_string(n) : std::to_string(n);
}

std::string Join(const std::vector<std::string>& parts, const std::string& separator) {
    std::string out;
    for (const std::string& p : parts) {
        out += (out.empty() ? "" : separator) + p;
    }
    return out;
}

std::string CurrentDirectory() {
    std::error_code ec;
    const std::string cwd = fs::current_path(ec).string();
    return cwd.empty() ? "./" : cwd.back() == '/' ? cwd : cwd + "/";
}

std::string HolderList(const std::vector<Holder>& holders) {
    std::vector<std::string> names;
    for (const Holder& h : holders) {
        names.push_back(h.name + " (pid " + std::to_string(h.pid) + ")");
    }
    return Join(names, ", ");
}

// What makes a known port grabber leave serial adapters alone.
std::string HolderRemedy(const Holder& h) {
    if (h.name == "ModemManager") {
        return "stop ModemManager from probing serial adapters: sudo systemctl disable --now "
               "ModemManager (or a udev rule with ENV{ID_MM_DEVICE_IGNORE}=\"1\" for the adapter)";
    }
    if (h.name == "brltty") {
        return "brltty claims USB serial adapters: sudo apt remove brltty";
    }
    if (h.name == "dcrelay") {
        return "another relay uses this port: end it, or give each installation its own port";
    }
    return "end " + h.name + " (pid " + std::to_string(h.pid) + ") or make it leave the port alone";
}

class Checker {
public:
    explicit Checker(const CheckOptions& options)
        : options_(options), dir_(options.dir), user_(CurrentUser()) {}

    Report Run() {
        CheckRelayProgram();
        CheckMarkers();
        CheckRunningRelay();
        if (LoadSettings()) {
            LoadRegistry();
            if (CheckMenuDirectory()) {
                CheckMenuTables();
            }
            CheckBaseStations();
            CheckExchangeDirectory();
        }
        CheckRuntimeDirectory();
        return report_;
    }

private:
    // --- the program and its run mode --------------------------------------------------

    void CheckRelayProgram() {
        const std::string relay = dir_ + "dcrelay";
        std::error_code ec;
        if (!fs::exists(relay, ec)) {
            report_.Add(Verdict::Fail, "relay program", relay + " is missing",
                        "dcrelay-instance create " + dir_ + " (it links the installed relay)");
        } else if (::access(relay.c_str(), X_OK) != 0) {
            report_.Add(Verdict::Fail, "relay program", relay + " is not executable",
                        "chmod +x " + relay + ", or recreate the link: dcrelay-instance create " +
                            dir_);
        } else {
            const std::string target = fs::is_symlink(relay, ec)
                                           ? " -> " + fs::read_symlink(relay, ec).string()
                                           : std::string();
            report_.Add(Verdict::Ok, "relay program",
                        relay + target + "; start it by this path, so that " + dir_ +
                            " is its program directory");
        }
    }

    void CheckMarkers() {
        if (text::FileExists(dir_ + "debug2.txt")) {
            report_.Add(Verdict::Fail, "marker files",
                        "debug2.txt makes the relay run without the host program "
                        "(standalone debug)",
                        "rm " + dir_ + "debug2.txt");
        } else if (text::FileExists(dir_ + "debug.txt")) {
            report_.Add(Verdict::Info, "marker files",
                        "debug.txt adds the received bytes and download counts to the work log");
        } else {
            report_.Add(Verdict::Ok, "marker files", "neither debug.txt nor debug2.txt");
        }
    }

    void CheckRunningRelay() {
        relay_ = FindRunningRelay(hostlink::RuntimeDirPath());
        if (!relay_) {
            report_.Add(Verdict::Ok, "running relay", "none for " + user_.name);
            return;
        }
        std::error_code ec;
        const bool here =
            !relay_->programDir.empty() && fs::equivalent(relay_->programDir, dir_, ec);
        report_.Add(Verdict::Info, "running relay",
                    "pid " + std::to_string(relay_->pid) + (here ? ", this installation" : "") +
                        (here || relay_->programDir.empty()
                             ? std::string()
                             : ", installation " + relay_->programDir) +
                        "; serial ports are not opened while it runs");
        CheckRelayHost();
    }

    // The running relay's host, as the relay records it beside its lock.
    void CheckRelayHost() {
        const std::string runtime = hostlink::RuntimeDirPath();
        const std::optional<unsigned> host = hostlink::RecordedHost(runtime);
        if (!host) {
            report_.Add(Verdict::Skip, "host program", "the running relay records no host handle");
        } else if (*host == 0) {
            report_.Add(Verdict::Info, "host program",
                        "the running relay knows no host (handle 0): requests wait until a host "
                        "program announces itself");
        } else if (hostlink::WindowExists(runtime, *host)) {
            report_.Add(Verdict::Ok, "host program",
                        "the running relay's host (window " + std::to_string(*host) + ") is there");
        } else {
            report_.Add(Verdict::Fail, "host program",
                        "the running relay's host (window " + std::to_string(*host) +
                            ") is gone: no request reaches a host, they wait in the relay's queue",
                        "start the host program again: the relay it starts hands the new host to "
                        "the running relay (pid " +
                            std::to_string(relay_->pid) + "), which sends it the waiting requests");
        }
    }

    // --- configuration -----------------------------------------------------------------

    bool ConfigFileReadable(const std::string& name, const std::string& missingEffect) {
        const std::string path = dir_ + name;
        if (!text::FileExists(path)) {
            report_.Add(Verdict::Fail, name, path + " is missing: " + missingEffect,
                        "dcrelay-instance create " + dir_ + " copies the example file");
            return false;
        }
        if (!text::ReadFile(path)) {
            report_.Add(Verdict::Fail, name, path + " cannot be read: " + std::strerror(errno),
                        "give " + user_.name + " read access to it (chown or chmod u+r)");
            return false;
        }
        return true;
    }

    bool LoadSettings() {
        if (!ConfigFileReadable(config::kSettingsFileName,
                                "no base station is configured and the relay searches forever")) {
            return false;
        }
        config::LoadSettings(settings_, dir_ + config::kSettingsFileName);
        config::ApplyMenuDirDefault(settings_, dir_); // as the relay does
        std::vector<std::string> parts = {"menu directory " + Utf8(settings_.MenuDir),
                                          "exchange directory " +
                                              (settings_.ExchangeDir.empty()
                                                   ? std::string("(empty: the relay's working "
                                                                 "directory)")
                                                   : Utf8(settings_.ExchangeDir))};
        for (int n = 1; n <= kStationCount; ++n) {
            const std::string port = text::Trim(settings_.PortName[n - 1]);
            const std::string id = text::Trim(settings_.BaseId[n - 1]);
            if (!port.empty() || !id.empty()) {
                parts.push_back("base station " + std::to_string(n) + " on " +
                                (port.empty() ? "no port" : Utf8(port)) + " with ID " +
                                (id.empty() ? "(none)" : Utf8(id)));
            }
        }
        parts.push_back(settings_.TestMode
                            ? "TEST MODE: handhelds get \"" + Utf8(settings_.TestText) +
                                  "\" and the host sees no request"
                            : "test mode off");
        parts.push_back(std::string("file monitoring ") +
                        (settings_.FileMonitoring ? "on" : "off"));
        report_.Add(Verdict::Ok, config::kSettingsFileName, Join(parts, ", "));
        return true;
    }

    void LoadRegistry() {
        if (!ConfigFileReadable(config::kRegistryFileName,
                                "no handheld is registered and every request is refused")) {
            return;
        }
        config::HandheldRegistry registry;
        config::LoadRegistry(registry, dir_ + config::kRegistryFileName, settings_, nullptr);
        std::vector<std::string> parts;
        for (const config::StationEntry& station : registry.Stations) {
            std::vector<std::string> numbers;
            for (const config::HandheldEntry& h : station.Handhelds) {
                numbers.push_back(Utf8(h.Number));
            }
            parts.push_back("base station " + std::to_string(station.BaseNumber) + ": " +
                            (numbers.empty() ? std::string("no handhelds")
                                             : "handhelds " + Join(numbers, " ")));
        }
        if (registry.Keys.empty()) {
            report_.Add(Verdict::Fail, config::kRegistryFileName,
                        "no handheld is registered on a base station that has an ID: the relay "
                        "refuses every request",
                        "register the handhelds in the relay's parameter dialog, or list them in " +
                            dir_ + config::kRegistryFileName +
                            " (PDA1=005 under [基站1]) and give their base station an ID");
            return;
        }
        report_.Add(Verdict::Ok, config::kRegistryFileName, Join(parts, "; "));
    }

    // --- the menu ----------------------------------------------------------------------

    bool CheckMenuDirectory() {
        const std::string menu = settings_.MenuDir;
        const std::string shown = Utf8(menu);
        if (menu.back() != '/') {
            report_.Add(Verdict::Fail, "menu directory",
                        "Path " + shown + " does not end in '/': file names are appended to it",
                        "end Path with '/' in " + dir_ + config::kSettingsFileName);
            return false;
        }
        if (!text::DirectoryExists(menu)) {
            report_.Add(Verdict::Fail, "menu directory", shown + " does not exist",
                        "let the host program export its menu tables there, or for a test: "
                        "dcrelay-instance create " +
                            dir_ + " --example-menu");
            return false;
        }
        if (!text::FileExists(menu + "py.txt")) {
            report_.Add(Verdict::Fail, "menu directory",
                        "\"py.txt\" is missing from " + shown +
                            ": the relay says 不存在\"py.txt\",系统不能运行 and does not start",
                        "let the host program export its menu tables into " + shown +
                            ", or for a test: dcrelay-instance create " + dir_ + " --example-menu");
            return false;
        }
        report_.Add(Verdict::Ok, "menu directory", shown + " holds \"py.txt\"");
        return true;
    }

    void CheckMenuTables() {
        for (const TableCount& t : DryPack(settings_.MenuDir)) {
            const std::string counts =
                std::to_string(t.records) + " records of " + std::to_string(t.capacity);
            if (t.problem.empty()) {
                report_.Add(Verdict::Ok, std::string("menu ") + t.table, counts);
            } else {
                report_.Add(Verdict::Fail, std::string("menu ") + t.table,
                            t.problem + " (" + counts + ")",
                            "correct the table in the host program's export; the download "
                            "needs all seven tables within their capacity");
            }
        }
    }

    // --- base stations -----------------------------------------------------------------

    void CheckBaseStations() {
        for (int n = 1; n <= kStationCount; ++n) {
            const std::string port = text::Trim(settings_.PortName[n - 1]);
            const std::string id = text::Trim(settings_.BaseId[n - 1]);
            const std::string item = "base station " + std::to_string(n);
            if (port.empty() || id.empty()) {
                if (n == 1) {
                    report_.Add(Verdict::Fail, item,
                                "no port (COM1) or no ID (jzdz1): the relay searches for base "
                                "station 1 forever and the download stays disabled",
                                "set base station 1's port and ID in the parameter dialog, or "
                                "COM1= and jzdz1= in " +
                                    dir_ + config::kSettingsFileName);
                } else if (!port.empty() || !id.empty()) {
                    report_.Add(Verdict::Info, item, "has a port or an ID but not both: unused");
                }
                continue;
            }
            CheckStation(n, item, port);
        }
    }

    void CheckStation(int slot, const std::string& item, const std::string& port) {
        std::optional<std::string> device = CheckPortDevice(item + " port", port);
        bool usable = device && CheckAccess(item + " access", *device);
        usable = device && CheckHolders(item + " in use", *device) && usable;
        if (relay_) {
            report_.Add(Verdict::Skip, item + " answer",
                        "not queried while the relay runs (pid " + std::to_string(relay_->pid) +
                            ")");
        } else if (!usable) {
            report_.Add(Verdict::Skip, item + " answer", "not queried: the port is not usable");
        } else {
            CheckAnswer(item + " answer", slot, *device);
        }
    }

    std::optional<std::string> CheckPortDevice(const std::string& item, const std::string& port) {
        const std::string shown = Utf8(port);
        const std::string device = ResolvePortDevice(port, dir_);
        const std::string link = dir_ + "ports/" + port;
        const std::string relink = "plug in the base station's adapter, or link the port: "
                                   "dcrelay-instance link " +
                                   dir_ + " " + shown + " DEVICE (dcrelay-instance link " + dir_ +
                                   " lists the serial devices)";
        std::error_code ec;
        if (port.find('/') == std::string::npos && fs::is_symlink(link, ec) &&
            !fs::exists(link, ec)) {
            report_.Add(Verdict::Fail, item,
                        "ports/" + shown + " points at " + fs::read_symlink(link, ec).string() +
                            ", which does not exist",
                        relink);
            return std::nullopt;
        }
        if (!fs::exists(device, ec)) {
            report_.Add(Verdict::Fail, item, shown + " is " + device + ", which does not exist",
                        relink);
            return std::nullopt;
        }
        PortCombo offered;
        offered.Fill(SerialPortList(dir_));
        offered.SelectNoCase(port);
        if (offered.ItemIndex < 0) {
            report_.Add(Verdict::Fail, item,
                        "the relay opens only the ports it lists (" + Join(offered.Items, " ") +
                            "), and " + shown + " is not one of them",
                        "give the device a name in ports/: dcrelay-instance link " + dir_ +
                            " COM1 " + device + ", and set that name as the port");
            return std::nullopt;
        }
        const std::string real = fs::canonical(device, ec).string();
        const std::string stable = StableDeviceName(device);
        report_.Add(Verdict::Ok, item,
                    shown + " is " + device + (real != device ? " (" + real + ")" : "") +
                        (stable.empty() || stable == device ? "" : ", stable name " + stable));
        return device;
    }

    bool CheckAccess(const std::string& item, const std::string& device) {
        if (MayReadWrite(device)) {
            report_.Add(Verdict::Ok, item, user_.name + " may read and write it");
            return true;
        }
        std::optional<DeviceOwner> owner = OwnerOf(device);
        if (!owner) {
            report_.Add(Verdict::Fail, item, device + " cannot be examined",
                        "check the device node");
            return false;
        }
        report_.Add(Verdict::Fail, item,
                    user_.name + " may not open it (owner " + owner->ownerName + ", group " +
                        owner->groupName + ", mode " + OctalMode(owner->mode) + ")",
                    PermissionAdvice(*owner, user_));
        return false;
    }

    bool CheckHolders(const std::string& item, const std::string& device) {
        HolderScan scan = ProcessesHolding(device);
        if (relay_ && scan.holders.size() == 1 && scan.holders[0].pid == relay_->pid) {
            report_.Add(Verdict::Info, item,
                        "held by the running relay (pid " + std::to_string(relay_->pid) + ")");
            return true;
        }
        if (!scan.holders.empty()) {
            report_.Add(Verdict::Fail, item, "held by " + HolderList(scan.holders),
                        HolderRemedy(scan.holders.front()));
            return false;
        }
        report_.Add(Verdict::Ok, item, "no other process has it open" + SuspectNote(scan));
        return true;
    }

    // Processes of other users are visible only to root; name the usual grabbers that run.
    std::string SuspectNote(const HolderScan& scan) const {
        if (!scan.incomplete) {
            return "";
        }
        std::vector<std::string> running;
        for (const char* name : {"ModemManager", "brltty"}) {
            for (int pid : ProcessesNamed(name)) {
                running.push_back(std::string(name) + " (pid " + std::to_string(pid) + ")");
            }
        }
        return " among those " + user_.name + " may see" +
               (running.empty() ? std::string()
                                : "; " + Join(running, ", ") + " runs and may take it");
    }

    void CheckAnswer(const std::string& item, int slot, const std::string& device) {
        const QueryOutcome q =
            QueryStation(device, slot, options_.queryAttempts, options_.queryWaitMs);
        using Status = QueryOutcome::Status;
        const std::string tries = std::to_string(options_.queryAttempts) + " queries, " +
                                  std::to_string(options_.queryWaitMs) + " ms each";
        switch (q.status) {
        case Status::Answered:
            report_.Add(Verdict::Ok, item, "answers on channel " + TwoDigits(q.channel));
            return;
        case Status::ShortAnswer:
            report_.Add(Verdict::Fail, item,
                        "answers with fewer than 8 bytes: the relay cannot read its channel",
                        "check the base station's line settings (115200 baud, 8N1) and firmware");
            return;
        case Status::Silent:
            report_.Add(Verdict::Fail, item, "no answer (" + tries + ")",
                        "check that the base station is powered and its cable is in this "
                        "adapter; dcrelay-instance link " +
                            dir_ + " lists the serial devices");
            return;
        case Status::Held:
            report_.Add(Verdict::Fail, item, "another process holds the port: " + q.error,
                        "run the check with sudo to name that process, then stop it");
            return;
        case Status::NotATerminal:
            report_.Add(Verdict::Fail, item, device + " is not a serial device",
                        "link the port to the adapter's tty device");
            return;
        case Status::CannotOpen:
            report_.Add(Verdict::Fail, item, "cannot be opened: " + q.error,
                        "check the device and the adapter");
            return;
        }
    }

    // --- directories shared with the host ----------------------------------------------

    void CheckRuntimeDirectory() {
        const std::string path = hostlink::RuntimeDirPath();
        const char* from = std::getenv("DCRELAY_RUNTIME_DIR") ? "DCRELAY_RUNTIME_DIR"
                           : std::getenv("XDG_RUNTIME_DIR")   ? "XDG_RUNTIME_DIR"
                                                              : "neither variable set";
        const std::string shown = path + " (" + from + ")";
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0) {
            report_.Add(Verdict::Ok, "runtime directory",
                        shown + " does not exist yet; the relay makes it with mode 0700");
            return;
        }
        if (!S_ISDIR(st.st_mode)) {
            report_.Add(Verdict::Fail, "runtime directory",
                        shown + " is not a directory: the relay refuses it and does not run",
                        "remove it (rm " + path + ")");
        } else if (st.st_uid != ::geteuid()) {
            report_.Add(Verdict::Fail, "runtime directory",
                        shown + " belongs to another user: the relay refuses it and does not run",
                        "remove it, or set DCRELAY_RUNTIME_DIR for the host program and the "
                        "relay");
        } else if ((st.st_mode & 077) != 0) {
            report_.Add(Verdict::Fail, "runtime directory",
                        shown + " is open to others (mode " + OctalMode(st.st_mode) +
                            "): the relay refuses it and does not run",
                        "chmod 700 " + path);
        } else {
            report_.Add(Verdict::Ok, "runtime directory", shown + " is private (mode 0700)");
        }
    }

    void CheckExchangeDirectory() {
        std::string dir = settings_.ExchangeDir;
        std::string note;
        if (dir.empty()) {
            dir = CurrentDirectory();
            note = " (WPath is empty: the relay uses the directory the host starts it in; "
                   "tested here in the current directory)";
        }
        const std::string shown = Utf8(dir);
        if (dir.back() != '/') {
            report_.Add(Verdict::Fail, "exchange directory",
                        "WPath " + shown + " does not end in '/': the relay would write " + shown +
                            "T1.txt",
                        "end WPath with '/' in " + dir_ + config::kSettingsFileName);
        } else if (!text::DirectoryExists(dir)) {
            report_.Add(Verdict::Fail, "exchange directory", shown + " does not exist" + note,
                        "mkdir -p " + shown + ", or correct WPath in " + dir_ +
                            config::kSettingsFileName);
        } else if (!MayWriteIn(dir)) {
            report_.Add(Verdict::Fail, "exchange directory",
                        user_.name + " may not write in " + shown + note,
                        "let " + user_.name + " write there: the relay writes T1.txt and R2.txt");
        } else {
            report_.Add(Verdict::Ok, "exchange directory", shown + " is writable" + note);
        }
    }

    CheckOptions options_;
    std::string dir_;
    UserInfo user_;
    Report report_;
    config::AppSettings settings_;
    std::optional<RunningRelay> relay_;
};

} // namespace

Report CheckInstance(const CheckOptions& options) {
    return Checker(options).Run();
}

} // namespace instance
