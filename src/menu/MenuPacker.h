// Menu table packaging: the seven text tables that the host exports become binary files of
// fixed-width records that the handhelds read directly. Texts are GBK bytes and are never
// converted; positions and widths count bytes. File names are appended to the menu directory as
// it stands and matched without regard to ASCII letter case.
#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class WorkLog;

namespace menu {

// Text tables and their binary files (names as they are on disk, UTF-8).
inline constexpr const char* kDishTable = "菜品表.txt";
inline constexpr const char* kCategoryTable = "菜品类别表.txt";
inline constexpr const char* kSetMealTable = "菜品套餐表.txt";
inline constexpr const char* kSetMealContentTable = "菜品套餐内容表.txt";
inline constexpr const char* kRequirementTable = "客户要求表.txt";
inline constexpr const char* kReturnReasonTable = "退菜理由表.txt";
inline constexpr const char* kPyTable = "py.txt";

inline constexpr const char* kDishFile = "menu.bin";
inline constexpr const char* kCategoryFile = "菜品类别表.bin";
inline constexpr const char* kSetMealFile = "菜品套餐表.bin";
inline constexpr const char* kSetMealContentFile = "菜品套餐内容表.bin";
inline constexpr const char* kRequirementFile = "客户要求表.bin";
inline constexpr const char* kReturnReasonFile = "退菜理由表.bin";
inline constexpr const char* kPyFile = "py.bin";

// Record widths and the number of lines or records each packer takes (0: no limit).
inline constexpr std::size_t kDishRecordWidth = 128;
inline constexpr std::size_t kPyRecordWidth = 128;
inline constexpr std::size_t kShortRecordWidth = 32;
inline constexpr std::size_t kRequirementLineLimit = 1920;
inline constexpr std::size_t kReturnReasonLineLimit = 128;
inline constexpr std::size_t kCategoryLineLimit = 128;
inline constexpr std::size_t kSetMealRecordLimit = 128;
inline constexpr std::size_t kSetMealContentRecordLimit = 256;
// A dish line must reach column 45, the last fixed column.
inline constexpr std::size_t kDishMinLineLength = 45;

// How the caller shows a failure: a plain message box, or an error box (errors that end the
// packaging: a bad set-meal amount, the file system's errors).
enum class MessageBox { Message, Error };

// The outcome of an operation that reports to the operator: on failure, the GBK text of the
// message box the caller shows.
struct PackResult {
    bool ok = true;
    std::string message;
    MessageBox box = MessageBox::Message;

    static PackResult Success() { return {}; }
    static PackResult Failure(std::string message, MessageBox box = MessageBox::Message) {
        return {false, std::move(message), box};
    }
    explicit operator bool() const { return ok; }
};

// An error that ends the whole packaging; what() is the GBK text for an error box.
struct PackError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Pure record building, bytes in and bytes out. The packers below read and write the files.
namespace records {

// The lines of a table file: the text ends at its first 0x00 byte and is split at CR LF, lone CR
// and lone LF.
std::vector<std::string> TableLines(std::string_view fileBytes);

// The first `lineLimit` lines (all when 0), each trimmed when `trim`, cut and padded with blanks
// to `width`.
std::string FixedWidth(const std::vector<std::string>& lines, std::size_t lineLimit, bool trim,
                       std::size_t width);

std::string SetMeals(const std::vector<std::string>& lines);

// Throws PackError with the line's message on an amount that cannot be read or does not fit.
std::string SetMealContents(const std::vector<std::string>& lines);

// The amount text (already trimmed) in hundredths, rounded half to even; throws PackError with
// the conversion's own text (which quotes `amount`) when it is not a number from 0 to 655.35.
unsigned AmountInHundredths(const std::string& amount);

struct DishOutcome {
    std::string bytes;   // the records, when ok
    std::string message; // the bad-line message, when not ok
    bool ok = true;
};
DishOutcome Dishes(const std::vector<std::string>& lines);

// The number of dish records the table would give: its lines up to the first empty one.
std::size_t DishCount(const std::vector<std::string>& lines);

} // namespace records

// A binary file that a packer has made: its name (kDishFile, ...) and its bytes.
struct PackedFile {
    const char* name;
    std::string bytes;
};

// One operation per table; each reads its text file from the menu directory and writes its binary
// file there (temporary file and rename). A file that cannot be read or written raises
// text::FileError.
class MenuPacker {
public:
    // With `keep`, the packers append their files there instead of writing them, so that the
    // caller can write them all together or not at all.
    explicit MenuPacker(std::string menuDir, std::vector<PackedFile>* keep = nullptr);

    // Fails with the message to show; "menu.bin" is then not written.
    PackResult packDishes();
    // Reads its lines through the work log, which is empty afterwards.
    void packCategories(WorkLog& log);
    void packSetMeals();
    // Throws PackError on a bad amount; nothing is written then.
    void packSetMealContents();
    void packRequirements();
    void packReturnReasons();
    void packPyTable();

    const std::string& menuDir() const { return menuDir_; }

private:
    std::string PathOf(const char* name) const;
    std::vector<std::string> ReadTable(const char* name) const;
    void WriteBinary(const char* name, const std::string& bytes) const;

    std::string menuDir_;
    std::vector<PackedFile>* keep_;
};

// The path of `name` in `dir` as the packers find it (exact name, else any letter case).
std::string MenuPath(const std::string& dir, const char* name);

// The table's lines read from `dir`; throws text::FileError when the file cannot be read.
std::vector<std::string> ReadTableLines(const std::string& dir, const char* name);

} // namespace menu
