// The serial ports present on this computer, and the device a port name stands for.
//
// A port name is what the operator sees and the parameter file stores ("COM3", "ttyUSB0"). The
// program directory's ports/ folder maps names to devices with symbolic links
// (ports/COM3 -> /dev/serial/by-id/usb-...), so stored names keep working and USB adapters keep
// a stable name.
#pragma once

#include <string>
#include <vector>

// The entries of programDir + "ports/" whose target exists, in name order, then the hardware
// ports that sysTtyDir (normally /sys/class/tty/) reports: entries with a "device" link, ttyS*
// only when its UART type is known, by name. Empty when there are none; never fails.
std::vector<std::string> SerialPortList(const std::string& programDir,
                                        const std::string& sysTtyDir = "/sys/class/tty/");

// True when a port name is a device path already (it contains '/', e.g. /dev/ttyUSB0).
bool IsDevicePath(const std::string& portName);

// The device path of a port name: a name containing '/' is a path already; else
// programDir + "ports/" + name when that exists; else "/dev/" + name.
std::string ResolvePortDevice(const std::string& portName, const std::string& programDir);
