// Files that go with the process when it ends through exit() before closing what they belong to:
// Qt ends the program that way (status 1) when the display goes away. Only the file as it was
// registered is removed, and only by the process that registered it (not by a forked child).
#pragma once

#include <string>

namespace hostlink {

// Registers `path` as it is now (a file this process has just made).
void RemoveAtExit(const std::string& path);
// Forgets `path`: its owner has closed or removed it.
void KeepAtExit(const std::string& path);

} // namespace hostlink
