// A dry run of the menu download's packing: every table read and packed in memory, nothing
// written, each table's records counted against the capacity of its area in the download image.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace instance {

struct TableCount {
    const char* table = "";  // the text table's file name (UTF-8)
    std::size_t records = 0; // the records its packer makes
    std::size_t capacity = 0;
    std::string problem; // why the download would refuse the table (UTF-8); "" when it would not
};

// The seven tables in the order of the image.
std::vector<TableCount> DryPack(const std::string& menuDir);

} // namespace instance
