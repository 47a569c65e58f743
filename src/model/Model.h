// The model game object: a placed instance of a model resource.
//
// The model object itself is not built in yet; the class keeps the model
// settings, read once at start.
#pragma once

#include <array>
#include <cstdint>
#include <string>

struct ModelSettings {
    // Section "debug": kept; no model behaviour depends on it.
    std::string debugModelName = "hero";
    // Section "render_ffp": the fixed-function path.
    std::int32_t maxFfpModelLights = 4;
    bool enableFfpAnimationLodUpdate = false;
    // Skinning update period per level of detail, in updates.
    std::array<std::int32_t, 3> ffpAnimationLodUpdatePeriod = {1, 2, 4};
    // Section "render": the events models drawn at a lower detail still raise.
    bool enableLod1Footsteps = true;
    bool enableLod1Sounds = false;
    bool enableLod1Particles = false;
    bool enableLod2Footsteps = false;
    bool enableLod2Sounds = false;
    bool enableLod2Particles = false;
    // Radius of the probe sphere of the dynamic light-set choice.
    float lightAreaTestSphereRadius = 1.0f;
};

class Model {
public:
    // Reads sections "debug", "render_ffp" and "render" of the game core's
    // settings; missing keys are added and keep their defaults.
    static void readConfig();
    static const ModelSettings& settings();
};
