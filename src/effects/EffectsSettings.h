// The settings of lights, particles and sprites, read once at start from the INI
// store into process-wide records. Missing keys are added to the store
// without a value and keep their defaults.
#pragma once

#include <cstdint>
#include <string>

class IniFile;

struct LightSettings {
    // Section "render".
    float fillColorDiffuseMult = 0.5f;
    // Section "render_ffp": the fixed-function lighting.
    float ffpDiffuseMult = 1.5f;
    float ffpLightRadiusMult = 3.0f;
    float ffpLightTouchRadiusMult = 3.0f;
    float ffpPointAtten0 = 0.5f;
    float ffpPointAtten1 = 0.0f;
    float ffpPointAtten2 = 0.02f;
};

struct ParticleSettings {
    // Section "particle".
    float minParticleAabbSize = 0.05f;
    std::int32_t maxParticleLayerPointsCount = 600;
    float bgParticleSimulationFps = 20.0f;
    // Section "debug": read, steering nothing.
    std::string debugParticleName;
    bool disableParticleUpdate = false;
    bool disableParticleRender = false;
};

struct SpriteSettings {
    // Section "debug": read, steering nothing.
    std::string debugSpriteName;
};

extern LightSettings lightSettings;
extern ParticleSettings particleSettings;
extern SpriteSettings spriteSettings;

// Section "render_ffp".
void readLightRenderSettings(IniFile& settings);
// Section "render" ("fill_color_diffuse_mult").
void readLightSettings(IniFile& settings);
// Sections "particle" and "debug".
void readParticleSettings(IniFile& settings);
// Section "debug" ("debug_sprite_name").
void readSpriteSettings(IniFile& settings);
