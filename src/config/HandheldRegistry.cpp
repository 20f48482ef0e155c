#include "config/HandheldRegistry.h"

#include "config/IniFile.h"
#include "text/Files.h"
#include "text/Gbk.h"

namespace config {

namespace {

void LoadStation(HandheldRegistry& registry, const IniFile& ini, const std::string& section,
                 int baseNumber, const std::string& baseId) {
    StationEntry station{section, baseNumber, {}};
    for (const std::string& key : ini.Keys(section)) {
        std::string number = ini.ReadString(section, key, "");
        if (number.empty()) {
            continue;
        }
        registry.Keys.insert(baseId + number);
        station.Handhelds.push_back(HandheldEntry{std::move(number), 1});
    }
    registry.Stations.push_back(std::move(station));
}

} // namespace

bool HandheldRegistry::IsRegistered(const std::string& baseIdText,
                                    const std::string& number) const {
    return Keys.count(baseIdText + number) > 0;
}

std::string StationSectionName(int n) {
    return text::Fixed("基站") + std::to_string(n);
}

void LoadRegistry(HandheldRegistry& registry, const std::string& iniPath,
                  const AppSettings& settings, RegistryView* view) {
    registry.SectionNames.clear();
    registry.Stations.clear();
    registry.Keys.clear();
    const IniFile ini = IniFile::FromFile(iniPath);
    registry.SectionNames = ini.Sections();

    bool stoppedAtFifth = false;
    for (std::size_t p = 0; p < registry.SectionNames.size(); ++p) {
        if (p >= kStationCount) {
            stoppedAtFifth = true;
            break;
        }
        const std::string& baseId = settings.BaseId[p];
        if (text::Trim(baseId).empty()) {
            continue;
        }
        LoadStation(registry, ini, registry.SectionNames[p], static_cast<int>(p) + 1, baseId);
    }
    if (view != nullptr) {
        view->RegistryLoaded(registry, !stoppedAtFifth);
    }
}

void SaveRegistry(const std::string& iniPath,
                  const std::array<std::vector<std::string>, kStationCount>& handhelds) {
    text::WriteFileAtomic(iniPath, RegistryFileBytes(handhelds));
}

std::string
RegistryFileBytes(const std::array<std::vector<std::string>, kStationCount>& handhelds) {
    IniFile ini;
    for (std::size_t n = 1; n <= kStationCount; ++n) {
        const std::string section = StationSectionName(static_cast<int>(n));
        ini.WriteString(section, "PDA1", "");
        const auto& list = handhelds[n - 1];
        for (std::size_t i = 0; i < list.size(); ++i) {
            ini.WriteString(section, "PDA" + std::to_string(i + 1), list[i]);
        }
    }
    return ini.Bytes();
}

} // namespace config
