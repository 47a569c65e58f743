// A model element: the run-time record of one element of a model resource
// (a body, a head, a cloak), with its three level-of-detail slots. While
// pushed, a slot holds the materials of its mesh's subsets (one each), the
// per-object skinned copy of the mesh, the skinning palette and its
// instancing request. The renderer's element drawing paths read the current
// slot's material and geometry, the element's world matrix and the lights
// collected for the element.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "foundation/Intersection.h"
#include "model/DXStreams.h"
#include "model/Y3Mesh.h"
#include "platform/d3d9/D3D9.h"
#include "scene/GameObject.h"

class ClothInstance;
class Material;
class MeshAnimInstance;
class Model;
struct LightSet;
class Y3ModelDefault;
struct ModelElementData;
struct ShadowRecord;

// Bits of ModelElement::flags; the top byte is the element's texture set.
constexpr std::uint32_t kElementDrawn = 0x2;
constexpr std::uint32_t kElementEnabled = 0x4;
constexpr std::uint32_t kElementLit = 0x8;
constexpr std::uint32_t kElementReflects = 0x10;
constexpr std::uint32_t kElementPushed = 0x20;
constexpr std::uint32_t kElementAnimated = 0x40;
constexpr std::uint32_t kElementRefreshed = 0x80;
// Highlighted by a script; a load clears it.
constexpr std::uint32_t kElementHighlight = 0x200;
constexpr std::uint32_t kElementStaticInstance = 0x400;
constexpr std::uint32_t kElementShadowReceiver = 0x800;
constexpr std::uint32_t kElementTextureSetShift = 24;
// The visibility bits that culling and the LOD choice keep.
constexpr std::uint32_t kElementInView = 0x1;
constexpr std::uint32_t kElementLodChanged = 0x40;
constexpr std::uint32_t kElementMoved = 0x80;
constexpr std::uint32_t kElementHiddenByDistance = 0x1000;
constexpr std::uint32_t kElementBeyondFar = 0x2000;

// One draw instance of a LOD slot: one per subset (mesh) of the slot, or
// one for a slot without a mesh. Culling refreshes them.
struct ModelDrawInstance {
    static constexpr std::uint32_t kAllowed = 0x100;
    static constexpr std::uint32_t kVisible = 0x200;
    std::uint32_t flags = 0;
    float drawFactor = 0.0f;  // 0: nothing to draw
    std::int32_t sortKey = 0;
    std::int32_t queue = 1;   // 1 opaque (near to far), 0 blended (far to near)
    float centre[3] = {};
    float radiusSquared = 0.0f;
};

// Bits of ModelElementLod::slotFlags; bits 16-23 count skinning updates.
constexpr std::uint32_t kLodPushedOk = 0x20;
constexpr std::uint32_t kLodPushed = 0x80;
constexpr std::uint32_t kLodPerLight = 0x400;
constexpr std::uint32_t kLodReflects = 0x800;
constexpr std::uint32_t kLodPaletteWanted = 0x1000;
constexpr std::uint32_t kLodCounterShift = 16;
constexpr std::uint32_t kLodCounterMask = 0xFF0000;

// One level-of-detail slot. A slot of a model draws subset `subset` of the
// resource's mesh with that subset's material (one per subset); a slot
// without a mesh draws its own triangle list, indexed when it has an index
// buffer.
struct ModelElementLod {
    ModelElementLod() = default;
    ModelElementLod(ModelElementLod&&) noexcept = default;
    ModelElementLod& operator=(ModelElementLod&&) noexcept = default;

    Material* material = nullptr;
    Y3Mesh* mesh = nullptr;
    std::int32_t subset = 0;
    std::vector<std::shared_ptr<Material>> materials;
    // Draws mesh from now on, a material per subset set up from the
    // subset's material data. Its textures are not allocated here: that is
    // the slot's push.
    void setMesh(Y3Mesh& mesh);
    DXVertexStream vertices;
    DXIndexStream indices;
    std::uint32_t primitiveCount = 0;

    // The physics cloth of the slot (not owned); null when none.
    ClothInstance* cloth = nullptr;
    // The per-object skinned copy of the mesh (owned by the mesh); null
    // when the slot has no skin or is not pushed.
    MeshAnimInstance* meshInstance = nullptr;
    std::uint32_t slotFlags = 0;
    // The slot's box placed in the world; updateBounds keeps it.
    IntersectionOBBox box;
    // Start offset of an animated slot's own animation, in [0, 1).
    float timeOffset = 0.0f;
    // Per skin bone: the skeleton bone it follows, -1 when none.
    std::vector<std::int32_t> boneIndices;
    // The mesh's bones were added to the model's skeleton at the push.
    bool skeletonBound = false;
    // Per skin bone: the matrix the skin takes.
    std::vector<MeshMatrix> palette;
    // The element is a background element ("bg_").
    bool background = false;
    // The slot's instancing request while the mesh holds it.
    std::unique_ptr<MeshInstanceMember> instanceRequest;
    // The group drawn in place of the slot's own mesh while a group item
    // is drawn through this element (its vertices are in world space).
    MeshInstance* drawGroup = nullptr;
    // Palette uploads to the skinned copy.
    std::int32_t uploads = 0;
    // The slot's draw instances (one per subset), as culling saw them.
    std::vector<ModelDrawInstance> drawInstances;
    // Sizes the draw instances to the slot's subsets and takes their keys,
    // queues, factors and the slot's bounding sphere.
    void refreshDrawInstances();

    std::uint32_t counter() const { return (slotFlags & kLodCounterMask) >> kLodCounterShift; }
    void setCounter(std::uint32_t value) {
        slotFlags = (slotFlags & ~kLodCounterMask) | ((value << kLodCounterShift) & kLodCounterMask);
    }
    // The box of the mesh placed by the model's world matrix and scale.
    void updateBounds(const Model& model);
    // Every material of the slot takes the light set's colours.
    void applyLightset(const LightSet& set);
    // Reports what a slot still holds and frees its palette and table.
    void release();
};

// What ModelElement::describe reports of an element.
struct ModelElementReport {
    std::int32_t textureSet = 0;
    // The first area the model's visibility record gives the element; -1
    // when none.
    std::int32_t pvsIndex = -1;
    // The light set whose lights the element collected, "UNDEFINED" when
    // none (127 characters at most).
    char lightSet[128] = {};
};

struct ModelElement {
    ModelElement() = default;
    // An element of the model's resource: enabled unless the resource
    // element is custom (hidden by default).
    ModelElement(Model& owner, std::int32_t elementIndex);
    ModelElement(ModelElement&&) noexcept = default;
    ModelElement& operator=(ModelElement&&) noexcept = default;
    // The saved pair: flag word and current LOD index. Reading drops the
    // collected lights and the pushed and device-data bits; a LOD index
    // outside 0..2 is refused.
    std::int32_t writeState(DataStream& stream) const;
    std::int32_t readState(DataStream& stream);

    Model* model = nullptr;
    std::int32_t index = 0;
    std::uint32_t flags = 0;
    std::vector<ModelElementLod> lods;
    // The scene lights collected for the element.
    std::vector<GameObjectLink> lights;
    // The light set whose lights were collected (not owned).
    const char* lightSetRef = nullptr;
    std::int32_t lodIndex = 0;
    std::int32_t depthKey = 0;
    std::int32_t cullKey = 0;

    D3DMATRIX world{};
    // How many per-light passes the model resource allows.
    std::int32_t passLimit = 8;
    // The per-light pass being drawn: lightPass counts the passes drawn
    // before it (0: the first, with the ambient and the material's own
    // blend; later passes add their light alone), lightRepeat is the pass
    // of a light with three passes (0 to 2). Both 0 outside the passes.
    std::int32_t lightPass = 0;
    std::int32_t lightRepeat = 0;
    // Mesh draws issued (each ends in one draw call when the level has
    // geometry).
    std::int32_t drawCount = 0;

    ModelElementLod* lod() {
        if (lodIndex < 0 || lodIndex >= static_cast<std::int32_t>(lods.size())) return nullptr;
        return &lods[static_cast<std::size_t>(lodIndex)];
    }
    const ModelElementLod* lod() const {
        if (lodIndex < 0 || lodIndex >= static_cast<std::int32_t>(lods.size())) return nullptr;
        return &lods[static_cast<std::size_t>(lodIndex)];
    }
    // The resource element, or null when the model has no loaded mesh model.
    ModelElementData* data() const;
    // The resource element's name; "NULL" without one.
    const char* getName() const;
    std::uint32_t textureSet() const { return flags >> kElementTextureSetShift; }
    // The current slot's box.
    const IntersectionOBBox& bounds() const;
    // The axis-aligned box around the eight corners of the current slot's
    // box (from 10000 and -10000 when there is no slot).
    void getBounds(float* min, float* max) const;

    // The element's texture set, visibility area and light set.
    void describe(ModelElementReport& out) const;

    // Enters the three slots (a pushed element has bit 5); false when one
    // failed.
    bool push();
    // Leaves the pushed slots and frees the collected lights.
    bool pop(bool releaseFlag);
    bool pushLod(std::int32_t slot);
    bool popLod(std::int32_t slot, bool releaseFlag);
    // The per-frame refresh of the current slot's palette and its upload.
    bool updateLod(bool force);
    // The thinned upload of the current slot's palette to its skinned
    // copy; true when it was sent.
    bool uploadPalette();
    // Destruction checks; the slots are released.
    void release();
    // Whether level slot is drawn by a static-instance group of its mesh.
    bool instancedAt(std::int32_t slot) const {
        return slot >= 0 && slot < static_cast<std::int32_t>(lods.size()) &&
               lods[static_cast<std::size_t>(slot)].instanceRequest &&
               lods[static_cast<std::size_t>(slot)].instanceRequest->instanced;
    }
    // After a move: each level's instancing request takes the level's new
    // matrix, and a group holding it merges its vertices again.
    void refreshInstanceMatrices();

    // Draws every subset of the current level through the element paths,
    // each with its own material, its lights sorted for the camera distance
    // (squared, as the resource's ranges are kept). False when nothing was
    // drawn.
    bool render(float distance = 0.0f);
    // One material of the current level (or, with a group, of the level's
    // static-instance group), distance the camera distance of the item.
    bool render(float distance, std::int32_t lodIndex, std::int32_t material, std::int32_t group);
    // Sorts the collected lights for one material: each live light loses
    // its pass mark; a light that lights the material either adds its fill
    // colour to the material's ambient term (beyond the resource's no-light
    // range, or a fill light within its fill range) or takes the mark. The
    // material's ambient term starts from zero. Gives the passes counted
    // (three for a light with three passes).
    std::int32_t sortLightPasses(float distance, Material& material);
    // The current level through the shadow paths, material by material:
    // the caster for an enabled element, the receiver for an enabled
    // shadow-receiving element of a loaded mesh model.
    bool drawShadowCaster(const ShadowRecord& record);
    bool drawShadowReceiver(const ShadowRecord& record);
    // Runs draw for each material of the current level (the level's one
    // material when it has no mesh); true when one drew.
    template <class Draw>
    bool eachMaterial(Draw draw);
    Material* material() {
        ModelElementLod* level = lod();
        return level ? level->material : nullptr;
    }
};
