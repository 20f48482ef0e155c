#include "baselink/SerialPortList.h"
#include "support/TempDir.h"
#include "baselink/SerialPortInfo.h"

#include <fstream>
#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace {

using testsupport::TempDir;

void WriteText(const std::string& path, const std::string& text) {
    std::ofstream(path) << text;
}

// A fake /sys/class/tty: an entry with a "device" link is hardware; ttyS* also needs a UART
// type other than 0.
void AddTty(const std::string& sys, const std::string& name, bool device, const char* type) {
    fs::create_directories(sys + name);
    if (device) {
        fs::create_directory_symlink(sys, sys + name + "/device");
    }
    if (type != nullptr) {
        WriteText(sys + name + "/type", type);
    }
}

TEST(SerialPortList, LinksInNameOrderThenHardwarePorts) {
    TempDir program, sys;
    fs::create_directory(program.path + "ports");
    WriteText(program.path + "target", "");
    fs::create_symlink(program.path + "target", program.path + "ports/COM3");
    fs::create_symlink(program.path + "target", program.path + "ports/COM10");
    fs::create_symlink(program.path + "target", program.path + "ports/COM1");
    fs::create_symlink(program.path + "missing", program.path + "ports/COM2"); // dangling
    AddTty(sys.path, "ttyUSB0", true, nullptr);
    AddTty(sys.path, "ttyS1", true, "0\n");
    AddTty(sys.path, "ttyS0", true, "4\n");
    AddTty(sys.path, "ttyACM0", true, nullptr);
    AddTty(sys.path, "tty0", false, nullptr);
    AddTty(sys.path, "ttyS2", true, nullptr); // type unreadable: not known

    EXPECT_EQ(SerialPortList(program.path, sys.path),
              (std::vector<std::string>{"COM1", "COM10", "COM3", "ttyACM0", "ttyS0", "ttyUSB0"}));
}

TEST(SerialPortList, NothingPresentGivesAnEmptyList) {
    TempDir program, sys;
    EXPECT_TRUE(SerialPortList(program.path, sys.path).empty());
    EXPECT_TRUE(SerialPortList(program.path, program.path + "no-such-dir/").empty());
}

TEST(DescribePort, TheLinkTheDeviceAndAUsbAdaptersStrings) {
    TempDir program, sys;
    // sysfs: ttyUSB0's device is an interface below the USB device that names the adapter.
    const std::string usb = sys.path + "devices/usb1/1-1/";
    fs::create_directories(usb + "1-1:1.0/ttyUSB0");
    WriteText(usb + "idVendor", "0403\n");
    WriteText(usb + "manufacturer", "FTDI\n");
    WriteText(usb + "product", "FT232R USB UART\n");
    WriteText(usb + "serial", "A9XK3\n");
    fs::create_directories(sys.path + "class/ttyUSB0");
    fs::create_directory_symlink(usb + "1-1:1.0/ttyUSB0", sys.path + "class/ttyUSB0/device");
    fs::create_directories(sys.path + "class/ttyS0");
    fs::create_directory_symlink(sys.path + "devices", sys.path + "class/ttyS0/device");
    fs::create_directories(program.path + "ports");
    fs::create_directory(program.path + "by-id");
    WriteText(program.path + "ttyUSB0", "");
    WriteText(program.path + "ttyS0", "");
    fs::create_symlink(program.path + "ttyUSB0", program.path + "by-id/usb-FTDI_A9XK3");
    fs::create_symlink(program.path + "by-id/usb-FTDI_A9XK3", program.path + "ports/COM3");

    const PortInfo com3 = DescribePort("COM3", program.path, sys.path + "class/");
    EXPECT_EQ(com3.Link, program.path + "by-id/usb-FTDI_A9XK3");
    EXPECT_EQ(com3.Device, program.path + "ttyUSB0");
    EXPECT_EQ(com3.Maker, "FTDI");
    EXPECT_EQ(com3.Model, "FT232R USB UART");
    EXPECT_EQ(com3.Serial, "A9XK3");
    const PortInfo board = DescribePort(program.path + "ttyS0", program.path, sys.path + "class/");
    EXPECT_EQ(board.Link, "");
    EXPECT_EQ(board.Device, program.path + "ttyS0");
    EXPECT_EQ(board.Maker + board.Model, "");                           // no USB device above it
    EXPECT_EQ(DescribePort("COM9", program.path, sys.path).Device, ""); // /dev/COM9: missing
}

TEST(ResolvePortDevice, PathThenPortsLinkThenDev) {
    TempDir program;
    fs::create_directory(program.path + "ports");
    fs::create_symlink("/dev/null", program.path + "ports/COM1");
    fs::create_symlink(program.path + "missing", program.path + "ports/COM2");
    struct Case {
        std::string name;
        std::string device;
    } cases[] = {
        {"/dev/ttyUSB0", "/dev/ttyUSB0"},
        {"rel/tty", "rel/tty"},
        {"COM1", program.path + "ports/COM1"},
        {"COM2", "/dev/COM2"},
        {"ttyS0", "/dev/ttyS0"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ResolvePortDevice(c.name, program.path), c.device) << c.name;
    }
}

} // namespace
