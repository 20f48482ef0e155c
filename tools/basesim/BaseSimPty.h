// The simulator's pseudo-terminal and the link that names it.
#pragma once

#include <string>

namespace basesim {

struct Pty {
    int master = -1;
    int slave = -1; // kept open so that the master never sees a hang-up between relay opens
    std::string path;
};

// Opens a pseudo-terminal in raw mode on both sides, master non-blocking. Throws
// std::runtime_error with the system's reason.
Pty OpenPty();
void ClosePty(Pty& pty);

// Points `link` at `target`, replacing whatever link or file is there. Throws std::runtime_error.
void MakeLink(const std::string& link, const std::string& target);
// Removes `link` if it still points at `target` (another simulator may have taken it over).
void RemoveLink(const std::string& link, const std::string& target);

} // namespace basesim
