// Helpers shared by the menu tests: a scratch menu directory and byte notation.
#pragma once

#include "support/TempDir.h"
#include "text/Files.h"
#include "text/Gbk.h"

#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <vector>

namespace menutest {

inline std::string Gbk(const std::string& utf8) {
    return text::ToGbk(utf8);
}

// "5A 67 12" -> the three bytes.
inline std::string Hex(const std::string& spaced) {
    std::istringstream in(spaced);
    std::string out;
    std::string pair;
    while (in >> pair) {
        out += static_cast<char>(std::stoi(pair, nullptr, 16));
    }
    return out;
}

inline std::string Blanks(std::size_t n) {
    return std::string(n, ' ');
}
inline std::string Ffs(std::size_t n) {
    return std::string(n, '\xFF');
}

struct MenuDir : testsupport::TempDir {
    // Writes GBK lines joined by CR LF (with a final CR LF when there is any line).
    void Table(const std::string& name, const std::vector<std::string>& gbkLines) const {
        std::string bytes;
        for (const std::string& line : gbkLines) {
            bytes += line + "\r\n";
        }
        Raw(name, bytes);
    }
    void Raw(const std::string& name, const std::string& bytes) const {
        text::WriteFileAtomic(path + name, bytes);
    }
    std::string Read(const std::string& name) const {
        std::optional<std::string> bytes = text::ReadFile(path + name);
        return bytes ? *bytes : std::string("<missing>");
    }
    bool Has(const std::string& name) const { return text::FileExists(path + name); }
};

} // namespace menutest
