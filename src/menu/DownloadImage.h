// The download image FF.bin: the seven binary menu files placed at fixed offsets of a 768 KiB
// image that is otherwise 0xFF. The offsets are the contract with the handhelds; the image has no
// header, directory or checksum.
#pragma once

#include "menu/MenuPacker.h"

#include <array>
#include <cstddef>
#include <string>

class WorkLog;

namespace menu {

inline constexpr const char* kImageFile = "FF.bin";
inline constexpr std::size_t kImageSize = 0xC0000; // 786432 bytes
inline constexpr unsigned char kImageFill = 0xFF;

struct ImageArea {
    const char* sectionFile; // the binary file placed here, as the image opens it
    const char* table;       // the text table it is packed from
    std::size_t offset;
    std::size_t size;
    std::size_t recordWidth;
    constexpr std::size_t capacity() const { return size / recordWidth; }
};

// In ascending offset order, which is also the order they are placed in. The dish file is found
// under the name its packer writes ("menu.bin", in any letter case, so "Menu.bin" too): when both
// spellings exist, the image takes the file just packed.
inline constexpr std::array<ImageArea, 7> kImageAreas{{
    {kDishFile, kDishTable, 0x00000, 0xA0000, kDishRecordWidth},                     // 5120 records
    {kRequirementFile, kRequirementTable, 0xA0000, 0x8000, kShortRecordWidth},       // 1024
    {kSetMealFile, kSetMealTable, 0xA8000, 0x1000, kShortRecordWidth},               // 128
    {kSetMealContentFile, kSetMealContentTable, 0xA9000, 0x8000, kShortRecordWidth}, // 1024
    {kReturnReasonFile, kReturnReasonTable, 0xB1000, 0x1000, kShortRecordWidth},     // 128
    {kCategoryFile, kCategoryTable, 0xB2000, 0x1000, kShortRecordWidth},             // 128
    {kPyFile, kPyTable, 0xB3000, 0xD000, kPyRecordWidth},                            // 416
}};
static_assert(kImageAreas.back().offset + kImageAreas.back().size == kImageSize);

// The text tables a download needs, in the order they are checked.
inline constexpr std::array<const char*, 7> kRequiredTables{
    kReturnReasonTable,   kRequirementTable, kDishTable, kSetMealTable,
    kSetMealContentTable, kCategoryTable,    kPyTable};

// Checks the seven tables, refuses a table that would not fit its area, runs the packers and
// assembles FF.bin. Every failure comes back with the message to show. Nothing on disk changes
// unless every step succeeded: the binary files and FF.bin are written together, FF.bin last, so
// a failure part way (a full disk) leaves every old file as it was. The work log is empty
// afterwards once the categories were packed.
PackResult prepareDownload(const std::string& menuDir, WorkLog& log);

// Builds FF.bin from the seven section files. Throws PackError, before anything is written, when a
// section file is larger than its area, and text::FileError when a file cannot be read or written.
void assembleImage(const std::string& menuDir);

// The image from the section files' bytes, in the order of kImageAreas. Throws PackError when one
// is larger than its area.
std::string BuildImage(const std::array<std::string, 7>& sections);

} // namespace menu
