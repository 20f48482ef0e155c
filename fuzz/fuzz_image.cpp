// Image assembly: the seven tables taken from the input are packed in the scratch directory
// and FF.bin is built from them, or the download is refused with a message and no image; any
// seven section files either fit their areas in one image or are refused.
#include "FuzzSupport.h"
#include "menu/DownloadImage.h"
#include "text/Files.h"
#include "worklog/WorkLog.h"

#include <cstdint>
#include <cstdio>
#include <fuzzer/FuzzedDataProvider.h>

using namespace menu;

namespace {

const std::string& Fill() {
    static const std::string fill(kImageSize, static_cast<char>(kImageFill));
    return fill;
}

// Every area holds its section file followed by fill, as the image sizes fixed.
void CheckImage(const std::string& image, const std::array<std::string, 7>& sections) {
    FUZZ_CHECK(image.size() == kImageSize);
    for (std::size_t i = 0; i < kImageAreas.size(); ++i) {
        const ImageArea& area = kImageAreas[i];
        FUZZ_CHECK(image.compare(area.offset, sections[i].size(), sections[i]) == 0);
        const std::size_t used = sections[i].size();
        FUZZ_CHECK(
            image.compare(area.offset + used, area.size - used, Fill(), 0, area.size - used) == 0);
    }
}

// Sections that fit are placed only when the input asks for it: a 768 KiB image costs
// milliseconds under the sanitizer, and every packed download builds one anyway.
void CheckBuildImage(const std::array<std::string, 7>& sections, bool place) {
    bool tooLarge = false;
    for (std::size_t i = 0; i < kImageAreas.size(); ++i) {
        tooLarge = tooLarge || sections[i].size() > kImageAreas[i].size;
    }
    if (!tooLarge && !place) {
        return;
    }
    try {
        const std::string image = BuildImage(sections);
        FUZZ_CHECK(!tooLarge);
        CheckImage(image, sections);
    } catch (const PackError& e) {
        FUZZ_CHECK(tooLarge && *e.what() != '\0');
    }
}

// FF.bin into one buffer kept for every run (large allocations are slow under the sanitizer);
// empty when there is no such file.
const std::string& ReadImage(const std::string& path) {
    static std::string image(kImageSize + 1, '\0');
    image.resize(kImageSize + 1);
    std::FILE* file = std::fopen(path.c_str(), "rb");
    const std::size_t length = file ? std::fread(image.data(), 1, image.size(), file) : 0;
    if (file) {
        std::fclose(file);
    }
    image.resize(length);
    return image;
}

void CheckDownload(const std::array<std::string, 7>& tables) {
    fuzz::ClearScratchDir();
    const std::string& dir = fuzz::ScratchDir();
    for (std::size_t i = 0; i < kImageAreas.size(); ++i) {
        fuzz::WriteScratchFile(kImageAreas[i].table, tables[i]);
    }
    WorkLog log;
    log.Append("before");
    const PackResult result = prepareDownload(dir, log);
    const std::string& image = ReadImage(dir + kImageFile);
    if (!result) {
        FUZZ_CHECK(!result.message.empty() && image.empty());
        return;
    }
    FUZZ_CHECK(log.LineCount() == 0);
    std::array<std::string, 7> sections;
    for (std::size_t i = 0; i < kImageAreas.size(); ++i) {
        sections[i] = text::ReadFile(dir + kImageAreas[i].sectionFile).value_or("?");
    }
    CheckImage(image, sections);
}

std::string Repeated(const std::string& s, unsigned times) {
    std::string out;
    for (unsigned n = 0; n < times; ++n) {
        out += s;
    }
    return out;
}

} // namespace

// Each of the seven parts is repeated a few times, so that tables and sections can outgrow
// their areas although inputs are short.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    std::array<unsigned, 7> repeats;
    for (unsigned& times : repeats) {
        times = in.ConsumeIntegralInRange(1u, 16u);
    }
    const bool place = in.ConsumeBool();
    std::array<std::string, 7> parts;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        parts[i] = Repeated(in.ConsumeRandomLengthString(size), repeats[i]);
    }
    CheckBuildImage(parts, place);
    CheckDownload(parts);
    return 0;
}
