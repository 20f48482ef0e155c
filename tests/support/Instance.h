// A complete relay installation in a temporary directory for end-to-end tests: the parameter and
// registration files, the example menu in txt/, ports/ for the simulators' links, an exchange
// directory and a private runtime directory (DCRELAY_RUNTIME_DIR is set for this process and
// its children).
#pragma once

#include "support/TempDir.h"
#include "text/Stations.h"

#include <array>
#include <string>
#include <vector>

namespace testsupport {

struct InstanceSettings {
    std::array<std::string, kStationCount> ports{"COM1", "", "", ""};
    std::array<std::string, kStationCount> ids{"02", "", "", ""};
    bool testMode = false;
    bool fileMode = false;
    std::string testText;                              // UTF-8; empty: the default
    std::vector<std::string> registered{"005", "108"}; // on base station 1
};

class Instance {
public:
    explicit Instance(const InstanceSettings& settings = {});
    Instance(const Instance&) = delete;
    Instance& operator=(const Instance&) = delete;

    const std::string& Dir() const { return dir_; }      // ends in '/'
    std::string Exchange() const { return dir_ + "x/"; } // WPath
    std::string Port(const std::string& name) const { return dir_ + "ports/" + name; }
    std::string RuntimeDir() const { return dir_ + "rt"; }
    // The relay program linked into the instance, so its program directory is this one.
    std::string Relay() const { return dir_ + "dcrelay"; }
    void WriteSettings(const InstanceSettings& settings);
    // Replaces the registration file: one section per entry, named "基站" + its number, with
    // its handheld numbers (an empty list writes one empty PDA1).
    void WriteRegistry(const std::vector<std::vector<std::string>>& stations);

private:
    TempDir temp_{"dcr-inst"};
    std::string dir_ = temp_.path;
};

} // namespace testsupport
