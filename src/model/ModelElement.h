// A model element: one mesh of a model with its material, in up to three
// levels of detail. This is the least form the renderer's element drawing
// paths need: the current level of detail's material and geometry, the
// element's world matrix and the lights that reach it.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "model/DXStreams.h"
#include "platform/d3d9/D3D9.h"

class Material;
class Y3Mesh;

// Bits of a light's flag word that the drawing paths read.
constexpr std::uint32_t kElementLightPerLightPass = 0x80000000u;
constexpr std::uint32_t kElementLightThreePasses = 0x800;

struct ModelElementLight {
    D3DLIGHT9 light{};
    std::uint32_t flags = 0;
};

// One level of detail. A level of a model resource draws subset `subset`
// of the resource's mesh with that subset's material (one per subset, set
// up from the subset's material data); a level without a mesh draws its
// own triangle list, indexed when it has an index buffer.
struct ModelElementLod {
    Material* material = nullptr;
    Y3Mesh* mesh = nullptr;
    std::int32_t subset = 0;
    std::vector<std::shared_ptr<Material>> materials;
    // Draws mesh from now on, a material per subset set up from the
    // subset's material data. Its textures are not allocated here: that is
    // the level's push.
    void setMesh(Y3Mesh& mesh);
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
    // Draws every subset of the current level through the element paths,
    // each with its own material. False when nothing was drawn.
    bool render();
    Material* material() {
        ModelElementLod* level = lod();
        return level ? level->material : nullptr;
    }
};
