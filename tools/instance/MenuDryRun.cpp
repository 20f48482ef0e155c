#include "MenuDryRun.h"

#include "menu/DownloadImage.h"
#include "text/Files.h"
#include "text/Gbk.h"

#include <string_view>

namespace instance {
namespace {

namespace records = menu::records;
using Lines = std::vector<std::string>;

std::size_t Records(const std::string& bytes, std::size_t width) {
    return bytes.size() / width;
}

// The records the table's packer makes. A packer that refuses the table throws menu::PackError
// with its message.
std::size_t RecordCount(std::string_view table, const Lines& lines) {
    constexpr std::size_t kShort = menu::kShortRecordWidth;
    if (table == menu::kDishTable) {
        records::DishOutcome dishes = records::Dishes(lines);
        if (!dishes.ok) {
            throw menu::PackError(dishes.message);
        }
        return records::DishCount(lines);
    }
    if (table == menu::kRequirementTable) {
        return Records(records::FixedWidth(lines, menu::kRequirementLineLimit, true, kShort),
                       kShort);
    }
    if (table == menu::kSetMealTable) {
        return Records(records::SetMeals(lines), kShort);
    }
    if (table == menu::kSetMealContentTable) {
        return Records(records::SetMealContents(lines), kShort);
    }
    if (table == menu::kReturnReasonTable) {
        return Records(records::FixedWidth(lines, menu::kReturnReasonLineLimit, true, kShort),
                       kShort);
    }
    if (table == menu::kCategoryTable) {
        return Records(records::FixedWidth(lines, menu::kCategoryLineLimit, false, kShort), kShort);
    }
    return Records(records::FixedWidth(lines, 0, true, menu::kPyRecordWidth), menu::kPyRecordWidth);
}

TableCount CountTable(const std::string& menuDir, const menu::ImageArea& area) {
    TableCount count{area.table, 0, area.capacity(), ""};
    try {
        count.records = RecordCount(area.table, menu::ReadTableLines(menuDir, area.table));
    } catch (const text::FileError&) {
        count.problem = "missing or unreadable: the download refuses to start";
        return count;
    } catch (const menu::PackError& e) {
        count.problem = "cannot be packed: " + text::ToUtf8(e.what());
        return count;
    }
    if (count.records > count.capacity) {
        count.problem = "too many records for its area of the download image";
    } else if (std::string_view(area.table) == menu::kDishTable && count.records == 0) {
        count.problem = "no dish records: the download refuses an empty dish table";
    }
    return count;
}

} // namespace

std::vector<TableCount> DryPack(const std::string& menuDir) {
    std::vector<TableCount> counts;
    for (const menu::ImageArea& area : menu::kImageAreas) {
        counts.push_back(CountTable(menuDir, area));
    }
    return counts;
}

} // namespace instance
