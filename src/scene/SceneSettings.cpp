#include "scene/SceneSettings.h"

#include "foundation/IniFile.h"

SceneSettings sceneSettings;

namespace {

void readFloat(IniCategory& section, const char* key, float& value, float defaultValue) {
    section.getVariable(key).getFloat(value, defaultValue);
}

void readBool(IniCategory& section, const char* key, bool& value, bool defaultValue) {
    section.getVariable(key).getBool(value, defaultValue);
}

}  // namespace

void readSceneSettings(IniFile& settings) {
    SceneSettings& s = sceneSettings;
    IniCategory& game = settings.getCategory("game");
    readBool(game, "is2d", s.is2d, false);
    IniCategory& grid = settings.getCategory("grid");
    readBool(grid, "render_grid_obstacles_test", s.renderGridObstaclesTest, false);
    readFloat(grid, "render_grid_obstacles_offset", s.renderGridObstaclesOffset, 0.01f);
    readFloat(grid, "render_grid_obstacles_test_offset", s.renderGridObstaclesTestOffset, 0.005f);
    readFloat(grid, "grid_update_period", s.gridUpdatePeriod, 1.0f);
    readFloat(grid, "grid_validate_mult_offset", s.gridValidateMultOffset, 1.5f);
    readFloat(grid, "grid_collision_mult_offset", s.gridCollisionMultOffset, 1.5f);
    readFloat(grid, "render_grid_obstacles_height", s.renderGridObstaclesHeight, 1.8f);
    readFloat(grid, "render_grid_validate_height", s.renderGridValidateHeight, 1.5f);
    IniCategory& npc = settings.getCategory("npc");
    readFloat(npc, "npc_randomizer_update_period", s.npcRandomizerUpdatePeriod, 2.0f);
    game.getVariable("default_bg_color").getString(s.defaultBackgroundColor, "203050");
}

void readPVSSettings(IniFile& settings) {
    settings.getCategory("debug").getVariable("debug_area_name").getString(sceneSettings.debugAreaName, "");
}
