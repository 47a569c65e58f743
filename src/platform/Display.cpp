#include "platform/Display.h"

#include <SDL.h>

namespace platform {

bool desktopResolution(std::int32_t& width, std::int32_t& height) {
    width = 1024;
    height = 768;
    // The video subsystem is opened only for the question when nothing else
    // holds it, and closed again afterwards.
    const bool wasOpen = SDL_WasInit(SDL_INIT_VIDEO) != 0;
    if (!wasOpen && SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) return false;
    SDL_DisplayMode mode{};
    const bool found = SDL_GetNumVideoDisplays() > 0 && SDL_GetDesktopDisplayMode(0, &mode) == 0 && mode.w > 0 &&
                       mode.h > 0;
    if (found) {
        width = mode.w;
        height = mode.h;
    }
    if (!wasOpen) SDL_QuitSubSystem(SDL_INIT_VIDEO);
    return found;
}

}  // namespace platform
