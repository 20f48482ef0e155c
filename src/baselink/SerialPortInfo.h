// Where a port name leads, so that the operator can tell two adapters apart: the ports/ link's
// target, the device it reaches and, for a USB adapter, its maker, model and serial number as
// the kernel reports them in sysfs. Read-only; nothing here opens a device.
#pragma once

#include <string>

struct PortInfo {
    std::string Link;   // for a ports/ entry: the link's target as written; else ""
    std::string Device; // the device the name reaches, links resolved ("" when it is missing)
    std::string Maker;  // USB adapters only: the manufacturer, product and serial strings
    std::string Model;
    std::string Serial;
};

// sysTtyDir is normally /sys/class/tty/ (ending in '/').
PortInfo DescribePort(const std::string& portName, const std::string& programDir,
                      const std::string& sysTtyDir = "/sys/class/tty/");
