#include "menu/DownloadImage.h"

#include "text/Files.h"
#include "text/Gbk.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <vector>

namespace menu {
namespace {

std::string Quoted(const char* name) {
    return "\"" + text::SystemTextToGbk(name);
}

std::string MissingMessage(const char* table) {
    return text::Fixed("不存在\"") + text::SystemTextToGbk(table) + text::Fixed("\",不能打包");
}

std::string TooLargeMessage(const char* name, std::size_t records, std::size_t capacity) {
    return Quoted(name) + text::Fixed("\"有") + std::to_string(records) +
           text::Fixed("条记录,超过下载区容量") + std::to_string(capacity) +
           text::Fixed("条,不能打包");
}

// --- step 1: the tables are there ----------------------------------------------------------

std::optional<std::string> FirstMissingTable(const std::string& dir) {
    for (const char* table : kRequiredTables) {
        if (!text::FileExists(MenuPath(dir, table))) {
            return MissingMessage(table);
        }
    }
    return std::nullopt;
}

// --- step 2: every table fits its area -----------------------------------------------------

// Only these packers admit more records than their area holds; the others stop at or below
// their area's capacity.
struct UnboundedTable {
    std::size_t area;
    std::size_t (*records)(const std::vector<std::string>& lines);
};

const UnboundedTable kUnboundedTables[] = {
    {0, records::DishCount},
    {1,
     [](const std::vector<std::string>& lines) {
         return std::min(lines.size(), kRequirementLineLimit);
     }},
    {6, [](const std::vector<std::string>& lines) { return lines.size(); }},
};

std::optional<std::string> FirstTableTooLarge(const std::string& dir) {
    for (const UnboundedTable& t : kUnboundedTables) {
        const ImageArea& area = kImageAreas[t.area];
        std::size_t records = t.records(ReadTableLines(dir, area.table));
        if (records > area.capacity()) {
            return TooLargeMessage(area.table, records, area.capacity());
        }
    }
    return std::nullopt;
}

// --- step 3: the packers in their fixed order ----------------------------------------------

PackResult RunPackers(const std::string& dir, WorkLog& log) {
    MenuPacker packer(dir);
    packer.packReturnReasons();
    packer.packRequirements();
    if (PackResult dishes = packer.packDishes(); !dishes) {
        return dishes;
    }
    packer.packSetMeals();
    packer.packSetMealContents();
    packer.packCategories(log);
    packer.packPyTable();
    return PackResult::Success();
}

std::string ReadSection(const std::string& dir, const ImageArea& area) {
    std::string path = MenuPath(dir, area.sectionFile);
    std::optional<std::string> bytes = text::ReadFile(path);
    if (!bytes) {
        throw text::FileError("cannot read " + path + ": " + std::strerror(errno));
    }
    return *bytes;
}

} // namespace

PackResult prepareDownload(const std::string& menuDir, WorkLog& log) {
    try {
        if (std::optional<std::string> missing = FirstMissingTable(menuDir)) {
            return PackResult::Failure(*missing);
        }
        if (std::optional<std::string> tooLarge = FirstTableTooLarge(menuDir)) {
            return PackResult::Failure(*tooLarge);
        }
        if (PackResult packed = RunPackers(menuDir, log); !packed) {
            return packed;
        }
        assembleImage(menuDir);
        return PackResult::Success();
    } catch (const PackError& e) {
        return PackResult::Failure(e.what(), MessageBox::Error);
    } catch (const text::FileError& e) {
        return PackResult::Failure(text::SystemTextToGbk(e.what()), MessageBox::Error);
    }
}

std::string BuildImage(const std::array<std::string, 7>& sections) {
    for (std::size_t i = 0; i < kImageAreas.size(); ++i) {
        const ImageArea& area = kImageAreas[i];
        if (sections[i].size() > area.size) {
            std::size_t records = (sections[i].size() + area.recordWidth - 1) / area.recordWidth;
            throw PackError(TooLargeMessage(area.sectionFile, records, area.capacity()));
        }
    }
    std::string image(kImageSize, static_cast<char>(kImageFill));
    for (std::size_t i = 0; i < kImageAreas.size(); ++i) {
        image.replace(kImageAreas[i].offset, sections[i].size(), sections[i]);
    }
    return image;
}

void assembleImage(const std::string& menuDir) {
    std::array<std::string, 7> sections;
    for (std::size_t i = 0; i < kImageAreas.size(); ++i) {
        sections[i] = ReadSection(menuDir, kImageAreas[i]);
    }
    text::WriteFileAtomic(MenuPath(menuDir, kImageFile), BuildImage(sections));
}

} // namespace menu
