// dcrelay-demo: one scripted restaurant service on a fresh installation, with a simulated base
// station and a simulated host, checked step by step. Exit status 0 only when every step held.
//
//   dcrelay-demo --bin BUILD/bin --source SOURCE_DIR --dir INSTANCE_DIR [--host-arg ARG]...
//
// --host-arg passes one more option to the host simulator (--handheld-field copy, say), to see
// the service checked against another host's answers.
#include "baselink/xyTypeConv.h"
#include "support/BaseSim.h"
#include "text/Files.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testsupport::BaseSim;
using testsupport::SimLine;

namespace {

struct Options {
    std::string bin, source, dir;
    std::vector<std::string> hostArgs;
};

int failures = 0;

void Step(bool ok, const std::string& what, const std::string& detail = "") {
    std::printf("  %s %s%s%s\n", ok ? "ok  " : "FAIL", what.c_str(), detail.empty() ? "" : ": ",
                detail.c_str());
    std::fflush(stdout);
    failures += ok ? 0 : 1;
}

std::string B(int n) {
    return std::string(static_cast<std::size_t>(n), ' ');
}

// A fresh installation: the example INI files and menu, a link to the relay, ports/.
void MakeInstance(const Options& o) {
    fs::remove_all(o.dir);
    fs::create_directories(o.dir + "/txt");
    fs::create_directories(o.dir + "/ports");
    for (const auto& e : fs::directory_iterator(o.source + "/examples/ini")) {
        if (e.path().filename().string()[0] == '.') {
            continue;
        }
        fs::copy_file(e.path(), o.dir + "/" + e.path().filename().string());
    }
    for (const auto& e : fs::directory_iterator(o.source + "/examples/menu")) {
        if (e.is_regular_file() && e.path().extension() == ".txt") {
            fs::copy_file(e.path(), o.dir + "/txt/" + e.path().filename().string());
        }
    }
    fs::create_symlink(fs::absolute(o.bin + "/dcrelay"), o.dir + "/dcrelay");
    std::FILE* ini = std::fopen((o.dir + "/dcfilepath.ini").c_str(), "ab");
    if (ini) { // the support switches: the work log also goes to logs/, metrics to metrics/
        std::fputs("[Support]\r\nlogfile=1\r\nmetrics=metrics\r\n", ini);
        std::fclose(ini);
    }
    fs::create_directory(o.dir + "/rt");
    fs::permissions(o.dir + "/rt", fs::perms::owner_all, fs::perm_options::replace);
}

Options Parse(int argc, char** argv) {
    Options o;
    for (int i = 1; i + 1 < argc; i += 2) {
        std::string a = argv[i];
        if (a == "--host-arg") {
            o.hostArgs.push_back(argv[i + 1]);
            continue;
        }
        (a == "--bin" ? o.bin : a == "--source" ? o.source : o.dir) = argv[i + 1];
    }
    if (o.bin.empty() || o.source.empty() || o.dir.empty()) {
        std::fprintf(stderr,
                     "usage: dcrelay-demo --bin DIR --source DIR --dir DIR [--host-arg ARG]...\n");
        std::exit(2);
    }
    o.dir = fs::absolute(o.dir).string();
    return o;
}

} // namespace

int main(int argc, char** argv) {
    Options o = Parse(argc, argv);
    MakeInstance(o);
    ::setenv("DCRELAY_RUNTIME_DIR", (o.dir + "/rt").c_str(), 1);
    if (::chdir(o.dir.c_str()) != 0) { // WPath is empty: the exchange directory is the relay's
        std::perror("chdir");
        return 1;
    }
    std::printf("dcrelay demo in %s\n", o.dir.c_str());

    // The menu is packed first, as the operator's download does.
    std::string pack = o.bin + "/dcrelay-pack " + o.dir + "/txt/";
    Step(std::system(pack.c_str()) == 0, "example menu packed into FF.bin", pack);

    BaseSim base({"--link", o.dir + "/ports/COM1", "--stay", "--image-out", o.dir + "/image.bin",
                  "--notice-delay", "300"},
                 o.bin + "/dcrelay-basesim");
    Step(base.Start(), "base-station simulator on ports/COM1", base.DevicePath());
    std::vector<std::string> hostArgs{"--runtime-dir", o.dir + "/rt", "--exchange", o.dir + "/",
                                      "--stdin"};
    hostArgs.insert(hostArgs.end(), {"--reply-for", "DL=欢迎光临\\n", "--reply-for",
                                     "DC=下单成功,共2项\\n", "--reply", "好的\\n"});
    hostArgs.insert(hostArgs.end(), o.hostArgs.begin(), o.hostArgs.end());
    hostArgs.insert(hostArgs.end(), {"--", o.dir + "/dcrelay"});
    BaseSim host(hostArgs, o.bin + "/dcrelay-hostsim");
    host.SetReadyEvent("started");
    Step(host.Start(), "host simulator started the relay");
    Step(host.WaitFor([](const SimLine& l) { return l.Str("kind") == "announcement"; }, 5s)
             .has_value(),
         "the relay announced itself to the host");
    Step(base.WaitForKind("query", 5s).has_value(), "the relay queried base station 1");

    // Every answer is looked at: the handheld and the status must be the ones the service
    // expects (the host's answers OK, the relay's own refusals NO).
    int answers = 0;
    auto reply = [&](long long handheld, const std::string& status) {
        auto r = base.WaitForKind("reply", 8s);
        if (r) {
            ++answers;
            if (r->Int("handheld") != handheld || r->Str("status") != status) {
                Step(false, "an answer the service does not expect",
                     "handheld " + r->Str("handheld") + " reads " + r->Str("status") + " (" +
                         r->Str("text") + "), expected handheld " + std::to_string(handheld) +
                         " reading " + status);
            }
        }
        return r;
    };
    auto request = [&] { return host.WaitForEvent("request", 8s); };

    base.Send("req 5 DL t=120000000000 CNS0090008000 999     ");
    auto req = request();
    Step(req && req->Str("mnemonic") == "DL", "handheld 5 logs in: DL record with the host",
         req ? req->Str("header") : "no request");
    auto r = reply(5, "OK");
    Step(r && r->Str("text") == "欢迎光临" && r->Str("status") == "OK" && r->Bool("ok"),
         "handheld 5 gets the host's answer", r ? r->Str("text") : "no reply");

    const std::string fixed = std::string("0000012") + "4 " + "xx" + "000000000001";
    const std::string item1 = std::string("00101") + "   2" + "ABCDEFGHIJKL" + "01" + "0" + "zzzz";
    const std::string item2 = std::string("00207") + "  10" + B(12) + "02" + "1" + "zzzz";
    const std::string record =
        "DC   108\r\n" + ("0000012" + B(12) + "000000000001" + B(6) + "15:16:29") + "\r\n" +
        ("0000012 00101" + B(4) + "2 ABCDEFGHIJKL 01 0 15:16:29" + B(6) + "4 ") + "\r\n" +
        ("0000012 00207" + B(3) + "10" + B(14) + "02 1 15:16:29" + B(6) + "4 ") + "\r\n";
    base.Send("req 108 DC t=291615000000 hex:" +
              HexCodec::BytesToHex(fixed + "\x02" + item1 + item2));
    req = request();
    Step(req && req->Str("hex") == HexCodec::BytesToHex(record),
         "an order of two items from handheld 108", "the host reads the exact DC record");
    r = reply(108, "OK");
    Step(r && r->Int("handheld") == 108 && r->Str("text") == "下单成功,共2项",
         "handheld 108 gets the host's answer", r ? r->Str("text") : "no reply");

    base.Send("req 9 KT 01");
    r = reply(9, "NO");
    Step(r && r->Str("status") == "NO" &&
             r->Str("text") == "编号为：009的手持机未在02号基站注册，请重新注册。",
         "unregistered handheld 9 is refused", r ? r->Str("text") : "no reply");

    base.Send("req 5 KT 01");
    base.Send("req 108 KT 02");
    auto first = reply(5, "OK");
    auto second = reply(108, "OK");
    Step(first && second && first->Int("handheld") == 5 && second->Int("handheld") == 108,
         "two quick requests are queued and answered in order");

    // Download: the station's ready notice brings up the prompt (headless: "开始"), the start
    // frame goes out, the station's broadcast notice starts the cycles.
    base.Send("ready");
    auto start = base.WaitForKind("start", 5s);
    Step(start && start->Bool("ok"), "ready notice: the relay sends the start frame");
    // The station reports a cycle when the next one begins, then writes its rebuilt image.
    auto cycle = base.WaitForEvent("cycle", 90s);
    auto written = base.WaitForEvent("image", 5s);
    auto image = text::ReadFile(o.dir + "/image.bin");
    auto ff = text::ReadFile(o.dir + "/txt/FF.bin");
    bool same = image && ff && image->size() == ff->size();
    std::size_t checked = 0;
    for (std::size_t k = 0; same && k < ff->size() / 64; ++k) {
        std::string block = ff->substr(k * 64, 64);
        bool sent = block[0] != '\xFF' || block[1] != '\xFF' || block[18] != '\xFF' ||
                    block[19] != '\xFF' || block[20] != '\xFF';
        if (sent) {
            same = image->substr(k * 64, 64) == block;
            ++checked;
        }
    }
    Step(cycle && written && cycle->Int("bad", 0) == 0 && same && checked > 0,
         "one download cycle rebuilt at the station equals FF.bin",
         std::to_string(checked) + " blocks compared, " +
             (cycle ? std::to_string(cycle->Int("packets", 0)) : std::string("no")) +
             " packets in the cycle");

    host.Send("close");
    int status = host.WaitExit(10s);
    Step(status == 0, "the host closes the relay; it ends with status 0",
         "status " + std::to_string(status));
    while (base.Next(300ms)) { // what the station received after the last step
    }
    base.Stop();
    const auto received = std::count_if(base.Seen().begin(), base.Seen().end(),
                                        [](const SimLine& l) { return l.Kind() == "reply"; });
    Step(received == answers, "every answer the station received was expected",
         std::to_string(received) + " received, " + std::to_string(answers) + " expected");

    std::size_t lines = 0;
    std::error_code error;
    for (const auto& day : fs::directory_iterator(o.dir + "/logs", error)) {
        const std::string text = text::ReadFile(day.path().string()).value_or("");
        lines += static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
    }
    Step(lines > 0, "the work-log file in logs/ holds the service",
         std::to_string(lines) + " lines");

    std::printf("%s: %d step(s) failed\n", failures == 0 ? "demo passed" : "demo FAILED", failures);
    return failures == 0 ? 0 : 1;
}
