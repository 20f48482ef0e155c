// The INI store of the two configuration files. It keeps the file as its lines, so that a write
// changes only the line it has to and every other byte stays as it was. All texts are GBK bytes
// and are never converted.
//
// How a line is read (after leading blanks, bytes 0x00..0x20, are skipped):
// - "[name]" starts the section "name" (blanks around the name removed); anything after the
//   first "]" is ignored. A line that begins with "[" but has no "]" is not a section header: it
//   holds nothing and the current section goes on.
// - A line beginning with ";" or "#" is a comment and holds nothing.
// - "key=value" holds one value of the current section: the key is the text before the first
//   "=", the value the text after it, both with leading and trailing blanks removed. A line with
//   no "=", or with nothing but blanks before it, holds nothing.
// - Key lines before the first section header belong to no section and are never read.
// Lines end at CR LF, LF or a lone CR; each line keeps its own ending, and the last line may have
// none. Section and key names are matched without regard to ASCII letter case. Several headers of
// one section make one section, listed where it first appears; when a key appears more than once
// in a section, its first line is the one read and written.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace config {

class IniFile {
public:
    IniFile() = default;
    static IniFile FromBytes(std::string_view bytes);
    // A file that is missing or cannot be read loads as empty.
    static IniFile FromFile(const std::string& path);
    // For a file that is about to be rewritten: a missing file loads as empty, but a file that
    // exists and cannot be read throws text::FileError, so that saving never replaces it with a
    // file that lacks its contents.
    static IniFile FromFileForUpdate(const std::string& path);

    std::string Bytes() const;
    // Writes the whole file with text::WriteFileAtomic (throws text::FileError).
    void SaveFile(const std::string& path) const;

    // Section names in file order, each once.
    std::vector<std::string> Sections() const;
    // Key names of a section in file order, each once; empty when the section is absent.
    std::vector<std::string> Keys(std::string_view section) const;

    std::optional<std::string> Find(std::string_view section, std::string_view key) const;
    std::string ReadString(std::string_view section, std::string_view key,
                           const std::string& defaultValue) const;
    // Decimal, or hexadecimal after "$" or "0x", with an optional sign; a value that is no
    // integer or lies outside int gives the default.
    int ReadInteger(std::string_view section, std::string_view key, int defaultValue) const;
    // An integer, true when not 0.
    bool ReadBool(std::string_view section, std::string_view key, bool defaultValue) const;

    // Replaces the value of an existing key in place (the line keeps its key spelling, the text
    // up to "=" and its ending); otherwise adds "key=value" after the last key line of the
    // section, or right after its header when it has no keys, or adds "[section]" and the key at
    // the end of the file. New lines end with the file's line ending (that of its first line
    // break, CR LF for a file without one). A line break inside the value would start a new line
    // in the file, so CR and LF bytes in it are written as blanks. Section and key names are the
    // program's own; a name that cannot be stored throws std::invalid_argument.
    void WriteString(std::string_view section, std::string_view key, std::string_view value);
    void WriteInteger(std::string_view section, std::string_view key, int value);
    void WriteBool(std::string_view section, std::string_view key, bool value);

private:
    enum class Kind { Other, Header, Key };
    struct Line {
        std::string Text;   // the line without its ending
        std::string Ending; // "\r\n", "\n", "\r" or "" (last line only)
        Kind LineKind = Kind::Other;
        std::string Name;           // section name of a header, key name of a key line
        std::size_t ValueStart = 0; // key lines: offset just after the "="
    };
    static Line ParseLine(std::string text, std::string ending);
    std::optional<std::size_t> FindKeyLine(std::string_view section, std::string_view key) const;
    void IndexKeyLines() const;
    std::optional<std::size_t> InsertionLine(std::string_view section) const;
    void InsertLine(std::size_t position, std::string text);

    std::vector<Line> lines_;
    std::string eol_ = "\r\n";
    mutable std::unordered_map<std::string, std::size_t> keyLines_; // see IndexKeyLines
    mutable bool indexed_ = false;
};

// The integer forms of ReadInteger; nothing when the text is no integer.
std::optional<int> ParseIniInteger(std::string_view text);

} // namespace config
