#include "platform/Display.h"

#include <SDL.h>

namespace platform {

namespace {

// The desktop mode of the first display; false without one. The video
// subsystem is opened only for the question when nothing else holds it, and
// closed again afterwards.
bool desktopMode(SDL_DisplayMode& mode) {
    const bool wasOpen = SDL_WasInit(SDL_INIT_VIDEO) != 0;
    if (!wasOpen && SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) return false;
    const bool found = SDL_GetNumVideoDisplays() > 0 && SDL_GetDesktopDisplayMode(0, &mode) == 0;
    if (!wasOpen) SDL_QuitSubSystem(SDL_INIT_VIDEO);
    return found;
}

}  // namespace

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
