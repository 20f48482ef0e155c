// The INI store: any bytes load and write back unchanged, every read agrees with a reload, and
// a write changes the value it names and no other.
#include "FuzzSupport.h"
#include "config/IniFile.h"
#include "text/Gbk.h"
#include "text/Gbk.h"

#include <algorithm>
#include <fuzzer/FuzzedDataProvider.h>
#include <map>
#include <stdexcept>

using config::IniFile;

namespace {

using Values = std::map<std::pair<std::string, std::string>, std::optional<std::string>>;

// Every value the file holds, by section and key as listed.
Values AllValues(const IniFile& ini) {
    Values values;
    for (const std::string& section : ini.Sections()) {
        for (const std::string& key : ini.Keys(section)) {
            const std::optional<std::string> value = ini.Find(section, key);
            FUZZ_CHECK(value.has_value());
            values[{section, key}] = value;
        }
    }
    return values;
}

void CheckReads(const IniFile& ini) {
    for (const auto& [name, value] : AllValues(ini)) {
        const auto& [section, key] = name;
        FUZZ_CHECK(*value == text::Trim(*value));
        FUZZ_CHECK(value->find_first_of("\r\n") == std::string::npos);
        const std::optional<int> number = config::ParseIniInteger(*value);
        FUZZ_CHECK(ini.ReadInteger(section, key, 7) == number.value_or(7));
        FUZZ_CHECK(ini.ReadBool(section, key, true) == (number.value_or(1) != 0));
    }
}

// Picks a name the file already has, or takes a new one from the input.
std::string PickName(FuzzedDataProvider& in, const std::vector<std::string>& names) {
    if (!names.empty() && in.ConsumeBool()) {
        return names[in.ConsumeIntegralInRange<std::size_t>(0, names.size() - 1)];
    }
    return in.ConsumeRandomLengthString(16);
}

bool SameName(const std::pair<std::string, std::string>& a, const std::string& section,
              const std::string& key) {
    return text::EqualsNoCase(a.first, section) && text::EqualsNoCase(a.second, key);
}

void CheckWrite(IniFile ini, FuzzedDataProvider& in) {
    const std::string section = PickName(in, ini.Sections());
    const std::string key = PickName(in, ini.Keys(section));
    const std::string value = in.ConsumeRandomLengthString(32);
    const Values before = AllValues(ini);
    try {
        ini.WriteString(section, key, value);
    } catch (const std::invalid_argument&) {
        FUZZ_CHECK(AllValues(ini) == before);
        return;
    }
    std::string stored = value;
    std::replace(stored.begin(), stored.end(), '\r', ' ');
    std::replace(stored.begin(), stored.end(), '\n', ' ');
    const IniFile reloaded = IniFile::FromBytes(ini.Bytes());
    FUZZ_CHECK(reloaded.Bytes() == ini.Bytes());
    FUZZ_CHECK(ini.Find(section, key) == text::Trim(stored));
    FUZZ_CHECK(reloaded.Find(section, key) == text::Trim(stored));
    const Values after = AllValues(reloaded);
    for (const auto& [name, old] : before) {
        if (!SameName(name, section, key)) {
            FUZZ_CHECK(after.count(name) == 1 && after.at(name) == old);
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    const std::string file = in.ConsumeRandomLengthString(4096);
    const IniFile ini = IniFile::FromBytes(file);
    FUZZ_CHECK(ini.Bytes() == file);
    CheckReads(ini);
    CheckWrite(ini, in);
    return 0;
}
