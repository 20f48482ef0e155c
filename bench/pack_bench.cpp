// Time to pack menu tables filled to every area's capacity and assemble FF.bin (target: below
// 100 ms). Prints the figures of each packer and of the whole preparation.
#include "menu/DownloadImage.h"
#include "text/Files.h"
#include "text/Gbk.h"
#include "worklog/WorkLog.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

void WriteTable(const std::string& dir, const char* name, std::size_t lines,
                const std::function<std::string(std::size_t)>& line) {
    std::string bytes;
    for (std::size_t i = 0; i < lines; ++i) {
        bytes += line(i) + "\r\n";
    }
    text::WriteFileAtomic(dir + name, bytes);
}

std::string Padded(std::string s, std::size_t width) {
    s.resize(width, ' ');
    return s;
}

std::string DishLine(std::size_t i) {
    char code[8];
    std::snprintf(code, sizeof code, "%05zu01", i);
    char price[10];
    std::snprintf(price, sizeof price, " %5zu.%02zu", 10 + i % 500, i % 100);
    return Padded(code + text::ToGbk("宫保鸡丁"), 27) + price + text::ToGbk("例") + "  " + "0002" +
           "0" + Padded(text::ToGbk("微辣 花生 招牌菜"), 45) + "GBJD";
}

// Every table as long as its area holds (the set-meal contents as long as the packer reads).
void FillToCapacity(const std::string& dir) {
    using namespace menu;
    WriteTable(dir, kDishTable, 5120, DishLine);
    WriteTable(dir, kRequirementTable, 1024, [](std::size_t) { return text::ToGbk("不要辣"); });
    WriteTable(dir, kSetMealTable, 128,
               [](std::size_t i) { return std::to_string(i) + text::ToGbk(" 商务套餐"); });
    WriteTable(dir, kSetMealContentTable, 1024, [](std::size_t i) {
        return Padded(std::to_string(i % 128) + " 2000101", 16) + "    12.50" + text::ToGbk("例");
    });
    WriteTable(dir, kReturnReasonTable, 128, [](std::size_t) { return text::ToGbk("上菜太慢"); });
    WriteTable(dir, kCategoryTable, 128,
               [](std::size_t i) { return std::to_string(i) + text::ToGbk(" 热菜"); });
    WriteTable(dir, kPyTable, 416,
               [](std::size_t) { return "bao   " + text::ToGbk("包宝保饱爆"); });
}

double Millis(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

template <typename F> double TimeOnce(F&& f) {
    Clock::time_point start = Clock::now();
    f();
    return Millis(Clock::now() - start);
}

struct Figure {
    const char* name;
    std::vector<double> runs;
};

void Print(const Figure& f) {
    std::vector<double> sorted = f.runs;
    std::sort(sorted.begin(), sorted.end());
    std::printf("  %-22s min %8.3f ms   median %8.3f ms   max %8.3f ms\n", f.name, sorted.front(),
                sorted[sorted.size() / 2], sorted.back());
}

} // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
    char tmpl[] = "/tmp/dcr-bench-pack-XXXXXX";
    if (::mkdtemp(tmpl) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string dir = std::string(tmpl) + "/";
    FillToCapacity(dir);

    menu::MenuPacker packer(dir);
    WorkLog log;
    std::vector<Figure> figures = {
        {"packReturnReasons", {}}, {"packRequirements", {}},    {"packDishes", {}},
        {"packSetMeals", {}},      {"packSetMealContents", {}}, {"packCategories", {}},
        {"packPyTable", {}},       {"assembleImage", {}},       {"prepareDownload", {}}};
    bool ok = true;
    for (int r = 0; r < runs; ++r) {
        figures[0].runs.push_back(TimeOnce([&] { packer.packReturnReasons(); }));
        figures[1].runs.push_back(TimeOnce([&] { packer.packRequirements(); }));
        figures[2].runs.push_back(TimeOnce([&] { ok = ok && packer.packDishes().ok; }));
        figures[3].runs.push_back(TimeOnce([&] { packer.packSetMeals(); }));
        figures[4].runs.push_back(TimeOnce([&] { packer.packSetMealContents(); }));
        figures[5].runs.push_back(TimeOnce([&] { packer.packCategories(log); }));
        figures[6].runs.push_back(TimeOnce([&] { packer.packPyTable(); }));
        figures[7].runs.push_back(TimeOnce([&] { menu::assembleImage(dir); }));
        figures[8].runs.push_back(TimeOnce([&] { ok = ok && menu::prepareDownload(dir, log).ok; }));
    }
    std::uintmax_t imageSize = std::filesystem::file_size(dir + menu::kImageFile);
    std::filesystem::remove_all(dir);
    if (!ok || imageSize != menu::kImageSize) {
        std::fprintf(stderr, "bench-pack: packing failed\n");
        return 1;
    }

    std::printf("bench-pack: tables at capacity (5120 dishes, 1024 requirements, 128 set meals, "
                "1024 content lines, 128 reasons, 128 categories, 416 py lines), %d runs\n",
                runs);
    for (const Figure& f : figures) {
        Print(f);
    }
    std::vector<double> sorted = figures.back().runs;
    std::sort(sorted.begin(), sorted.end());
    std::printf("prepareDownload median %.3f ms (target below 100 ms): %s\n",
                sorted[sorted.size() / 2], sorted[sorted.size() / 2] < 100.0 ? "met" : "MISSED");
    return 0;
}
