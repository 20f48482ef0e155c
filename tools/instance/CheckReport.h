// The installation check's findings: one line per item, with what to do when it fails.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace instance {

enum class Verdict {
    Ok,
    Fail,
    Skip, // not tested, so as not to disturb a running relay
    Info, // a fact worth knowing that is neither good nor bad
};

struct Item {
    Verdict verdict = Verdict::Ok;
    std::string name;    // what was checked, e.g. "base station 1 port"
    std::string finding; // what was found (UTF-8)
    std::string remedy;  // what to do about it (failures only)
};

class Report {
public:
    void Add(Verdict verdict, std::string name, std::string finding, std::string remedy = "");
    const std::vector<Item>& Items() const { return items_; }
    bool Failed(const std::string& name) const;

    // "ok    name: finding" and "FAIL  name: finding. Fix: remedy", one line each.
    void Print(std::FILE* out) const;

    // 0 when every item holds, 1 when one failed, 3 when none failed but some were not tested.
    int ExitStatus() const;

private:
    std::vector<Item> items_;
};

std::string FormatItem(const Item& item);

} // namespace instance
