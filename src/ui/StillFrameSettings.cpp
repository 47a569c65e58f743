#include "ui/StillFrameSettings.h"

#include <cerrno>
#include <cstdlib>

#include "foundation/IniFile.h"

StillFrameSettings stillFrameSettings;

namespace {

void readFloat(IniCategory& section, const char* key, float& value, float defaultValue) {
    section.getVariable(key).getFloat(value, defaultValue);
}

void readText(IniCategory& section, const char* key, std::string& value, const char* defaultValue) {
    section.getVariable(key).getString(value, defaultValue);
}

// A whole number; an empty value or text that is no whole number keeps the
// default.
void readInteger(IniCategory& section, const char* key, std::int32_t& value, std::int32_t defaultValue) {
    value = defaultValue;
    const std::string& text = section.getVariable(key).value();
    if (text.empty()) return;
    errno = 0;
    char* end = nullptr;
    const long parsed = std::strtol(text.c_str(), &end, 10);
    if (errno == 0 && end != text.c_str() && *end == 0 && parsed >= INT32_MIN && parsed <= INT32_MAX)
        value = static_cast<std::int32_t>(parsed);
}

}  // namespace

void readStillFrameSettings(IniFile& settings) {
    StillFrameSettings& s = stillFrameSettings;
    readText(settings.getCategory("debug"), "debug_sf_name", s.debugName, "");
    IniCategory& section = settings.getCategory("stillframe");
    readFloat(section, "default_sf_gravitation.x", s.gravitation[0], 0.0f);
    readFloat(section, "default_sf_gravitation.y", s.gravitation[1], -500.0f);
    readFloat(section, "default_sf_gravitation.z", s.gravitation[2], 0.0f);
    readFloat(section, "blur_offset_power_multiplier", s.blurOffsetPowerMultiplier, 2.5f);
}

void readToolsSettings(IniFile& settings) {
    StillFrameSettings& s = stillFrameSettings;
    IniCategory& tools = settings.getCategory("tools");
    readText(tools, "sf_helper_bg_color2", s.helperBackgroundColor2, "FF8080FF");
    readText(tools, "sf_helper_text_color2", s.helperTextColor2, "FFFFFF80");
    readText(tools, "sf_helper_bg_color", s.helperBackgroundColor, "808080A0");
    readText(tools, "sf_helper_text_color", s.helperTextColor, "FFFFFFFF");
    readInteger(tools, "sf_helper_bg_offset", s.helperBackgroundOffset, 0);
    readFloat(tools, "sf_helper_text_size", s.helperTextSize, 1.0f);
    readFloat(tools, "sf_helper_borders", s.helperBorders, 4.0f);
    readInteger(tools, "sf_helper_def_count", s.helperDefaultCount, 15);
}
