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
    std::string reason; // when refused: one work-log line (GBK) that says why
};

// Creates the directory with mode 0700 when it is missing. Refuses it when it is not a
// directory (a symbolic link included), belongs to another user or is open to group or others.
RuntimeDirResult PrepareRuntimeDir(const std::string& path);
inline RuntimeDirResult PrepareRuntimeDir() {
    return PrepareRuntimeDir(RuntimeDirPath());
}

} // namespace hostlink
