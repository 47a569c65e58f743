// The player's video, sound and control options: the options in force and
// the copy the setup screens edit.
#pragma once

#include <cstdint>

// One set of options. The video and sound blocks are copied word for word
// into and out of the video and sound cores' own setup records.
struct SetupOptions {
    // 1: the video device must be reset; 2: some video option changed.
    std::uint32_t changeFlags = 0;
    std::uint32_t video[19] = {};
    std::uint32_t sound[13] = {};
    float mouseSensitivity = 0.0f;   // percent
    float cameraSensitivity = 0.0f;  // percent
    std::uint8_t invertCamera = 0;
    std::uint8_t subtitles = 0;
    std::int32_t crosshairIndex = 0;
    float crosshairAlpha = 0.0f;
    float crosshairSize = 0.0f;
    std::uint8_t autorun = 0;
};

class GameSetup {
public:
    GameSetup() = default;
    GameSetup(const GameSetup&) = delete;
    GameSetup& operator=(const GameSetup&) = delete;

    SetupOptions applied;
    SetupOptions edited;
};
