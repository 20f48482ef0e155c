#include "config/IniFile.h"

#include "ConfigTestSupport.h"
#include "text/Gbk.h"

#include <gtest/gtest.h>
#include <random>

using config::IniFile;
using configtest::TempDir;

namespace {

struct ReadCase {
    const char* what;
    std::string file;
    std::string section, key;
    std::optional<std::string> expected;
};

// A literal with its NUL bytes.
template <std::size_t N> std::string Bytes(const char (&s)[N]) {
    return std::string(s, N - 1);
}

struct SplitLine {
    std::string text, ending;
    bool operator==(const SplitLine&) const = default;
};

std::vector<SplitLine> SplitKeepingEndings(const std::string& s) {
    std::vector<SplitLine> lines;
    std::size_t start = 0;
    while (start < s.size()) {
        std::size_t brk = s.find_first_of("\r\n", start);
        if (brk == std::string::npos) {
            lines.push_back({s.substr(start), ""});
            break;
        }
        std::size_t len = (s[brk] == '\r' && brk + 1 < s.size() && s[brk + 1] == '\n') ? 2 : 1;
        lines.push_back({s.substr(start, brk - start), s.substr(brk, len)});
        start = brk + len;
    }
    return lines;
}

} // namespace

TEST(IniFile, ReadsValuesByTheRulesOfTheFormat) {
    const std::string gbkName = text::ToGbk("基站1");
    const std::vector<ReadCase> cases = {
        {"value trimmed", "[Menu]\r\nPath =  /a b/ \t\r\n", "Menu", "Path", "/a b/"},
        {"empty value is empty, not absent", "[Menu]\r\nPath=\r\n", "Menu", "Path", ""},
        {"blanks only is empty", "[Menu]\nPath=   \n", "Menu", "Path", ""},
        {"absent key", "[Menu]\nPath=x\n", "Menu", "WPath", std::nullopt},
        {"absent section", "[Menu]\nPath=x\n", "Other", "Path", std::nullopt},
        {"names ignore case", "[mEnU]\nFILEMODE=1\n", "Menu", "fileMode", "1"},
        {"value after first =", "[a]\nk=b=c\n", "a", "k", "b=c"},
        {"header trimmed, text after ] ignored", "[ Menu ] ; main\nPath=x", "Menu", "Path", "x"},
        {"key before any header belongs nowhere", "Path=x\n[Menu]\n", "Menu", "Path", std::nullopt},
        {"comment ;", "[Menu]\n;Path=x\n", "Menu", "Path", std::nullopt},
        {"comment #", "[Menu]\n  # Path=x\n", "Menu", "Path", std::nullopt},
        {"[abc without ] keeps the section", "[Menu]\n[abc\nPath=x\n", "Menu", "Path", "x"},
        {"[abc without ] is no section", "[Menu]\n[abc\nPath=x\n", "abc", "Path", std::nullopt},
        {"line without = holds nothing", "[Menu]\nPath\nPath=y\n", "Menu", "Path", "y"},
        {"first of duplicate keys", "[Menu]\nPath=1\npath=2\n", "Menu", "Path", "1"},
        {"duplicate sections merge", "[A]\nx=1\n[B]\n[a]\ny=2\n", "A", "y", "2"},
        {"lone CR endings", "[Menu]\rPath=x\rWPath=y", "Menu", "WPath", "y"},
        {"GBK section name", "[" + gbkName + "]\r\nPDA1=005\r\n", gbkName, "PDA1", "005"},
        // B0 5D is one GBK character whose trail byte is "]".
        {"] as a trail byte", "[\xB0]]\nk=v\n", "\xB0]", "k", "v"},
        // B0 41 and B0 61 are two different characters, not one in two cases.
        {"trail bytes are not folded", "[\xB0\x41]\nk=v\n", "\xB0\x61", "k", std::nullopt},
        {"NUL in a value kept", Bytes("[a]\nk=x\0y\n"), "a", "k", Bytes("x\0y")},
        {"NUL inside a key name", Bytes("[a]\nk\0x=1\n"), "a", "k", std::nullopt},
        {"NUL at the end of a key name is a blank", Bytes("[a]\nk\0=1\n"), "a", "k", "1"},
        {"empty key name", "[a]\n=1\n", "a", "", std::nullopt},
    };
    for (const auto& c : cases) {
        const IniFile ini = IniFile::FromBytes(c.file);
        EXPECT_EQ(ini.Find(c.section, c.key), c.expected) << c.what;
        EXPECT_EQ(ini.ReadString(c.section, c.key, "DEF"), c.expected.value_or("DEF")) << c.what;
    }
}

TEST(IniFile, ListsSectionsAndKeysInFileOrderOnce) {
    const IniFile ini = IniFile::FromBytes("x=0\n[B]\nz=1\nA=2\n[abc\n; c=3\n[A]\nm=1\n#PDA3=005\n"
                                           "[b]\nZ=9\ny=4\n[]\n");
    EXPECT_EQ(ini.Sections(), (std::vector<std::string>{"B", "A", ""}));
    EXPECT_EQ(ini.Keys("b"), (std::vector<std::string>{"z", "A", "y"}));
    EXPECT_EQ(ini.Keys("A"), (std::vector<std::string>{"m"}));
    EXPECT_TRUE(ini.Keys("none").empty());
    EXPECT_TRUE(IniFile().Sections().empty());
}

TEST(IniFile, IntegersAndBooleans) {
    const std::vector<std::pair<std::string, std::optional<int>>> cases = {
        {"12", 12},
        {"-7", -7},
        {"+7", 7},
        {"$1A", 26},
        {"0x1a", 26},
        {"0X1A", 26},
        {"-$10", -16},
        {"007", 7},
        {"2147483647", 2147483647},
        {"-2147483648", -2147483647 - 1},
        {"2147483648", std::nullopt},
        {"$FFFFFFFFF", std::nullopt},
        {"x", std::nullopt},
        {"", std::nullopt},
        {"12a", std::nullopt},
        {"$", std::nullopt},
        {"0x", std::nullopt},
        {"1.5", std::nullopt},
        {"$G", std::nullopt},
        {"1 2", std::nullopt},
        {"-", std::nullopt},
    };
    for (const auto& [value, expected] : cases) {
        EXPECT_EQ(config::ParseIniInteger(value), expected) << value;
        const IniFile ini = IniFile::FromBytes("[s]\nk= " + value + " \n");
        EXPECT_EQ(ini.ReadInteger("s", "k", -99), expected.value_or(-99)) << value;
        EXPECT_EQ(ini.ReadBool("s", "k", true), expected ? *expected != 0 : true) << value;
        EXPECT_EQ(ini.ReadBool("s", "k", false), expected ? *expected != 0 : false) << value;
    }
    EXPECT_EQ(IniFile().ReadInteger("s", "k", 42), 42);
}

TEST(IniFile, WritesChangeOnlyTheirLineAndKeepEveryOtherByte) {
    const std::string original = "; dcrelay settings\r\n"
                                 "[Menu]\r\n"
                                 "Path = C:\\menu\\   \r\n"
                                 "Unknown=keep me\r\n"
                                 "\r\n"
                                 "[Other]\r\n"
                                 "a=1\r\n";
    IniFile ini = IniFile::FromBytes(original);
    EXPECT_EQ(ini.Bytes(), original);

    ini.WriteString("menu", "PATH", "/srv/menu/");
    ini.WriteInteger("Menu", "Delay", 7);
    ini.WriteBool("Other", "b", true);
    ini.WriteString("New", "k", "v");
    EXPECT_EQ(ini.Bytes(), "; dcrelay settings\r\n"
                           "[Menu]\r\n"
                           "Path =/srv/menu/\r\n"
                           "Unknown=keep me\r\n"
                           "Delay=7\r\n"
                           "\r\n"
                           "[Other]\r\n"
                           "a=1\r\n"
                           "b=1\r\n"
                           "[New]\r\n"
                           "k=v\r\n");
    EXPECT_EQ(ini.ReadString("Menu", "Path", ""), "/srv/menu/");
    EXPECT_EQ(ini.ReadString("Menu", "Unknown", ""), "keep me");
}

TEST(IniFile, NewLinesUseTheFileLineEndingAndOldLinesKeepTheirOwn) {
    struct Case {
        std::string before, after;
    };
    const std::vector<Case> cases = {
        {"", "[s]\r\nk=v\r\n"},
        {"[s]\nx=1\n", "[s]\nx=1\nk=v\n"},
        {"[s]\nx=1", "[s]\nx=1\nk=v\n"},                     // the last line gains an ending
        {"[s]", "[s]\r\nk=v\r\n"},                           // no ending anywhere: CR LF
        {"[s]\rx=1\r", "[s]\rx=1\rk=v\r"},                   // lone CR
        {"[s]\nx=1\r\n[t]\r\n", "[s]\nx=1\r\nk=v\n[t]\r\n"}, // first ending rules, others kept
        {"[t]\r\ny=2", "[t]\r\ny=2\r\n[s]\r\nk=v\r\n"},
        {"[s]\n\n\n[t]\n", "[s]\nk=v\n\n\n[t]\n"}, // a section without keys: after its header
        {"[s]\nk=old\r", "[s]\nk=v\r"},
        // A lone CR before an empty LF line would merge with it into one CR LF.
        {"a\r[s]\n\n", "a\r[s]\nk=v\r\n\n"}, // in place keeps the line's own ending
    };
    for (const auto& c : cases) {
        IniFile ini = IniFile::FromBytes(c.before);
        ini.WriteString("s", "k", "v");
        EXPECT_EQ(ini.Bytes(), c.after) << c.before;
    }
}

TEST(IniFile, WriteKeepsKeySpellingAndStoresOnlyOneLine) {
    IniFile ini = IniFile::FromBytes("[Menu]\r\nfileMode=0\r\nPath=a\r\npath=b\r\n");
    ini.WriteBool("Menu", "filemode", true);
    ini.WriteString("Menu", "Path", "line1\r\nline2\n");
    EXPECT_EQ(ini.Bytes(), "[Menu]\r\nfileMode=1\r\nPath=line1  line2 \r\npath=b\r\n");
    EXPECT_EQ(ini.ReadString("Menu", "Path", ""), "line1  line2");

    // Writing into a merged section goes after its last key line.
    IniFile merged = IniFile::FromBytes("[A]\nx=1\n[B]\n[a]\ny=2\n[C]\n");
    merged.WriteString("A", "z", "3");
    EXPECT_EQ(merged.Bytes(), "[A]\nx=1\n[B]\n[a]\ny=2\nz=3\n[C]\n");
}

TEST(IniFile, NamesThatCannotBeStoredAreRefused) {
    IniFile ini;
    EXPECT_THROW(ini.WriteString("Menu", "", "v"), std::invalid_argument);
    EXPECT_THROW(ini.WriteString("Menu", "a=b", "v"), std::invalid_argument);
    EXPECT_THROW(ini.WriteString("Menu", " Path", "v"), std::invalid_argument);
    EXPECT_THROW(ini.WriteString("Menu", "a\nb", "v"), std::invalid_argument);
    EXPECT_THROW(ini.WriteString("Menu", ";x", "v"), std::invalid_argument);
    EXPECT_THROW(ini.WriteString("Me]nu", "k", "v"), std::invalid_argument);
    EXPECT_THROW(ini.WriteString("Me\rnu", "k", "v"), std::invalid_argument);
    EXPECT_THROW(ini.WriteString("Menu\x81", "k", "v"), std::invalid_argument);
    EXPECT_EQ(ini.Bytes(), "");
    ini.WriteString("\xB0]", "k", "v"); // "]" as a trail byte is part of a character
    EXPECT_EQ(ini.ReadString("\xB0]", "k", ""), "v");
}

TEST(IniFile, FilesMissingUnreadableAndSaved) {
    TempDir dir;
    EXPECT_EQ(IniFile::FromFile(dir.File("none.ini")).Bytes(), "");
    EXPECT_EQ(IniFile::FromFileForUpdate(dir.File("none.ini")).Bytes(), "");
    EXPECT_EQ(IniFile::FromFile(dir.path).Bytes(), "");
    EXPECT_THROW(IniFile::FromFileForUpdate(dir.path), text::FileError);

    IniFile ini = IniFile::FromBytes("[s]\nk=1\n");
    ini.WriteString("s", "k", "2");
    ini.SaveFile(dir.File("a.ini"));
    EXPECT_EQ(configtest::ReadAll(dir.File("a.ini")), "[s]\nk=2\n");
    EXPECT_EQ(IniFile::FromFileForUpdate(dir.File("a.ini")).ReadInteger("s", "k", 0), 2);
    EXPECT_THROW(ini.SaveFile(dir.File("no/dir.ini")), text::FileError);
}

TEST(IniFile, BadInputNeverBreaksTheStore) {
    const std::vector<std::string> files = {
        "[",
        "[Menu",
        "[Menu]\nPath",
        "[Menu]\nPath=",
        "=",
        "]\n[\n=\n==\n[]=\n",
        Bytes("[Me\0nu]\n\0\0=\0\n[Menu]\nk\0"),
        "[\x81]\n\xFF\xFE=\x81\n\x81",
        "[Menu]\r\r\n\n\r",
        "\x81[Menu]\nk=1\n",
    };
    for (const auto& f : files) {
        IniFile ini = IniFile::FromBytes(f);
        EXPECT_EQ(ini.Bytes(), f);
        for (const auto& s : ini.Sections()) {
            for (const auto& k : ini.Keys(s)) {
                EXPECT_TRUE(ini.Find(s, k).has_value());
            }
        }
        ini.WriteString("Menu", "Path", "x");
        EXPECT_EQ(ini.ReadString("Menu", "Path", ""), "x") << f;
        // Every line that was there still is, in its order and with its text, except the one
        // whose value was replaced.
        const auto old = SplitKeepingEndings(f);
        const auto now = SplitKeepingEndings(ini.Bytes());
        std::size_t found = 0;
        for (const auto& line : now) {
            if (found < old.size() && line.text == old[found].text) {
                ++found;
            }
        }
        EXPECT_GE(found + 1, old.size()) << f;
    }
}

namespace {

std::string RandomBytes(std::mt19937& rng, std::size_t maxLength) {
    static const std::string alphabet =
        std::string("[]=;# \t\r\n\r\nabcABCkKsS01$x") + Bytes("\0\x81\xB0\x5D\xFF\x41");
    std::uniform_int_distribution<std::size_t> length(0, maxLength);
    std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1);
    std::string s(length(rng), ' ');
    for (char& c : s) {
        c = alphabet[pick(rng)];
    }
    return s;
}

} // namespace

// Random files: writing one key changes one line (or adds one or two at one place, the line
// before them gaining an ending only if it had none), and every other value reads as before.
TEST(IniFile, RandomFilesKeepEveryOtherLine) {
    std::mt19937 rng(20240601);
    const std::vector<std::string> names = {"s", "S", "k", "a", "\xB0\x5D"};
    std::uniform_int_distribution<std::size_t> pickName(0, names.size() - 1);
    for (int round = 0; round < 20000; ++round) {
        const std::string original = RandomBytes(rng, 120);
        const std::string section = names[pickName(rng)];
        const std::string key = names[pickName(rng)] + "1";
        std::string value = RandomBytes(rng, 6);
        std::erase_if(value, [](char c) { return c == '\r' || c == '\n'; });

        const IniFile before = IniFile::FromBytes(original);
        IniFile after = IniFile::FromBytes(original);
        after.WriteString(section, key, value);
        SCOPED_TRACE(testing::PrintToString(original));

        EXPECT_EQ(after.Find(section, key), text::Trim(value));
        const IniFile reread = IniFile::FromBytes(after.Bytes());
        EXPECT_EQ(reread.Sections(), after.Sections());
        for (const auto& s : after.Sections()) {
            EXPECT_EQ(reread.Keys(s), after.Keys(s));
            for (const auto& k : after.Keys(s)) {
                EXPECT_EQ(reread.Find(s, k), after.Find(s, k));
            }
        }
        for (const auto& s : before.Sections()) {
            for (const auto& k : before.Keys(s)) {
                if (!(text::EqualsNoCase(s, section) && text::EqualsNoCase(k, key))) {
                    EXPECT_EQ(after.Find(s, k), before.Find(s, k));
                }
            }
        }

        const auto l = SplitKeepingEndings(original);
        const auto r = SplitKeepingEndings(after.Bytes());
        std::size_t prefix = 0;
        while (prefix < l.size() && prefix < r.size() && l[prefix] == r[prefix]) {
            ++prefix;
        }
        std::size_t suffix = 0;
        while (suffix < l.size() - prefix && suffix < r.size() - prefix &&
               l[l.size() - 1 - suffix] == r[r.size() - 1 - suffix]) {
            ++suffix;
        }
        const std::size_t changedOld = l.size() - prefix - suffix;
        const std::size_t changedNew = r.size() - prefix - suffix;
        ASSERT_LE(changedOld, 1u);
        ASSERT_LE(changedNew, 3u);
        if (changedOld == 1) {
            const SplitLine& old = l[prefix];
            const SplitLine& now = r[prefix];
            const bool replaced =
                changedNew == 1 && old.ending == now.ending && now.text.size() >= value.size() &&
                now.text.compare(now.text.size() - value.size(), std::string::npos, value) == 0 &&
                old.text.compare(0, old.text.find('=') + 1, now.text, 0, now.text.find('=') + 1) ==
                    0;
            const bool endingAdded = old.ending.empty() && prefix + 1 == l.size() &&
                                     now.text == old.text && !now.ending.empty();
            EXPECT_TRUE(replaced || endingAdded)
                << testing::PrintToString(section) << " " << testing::PrintToString(key) << " "
                << testing::PrintToString(value) << " -> " << testing::PrintToString(after.Bytes());
        }
    }
}
