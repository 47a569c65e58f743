#include "effects/EffectsSettings.h"

#include "foundation/IniFile.h"
#include "foundation/SettingsReader.h"

LightSettings lightSettings;
ParticleSettings particleSettings;
SpriteSettings spriteSettings;

void readLightRenderSettings(IniFile& settings) {
    IniCategory& ffp = settings.getCategory("render_ffp");
    LightSettings& s = lightSettings;
    readSetting(ffp, "fpp_diffuse_mult", s.ffpDiffuseMult, 1.5f);
    readSetting(ffp, "ffp_light_radius_mult", s.ffpLightRadiusMult, 3.0f);
    readSetting(ffp, "ffp_light_touch_radius_mult", s.ffpLightTouchRadiusMult, 3.0f);
    readSetting(ffp, "ffp_point_atten0", s.ffpPointAtten0, 0.5f);
    readSetting(ffp, "ffp_point_atten1", s.ffpPointAtten1, 0.0f);
    readSetting(ffp, "ffp_point_atten2", s.ffpPointAtten2, 0.02f);
}

void readLightSettings(IniFile& settings) {
    readSetting(settings.getCategory("render"), "fill_color_diffuse_mult", lightSettings.fillColorDiffuseMult, 0.5f);
}

void readParticleSettings(IniFile& settings) {
    ParticleSettings& s = particleSettings;
    IniCategory& particle = settings.getCategory("particle");
    readSetting(particle, "min_particle_aabb_size", s.minParticleAabbSize, 0.05f);
    readSetting(particle, "max_particle_layer_points_count", s.maxParticleLayerPointsCount, 600, 0);
    readSetting(particle, "bg_particle_simulation_fps", s.bgParticleSimulationFps, 20.0f);
    IniCategory& debug = settings.getCategory("debug");
    readSetting(debug, "debug_particle_name", s.debugParticleName, "");
    readSetting(debug, "disable_particle_update", s.disableParticleUpdate, false);
    readSetting(debug, "disable_particle_render", s.disableParticleRender, false);
}

void readSpriteSettings(IniFile& settings) {
    readSetting(settings.getCategory("debug"), "debug_sprite_name", spriteSettings.debugSpriteName, "");
}
