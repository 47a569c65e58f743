#include "scene/SceneSettings.h"

#include "foundation/IniFile.h"
#include "foundation/SettingsReader.h"

SceneSettings sceneSettings;

void readSceneSettings(IniFile& settings) {
    SceneSettings& s = sceneSettings;
    IniCategory& game = settings.getCategory("game");
    readSetting(game, "is2d", s.is2d, false);
    IniCategory& grid = settings.getCategory("grid");
    readSetting(grid, "render_grid_obstacles_test", s.renderGridObstaclesTest, false);
    readSetting(grid, "render_grid_obstacles_offset", s.renderGridObstaclesOffset, 0.01f);
    readSetting(grid, "render_grid_obstacles_test_offset", s.renderGridObstaclesTestOffset, 0.005f);
    readSetting(grid, "grid_update_period", s.gridUpdatePeriod, 1.0f);
    readSetting(grid, "grid_validate_mult_offset", s.gridValidateMultOffset, 1.5f);
    readSetting(grid, "grid_collision_mult_offset", s.gridCollisionMultOffset, 1.5f);
    readSetting(grid, "render_grid_obstacles_height", s.renderGridObstaclesHeight, 1.8f);
    readSetting(grid, "render_grid_validate_height", s.renderGridValidateHeight, 1.5f);
    IniCategory& npc = settings.getCategory("npc");
    readSetting(npc, "npc_randomizer_update_period", s.npcRandomizerUpdatePeriod, 2.0f);
    readSetting(game, "default_bg_color", s.defaultBackgroundColor, "203050");
}

void readPVSSettings(IniFile& settings) {
    readSetting(settings.getCategory("debug"), "debug_area_name", sceneSettings.debugAreaName, "");
}
