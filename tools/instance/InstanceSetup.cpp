#include "InstanceSetup.h"

#include "SystemInfo.h"

#include "baselink/SerialPortList.h"
#include "config/AppSettings.h"
#include "menu/DownloadImage.h"

#include <algorithm>
#include <filesystem>
#include <unistd.h>

namespace fs = std::filesystem;

namespace instance {
namespace {

void MakeDirectory(const std::string& path, std::vector<std::string>& done) {
    std::error_code ec;
    if (fs::is_directory(path, ec)) {
        return;
    }
    if (!fs::create_directories(path, ec) && ec) {
        throw SetupError("cannot make " + path + ": " + ec.message());
    }
    done.push_back("made " + path);
}

// Copies a file unless the target exists: what is there stays as it is.
void CopyIfMissing(const std::string& from, const std::string& to, std::vector<std::string>& done) {
    std::error_code ec;
    if (fs::exists(fs::symlink_status(to, ec))) {
        done.push_back("kept " + to);
        return;
    }
    if (!fs::copy_file(from, to, ec)) {
        throw SetupError("cannot copy " + from + " to " + to + ": " + ec.message());
    }
    done.push_back("copied " + to);
}

// A symbolic link made beside its final name and renamed over it, so the name never goes
// missing and an old link is replaced in one step.
void ReplaceLink(const std::string& link, const std::string& target) {
    const std::string temp = link + ".new-" + std::to_string(::getpid());
    std::error_code ec;
    fs::remove(temp, ec);
    fs::create_symlink(target, temp, ec);
    if (!ec) {
        fs::rename(temp, link, ec);
    }
    if (ec) {
        fs::remove(temp);
        throw SetupError("cannot link " + link + " -> " + target + ": " + ec.message());
    }
}

void LinkRelay(const std::string& dir, const std::string& relay, std::vector<std::string>& done) {
    const std::string link = dir + "dcrelay";
    std::error_code ec;
    const fs::file_status status = fs::symlink_status(link, ec);
    if (fs::exists(status) && !fs::is_symlink(status)) {
        done.push_back("kept " + link + " (not a link: it is used as it is)");
        return;
    }
    if (fs::is_symlink(status) && fs::read_symlink(link, ec) == relay) {
        done.push_back("kept " + link + " -> " + relay);
        return;
    }
    ReplaceLink(link, relay);
    done.push_back("linked " + link + " -> " + relay);
}

bool ValidPortName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

} // namespace

std::vector<std::string> CreateInstance(const CreateOptions& o) {
    std::vector<std::string> done;
    if (!fs::exists(o.relay)) {
        throw SetupError("the relay program " + o.relay + " is missing");
    }
    MakeDirectory(o.dir, done);
    LinkRelay(o.dir, o.relay, done);
    for (const char* name : {config::kSettingsFileName, config::kRegistryFileName}) {
        CopyIfMissing(o.examples + "/ini/" + name, o.dir + name, done);
    }
    MakeDirectory(o.dir + "txt", done);
    if (o.exampleMenu) {
        for (const char* table : menu::kRequiredTables) {
            CopyIfMissing(o.examples + "/menu/" + table, o.dir + "txt/" + table, done);
        }
    }
    MakeDirectory(o.dir + "ports", done);
    return done;
}

std::vector<std::string> LinkPort(const std::string& dir, const std::string& name,
                                  const std::string& device, bool asGiven,
                                  const std::string& byIdDir) {
    if (!ValidPortName(name)) {
        throw SetupError("'" + name + "' cannot name a port: use a plain name such as COM1");
    }
    std::error_code ec;
    if (!fs::exists(device, ec)) {
        throw SetupError(device + " does not exist (is the adapter plugged in?)");
    }
    if (!fs::is_directory(dir + "ports", ec)) {
        throw SetupError(dir +
                         "ports/ is missing: make the installation first "
                         "(dcrelay-instance create " +
                         dir + ")");
    }
    const std::string link = dir + "ports/" + name;
    const fs::file_status status = fs::symlink_status(link, ec);
    if (fs::exists(status) && !fs::is_symlink(status)) {
        throw SetupError(link + " exists and is not a link; remove it first");
    }
    std::vector<std::string> done;
    std::string target = fs::absolute(device).lexically_normal().string();
    const std::string stable = asGiven ? std::string() : StableDeviceName(device, byIdDir);
    if (!stable.empty() && stable != target) {
        done.push_back("using the stable name of " + target +
                       ", which stays the same when the "
                       "adapter is plugged in elsewhere");
        target = stable;
    }
    const std::string old = fs::is_symlink(status) ? fs::read_symlink(link, ec).string() : "";
    ReplaceLink(link, target);
    done.push_back("linked " + link + " -> " + target + (old.empty() ? "" : " (was " + old + ")"));
    return done;
}

std::vector<std::string> LinkableDevices(const std::string& byIdDir) {
    std::vector<std::string> lines;
    std::vector<std::string> named;
    std::error_code ec;
    for (fs::directory_iterator it(byIdDir, ec); !ec && it != fs::directory_iterator();
         it.increment(ec)) {
        std::error_code real;
        const std::string device = fs::canonical(it->path(), real).string();
        lines.push_back(it->path().string() + "  (" + device + ")");
        named.push_back(fs::path(device).filename().string());
    }
    std::sort(lines.begin(), lines.end());
    for (const std::string& port : SerialPortList("")) {
        if (std::find(named.begin(), named.end(), port) == named.end()) {
            lines.push_back("/dev/" + port);
        }
    }
    return lines;
}

} // namespace instance
