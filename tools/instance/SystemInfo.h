// What the installation check asks of the operating system: who holds a device (through /proc),
// whether a relay runs (its single-instance lock, its socket), the user and the groups, and the
// stable names of USB serial adapters. Read-only: nothing here opens a device or takes a lock.
#pragma once

#include "Permissions.h"

#include <optional>
#include <string>
#include <vector>

namespace instance {

struct Holder {
    int pid = 0;
    std::string name; // /proc/PID/comm
};

struct HolderScan {
    std::vector<Holder> holders;
    // Some processes' descriptors could not be read (those of other users, without root).
    bool incomplete = false;
};

// The processes other than this one that have `device` open. For a pseudo-terminal the process
// that holds its far end (the master) is not counted: it is the simulated station itself.
HolderScan ProcessesHolding(const std::string& device);

// Running processes called `name` (as /proc/PID/comm gives it).
std::vector<int> ProcessesNamed(const std::string& name);

struct RunningRelay {
    int pid = 0;
    std::string programDir; // its program directory, ending in '/'; "" when unknown
};

// The relay that holds the single-instance lock of `runtimeDir`, found in /proc/locks, or one
// whose host-link socket there answers; nothing when none runs.
std::optional<RunningRelay> FindRunningRelay(const std::string& runtimeDir);

UserInfo CurrentUser();

// The owner, group and mode of a device, or nothing when it cannot be read.
std::optional<DeviceOwner> OwnerOf(const std::string& path);

// Whether this process may open `path` for reading and writing.
bool MayReadWrite(const std::string& path);

// Whether this process may create files in the directory `path`.
bool MayWriteIn(const std::string& path);

// The entry of byIdDir that names the same device as `device`, or "" when none does.
std::string StableDeviceName(const std::string& device,
                             const std::string& byIdDir = "/dev/serial/by-id/");

} // namespace instance
