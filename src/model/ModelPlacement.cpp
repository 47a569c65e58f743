// Model placement: the world matrix with change detection, poses through
// the controller or the physics model, teleports, facing, scale, eye
// height, the main character, renaming, bounds, texture and light sets.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <string>

#include "app/GameCore.h"
#include "control/ModelController.h"
#include "control/PhysicsModel.h"
#include "effects/Light.h"
#include "effects/LightSetLibrary.h"
#include "foundation/Log.h"
#include "foundation/Matrix.h"
#include "foundation/TimeCore.h"
#include "model/Model.h"
#include "model/ModelDataManager.h"
#include "render/Material.h"
#include "scene/ObjectRepository.h"
#include "scene/Scene.h"
#include "scene/Y3Pose.h"

namespace {

// Change detection of placements: components within this are unchanged.
constexpr float kPlacementEpsilon = 0.001f;

bool matrix34Equal(const Matrix34& a, const Matrix34& b, float epsilon) {
    for (int i = 0; i < 12; ++i)
        if (std::fabs(a.m[i] - b.m[i]) > epsilon) return false;
    return true;
}

}  // namespace

bool Model::setWorldMatrix(const Matrix34& value) {
    // Compared with the pose the elements were placed by, not with the last
    // call: many small steps add up to a move that is drawn.
    const bool changed = !matrix34Equal(placedPose_, value, kPlacementEpsilon);
    if (changed) stateWords[0] |= kModelTransformChanged;
    worldMatrix = value;
    matrix34Inverse(worldMatrix, inverseWorldMatrix);
    if (!changed) return false;
    placeElements();
    return true;
}

void Model::placeElements() {
    placedPose_ = worldMatrix;
    if (pvsAreaIndex >= 0) stateWords[0] |= kModelPlaceDirty;
    stateWords[0] |= kModelLightsDirty | kModelLightSetDirty | kModelPhysicsDirty;
    for (ModelElement& element : elements) {
        const ModelElementLod* level = element.lod();
        if (level && level->mesh) computeElementMatrix(*level->mesh, element.world);
        else element.world = computeElementMatrix();
        if (element.flags & kElementEnabled)
            for (ModelElementLod& slot : element.lods) slot.updateBounds(*this);
        element.refreshInstanceMatrices();
        // The element pass of culling: moved elements make the place due.
        element.flags &= ~kElementLodChanged;
        if (element.flags & kElementMoved) element.flags &= ~kElementMoved;
    }
    if (pvsAreaIndex >= 0)
        if (Scene* owner = scene()) {
            owner->pvs.updateObject(pvsAreaIndex, true);
            stateWords[0] &= ~kModelPlaceDirty;
        }
}

bool Model::setPose(const Matrix34& pose, const CurrentTime& time) {
    stateWords[0] |= kModelPlaceDirty | kModelLightsDirty | kModelLightSetDirty | kModelPhysicsDirty;
    PhysicsModel* physics = attachedPhysics();
    if (controller) {
        setWorldMatrix(pose);
        // The controller takes the pose and restarts its position smoother there.
        controller->setPose(pose, time.game.time);
        return true;
    }
    if (physics && (physics->flags & kPhysicsModelDriven)) {
        physics->applyPoseToActors(pose);
        return true;
    }
    const bool changed = setWorldMatrix(pose);
    if (physics) physics->applyPoseToActors(pose);
    return changed;
}

bool Model::teleportTo(const Matrix34& pose, const CurrentTime& time) {
    if (PhysicsModel* physics = attachedPhysics()) physics->flags |= kPhysicsModelJump;
    setPose(pose, time);
    return true;
}

void Model::followParentLink(const CurrentTime& time) {
    if (!link.parent().value) {
        engineLog().error("Can't update model link [%s]: link not initialized", name);
        return;
    }
    Matrix34 pose;
    if (!link.evaluate(pose)) return;
    if (PhysicsModel* physics = attachedPhysics()) physics->flags |= kPhysicsModelJump;
    setPose(pose, time);
}

bool Model::teleport(const char* waypoint, float offset) {
    Log& log = engineLog();
    if (!waypoint || !waypoint[0]) return log.scriptError("Fail teleport object to empty destination: [%s]->NULL", name);
    Scene* owner = scene();
    Y3Pose* target = owner ? owner->findWaypoint(waypoint, PosePoint) : nullptr;
    if (!target)
        return log.scriptError("Required waypoint with name [%s] to execute TELEPORT for object [%s]", waypoint, name);
    Matrix34 pose = target->pose;
    for (int k = 0; k < 3; ++k) pose.m[9 + k] += offset * pose.m[k];
    return teleportTo(pose, CurrentTime(-1.0));
}

void Model::getFacingMatrix(Matrix34& out) const {
    out = worldMatrix;
    for (int k = 0; k < 3; ++k) {
        out.m[k] = worldMatrix.m[6 + k];
        out.m[6 + k] = -worldMatrix.m[k];
    }
}

bool Model::setFacingDirection(const float* d) {
    const float length = d ? std::sqrt(d[0] * d[0] + d[2] * d[2]) : 0.0f;
    // A direction straight up or down (or none) has no facing: kept.
    if (!(length > 1e-6f) || !std::isfinite(length))
        return engineLog().error("Can't turn object [%s]: facing direction has no horizontal length", name);
    Matrix34 turned = worldMatrix;
    const float x = d[0] / length, z = d[2] / length;
    const float rows[9] = {x, 0.0f, z, 0.0f, 1.0f, 0.0f, -z, 0.0f, x};
    std::copy(rows, rows + 9, turned.m);
    setWorldMatrix(turned);
    return true;
}

void Model::setScale(const float* value) {
    for (int i = 0; i < 3; ++i) scale[i] = value[i];
    // The stored pose again, with every bound recomputed.
    placeElements();
}

float Model::getEyeHeight(bool stored) {
    (void)stored;
    if (controller && controller->getType() == ModelController::TypeCharacter) {
        std::int32_t bone = findBone("eyel");
        if (bone < 0) bone = findBone("bip01 head");
        if (bone >= 0) return animation.skeleton.bones[std::size_t(bone)].world.m[10] * scale[1] + 0.15f;
    }
    // A model without elements has no box and so no height.
    if (Y3ModelDefault* model = meshModel(); model && !model->elements.empty()) {
        float size[3] = {};
        model->getBoxSize(size);
        return size[1];
    }
    return 0.0f;
}

void Model::setMainCharacter(bool on) {
    if (on) stateWords[0] |= kModelMainCharacter;
    else stateWords[0] &= ~kModelMainCharacter;
    engineLog().message("Select main character [%s]", name);
    if (controller) controller->onMainCharacter();
    if (!on) return;
    if (walk_distance > 0.0f) {
        walk_distance = -1.0f;
        engineLog().scriptError(
            "Disable follow mode for object [%s] before set to main character! (model.walk_distance = -1;)", name);
    }
    if (controller) controller->stay();
}

bool Model::checkUniqueName(const char* newName) {
    if (!newName) return false;
    if (std::strcmp(newName, name) == 0) return true;
    Scene* owner = scene();
    if (owner && owner->lookupModel(newName))
        return engineLog().error("Model with name [%s] already exist in this scene", name);
    const std::string oldName = name;
    const std::uint64_t before = owner ? owner->namesBeforeRename() : 0;
    copyName(name, sizeof(name), newName);
    nameChanged();
    if (owner) owner->namesAfterRename(*this, oldName, before);
    return true;
}

void Model::getBounds(float* min, float* max) const {
    const std::uint32_t low = stateWords[0];
    if ((low & (kModelOutOfPvs | kModelGridDebug)) && !(low & kModelShadowReceivers)) return;
    for (int k = 0; k < 3; ++k) min[k] = 10000.0f, max[k] = -10000.0f;
    for (const ModelElement& element : elements) {
        float a[3], b[3];
        element.getBounds(a, b);
        for (int k = 0; k < 3; ++k) {
            min[k] = std::min(min[k], a[k]);
            max[k] = std::max(max[k], b[k]);
        }
    }
}

bool Model::setTextureSet(std::int32_t index) {
    if (index != textureSet || (stateWords[0] & kModelCreated)) {
        if (index < 0 || index > 99) {
            engineLog().error("Invalid texture set [%i] for model [%s]: Choice default value", index, name);
            index = 0;
        }
        textureSet = index;
        properties.textureSet = std::uint32_t(index);
        const bool loaded = meshModel() != nullptr;
        for (ModelElement& element : elements) {
            if (element.textureSet() == std::uint32_t(index)) continue;
            const bool repush = loaded && (element.flags & kElementPushed) && (element.flags & kElementEnabled);
            if (repush) element.pop(true);
            element.flags = (element.flags & ~(0xFFu << kElementTextureSetShift)) |
                            (std::uint32_t(index) << kElementTextureSetShift);
            if (repush) element.push();
        }
    }
    return updateLightSet();
}

void Model::applyProperties(const ModelProperty& property) {
    setTextureSet(std::int32_t(property.textureSet));
    properties.clearRules();
    properties = property;
}

void Model::applyPendingRules() {
    stateWords[0] &= ~kModelDefaultRule;
    properties.resetRuleSlots();
}

bool Model::applyLightset() {
    if (!lightSetName[0]) return false;
    LightSet* set = requestLightSet(lightSetName);
    if (!set) return false;
    for (ModelElement& element : elements) {
        element.lightSetRef = lightSetName;
        for (ModelElementLod& slot : element.lods) slot.applyLightset(*set);
    }
    for (GameObjectLink attached : lights)
        if (GameObject* object = gameCore.objects ? gameCore.objects->getObject(attached) : nullptr)
            if (auto* light = dynamic_cast<Light*>(object)) light->lightSet = set;
    return true;
}

bool Model::refreshNow(const CurrentTime& time) {
    const CurrentTime copy = time;
    stateWords[0] |= kModelPaletteRefresh | kModelLightSetDirty | kModelPlaceDirty | kModelLightsDirty | kModelInFrame |
                     kModelDrawnThisFrame | kModelActive;
    prepareFrame(copy, 0);
    updateFrame(copy, 0);
    updateDeferred();
    for (ModelElement& element : elements) {
        element.flags |= kElementLodChanged;
        if (element.flags & kElementEnabled)
            if (ModelElementLod* level = element.lod()) level->updateBounds(*this);
    }
    return cull();
}
