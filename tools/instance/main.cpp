// dcrelay-instance: makes relay installations, names their serial ports and checks them on site.
// See kUsage.
#include "InstanceCheck.h"
#include "InstanceSetup.h"
#include "StatusCommand.h"
#include "SystemInfo.h"

#include <cstdio>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

const char kUsage[] =
    "usage: dcrelay-instance create DIR [--example-menu] [--relay PATH] [--examples DIR]\n"
    "       dcrelay-instance link DIR NAME DEVICE [--as-given]\n"
    "       dcrelay-instance link DIR\n"
    "       dcrelay-instance check DIR\n"
    "       dcrelay-instance status DIR [--json] [--max-wait SECONDS]\n"
    "create  makes DIR an installation: the link DIR/dcrelay to the relay, dcfilepath.ini and\n"
    "        基站.ini from the examples unless they exist, txt/ (the example menu with\n"
    "        --example-menu) and ports/. Nothing that exists is overwritten.\n"
    "link    makes DIR/ports/NAME (e.g. COM1) point at DEVICE, or at its stable\n"
    "        /dev/serial/by-id/ name unless --as-given; without NAME and DEVICE it lists the\n"
    "        serial devices.\n"
    "check   checks everything the relay needs in DIR, one line per item with what to do when\n"
    "        it fails; run it as the user that runs the host program. It leaves a running\n"
    "        relay alone. Exit status: 0 all hold, 1 something failed, 3 nothing failed but\n"
    "        some items were not tested because a relay runs.\n"
    "status  asks the running relay of DIR what it is doing: its base stations, its host, the\n"
    "        requests waiting, the handhelds seen, the download and the last work-log lines;\n"
    "        --json prints the same as one JSON object. Run it as the relay's user. Exit\n"
    "        status: 0 healthy; 1 degraded (a station out, the host gone, the oldest waiting\n"
    "        request older than --max-wait seconds, default 30; or a relay that does not\n"
    "        answer); 3 no relay runs for DIR.\n";

[[noreturn]] void UsageError(const std::string& message) {
    std::fprintf(stderr, "dcrelay-instance: %s\n%s", message.c_str(), kUsage);
    std::exit(2);
}

std::string DirectoryArgument(const std::string& dir) {
    std::string absolute = fs::absolute(dir).lexically_normal().string();
    return absolute.back() == '/' ? absolute : absolute + "/";
}

// Where this program lies: the installed relay and examples are found from here.
std::string OwnDirectory() {
    std::error_code ec;
    return fs::read_symlink("/proc/self/exe", ec).parent_path().string() + "/";
}

// The installed relay (package: /usr/lib/dcrelay/dcrelay beside /usr/bin), else the one beside
// this program (a build tree's bin/).
std::string FindRelay() {
    const std::string own = OwnDirectory();
    for (const std::string& candidate : {own + "../lib/dcrelay/dcrelay", own + "dcrelay"}) {
        if (::access(candidate.c_str(), X_OK) == 0) {
            return fs::path(candidate).lexically_normal().string();
        }
    }
    return own + "../lib/dcrelay/dcrelay";
}

std::string FindExamples() {
    const std::string installed = OwnDirectory() + "../share/dcrelay/examples";
    std::error_code ec;
    if (fs::is_directory(installed, ec)) {
        return fs::path(installed).lexically_normal().string();
    }
    return DCRELAY_SOURCE_DIR "/examples";
}

void PrintLines(const std::vector<std::string>& lines) {
    for (const std::string& line : lines) {
        std::printf("%s\n", line.c_str());
    }
}

int Create(const std::vector<std::string>& args) {
    instance::CreateOptions o;
    o.relay = FindRelay();
    o.examples = FindExamples();
    for (std::size_t i = 1; i < args.size(); ++i) {
        if (args[i] == "--example-menu") {
            o.exampleMenu = true;
        } else if ((args[i] == "--relay" || args[i] == "--examples") && i + 1 < args.size()) {
            (args[i] == "--relay" ? o.relay : o.examples) = args[i + 1];
            ++i;
        } else if (args[i][0] == '-' || !o.dir.empty()) {
            UsageError("create: unexpected '" + args[i] + "'");
        } else {
            o.dir = DirectoryArgument(args[i]);
        }
    }
    if (o.dir.empty()) {
        UsageError("create needs DIR");
    }
    PrintLines(instance::CreateInstance(o));
    std::printf("next: dcrelay-instance link %s COM1 DEVICE, then dcrelay-instance check %s\n",
                o.dir.c_str(), o.dir.c_str());
    return 0;
}

int Link(const std::vector<std::string>& args) {
    std::vector<std::string> plain;
    bool asGiven = false;
    for (std::size_t i = 1; i < args.size(); ++i) {
        if (args[i] == "--as-given") {
            asGiven = true;
        } else {
            plain.push_back(args[i]);
        }
    }
    if (plain.size() == 1) {
        std::vector<std::string> devices = instance::LinkableDevices();
        std::printf("%s\n", devices.empty() ? "no serial devices found"
                                            : "serial devices (stable names first):");
        PrintLines(devices);
        return 0;
    }
    if (plain.size() != 3) {
        UsageError("link needs DIR NAME DEVICE, or DIR alone to list the devices");
    }
    PrintLines(instance::LinkPort(DirectoryArgument(plain[0]), plain[1], plain[2], asGiven));
    return 0;
}

int Check(const std::vector<std::string>& args) {
    if (args.size() != 2) {
        UsageError("check needs DIR");
    }
    instance::CheckOptions o;
    o.dir = DirectoryArgument(args[1]);
    std::printf("checking %s as user %s; run this as the user that runs the host program\n",
                o.dir.c_str(), instance::CurrentUser().name.c_str());
    instance::Report report = instance::CheckInstance(o);
    report.Print(stdout);
    return report.ExitStatus();
}

int Status(const std::vector<std::string>& args) {
    instance::StatusOptions o;
    for (std::size_t i = 1; i < args.size(); ++i) {
        if (args[i] == "--json") {
            o.json = true;
        } else if (args[i] == "--max-wait" && i + 1 < args.size()) {
            try {
                o.stuckAfter = std::chrono::seconds(std::stoul(args[++i]));
            } catch (const std::exception&) {
                UsageError("status: --max-wait needs a number of seconds");
            }
        } else if (args[i][0] == '-' || !o.dir.empty()) {
            UsageError("status: unexpected '" + args[i] + "'");
        } else {
            o.dir = DirectoryArgument(args[i]);
        }
    }
    if (o.dir.empty()) {
        UsageError("status needs DIR");
    }
    return instance::RunStatus(o, stdout);
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty() || args[0] == "--help" || args[0] == "-h") {
        std::fputs(kUsage, args.empty() ? stderr : stdout);
        return args.empty() ? 2 : 0;
    }
    try {
        if (args[0] == "create") {
            return Create(args);
        }
        if (args[0] == "link") {
            return Link(args);
        }
        if (args[0] == "check") {
            return Check(args);
        }
        if (args[0] == "status") {
            return Status(args);
        }
    } catch (const instance::SetupError& e) {
        std::fprintf(stderr, "dcrelay-instance: %s\n", e.what());
        return 1;
    }
    UsageError("unknown command '" + args[0] + "'");
}
