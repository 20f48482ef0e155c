// dcrelay-pack [MENU_DIR]: packs the menu tables of a directory into their binary files and the
// download image FF.bin, with the same code and messages as a download. Messages go to standard
// error as UTF-8; the exit status is 0 on success and 1 on any failure.
#include "menu/DownloadImage.h"
#include "text/Gbk.h"
#include "worklog/WorkLog.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace {

const char kUsage[] = "usage: dcrelay-pack [MENU_DIR]\n"
                      "Packs the menu tables of MENU_DIR (default: the current directory) into\n"
                      "their .bin files and the download image FF.bin.\n";

std::string MenuDirFrom(const char* arg) {
    std::string dir = arg == nullptr ? std::string(".") : std::string(arg);
    if (dir.empty() || dir.back() != '/') {
        dir += '/';
    }
    return dir;
}

void PrintMessage(const std::string& gbk) {
    std::string utf8 = text::ToUtf8(gbk) + "\n";
    std::fwrite(utf8.data(), 1, utf8.size(), stderr);
}

} // namespace

int main(int argc, char** argv) {
    if (argc > 2) {
        std::fputs(kUsage, stderr);
        return 1;
    }
    if (argc == 2 && (std::strcmp(argv[1], "-h") == 0 || std::strcmp(argv[1], "--help") == 0)) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    std::string dir = MenuDirFrom(argc == 2 ? argv[1] : nullptr);
    WorkLog log; // the category table passes through it; nothing is shown
    menu::PackResult result = menu::prepareDownload(dir, log);
    if (!result) {
        PrintMessage(result.message);
        return 1;
    }
    std::printf("%s%s: %zu bytes\n", dir.c_str(), menu::kImageFile, menu::kImageSize);
    return 0;
}
