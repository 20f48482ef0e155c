// The registration file and the in-memory registrations: which handheld numbers may use which
// base station.
#pragma once

#include "config/AppSettings.h"
#include "text/Gbk.h"
#include "text/Stations.h"

#include <array>
#include <set>
#include <string>
#include <vector>

namespace config {

struct HandheldEntry {
    std::string Number; // as stored, normally three decimal digits
    int State = 1;      // 1 registered, 2 logged in since the registry was loaded
};

struct StationEntry {
    std::string SectionName;
    int BaseNumber = 0; // 1..4, the section's position in the file
    std::vector<HandheldEntry> Handhelds;
};

class HandheldRegistry {
public:
    std::vector<std::string> SectionNames; // every section of the file, in file order
    std::vector<StationEntry> Stations;    // the sections that took part in the load
    // BaseId followed by the handheld number, compared without letter case.
    std::set<std::string, text::LessNoCase> Keys;

    // True when baseIdText followed by number is a registration key.
    bool IsRegistered(const std::string& baseIdText, const std::string& number) const;
};

// The handheld view, rebuilt after every load.
class RegistryView {
public:
    virtual ~RegistryView() = default;
    // selectFirstStation is false when a fifth section stopped the load.
    virtual void RegistryLoaded(HandheldRegistry& registry, bool selectFirstStation) = 0;
};

// The section name of base station n (1..4) in GBK: "基站" followed by the digit.
std::string StationSectionName(int n);

// Replaces the registry with the contents of the registration file (a missing file has no
// sections) and hands it to the view, which may be null.
void LoadRegistry(HandheldRegistry& registry, const std::string& iniPath,
                  const AppSettings& settings, RegistryView* view);

// Writes the registration file anew from the four lists of handheld number texts, replacing the
// old file in one step. Throws text::FileError when it cannot be written; the old file is then
// unchanged.
void SaveRegistry(const std::string& iniPath,
                  const std::array<std::vector<std::string>, kStationCount>& handhelds);
// The bytes SaveRegistry writes.
std::string RegistryFileBytes(const std::array<std::vector<std::string>, kStationCount>& handhelds);

} // namespace config
