#include "resources/ResourceTypes.h"

#include <cstring>

const DataManagerInfo kDataManagers[] = {
    {"ScriptGlobals", ".xls", ".txt4", 33, "Game global variables data", "var", ""},
    {"ScriptLocales", ".xls", ".txt4", 34, "Game locales variables data", "loc", ""},
    {"QuestDataManager", ".xls", ".quest", 36, "Game quests data", "", ""},
    {"DialogDataManager", ".xls", ".dlg", 37, "Game dialogs data", "", "@"},
    {"AnimationTrackerMapManager", ".xls", ".amap", 38, "Game animation bones map DB", "", ""},
    {"AnimCtrlRulesManager", ".xls", ".adb", 39, "Game animation rules DB", "", ""},
    {"LightSetLibrary", ".txt", ".ls", 41, "Lightset DB", "", ""},
    {"SkyDataManager", ".txt", ".sky", 42, "Sky colors DB", "", ""},
    {"SurfaceDataManager", ".txt", ".mat", 43, "Physics surfaces DB", "", ""},
    {"WaypointDataManager", ".txt", ".wp", 44, "Game waypoints data", "", ""},
    {"SceneActionDataManager", ".txt", ".as", 45, "Screen actions data", "", ""},
    {"RainMapDataManager", ".xls", ".rain", 46, "Rain map database", "", ""},
    {"ParticleDataManager", ".xls", ".xls-effect", 8, "Particles Database", "", ""},
    {"MorphDataManager", ".trk", ".lip", 27, "Leap synchronization DB", "", ""},
};
const std::int32_t kDataManagerCount = sizeof(kDataManagers) / sizeof(kDataManagers[0]);

const DataManagerInfo* findDataManagerInfo(const char* className) {
    if (!className) return nullptr;
    for (const DataManagerInfo& info : kDataManagers)
        if (std::strcmp(info.className, className) == 0) return &info;
    return nullptr;
}

const ResourceTypeInfo kResourceTypes[] = {
    {"Lua sources database", {".lua", ""}, "", "lua file", "lua file  data"},
    {"Scene database", {".ms4", ""}, "", "scene", "scene data"},
    {"Rain map database", {".rain", ".raindata"}, "", "rain", "rain data"},
    {"Fonts database", {".font4", ""}, "", "font", "font data"},
    {"Leap synchronization DB", {".lip", ""}, "", "model morph", "leap morpher"},
    {"Physics Models Database", {".fh4", ".fy3"}, "", "physic object", "physic model"},
    {"Models Database", {".mh4", ".my3"}, "", "object", "model"},
    {"Pathfinding grid Database", {".grid", ""}, "", "grid", "pathfind"},
    {"Sprites Database", {".sprite", ""}, "", "sprite", "sprite data"},
    {"Movies Database", {".bik", ""}, "", "movie", "movie source"},
    {"Particles Database", {".effect", ""}, "", "particle", "particle data"},
    {"Lights run-time Database", {"", ""}, "", "light", "Y3Light"},
    {"Animations Database", {".ani4", ".events"}, "", "animation", "animation data"},
    {"Animations map", {".amap", ""}, "", "amap", "amap data"},
    {"Lightset DB", {".ls", ""}, "", "lightset", "lightset data"},
    {"Sky colors DB", {".sky", ""}, "", "sky data", ""},
    {"Physics surfaces DB", {".mat", ""}, "", "surface", "physics material"},
    {"Game dialogs data", {".dlg", ""}, "", "dialog", "dialog data"},
    {"Game quests data", {".quest", ""}, "", "quest", "quest data"},
    {"Screen actions data", {".as", ""}, "", "actions", "actions data"},
    {"Game waypoints data", {".wp", ""}, "", "waypoints", "waypoints data"},
    {"Game global variables data", {".txt4", ".ptxt4"}, "var", "globals", "globals data"},
    {"Game locales variables data", {".txt4", ".ptxt4"}, "loc", "locales", "locales data"},
    {"Game debug locales variables data", {".txt4", ""}, "loc_dbg", "debug locales", "debug locales data"},
    {"Sound voices DB", {".ogg", ""}, "voice", "voice", "voice_ogg"},
    {"Sound effect DB", {".ogg", ""}, "effect", "effect", "effect_ogg"},
    {"Sound ambient DB", {".ogg", ""}, "ambient", "ambient", "ambient_ogg"},
    {"Sound music DB", {".ogg", ""}, "music", "music", "music_ogg"},
    {"Game animation rules DB", {".adb", ""}, "", "anim rules", "anim rules data"},
    {"Game animation bones map DB", {".amap", ""}, "", "anim map", "anim map data"},
};
const std::int32_t kResourceTypeCount = sizeof(kResourceTypes) / sizeof(kResourceTypes[0]);

const ResourceTypeInfo* findResourceType(const char* title) {
    if (!title) return nullptr;
    for (const ResourceTypeInfo& info : kResourceTypes)
        if (std::strcmp(info.title, title) == 0) return &info;
    return nullptr;
}

namespace {

// Indexed by ResourceKind.
const ResourceDescriptor kDescriptors[] = {
    {"model", "object", ".mh4", "", ".my3", "", ""},
    {"sprite data", "sprite", ".sprite", "", "", "", ""},
    {"particle data", "particle", ".effect", "", "", ".xls", ""},
    {"scene data", "scene", ".ms4", "", "", "", ""},
    {"Y3Light", "light", "", "", "", "", ""},
    {"font data", "font", ".font4", "", "", "", ""},
    {"waypoints data", "waypoints", ".wp", "", "", ".txt", ""},
    {"actions data", "actions", ".as", "", "", ".txt", ""},
    {"pathfind", "grid", ".grid", "", "", "", ""},
    {"dialog data", "dialog", ".dlg", "", "", ".xls", ""},
    {"quest data", "quest", ".quest", "", "", ".xls", ""},
    {"sky data", "sky", ".sky", "", "", ".txt", ""},
    {"rain data", "rain", ".rain", "", ".raindata", ".xls", ""},
    {"animation data", "animation", ".ani4", ".events", "", "", ""},
    {"anim map data", "anim map", ".amap", "", "", ".xls", ""},
    {"anim rules data", "anim rules", ".adb", "", "", ".xls", ""},
    {"leap morpher", "model morph", ".lip", "", "", ".trk", ""},
    {"physic model", "physic object", ".fh4", "", ".fy3", "", ""},
    {"movie source", "movie", ".bik", "", "", "", ""},
};
static_assert(sizeof(kDescriptors) / sizeof(kDescriptors[0]) == static_cast<std::size_t>(ResourceKind::Count));

}  // namespace

const ResourceDescriptor& resourceDescriptor(ResourceKind kind) {
    const auto index = static_cast<std::int32_t>(kind);
    if (index < 0 || index >= static_cast<std::int32_t>(ResourceKind::Count)) return kDescriptors[0];
    return kDescriptors[index];
}
