// An installation with four base stations, each port linked to a running simulator: the set-up
// of the idle-relay benchmarks.
#pragma once

#include "support/BaseSim.h"
#include "support/Instance.h"

#include <memory>
#include <string>
#include <vector>

namespace bench {

struct FourStations {
    static testsupport::InstanceSettings Settings() {
        testsupport::InstanceSettings s;
        s.ports = {"COM1", "COM2", "COM3", "COM4"};
        s.ids = {"02", "03", "04", "05"};
        return s;
    }

    // Starts the four simulators; false with the first failure in `error`.
    bool Start(std::string& error) {
        for (int i = 1; i <= 4; ++i) {
            sims.push_back(std::make_unique<testsupport::BaseSim>(std::vector<std::string>{
                "--link", inst.Port("COM" + std::to_string(i)), "--stay"}));
            if (!sims.back()->Start()) {
                error = sims.back()->Error();
                return false;
            }
        }
        return true;
    }

    testsupport::Instance inst{Settings()};
    std::vector<std::unique_ptr<testsupport::BaseSim>> sims;
};

} // namespace bench
