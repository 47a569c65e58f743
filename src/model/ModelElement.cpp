#include "model/ModelElement.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/GameCore.h"
#include "foundation/Log.h"
#include "foundation/MersenneTwister.h"
#include "foundation/TimeCore.h"
#include "model/Model.h"
#include "model/ModelDataManager.h"
#include "model/Y3Model.h"
#include "render/DXTextureHandler.h"
#include "render/Material.h"
#include "render/VideoSetup.h"
#include "scene/Scene.h"
#include "scene/SceneLighting.h"

namespace {

bool beginsWithBackground(const char* name) { return std::strncmp(name, "bg_", 3) == 0; }

// A LOD that carries its own animation in its skin tail is not bound to
// the skeleton: its palette comes from those matrices.
bool ownAnimation(const Y3Mesh& mesh) { return (mesh.flags() & Y3Mesh::kSkinMatrices) != 0; }

std::int32_t skinBoneCount(const Y3Mesh& mesh) { return static_cast<std::int32_t>(const_cast<Y3Mesh&>(mesh).skin().bones.size()); }

Matrix34 toMatrix34(const MeshMatrix& m) {
    Matrix34 out;
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 3; ++c) out.m[r * 3 + c] = m.m[r][c];
    return out;
}

MeshMatrix toMeshMatrix(const Matrix34& m) {
    MeshMatrix out;
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 3; ++c) out.m[r][c] = m.m[r * 3 + c];
    return out;
}

MeshMatrix multiply(const MeshMatrix& a, const MeshMatrix& b) {
    MeshMatrix out;
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 3; ++c) {
            float v = r == 3 ? b.m[3][c] : 0.0f;
            for (int k = 0; k < 3; ++k) v += a.m[r][k] * b.m[k][c];
            out.m[r][c] = v;
        }
    return out;
}

// The matrix an element's level is drawn with alone (the level's local
// matrix on the model's scaled pose): a group member's vertices take it.
MeshMatrix instanceMatrix(const Model& model, const Y3Mesh& mesh) {
    D3DMATRIX world{};
    model.computeElementMatrix(mesh, world);
    MeshMatrix out;
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 3; ++c) out.m[r][c] = world.m[r][c];
    return out;
}

}  // namespace

ModelElement::ModelElement(Model& owner, std::int32_t elementIndex) : model(&owner), index(elementIndex) {
    lods.resize(3);
    ModelElementData* resource = data();
    if (!resource) return;
    flags |= kElementEnabled;
    if (resource->flags & kElementNoRootFirst) owner.stateWords[0] |= kModelMoves;
    if (resource->flags & kElementHidden) {
        flags &= ~kElementEnabled;
        if (gameCore.debugFlags & 0x1)
            engineLog().message("Hide custom model [%s] element [%s]", owner.getName(), resource->name);
    }
    for (std::size_t slot = 0; slot < 3; ++slot) lods[slot].mesh = &resource->lods[slot];
    owner.computeElementMatrix(resource->lods[0], world);
    for (ModelElementLod& slot : lods) slot.updateBounds(owner);
}

ModelElementData* ModelElement::data() const {
    Y3ModelDefault* resource = model ? model->meshModel() : nullptr;
    if (!resource || index < 0 || index >= static_cast<std::int32_t>(resource->elements.size())) return nullptr;
    return resource->elements[static_cast<std::size_t>(index)].get();
}

const char* ModelElement::getName() const {
    const ModelElementData* resource = data();
    return resource ? resource->name : "NULL";
}

const IntersectionOBBox& ModelElement::bounds() const {
    static const IntersectionOBBox none;
    const ModelElementLod* level = lod();
    return level ? level->box : none;
}

void ModelElement::getBounds(float* min, float* max) const {
    for (int c = 0; c < 3; ++c) min[c] = 10000.0f, max[c] = -10000.0f;
    if (!lod()) return;
    const BoxVolume& box = bounds().box;
    // The box keeps its corners placed.
    for (const auto& corner : box.corners)
        for (int c = 0; c < 3; ++c) {
            min[c] = std::min(min[c], corner[c]);
            max[c] = std::max(max[c], corner[c]);
        }
}

void ModelElement::describe(ModelElementReport& out) const {
    out.textureSet = static_cast<std::int32_t>(textureSet());
    out.pvsIndex = -1;
    Scene* owner = model ? model->scene() : nullptr;
    if (owner && model->pvsAreaIndex >= 0 &&
        model->pvsAreaIndex < static_cast<std::int32_t>(owner->pvs.objects.size())) {
        const PVSObjectRecord* record = owner->pvs.objects[static_cast<std::size_t>(model->pvsAreaIndex)].get();
        if (record && index >= 0 && index < static_cast<std::int32_t>(record->elements.size()) &&
            !record->elements[static_cast<std::size_t>(index)].areas.empty())
            out.pvsIndex = record->elements[static_cast<std::size_t>(index)].areas.front();
    }
    std::snprintf(out.lightSet, sizeof(out.lightSet), "%s", lightSetRef ? lightSetRef : "UNDEFINED");
}

void ModelElementLod::updateBounds(const Model& owner) {
    if (owner.stateWords[0] & kModelGridDebug) {
        const float half[3] = {1000.0f, 1000.0f, 1000.0f};
        box.setFromExtents(matrix34Identity(), half);
        return;
    }
    Matrix34 placement = matrix34Identity();
    float half[3] = {0.5f, 0.5f, 0.5f};
    if (mesh) {
        placement = toMatrix34(mesh->boxPlacement);
        std::memcpy(half, mesh->boxBlock, sizeof(half));
    }
    Matrix34 scaled = owner.worldMatrix;
    for (int row = 0; row < 3; ++row)
        for (int k = 0; k < 3; ++k) scaled.m[row * 3 + k] *= owner.scale[row];
    const Matrix34 placed = toMatrix34(multiply(toMeshMatrix(placement), toMeshMatrix(scaled)));
    // The box matrix carries the scale in its axes; the extents are scaled
    // along them by the intersection volume.
    const float grow = (owner.stateWords[1] & kModelPhysicsOwnPose) ? 0.5f : 0.0f;
    for (float& h : half) h += grow;
    box.setFromExtents(placed, half);
}

void ModelElementLod::applyLightset(const LightSet& set) {
    for (auto& each : materials)
        if (each) each->applyLightset(set);
}

bool ModelElement::push() {
    flags &= ~kElementReflects;
    bool result = data() != nullptr;
    for (std::int32_t slot = 0; result && slot < 3; ++slot)
        if (!pushLod(slot)) result = false;
    const ModelElementLod* level = lod();
    if (result && level && (level->slotFlags & kLodPerLight)) flags |= kElementLit;
    else flags &= ~kElementLit;
    if (result) flags |= kElementPushed;
    else flags &= ~kElementPushed;
    if (result && (flags & kElementReflects) && model)
        engineLog().info("Connected reflection for %s:%s (%s)", model->getName(), getName(), model->resourceName);
    return result;
}

bool ModelElement::pop(bool releaseFlag) {
    bool result = true;
    for (std::int32_t slot = 0; slot < static_cast<std::int32_t>(lods.size()); ++slot)
        if ((lods[static_cast<std::size_t>(slot)].slotFlags & kLodPushed) && !popLod(slot, releaseFlag)) result = false;
    lights.clear();
    lightSetRef = nullptr;
    flags &= ~kElementPushed;
    return result;
}

bool ModelElement::pushLod(std::int32_t slotIndex) {
    Log& log = engineLog();
    ModelElementLod& slot = lods[static_cast<std::size_t>(slotIndex)];
    ModelElementData* resource = data();
    if ((slot.slotFlags & kLodPushed) || !slot.materials.empty())
        return log.error("Can't PUSH model element lod: POP first");
    if (!resource) return false;
    Y3Mesh& mesh = resource->lods[slotIndex];
    const double offset = MersenneTwister::nextDouble();
    slot.timeOffset = offset >= 1.0 ? 0.0f : static_cast<float>(offset);
    slot.background = beginsWithBackground(resource->name);
    slot.slotFlags |= kLodPushed;
    slot.palette.assign(static_cast<std::size_t>(skinBoneCount(mesh)), MeshMatrix{});
    bool skinData = skinBoneCount(mesh) > 0;
    if (!ownAnimation(mesh) && textureEnvironment().videoSetup().details == 0 && slot.background) {
        log.message("FFP optimization: Disable animations on object [%s](%i)", model->getName(), index);
        skinData = false;
        slot.palette.clear();
    }
    bool result = true;
    if (skinData) slot.meshInstance = mesh.createAnimInstance();
    slot.slotFlags &= ~(kLodPerLight | kLodReflects);
    slot.mesh = &mesh;
    slot.materials.clear();
    slot.material = nullptr;
    if (mesh.subsetCount() > 0) slot.setMesh(mesh);
    // The materials are made anew: they take the model's light set before
    // their textures are chosen (a specular set asks for specular maps).
    if (LightSet* set = requestLightSet(model->lightSetName)) slot.applyLightset(*set);
    for (std::size_t i = 0; i < slot.materials.size(); ++i) {
        Material& material = *slot.materials[i];
        material.selectTextureSet(static_cast<std::int32_t>(textureSet()));
        if (!material.allocate()) {
            result = log.error("Can't allocate material %i for element [%s] texture %i", static_cast<std::int32_t>(i),
                               resource->name, static_cast<std::int32_t>(textureSet()));
        }
        if (material.flags & Material::FlagLitPerLight) slot.slotFlags |= kLodPerLight;
        if (material.flags & Material::FlagWater) slot.slotFlags |= kLodReflects;
    }
    if (slot.slotFlags & kLodReflects) flags |= kElementReflects;
    if (!ownAnimation(mesh)) {
        // The skeleton re-orders and remaps these before its next update.
        if (!mesh.skin().bones.empty()) slot.skeletonBound = model->animation.bindTrackerMap(mesh);
        slot.boneIndices.clear();
        for (const MeshBone& bone : mesh.skin().bones) slot.boneIndices.push_back(model->findBone(bone.name));
    }
    bool instanced = false;
    for (std::int32_t i = 0; i < mesh.subsetCount(); ++i)
        if (mesh.subset(i).material.head.word8 != 0) instanced = true;
    const std::uint32_t state = model->stateWords[0];
    if (instanced && skinBoneCount(mesh) == 0 && !(flags & kElementReflects) &&
        !(state & (kModelHasRoot | kModelOutOfPvs | kModelGridDebug))) {
        MeshInstanceMember& request = *(slot.instanceRequest = std::make_unique<MeshInstanceMember>());
        request.modelName = model->getName();
        request.elementName = resource->name;
        request.model = model;
        request.element = index;
        // Members of a group share one material each: the same texture set
        // and light set.
        request.key.values[0] = textureSet();
        std::snprintf(request.key.name, sizeof request.key.name, "%s", model->lightSetName);
        request.matrix = instanceMatrix(*model, mesh);
        mesh.registerInstance(&request);
    }
    flags |= kElementAnimated | kElementRefreshed;
    if (result) slot.slotFlags |= kLodPushedOk;
    else slot.slotFlags &= ~kLodPushedOk;
    return result;
}

bool ModelElement::popLod(std::int32_t slotIndex, bool) {
    ModelElementLod& slot = lods[static_cast<std::size_t>(slotIndex)];
    if (!(slot.slotFlags & kLodPushed)) return engineLog().error("Can't pop model LOD element: push first");
    for (auto& material : slot.materials) material->release();
    slot.materials.clear();
    slot.material = nullptr;
    if (slot.mesh) {
        // The instancing request leaves the mesh before it is freed, so
        // that no group keeps a member that is gone.
        if (slot.instanceRequest) slot.mesh->unregisterInstance(slot.instanceRequest.get());
        if (slot.meshInstance) {
            // Its skinned copy of the streams goes first: an instance freed
            // while allocated is reported as a leak.
            if (slot.meshInstance->flags() & MeshAnimInstance::kAllocated) slot.meshInstance->deallocate();
            slot.mesh->destroyAnimInstance(slot.meshInstance);
        }
    }
    if (slot.skeletonBound && slot.mesh && model)
        for (const MeshBone& bone : slot.mesh->skin().bones) model->animation.skeleton.releaseMeshBone(bone.name);
    slot.skeletonBound = false;
    slot.instanceRequest.reset();
    slot.meshInstance = nullptr;
    slot.cloth = nullptr;
    slot.slotFlags &= ~(kLodPushed | kLodPushedOk);
    return true;
}

bool ModelElement::updateLod(bool force) {
    ModelElementLod* slot = lod();
    if (!slot) return false;
    if (force) slot->slotFlags |= kLodPaletteWanted;
    if (slot->cloth) flags |= kElementAnimated;
    ModelElementData* resource = data();
    if (!resource || !slot->mesh || slot->palette.empty()) return true;
    Y3Mesh& mesh = *slot->mesh;
    MeshSkin& skin = mesh.skin();
    if (ownAnimation(mesh)) {
        const double now = CurrentTime(-1.0).game.time;
        const double p = now + slot->timeOffset;
        const std::size_t frames = skin.tailMatrices.size() / std::max<std::size_t>(slot->palette.size(), 1);
        if (frames > 0) {
            const double fraction = p - static_cast<double>(static_cast<std::int64_t>(p));
            const std::size_t frame =
                std::min(frames - 1, static_cast<std::size_t>(fraction * static_cast<double>(frames - 1)));
            for (std::size_t b = 0; b < slot->palette.size(); ++b)
                slot->palette[b] = skin.tailMatrices[frame * slot->palette.size() + b];
        }
        flags |= kElementAnimated | kElementRefreshed;
        return true;
    }
    // Without a skeleton (no animation yet) the palette keeps its
    // identities.
    const std::vector<SkeletonBone>& skeleton = model->animation.skeleton.bones;
    if ((slot->slotFlags & kLodPaletteWanted) && !skeleton.empty()) {
        flags |= kElementAnimated | kElementRefreshed;
        for (std::size_t b = 0; b < slot->palette.size() && b < skin.bones.size(); ++b)
            slot->palette[b] = skin.bones[b].matrices[0];
        if (slot->palette.size() == slot->boneIndices.size())
            for (std::size_t b = 0; b < slot->palette.size(); ++b) {
                const std::int32_t bone = slot->boneIndices[b];
                if (bone >= 0 && bone < static_cast<std::int32_t>(skeleton.size()))
                    slot->palette[b] =
                        multiply(slot->palette[b], toMeshMatrix(skeleton[static_cast<std::size_t>(bone)].world));
            }
    }
    return uploadPalette();
}

bool ModelElement::uploadPalette() {
    ModelElementLod* slot = lod();
    if (!slot || !model) return false;
    const std::uint32_t state = model->stateWords[0];
    if (!(flags & kElementDrawn) || !(state & kModelDrawnThisFrame) || !model->isShown() || !slot->meshInstance ||
        slot->palette.size() != slot->boneIndices.size())
        return false;
    const ModelSettings& settings = Model::settings();
    if (settings.enableFfpAnimationLodUpdate) {
        // Each slot starts at a random phase so that models with the same
        // period spread their uploads over the refreshes.
        // The counter holds the refresh number plus one: it advances by one
        // a refresh and starts again at a random phase after 199.
        const std::uint32_t v = slot->counter();
        const std::uint32_t c = v <= 1 ? static_cast<std::uint32_t>(std::rand() % 200) + 1 : v - 1;
        slot->setCounter(c + 1 >= 200 ? 1 : c + 2);
        const std::int32_t at = std::clamp(lodIndex, 0, 2);
        const std::int32_t period = std::max(settings.ffpAnimationLodUpdatePeriod[static_cast<std::size_t>(at)], 1);
        if (c % static_cast<std::uint32_t>(period) != 0) return false;
    }
    if (state & kModelLastUpload) slot->slotFlags &= ~kLodPaletteWanted;
    // The fixed pipeline skins on the CPU; the shader path takes the
    // palette as constants and draws the unskinned copy.
    if (textureEnvironment().videoSetup().details == 0) {
        slot->meshInstance->skin(slot->palette.data(), static_cast<std::int32_t>(slot->palette.size()));
        ++slot->uploads;
    }
    return true;
}

void MeshInstanceMember::setGroup(MeshInstance* holder) {
    group = holder;
    instanced = holder != nullptr;
    if (!model || element < 0 || element >= static_cast<std::int32_t>(model->elements.size())) return;
    // The element is a static instance while one of its levels is drawn by
    // a group.
    ModelElement& owner = model->elements[static_cast<std::size_t>(element)];
    owner.flags &= ~kElementStaticInstance;
    for (std::size_t slot = 0; slot < owner.lods.size(); ++slot)
        if (owner.instancedAt(static_cast<std::int32_t>(slot))) owner.flags |= kElementStaticInstance;
}

void ModelElement::refreshInstanceMatrices() {
    if (!model) return;
    for (ModelElementLod& slot : lods) {
        if (!slot.instanceRequest || !slot.mesh) continue;
        MeshInstanceMember& request = *slot.instanceRequest;
        const MeshMatrix now = instanceMatrix(*model, *slot.mesh);
        if (std::memcmp(&now, &request.matrix, sizeof now) == 0) continue;
        request.matrix = now;
        if (request.group) request.group->invalidate();
    }
}

void ModelElementLod::release() {
    Log& log = engineLog();
    if (slotFlags & kLodPushed) log.error("Pop model element lod before releasing");
    if (!materials.empty()) log.error("Model lod materials not deallocated");
    if (meshInstance) log.error("Model lod instance not deallocated");
    if (cloth) log.error("Model lod cloth not deallocated");
    palette.clear();
    boneIndices.clear();
}

void ModelElement::release() {
    Log& log = engineLog();
    if ((flags & kElementEnabled) || !lights.empty())
        log.error(" Can't right delete model [%s] element: Release first", model ? model->getName() : "NULL");
    if (flags & kElementStaticInstance)
        log.error("Can't release model [%s] element [%s]: Release static instance first",
                  model ? model->getName() : "NULL", getName());
    flags &= ~kElementEnabled;
    lights.clear();
    lightSetRef = nullptr;
    for (ModelElementLod& slot : lods) slot.release();
}
