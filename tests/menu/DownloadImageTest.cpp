#include "menu/DownloadImage.h"

#include "menu/MenuTestSupport.h"
#include "worklog/WorkLog.h"

#include <set>

using namespace menu;
using namespace menutest;
namespace fs = std::filesystem;

namespace {

const std::string kDish = [] {
    std::string line = "1000101" + Gbk("拍黄瓜");
    line.resize(27, ' ');
    return line + "    12.00" + Gbk("份") + "  00010";
}();

// A complete menu directory: three dishes, one line in each other table.
void FillMenu(const MenuDir& dir) {
    dir.Table(kReturnReasonTable, {Gbk("上菜太慢")});
    dir.Table(kRequirementTable, {Gbk("不要辣")});
    dir.Table(kDishTable, {kDish, kDish, kDish});
    dir.Table(kSetMealTable, {Gbk("001 商务套餐")});
    dir.Table(kSetMealContentTable, {"001 1000101          1.00"});
    dir.Table(kCategoryTable, {Gbk("0001 凉菜")});
    dir.Table(kPyTable, {Gbk("bao   包宝")});
}

// Every entry of the directory with its content.
std::set<std::string> Entries(const MenuDir& dir) {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(dir.path)) {
        names.insert(e.path().filename().string() + ":" + dir.Read(e.path().filename()));
    }
    return names;
}

bool AllFf(const std::string& s, std::size_t from, std::size_t to) {
    return s.find_first_not_of('\xFF', from) >= to;
}

} // namespace

// Each section file goes to its place in the image and may fill its area, not one byte more.
TEST(BuildImage, EachSectionFillsItsAreaAndNoMore) {
    const std::size_t bounds[] = {0, 0xA0000, 0xA8000, 0xA9000, 0xB1000, 0xB2000, 0xB3000, 0xC0000};
    std::array<std::string, 7> sections;
    for (std::size_t i = 0; i < sections.size(); ++i) {
        sections[i] = std::string(bounds[i + 1] - bounds[i], static_cast<char>('1' + i));
    }
    const std::string image = BuildImage(sections);
    ASSERT_EQ(image.size(), 786432u);
    for (std::size_t i = 0; i < sections.size(); ++i) {
        EXPECT_EQ(image.substr(bounds[i], sections[i].size()), sections[i]) << i;
        std::array<std::string, 7> over = sections;
        over[i] += 'x';
        EXPECT_THROW(BuildImage(over), PackError) << i;
    }
}

TEST(PrepareDownload, MissingTablesInTheirOrder) {
    const char* expected[] = {
        "不存在\"退菜理由表.txt\",不能打包",
        "不存在\"客户要求表.txt\",不能打包",
        "不存在\"菜品表.txt\",不能打包",
        "不存在\"菜品套餐表.txt\",不能打包",
        "不存在\"菜品套餐内容表.txt\",不能打包",
        "不存在\"菜品类别表.txt\",不能打包",
        "不存在\"py.txt\",不能打包",
    };
    for (std::size_t missing = 0; missing < kRequiredTables.size(); ++missing) {
        SCOPED_TRACE(expected[missing]);
        MenuDir dir;
        FillMenu(dir);
        dir.Raw(kImageFile, "old image");
        // This table and every later one are missing: the first of them is named.
        for (std::size_t i = missing; i < kRequiredTables.size(); ++i) {
            fs::remove(dir.path + kRequiredTables[i]);
        }
        std::set<std::string> before = Entries(dir);
        WorkLog log;
        PackResult r = prepareDownload(dir.path, log);
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.message, Gbk(expected[missing]));
        EXPECT_EQ(Entries(dir), before);
    }
}

TEST(PrepareDownload, OnlyTheFirstMissingTableIsNamed) {
    MenuDir dir;
    FillMenu(dir);
    fs::remove(dir.path + kReturnReasonTable);
    fs::remove(dir.path + kDishTable);
    WorkLog log;
    EXPECT_EQ(prepareDownload(dir.path, log).message, Gbk("不存在\"退菜理由表.txt\",不能打包"));
}

TEST(PrepareDownload, ThreeDishesAndTheOtherAreas) {
    MenuDir dir;
    FillMenu(dir);
    WorkLog log;
    log.Append("line before the download");
    ASSERT_TRUE(prepareDownload(dir.path, log));
    EXPECT_EQ(log.LineCount(), 0u);
    std::string image = dir.Read(kImageFile);
    ASSERT_EQ(image.size(), 786432u);
    std::string dish = Hex("5A 01 10 00 10") + Gbk("拍黄瓜") + Blanks(14) + Hex("00 04 B0") +
                       Gbk("份") + "  " + "0001" + "0" + Ffs(45) + Ffs(46);
    EXPECT_EQ(image.substr(0, 384), dish + dish + dish);
    EXPECT_TRUE(AllFf(image, 384, 0xA0000));
    EXPECT_EQ(image.substr(0xA0000, 32), Gbk("不要辣") + Blanks(26));
    EXPECT_TRUE(AllFf(image, 0xA0020, 0xA8000));
    EXPECT_EQ(image.substr(0xA8000, 32), Gbk("001 商务套餐") + Blanks(10) + Ffs(10));
    EXPECT_EQ(image.substr(0xA9000, 32),
              "001 1000101     " + Hex("00 00 00 00 00 00 00 00 64") + Blanks(7));
    EXPECT_EQ(image.substr(0xB1000, 32), Gbk("上菜太慢") + Blanks(24));
    EXPECT_EQ(image.substr(0xB2000, 32), Gbk("0001 凉菜") + Blanks(23));
    EXPECT_EQ(image.substr(0xB3000, 128), Gbk("bao   包宝") + Blanks(118));
    EXPECT_TRUE(AllFf(image, 0xB3080, 0xC0000));
}

TEST(PrepareDownload, EmptyRequirementsLeaveTheirAreaFf) {
    MenuDir dir;
    FillMenu(dir);
    dir.Raw(kRequirementTable, "");
    WorkLog log;
    ASSERT_TRUE(prepareDownload(dir.path, log));
    std::string image = dir.Read(kImageFile);
    EXPECT_EQ(image.size(), 786432u);
    EXPECT_TRUE(AllFf(image, 0xA0000, 0xA8000));
}

// A packer that fails changes no file, not even those of the packers that ran before it.
TEST(PrepareDownload, AFailingPackerChangesNoFile) {
    struct Case {
        const char* what;
        const char* table;
        std::string line;
        MessageBox box;
    };
    const Case cases[] = {
        {"bad dish", kDishTable, "x", MessageBox::Message},
        {"bad amount", kSetMealContentTable, "001 1000101          abc", MessageBox::Error},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        MenuDir dir;
        FillMenu(dir);
        WorkLog log;
        ASSERT_TRUE(prepareDownload(dir.path, log));
        dir.Table(kReturnReasonTable, {Gbk("菜凉了")}); // its packer runs first
        dir.Table(c.table, {c.line});
        const std::set<std::string> before = Entries(dir);
        PackResult r = prepareDownload(dir.path, log);
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.box, c.box);
        EXPECT_EQ(Entries(dir), before);
    }
}

// A disk that fills up while the pack writes: every old file stays as it was, no temporary file
// is left, and the message names the file and the reason.
TEST(PrepareDownload, AFullDiskPartWayChangesNoFile) {
    MenuDir dir;
    SmallFileSystem disk(dir.path, "2m");
    if (!disk.Mounted()) {
        GTEST_SKIP() << "cannot mount a tmpfs here";
    }
    FillMenu(dir);
    WorkLog log;
    ASSERT_TRUE(prepareDownload(dir.path, log));
    // Room for the small binary files, not for the 768 KiB image written after them.
    ASSERT_TRUE(disk.FillLeaving(64 * 1024, dir.path + "filler"));
    dir.Table(kReturnReasonTable, {Gbk("菜凉了")});
    dir.Table(kDishTable, {kDish});
    const std::set<std::string> before = Entries(dir);
    PackResult r = prepareDownload(dir.path, log);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.box, MessageBox::Error);
    EXPECT_EQ(r.message, Gbk("无法写入 ") + dir.path + "FF.bin" + Gbk("：设备上没有空间"));
    EXPECT_EQ(Entries(dir), before);

    fs::remove(dir.path + "filler");
    ASSERT_TRUE(prepareDownload(dir.path, log));
    EXPECT_EQ(dir.Read(kReturnReasonFile), Gbk("菜凉了") + Blanks(26));
    EXPECT_EQ(dir.Read(kImageFile).substr(0, 129), dir.Read(kDishFile) + "\xFF");
}

TEST(PrepareDownload, TableLargerThanItsAreaIsRefusedBeforeAnythingIsWritten) {
    struct Case {
        const char* table;
        std::vector<std::string> lines;
        const char* message;
    };
    const Case cases[] = {
        {kDishTable, std::vector<std::string>(5121, kDish),
         "\"菜品表.txt\"有5121条记录,超过下载区容量5120条,不能打包"},
        {kRequirementTable, std::vector<std::string>(1025, "a"),
         "\"客户要求表.txt\"有1025条记录,超过下载区容量1024条,不能打包"},
        {kPyTable, std::vector<std::string>(417, "a"),
         "\"py.txt\"有417条记录,超过下载区容量416条,不能打包"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.table);
        MenuDir dir;
        FillMenu(dir);
        dir.Table(c.table, c.lines);
        dir.Raw(kImageFile, "old image");
        std::set<std::string> before = Entries(dir);
        WorkLog log;
        PackResult r = prepareDownload(dir.path, log);
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.message, Gbk(c.message));
        EXPECT_EQ(Entries(dir), before);
    }
}

TEST(PrepareDownload, TablesFilledToCapacityGiveAFullImage) {
    MenuDir dir;
    FillMenu(dir);
    dir.Table(kDishTable, std::vector<std::string>(5120, kDish));
    dir.Table(kRequirementTable, std::vector<std::string>(1024, "r"));
    dir.Table(kPyTable, std::vector<std::string>(416, "p"));
    WorkLog log;
    ASSERT_TRUE(prepareDownload(dir.path, log));
    std::string image = dir.Read(kImageFile);
    ASSERT_EQ(image.size(), 786432u);
    EXPECT_EQ(image.substr(0x9FF80, 5), Hex("5A 01 10 00 10"));
    EXPECT_EQ(image.substr(0xA7FE0, 32), "r" + Blanks(31));
    EXPECT_EQ(image.substr(0xBFF80, 128), "p" + Blanks(127));
}

TEST(AssembleImage, OversizedSectionFileIsRefusedAndTheImageKept) {
    MenuDir dir;
    FillMenu(dir);
    WorkLog log;
    ASSERT_TRUE(prepareDownload(dir.path, log));
    std::string image = dir.Read(kImageFile);
    dir.Raw(kPyFile, std::string(0xD000 + 1, 'p')); // one byte past the area
    try {
        assembleImage(dir.path);
        FAIL() << "no error";
    } catch (const PackError& e) {
        EXPECT_EQ(e.what(), Gbk("\"py.bin\"有417条记录,超过下载区容量416条,不能打包"));
    }
    EXPECT_EQ(dir.Read(kImageFile), image);

    fs::remove(dir.path + "menu.bin");
    EXPECT_THROW(assembleImage(dir.path), text::FileError);
    EXPECT_EQ(dir.Read(kImageFile), image);
}

TEST(AssembleImage, FindsSectionAndImageInAnyLetterCase) {
    MenuDir dir;
    FillMenu(dir);
    WorkLog log;
    ASSERT_TRUE(prepareDownload(dir.path, log));
    fs::rename(dir.path + "menu.bin", dir.path + "MENU.BIN");
    fs::rename(dir.path + kImageFile, dir.path + "ff.bin");
    assembleImage(dir.path);
    EXPECT_FALSE(dir.Has(kImageFile));
    EXPECT_EQ(dir.Read("ff.bin").size(), 786432u);

    // With both spellings present, the image takes the file the dish packer writes.
    dir.Raw("Menu.bin", "stale");
    dir.Raw("menu.bin", std::string(128, 'd'));
    assembleImage(dir.path);
    EXPECT_EQ(dir.Read("ff.bin").substr(0, 129), std::string(128, 'd') + "\xFF");
}

TEST(ExampleMenu, PacksCleanly) {
    MenuDir dir;
    fs::copy(std::string(DCRELAY_SOURCE_DIR) + "/examples/menu", dir.path,
             fs::copy_options::recursive);
    for (const char* table : kRequiredTables) {
        ASSERT_TRUE(dir.Has(table)) << table;
    }
    WorkLog log;
    PackResult r = prepareDownload(dir.path, log);
    ASSERT_TRUE(r) << text::ToUtf8(r.message);
    std::string image = dir.Read(kImageFile);
    ASSERT_EQ(image.size(), 786432u);
    // The first dish, 1000101 at 12.00, and the first record of every other area is in use.
    EXPECT_EQ(image.substr(0, 5), Hex("5A 01 10 00 10"));
    EXPECT_EQ(image.substr(25, 3), Hex("00 04 B0"));
    for (const ImageArea& area : kImageAreas) {
        EXPECT_NE(image[area.offset], '\xFF') << area.sectionFile;
    }
}
