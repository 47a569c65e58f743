// A shadow record: one shadow caster lit by one shadow-casting light. The
// scene's shadow block keeps one per caster and light, fades it in and out
// when the light starts or stops lighting the caster, gives it a cell of the
// shadow atlas each frame and builds its projection; the shadow passes of
// the model elements read its projection, direction, eye, cell and weight.
#pragma once

#include <cstdint>

#include "platform/d3d9/D3D9Types.h"
#include "scene/GameObject.h"

class Light;

// A light's shadow values: intensity, falloff exponent and base, colour.
struct ShadowLightValues {
    float intensity = 1.0f;
    float exponent = 16.0f;
    float base = 2.0f;
    float colour[3] = {};
};

// Bits of ShadowRecord::flags.
constexpr std::uint32_t kShadowFadeStarted = 0x2;
constexpr std::uint32_t kShadowRemove = 0x4;

struct ShadowRecord {
    // Unit direction of the light toward the caster, from the last
    // projection.
    float direction[3] = {};
    // The projection's eye point.
    float position[3] = {};
    // World to atlas-cell matrix (row vectors).
    D3DMATRIX projection{};
    // Distance from the eye over which the receiver pass keeps the shadow's
    // strength before its falloff takes it away.
    float falloffOffset = 0.0f;
    // The cell: its corner and size in texture coordinates.
    float windowX = 0.0f;
    float windowY = 0.0f;
    float windowWidth = 1.0f;
    float windowHeight = 1.0f;
    // The record's cell of the shadow atlas this frame: none while the size
    // is below 1 or the index negative.
    std::int32_t cellSize = 0;
    std::int32_t cellIndex = -1;
    std::uint32_t flags = 0;
    // The fade: current weight, the running fade's start and end weight,
    // seconds into it (negative: none runs) and its length.
    float fade = 0.0f;
    float fadeFrom = 0.0f;
    float fadeTo = 0.0f;
    double fadeClock = -1.0;
    double fadeLength = 0.0;
    // The strength the receiver pass gives the shadow: the fade weight.
    float intensity = 1.0f;
    GameObjectLink caster;
    GameObjectLink lightLink;
    // Shadow values that stand in for the linked light's (null: the light's).
    const ShadowLightValues* light = nullptr;

    bool hasCell() const { return cellSize >= 1 && cellIndex >= 0; }
    // The light of the record when its link resolves to a light, else null.
    Light* linkedLight() const;
    // The shadow values of the record's light: the stand-in values, else
    // the linked light's light set (power, density, length, colour), else
    // the defaults. True when some light gave them.
    bool shadowValues(ShadowLightValues& out) const;
};
