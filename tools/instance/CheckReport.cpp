#include "CheckReport.h"

#include <algorithm>

namespace instance {
namespace {

const char* Label(Verdict v) {
    switch (v) {
    case Verdict::Ok:
        return "ok  ";
    case Verdict::Fail:
        return "FAIL";
    case Verdict::Skip:
        return "skip";
    case Verdict::Info:
        return "info";
    }
    return "?   ";
}

} // namespace

void Report::Add(Verdict verdict, std::string name, std::string finding, std::string remedy) {
    items_.push_back({verdict, std::move(name), std::move(finding), std::move(remedy)});
}

bool Report::Failed(const std::string& name) const {
    return std::any_of(items_.begin(), items_.end(),
                       [&](const Item& i) { return i.verdict == Verdict::Fail && i.name == name; });
}

std::string FormatItem(const Item& item) {
    std::string line = std::string(Label(item.verdict)) + "  " + item.name + ": " + item.finding;
    if (item.verdict == Verdict::Fail && !item.remedy.empty()) {
        line += ". Fix: " + item.remedy;
    }
    return line;
}

void Report::Print(std::FILE* out) const {
    for (const Item& item : items_) {
        std::fprintf(out, "%s\n", FormatItem(item).c_str());
    }
}

int Report::ExitStatus() const {
    auto any = [&](Verdict v) {
        return std::any_of(items_.begin(), items_.end(),
                           [v](const Item& i) { return i.verdict == v; });
    };
    return any(Verdict::Fail) ? 1 : any(Verdict::Skip) ? 3 : 0;
}

} // namespace instance
