// The host's display: what the video settings need before any window exists.
#pragma once

#include <cstdint>

namespace platform {

// The desktop size of the first display. Without a display (headless runs,
// no video driver) it answers false and gives 1024 x 768.
bool desktopResolution(std::int32_t& width, std::int32_t& height);
// The refresh rate of the first display in Hz; 0 when it is unknown.
std::int32_t displayRefreshRate();

}  // namespace platform
