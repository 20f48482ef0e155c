// What every fuzz target shares: a failed expectation ends the run as a finding, and targets
// that write files do so in one private directory that is removed when the process ends.
#pragma once

#include <string>

// Stops the run with the expectation's text so that libFuzzer keeps the input as a crash.
#define FUZZ_CHECK(condition)                                                                      \
    ((condition) ? static_cast<void>(0) : fuzz::Fail(#condition, __FILE__, __LINE__))

namespace fuzz {

[[noreturn]] void Fail(const char* expectation, const char* file, int line);

// A directory of this process only, ending in '/': made on first use (under $TMPDIR, else
// /dev/shm when it is there, where writes and syncs stay in memory, else /tmp) and removed with
// its contents when the process exits.
const std::string& ScratchDir();

// Removes every entry of the scratch directory, so that each input starts from nothing.
void ClearScratchDir();

// Writes bytes to ScratchDir() + name and returns the path; a failed write is a finding.
std::string WriteScratchFile(const std::string& name, const std::string& bytes);

} // namespace fuzz
