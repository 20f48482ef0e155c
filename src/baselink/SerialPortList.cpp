#include "baselink/SerialPortList.h"

#include "text/Files.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace {

// Names of the entries of `dir` that pass `keep`, in name order; none when dir is unreadable.
template <class Keep> std::vector<std::string> SortedEntries(const std::string& dir, Keep keep) {
    std::vector<std::string> names;
    std::error_code ec;
    fs::directory_iterator it(dir, ec);
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
        if (keep(it->path())) {
            names.push_back(it->path().filename().string());
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

bool TargetExists(const fs::path& entry) {
    std::error_code ec;
    return fs::exists(entry, ec); // follows the link: a dangling link does not count
}

// The 8250 driver lists every possible ttyS port; only those whose UART type is known (not 0)
// are really there.
bool UartKnown(const fs::path& ttyEntry) {
    auto type = text::ReadFile((ttyEntry / "type").string());
    if (!type) {
        return false;
    }
    const auto digits = type->substr(0, type->find_first_not_of("0123456789"));
    return !digits.empty() && digits.find_first_not_of('0') != std::string::npos;
}

bool HardwarePort(const fs::path& ttyEntry) {
    std::error_code ec;
    if (!fs::exists(ttyEntry / "device", ec)) {
        return false; // virtual terminals, the console, pseudo-terminal masters
    }
    if (ttyEntry.filename().string().rfind("ttyS", 0) == 0) {
        return UartKnown(ttyEntry);
    }
    return true;
}

} // namespace

std::vector<std::string> SerialPortList(const std::string& programDir,
                                        const std::string& sysTtyDir) {
    std::vector<std::string> ports;
    if (!programDir.empty()) {
        ports = SortedEntries(programDir + "ports/", TargetExists);
    }
    for (auto& name : SortedEntries(sysTtyDir, HardwarePort)) {
        ports.push_back(std::move(name));
    }
    return ports;
}

bool IsDevicePath(const std::string& portName) {
    return portName.find('/') != std::string::npos;
}

std::string ResolvePortDevice(const std::string& portName, const std::string& programDir) {
    if (IsDevicePath(portName)) {
        return portName;
    }
    if (!programDir.empty() && !portName.empty()) {
        const std::string link = programDir + "ports/" + portName;
        std::error_code ec;
        if (fs::exists(link, ec)) {
            return link;
        }
    }
    return "/dev/" + portName;
}
