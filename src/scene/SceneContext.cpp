#include "scene/SceneContext.h"

#include "effects/RenderObject.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <new>

#include "app/GameCore.h"
#include "control/PhysicsScene.h"
#include "effects/RainMap.h"
#include "effects/SkyDataManager.h"
#include "effects/Y3Sky.h"
#include "foundation/Log.h"
#include "render/RenderCore.h"
#include "render/RenderList.h"
#include "resources/FilePackageDBData.h"
#include "resources/PackageDatabase.h"
#include "resources/ResourceTypes.h"
#include "scene/Scene.h"
#include "scene/SceneDataManager.h"

namespace {

// Whether the sky table of a scene name is among the packages: a scene
// needs its sky settings to exist.
bool skyExists(const char* name) {
    const ResourceDescriptor& sky = resourceDescriptor(ResourceKind::Sky);
    FilePackageDBData* packages = packageData();
    return packages && packages->find(sky.headerMask, name, sky.sourceName ? sky.sourceName : "") != 0;
}

}  // namespace

bool renderContextLocked() { return renderListLocked(); }

SceneContext::~SceneContext() {
    if (resource && resource->context == this) resource->context = nullptr;
}

void SceneContext::update(const Matrix34&) {
    RenderList* list = gameCore.render ? &gameCore.render->renderList : nullptr;
    if (!list || !resource || instances.empty()) return;
    list->queues[1].insert(kSkyQueueKey, DrawItem{&resource->renderObject, kSceneItemSky, 0, 0, 0, 0.0f, 0.0f});
    Scene* scene = instances.front();
    std::int32_t state = 0;
    if (scene && scene->rainMap) {
        const std::int32_t key = scene->rainMap->queryState(state);
        if (key >= 0)
            list->queues[1].insert(key, DrawItem{&resource->renderObject, kSceneItemRain, 0, 0, 0, 0.0f, 0.0f});
        // A rain that can no longer draw (no shaders) gives back its
        // textures and buffers rather than waiting for a frame that never
        // draws it.
        else if (scene->rainMap->flags & kRainMapLoaded)
            scene->rainMap->release();
    }
}

std::int32_t SceneContext::render(const DrawItem* items, std::int32_t count, std::int32_t index, std::int32_t step) {
    const RenderObject* own = resource ? &resource->renderObject : nullptr;
    while (index >= 0 && index < count && items[index].renderObject == own) {
        const DrawItem& item = items[index];
        index += step;
        Scene* scene = instances.empty() ? nullptr : instances.front();
        if (!scene) continue;
        if (item.instance == kSceneItemSky && scene->sky) {
            if (scene->rainMap && (scene->rainMap->flags & kRainShown)) scene->sky->renderRainy();
            else scene->sky->render();
        } else if (item.instance == kSceneItemRain && scene->rainMap) {
            scene->rainMap->update();
        }
    }
    return index;
}

bool SceneContext::canCreateScene(const Y3SceneDataInstance* record) {
    return record && (record->has(kResourceUnavailable) || skyExists(record->name));
}

Scene* SceneContext::createScene(Y3SceneDataInstance* record) {
    if (!record) return nullptr;
    Log& log = engineLog();
    SkyDataManager* skies = gameCore.skyData;
    // The sky description of the scene's name; a debug scene takes its record
    // as it comes, missing or not.
    Y3SkyDataInstance* description = skies ? skies->getOrCreate(record->name, false) : nullptr;
    if (record->has(kResourceUnavailable)) {
        log.info("Can't find resource for scene [%s]. Create debug scene", record->name);
        record->flags |= kResourcePlaceholder;
    } else if (!description || description->has(kResourceUnavailable)) {
        log.resourceError("Y3Sky [%s] resource is invalid", record->name);
        log.error("Required sky settings sky for scene [%s]", record->name);
        return nullptr;
    }
    // Without a sky data manager a debug scene still gets its sky, with no
    // description: it is never pushed.
    auto* scene = new Scene(record, std::make_unique<Y3Sky>(description));
    // A scene has a physics world when the physics backend gives one.
    scene->physicsScene = GameObjectLink::fromObject(PhysicsSceneManager::Create(*scene));
    return scene;
}

bool SceneContext::pushInstance(Y3SceneDataInstance* record, Scene* scene) {
    Log& log = engineLog();
    if (!record || !scene) return false;
    if (renderContextLocked())
        return log.error("Can't push scene [%s] (%s): render context locked", scene->name, record->name);
    if (scene->onStack()) return log.error("Can't push %s [%s] twice", record->typeLabel, scene->name);
    if (record->has(kResourceUnavailable) && !record->has(kResourcePlaceholder)) {
        log.resourceError("Can't push %s: resourse [%s] is invalid", record->typeLabel, record->name);
        return log.error("Can't push %s instance to %s resource repository", record->typeLabel, record->typeName);
    }
    std::vector<Scene*>& list = record->instances;
    if (std::find(list.begin(), list.end(), scene) != list.end()) {
        log.resourceError("Can't push %s [%s] to %s [%s]: Already registered", record->typeLabel, scene->name,
                          record->typeName, record->name);
        return log.error("Can't push %s instance to %s resource repository", record->typeLabel, record->typeName);
    }
    // An append that cannot allocate is a failed push, with both lists as
    // they were.
    try {
        list.push_back(scene);
    } catch (const std::bad_alloc&) {
        return log.error("Can't push %s instance to %s resource repository", record->typeLabel, record->typeName);
    }
    if (!record->context) {
        auto* context = new (std::nothrow) SceneContext(record);
        record->renderObject.name = record->name;
        // A refused render object deletes the context it was given.
        if (!context || !createRenderObject(record->renderObject, context)) {
            list.pop_back();
            return log.error("Can't push %s instance to %s resource repository", record->typeLabel,
                             record->typeName);
        }
        record->context = context;
    }
    try {
        record->context->instances.push_back(scene);
    } catch (const std::bad_alloc&) {
    }
    scene->flags |= kSceneOnStack;
    return true;
}

bool SceneContext::popInstance(Y3SceneDataInstance* record, Scene* scene) {
    Log& log = engineLog();
    if (!record || !scene) return false;
    if (renderContextLocked())
        return log.error("Can't pop scene [%s] (%s): render context locked", scene->name, record->name);
    if (!scene->onStack()) return log.error("Can't pop %s [%s]: push first", record->typeLabel, scene->name);
    std::vector<Scene*>& list = record->instances;
    auto found = std::find(list.begin(), list.end(), scene);
    if (found == list.end()) {
        log.resourceError("Can't delete %s [%s] from %s references list [%s]", record->typeLabel, scene->name,
                          record->typeName, record->name);
        return log.error("Can't pop %s instance from %s resources repository", record->typeLabel, record->typeName);
    }
    *found = list.back();
    list.pop_back();
    scene->flags &= ~kSceneOnStack;
    if (record->context) {
        std::vector<Scene*>& instances = record->context->instances;
        instances.erase(std::remove(instances.begin(), instances.end(), scene), instances.end());
        // The render object deletes the context it owns.
        if (instances.empty()) releaseRenderObject(record->renderObject);
    }
    return true;
}
