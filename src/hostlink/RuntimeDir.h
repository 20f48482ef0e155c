// The runtime directory of the host link: it holds the message sockets of the relay and the
// host, and the single-instance lock. Only its owner may use it.
#pragma once

#include <string>

namespace hostlink {

// $DCRELAY_RUNTIME_DIR when set and not empty, else $XDG_RUNTIME_DIR/dcrelay, else
// /tmp/dcrelay-<uid>. No final '/'.
std::string RuntimeDirPath();

struct RuntimeDirResult {
    bool ok = false;
    std::string path;
    // When refused (GBK): what is wrong, with the path, and what the operator can do about it.
    std::string reason;
    std::string remedy;
};

// Creates the directory with mode 0700 when it is missing. Refuses it when it is a symbolic
// link or no directory, belongs to another user or is open to group or others.
RuntimeDirResult PrepareRuntimeDir(const std::string& path);
inline RuntimeDirResult PrepareRuntimeDir() {
    return PrepareRuntimeDir(RuntimeDirPath());
}

// The operator's message when the relay cannot run for a refused directory or lock (GBK).
std::string CannotRunMessage(const std::string& reason, const std::string& remedy);

} // namespace hostlink
