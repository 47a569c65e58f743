#include "scene/SceneLighting.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "app/GameCore.h"
#include "effects/LightSetLibrary.h"
#include "foundation/Log.h"
#include "scene/Scene.h"
#include "scene/Y3Pose.h"

LightSet* requestLightSet(const char* name) {
    if (!name || !name[0] || !gameCore.lightSets) return nullptr;
    return gameCore.lightSets->request(name, true);
}

bool LightArea::contains(const float* point) const {
    const BoxVolume& box = volume.box;
    for (int axis = 0; axis < 3; ++axis) {
        float along = 0.0f;
        for (int k = 0; k < 3; ++k) along += (point[k] - box.matrix.m[9 + k]) * box.matrix.m[3 * axis + k];
        if (std::fabs(along) > box.extents[axis]) return false;
    }
    return true;
}

std::int32_t SceneLighting::resolveMode(std::int32_t mode) const {
    if (mode == kCurrentLightMode) mode = owner ? owner->skyLightMode() : 0;
    return mode >= 0 && mode < 4 ? mode : -1;
}

void SceneLighting::markDirty() {
    if (owner) owner->flags |= kSceneLightingDirty;
}

bool SceneLighting::assign(LightSetEntry& entry, const char* name) {
    std::memset(entry.name, 0, sizeof(entry.name));
    if (name) std::strncpy(entry.name, name, sizeof(entry.name) - 1);
    entry.set = requestLightSet(entry.name);
    markDirty();
    return entry.set != nullptr;
}

std::int32_t sceneRunMode = 10;

bool SceneLighting::initDefault() {
    // A debug scene has no light sets of its own: it takes the built-in one.
    const bool debugScene = owner && owner->isDebugScene();
    char name[128];
    if (sceneRunMode < 6 || debugScene) std::snprintf(name, sizeof(name), "default");
    else std::snprintf(name, sizeof(name), "%s_default", owner ? owner->getName() : "");
    bool result = true;
    for (std::int32_t mode = 0; mode < 4; ++mode)
        if (!setDefault(mode, name)) result = false;
    if ((sceneRunMode >= 0 && sceneRunMode <= 3) || debugScene) return true;
    if (!result) {
        Log& log = engineLog();
        log.error("--------------------- CRITICAL -----------------");
        log.error("Required default lightset [%s]", name);
    }
    return result;
}

bool SceneLighting::setDefault(std::int32_t mode, const char* name) {
    const std::int32_t index = resolveMode(mode);
    if (index < 0) return engineLog().error("Can't set default lightset [%s]: mode out of bounds", name ? name : "");
    return assign(defaults[index], name);
}

LightSet* SceneLighting::getDefault(std::int32_t mode) {
    const std::int32_t index = resolveMode(mode);
    if (index < 0) {
        engineLog().error("Can't get default lightset: mode out of bounds");
        return nullptr;
    }
    return defaults[index].set;
}

LightArea& SceneLighting::areaNamed(const char* name) {
    markDirty();
    if (LightArea* found = findArea(name)) return *found;
    areas.push_back(std::make_unique<LightArea>(this));
    return *areas.back();
}

bool SceneLighting::setCameraLightSet(const char* camera, std::int32_t mode, const char* set) {
    LightArea& area = areaNamed(camera);
    std::memset(area.name, 0, sizeof(area.name));
    if (camera) std::strncpy(area.name, camera, sizeof(area.name) - 1);
    // Far away, so that no point is ever inside: only its name finds it.
    Matrix34 far = matrix34Identity();
    far.m[9] = far.m[10] = far.m[11] = -100000.0f;
    const float size[3] = {1.0f, 1.0f, 1.0f};
    area.volume.setFromExtents(far, size);
    const std::int32_t index = resolveMode(mode);
    if (index < 0)
        return engineLog().error("Can't set lightset [%s] on camera [%s]: mode out of bounds", set ? set : "",
                                 area.name);
    return assign(area.entries[index], set);
}

bool SceneLighting::setTriggerLightSet(const Y3Pose& trigger, const float* size, std::int32_t mode,
                                       const char* set) {
    LightArea& area = areaNamed(trigger.id);
    std::memset(area.name, 0, sizeof(area.name));
    std::strncpy(area.name, trigger.id, sizeof(area.name) - 1);
    area.volume.setFromExtents(trigger.pose, size);
    const std::int32_t index = resolveMode(mode);
    if (index < 0)
        return engineLog().error("Can't set lightset [%s] on trigger [%s]: mode out of bounds", set ? set : "",
                                 area.name);
    return assign(area.entries[index], set);
}

LightSet* SceneLighting::getAreaLightSet(LightArea& area, std::int32_t mode) {
    const std::int32_t index = resolveMode(mode);
    if (index < 0) {
        engineLog().error("Can't get lightset from trigger [%s]: mode out of bounds", area.name);
        return nullptr;
    }
    return area.entries[index].set;
}

LightArea* SceneLighting::findArea(const char* name) const {
    if (!name || !name[0]) return nullptr;
    for (const std::unique_ptr<LightArea>& area : areas)
        if (std::strcmp(area->name, name) == 0) return area.get();
    return nullptr;
}

LightArea* SceneLighting::findAreaContaining(const float* point) const {
    for (const std::unique_ptr<LightArea>& area : areas)
        if (area->contains(point)) return area.get();
    return nullptr;
}

std::int32_t SceneLighting::indexOfArea(const char* name) const {
    for (std::size_t i = 0; name && i < areas.size(); ++i)
        if (std::strcmp(areas[i]->name, name) == 0) return static_cast<std::int32_t>(i);
    return -1;
}

bool SceneLighting::resolveAll() {
    bool result = true;
    for (const std::unique_ptr<LightArea>& area : areas)
        for (LightSetEntry& entry : area->entries)
            if (!(entry.set = requestLightSet(entry.name))) result = false;
    for (LightSetEntry& entry : defaults)
        if (!(entry.set = requestLightSet(entry.name))) result = false;
    return result;
}

void SceneLighting::release() {
    areas.clear();
    for (LightSetEntry& entry : defaults) entry.set = nullptr;
}
