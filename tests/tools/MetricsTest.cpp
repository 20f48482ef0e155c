// The metrics file after the demo's scripted service: promtool accepts it, and Prometheus' node
// exporter, its textfile collector pointed at the metrics directory, serves every metric with the
// values of that service over loopback.
#include "support/BaseSim.h"
#include "support/TempDir.h"
#include "support/WaitUntil.h"
#include "text/Files.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <csignal>
#include <cstdio>
#include <map>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

// A port of the loopback interface that nobody listens on now.
int FreePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof addr;
    ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &length);
    ::close(fd);
    return ntohs(addr.sin_port);
}

// The body of GET /metrics, or "" when nothing answers.
std::string Scrape(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<std::uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::string response;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
        const std::string request =
            "GET /metrics HTTP/1.0\r\nHost: 127.0.0.1\r\nAccept: text/plain\r\n\r\n";
        if (::write(fd, request.data(), request.size()) == static_cast<ssize_t>(request.size())) {
            char buffer[8192];
            for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;) {
                response.append(buffer, static_cast<std::size_t>(n));
            }
        }
    }
    ::close(fd);
    const std::size_t body = response.find("\r\n\r\n");
    return body == std::string::npos ? "" : response.substr(body + 4);
}

// Exit status and output of a shell command.
std::pair<int, std::string> Shell(const std::string& command) {
    std::string output;
    FILE* out = ::popen((command + " 2>&1").c_str(), "r");
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, out)) > 0;) {
        output.append(buffer, n);
    }
    const int status = ::pclose(out);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
}

// Every sample line: "name{labels}" to its value.
std::map<std::string, double> Samples(const std::string& exposition) {
    std::map<std::string, double> samples;
    std::size_t at = 0;
    while (at < exposition.size()) {
        const std::size_t end = std::min(exposition.find('\n', at), exposition.size());
        const std::string line = exposition.substr(at, end - at);
        const std::size_t space = line.rfind(' ');
        if (!line.empty() && line[0] != '#' && space != std::string::npos) {
            samples[line.substr(0, space)] = std::stod(line.substr(space + 1));
        }
        at = end + 1;
    }
    return samples;
}

TEST(Metrics, TheDemoServiceReachesPrometheusThroughNodeExporter) {
    const testsupport::TempDir temp;
    const std::string demo = temp.path + "demo";
    const auto [demoStatus, demoOutput] =
        Shell(testsupport::BaseSim::BuiltProgram("dcrelay-demo") +
              " --bin " DCRELAY_BIN_DIR " --source " DCRELAY_SOURCE_DIR " --dir " + demo + " 2>" +
              temp.path + "demo.log");
    ASSERT_EQ(demoStatus, 0) << demoOutput;
    const std::string metrics = demo + "/metrics/";
    const auto [checkStatus, checkOutput] =
        Shell("promtool check metrics < " + metrics + "dcrelay.prom");
    EXPECT_EQ(checkStatus, 0) << checkOutput;

    const std::string listen = "--web.listen-address=127.0.0.1:" + std::to_string(FreePort());
    const std::string textfiles = "--collector.textfile.directory=" + metrics;
    std::vector<std::string> args{"prometheus-node-exporter", "--collector.disable-defaults",
                                  "--collector.textfile", textfiles, listen};
    std::vector<char*> argv;
    for (std::string& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    pid_t exporter = -1;
    ASSERT_EQ(::posix_spawnp(&exporter, argv[0], nullptr, nullptr, argv.data(), environ), 0);
    const int port = std::stoi(listen.substr(listen.rfind(':') + 1));
    std::string scraped;
    testsupport::WaitUntil([&] { return !(scraped = Scrape(port)).empty(); }, 10000);
    ::kill(exporter, SIGTERM);
    ::waitpid(exporter, nullptr, 0);
    ASSERT_FALSE(scraped.empty()) << "node exporter did not answer on " << listen;
    text::WriteFileAtomic(temp.path + "scraped", scraped);
    const auto [scrapedStatus, scrapedCheck] =
        Shell("promtool check metrics < " + temp.path + "scraped");
    EXPECT_EQ(scrapedStatus, 0) << scrapedCheck;

    // The service: DL from 5, DC from 108, KT from unregistered 9, KT from 5 and 108; the host
    // answers four, the relay refuses one; one download; then the host closes the relay.
    std::map<std::string, double> s = Samples(scraped);
    EXPECT_EQ(s["node_textfile_scrape_error"], 0);
    EXPECT_EQ(s["dcrelay_requests_total{base_id=\"02\",operation=\"DL\"}"], 1);
    EXPECT_EQ(s["dcrelay_requests_total{base_id=\"02\",operation=\"DC\"}"], 1);
    EXPECT_EQ(s["dcrelay_requests_total{base_id=\"02\",operation=\"KT\"}"], 3);
    EXPECT_EQ(s["dcrelay_answers_total{status=\"OK\"}"] + s["dcrelay_answers_total{status=\"NO\"}"],
              5);
    EXPECT_EQ(s["dcrelay_refusals_total{reason=\"unregistered\"}"], 1);
    EXPECT_EQ(s.count("dcrelay_refusals_total{reason=\"unknown_operation\"}"), 1u);
    EXPECT_EQ(s["dcrelay_requests_waiting"], 0);
    EXPECT_EQ(s["dcrelay_oldest_request_age_seconds"], 0);
    EXPECT_EQ(s["dcrelay_host_up"], 0) << "the host has closed the relay";
    EXPECT_EQ(s["dcrelay_station_up{base_id=\"02\",port=\"COM1\",slot=\"1\"}"], 1);
    EXPECT_EQ(s["dcrelay_port_hangups_total{slot=\"1\"}"], 0);
    EXPECT_EQ(s["dcrelay_request_answer_seconds_count"], 4);
    EXPECT_EQ(s["dcrelay_request_answer_seconds_bucket{le=\"+Inf\"}"], 4);
    EXPECT_GT(s["dcrelay_request_answer_seconds_sum"], 0);
    EXPECT_GE(s["dcrelay_download_cycles_total"], 1);
    EXPECT_GE(s["dcrelay_download_packets_total"], 244) << "one whole cycle of the example menu";
    EXPECT_EQ(s["dcrelay_worklog_file_errors_total"], 0);
    EXPECT_NEAR(s["dcrelay_start_time_seconds"], static_cast<double>(::time(nullptr)), 600);
    EXPECT_EQ(s["dcrelay_running"], 0) << "the file the relay left as it ended";
}

// The example alert rules: promtool accepts them and their unit tests pass.
TEST(Metrics, TheExampleAlertRulesHoldTheirTests) {
    const std::string rules = DCRELAY_SOURCE_DIR "/examples/monitoring/";
    const auto [checkStatus, checkOutput] =
        Shell("promtool check rules " + rules + "dcrelay.rules.yml");
    EXPECT_EQ(checkStatus, 0) << checkOutput;
    const auto [testStatus, testOutput] =
        Shell("cd " + rules + " && promtool test rules dcrelay.rules.test.yml");
    EXPECT_EQ(testStatus, 0) << testOutput;
}

} // namespace
