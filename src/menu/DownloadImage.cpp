#include "menu/DownloadImage.h"

#include "text/Files.h"
#include "text/Gbk.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <stdexcept>
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

// The packers' files are kept in `packed`, in the order they ran; nothing is written.
PackResult RunPackers(const std::string& dir, WorkLog& log, std::vector<PackedFile>& packed) {
    MenuPacker packer(dir, &packed);
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

// --- step 4: the image, and every file written together -----------------------------------

const std::string& PackedBytes(const std::vector<PackedFile>& packed, const char* name) {
    for (const PackedFile& file : packed) {
        if (std::strcmp(file.name, name) == 0) {
            return file.bytes;
        }
    }
    throw std::logic_error(std::string("no packer made ") + name);
}

// The binary files and the image built from them are written to temporaries first and put in
// place only once all of them are written, FF.bin last: a failure (a full disk) leaves every old
// file as it was.
void WritePackage(const std::string& dir, const std::vector<PackedFile>& packed) {
    std::array<std::string, 7> sections;
    for (std::size_t i = 0; i < kImageAreas.size(); ++i) {
        sections[i] = PackedBytes(packed, kImageAreas[i].sectionFile);
    }
    std::string image = BuildImage(sections);
    std::vector<std::pair<std::string, std::string>> files;
    for (const PackedFile& file : packed) {
        files.emplace_back(MenuPath(dir, file.name), file.bytes);
    }
    files.emplace_back(MenuPath(dir, kImageFile), std::move(image));
    text::WriteFilesAtomic(files);
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
        std::vector<PackedFile> packed;
        if (PackResult result = RunPackers(menuDir, log, packed); !result) {
            return result;
        }
        WritePackage(menuDir, packed);
        return PackResult::Success();
    } catch (const PackError& e) {
        return PackResult::Failure(e.what(), MessageBox::Error);
    } catch (const text::FileError& e) {
        return PackResult::Failure(e.what(), MessageBox::Error);
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
        sections[i] = text::ReadWholeFile(MenuPath(menuDir, kImageAreas[i].sectionFile));
    }
    text::WriteFileAtomic(MenuPath(menuDir, kImageFile), BuildImage(sections));
}

} // namespace menu
