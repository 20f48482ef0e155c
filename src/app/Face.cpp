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
    if (choice.face == Face::Window && !Set(env.platform)) {
        choice.platforms = Set(env.wayland) ? "wayland;xcb;offscreen" : "xcb;offscreen";
    }
    return choice;
}

bool FellBackWithoutScreen(const FaceChoice& choice, const std::string& platformName) {
    return !choice.platforms.empty() && platformName == "offscreen";
}

std::string NoScreenMessage(const FaceEnvironment& env) {
    auto value = [](const char* variable) { return Set(variable) ? variable : "(unset)"; };
    return std::string("the display cannot be reached (DISPLAY=") + value(env.display) +
           ", WAYLAND_DISPLAY=" + value(env.wayland) + "); running without a window";
}

} // namespace app
