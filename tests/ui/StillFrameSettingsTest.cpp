// The still-frame and helper-overlay settings read from the INI store.
#include <gtest/gtest.h>

#include "support/SettingsFixture.h"
#include "ui/StillFrameSettings.h"

namespace {

TEST(StillFrameSettings, DefaultsForMissingKeysAndValuesFromTheStore) {
    testing_support::SettingsFixture f;
    f.set("stillframe", "default_sf_gravitation.y", "-9.5")
        .set("tools", "sf_helper_def_count", "7")
        .set("tools", "sf_helper_bg_offset", "two")
        .set("tools", "sf_helper_text_color", "00FF00FF")
        .set("particle", "sf_particle_mask_update_period", "0.75");
    readStillFrameSettings(f.settings);
    readToolsSettings(f.settings);
    const StillFrameSettings& s = stillFrameSettings;
    EXPECT_FLOAT_EQ(s.gravitation[0], 0.0f);
    EXPECT_FLOAT_EQ(s.gravitation[1], -9.5f);
    EXPECT_FLOAT_EQ(s.blurOffsetPowerMultiplier, 2.5f);
    EXPECT_FLOAT_EQ(s.particleMaskUpdatePeriod, 0.75f);
    EXPECT_EQ(s.debugName, "");
    EXPECT_EQ(s.helperDefaultCount, 7);
    EXPECT_EQ(s.helperBackgroundOffset, 0);
    EXPECT_EQ(s.helperTextColor, "00FF00FF");
    EXPECT_EQ(s.helperBackgroundColor2, "FF8080FF");
    EXPECT_FLOAT_EQ(s.helperBorders, 4.0f);
    for (const char* key : {"sf_helper_bg_color2", "sf_helper_text_size", "sf_helper_borders"})
        EXPECT_TRUE(f.has("tools", key)) << key;
    EXPECT_TRUE(f.has("debug", "debug_sf_name"));
}

// The screen console's settings: the store's values, the defaults for
// missing keys, and the two switches of "debug" read on the first call only.
TEST(StillFrameSettings, TheConsoleSettingsAndItsSwitchesReadOnce) {
    const StillFrameSettings kept = stillFrameSettings;
    stillFrameSettings.consoleSwitchesRead = false;
    struct Case {
        const char* enable;
        const char* fontSize;
        const char* linesLimit;
        bool enabled;
        float size;
        std::int32_t limit;
    } cases[] = {
        // The first call takes the switch; the second keeps it.
        {"0", "1.25", "40", false, 1.25f, 40},
        {"1", "", "", false, 0.85f, 250},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fontSize);
        testing_support::SettingsFixture f;
        f.set("debug", "con_enable", c.enable)
            .set("console", "font_size", c.fontSize)
            .set("console", "screen_log_lines_limit", c.linesLimit)
            .set("console", "font", "mono");
        readConsoleSettings(f.settings);
        const StillFrameSettings& s = stillFrameSettings;
        EXPECT_EQ(s.conEnable, c.enabled);
        EXPECT_TRUE(s.conForceErrors);
        EXPECT_FLOAT_EQ(s.consoleFontSize, c.size);
        EXPECT_EQ(s.consoleLinesLimit, c.limit);
        EXPECT_EQ(s.consoleFont, "mono");
        EXPECT_FLOAT_EQ(s.consoleScrollPixelsPerSecond, 300.0f);
        EXPECT_FLOAT_EQ(s.consoleHidePixelsHeight, 500.0f);
        EXPECT_FLOAT_EQ(s.consoleHideDuration, 2.0f);
        EXPECT_FLOAT_EQ(s.consoleBottomLine, 768.0f);
        EXPECT_TRUE(f.has("console", "bottom_line"));
    }
    stillFrameSettings = kept;
}

}  // namespace
