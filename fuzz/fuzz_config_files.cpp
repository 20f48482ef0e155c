// The parameter and registration files: any bytes load, and what the program saves from the
// loaded state loads back as the same state.
#include "FuzzSupport.h"
#include "config/AppSettings.h"
#include "config/HandheldRegistry.h"
#include "text/Gbk.h"

#include <fuzzer/FuzzedDataProvider.h>

using config::AppSettings;
using config::HandheldRegistry;

namespace {

struct CountingView : config::RegistryView {
    int loads = 0;
    void RegistryLoaded(HandheldRegistry&, bool) override { ++loads; }
};

using Lists = std::array<std::vector<std::string>, kStationCount>;

Lists HandheldLists(const HandheldRegistry& registry) {
    Lists lists;
    for (const config::StationEntry& station : registry.Stations) {
        FUZZ_CHECK(station.BaseNumber >= 1 && station.BaseNumber <= kStationCount);
        for (const config::HandheldEntry& entry : station.Handhelds) {
            lists[static_cast<std::size_t>(station.BaseNumber - 1)].push_back(entry.Number);
        }
    }
    return lists;
}

AppSettings LoadSettingsFile(const std::string& path) {
    AppSettings s;
    int watcherStarts = 0;
    config::LoadSettings(s, path, [&] { ++watcherStarts; });
    FUZZ_CHECK(watcherStarts == (s.FileMonitoring ? 1 : 0));
    FUZZ_CHECK(s.DelaySetting >= 1 && s.DelaySetting <= 200);
    FUZZ_CHECK(!text::Trim(s.TestText).empty());
    return s;
}

void CheckRegistry(const std::string& bytes, AppSettings settings) {
    const std::string path = fuzz::WriteScratchFile(config::kRegistryFileName, bytes);
    for (std::size_t n = 0; n < kStationCount; ++n) {
        if (text::Trim(settings.BaseId[n]).empty()) {
            settings.BaseId[n] = "0" + std::to_string(n + 1);
        }
    }
    HandheldRegistry registry;
    CountingView view;
    config::LoadRegistry(registry, path, settings, &view);
    FUZZ_CHECK(view.loads == 1 && registry.Stations.size() <= kStationCount);
    const Lists lists = HandheldLists(registry);
    for (std::size_t n = 0; n < kStationCount; ++n) {
        for (const std::string& number : lists[n]) {
            FUZZ_CHECK(!number.empty() && registry.IsRegistered(settings.BaseId[n], number));
        }
    }
    config::SaveRegistry(path, lists);
    HandheldRegistry reloaded;
    config::LoadRegistry(reloaded, path, settings, nullptr);
    FUZZ_CHECK(HandheldLists(reloaded) == lists);
    FUZZ_CHECK(reloaded.Keys == registry.Keys);
}

void CheckSettingsSave(const std::string& path, const AppSettings& s, FuzzedDataProvider& in) {
    config::SettingsFields f;
    f.Directory = s.MenuDir;
    f.Delay = s.DelaySetting;
    f.FileMode = s.FileMonitoring;
    f.TestMode = s.TestMode;
    f.PortName = s.PortName;
    f.TestText = s.TestText;
    for (std::string& id : f.BaseIdDecimal) {
        id = in.ConsumeRandomLengthString(12);
    }
    config::SaveSettings(path, f);
    const AppSettings back = LoadSettingsFile(path);
    FUZZ_CHECK(back.MenuDir == f.Directory && back.ExchangeDir == f.Directory);
    FUZZ_CHECK(back.DelaySetting == f.Delay && back.FileMonitoring == f.FileMode);
    FUZZ_CHECK(back.TestMode == f.TestMode && back.PortName == f.PortName);
    FUZZ_CHECK(back.TestText == f.TestText);
    for (std::size_t n = 0; n < kStationCount; ++n) {
        const auto hex = config::BaseIdHexText(f.BaseIdDecimal[n]);
        FUZZ_CHECK(back.BaseId[n] == hex.value_or(s.BaseId[n]));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    const std::string settingsBytes = in.ConsumeRandomLengthString(4096);
    const std::string registryBytes = in.ConsumeRandomLengthString(4096);
    const std::string path = fuzz::WriteScratchFile(config::kSettingsFileName, settingsBytes);
    const AppSettings s = LoadSettingsFile(path);
    CheckRegistry(registryBytes, s);
    CheckSettingsSave(path, s, in);
    return 0;
}
