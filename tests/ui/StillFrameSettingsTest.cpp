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

}  // namespace
