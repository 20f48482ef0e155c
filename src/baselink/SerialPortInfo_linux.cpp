#include "baselink/SerialPortInfo.h"

#include "baselink/SerialPortList.h"
#include "text/Files.h"
#include "text/Gbk.h"

#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace {

// A USB interface lies a few levels below its device, which holds idVendor and the strings.
constexpr int kUsbLevels = 6;

std::string Attribute(const fs::path& dir, const char* name) {
    return text::Trim(text::ReadFile((dir / name).string()).value_or(""));
}

// The USB device above a tty's sysfs device, or an empty path when the tty is not on USB.
fs::path UsbDeviceOf(const std::string& sysTtyDir, const std::string& ttyName) {
    std::error_code ec;
    fs::path dir = fs::canonical(sysTtyDir + ttyName + "/device", ec);
    for (int level = 0; !ec && level < kUsbLevels && dir.has_relative_path(); ++level) {
        if (fs::exists(dir / "idVendor", ec)) {
            return dir;
        }
        dir = dir.parent_path();
    }
    return {};
}

} // namespace

PortInfo DescribePort(const std::string& portName, const std::string& programDir,
                      const std::string& sysTtyDir) {
    PortInfo info;
    const std::string path = ResolvePortDevice(portName, programDir);
    std::error_code ec;
    if (fs::is_symlink(path, ec)) {
        info.Link = fs::read_symlink(path, ec).string();
    }
    const fs::path device = fs::canonical(path, ec);
    if (ec) {
        return info;
    }
    info.Device = device.string();
    const fs::path usb = UsbDeviceOf(sysTtyDir, device.filename().string());
    if (!usb.empty()) {
        info.Maker = Attribute(usb, "manufacturer");
        info.Model = Attribute(usb, "product");
        info.Serial = Attribute(usb, "serial");
    }
    return info;
}
