#include "support/Instance.h"

#include "support/BaseSim.h"
#include "text/Files.h"
#include "text/Gbk.h"

namespace fs = std::filesystem;

namespace testsupport {

Instance::Instance(const InstanceSettings& settings) {
    fs::create_directories(dir_ + "txt");
    fs::create_directories(dir_ + "ports");
    fs::create_directories(dir_ + "x");
    fs::create_directory(RuntimeDir());
    fs::permissions(RuntimeDir(), fs::perms::owner_all, fs::perm_options::replace);
    for (const auto& e :
         fs::directory_iterator(std::string(DCRELAY_SOURCE_DIR) + "/examples/menu")) {
        if (e.is_regular_file() && e.path().extension() == ".txt") {
            fs::copy_file(e.path(), dir_ + "txt/" + e.path().filename().string());
        }
    }
    fs::create_symlink(BaseSim::BuiltProgram("dcrelay"), Relay());
    ::setenv("DCRELAY_RUNTIME_DIR", RuntimeDir().c_str(), 1);
    WriteSettings(settings);
}

void Instance::WriteSettings(const InstanceSettings& s) {
    std::string ini = "[Menu]\r\nPath=\r\nWPath=" + Exchange() + "\r\nDelay=3\r\n";
    ini += std::string("fileMode=") + (s.fileMode ? "1" : "0") + "\r\n";
    ini += std::string("test=") + (s.testMode ? "1" : "0") + "\r\n";
    for (int i = 0; i < kStationCount; ++i) {
        ini += "COM" + std::to_string(i + 1) + "=" + s.ports[i] + "\r\n";
    }
    ini += "testStr=" + text::ToGbk(s.testText) + "\r\n";
    for (int i = 0; i < kStationCount; ++i) {
        ini += "jzdz" + std::to_string(i + 1) + "=" + s.ids[i] + "\r\n";
    }
    text::WriteFileAtomic(dir_ + "dcfilepath.ini", ini);
    WriteRegistry({s.registered, {}, {}, {}});
}

void Instance::WriteRegistry(const std::vector<std::vector<std::string>>& stations) {
    std::string reg;
    for (std::size_t n = 0; n < stations.size(); ++n) {
        reg += "[" + text::ToGbk("基站") + std::to_string(n + 1) + "]\r\n";
        const std::vector<std::string>& list = stations[n];
        if (list.empty()) {
            reg += "PDA1=\r\n";
        }
        for (std::size_t i = 0; i < list.size(); ++i) {
            reg += "PDA" + std::to_string(i + 1) + "=" + list[i] + "\r\n";
        }
    }
    text::WriteFileAtomic(dir_ + "基站.ini", reg);
}

} // namespace testsupport
