// The on-site check of an installation directory: everything the relay needs to run there, one
// item at a time, each with what to do when it fails. It reads and asks, and changes nothing;
// while a relay runs it leaves that relay's ports and base stations alone.
#pragma once

#include "CheckReport.h"

#include <string>

namespace instance {

struct CheckOptions {
    std::string dir; // the installation directory, ending in '/'
    int queryAttempts = 3;
    int queryWaitMs = 500;
};

Report CheckInstance(const CheckOptions& options);

} // namespace instance
