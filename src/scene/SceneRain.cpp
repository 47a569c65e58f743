// The rain of a scene: made from the rain map named after the scene, shown,
// hidden and dropped, and generated from its setup data.
#include <algorithm>

#include "app/GameCore.h"
#include "effects/RainMap.h"
#include "foundation/Log.h"
#include "scene/ObjectRepository.h"
#include "scene/Scene.h"

bool Scene::createRain() {
    if (rainMap) return engineLog().error("Can't create rain map: already exist for scene [%s]", name);
    RainMapDataManager* manager = rainMapDataManager();
    rainMap = manager ? RainMap::create(manager->getOrCreate(name, false)) : nullptr;
    if (!rainMap) return engineLog().error("Required rain map for scene [%s]", name);
    return true;
}

bool Scene::showRain(bool on) {
    if (!rainMap) createRain();
    if (!rainMap) return engineLog().error("Can't show rain: Create rain for scene first");
    // Shown again, a rain whose push failed is tried once more.
    if (on) rainMap->flags = (rainMap->flags | kRainShown) & ~kRainPushFailed;
    else rainMap->flags &= ~kRainShown;
    if (!(rainMap->flags & kRainShown)) dropRain();
    return true;
}

bool Scene::dropRain() {
    if (!rainMap) return true;
    if (rainMap->flags & kRainMapLoaded) rainMap->release();
    rainMap.reset();
    return true;
}

bool Scene::generateRainMap() {
    if (!rainMap && !createRain()) return false;
    if (rainMap->loadSetup()) return rainMap->generate(*this);
    return engineLog().error("Can't generate rain map [%s]: Create rain map setup file first", name);
}

bool Scene::computeModelBounds(float* min, float* max) const {
    bool any = false;
    for (GameObjectLink link : models) {
        GameObject* object = gameCore.objects && link.index() ? gameCore.objects->getObject(link) : nullptr;
        Matrix34 world;
        if (!object || !object->getWorldMatrix(world)) continue;
        for (int axis = 0; axis < 3; ++axis) {
            const float value = world.m[9 + axis];
            min[axis] = any ? std::min(min[axis], value) : value;
            max[axis] = any ? std::max(max[axis], value) : value;
        }
        any = true;
    }
    return any;
}
