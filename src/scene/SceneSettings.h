// The scene settings of the INI store, read once at start into one
// process-wide record.
#pragma once

#include <string>

class IniFile;

struct SceneSettings {
    // Section "game".
    bool is2d = false;
    // Six hexadecimal digits.
    std::string defaultBackgroundColor = "203050";
    // Section "grid".
    bool renderGridObstaclesTest = false;
    float renderGridObstaclesOffset = 0.01f;
    float renderGridObstaclesTestOffset = 0.005f;
    float gridUpdatePeriod = 1.0f;
    float gridValidateMultOffset = 1.5f;
    float gridCollisionMultOffset = 1.5f;
    float renderGridObstaclesHeight = 1.8f;
    float renderGridValidateHeight = 1.5f;
    // Section "npc": seconds between refreshes of waypoint-linked models.
    float npcRandomizerUpdatePeriod = 2.0f;
    // Section "debug": the one visibility area singled out for debugging.
    std::string debugAreaName;
};

extern SceneSettings sceneSettings;

// Sections "game", "grid" and "npc"; missing keys are added without a value
// and keep their defaults.
void readSceneSettings(IniFile& settings);
// Section "debug": "debug_area_name".
void readPVSSettings(IniFile& settings);
