#include "menu/MenuPacker.h"

#include "menu/MenuTestSupport.h"
#include "worklog/WorkLog.h"

#include <functional>

using namespace menu;
using namespace menutest;

namespace {

// --- fixed-width tables --------------------------------------------------------------------

struct FixedCase {
    const char* what;
    const char* table;
    const char* binary;
    std::vector<std::string> lines;
    std::string expected;
};

void Pack(MenuPacker& p, const std::string& table, WorkLog& log) {
    if (table == kRequirementTable) {
        p.packRequirements();
    } else if (table == kReturnReasonTable) {
        p.packReturnReasons();
    } else if (table == kCategoryTable) {
        p.packCategories(log);
    } else if (table == kPyTable) {
        p.packPyTable();
    } else if (table == kSetMealTable) {
        p.packSetMeals();
    } else {
        p.packSetMealContents();
    }
}

std::vector<std::string> Repeat(const std::string& line, std::size_t n) {
    return std::vector<std::string>(n, line);
}

// 31 ASCII bytes and then a two-byte character: byte 32 is its lead byte.
const std::string kForty = std::string(31, 'x') + Gbk("辣") + "1234567";

} // namespace

TEST(FixedWidthTables, RecordsFromLines) {
    const std::string buyao = Gbk("不要辣"); // six bytes
    const std::string cold = Gbk("凉菜");
    const FixedCase cases[] = {
        {"requirement trimmed",
         kRequirementTable,
         kRequirementFile,
         {"  " + buyao + "  ", ""},
         buyao + Blanks(26) + Blanks(32)},
        {"requirement controls trimmed",
         kRequirementTable,
         kRequirementFile,
         {"\t" + buyao + "\x01"},
         buyao + Blanks(26)},
        {"return reason cut at 32 bytes",
         kReturnReasonTable,
         kReturnReasonFile,
         {kForty},
         std::string(31, 'x') + "\xC0"},
        {"return reason loses leading blanks",
         kReturnReasonTable,
         kReturnReasonFile,
         {"  " + cold},
         cold + Blanks(28)},
        {"category keeps leading blanks",
         kCategoryTable,
         kCategoryFile,
         {"  " + cold, "", kForty},
         "  " + cold + Blanks(26) + Blanks(32) + std::string(31, 'x') + "\xC0"},
        {"py trimmed and padded to 128",
         kPyTable,
         kPyFile,
         {" bao  " + Gbk("包") + " ", std::string(130, 'p')},
         "bao  " + Gbk("包") + Blanks(121) + std::string(128, 'p')},
    };
    for (const FixedCase& c : cases) {
        SCOPED_TRACE(c.what);
        MenuDir dir;
        dir.Table(c.table, c.lines);
        MenuPacker packer(dir.path);
        WorkLog log;
        Pack(packer, c.table, log);
        EXPECT_EQ(dir.Read(c.binary), c.expected);
    }
}

TEST(FixedWidthTables, LineLimits) {
    struct Limit {
        const char* table;
        const char* binary;
        std::size_t lines;
        std::size_t expectedBytes;
    };
    const Limit limits[] = {
        {kRequirementTable, kRequirementFile, 1921, 1920 * 32},
        {kReturnReasonTable, kReturnReasonFile, 130, 128 * 32},
        {kCategoryTable, kCategoryFile, 130, 128 * 32},
        {kPyTable, kPyFile, 1000, 1000 * 128},
        {kRequirementTable, kRequirementFile, 0, 0},
    };
    for (const Limit& l : limits) {
        SCOPED_TRACE(std::string(l.table) + " " + std::to_string(l.lines));
        MenuDir dir;
        dir.Table(l.table, Repeat("a", l.lines));
        MenuPacker packer(dir.path);
        WorkLog log;
        Pack(packer, l.table, log);
        EXPECT_EQ(dir.Read(l.binary).size(), l.expectedBytes);
    }
}

TEST(FixedWidthTables, LineBreaksAndNulEndTheText) {
    MenuDir dir;
    dir.Raw(kRequirementTable, std::string("a\rb\nc\r\nd\0e\r\nf", 13));
    MenuPacker(dir.path).packRequirements();
    EXPECT_EQ(dir.Read(kRequirementFile),
              "a" + Blanks(31) + "b" + Blanks(31) + "c" + Blanks(31) + "d" + Blanks(31));
}

TEST(Categories, PassThroughTheWorkLogAndLeaveItEmpty) {
    MenuDir dir;
    dir.Table(kCategoryTable, {"01", "02"});
    WorkLog log;
    log.Append("earlier line");
    MenuPacker(dir.path).packCategories(log);
    EXPECT_EQ(log.LineCount(), 0u);
    EXPECT_EQ(dir.Read(kCategoryFile), "01" + Blanks(30) + "02" + Blanks(30));
}

// --- set meals -----------------------------------------------------------------------------

TEST(SetMeals, RecordAndLimitOf128) {
    MenuDir dir;
    std::vector<std::string> lines;
    for (int i = 0; i < 200; ++i) {
        lines.push_back("  meal" + std::to_string(i) + "  ");
        lines.push_back("   ");
    }
    dir.Table(kSetMealTable, lines);
    MenuPacker(dir.path).packSetMeals();
    std::string bin = dir.Read(kSetMealFile);
    ASSERT_EQ(bin.size(), 4096u);
    EXPECT_EQ(bin.substr(0, 32), "meal0" + Blanks(17) + Ffs(10));
    EXPECT_EQ(bin.substr(127 * 32, 32), "meal127" + Blanks(15) + Ffs(10));

    // Byte 20 is the lead byte of a character; the cut keeps it.
    dir.Table(kSetMealTable, {Gbk("01 商务套餐超长名称的套餐")});
    MenuPacker(dir.path).packSetMeals();
    EXPECT_EQ(dir.Read(kSetMealFile), Gbk("01 商务套餐超长名称") + "\xB5" + "  " + Ffs(10));
}

// --- set-meal contents ---------------------------------------------------------------------

TEST(SetMealContents, AmountFieldAndRecordLayout) {
    MenuDir dir;
    dir.Table(kSetMealContentTable, {"  001 2000101          12.5" + Gbk("例") + "  ",
                                     "", // skipped
                                     "002 1000101          1.00abcdefghijk"});
    MenuPacker(dir.path).packSetMealContents();
    EXPECT_EQ(dir.Read(kSetMealContentFile),
              "001 2000101     " + Hex("00 00 00 00 00 00 00 04 E2") + Gbk("例") + Blanks(5) +
                  "002 1000101     " + Hex("00 00 00 00 00 00 00 00 64") + "abcdefg");
}

TEST(SetMealContents, RoundsHalvesToEvenAndRefusesWhatDoesNotFit) {
    const std::pair<const char*, unsigned> good[] = {
        {"12.5", 1250}, {"0.125", 12},     {"0.135", 14}, {"0.1251", 13},
        {"1.015", 102}, {"655.35", 65535}, {"0", 0},      {".5", 50},
        {"7.", 700},    {"+3", 300},       {"-0.001", 0}, {"000655.34", 65534},
    };
    for (const auto& [amount, hundredths] : good) {
        SCOPED_TRACE(amount);
        EXPECT_EQ(records::AmountInHundredths(amount), hundredths);
    }
    const std::pair<const char*, const char*> bad[] = {
        {"655.355", "' 超出金额范围(0 至 655.35)"},
        {"700", "' 超出金额范围(0 至 655.35)"},
        {"-1", "' 超出金额范围(0 至 655.35)"},
        {"1234567", "' 超出金额范围(0 至 655.35)"},
        {"1e2", "' 不是有效的数值"},
        {"", "' 不是有效的数值"},
        {"1.2.3", "' 不是有效的数值"},
        {".", "' 不是有效的数值"},
        {"1 2", "' 不是有效的数值"},
    };
    for (const auto& [amount, tail] : bad) {
        SCOPED_TRACE(amount);
        try {
            records::AmountInHundredths(amount);
            ADD_FAILURE() << "accepted";
        } catch (const PackError& e) {
            EXPECT_EQ(e.what(), "'" + std::string(amount) + Gbk(tail));
        }
    }
}

TEST(SetMealContents, BadAmountNamesTheLineCountedOverAllLines) {
    MenuDir dir;
    dir.Raw(kSetMealContentFile, "old");
    dir.Table(kSetMealContentTable,
              {"001 2000101          1.00", "", "  002 1000101          1x.5" + Gbk("份")});
    try {
        MenuPacker(dir.path).packSetMealContents();
        FAIL() << "no error";
    } catch (const PackError& e) {
        EXPECT_EQ(e.what(), Gbk("菜品套餐内容表,行:3 --- 002 1000101          1x.5份  错误\r\n"
                                "信息:'1x.5' 不是有效的数值"));
    }
    EXPECT_EQ(dir.Read(kSetMealContentFile), "old");

    dir.Table(kSetMealContentTable, {"short line"});
    EXPECT_THROW(MenuPacker(dir.path).packSetMealContents(), PackError);
}

TEST(SetMealContents, StopsAt256Records) {
    MenuDir dir;
    std::vector<std::string> lines = Repeat("001 2000101          1", 300);
    lines.push_back("bad line that is never read"); // past the limit
    dir.Table(kSetMealContentTable, lines);
    MenuPacker(dir.path).packSetMealContents();
    EXPECT_EQ(dir.Read(kSetMealContentFile).size(), 256u * 32);
}

// --- dishes --------------------------------------------------------------------------------

namespace {

// A dish line in the host's columns: code, name (20), blank, price (8), unit (4), category (4),
// flag, remark (45), quick code (10).
std::string DishLine(const std::string& code, const std::string& name, const std::string& price,
                     const std::string& tail = "") {
    std::string line = code + name;
    line.resize(27, ' ');
    line += " " + price + Gbk("例") + "  " + "0002" + "0" + tail;
    return line;
}

const std::string kGongBao = Gbk("宫保鸡丁");

} // namespace

TEST(Dishes, RecordLayout) {
    std::string remark = "  " + Gbk("微辣 花生"); // nine bytes after the blanks
    remark.resize(45, ' ');
    MenuDir dir;
    dir.Table(kDishTable, {DishLine("1234567", kGongBao, "  128.50", remark + "GBJD"),
                           DishLine("0000001", "A", "    0.05")});
    ASSERT_TRUE(MenuPacker(dir.path).packDishes());
    std::string expected = Hex("5A 67 12 34 50") + kGongBao + Blanks(12) + Hex("00 32 32") +
                           Gbk("例") + "  " + "0002" + "0" + Gbk("微辣 花生") + Ffs(36) + "GBJD" +
                           Ffs(42);
    expected += Hex("5A 01 00 00 00") + "A" + Blanks(19) + Hex("00 00 05") + Gbk("例") + "  " +
                "0002" + "0" + Ffs(45) + Ffs(46);
    EXPECT_EQ(dir.Read(kDishFile), expected);
}

TEST(Dishes, ThirdLineEmptyEndsTheTable) {
    MenuDir dir;
    std::string line = DishLine("1000101", "A", "   12.00");
    dir.Table(kDishTable, {line, line, "", line, "not a dish line"});
    ASSERT_TRUE(MenuPacker(dir.path).packDishes());
    EXPECT_EQ(dir.Read(kDishFile).size(), 256u);
}

TEST(Dishes, BadLinesStopPackingWithTheirMessage) {
    const std::string good = DishLine("1000101", "A", "   12.00");
    struct Bad {
        const char* what;
        std::vector<std::string> lines;
        std::size_t index;
        std::string info;
    };
    const std::string shortLine = good.substr(0, 44);
    const Bad cases[] = {
        {"letter in the code",
         {DishLine("12345A7", "A", "   12.00"), good},
         0,
         "'A' 不是有效的整数"},
        {"blank in the code",
         {good, DishLine("1 00101", "A", "   12.00")},
         1,
         "' ' 不是有效的整数"},
        {"price all blank", {DishLine("1000101", "A", "        ")}, 0, "'       ' 不是有效的整数"},
        {"blank inside price",
         {DishLine("1000101", "A", "  1 2.00")},
         0,
         "'  1 200' 不是有效的整数"},
        {"sign in price", {DishLine("1000101", "A", "  -12.00")}, 0, "'  -1200' 不是有效的整数"},
        {"line shorter than 45 bytes", {good, shortLine}, 1, "行长度为 44 字节,不足 45 字节"},
    };
    for (const Bad& c : cases) {
        SCOPED_TRACE(c.what);
        MenuDir dir;
        dir.Raw(kDishFile, "old");
        dir.Table(kDishTable, c.lines);
        PackResult r = MenuPacker(dir.path).packDishes();
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.box, MessageBox::Message);
        EXPECT_EQ(r.message, Gbk("菜品表,行: ") + std::to_string(c.index) + "---" +
                                 c.lines[c.index] + Gbk(" 出错.\r\n请重新打包.信息:") +
                                 Gbk(c.info));
        EXPECT_EQ(dir.Read(kDishFile), "old");
    }
}

TEST(Dishes, LineOfExactly45BytesIsADish) {
    MenuDir dir;
    std::string line = DishLine("1000101", "A", "   12.00");
    ASSERT_EQ(line.size(), 45u);
    dir.Table(kDishTable, {line + "   \t"}); // a remark of blanks trims to nothing
    ASSERT_TRUE(MenuPacker(dir.path).packDishes());
    EXPECT_EQ(dir.Read(kDishFile).substr(37), Ffs(91));
}

TEST(Dishes, EmptyTableIsRefused) {
    for (const std::string& bytes : {std::string(), std::string("\r\n1000101")}) {
        MenuDir dir;
        dir.Raw(kDishTable, bytes);
        PackResult r = MenuPacker(dir.path).packDishes();
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.message, dir.path + Gbk("菜品表.txt  没有内容,无法下载菜库."));
        EXPECT_FALSE(dir.Has(kDishFile));
    }
}

TEST(Dishes, ReplacesMenuBinWhateverItsLetterCase) {
    MenuDir dir;
    dir.Raw("Menu.bin", "old");
    dir.Table(kDishTable, {DishLine("1000101", "A", "   12.00")});
    ASSERT_TRUE(MenuPacker(dir.path).packDishes());
    EXPECT_EQ(dir.Read("Menu.bin").size(), 128u);
    EXPECT_FALSE(dir.Has(kDishFile));
}

TEST(Packers, UnreadableTableRaisesTheFileError) {
    MenuDir dir;
    std::filesystem::create_directory(dir.path + kPyTable); // exists, cannot be read as a file
    EXPECT_THROW(MenuPacker(dir.path).packPyTable(), text::FileError);
    EXPECT_THROW(MenuPacker(dir.path).packSetMeals(), text::FileError); // missing
}
