#include "platform/Display.h"

#include <SDL.h>

namespace platform {

namespace {

// The display query's own hold on the video subsystem (see desktopMode).
bool g_queryHoldsVideo = false;

// The desktop mode of the first display; false without one. When nothing
// else holds the video subsystem, the first question opens it and keeps it
// open until the window is made (releaseDisplayQuery): each opening costs a
// round of connections to the display server, and the video settings ask
// several times before the window exists.
bool desktopMode(SDL_DisplayMode& mode) {
    if (!SDL_WasInit(SDL_INIT_VIDEO)) {
        if (!openVideoSubsystem()) return false;
        g_queryHoldsVideo = true;
    }
    return SDL_GetNumVideoDisplays() > 0 && SDL_GetDesktopDisplayMode(0, &mode) == 0;
}

}  // namespace

bool openVideoSubsystem() {
    // The engine handles the stop signals itself (installStopSignals).
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    // Read when the video subsystem opens; the environment's value wins.
    SDL_SetHint(SDL_HINT_VIDEO_X11_FORCE_EGL, "1");
    return SDL_InitSubSystem(SDL_INIT_VIDEO) == 0;
}

void releaseDisplayQuery() {
    if (!g_queryHoldsVideo) return;
    g_queryHoldsVideo = false;
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
}

bool desktopResolution(std::int32_t& width, std::int32_t& height) {
    width = 1024;
    height = 768;
    SDL_DisplayMode mode{};
    const bool found = desktopMode(mode) && mode.w > 0 && mode.h > 0;
    if (found) {
        width = mode.w;
        height = mode.h;
    }
    return found;
}

std::int32_t displayRefreshRate() {
    SDL_DisplayMode mode{};
    return desktopMode(mode) && mode.refresh_rate > 0 ? mode.refresh_rate : 0;
}

}  // namespace platform
