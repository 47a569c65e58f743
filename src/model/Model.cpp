#include "model/Model.h"

#include <cstdio>

#include "app/GameCore.h"
#include "foundation/IniFile.h"
#include "foundation/SettingsReader.h"

namespace {

ModelSettings modelSettings;

}  // namespace

void Model::readConfig() {
    if (!gameCore.settings) return;
    IniFile& ini = *gameCore.settings;
    ModelSettings& s = modelSettings;
    readSetting(ini.getCategory("debug"), "debug_model_name", s.debugModelName, "hero");
    IniCategory& ffp = ini.getCategory("render_ffp");
    readSetting(ffp, "max_ffp_model_lights", s.maxFfpModelLights, 4);
    IniCategory& render = ini.getCategory("render");
    readSetting(render, "enable_lod1_footsteps", s.enableLod1Footsteps, true);
    readSetting(render, "enable_lod1_sounds", s.enableLod1Sounds, false);
    readSetting(render, "enable_lod1_particles", s.enableLod1Particles, false);
    readSetting(render, "enable_lod2_footsteps", s.enableLod2Footsteps, false);
    readSetting(render, "enable_lod2_sounds", s.enableLod2Sounds, false);
    readSetting(render, "enable_lod2_particles", s.enableLod2Particles, false);
    readSetting(render, "lightarea_test_shere_radius", s.lightAreaTestSphereRadius, 1.0f);
    readSetting(ffp, "enable_ffp_animation_lod_update", s.enableFfpAnimationLodUpdate, false);
    const std::int32_t periods[3] = {1, 2, 4};
    for (int lod = 0; lod < 3; ++lod) {
        char key[48];
        std::snprintf(key, sizeof(key), "ffp_animation_lod_update_period[%d]", lod);
        readSetting(ffp, key, s.ffpAnimationLodUpdatePeriod[static_cast<std::size_t>(lod)], periods[lod]);
    }
}

const ModelSettings& Model::settings() { return modelSettings; }
