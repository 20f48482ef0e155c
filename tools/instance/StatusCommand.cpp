#include "StatusCommand.h"

#include "JsonLine.h"
#include "app/StatusSnapshot.h"
#include "hostlink/PrivateStream.h"
#include "hostlink/RuntimeDir.h"

#include <filesystem>

namespace fs = std::filesystem;

namespace instance {
namespace {

// No relay answers for this installation: one line, or a JSON object with "running": false.
int NotRunning(const StatusOptions& o, const std::string& why, std::FILE* out) {
    if (o.json) {
        std::fprintf(out, "%s\n",
                     simjson::JsonLine()
                         .Bool("running", false)
                         .Str("program_dir", o.dir)
                         .Str("reason", why)
                         .Text()
                         .c_str());
    } else {
        std::fprintf(out, "not running: %s\n", why.c_str());
    }
    return kNotRunning;
}

bool SameDirectory(const std::string& a, const std::string& b) {
    std::error_code ec;
    return fs::equivalent(a, b, ec);
}

} // namespace

int RunStatus(const StatusOptions& o, std::FILE* out) {
    const std::string runtime = hostlink::RuntimeDirPath();
    app::StatusQuestion question;
    question.json = o.json;
    question.stuckAfter = o.stuckAfter;
    const hostlink::PrivateAnswer asked = hostlink::AskPrivateStream(
        runtime, hostlink::kStatusSocket, app::FormatQuestion(question), o.timeout);
    if (asked.kind == hostlink::PrivateAnswer::Kind::NoListener) {
        return NotRunning(o, "no relay of this user runs (runtime directory " + runtime + ")", out);
    }
    const std::optional<app::StatusAnswer> answer = app::ParseAnswer(asked.text);
    if (!answer) {
        std::fprintf(out, "degraded: a relay runs but gave no status within %lld ms\n",
                     static_cast<long long>(o.timeout.count()));
        return kDegraded;
    }
    if (!SameDirectory(answer->programDir, o.dir)) {
        return NotRunning(o, "the relay that runs serves " + answer->programDir, out);
    }
    std::fputs(answer->body.c_str(), out);
    return answer->degraded ? kDegraded : kHealthy;
}

} // namespace instance
