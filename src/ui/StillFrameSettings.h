// The still-frame settings read once at start from the INI store. Missing
// keys are added to the store without a value and keep their defaults;
// colours stay as their hexadecimal text (RRGGBBAA).
#pragma once

#include <cstdint>
#include <string>

class IniFile;

struct StillFrameSettings {
    // Section "debug": an item singled out for diagnostics.
    std::string debugName;
    // Section "stillframe": default gravity of still-frame particles and the
    // scale of blur offsets.
    float gravitation[3] = {0.0f, -500.0f, 0.0f};
    float blurOffsetPowerMultiplier = 2.5f;
    // Section "particle": seconds between rebuilds of an item particle's
    // spawn list from its mask.
    float particleMaskUpdatePeriod = 0.3f;
    // Section "tools": the helper overlay.
    std::string helperBackgroundColor2 = "FF8080FF";
    std::string helperTextColor2 = "FFFFFF80";
    std::string helperBackgroundColor = "808080A0";
    std::string helperTextColor = "FFFFFFFF";
    std::int32_t helperBackgroundOffset = 0;
    float helperTextSize = 1.0f;
    float helperBorders = 4.0f;
    std::int32_t helperDefaultCount = 15;
    // Sections "debug" (the switches, read once) and "console": the screen
    // console over the still frames.
    bool conEnable = true;
    bool conForceErrors = true;
    float consoleFontSize = 0.85f;
    std::string consoleFont = "console";
    float consoleScrollPixelsPerSecond = 300.0f;
    float consoleHidePixelsHeight = 500.0f;
    float consoleHideDuration = 2.0f;
    float consoleBottomLine = 768.0f;
    std::int32_t consoleLinesLimit = 250;
    bool consoleSwitchesRead = false;
};

extern StillFrameSettings stillFrameSettings;

// Sections "debug", "stillframe" and the item particles' key of "particle".
void readStillFrameSettings(IniFile& settings);
// Sections "debug" (the console switches, on the first call only) and
// "console".
void readConsoleSettings(IniFile& settings);
// Section "tools".
void readToolsSettings(IniFile& settings);
