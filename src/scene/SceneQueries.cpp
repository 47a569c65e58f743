// Scene look-ups over waypoints and models, and the light areas placed on
// their trigger waypoints.
#include <cstring>

#include "foundation/Log.h"
#include "game/WaypointDataManager.h"
#include "scene/ObjectRepository.h"
#include "scene/Scene.h"
#include "scene/SceneInternal.h"
#include "scene/SceneObjectFlags.h"
#include "scene/Y3Pose.h"

using scene_detail::resolve;

namespace {

bool beginsWith(const char* text, const char* prefix) {
    return !prefix || std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

float squaredDistance(const float* a, const float* b) {
    float sum = 0.0f;
    for (int k = 0; k < 3; ++k) sum += (a[k] - b[k]) * (a[k] - b[k]);
    return sum;
}

}  // namespace

Y3Pose* Scene::searchWaypoints(const char* poseName, std::int32_t kind) const {
    // Run-time points are points: only a point or any-kind search looks
    // at them first.
    if (kind == PosePoint || kind == kPoseAnyKind)
        if (Y3Pose* dynamic = findWaypoint(poseName, -1); dynamic && dynamic->type() == PosePoint) return dynamic;
    if (!poseName) return nullptr;
    Y3Pose* pose = waypointData->find(kind, poseName, false);
    return pose && (kind == kPoseAnyKind || pose->type() == static_cast<std::uint32_t>(kind)) ? pose : nullptr;
}

Y3Pose* Scene::searchNearestWaypoints(const char* prefix, const float* position) const {
    // The static waypoints first, then the run-time points.
    Y3Pose* best = waypointData->searchNearest(prefix, position);
    float bestDistance = best ? squaredDistance(best->pose.m + 9, position) : 0.0f;
    for (const std::unique_ptr<Y3Pose>& pose : dynamicWaypoints) {
        if ((pose->type() != PosePoint && pose->type() != PoseModel) || !beginsWith(pose->id, prefix)) continue;
        const float distance = squaredDistance(pose->pose.m + 9, position);
        if (!best || distance < bestDistance) {
            best = pose.get();
            bestDistance = distance;
        }
    }
    return best;
}

GameObject* Scene::findLinkedChild(const GameObject* parent) const {
    if (!parent) return nullptr;
    for (GameObjectLink link : models)
        if (GameObject* model = resolve(link);
            model && model != parent && model->link.parent().index() &&
            model->link.parent().index() == GameObjectLink::fromObject(parent).index())
            return model;
    return nullptr;
}

GameObject* Scene::findNearestModel(const float* position, const GameObject* exclude, float limit) const {
    GameObject* best = nullptr;
    float bestDistance = limit;
    for (GameObjectLink link : models) {
        GameObject* model = resolve(link);
        auto* state = dynamic_cast<SceneObjectFlags*>(model);
        if (!state || model == exclude || (state->stateFlags() & kLookTargetKind) != kLookTargetKind) continue;
        Matrix34 world;
        if (!model->getWorldMatrix(world)) continue;
        const float distance = squaredDistance(world.m + 9, position);
        if (distance < bestDistance) {
            best = model;
            bestDistance = distance;
        }
    }
    return best;
}

void Scene::markModelsDirty() {
    for (GameObjectLink link : models)
        if (auto* state = dynamic_cast<SceneObjectFlags*>(resolve(link))) state->stateFlags() |= kModelRefreshFlag;
}

void Scene::placeLightAreasOnWaypoints() {
    for (const std::unique_ptr<LightArea>& area : lighting.areas) {
        const Y3Pose* trigger = searchWaypoints(area->name, PoseTrigger);
        float size[3];
        if (trigger && trigger->getSize(size)) area->volume.setFromExtents(trigger->pose, size);
    }
    flags |= kSceneLightingDirty;
}
