// A model element: one mesh of a model with its material, in up to three
// levels of detail. This is the least form the renderer's element drawing
// paths need: the current level of detail's material and geometry, the
// element's world matrix and the lights that reach it.
#pragma once

#include <cstdint>
#include <vector>

#include "model/DXStreams.h"
#include "platform/d3d9/D3D9.h"

class Material;

// Bits of a light's flag word that the drawing paths read.
constexpr std::uint32_t kElementLightPerLightPass = 0x80000000u;
constexpr std::uint32_t kElementLightThreePasses = 0x800;

struct ModelElementLight {
    D3DLIGHT9 light{};
    std::uint32_t flags = 0;
};

// One level of detail: its material and its triangle list, drawn indexed
// when the level has an index buffer. The level owns its buffers.
struct ModelElementLod {
    Material* material = nullptr;
    DXVertexStream vertices;
    DXIndexStream indices;
    std::uint32_t primitiveCount = 0;
};

struct ModelElement {
    std::vector<ModelElementLod> lods;
    std::int32_t currentLod = 0;
    D3DMATRIX world{};
    std::vector<ModelElementLight> lights;
    // How many per-light passes the model resource allows.
    std::int32_t passLimit = 8;
    bool visible = true;
    // Mesh draws issued (each ends in one draw call when the level has
    // geometry).
    std::int32_t drawCount = 0;

    ModelElementLod* lod() {
        if (currentLod < 0 || currentLod >= static_cast<std::int32_t>(lods.size())) return nullptr;
        return &lods[static_cast<std::size_t>(currentLod)];
    }
    Material* material() {
        ModelElementLod* level = lod();
        return level ? level->material : nullptr;
    }
};
