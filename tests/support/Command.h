// Runs a shell command and collects what it writes on standard output, with its exit status.
#pragma once

#include <array>
#include <cstdio>
#include <string>
#include <sys/wait.h>

namespace testsupport {

struct CommandRun {
    int status = -1; // the exit status, -1 when it did not exit normally
    std::string output;
};

inline CommandRun RunCommand(const std::string& command) {
    CommandRun run;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return run;
    }
    std::array<char, 4096> buffer;
    for (std::size_t n; (n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0;) {
        run.output.append(buffer.data(), n);
    }
    const int status = ::pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

} // namespace testsupport
