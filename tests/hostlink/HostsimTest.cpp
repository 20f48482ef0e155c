#include "HostSimulator.h"
#include "HostlinkTestSupport.h"
#include "baselink/xyTypeConv.h"
#include "relay/ReplyFile.h"
#include "support/BaseSim.h"
#include "support/TempDir.h"
#include "text/Files.h"
#include "text/Gbk.h"

#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <stdexcept>

using hostlink_test::TempRuntime;
using testsupport::SimLine;
using namespace std::chrono_literals;
using namespace hostsim;

TEST(HostsimRules, DecodeTextWritesGbkAndEscapes) {
    EXPECT_EQ(DecodeText("谢谢\\n12\\t\\\\\\x00\\xff"),
              text::ToGbk("谢谢") + "\r\n12\t\\" + std::string(1, '\0') + "\xFF");
    EXPECT_EQ(DecodeText("a\\rb"), "a\rb");
    for (const char* bad : {"x\\", "\\q", "\\x1", "\\xg0"}) {
        EXPECT_THROW(DecodeText(bad), std::invalid_argument) << bad;
    }
}

TEST(HostsimRules, ReplyHeaderNamesTheOperationAndTheHandheld) {
    struct Case {
        std::string request;
        HandheldField field;
        std::string body;
        std::string reply;
    };
    const Case cases[] = {
        {"DL   005\r\nx\r\n", HandheldField::Copy, "OK", "DL   005\r\nOK\r\n"},
        {"DL   005\r\n", HandheldField::Plain, "OK\r\n", "DL   5\r\nOK\r\n"},
        {"DL   000\r\n", HandheldField::Plain, "", "DL   0\r\n"},
        {"CLQC 108\r\n", HandheldField::Copy, "a\r\nb", "CLQC 108\r\na\r\nb\r\n"},
        {"YDKT 007\r\n1\r\n", HandheldField::Copy, "9", "QCJE 007\r\n9\r\n"},
        {"GQ   003\r\n", HandheldField::None, "9", "GQ   \r\n9\r\n"},
        {"", HandheldField::Copy, "9", "\r\n9\r\n"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ComposeReply(c.request, c.body, c.field), c.reply) << c.request;
    }
    ReplyRules rules;
    EXPECT_FALSE(rules.BodyFor("DL"));
    rules.SetDefault("any");
    rules.SetFor("DL", "dl");
    rules.SetFor("", "empty");
    EXPECT_EQ(*rules.BodyFor("DL"), "dl");
    EXPECT_EQ(*rules.BodyFor(""), "empty");
    EXPECT_EQ(*rules.BodyFor("KT"), "any");
}

// Without --handheld-field the simulator answers as a host does: every handheld reads OK, also
// from number 100 on, where the three-digit copy of the request header would read NO.
TEST(HostsimRules, TheDefaultRepliesReadOkForEveryHandheld) {
    const Options defaults = ParseOptions({"--", "relay"}).options;
    const std::pair<const char*, std::uint8_t> handhelds[] = {
        {"005", 5}, {"099", 99}, {"108", 108}, {"255", 255}}; // header, number
    for (const auto& [header, number] : handhelds) {
        const std::string request = std::string("DC   ") + header + "\r\n";
        const relay::ReplyFile reply =
            relay::ParseReplyFile(ComposeReply(request, "ok", defaults.field));
        ASSERT_TRUE(reply.Recognised) << header;
        EXPECT_TRUE(relay::ReplyStatusOk(reply.HandheldField, number)) << header;
    }
}

TEST(HostsimCommands, VerbsReadTheirArguments) {
    struct Case {
        const char* line;
        const char* error; // "" when valid
        int ms = 0;
        std::int32_t code = 0;
    } cases[] = {
        {"wait", "", 0},
        {"wait-notify", "", 10000},
        {"wait-announce 5", "", 5},
        {"wait -1", "wait needs milliseconds"},
        {"post 99 100000000", "", 0, 100000000},
        {"post", "post needs CODE or FIRST CODE"},
        {"show", "", 0, 12},
        {"close now", "close takes no arguments"},
        {"ready x", "ready needs a code"},
        {"reply-for DL", "reply-for needs MNEMONIC=TEXT"},
        {"reply \\q", "reply: unknown escape \\q"},
        {"signal HUP", "signal is TERM, INT or KILL"},
        {"frob 1", "unknown command frob"},
    };
    for (const Case& c : cases) {
        ParsedLine parsed = ParseCommand(c.line);
        EXPECT_EQ(parsed.error, c.error) << c.line;
        if (*c.error == '\0') {
            ASSERT_TRUE(parsed.command) << c.line;
            EXPECT_EQ(parsed.command->ms, c.ms) << c.line;
            EXPECT_EQ(parsed.command->code.value_or(0), c.code) << c.line;
        }
    }
    EXPECT_EQ(*ParseCommand("post 99 7").command->first, 99u);
    EXPECT_FALSE(ParseCommand("  # note").command);
    EXPECT_EQ(ParseOptions({"--handle", "-1", "--", "r"}).error,
              "--handle needs a number from 0 to 4294967295, not '-1'");
    EXPECT_EQ(ParseOptions({"--exchange", "x"}).error, "no relay command after --");
    EXPECT_EQ(ParseOptions({"--exchange", "x", "--", "r"}).options.exchange, "x/");
}

namespace {

// The core with a hand-made clock, recording what it prints, posts and signalled.
struct HostsimCore : ::testing::Test, Output {
    void Line(const std::string& json) override { lines.push_back(*SimLine::Parse(json)); }
    bool Post(unsigned window, const hostlink::HostMessage& m) override {
        posts.push_back(std::to_string(window) + ":" + std::to_string(m.first) + "," +
                        std::to_string(m.second));
        return true;
    }
    void Signal(int signal) override { signalled.push_back(signal); }

    void Start(std::vector<std::string> args, Simulator::Clock clock = {}) {
        args.insert(args.end(), {"--exchange", dir.path, "--", "relay"});
        sim = std::make_unique<Simulator>(ParseOptions(args).options, *this, std::move(clock));
        sim->RelayStarted(0, {4711, "/rt", 99, {"relay", "4711"}});
    }
    std::vector<SimLine> Events(const std::string& event) const {
        std::vector<SimLine> found;
        std::copy_if(lines.begin(), lines.end(), std::back_inserter(found),
                     [&](const SimLine& l) { return l.Event() == event; });
        return found;
    }

    testsupport::TempDir dir;
    std::unique_ptr<Simulator> sim;
    std::vector<SimLine> lines;
    std::vector<std::string> posts;
    std::vector<int> signalled;
};

} // namespace

TEST_F(HostsimCore, AnswersAfterTheReplyDelayByTheRules) {
    Start({"--reply-delay", "50", "--reply-for", "DL=ok", "--ready-code", "7"});
    dir.Write("T1.txt", "DL   005\r\nx\r\n");
    sim->Received(10, {99, 99});
    sim->Received(20, {1, 1});
    EXPECT_EQ(Events("request").at(0).Str("mnemonic"), "DL");
    EXPECT_EQ(sim->NextDeadline(), 70.0);
    sim->Tick(69.9);
    EXPECT_TRUE(posts.empty());
    sim->Tick(70);
    EXPECT_EQ(*text::ReadFile(dir.File("R1.TXT")), "DL   \r\nok\r\n");
    EXPECT_EQ(posts, std::vector<std::string>{"99:4711,7"});
    EXPECT_EQ(Events("answered").at(0).Str("host_ms"), "50.000");

    dir.Write("T1.txt", "KT   005\r\n");
    sim->Received(80, {1, 1});
    EXPECT_EQ(Events("unanswered").at(0).Str("reason"), "no rule");
    EXPECT_FALSE(sim->NextDeadline());
}

// With a clock, host_ms is the simulator's own time up to its post (here its reading and writing
// took 3.25 ms), which a benchmark of the relay takes away.
TEST_F(HostsimCore, AnswerTimeCountsTheSimulatorsOwnWork) {
    Start({"--reply", "ok"}, [] { return 23.25; });
    dir.Write("T1.txt", "DL   005\r\n");
    sim->Received(20, {1, 1});
    EXPECT_EQ(Events("answered").at(0).Str("host_ms"), "3.250");
}

TEST_F(HostsimCore, CommandsWaitTheirTurnAndAnswerByHand) {
    Start({"--no-reply"});
    for (const char* line :
         {"wait-notify 100", "answer 手动", "# note", "wait-notify 10", "echo x"}) {
        sim->Command(line);
    }
    sim->Tick(0);
    EXPECT_EQ(Events("command").size(), 1u);
    dir.Write("T1.txt", "DL   005\r\n");
    sim->Received(30, {1, 1});
    EXPECT_EQ(Events("unanswered").at(0).Str("reason"), "no-reply");
    sim->Tick(30);
    EXPECT_EQ(*text::ReadFile(dir.File("R1.TXT")), text::ToGbk("DL   \r\n手动\r\n"));
    sim->Tick(39);
    EXPECT_TRUE(Events("echo").empty());
    sim->Tick(40);
    EXPECT_EQ(Events("error").at(0).Str("message"), "wait-notify timed out");
    EXPECT_EQ(Events("echo").size(), 1u);
}

TEST_F(HostsimCore, TimeoutEndsTheRelayAndKillsItTwoSecondsLater) {
    Start({"--timeout", "1"});
    sim->Tick(999);
    EXPECT_TRUE(signalled.empty());
    sim->Tick(1000);
    EXPECT_EQ(Events("error").at(0).Str("message"), "timeout: ending the relay");
    EXPECT_EQ(sim->NextDeadline(), 3000.0);
    sim->Tick(3000);
    EXPECT_EQ(signalled, (std::vector<int>{SIGTERM, SIGKILL}));
    sim->RelayEnded(3001, 137, 9);
    EXPECT_EQ(lines.back().Text(),
              "{\"t\":3001.000,\"event\":\"exit\",\"status\":137,\"signal\":9}");
}

namespace {

// dcrelay-hostsim itself, with the fake relay in a private runtime and exchange directory.
struct Hostsim : ::testing::Test {
    // Runs it to its end with these options and these lines on standard input; its status.
    int Run(std::vector<std::string> options, const char* mode,
            const std::vector<std::string>& input = {}) {
        std::filesystem::create_directory(ex);
        options.insert(options.begin(), {"--timeout", "20", "--exchange", ex});
        options.insert(options.end(), {"--", HOSTLINK_FAKE_RELAY, ex, mode});
        sim = std::make_unique<testsupport::BaseSim>(options, HOSTLINK_HOSTSIM);
        sim->SetReadyEvent("started");
        EXPECT_TRUE(sim->Start()) << sim->Error();
        for (const std::string& line : input) {
            sim->Send(line);
        }
        sim->CloseInput();
        sim->WaitForEvent("exit", 15s);
        return sim->WaitExit(5s);
    }
    std::vector<SimLine> Events(const std::string& event) const {
        std::vector<SimLine> found;
        std::copy_if(sim->Seen().begin(), sim->Seen().end(), std::back_inserter(found),
                     [&](const SimLine& l) { return l.Event() == event; });
        return found;
    }
    std::string Log() const { return text::ReadFile(ex + "/fake.log").value_or(""); }

    TempRuntime rt;
    const std::string ex = rt.path + "/ex";
    std::unique_ptr<testsupport::BaseSim> sim;
};

} // namespace

TEST_F(Hostsim, AnswersANotifiedRequestFromItsRules) {
    EXPECT_EQ(
        Run({"--reply", "other", "--reply-for", "DL=欢迎\\n第二行", "--ready-code", "7"}, "reply"),
        3);
    const SimLine started = Events("started").at(0);
    const std::string pid = started.Str("relay_pid");
    EXPECT_EQ(started.Str("runtime_dir"), rt.path);
    EXPECT_EQ(started.Str("command"), std::string("[\"") + HOSTLINK_FAKE_RELAY + "\",\"" +
                                          started.Str("handle") + "\",\"" + ex + "\",\"reply\"]");
    const std::vector<SimLine> messages = Events("message");
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_NE(messages[0].Text().find(",\"first\":" + pid + ",\"second\":" + pid +
                                      ",\"kind\":\"announcement\"}"),
              std::string::npos);
    EXPECT_NE(messages[1].Text().find(",\"first\":1,\"second\":1,\"kind\":\"notify\"}"),
              std::string::npos);
    const std::string request = text::ToGbk("DL   005\r\n0000000005 张三 12345678 \r\n");
    const SimLine r = Events("request").at(0);
    EXPECT_EQ(r.Text().substr(r.Text().find(",\"event\"")),
              ",\"event\":\"request\",\"seq\":1,\"file\":\"" + ex + "/T1.txt\",\"mnemonic\":" +
                  "\"DL\",\"header\":\"DL   005\",\"size\":" + std::to_string(request.size()) +
                  ",\"text\":\"DL   005\\r\\n0000000005 张三 12345678 \\r\\n\",\"hex\":\"" +
                  HexCodec::BytesToHex(request) + "\"}");
    EXPECT_EQ(Events("reply").at(0).Str("text"), "DL   \r\n欢迎\r\n第二行\r\n");
    const SimLine post = Events("post").at(0);
    EXPECT_EQ(post.Str("to") + " " + post.Str("second") + " " + post.Str("sent"), pid + " 7 true");
    EXPECT_TRUE(Events("answered").at(0).Has("host_ms"));
    EXPECT_EQ(sim->Seen().back().Text().substr(sim->Seen().back().Text().find(",\"event\"")),
              ",\"event\":\"exit\",\"status\":3}");
    EXPECT_EQ(*text::ReadFile(ex + "/fake-got.txt"), text::ToGbk("DL   \r\n欢迎\r\n第二行\r\n"));
}

TEST_F(Hostsim, ScriptPostsCodesAtChosenMomentsAndNoReplyNeverAnswers) {
    const std::string script = rt.path + "/script.txt";
    text::WriteFileAtomic(script, "no-reply\n# waits for the relay's first request\n"
                                  "wait-notify 5000\npost 11\nwait 20\npost 99 100000000\n"
                                  "echo before close\nclose\n");
    EXPECT_EQ(Run({"--reply", "never", "--script", script}, "until-close"), 4);
    EXPECT_EQ(Events("unanswered").at(0).Str("reason"), "no-reply");
    EXPECT_TRUE(Events("reply").empty());
    EXPECT_EQ(Events("command").at(3).Str("line"), "wait 20");
    EXPECT_EQ(Events("echo").at(0).Str("text"), "before close");
    EXPECT_FALSE(text::FileExists(ex + "/R1.TXT"));
    const std::string own = Events("started").at(0).Str("handle");
    EXPECT_EQ(Log(), own + " 11\n99 100000000\n" + own + " 13\n");
}

TEST_F(Hostsim, ReadsCommandsFromStandardInput) {
    EXPECT_EQ(Run({"--no-reply", "--handle", "4711", "--stdin"}, "until-close",
                  {"wait-announce", "wait-notify", "answer 手动", "post 16"}),
              4);
    EXPECT_EQ(Events("started").at(0).Str("handle"), "4711");
    EXPECT_EQ(Events("reply").at(0).Str("text"), "DL   \r\n手动\r\n");
    EXPECT_EQ(Log(), "4711 1\n4711 16\n");
}
