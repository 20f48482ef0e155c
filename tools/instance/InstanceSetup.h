// Making an installation directory and naming its serial ports.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

namespace instance {

// A refusal with the message for the user; nothing has been changed by the failing step.
struct SetupError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct CreateOptions {
    std::string dir;      // the installation directory, ending in '/'
    std::string relay;    // the relay program the link points at
    std::string examples; // the directory holding ini/ and menu/
    bool exampleMenu = false;
};

// Makes the directory with the link to the relay, the two INI files from the examples unless
// they exist (never overwritten), txt/ (with the example menu's tables when asked, never over a
// table that is there) and ports/. Returns one line per thing done or kept.
std::vector<std::string> CreateInstance(const CreateOptions& options);

// Makes dir/ports/NAME point at `device`, or at its stable /dev/serial/by-id/ name when it has
// one and `asGiven` is false; an old link is replaced in one step. Returns what was done.
std::vector<std::string> LinkPort(const std::string& dir, const std::string& name,
                                  const std::string& device, bool asGiven,
                                  const std::string& byIdDir = "/dev/serial/by-id/");

// The serial devices one could link: each stable name with its device, then the ports without
// one. One line each.
std::vector<std::string> LinkableDevices(const std::string& byIdDir = "/dev/serial/by-id/");

} // namespace instance
