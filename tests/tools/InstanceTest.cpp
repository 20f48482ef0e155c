// dcrelay-instance: making an installation and linking its ports (library calls), and the on-site
// check run as a program on temporary installations with dcrelay-basesim as base station 1.
#include "InstanceSetup.h"
#include "MenuDryRun.h"
#include "Permissions.h"

#include "baselink/SerialPlatform.h"
#include "support/BaseSim.h"
#include "support/Command.h"
#include "support/Instance.h"
#include "support/Leftovers.h"
#include "support/TempDir.h"
#include "text/Files.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <sys/stat.h>
#include <sys/wait.h>

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using ::testing::HasSubstr;
using testsupport::BaseSim;
using testsupport::Instance;
using testsupport::InstanceSettings;

namespace {

const std::string kExamples = DCRELAY_SOURCE_DIR "/examples";

struct CheckRun {
    int status = -1;
    std::string output;

    // The line of one item, or "" when there is none.
    std::string Line(const std::string& item) const {
        std::size_t at = output.find("  " + item + ": ");
        if (at == std::string::npos) {
            return "";
        }
        std::size_t start = output.rfind('\n', at) + 1;
        return output.substr(start, output.find('\n', at) - start);
    }
};

CheckRun RunCheck(const std::string& dir) {
    const testsupport::CommandRun done =
        testsupport::RunCommand(BaseSim::BuiltProgram("dcrelay-instance") + " check " + dir);
    CheckRun run;
    run.status = done.status;
    run.output = done.output;
    return run;
}

TEST(InstanceSetup, CreateCopiesTheExamplesOnceAndNeverOverwrites) {
    const testsupport::TempDir temp, plainTemp;
    const std::string dir = temp.path + "inst/";
    const std::string relay = BaseSim::BuiltProgram("dcrelay");
    instance::CreateInstance({dir, relay, kExamples, true});
    EXPECT_EQ(fs::read_symlink(dir + "dcrelay"), relay);
    EXPECT_EQ(text::ReadFile(dir + "基站.ini"), text::ReadFile(kExamples + "/ini/基站.ini"));
    EXPECT_EQ(text::ReadFile(dir + "txt/py.txt"), text::ReadFile(kExamples + "/menu/py.txt"));
    EXPECT_TRUE(fs::is_directory(dir + "ports"));

    text::WriteFileAtomic(dir + "dcfilepath.ini", "[Menu]\r\nCOM1=COM3\r\n");
    text::WriteFileAtomic(dir + "txt/py.txt", "own");
    auto lines = instance::CreateInstance({dir, relay, kExamples, true});
    EXPECT_THAT(lines, ::testing::Contains("kept " + dir + "dcfilepath.ini"));
    EXPECT_EQ(text::ReadFile(dir + "dcfilepath.ini"), "[Menu]\r\nCOM1=COM3\r\n");
    EXPECT_EQ(text::ReadFile(dir + "txt/py.txt"), "own");

    const std::string& plain = plainTemp.path;
    instance::CreateInstance({plain, relay, kExamples, false});
    EXPECT_TRUE(fs::is_empty(plain + "txt")) << "the example menu only when asked";
}

TEST(InstanceSetup, LinkOffersTheStableNameOfAnAdapter) {
    const testsupport::TempDir temp;
    const std::string& dir = temp.path;
    fs::create_directory(dir + "ports");
    fs::create_directory(dir + "by-id");
    const std::string device = dir + "ttyUSB0";
    text::WriteFileAtomic(device, "");
    fs::create_symlink(device, dir + "by-id/usb-FTDI_FT232R_A1B2-if00-port0");

    instance::LinkPort(dir, "COM1", device, false, dir + "by-id/");
    EXPECT_EQ(fs::read_symlink(dir + "ports/COM1"), dir + "by-id/usb-FTDI_FT232R_A1B2-if00-port0");
    auto lines = instance::LinkPort(dir, "COM1", device, true, dir + "by-id/");
    EXPECT_EQ(fs::read_symlink(dir + "ports/COM1"), device);
    EXPECT_THAT(lines.back(), HasSubstr("(was " + dir + "by-id/"));

    EXPECT_THROW(instance::LinkPort(dir, "../COM1", device, false), instance::SetupError);
    EXPECT_THROW(instance::LinkPort(dir, "COM2", dir + "ttyUSB9", false), instance::SetupError);
    EXPECT_FALSE(fs::exists(fs::symlink_status(dir + "ports/COM2")));
}

TEST(InstanceSetup, PermissionAdviceNamesTheGroupThatGrantsTheDevice) {
    const instance::DeviceOwner dialout{0660, 0, 20, "root", "dialout"};
    instance::UserInfo user{1000, "anna", {1000}, {1000}};
    EXPECT_THAT(instance::PermissionAdvice(dialout, user),
                HasSubstr("sudo usermod -aG dialout anna"));
    user.memberGroups.push_back(20);
    EXPECT_THAT(instance::PermissionAdvice(dialout, user), HasSubstr("log out and back in"));
    user.processGroups.push_back(20);
    EXPECT_THAT(instance::PermissionAdvice(dialout, user), HasSubstr("getfacl"));
    EXPECT_THAT(instance::PermissionAdvice({0600, 0, 0, "root", "root"}, user),
                HasSubstr("udev rule"));
}

TEST(InstanceSetup, DryPackCountsRecordsAgainstCapacity) {
    const testsupport::TempDir temp;
    const std::string& dir = temp.path;
    for (const auto& e : fs::directory_iterator(kExamples + "/menu")) {
        if (e.path().extension() == ".txt") {
            fs::copy_file(e.path(), dir + e.path().filename().string());
        }
    }
    auto counts = instance::DryPack(dir);
    ASSERT_EQ(counts.size(), 7u);
    EXPECT_EQ(std::string(counts[0].table), "菜品表.txt");
    EXPECT_EQ(counts[0].records, 40u);
    EXPECT_EQ(counts[0].capacity, 5120u);
    EXPECT_EQ(counts[6].records, 68u); // py.txt
    for (const auto& c : counts) {
        EXPECT_EQ(c.problem, "") << c.table;
    }

    std::string py;
    for (int i = 0; i < 417; ++i) {
        py += "a\r\n";
    }
    text::WriteFileAtomic(dir + "py.txt", py);
    fs::remove(dir + "退菜理由表.txt");
    counts = instance::DryPack(dir);
    EXPECT_EQ(counts[6].records, 417u);
    EXPECT_THAT(counts[6].problem, HasSubstr("too many records"));
    EXPECT_THAT(counts[4].problem, HasSubstr("missing"));
}

// --- the check on temporary installations ---------------------------------------------------

struct InstanceCheckTest : ::testing::Test {
    Instance inst;
    std::unique_ptr<BaseSim> base;

    void StartStation(std::vector<std::string> extra = {}) {
        std::vector<std::string> args{"--link", inst.Port("COM1"), "--stay", "--channel", "6"};
        args.insert(args.end(), extra.begin(), extra.end());
        base = std::make_unique<BaseSim>(args);
        ASSERT_TRUE(base->Start()) << base->Error();
    }
};

TEST_F(InstanceCheckTest, AGoodInstallationHoldsInEveryItem) {
    StartStation();
    CheckRun run = RunCheck(inst.Dir());
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_THAT(run.Line("base station 1 answer"), HasSubstr("ok    base station 1 answer: answers "
                                                             "on channel 06"));
    EXPECT_THAT(run.Line("base station 1 in use"), HasSubstr("no other process"));
    EXPECT_THAT(run.Line("menu py.txt"), HasSubstr("68 records of 416"));
    EXPECT_THAT(run.Line("runtime directory"), HasSubstr("is private"));
    EXPECT_EQ(run.output.find("FAIL"), std::string::npos) << run.output;
}

TEST_F(InstanceCheckTest, BrokenInstallationsNameTheFaultAndItsRemedy) {
    fs::rename(inst.Dir() + "txt/py.txt", inst.Dir() + "txt/py.old");
    CheckRun run = RunCheck(inst.Dir()); // no station either: the port does not exist
    EXPECT_EQ(run.status, 1);
    EXPECT_THAT(
        run.Line("menu directory"),
        HasSubstr("FAIL  menu directory: \"py.txt\" is missing from " + inst.Dir() + "txt/"));
    EXPECT_THAT(run.Line("menu directory"), HasSubstr("Fix: let the host program export"));
    EXPECT_THAT(run.Line("base station 1 port"),
                HasSubstr("COM1 is /dev/COM1, which does not exist. Fix: plug in the base "
                          "station's adapter, or link the port: dcrelay-instance link"));

    ::chmod(inst.RuntimeDir().c_str(), 0755);
    run = RunCheck(inst.Dir());
    EXPECT_THAT(run.Line("runtime directory"),
                HasSubstr("is open to others (mode 0755): the relay refuses it and does not "
                          "run. Fix: chmod 700 " +
                          inst.RuntimeDir()));
}

TEST_F(InstanceCheckTest, APortHeldByAnotherProcessIsNamed) {
    StartStation();
    serial::OpenedDevice held = serial::OpenDevice(base->DevicePath());
    ASSERT_EQ(held.status, serial::OpenStatus::Opened);
    CheckRun run = RunCheck(inst.Dir());
    serial::CloseDevice(held.fd);
    EXPECT_EQ(run.status, 1);
    EXPECT_THAT(run.Line("base station 1 in use"),
                HasSubstr("FAIL  base station 1 in use: held by test_instance (pid " +
                          std::to_string(::getpid()) + "). Fix: end test_instance"));
    EXPECT_THAT(run.Line("base station 1 answer"), HasSubstr("skip"));
}

// A port linked to a directory (/dev/serial/by-id/ instead of the adapter in it) is listed and
// may be opened by everyone's rights, yet the system refuses it, and the check says why.
TEST_F(InstanceCheckTest, APortTheSystemRefusesGivesTheSystemsReason) {
    fs::create_directory(inst.Dir() + "by-id");
    fs::create_symlink(inst.Dir() + "by-id", inst.Port("COM1"));
    CheckRun run = RunCheck(inst.Dir());
    EXPECT_EQ(run.status, 1);
    EXPECT_THAT(run.Line("base station 1 answer"),
                HasSubstr("FAIL  base station 1 answer: cannot be opened: Is a directory "
                          "(是一个目录)"));
}

TEST_F(InstanceCheckTest, AStationThatDoesNotAnswerOrAnswersShortFails) {
    StartStation({"--no-answer"});
    CheckRun run = RunCheck(inst.Dir());
    EXPECT_EQ(run.status, 1);
    EXPECT_THAT(run.Line("base station 1 answer"),
                HasSubstr("FAIL  base station 1 answer: no answer (3 queries, 500 ms each). Fix: "
                          "check that the base station is powered"));

    base->Send("answer short");
    run = RunCheck(inst.Dir());
    EXPECT_THAT(run.Line("base station 1 answer"),
                HasSubstr("FAIL  base station 1 answer: answers with fewer than 8 bytes"));
}

TEST_F(InstanceCheckTest, ARunningRelayIsLeftAlone) {
    StartStation();
    BaseSim host({"--runtime-dir", inst.RuntimeDir(), "--exchange", inst.Exchange(), "--stdin",
                  "--", inst.Relay()},
                 BaseSim::BuiltProgram("dcrelay-hostsim"));
    host.SetReadyEvent("started");
    ASSERT_TRUE(host.Start());
    ASSERT_TRUE(base->WaitForKind("query", 5s));
    ASSERT_TRUE(host.WaitFor([](const auto& l) { return l.Str("kind") == "announcement"; }, 5s));
    while (base->WaitForKind("query", 400ms)) { // the scan ends once the station has answered
    }

    CheckRun run = RunCheck(inst.Dir());
    EXPECT_EQ(run.status, 3) << run.output;
    EXPECT_THAT(run.Line("running relay"), HasSubstr("this installation"));
    EXPECT_THAT(run.Line("base station 1 in use"), HasSubstr("info  base station 1 in use: held "
                                                             "by the running relay"));
    EXPECT_THAT(run.Line("base station 1 answer"), HasSubstr("skip"));
    EXPECT_FALSE(base->WaitForKind("query", 300ms)) << "the check sent a query";
    EXPECT_THAT(run.Line("host program"),
                HasSubstr("ok    host program: the running relay's host (window " +
                          std::to_string(host.Pid()) + ") is there"));

    // The host killed without its closing message: the relay runs on with a dead handle.
    testsupport::OrphanCatcher orphans;
    const auto relay = static_cast<pid_t>(host.Seen().front().Int("relay_pid"));
    orphans.Watch(relay);
    ::kill(host.Pid(), SIGKILL);
    ASSERT_EQ(host.WaitExit(5s), 128 + SIGKILL);
    run = RunCheck(inst.Dir());
    EXPECT_EQ(run.status, 1);
    EXPECT_THAT(run.Line("host program"),
                HasSubstr("FAIL  host program: the running relay's host (window " +
                          std::to_string(host.Pid()) + ") is gone"));
    EXPECT_THAT(run.Line("host program"), HasSubstr("Fix: start the host program again"));
    ::kill(relay, SIGTERM);
    EXPECT_EQ(orphans.WaitExit(relay, 5s), 0);
}

} // namespace
