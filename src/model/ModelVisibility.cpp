// Model visibility: showing and hiding the model and its elements, the
// element LOD choice by camera distance, and the per-frame culling that the
// model context runs for each of its models.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>

#include "app/GameCore.h"
#include "control/ModelController.h"
#include "control/PhysicsModel.h"
#include "foundation/Log.h"
#include "foundation/TimeCore.h"
#include "model/Model.h"
#include "model/ModelContext.h"
#include "model/ModelDataManager.h"
#include "render/Material.h"
#include "scene/CameraCore.h"
#include "scene/ObjectRepository.h"
#include "scene/Scene.h"

namespace {

// Game core flags read by culling: the main character is drawn by the
// character pass (0x20 without 0x10); screen-sprite mode (0x40).
constexpr std::uint32_t kGameFlagCharacterPass = 0x20;
// Scene flags: whole-model shadow receivers and path-grid debug objects are
// drawn.
constexpr std::uint32_t kSceneDrawsReceivers = 0x200;
constexpr std::uint32_t kSceneDrawsGridDebug = 0x800;

float squaredDistance(const float* a, const float* b) {
    float d2 = 0.0f;
    for (int k = 0; k < 3; ++k) d2 += (a[k] - b[k]) * (a[k] - b[k]);
    return d2;
}

bool hasGeometry(const ModelElementLod& slot) {
    return slot.mesh && slot.mesh->subsetCount() > 0;
}

}  // namespace

void ModelElementLod::refreshDrawInstances() {
    const std::size_t count = mesh ? materials.size() : 1;
    drawInstances.resize(count);
    const float* centre = &box.box.matrix.m[9];
    const float radius = box.radius();
    for (std::size_t i = 0; i < count; ++i) {
        ModelDrawInstance& draw = drawInstances[i];
        const Material* drawn = mesh ? materials[i].get() : material;
        draw.flags &= ~ModelDrawInstance::kAllowed;
        if (drawn && drawn->visible()) draw.flags |= ModelDrawInstance::kAllowed;
        draw.drawFactor = drawn ? drawn->colours[0][3] : (mesh ? 0.0f : 1.0f);
        draw.sortKey = drawn ? drawn->renderGroup : 0;
        // Blended or transparent materials go far to near after the rest.
        draw.queue = drawn && (drawn->alphaMode != 0 || drawn->colours[0][3] < 1.0f) ? 0 : 1;
        std::copy(centre, centre + 3, draw.centre);
        draw.radiusSquared = radius * radius;
    }
}

bool Model::setVisible(bool visible, float fade) {
    if (fade > 0.0f) {
        visibilityDelay = fade;
        visibilityTime = CurrentTime(-1.0).game.time + fade;
    }
    if (((stateWords[0] & kModelShown) != 0) != visible)
        engineLog().message("%s object %s", visible ? "Show" : "Hide", name);
    if (visible) stateWords[0] |= kModelShown;
    else stateWords[0] &= ~kModelShown;
    applyVisibility();
    return true;
}

void Model::applyVisibility() {
    if (PhysicsModel* physics = attachedPhysics()) physics->setVisible(nullptr, isShown());
    if (isShown() && !(stateWords[0] & kModelInContext)) {
        if (push()) stateWords[0] |= kModelPlaceDirty | kModelLightsDirty | kModelPhysicsDirty;
    } else if (!isShown() && (stateWords[0] & kModelInContext)) {
        pop(1);
    }
}

bool Model::setElementVisible(std::int32_t index, bool visible) {
    if (index < 0 || index >= std::int32_t(elements.size())) return false;
    ModelElement& element = elements[std::size_t(index)];
    if (((element.flags & kElementEnabled) != 0) == visible) return false;
    engineLog().info("%s object element [%s.%s] (%s)", visible ? "Show" : "Hide", name, element.getName(),
                     resourceName);
    const std::uint32_t low = stateWords[0];
    if (visible) {
        element.flags |= kElementEnabled;
        if ((low & kModelShadowReceivers) || !(low & (kModelOutOfPvs | kModelGridDebug))) element.flags |= kElementDrawn;
    } else {
        element.flags &= ~(kElementEnabled | kElementDrawn);
    }
    if (isShown() && (low & kModelInContext)) {
        if (visible) {
            element.push();
            stateWords[0] |= kModelPaletteRefresh;
            stateWords[1] |= kModelWavesDirty;
        } else {
            element.pop(true);
        }
    }
    if (visible) stateWords[0] |= kModelLightsDirty | kModelLightSetDirty;
    return true;
}

std::int32_t Model::findElement(const char* elementName) const {
    Y3ModelDefault* model = meshModel();
    if (!model || !elementName) return -1;
    char wanted[128] = {};
    copyName(wanted, sizeof wanted, elementName);
    for (char& c : wanted) c = char(std::tolower(static_cast<unsigned char>(c)));
    for (std::size_t i = 0; i < model->elements.size(); ++i)
        if (std::strncmp(model->elements[i]->name, wanted, sizeof wanted) == 0) return std::int32_t(i);
    return -1;
}

bool Model::initElements(std::int32_t expected) {
    Y3ModelDefault* model = meshModel();
    const std::int32_t count = model ? std::int32_t(model->elements.size()) : 0;
    if (expected >= 0 && expected != count)
        return engineLog().error("Elements count in model [%s] is Invalid. Expected %i, but found %i", name, count,
                                 expected);
    elements.clear();
    elements.reserve(std::size_t(count));
    for (std::int32_t e = 0; e < count; ++e) elements.emplace_back(*this, e);
    placedPose_ = worldMatrix;
    for (ModelElement& element : elements) {
        if (element.textureSet() != std::uint32_t(textureSet))
            element.flags = (element.flags & ~(0xFFu << kElementTextureSetShift)) |
                            (std::uint32_t(textureSet) << kElementTextureSetShift);
        if (element.flags & kElementEnabled)
            if (ModelElementLod* level = element.lod()) level->updateBounds(*this);
    }
    return true;
}

void Model::selectElementLods() {
    Scene* owner = scene();
    CameraCore* camera = owner ? owner->camera() : nullptr;
    if (!resource || !resource->hasRanges || !camera || elements.empty()) return;
    const float d2 = squaredDistance(camera->position(), &worldMatrix.m[9]);
    const float* r = resource->lodRanges;
    const float far = r[Y3ModelData::RangeTextureLod];
    for (ModelElement& element : elements) {
        if (!(element.flags & kElementEnabled)) continue;
        const bool lod1 = element.lods.size() > 1 && hasGeometry(element.lods[1]);
        const bool lod2 = element.lods.size() > 2 && hasGeometry(element.lods[2]);
        std::int32_t chosen = 0;
        const bool hidden = r[Y3ModelData::RangeHide] > 0.0f && d2 >= r[Y3ModelData::RangeHide];
        if (hidden) chosen = lod2 ? 2 : lod1 ? 1 : 0;
        else if (r[Y3ModelData::RangeLod2] > 0.0f && d2 >= r[Y3ModelData::RangeLod2] && lod2) chosen = 2;
        else if (r[Y3ModelData::RangeLod1] > 0.0f && d2 >= r[Y3ModelData::RangeLod1] && lod1) chosen = 1;
        if (hidden) element.flags |= kElementHiddenByDistance;
        else element.flags &= ~kElementHiddenByDistance;
        if (chosen != element.lodIndex) {
            element.lodIndex = chosen;
            element.flags |= kElementLodChanged;
            stateWords[0] |= kModelPaletteRefresh | kModelPlaceDirty | kModelPhysicsDirty;
            stateWords[1] |= kModelWavesDirty;
        }
        if (far >= 0.0f && d2 > far && !(element.flags & kElementStaticInstance)) element.flags |= kElementBeyondFar;
        else element.flags &= ~kElementBeyondFar;
    }
}

bool Model::updateElementLods() {
    const bool force = (stateWords[0] & kModelPaletteRefresh) != 0;
    bool result = true;
    for (ModelElement& element : elements)
        if ((element.flags & kElementEnabled) && !element.updateLod(force)) result = false;
    stateWords[0] &= ~kModelPaletteRefresh;
    return result;
}

bool Model::releaseElementInstances() {
    for (ModelElement& element : elements) {
        if (element.flags & kElementStaticInstance) {
            // Its group member leaves the mesh first, so that no group keeps
            // an element that is gone.
            for (std::int32_t slot = 0; slot < std::int32_t(element.lods.size()); ++slot)
                if (element.lods[std::size_t(slot)].slotFlags & kLodPushed) element.popLod(slot, true);
            element.flags &= ~kElementStaticInstance;
        }
        element.flags &= ~kElementEnabled;
        element.lights.clear();
        for (std::int32_t slot = 0; slot < std::int32_t(element.lods.size()); ++slot)
            if (element.lods[std::size_t(slot)].slotFlags & kLodPushed) element.popLod(slot, true);
        for (ModelElementLod& slot : element.lods) slot.release();
        element.lightSetRef = nullptr;
    }
    return true;
}

bool Model::destroyElements() {
    animation.clear();
    releaseElementInstances();
    for (ModelElement& element : elements) element.release();
    elements.clear();
    return true;
}

bool Model::cull() {
    std::uint32_t& low = stateWords[0];
    const bool wasDrawn = (low & kModelDrawnThisFrame) != 0;
    low &= ~(kModelActive | kModelDrawnThisFrame);
    if (!isShown()) return false;
    if (stateWords[1] & kModelTrackingPending) {
        low |= kModelActive | kModelDrawnThisFrame;
        return true;
    }
    if (gameCore.objects && link.parent().index()) {
        GameObject* parent = gameCore.objects->getObject(link.parent());
        if (parent && parent->getType() == ObjectModel && !(static_cast<Model*>(parent)->stateWords[0] & kModelActive))
            return false;
    }
    const bool screenSprite = (gameCore.flags & kGameFlagScreenView) != 0;
    if (screenSprite && !gameCore.scene_attachSprite(GameObjectLink::fromObject(this))) return false;
    if ((low & kModelMainCharacter) && (gameCore.flags & kGameFlagCharacterPass) &&
        !(gameCore.flags & kGameFlagCameraOverride)) {
        low |= kModelLightSetDirty;
        if (controller && controller->getType() == ModelController::TypeCharacter) {
            for (ModelElement& element : elements)
                if (element.flags & kElementEnabled)
                    if (ModelElementLod* level = element.lod()) level->updateBounds(*this);
            return true;
        }
    }
    Scene* owner = scene();
    CameraCore* camera = owner ? owner->camera() : nullptr;
    for (ModelElement& element : elements) {
        if (element.flags & kElementLodChanged) {
            element.flags &= ~kElementLodChanged;
            if (element.flags & kElementEnabled)
                if (ModelElementLod* level = element.lod()) level->updateBounds(*this);
        }
        if (element.flags & kElementMoved) {
            element.flags &= ~kElementMoved;
            if (!(low & kModelPlaceDirty)) low |= kModelPlaceDirty | kModelLightSetDirty | kModelPhysicsDirty | kModelLightsDirty;
        }
        element.depthKey = 0;
        if (screenSprite && camera)
            if (const ModelElementLod* level = element.lod())
                element.depthKey = std::int32_t(
                    100000000.0 - 10000.0 * std::sqrt(double(squaredDistance(camera->position(), &level->box.box.matrix.m[9]))));
    }
    if (low & kModelPlaceDirty) {
        low &= ~kModelPlaceDirty;
        if (owner && pvsAreaIndex >= 0) owner->pvs.updateObject(pvsAreaIndex, true);
    }
    const PVSObjectRecord* place = owner && pvsAreaIndex >= 0 && pvsAreaIndex < std::int32_t(owner->pvs.objects.size())
                                       ? owner->pvs.objects[std::size_t(pvsAreaIndex)].get()
                                       : nullptr;
    for (std::size_t e = 0; e < elements.size(); ++e) {
        ModelElement& element = elements[e];
        ModelElementLod* level = element.lod();
        if (level) level->refreshDrawInstances();
        bool testInstances = true;
        if (!(element.flags & kElementEnabled)) {
            element.flags &= ~(kElementInView | kElementDrawn);
            testInstances = false;
        } else if (camera) {
            element.flags |= kElementInView | kElementDrawn;
            if ((low & kModelOutOfPvs) && !(low & kModelShadowReceivers)) {
                if (!(owner->flags & kSceneDrawsReceivers)) element.flags &= ~(kElementInView | kElementDrawn);
            } else if (low & kModelGridDebug) {
                if (!(owner->flags & kSceneDrawsGridDebug)) element.flags &= ~(kElementInView | kElementDrawn);
                testInstances = false;
            } else if (screenSprite) {
                if (!level || !camera->frustum.intersects(level->box)) element.flags &= ~kElementInView;
            } else if (place && e < place->elements.size() && !place->elements[e].visible) {
                element.flags &= ~kElementInView;
            }
        } else {
            testInstances = false;
        }
        if (testInstances) {
            element.flags &= ~kElementDrawn;
            if ((element.flags & kElementInView) && !(element.flags & kElementHiddenByDistance) && level) {
                const bool inRange = camera->isWithinDistance(this) && camera->frustum.intersects(level->box);
                for (ModelDrawInstance& draw : level->drawInstances) {
                    const bool seen = inRange && (draw.flags & ModelDrawInstance::kAllowed);
                    if (seen) draw.flags |= ModelDrawInstance::kVisible;
                    else draw.flags &= ~ModelDrawInstance::kVisible;
                    if (seen) element.flags |= kElementDrawn;
                }
            }
        }
        if (element.flags & kElementDrawn) {
            low |= kModelDrawnThisFrame;
            stateWords[1] &= ~kModelHighH2;
        }
        if (element.flags & kElementInView) low |= kModelActive;
    }
    // Back in view: the pose catches up at once.
    if (!wasDrawn && (low & kModelDrawnThisFrame))
        animation.update(CurrentTime(0.0), true, (low & kModelMainCharacter) != 0);
    return (low & (kModelDrawnThisFrame | kModelInFrame)) != 0;
}
