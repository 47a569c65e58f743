// The host's display: what the video settings need before any window exists.
#pragma once

#include <cstdint>

namespace platform {

// The desktop size of the first display. Without a display (headless runs,
// no video driver) it answers false and gives 1024 x 768.
bool desktopResolution(std::int32_t& width, std::int32_t& height);
// The refresh rate of the first display in Hz; 0 when it is unknown.
std::int32_t displayRefreshRate();
// Gives up the hold on the video subsystem that the questions above take
// when nothing else holds it (they keep it for the window, which is made
// next). The window's creation calls it; without a window it is kept.
void releaseDisplayQuery();
// Opens SDL's video subsystem once more (each call holds it until its own
// SDL_QuitSubSystem), with the engine's settings for it: the stop signals
// stay the engine's, and GL windows on an X display draw through EGL, the
// driver the surfaceless contexts have loaded already (GLX would load a
// second one and probe it with a window and context of its own). An
// SDL_VIDEO_X11_FORCE_EGL in the environment still decides.
bool openVideoSubsystem();

}  // namespace platform
