#include "menu/DownloadImage.h"
#include "menu/MenuTestSupport.h"

#include <sys/wait.h>

using namespace menu;
using namespace menutest;
namespace fs = std::filesystem;

namespace {

struct ToolRun {
    int status = -1;
    std::string err;
};

// Runs dcrelay-pack in `cwd` with `args`, standard error captured.
ToolRun Pack(const std::string& cwd, const std::string& args) {
    std::string errFile = cwd + ".pack-stderr";
    std::string command = "cd '" + cwd + "' && '" + DCRELAY_BIN_DIR + "/dcrelay-pack' " + args +
                          " >/dev/null 2>'" + errFile + "'";
    int raw = std::system(command.c_str());
    ToolRun run;
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    run.err = *text::ReadFile(errFile);
    fs::remove(errFile);
    return run;
}

void CopyExample(const std::string& to) {
    fs::copy(std::string(DCRELAY_SOURCE_DIR) + "/examples/menu", to, fs::copy_options::recursive);
}

} // namespace

TEST(PackTool, ExitStatusAndMessages) {
    MenuDir top;
    fs::create_directory(top.path + "menu");
    CopyExample(top.path + "menu");

    for (const char* dirArg : {"menu", "menu/"}) {
        SCOPED_TRACE(dirArg);
        fs::remove(top.path + "menu/FF.bin");
        ToolRun run = Pack(top.path, dirArg);
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.err, "");
        EXPECT_EQ(fs::file_size(top.path + "menu/FF.bin"), kImageSize);
    }

    fs::remove(top.path + "menu/FF.bin");
    EXPECT_EQ(Pack(top.path + "menu/", "").status, 0); // the current directory
    EXPECT_TRUE(fs::exists(top.path + "menu/FF.bin"));

    fs::remove(top.path + "menu/py.txt");
    ToolRun missing = Pack(top.path, "menu");
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.err, "不存在\"py.txt\",不能打包\n"); // UTF-8 on standard error

    EXPECT_EQ(Pack(top.path, "nowhere").status, 1);
    EXPECT_EQ(Pack(top.path, "a b").status, 1); // two arguments
}
