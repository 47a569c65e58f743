#include "effects/EffectsSettings.h"

#include <cerrno>
#include <cstdlib>

#include "foundation/IniFile.h"

LightSettings lightSettings;
ParticleSettings particleSettings;

namespace {

void readFloat(IniCategory& section, const char* key, float& value, float defaultValue) {
    section.getVariable(key).getFloat(value, defaultValue);
}

// A whole number of at least minimum; an empty value, text that is no
// whole number, or a number below the minimum keeps the default.
void readInteger(IniCategory& section, const char* key, std::int32_t& value, std::int32_t defaultValue,
                 std::int32_t minimum) {
    value = defaultValue;
    const std::string& text = section.getVariable(key).value();
    if (text.empty()) return;
    errno = 0;
    char* end = nullptr;
    const long parsed = std::strtol(text.c_str(), &end, 10);
    if (errno == 0 && end != text.c_str() && *end == 0 && parsed >= minimum && parsed <= INT32_MAX)
        value = static_cast<std::int32_t>(parsed);
}

}  // namespace

void readLightRenderSettings(IniFile& settings) {
    IniCategory& ffp = settings.getCategory("render_ffp");
    LightSettings& s = lightSettings;
    readFloat(ffp, "fpp_diffuse_mult", s.ffpDiffuseMult, 1.5f);
    readFloat(ffp, "ffp_light_radius_mult", s.ffpLightRadiusMult, 3.0f);
    readFloat(ffp, "ffp_light_touch_radius_mult", s.ffpLightTouchRadiusMult, 3.0f);
    readFloat(ffp, "ffp_point_atten0", s.ffpPointAtten0, 0.5f);
    readFloat(ffp, "ffp_point_atten1", s.ffpPointAtten1, 0.0f);
    readFloat(ffp, "ffp_point_atten2", s.ffpPointAtten2, 0.02f);
}

void readLightSettings(IniFile& settings) {
    readFloat(settings.getCategory("render"), "fill_color_diffuse_mult", lightSettings.fillColorDiffuseMult, 0.5f);
}

void readParticleSettings(IniFile& settings) {
    ParticleSettings& s = particleSettings;
    IniCategory& particle = settings.getCategory("particle");
    readFloat(particle, "min_particle_aabb_size", s.minParticleAabbSize, 0.05f);
    readInteger(particle, "max_particle_layer_points_count", s.maxParticleLayerPointsCount, 600, 0);
    readFloat(particle, "bg_particle_simulation_fps", s.bgParticleSimulationFps, 20.0f);
    IniCategory& debug = settings.getCategory("debug");
    debug.getVariable("debug_particle_name").getString(s.debugParticleName, "");
    debug.getVariable("disable_particle_update").getBool(s.disableParticleUpdate, false);
    debug.getVariable("disable_particle_render").getBool(s.disableParticleRender, false);
}
