#include "FuzzSupport.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace fuzz {

void Fail(const char* expectation, const char* file, int line) {
    std::fprintf(stderr, "%s:%d: expectation failed: %s\n", file, line, expectation);
    std::abort();
}

namespace {

std::string BaseDir() {
    if (const char* tmp = std::getenv("TMPDIR"); tmp != nullptr && *tmp != '\0') {
        return tmp;
    }
    return ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
}

std::string& DirPath() {
    static std::string path;
    return path;
}

void RemoveScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(DirPath(), ignored);
}

} // namespace

const std::string& ScratchDir() {
    std::string& path = DirPath();
    if (path.empty()) {
        std::string tmpl = BaseDir() + "/dcrelay-fuzz-XXXXXX";
        FUZZ_CHECK(::mkdtemp(tmpl.data()) != nullptr);
        path = tmpl + "/";
        std::atexit(RemoveScratchDir);
    }
    return path;
}

void ClearScratchDir() {
    for (const auto& entry : std::filesystem::directory_iterator(ScratchDir())) {
        std::filesystem::remove_all(entry.path());
    }
}

std::string WriteScratchFile(const std::string& name, const std::string& bytes) {
    const std::string path = ScratchDir() + name;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    FUZZ_CHECK(out.good());
    return path;
}

} // namespace fuzz
