#include "app/Face.h"

#include <cstdlib>
#include <string_view>

namespace app {
namespace {

bool Set(const char* variable) {
    return variable != nullptr && *variable != '\0';
}

// The platform name without its options ("offscreen:fontengine=freetype").
bool PlatformWithoutScreen(const char* platform) {
    if (!Set(platform)) {
        return false;
    }
    std::string_view name(platform);
    name = name.substr(0, name.find(':'));
    return name == "offscreen" || name == "minimal";
}

} // namespace

FaceEnvironment ProcessFaceEnvironment() {
    return {std::getenv("DCRELAY_FACE"), std::getenv("QT_QPA_PLATFORM"), std::getenv("DISPLAY"),
            std::getenv("WAYLAND_DISPLAY")};
}

FaceChoice ChooseFace(const FaceEnvironment& env) {
    FaceChoice choice;
    const bool withoutScreen = PlatformWithoutScreen(env.platform);
    const std::string forced = Set(env.forced) ? env.forced : "";
    if (forced == "window") {
        choice.face = Face::Window;
    } else if (forced == "headless") {
        choice.face = Face::Headless;
    } else {
        if (!forced.empty()) {
            choice.refusal = "DCRELAY_FACE='" + forced +
                             "' names no face (window or headless); choosing by the display";
        }
        const bool display = Set(env.display) || Set(env.wayland);
        choice.face = display && !withoutScreen ? Face::Window : Face::Headless;
    }
    choice.unattended = choice.face == Face::Window && withoutScreen;
    return choice;
}

} // namespace app
