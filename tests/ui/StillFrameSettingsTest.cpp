// The still-frame and helper-overlay settings read from the INI store.
#include <gtest/gtest.h>

#include "foundation/IniFile.h"
#include "support/TestSupport.h"
#include "ui/StillFrameSettings.h"

namespace {

TEST(StillFrameSettings, DefaultsForMissingKeysAndValuesFromTheStore) {
    testing_support::ScopedGameCore scoped;
    IniFile settings;
    settings.getCategory("stillframe").getVariable("default_sf_gravitation.y").setString("-9.5");
    settings.getCategory("tools").getVariable("sf_helper_def_count").setString("7");
    settings.getCategory("tools").getVariable("sf_helper_bg_offset").setString("two");
    settings.getCategory("tools").getVariable("sf_helper_text_color").setString("00FF00FF");
    readStillFrameSettings(settings);
    readToolsSettings(settings);
    const StillFrameSettings& s = stillFrameSettings;
    EXPECT_FLOAT_EQ(s.gravitation[0], 0.0f);
    EXPECT_FLOAT_EQ(s.gravitation[1], -9.5f);
    EXPECT_FLOAT_EQ(s.blurOffsetPowerMultiplier, 2.5f);
    EXPECT_EQ(s.debugName, "");
    EXPECT_EQ(s.helperDefaultCount, 7);
    EXPECT_EQ(s.helperBackgroundOffset, 0);
    EXPECT_EQ(s.helperTextColor, "00FF00FF");
    EXPECT_EQ(s.helperBackgroundColor2, "FF8080FF");
    EXPECT_FLOAT_EQ(s.helperBorders, 4.0f);
    for (const char* key : {"sf_helper_bg_color2", "sf_helper_text_size", "sf_helper_borders"})
        EXPECT_NE(settings.findCategory("tools")->findVariable(key), nullptr) << key;
    EXPECT_NE(settings.findCategory("debug")->findVariable("debug_sf_name"), nullptr);
}

}  // namespace
