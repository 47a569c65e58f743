#include "ui/StillFrameSettings.h"

#include "foundation/IniFile.h"
#include "foundation/SettingsReader.h"
#include "ui/StillFrameItem.h"

StillFrameSettings stillFrameSettings;

void readStillFrameSettings(IniFile& settings) {
    StillFrameSettings& s = stillFrameSettings;
    readSetting(settings.getCategory("debug"), "debug_sf_name", s.debugName, "");
    IniCategory& section = settings.getCategory("stillframe");
    readSetting(section, "default_sf_gravitation.x", s.gravitation[0], 0.0f);
    readSetting(section, "default_sf_gravitation.y", s.gravitation[1], -500.0f);
    readSetting(section, "default_sf_gravitation.z", s.gravitation[2], 0.0f);
    readSetting(section, "blur_offset_power_multiplier", s.blurOffsetPowerMultiplier, 2.5f);
    StillFrameParticle::readSettings(settings);
}

void readToolsSettings(IniFile& settings) {
    StillFrameSettings& s = stillFrameSettings;
    IniCategory& tools = settings.getCategory("tools");
    readSetting(tools, "sf_helper_bg_color2", s.helperBackgroundColor2, "FF8080FF");
    readSetting(tools, "sf_helper_text_color2", s.helperTextColor2, "FFFFFF80");
    readSetting(tools, "sf_helper_bg_color", s.helperBackgroundColor, "808080A0");
    readSetting(tools, "sf_helper_text_color", s.helperTextColor, "FFFFFFFF");
    readSetting(tools, "sf_helper_bg_offset", s.helperBackgroundOffset, 0);
    readSetting(tools, "sf_helper_text_size", s.helperTextSize, 1.0f);
    readSetting(tools, "sf_helper_borders", s.helperBorders, 4.0f);
    readSetting(tools, "sf_helper_def_count", s.helperDefaultCount, 15);
}

void readConsoleSettings(IniFile& settings) {
    StillFrameSettings& s = stillFrameSettings;
    if (!s.consoleSwitchesRead) {
        IniCategory& debug = settings.getCategory("debug");
        readSetting(debug, "con_enable", s.conEnable, true);
        readSetting(debug, "con_force_errors", s.conForceErrors, true);
        s.consoleSwitchesRead = true;
    }
    IniCategory& console = settings.getCategory("console");
    readSetting(console, "font_size", s.consoleFontSize, 0.85f);
    readSetting(console, "font", s.consoleFont, "console");
    readSetting(console, "scroll_pixels_per_sec", s.consoleScrollPixelsPerSecond, 300.0f);
    readSetting(console, "hide_pixels_height", s.consoleHidePixelsHeight, 500.0f);
    readSetting(console, "hide_duration", s.consoleHideDuration, 2.0f);
    readSetting(console, "bottom_line", s.consoleBottomLine, 768.0f);
    readSetting(console, "screen_log_lines_limit", s.consoleLinesLimit, 250);
}
