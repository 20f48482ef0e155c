#include "config/AppSettings.h"

#include "ConfigTestSupport.h"
#include "config/IniFile.h"
#include "text/Gbk.h"

#include <filesystem>
#include <gtest/gtest.h>

using namespace config;
using configtest::ReadAll;
using configtest::TempDir;

namespace {

struct SettingsFile {
    TempDir dir;
    std::string path = dir.File(kSettingsFileName);
    void Write(const std::string& menuLines) {
        text::WriteFileAtomic(path, "[Menu]\r\n" + menuLines);
    }
    AppSettings Load(const std::string& menuLines) {
        Write(menuLines);
        AppSettings s;
        LoadSettings(s, path);
        return s;
    }
};

} // namespace

TEST(LoadSettings, MissingFileGivesInitialValuesAndDefaultTestText) {
    TempDir dir;
    AppSettings s;
    int hookCalls = 0;
    LoadSettings(s, dir.File(kSettingsFileName), [&] { ++hookCalls; });
    EXPECT_EQ(s.MenuDir, "");
    EXPECT_EQ(s.ExchangeDir, "");
    EXPECT_EQ(s.DelaySetting, 3);
    EXPECT_FALSE(s.FileMonitoring);
    EXPECT_FALSE(s.TestMode);
    EXPECT_EQ(s.PortName, (std::array<std::string, kStationCount>{}));
    EXPECT_EQ(s.BaseId, (std::array<std::string, kStationCount>{}));
    EXPECT_EQ(s.TestText, text::ToGbk("PDA 数据通信测试"));
    EXPECT_EQ(hookCalls, 0);
}

TEST(LoadSettings, DelayIsTakenOnlyBetween1And200) {
    const std::vector<std::pair<std::string, int>> cases = {
        {"Delay=0\r\n", 3},   {"Delay=1\r\n", 1},    {"Delay=200\r\n", 200},
        {"Delay=250\r\n", 3}, {"Delay=x\r\n", 3},    {"Delay=\r\n", 3},
        {"Delay=-5\r\n", 3},  {"Delay=$10\r\n", 16}, {"", 3},
    };
    for (const auto& [lines, expected] : cases) {
        SettingsFile f;
        EXPECT_EQ(f.Load(lines).DelaySetting, expected) << lines;
    }
    // An ignored value keeps what the field held before, not the initial 3.
    SettingsFile f;
    AppSettings s;
    s.DelaySetting = 9;
    f.Write("Delay=250\r\n");
    LoadSettings(s, f.path);
    EXPECT_EQ(s.DelaySetting, 9);
}

TEST(LoadSettings, BlankTestTextBecomesTheDefault) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"testStr=\r\n", DefaultTestText()},
        {"testStr=   \t\r\n", DefaultTestText()},
        {"teststr= hello \r\n", "hello"},
        {"TESTSTR=" + text::ToGbk("你好") + "\r\n", text::ToGbk("你好")},
    };
    for (const auto& [lines, expected] : cases) {
        SettingsFile f;
        EXPECT_EQ(f.Load(lines).TestText, expected) << lines;
    }
}

TEST(LoadSettings, KeysAreReadWhateverTheirLetterCase) {
    SettingsFile f;
    const AppSettings s = f.Load("path=/m/\r\nWPATH=/x/\r\nfilemode=1\r\nTest=1\r\ncom2=ttyUSB0\r\n"
                                 "JZDZ2=0a\r\ntestStr=t\r\n");
    EXPECT_EQ(s.MenuDir, "/m/");
    EXPECT_EQ(s.ExchangeDir, "/x/");
    EXPECT_TRUE(s.FileMonitoring);
    EXPECT_TRUE(s.TestMode);
    EXPECT_EQ(s.PortName[1], "ttyUSB0");
    EXPECT_EQ(s.BaseId[1], "0a"); // taken as read
    EXPECT_TRUE(f.Load("fileMode=1\r\n").FileMonitoring);
    EXPECT_FALSE(f.Load("fileMode=0\r\n").FileMonitoring);
}

TEST(LoadSettings, MissingKeysLeaveFieldsAndEmptyValuesClearThem) {
    SettingsFile f;
    AppSettings s;
    s.MenuDir = "/old/";
    s.PortName[0] = "COM1";
    s.BaseId[0] = "01";
    s.TestMode = true;
    f.Write("COM1=\r\nWPath=/w/\r\n");
    LoadSettings(s, f.path);
    EXPECT_EQ(s.MenuDir, "/old/");
    EXPECT_EQ(s.ExchangeDir, "/w/");
    EXPECT_EQ(s.PortName[0], "");
    EXPECT_EQ(s.BaseId[0], "01");
    EXPECT_TRUE(s.TestMode);
}

TEST(LoadSettings, WatcherStartsOnlyWhenMonitoringTurnsOn) {
    SettingsFile f;
    AppSettings s;
    std::vector<std::string> startedOn;
    const auto hook = [&] { startedOn.push_back(s.ExchangeDir); };
    const std::vector<std::pair<std::string, std::size_t>> steps = {
        {"WPath=/a/\r\nfileMode=1\r\n", 1}, // off -> on, with the new directory
        {"WPath=/b/\r\nfileMode=1\r\n", 1}, // stays on
        {"WPath=/b/\r\n", 1},               // missing key: stays on
        {"fileMode=0\r\n", 1},              // on -> off
        {"WPath=/c/\r\nfilemode=1\r\n", 2}, // off -> on again
    };
    for (const auto& [lines, calls] : steps) {
        f.Write(lines);
        LoadSettings(s, f.path, hook);
        EXPECT_EQ(startedOn.size(), calls) << lines;
    }
    EXPECT_EQ(startedOn, (std::vector<std::string>{"/a/", "/c/"}));
    s.FileMonitoring = false;
    f.Write("fileMode=1\r\n");
    EXPECT_NO_THROW(LoadSettings(s, f.path)); // no hook given
    EXPECT_TRUE(s.FileMonitoring);
}

TEST(SaveSettings, BaseIdsAsUpperCaseHexOfAtLeastTwoDigits) {
    const std::vector<std::pair<std::string, std::optional<std::string>>> cases = {
        {"10", "0A"},
        {"255", "FF"},
        {"300", "12C"},
        {"0", "00"},
        {"007", "07"},
        {" 15 ", "0F"},
        {"", ""},
        {"  ", ""},
        {"1a", std::nullopt},
        {"-1", std::nullopt},
        {"1 2", std::nullopt},
        {"9999999999", std::nullopt},
    };
    for (const auto& [decimal, hex] : cases) {
        EXPECT_EQ(BaseIdHexText(decimal), hex) << decimal;
    }
}

TEST(SaveSettings, NewFileHoldsTheKeysInOrderAndLoadsBack) {
    TempDir dir;
    const std::string path = dir.File(kSettingsFileName);
    SettingsFields f;
    f.Directory = "/srv/menu/";
    f.Delay = 50;
    f.FileMode = true;
    f.TestMode = false;
    f.PortName = {"COM1", "", "ttyUSB0", ""};
    f.TestText = text::ToGbk("测试");
    f.BaseIdDecimal = {"10", "255", "300", ""};
    SaveSettings(path, f);
    EXPECT_EQ(ReadAll(path), "[Menu]\r\nPath=/srv/menu/\r\nWPath=/srv/menu/\r\nDelay=50\r\n"
                             "filemode=1\r\ntest=0\r\nCOM1=COM1\r\nCOM2=\r\nCOM3=ttyUSB0\r\n"
                             "COM4=\r\nteststr=" +
                                 text::ToGbk("测试") +
                                 "\r\njzdz1=0A\r\njzdz2=FF\r\njzdz3=12C\r\njzdz4=\r\n");
    AppSettings s;
    s.ExchangeDir = "/elsewhere/";
    LoadSettings(s, path);
    EXPECT_EQ(s.MenuDir, s.ExchangeDir);
    EXPECT_EQ(s.DelaySetting, 50);
    EXPECT_TRUE(s.FileMonitoring);
    EXPECT_EQ(s.BaseId, (std::array<std::string, kStationCount>{"0A", "FF", "12C", ""}));
    EXPECT_EQ(s.PortName[2], "ttyUSB0");
    EXPECT_EQ(s.TestText, text::ToGbk("测试"));
}

// The support section (the work-log file, the metrics directory) among the lines kept.
TEST(SaveSettings, ExistingFileKeepsItsOtherLinesAndMixedCaseKeys) {
    TempDir dir;
    const std::string path = dir.File(kSettingsFileName);
    const std::string gbkComment = text::ToGbk("; 参数");
    text::WriteFileAtomic(path, gbkComment + "\r\n[Menu]\r\nPath=/a/\r\nWPath=/b/\r\n"
                                             "fileMode=0\r\nVendor=keep\r\ntestStr=x\r\n"
                                             "jzdz1=02\r\n\r\n[Support]\r\nmetrics=/var/lib/m\r\n");
    SettingsFields f;
    f.Directory = "/c/";
    f.Delay = 2;
    f.FileMode = true;
    f.TestText = "y";
    f.BaseIdDecimal = {"abc", "1", "", "2"}; // the first is no number: jzdz1 keeps 02
    SaveSettings(path, f);
    EXPECT_EQ(ReadAll(path), gbkComment + "\r\n[Menu]\r\nPath=/c/\r\nWPath=/c/\r\n"
                                          "fileMode=1\r\nVendor=keep\r\ntestStr=y\r\n"
                                          "jzdz1=02\r\nDelay=2\r\ntest=0\r\nCOM1=\r\nCOM2=\r\n"
                                          "COM3=\r\nCOM4=\r\njzdz2=01\r\njzdz3=\r\njzdz4=02\r\n"
                                          "\r\n[Support]\r\nmetrics=/var/lib/m\r\n");
}

TEST(SaveSettings, AFileThatCannotBeReadIsNotReplaced) {
    TempDir dir;
    const std::string path = dir.File(kSettingsFileName);
    std::filesystem::create_directory(path);
    EXPECT_THROW(SaveSettings(path, SettingsFields{}), text::FileError);
    EXPECT_TRUE(text::DirectoryExists(path));
    EXPECT_THROW(SaveSettings(dir.File("missing/dcfilepath.ini"), SettingsFields{}),
                 text::FileError);
}

TEST(Settings, ExampleParameterFile) {
    const std::string path = configtest::ExampleFile(kSettingsFileName);
    const std::string bytes = ReadAll(path);
    ASSERT_FALSE(bytes.empty());
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\n') {
            ASSERT_TRUE(i > 0 && bytes[i - 1] == '\r') << "line ending at " << i;
        }
    }
    AppSettings s;
    LoadSettings(s, path);
    EXPECT_EQ(s.MenuDir, "");
    EXPECT_EQ(s.ExchangeDir, "");
    EXPECT_EQ(s.PortName, (std::array<std::string, kStationCount>{"COM1", "", "", ""}));
    EXPECT_EQ(s.BaseId, (std::array<std::string, kStationCount>{"02", "", "", ""}));
    EXPECT_FALSE(s.TestMode);
    EXPECT_FALSE(s.FileMonitoring);
    EXPECT_EQ(s.TestText, DefaultTestText());
}
