// The scene settings read from the INI store.
#include <gtest/gtest.h>

#include "scene/SceneSettings.h"
#include "support/SettingsFixture.h"

namespace {

TEST(SceneSettings, DefaultsForMissingKeysAndValuesFromTheStore) {
    testing_support::SettingsFixture f;
    f.set("npc", "npc_randomizer_update_period", "0.5").set("game", "is2d", "yes").set("grid", "grid_update_period", "");
    sceneSettings = SceneSettings{};
    sceneSettings.gridValidateMultOffset = 9.0f;  // replaced by its default
    readSceneSettings(f.settings);
    readPVSSettings(f.settings);
    EXPECT_FLOAT_EQ(sceneSettings.npcRandomizerUpdatePeriod, 0.5f);
    EXPECT_TRUE(sceneSettings.is2d);
    EXPECT_FLOAT_EQ(sceneSettings.gridUpdatePeriod, 1.0f);
    EXPECT_FLOAT_EQ(sceneSettings.gridValidateMultOffset, 1.5f);
    EXPECT_FLOAT_EQ(sceneSettings.renderGridObstaclesHeight, 1.8f);
    EXPECT_EQ(sceneSettings.defaultBackgroundColor, "203050");
    EXPECT_EQ(sceneSettings.debugAreaName, "");
    // Every key read exists in the store afterwards.
    const std::pair<const char*, const char*> keys[] = {
        {"game", "is2d"},
        {"game", "default_bg_color"},
        {"grid", "render_grid_obstacles_test"},
        {"grid", "render_grid_validate_height"},
        {"npc", "npc_randomizer_update_period"},
        {"debug", "debug_area_name"},
    };
    for (const auto& [section, key] : keys) EXPECT_TRUE(f.has(section, key)) << section << "." << key;
}

}  // namespace
