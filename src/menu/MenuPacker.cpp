#include "menu/MenuPacker.h"

#include "text/Files.h"
#include "text/Gbk.h"
#include "worklog/WorkLog.h"

#include <cstdint>

namespace menu {
namespace {

constexpr unsigned kMaxAmount = 65535;
constexpr char kFF = static_cast<char>(0xFF);

// Appends `fill` until `s` holds `width` bytes; never shortens.
void PadTo(std::string& s, std::size_t width, char fill) {
    if (s.size() < width) {
        s.append(width - s.size(), fill);
    }
}

// Columns `first`.. of `line` (numbered from 1), at most `count` bytes; empty past the end.
std::string Columns(const std::string& line, std::size_t first, std::size_t count) {
    std::size_t pos = first - 1;
    return pos < line.size() ? line.substr(pos, count) : std::string();
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// --- amounts -------------------------------------------------------------------------------

[[noreturn]] void ThrowNotDecimal(const std::string& amount) {
    throw PackError("'" + amount + text::Fixed("' 不是有效的数值"));
}

// Digits with an optional sign and an optional decimal point; at least one digit.
void SplitDecimal(const std::string& amount, bool& negative, std::string& whole,
                  std::string& fraction) {
    std::size_t i = 0;
    negative = false;
    if (i < amount.size() && (amount[i] == '+' || amount[i] == '-')) {
        negative = amount[i] == '-';
        ++i;
    }
    while (i < amount.size() && IsDigit(amount[i])) {
        whole += amount[i++];
    }
    if (i < amount.size() && amount[i] == '.') {
        ++i;
        while (i < amount.size() && IsDigit(amount[i])) {
            fraction += amount[i++];
        }
    }
    if (i != amount.size() || (whole.empty() && fraction.empty())) {
        ThrowNotDecimal(amount);
    }
}

// Rounds the digits after the hundredths: up past a half, to even at exactly a half.
bool RoundsUp(const std::string& rest, std::uint64_t hundredths) {
    if (rest.empty() || rest[0] < '5') {
        return false;
    }
    bool beyondHalf = rest[0] > '5' || rest.find_first_not_of('0', 1) != std::string::npos;
    return beyondHalf || hundredths % 2 == 1;
}

// --- dishes --------------------------------------------------------------------------------

struct BadLine {
    std::string conversionText;
};

unsigned CodeDigit(const std::string& line, std::size_t column) {
    char c = line[column - 1];
    if (!IsDigit(c)) {
        throw BadLine{"'" + std::string(1, c) + text::Fixed("' 不是有效的整数")};
    }
    return static_cast<unsigned>(c - '0');
}

// Columns 29-33 and 35-36 read as one decimal integer, leading blanks skipped.
std::uint32_t DishPrice(const std::string& line) {
    std::string formed = Columns(line, 29, 5) + Columns(line, 35, 2);
    std::size_t first = formed.find_first_not_of(' ');
    std::string digits = first == std::string::npos ? std::string() : formed.substr(first);
    if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos) {
        throw BadLine{"'" + formed + text::Fixed("' 不是有效的整数")};
    }
    return static_cast<std::uint32_t>(std::stoul(digits)); // at most 7 digits: fits 24 bits
}

char Bcd(unsigned high, unsigned low) {
    return static_cast<char>(high * 16 + low);
}

std::string DishRecord(const std::string& line) {
    if (line.size() < kDishMinLineLength) {
        throw BadLine{text::Fixed("行长度为 ") + std::to_string(line.size()) +
                      text::Fixed(" 字节,不足 45 字节")};
    }
    unsigned d[8];
    for (std::size_t column = 1; column <= 7; ++column) {
        d[column] = CodeDigit(line, column);
    }
    std::uint32_t price = DishPrice(line);

    std::string record;
    record += 'Z';
    record += Bcd(d[6], d[7]);
    record += Bcd(d[1], d[2]);
    record += Bcd(d[3], d[4]);
    record += Bcd(d[5], 0);
    record += Columns(line, 8, 20);
    record += static_cast<char>((price >> 16) & 0xFF);
    record += static_cast<char>((price >> 8) & 0xFF);
    record += static_cast<char>(price & 0xFF);
    record += Columns(line, 37, 4);
    record += Columns(line, 41, 4);
    record += Columns(line, 45, 1);
    record += text::Trim(Columns(line, 46, 45));
    PadTo(record, 82, kFF);
    record += text::Trim(Columns(line, 91, 10));
    PadTo(record, kDishRecordWidth, kFF);
    return record;
}

} // namespace

// --- pure record building ------------------------------------------------------------------

namespace records {

std::vector<std::string> TableLines(std::string_view fileBytes) {
    return text::SplitLines(text::CutAtNul(fileBytes));
}

std::string FixedWidth(const std::vector<std::string>& lines, std::size_t lineLimit, bool trim,
                       std::size_t width) {
    std::string out;
    for (std::size_t n = 0; n < lines.size() && (lineLimit == 0 || n < lineLimit); ++n) {
        std::string record = (trim ? text::Trim(lines[n]) : lines[n]).substr(0, width);
        PadTo(record, width, ' ');
        out += record;
    }
    return out;
}

std::string SetMeals(const std::vector<std::string>& lines) {
    std::string out;
    std::size_t made = 0;
    for (const std::string& line : lines) {
        std::string trimmed = text::Trim(line);
        if (trimmed.empty()) {
            continue;
        }
        std::string record = trimmed.substr(0, 20);
        PadTo(record, 22, ' ');
        record.append(10, kFF);
        out += record;
        if (++made == kSetMealRecordLimit) {
            break;
        }
    }
    return out;
}

unsigned AmountInHundredths(const std::string& amount) {
    bool negative = false;
    std::string whole;
    std::string fraction;
    SplitDecimal(amount, negative, whole, fraction);

    std::size_t significant = whole.find_first_not_of('0');
    whole = significant == std::string::npos ? std::string() : whole.substr(significant);
    if (whole.size() > 5) {
        throw PackError("'" + amount + text::Fixed("' 超出金额范围(0 至 655.35)"));
    }
    std::string cents = fraction.substr(0, 2);
    PadTo(cents, 2, '0');
    std::uint64_t hundredths = (whole.empty() ? 0 : std::stoull(whole)) * 100 + std::stoull(cents);
    if (RoundsUp(fraction.size() > 2 ? fraction.substr(2) : std::string(), hundredths)) {
        ++hundredths;
    }
    if (hundredths > kMaxAmount || (negative && hundredths != 0)) {
        throw PackError("'" + amount + text::Fixed("' 超出金额范围(0 至 655.35)"));
    }
    return static_cast<unsigned>(hundredths);
}

std::string SetMealContents(const std::vector<std::string>& lines) {
    std::string out;
    std::size_t made = 0;
    for (std::size_t index = 0; index < lines.size(); ++index) {
        std::string trimmed = text::Trim(lines[index]);
        if (trimmed.empty()) {
            continue;
        }
        unsigned amount = 0;
        try {
            amount = AmountInHundredths(text::Trim(Columns(trimmed, 17, 9)));
        } catch (const PackError& e) {
            throw PackError(text::Fixed("菜品套餐内容表,行:") + std::to_string(index + 1) +
                            " --- " + trimmed + text::Fixed("  错误\r\n信息:") + e.what());
        }
        std::string record = Columns(trimmed, 1, 16);
        record.append(7, '\0');
        record += static_cast<char>(amount >> 8);
        record += static_cast<char>(amount & 0xFF);
        record += Columns(trimmed, 26, std::string::npos);
        PadTo(record, kShortRecordWidth, ' ');
        record.resize(kShortRecordWidth); // a longer tail would shift every later record
        out += record;
        if (++made == kSetMealContentRecordLimit) {
            break;
        }
    }
    return out;
}

DishOutcome Dishes(const std::vector<std::string>& lines) {
    DishOutcome outcome;
    for (std::size_t index = 0; index < lines.size() && !lines[index].empty(); ++index) {
        try {
            outcome.bytes += DishRecord(lines[index]);
        } catch (const BadLine& bad) {
            return {std::string(),
                    text::Fixed("菜品表,行: ") + std::to_string(index) + "---" + lines[index] +
                        text::Fixed(" 出错.\r\n请重新打包.信息:") + bad.conversionText,
                    false};
        }
    }
    return outcome;
}

std::size_t DishCount(const std::vector<std::string>& lines) {
    std::size_t count = 0;
    while (count < lines.size() && !lines[count].empty()) {
        ++count;
    }
    return count;
}

} // namespace records

// --- files ---------------------------------------------------------------------------------

std::string MenuPath(const std::string& dir, const char* name) {
    return text::FindNoCase(dir, name);
}

std::vector<std::string> ReadTableLines(const std::string& dir, const char* name) {
    return records::TableLines(text::ReadWholeFile(MenuPath(dir, name)));
}

// --- the packers ---------------------------------------------------------------------------

MenuPacker::MenuPacker(std::string menuDir, std::vector<PackedFile>* keep)
    : menuDir_(std::move(menuDir)), keep_(keep) {}

std::string MenuPacker::PathOf(const char* name) const {
    return MenuPath(menuDir_, name);
}

std::vector<std::string> MenuPacker::ReadTable(const char* name) const {
    return ReadTableLines(menuDir_, name);
}

void MenuPacker::WriteBinary(const char* name, const std::string& bytes) const {
    if (keep_ != nullptr) {
        keep_->push_back({name, bytes});
        return;
    }
    text::WriteFileAtomic(PathOf(name), bytes);
}

PackResult MenuPacker::packDishes() {
    records::DishOutcome outcome = records::Dishes(ReadTable(kDishTable));
    if (!outcome.ok) {
        return PackResult::Failure(outcome.message);
    }
    if (outcome.bytes.empty()) {
        return PackResult::Failure(text::SystemTextToGbk(menuDir_) +
                                   text::Fixed("菜品表.txt  没有内容,无法下载菜库."));
    }
    WriteBinary(kDishFile, outcome.bytes);
    return PackResult::Success();
}

void MenuPacker::packCategories(WorkLog& log) {
    // The lines pass through the work log's text, as the operator's view loads the file.
    log.Clear();
    for (const std::string& line : ReadTable(kCategoryTable)) {
        log.Append(line);
    }
    std::vector<std::string> lines = log.Lines();
    log.Clear();
    WriteBinary(kCategoryFile,
                records::FixedWidth(lines, kCategoryLineLimit, false, kShortRecordWidth));
}

void MenuPacker::packSetMeals() {
    WriteBinary(kSetMealFile, records::SetMeals(ReadTable(kSetMealTable)));
}

void MenuPacker::packSetMealContents() {
    WriteBinary(kSetMealContentFile, records::SetMealContents(ReadTable(kSetMealContentTable)));
}

void MenuPacker::packRequirements() {
    WriteBinary(kRequirementFile,
                records::FixedWidth(ReadTable(kRequirementTable), kRequirementLineLimit, true,
                                    kShortRecordWidth));
}

void MenuPacker::packReturnReasons() {
    WriteBinary(kReturnReasonFile,
                records::FixedWidth(ReadTable(kReturnReasonTable), kReturnReasonLineLimit, true,
                                    kShortRecordWidth));
}

void MenuPacker::packPyTable() {
    WriteBinary(kPyFile, records::FixedWidth(ReadTable(kPyTable), 0, true, kPyRecordWidth));
}

} // namespace menu
