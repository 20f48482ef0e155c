// The menu packers: any table packs into whole records of its width, at most as many as the
// table allows, or is refused with a message.
#include "FuzzSupport.h"
#include "menu/MenuPacker.h"
#include "text/Gbk.h"

#include <cstdint>

using namespace menu;

namespace {

void CheckFixedWidth(const std::vector<std::string>& lines, std::size_t limit, bool trim,
                     std::size_t width) {
    const std::string out = records::FixedWidth(lines, limit, trim, width);
    const std::size_t count = limit == 0 ? lines.size() : std::min(lines.size(), limit);
    FUZZ_CHECK(out.size() == count * width);
}

void CheckDishes(const std::vector<std::string>& lines) {
    const records::DishOutcome dishes = records::Dishes(lines);
    if (dishes.ok) {
        FUZZ_CHECK(dishes.bytes.size() == records::DishCount(lines) * kDishRecordWidth);
    } else {
        FUZZ_CHECK(dishes.bytes.empty() && !dishes.message.empty());
    }
}

void CheckSetMeals(const std::vector<std::string>& lines) {
    const std::string meals = records::SetMeals(lines);
    FUZZ_CHECK(meals.size() % kShortRecordWidth == 0);
    FUZZ_CHECK(meals.size() <= kSetMealRecordLimit * kShortRecordWidth);
    try {
        const std::string contents = records::SetMealContents(lines);
        FUZZ_CHECK(contents.size() % kShortRecordWidth == 0);
        FUZZ_CHECK(contents.size() <= kSetMealContentRecordLimit * kShortRecordWidth);
    } catch (const PackError& e) {
        FUZZ_CHECK(*e.what() != '\0');
    }
}

void CheckAmount(const std::string& amount) {
    try {
        FUZZ_CHECK(records::AmountInHundredths(amount) <= 65535);
    } catch (const PackError& e) {
        FUZZ_CHECK(std::string(e.what()).find(amount) != std::string::npos);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const std::vector<std::string> lines = records::TableLines(bytes);
    CheckDishes(lines);
    CheckSetMeals(lines);
    CheckFixedWidth(lines, kCategoryLineLimit, false, kShortRecordWidth);
    CheckFixedWidth(lines, kRequirementLineLimit, true, kShortRecordWidth);
    CheckFixedWidth(lines, kReturnReasonLineLimit, true, kShortRecordWidth);
    CheckFixedWidth(lines, 0, true, kPyRecordWidth);
    CheckAmount(text::Trim(lines.empty() ? std::string() : lines[0]));
    return 0;
}
