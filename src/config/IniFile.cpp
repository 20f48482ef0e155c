#include "config/IniFile.h"

#include "text/Files.h"
#include "text/Gbk.h"

#include <algorithm>
#include <climits>
#include <stdexcept>
#include <unordered_set>

namespace config {

namespace {

// The offset of the "]" that closes a header, skipping two-byte GBK characters whose trail
// byte happens to be 0x5D.
std::optional<std::size_t> FindClosingBracket(std::string_view s, std::size_t from) {
    for (std::size_t i = from; i < s.size(); i += text::GbkCharLength(s, i)) {
        if (s[i] == ']') {
            return i;
        }
    }
    return std::nullopt;
}

bool HasLineBreak(std::string_view s) {
    return s.find_first_of("\r\n") != std::string_view::npos;
}

} // namespace

std::optional<int> ParseIniInteger(std::string_view s) {
    bool negative = false;
    if (!s.empty() && (s[0] == '-' || s[0] == '+')) {
        negative = s[0] == '-';
        s.remove_prefix(1);
    }
    int base = 10;
    if (!s.empty() && s[0] == '$') {
        base = 16;
        s.remove_prefix(1);
    } else if (s.size() >= 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        base = 16;
        s.remove_prefix(2);
    }
    if (s.empty()) {
        return std::nullopt;
    }
    const long long limit = negative ? -static_cast<long long>(INT_MIN) : INT_MAX;
    long long magnitude = 0;
    for (char c : s) {
        const int digit = text::HexDigitValue(c);
        if (digit < 0 || digit >= base) {
            return std::nullopt;
        }
        magnitude = magnitude * base + digit;
        if (magnitude > limit) {
            return std::nullopt;
        }
    }
    return static_cast<int>(negative ? -magnitude : magnitude);
}

IniFile::Line IniFile::ParseLine(std::string text, std::string ending) {
    Line line;
    line.Text = std::move(text);
    line.Ending = std::move(ending);
    const std::string_view t = line.Text;
    std::size_t start = 0;
    while (start < t.size() && text::IsBlank(t[start])) {
        ++start;
    }
    if (start == t.size() || t[start] == ';' || t[start] == '#') {
        return line;
    }
    if (t[start] == '[') {
        if (const auto close = FindClosingBracket(t, start + 1)) {
            line.LineKind = Kind::Header;
            line.Name = text::Trim(t.substr(start + 1, *close - start - 1));
        }
        return line;
    }
    const std::size_t equals = t.find('=');
    if (equals == std::string_view::npos) {
        return line;
    }
    std::string name = text::Trim(t.substr(0, equals));
    if (name.empty()) {
        return line;
    }
    line.LineKind = Kind::Key;
    line.Name = std::move(name);
    line.ValueStart = equals + 1;
    return line;
}

IniFile IniFile::FromBytes(std::string_view bytes) {
    IniFile ini;
    bool endingSeen = false;
    std::size_t start = 0;
    while (start < bytes.size()) {
        const std::size_t brk = bytes.find_first_of("\r\n", start);
        if (brk == std::string_view::npos) {
            ini.lines_.push_back(ParseLine(std::string(bytes.substr(start)), ""));
            break;
        }
        const bool crlf = bytes[brk] == '\r' && brk + 1 < bytes.size() && bytes[brk + 1] == '\n';
        const std::size_t endLength = crlf ? 2 : 1;
        std::string ending(bytes.substr(brk, endLength));
        if (!endingSeen) {
            ini.eol_ = ending;
            endingSeen = true;
        }
        ini.lines_.push_back(
            ParseLine(std::string(bytes.substr(start, brk - start)), std::move(ending)));
        start = brk + endLength;
    }
    return ini;
}

IniFile IniFile::FromFile(const std::string& path) {
    const auto bytes = text::ReadFile(path);
    return bytes ? FromBytes(*bytes) : IniFile();
}

IniFile IniFile::FromFileForUpdate(const std::string& path) {
    if (!text::FileExists(path) && !text::DirectoryExists(path)) {
        return IniFile(); // the save creates it
    }
    return FromBytes(text::ReadWholeFile(path));
}

std::string IniFile::Bytes() const {
    std::string bytes;
    for (const Line& line : lines_) {
        bytes += line.Text;
        bytes += line.Ending;
    }
    return bytes;
}

void IniFile::SaveFile(const std::string& path) const {
    text::WriteFileAtomic(path, Bytes());
}

std::vector<std::string> IniFile::Sections() const {
    std::vector<std::string> names;
    for (const Line& line : lines_) {
        if (line.LineKind != Kind::Header) {
            continue;
        }
        const bool listed = std::any_of(names.begin(), names.end(), [&](const std::string& n) {
            return text::EqualsNoCase(n, line.Name);
        });
        if (!listed) {
            names.push_back(line.Name);
        }
    }
    return names;
}

std::vector<std::string> IniFile::Keys(std::string_view section) const {
    std::vector<std::string> names;
    std::unordered_set<std::string> seen;
    bool inSection = false;
    for (const Line& line : lines_) {
        if (line.LineKind == Kind::Header) {
            inSection = text::EqualsNoCase(line.Name, section);
        } else if (line.LineKind == Kind::Key && inSection &&
                   seen.insert(text::FoldCase(line.Name)).second) {
            names.push_back(line.Name);
        }
    }
    return names;
}

namespace {

// One text for a section and a key, the same for every spelling of their letters.
std::string IndexKey(std::string_view section, std::string_view key) {
    return text::FoldCase(section) + '\n' + text::FoldCase(key);
}

} // namespace

// The first line of each key of each section, indexed once for all lookups until a line is
// inserted, so that reading every key of a large file takes time in proportion to its lines.
void IniFile::IndexKeyLines() const {
    keyLines_.clear();
    std::string section;
    bool inSection = false;
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        const Line& line = lines_[i];
        if (line.LineKind == Kind::Header) {
            section = line.Name;
            inSection = true;
        } else if (line.LineKind == Kind::Key && inSection) {
            keyLines_.emplace(IndexKey(section, line.Name), i);
        }
    }
    indexed_ = true;
}

std::optional<std::size_t> IniFile::FindKeyLine(std::string_view section,
                                                std::string_view key) const {
    if (!indexed_) {
        IndexKeyLines();
    }
    const auto found = keyLines_.find(IndexKey(section, key));
    if (found == keyLines_.end()) {
        return std::nullopt;
    }
    return found->second;
}

std::optional<std::string> IniFile::Find(std::string_view section, std::string_view key) const {
    const auto index = FindKeyLine(section, key);
    if (!index) {
        return std::nullopt;
    }
    const Line& line = lines_[*index];
    return text::Trim(std::string_view(line.Text).substr(line.ValueStart));
}

std::string IniFile::ReadString(std::string_view section, std::string_view key,
                                const std::string& defaultValue) const {
    return Find(section, key).value_or(defaultValue);
}

int IniFile::ReadInteger(std::string_view section, std::string_view key, int defaultValue) const {
    const auto value = Find(section, key);
    if (!value) {
        return defaultValue;
    }
    return ParseIniInteger(*value).value_or(defaultValue);
}

bool IniFile::ReadBool(std::string_view section, std::string_view key, bool defaultValue) const {
    return ReadInteger(section, key, defaultValue ? 1 : 0) != 0;
}

// The line after which a new key of the section goes: its last key line, else its first
// header; nothing when the section does not exist.
std::optional<std::size_t> IniFile::InsertionLine(std::string_view section) const {
    std::optional<std::size_t> header;
    std::optional<std::size_t> lastKey;
    bool inSection = false;
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        const Line& line = lines_[i];
        if (line.LineKind == Kind::Header) {
            inSection = text::EqualsNoCase(line.Name, section);
            if (inSection && !header) {
                header = i;
            }
        } else if (line.LineKind == Kind::Key && inSection) {
            lastKey = i;
        }
    }
    return lastKey ? lastKey : header;
}

void IniFile::InsertLine(std::size_t position, std::string text) {
    if (position > 0 && lines_[position - 1].Ending.empty()) {
        lines_[position - 1].Ending = eol_;
    }
    // A lone CR right before an empty line that ends in LF would read back as one CR LF and
    // swallow that empty line.
    std::string ending = eol_;
    if (ending == "\r" && position < lines_.size() && lines_[position].Text.empty() &&
        lines_[position].Ending.starts_with('\n')) {
        ending = "\r\n";
    }
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(position),
                  ParseLine(std::move(text), std::move(ending)));
    indexed_ = false; // the lines after the new one moved
}

void IniFile::WriteString(std::string_view section, std::string_view key, std::string_view value) {
    const std::string sectionName = text::Trim(section);
    const std::string keyName = text::Trim(key);
    // The header must read back with its "]" right after the name: no "]" inside it and no
    // final lead byte that would take the "]" as its trail byte.
    const std::string header = sectionName + "]";
    if (sectionName != section || HasLineBreak(section) ||
        FindClosingBracket(header, 0) != sectionName.size()) {
        throw std::invalid_argument("INI section name cannot be stored: " + sectionName);
    }
    if (keyName.empty() || keyName != key || HasLineBreak(key) ||
        keyName.find('=') != std::string::npos || keyName[0] == '[' || keyName[0] == ';' ||
        keyName[0] == '#') {
        throw std::invalid_argument("INI key name cannot be stored: " + keyName);
    }
    std::string stored(value);
    std::replace(stored.begin(), stored.end(), '\r', ' ');
    std::replace(stored.begin(), stored.end(), '\n', ' ');

    if (const auto index = FindKeyLine(section, key)) {
        Line& line = lines_[*index];
        line.Text = line.Text.substr(0, line.ValueStart) + stored;
        return;
    }
    if (const auto after = InsertionLine(section)) {
        InsertLine(*after + 1, keyName + "=" + stored);
        return;
    }
    InsertLine(lines_.size(), "[" + sectionName + "]");
    InsertLine(lines_.size(), keyName + "=" + stored);
}

void IniFile::WriteInteger(std::string_view section, std::string_view key, int value) {
    WriteString(section, key, std::to_string(value));
}

void IniFile::WriteBool(std::string_view section, std::string_view key, bool value) {
    WriteString(section, key, value ? "1" : "0");
}

} // namespace config
