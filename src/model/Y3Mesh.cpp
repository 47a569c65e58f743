#include "model/Y3Mesh.h"

#include "app/GameCore.h"
#include "foundation/IniFile.h"
#include "foundation/SettingsReader.h"

namespace {

MeshSettings meshSettings;

}  // namespace

void Y3Mesh::readConfig() {
    if (!gameCore.settings) return;
    IniCategory& render = gameCore.settings->getCategory("render");
    readSetting(render, "min_instances_per_group", meshSettings.minInstancesPerGroup, -1);
    readSetting(render, "mesh_render_cache_time", meshSettings.meshRenderCacheTime, 30.0f);
    readSetting(render, "enable_mesh_caching", meshSettings.enableMeshCaching, true);
}

const MeshSettings& Y3Mesh::settings() { return meshSettings; }
