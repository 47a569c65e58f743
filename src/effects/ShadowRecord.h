// A shadow record of the scene effects: what the shadow passes of the model
// elements read of one shadow (its projection into the shadow map, its
// direction and position, its window in the map and its falloff), and the
// light it is linked to.
#pragma once

#include <cstdint>

#include "platform/d3d9/D3D9Types.h"

// A light's shadow values: intensity, falloff exponent and base, colour.
struct ShadowLightValues {
    float intensity = 1.0f;
    float exponent = 16.0f;
    float base = 2.0f;
    float colour[3] = {};
};

struct ShadowRecord {
    D3DMATRIX projection{};
    float direction[3] = {};
    float position[3] = {};
    float windowX = 0.0f;
    float windowY = 0.0f;
    float windowWidth = 1.0f;
    float windowHeight = 1.0f;
    float falloffOffset = 0.0f;
    float intensity = 1.0f;
    // The record's cell of the shadow atlas this frame: none while the size
    // is below 1 or the index negative.
    std::int32_t cellSize = 0;
    std::int32_t cellIndex = -1;
    // The shadow values of the linked light, when it has its light data.
    const ShadowLightValues* light = nullptr;
    const ShadowLightValues* linkedLight() const { return light; }
};
