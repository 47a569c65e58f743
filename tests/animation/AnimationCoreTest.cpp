// The animation core's debug settings.
#include <gtest/gtest.h>

#include "animation/AnimationCore.h"
#include "foundation/IniFile.h"
#include "support/TestSupport.h"

namespace {

TEST(AnimationCore, DebugSettingsTakeTheirDefaultsAndAddMissingKeys) {
    testing_support::ScopedGameCore scoped;
    IniFile settings;
    testing_support::ScopedCoreMember useSettings(gameCore.settings, &settings);
    AnimationCore core;
    core.readDebugConfig();
    EXPECT_EQ(animationDebugSettings.animationName, "hero.idle");
    EXPECT_EQ(animationDebugSettings.boneName, "root");
    ASSERT_NE(settings.findCategory("debug"), nullptr);
    EXPECT_NE(settings.findCategory("debug")->findVariable("debug_animation_name"), nullptr);
    EXPECT_NE(settings.findCategory("debug")->findVariable("debug_bone_name"), nullptr);

    settings.getCategory("debug").getVariable("debug_bone_name").setString("spine");
    core.readDebugConfig();
    EXPECT_EQ(animationDebugSettings.boneName, "spine");
}

}  // namespace
