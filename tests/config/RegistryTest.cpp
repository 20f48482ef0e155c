#include "config/HandheldRegistry.h"

#include "ConfigTestSupport.h"
#include "text/Gbk.h"

#include <gtest/gtest.h>

using namespace config;
using configtest::ReadAll;
using configtest::TempDir;

namespace {

struct RecordingView : RegistryView {
    int calls = 0;
    bool selectFirst = false;
    std::size_t stations = 0;
    void RegistryLoaded(HandheldRegistry& registry, bool selectFirstStation) override {
        ++calls;
        selectFirst = selectFirstStation;
        stations = registry.Stations.size();
    }
};

template <std::size_t N> std::string WithNuls(const char (&s)[N]) {
    return std::string(s, N - 1);
}

std::string Station(int n) {
    return text::ToGbk("基站") + std::to_string(n);
}

// A registration file from UTF-8 lines, each ended by CR LF.
std::string RegistryBytes(const std::vector<std::string>& utf8Lines) {
    std::string bytes;
    for (const auto& line : utf8Lines) {
        bytes += text::ToGbk(line) + "\r\n";
    }
    return bytes;
}

AppSettings WithIds(std::array<std::string, kStationCount> ids) {
    AppSettings s;
    s.BaseId = std::move(ids);
    return s;
}

std::vector<std::string> Numbers(const StationEntry& station) {
    std::vector<std::string> numbers;
    for (const auto& h : station.Handhelds) {
        EXPECT_EQ(h.State, 1);
        numbers.push_back(h.Number);
    }
    return numbers;
}

struct RegistryFile {
    TempDir dir;
    std::string path = dir.File(kRegistryFileName);
    HandheldRegistry registry;
    RecordingView view;
    void Load(const std::string& bytes, const AppSettings& settings) {
        text::WriteFileAtomic(path, bytes);
        LoadRegistry(registry, path, settings, &view);
    }
};

} // namespace

TEST(Registry, SaveWritesTheExampleLinesAndLoadsThemBack) {
    RegistryFile f;
    SaveRegistry(f.path, {{{"005", "012"}, {}, {}, {}}});
    EXPECT_EQ(ReadAll(f.path), RegistryBytes({"[基站1]", "PDA1=005", "PDA2=012", "[基站2]",
                                              "PDA1=", "[基站3]", "PDA1=", "[基站4]", "PDA1="}));
    LoadRegistry(f.registry, f.path, WithIds({"0A", "01", "", "03"}), &f.view);
    const HandheldRegistry& r = f.registry;
    EXPECT_EQ(r.SectionNames,
              (std::vector<std::string>{Station(1), Station(2), Station(3), Station(4)}));
    ASSERT_EQ(r.Stations.size(), 3u);
    EXPECT_EQ(r.Stations[0].SectionName, Station(1));
    EXPECT_EQ(r.Stations[0].BaseNumber, 1);
    EXPECT_EQ(Numbers(r.Stations[0]), (std::vector<std::string>{"005", "012"}));
    EXPECT_EQ(r.Stations[1].BaseNumber, 2);
    EXPECT_TRUE(r.Stations[1].Handhelds.empty());
    EXPECT_EQ(r.Stations[2].BaseNumber, 4);
    EXPECT_EQ(r.Keys, (std::set<std::string, text::LessNoCase>{"0A005", "0A012"}));
    EXPECT_TRUE(r.IsRegistered("0A", "005"));
    EXPECT_TRUE(r.IsRegistered("0a", "012"));
    EXPECT_FALSE(r.IsRegistered("01", "005"));
    EXPECT_FALSE(r.IsRegistered("0A", "5"));
    EXPECT_EQ(f.view.calls, 1);
    EXPECT_TRUE(f.view.selectFirst);
    EXPECT_EQ(f.view.stations, 3u);
}

TEST(Registry, SaveReplacesTheWholeFile) {
    RegistryFile f;
    text::WriteFileAtomic(f.path, "[old]\r\nPDA1=999\r\nPDA2=998\r\n");
    SaveRegistry(f.path, {{{}, {}, {}, {"191"}}});
    EXPECT_EQ(ReadAll(f.path), RegistryBytes({"[基站1]", "PDA1=", "[基站2]", "PDA1=", "[基站3]",
                                              "PDA1=", "[基站4]", "PDA1=191"}));
    EXPECT_THROW(SaveRegistry(f.dir.File("no/x.ini"), {}), text::FileError);
}

TEST(Registry, NoHandheldsLoadsEmptyStationsForEveryId) {
    RegistryFile f;
    SaveRegistry(f.path, {});
    LoadRegistry(f.registry, f.path, WithIds({"01", "02", "03", "04"}), nullptr);
    ASSERT_EQ(f.registry.Stations.size(), 4u);
    for (const auto& station : f.registry.Stations) {
        EXPECT_TRUE(station.Handhelds.empty());
    }
    EXPECT_TRUE(f.registry.Keys.empty());
}

TEST(Registry, ExampleRegistrationFile) {
    const std::string example = ReadAll(configtest::ExampleFile(kRegistryFileName));
    RegistryFile f;
    SaveRegistry(f.path, {{{"005", "108"}, {}, {}, {}}});
    EXPECT_EQ(example, ReadAll(f.path));
    LoadRegistry(f.registry, configtest::ExampleFile(kRegistryFileName), WithIds({"02"}), nullptr);
    EXPECT_TRUE(f.registry.IsRegistered("02", "005"));
    EXPECT_TRUE(f.registry.IsRegistered("02", "108"));
    EXPECT_EQ(f.registry.Stations.size(), 1u);
}

TEST(Registry, AFifthSectionStopsTheLoad) {
    RegistryFile f;
    f.Load(RegistryBytes({"[基站1]", "PDA1=001", "[基站2]", "PDA1=002", "[基站3]", "[基站4]",
                          "PDA1=004", "[基站5]", "PDA1=005"}),
           WithIds({"01", "02", "03", "04"}));
    EXPECT_EQ(f.registry.SectionNames.size(), 5u);
    ASSERT_EQ(f.registry.Stations.size(), 4u);
    EXPECT_EQ(f.registry.Keys.size(), 3u);
    EXPECT_FALSE(f.registry.IsRegistered("04", "005"));
    EXPECT_EQ(f.view.calls, 1);
    EXPECT_FALSE(f.view.selectFirst);
}

TEST(Registry, AStationWithoutIdIsListedButRegistersNothing) {
    RegistryFile f;
    f.Load(RegistryBytes({"[基站1]", "PDA1=001", "[基站2]", "PDA1=002"}), WithIds({"  ", "0A"}));
    EXPECT_EQ(f.registry.SectionNames, (std::vector<std::string>{Station(1), Station(2)}));
    ASSERT_EQ(f.registry.Stations.size(), 1u);
    EXPECT_EQ(f.registry.Stations[0].SectionName, Station(2));
    EXPECT_EQ(f.registry.Stations[0].BaseNumber, 2);
    EXPECT_EQ(f.registry.Keys, (std::set<std::string, text::LessNoCase>{"0A002"}));
    EXPECT_TRUE(f.view.selectFirst);
}

TEST(Registry, LowerCaseIdsMatchUpperCaseRequests) {
    RegistryFile f;
    f.Load(RegistryBytes({"[基站1]", "PDA1=007"}), WithIds({"0a"}));
    EXPECT_TRUE(f.registry.IsRegistered("0A", "007"));
    EXPECT_TRUE(f.registry.IsRegistered("0a", "007"));
    EXPECT_FALSE(f.registry.IsRegistered("0B", "007"));
}

TEST(Registry, ValuesAreListedAsTheyStand) {
    RegistryFile f;
    f.Load(RegistryBytes({"[基站1]", "PDA1=5", "PDA2=005", "PDA3=", "PDA4=005", "X= 012 ",
                          "; PDA9=100", "PDA1=999"}),
           WithIds({"01"}));
    ASSERT_EQ(f.registry.Stations.size(), 1u);
    EXPECT_EQ(Numbers(f.registry.Stations[0]),
              (std::vector<std::string>{"5", "005", "005", "012"}));
    EXPECT_EQ(f.registry.Keys, (std::set<std::string, text::LessNoCase>{"015", "01005", "01012"}));
    EXPECT_FALSE(f.registry.IsRegistered("01", "999")); // the repeated key line is not read
}

TEST(Registry, MissingFileAndReloadReplaceEverything) {
    RegistryFile f;
    f.Load(RegistryBytes({"[基站1]", "PDA1=001"}), WithIds({"01"}));
    ASSERT_TRUE(f.registry.IsRegistered("01", "001"));
    f.registry.Stations[0].Handhelds[0].State = 2;
    LoadRegistry(f.registry, f.dir.File("none.ini"), WithIds({"01"}), &f.view);
    EXPECT_TRUE(f.registry.SectionNames.empty());
    EXPECT_TRUE(f.registry.Stations.empty());
    EXPECT_TRUE(f.registry.Keys.empty());
    EXPECT_EQ(f.view.calls, 2);
    EXPECT_TRUE(f.view.selectFirst);
}

TEST(Registry, BadFilesNeverBreakTheLoad) {
    const std::vector<std::string> files = {
        text::ToGbk("[基站1"),
        text::ToGbk("[基站1]\nPDA1"),
        text::ToGbk("[基站1]\nPDA1=00"),
        WithNuls("[\0]\nPDA1=\0\0\n[a\0b]\n\0=1\n"),
        "[\x81]\n[\xFF\xFE]\nPDA1=\x81\n\x81",
        "]]]\n[[[\n===\n",
    };
    for (const auto& bytes : files) {
        RegistryFile f;
        EXPECT_NO_THROW(f.Load(bytes, WithIds({"01", "02", "03", "04"})));
        EXPECT_LE(f.registry.Stations.size(), 4u);
        EXPECT_EQ(f.view.calls, 1);
    }
}

TEST(Registry, IdTypedInDecimalRegistersUnderItsHexText) {
    TempDir dir;
    SettingsFields fields;
    fields.BaseIdDecimal[0] = "10";
    SaveSettings(dir.File(kSettingsFileName), fields);
    AppSettings settings;
    LoadSettings(settings, dir.File(kSettingsFileName));
    SaveRegistry(dir.File(kRegistryFileName), {{{"007"}, {}, {}, {}}});
    HandheldRegistry registry;
    LoadRegistry(registry, dir.File(kRegistryFileName), settings, nullptr);
    EXPECT_EQ(registry.Keys, (std::set<std::string, text::LessNoCase>{"0A007"}));
}
