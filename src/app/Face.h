// Which face dcrelay shows: the main window when there is a display, else headless. The
// environment variable DCRELAY_FACE ("window" or "headless") forces either, so that tests run
// the window face on the offscreen platform.
#pragma once

#include <string>

namespace app {

enum class Face { Window, Headless };

// The environment the choice reads; a null pointer is an unset variable.
struct FaceEnvironment {
    const char* forced = nullptr;   // DCRELAY_FACE
    const char* platform = nullptr; // QT_QPA_PLATFORM
    const char* display = nullptr;  // DISPLAY
    const char* wayland = nullptr;  // WAYLAND_DISPLAY
};
FaceEnvironment ProcessFaceEnvironment();

struct FaceChoice {
    Face face = Face::Headless;
    // The window runs where nobody sees it (the offscreen or minimal platform): its message
    // boxes and prompts are answered with their default button, as headless.
    bool unattended = false;
    // A DCRELAY_FACE value that names no face: the message to show; the automatic choice holds.
    std::string refusal;
    // For the window face when no platform is chosen: the platforms to try in order, ending
    // with offscreen, so that a display that cannot be reached falls back instead of aborting
    // the program (see FellBackWithoutScreen).
    std::string platforms;
};
FaceChoice ChooseFace(const FaceEnvironment& env);

// The window face found no screen: the toolkit took the last platform of `platforms`. The
// program then runs headless; the message says why.
bool FellBackWithoutScreen(const FaceChoice& choice, const std::string& platformName);
std::string NoScreenMessage(const FaceEnvironment& env);

} // namespace app
