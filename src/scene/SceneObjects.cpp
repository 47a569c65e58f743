// The scene's objects by name, its lights and the per-frame update.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <string>

#include "app/GameCore.h"
#include "control/Grid.h"
#include "control/PhysicsScene.h"
#include "control/PathGridDataManager.h"
#include "control/Y3GridData.h"
#include "effects/Light.h"
#include "effects/LightDataManager.h"
#include "foundation/Log.h"
#include "foundation/TimeCore.h"
#include "model/Model.h"
#include "model/ModelDataManager.h"
#include "render/RenderCore.h"
#include "render/VideoCore.h"
#include "effects/Particle.h"
#include "scene/CameraCore.h"
#include "scene/Scene.h"
#include "scene/Trigger.h"
#include "scene/SceneDataManager.h"
#include "scene/SceneInternal.h"
#include "scene/SceneObjectFlags.h"
#include "scene/SceneSettings.h"

using scene_detail::resolve;

namespace {

constexpr char kCriticalSceneError[] = "---------------------- CRITICAL SCENE ERROR --------------------------------";

GameObject* lookupIn(const std::vector<GameObjectLink>& list, SceneNameIndex& names, const char* objectName,
                     std::int32_t* index) {
    const std::int32_t start = index && *index > 0 ? *index : 0;
    const std::int32_t found = objectName ? names.find(list, objectName, static_cast<std::size_t>(start)) : -1;
    if (index) *index = found;
    return found >= 0 ? resolve(list[static_cast<std::size_t>(found)]) : nullptr;
}

// After the scene made an object and appended it to one of its lists (the
// name epoch stood at before when the list's index was last brought up to
// date): the list's index takes the name, the others stay trusted.
void namesAfterCreation(Scene& scene, SceneNameIndex& grown, const std::vector<GameObjectLink>& list,
                        std::uint64_t before) {
    grown.appended(list, before);
    for (SceneNameIndex* other :
         {&scene.modelNames, &scene.spriteNames, &scene.lightNames, &scene.particleNames, &scene.gridNames})
        if (other != &grown) other->unaffected(before);
}

// Position of an object in a list, or -1; found through the name index.
std::int32_t positionOf(const std::vector<GameObjectLink>& list, SceneNameIndex& names, GameObject* object) {
    const GameObjectLink link = GameObjectLink::fromObject(object);
    const std::int32_t named = names.find(list, object->getName());
    if (named >= 0 && list[static_cast<std::size_t>(named)].index() == link.index()) return named;
    for (std::size_t i = 0; i < list.size(); ++i)
        if (list[i].index() == link.index()) return static_cast<std::int32_t>(i);
    return -1;
}

// Removes an object of a list (the last entry takes its place), pops it
// when its scene is pushed, releases and deletes it; false when the object
// is not in the list.
bool deleteFrom(Scene& scene, std::vector<GameObjectLink>& list, SceneNameIndex& names, GameObject* object,
                bool pop = true) {
    if (!object) return false;
    const std::int32_t position = positionOf(list, names, object);
    if (position < 0) return false;
    const std::uint64_t before = GameObject::nameEpoch();
    const std::string objectName = object->getName();
    scene_detail::removeAt(list, static_cast<std::size_t>(position));
    if (scene.onStack() && pop) object->pop(0);
    object->release();
    delete object;
    names.removed(list, before, objectName, static_cast<std::size_t>(position));
    return true;
}

// The named object of a list deleted; the message when there is none.
bool deleteNamed(Scene& scene, std::vector<GameObjectLink>& list, SceneNameIndex& names, const char* objectName,
                 const char* message) {
    GameObject* object = lookupIn(list, names, objectName, nullptr);
    if (!object) return engineLog().error(message, objectName ? objectName : "", scene.name);
    return deleteFrom(scene, list, names, object);
}

// Appends a made object, or logs why none was made.
GameObject* adopt(Scene& scene, std::vector<GameObjectLink>& list, SceneNameIndex& names, std::uint64_t before,
                  GameObject* made, const char* message, const char* objectName, const char* data) {
    if (!made) {
        engineLog().error(message, objectName, data ? data : "", scene.name);
        return nullptr;
    }
    list.push_back(GameObjectLink::fromObject(made));
    namesAfterCreation(scene, names, list, before);
    return made;
}

}  // namespace

bool objectsUpdateInState(std::int32_t stateIndex) { return stateIndex != 6; }
bool sceneTimeRunsInState(std::int32_t stateIndex) { return stateIndex != 6; }

GameObject* Scene::lookupModel(const char* objectName, std::uint32_t start) const {
    std::int32_t index = static_cast<std::int32_t>(start);
    return lookupIn(models, modelNames, objectName, &index);
}
GameObject* Scene::lookupModel(const char* objectName, std::int32_t* index) const {
    return lookupIn(models, modelNames, objectName, index);
}
GameObject* Scene::lookupParticle(const char* objectName, std::int32_t* index) const {
    return lookupIn(particles, particleNames, objectName, index);
}
GameObject* Scene::lookupSprite(const char* objectName, std::int32_t* index) const {
    return lookupIn(sprites, spriteNames, objectName, index);
}
GameObject* Scene::lookupGrid(const char* objectName, std::int32_t* index) const {
    return lookupIn(grids, gridNames, objectName, index);
}
GameObject* Scene::lookupLight(const char* objectName) const {
    return lookupIn(lights, lightNames, objectName, nullptr);
}

std::uint64_t Scene::namesBeforeRename() const {
    modelNames.prepare(models);
    spriteNames.prepare(sprites);
    lightNames.prepare(lights);
    particleNames.prepare(particles);
    gridNames.prepare(grids);
    return GameObject::nameEpoch();
}

void Scene::namesAfterRename(const GameObject& object, const std::string& oldName, std::uint64_t before) const {
    modelNames.renamed(models, before, object, oldName);
    spriteNames.renamed(sprites, before, object, oldName);
    lightNames.renamed(lights, before, object, oldName);
    particleNames.renamed(particles, before, object, oldName);
    gridNames.renamed(grids, before, object, oldName);
}

GameObject* Scene::createModel(const char* resourceName, const char* objectName, const Matrix34& placement,
                               std::uint32_t createFlags) {
    if (!objectName) return nullptr;
    if (lookupModel(objectName)) {
        engineLog().error("Object with name [%s] already exist in scene [%s]", objectName, name);
        return nullptr;
    }
    const std::uint64_t before = GameObject::nameEpoch();
    ModelDataManager* manager = modelDataManager();
    const ResourceRecord* record = manager && resourceName ? manager->findRecord(resourceName) : nullptr;
    Model* model = Model::newInstance(record, resourceName, id, objectName, false);
    if (!model) {
        engineLog().error("Cannot create model instance [%s] ( model data [%s]) in scene [%s]", objectName,
                          resourceName ? resourceName : "", name);
        return nullptr;
    }
    // The scene keeps no model that could not be created (its resource
    // missing or damaged).
    if (!model->create(placement, createFlags)) {
        engineLog().error("%s", kCriticalSceneError);
        engineLog().error("Fail to initialize object [%s](model [%s]) for scene [%s]", objectName,
                          resourceName ? resourceName : "", name);
        delete model;
        return nullptr;
    }
    models.push_back(GameObjectLink::fromObject(model));
    namesAfterCreation(*this, modelNames, models, before);
    if (CameraCore* current = camera(); current && model->pvsAreaIndex >= 0)
        pvs.computeVisibility(*pvs.objects[static_cast<std::size_t>(model->pvsAreaIndex)], current->pvs);
    return model;
}

GameObject* Scene::createSprite(const char* objectName, const char* source, const Matrix34& pose) {
    if (!objectName) return nullptr;
    if (lookupSprite(objectName)) {
        engineLog().error("Sprite with name [%s] already exist in scene [%s]", objectName, name);
        return nullptr;
    }
    const std::uint64_t before = GameObject::nameEpoch();
    auto factory = sceneFactories().sprite;
    GameObject* made = factory ? factory(*this, objectName, source, pose) : nullptr;
    if (made) scene_detail::tick();
    return adopt(*this, sprites, spriteNames, before, made, " Cannot create sprite instance '%s' ( model data [%s]) in scene [%s]",
                 objectName, source);
}

GameObject* Scene::createParticle(const char* objectName, const char* data, const Matrix34& pose) {
    if (!objectName) return nullptr;
    if (lookupParticle(objectName)) {
        engineLog().error("Particle with name [%s] already exist: Name can't be duplicated", objectName);
        return nullptr;
    }
    const std::uint64_t before = GameObject::nameEpoch();
    auto factory = sceneFactories().particle;
    GameObject* made = factory ? factory(*this, objectName, data, pose) : nullptr;
    if (made) scene_detail::tick();
    made = adopt(*this, particles, particleNames, before, made,
                 "Cannot create particle instance [%s] ( particle data [%s]) in scene [%s]", objectName, data);
    // A particle made in a pushed scene is pushed when shown.
    if (made && (flags & kSceneOnStack) && !made->isHidden()) made->push();
    return made;
}

GameObject* Scene::createGrid(const char* objectName) {
    if (!objectName) return nullptr;
    if (lookupGrid(objectName)) {
        engineLog().error("Grid with name [%s] already exist in scene [%s]", objectName, name);
        return nullptr;
    }
    const std::uint64_t before = GameObject::nameEpoch();
    auto factory = sceneFactories().grid;
    GameObject* made = factory ? factory(*this, objectName) : nullptr;
    if (!made) {
        engineLog().error("Cannot create grid instance [%s] in scene [%s]", objectName, name);
        return nullptr;
    }
    grids.push_back(GameObjectLink::fromObject(made));
    namesAfterCreation(*this, gridNames, grids, before);
    return made;
}

PathGridRecord* Scene::findGridData() {
    if (!gameCore.pathGrids) return nullptr;
    // The manager cuts a name longer than 127 characters.
    char resource[sizeof(name) + 8];
    std::snprintf(resource, sizeof(resource), "%s%s", "grid_", name);
    PathGridRecord* record = gameCore.pathGrids->getOrCreate(resource);
    if (flags & kSceneRefreshGrid) {
        flags &= ~kSceneRefreshGrid;
        if (record->has(kResourceHeaderLoaded)) record->release();
    }
    return record;
}

bool Scene::deleteModel(const char* objectName) {
    GameObject* model = lookupModel(objectName);
    if (!model) return engineLog().error("Can't find model object [%s] in scene [%s]", objectName ? objectName : "", name);
    return deleteModel(model);
}

bool Scene::deleteModel(GameObject* object) {
    if (auto* model = dynamic_cast<Model*>(object)) {
        // A model in its render context is not freed while a pass holds
        // the render list: it waits for the scene's pending deletions.
        if ((model->stateWords[0] & kModelInContext) && gameCore.render &&
            (gameCore.render->renderList.flags & RenderList::FlagLocked)) {
            model->stateWords[0] |= kModelPendingDelete;
            return true;
        }
        pvs.unregisterObject(object);
    }
    return deleteFrom(*this, models, modelNames, object);
}

bool Scene::deleteParticle(GameObject* object) { return deleteFrom(*this, particles, particleNames, object); }
bool Scene::deleteSprite(const char* objectName) {
    return deleteNamed(*this, sprites, spriteNames, objectName, "Can't find model object [%s] in scene [%s]");
}
bool Scene::deleteParticle(const char* objectName) {
    return deleteNamed(*this, particles, particleNames, objectName, "Can't find particle object [%s] in scene [%s]");
}
bool Scene::deleteGrid(const char* objectName) {
    GameObject* object = lookupIn(grids, gridNames, objectName, nullptr);
    if (!object) return engineLog().error("Can't find grid object [%s] in scene [%s]", objectName ? objectName : "", name);
    // A path object is registered only while its route is shown: one that
    // never was goes without a pop.
    auto* grid = dynamic_cast<Grid*>(object);
    return deleteFrom(*this, grids, gridNames, object, !grid || grid->resourcePushed());
}

Light* Scene::addLight(const char* lightName, const char* dataName, bool doNotPush) {
    if (!lightName) return nullptr;
    Log& log = engineLog();
    if (lookupLight(lightName)) {
        log.error("Can't add light [%s] to scene [%s]: Name already used", lightName, name);
        return nullptr;
    }
    const std::uint64_t before = GameObject::nameEpoch();
    Y3LightData* data = lightDataManager().getOrCreate(dataName ? dataName : lightName);
    Light* light = Light::create(data, id, lightName);
    if (!light) {
        log.error("Can't add light [%s] to scene [%s]", lightName, name);
        return nullptr;
    }
    lights.push_back(GameObjectLink::fromObject(light));
    namesAfterCreation(*this, lightNames, lights, before);
    if (onStack() && !doNotPush) light->push();
    scene_detail::tick();
    return light;
}

bool Scene::deleteLight(GameObject* light) {
    Log& log = engineLog();
    if (!light) {
        log.error("Memory broken in GameObject index access");
        return log.error("Can't delete light [%s] from scene [%s]: Light not found", "NULL", name);
    }
    if (const std::int32_t position = positionOf(lights, lightNames, light); position >= 0) {
        const std::uint64_t before = GameObject::nameEpoch();
        const std::string lightName = light->getName();
        scene_detail::removeAt(lights, static_cast<std::size_t>(position));
        if (auto* own = dynamic_cast<Light*>(light); own && own->onStack()) own->pop(0);
        light->release();
        delete light;
        lightNames.removed(lights, before, lightName, static_cast<std::size_t>(position));
        return true;
    }
    return log.error("Can't delete light [%s] from scene [%s]: Light not found", light->getName(), name);
}

bool Scene::deleteAllLights() {
    for (GameObjectLink link : lights)
        if (auto* light = dynamic_cast<Light*>(resolve(link))) {
            if (light->onStack()) light->pop(0);
            delete light;
        }
    lights.clear();
    return true;
}

bool Scene::pushLights() {
    bool result = true;
    for (GameObjectLink link : lights) {
        auto* light = dynamic_cast<Light*>(resolve(link));
        if (!light) continue;
        if (!light->onStack() && !light->push())
            result = engineLog().error("Can't push light [%s] to scene [%s]", light->getName(), name);
        scene_detail::tick();
    }
    return result;
}

bool Scene::popLights() {
    bool result = true;
    for (GameObjectLink link : lights)
        if (auto* light = dynamic_cast<Light*>(resolve(link)); light && light->onStack() && !light->pop(0))
            result = engineLog().error("Can't pop scene [%s] light [%s]", name, light->getName());
    return result;
}

bool Scene::initLights() {
    if (!resource || !resource->data)
        return engineLog().error("Can't initialize scene [%s] lights: Allocate scene data first", name);
    bool result = true;
    for (const std::unique_ptr<Y3Light>& record : resource->data->lights) {
        if (!record) continue;
        char lightName[256];
        std::snprintf(lightName, sizeof(lightName), "%s.%s", name, record->name);
        lightName[127] = '\0';
        if (!addLight(lightName, nullptr, false)) result = false;
    }
    return result;
}

bool Scene::collectLightsInVolume(const Intersection& volume, std::uint32_t group, std::vector<Light*>& out) const {
    out.clear();
    const std::size_t limit = 2 * static_cast<std::size_t>(std::max(lodLightsLimits[0], 0));
    for (GameObjectLink link : lights) {
        auto* light = dynamic_cast<Light*>(resolve(link));
        if (!light || (light->flags & kLightCollectable) != kLightCollectable || group == 0 || group != light->group)
            continue;
        if (const Intersection* bounds = light->bounds(); bounds && !bounds->intersects(volume)) continue;
        out.push_back(light);
        if (out.size() > limit) return true;
    }
    return false;
}

bool Scene::setDefaultLightSet(const char* set) {
    if (!requestLightSet(set))
        return engineLog().error("Can't set default scene lightset to [%s]: LightSet not found", set ? set : "");
    return lighting.setDefault(kCurrentLightMode, set);
}

bool Scene::setAreaLightSet(const char* area, const char* set) {
    LightArea* found = lighting.findArea(area);
    if (!found || !requestLightSet(set))
        return engineLog().error("Can't set area scene lightset to [%s]: LightSet not found", set ? set : "");
    const std::int32_t sky = skyLightMode();
    const std::int32_t mode = sky >= 0 && sky < 4 ? sky : 0;
    std::strncpy(found->entries[mode].name, set, sizeof(found->entries[mode].name) - 1);
    found->entries[mode].set = requestLightSet(set);
    flags |= kSceneLightingDirty;
    return true;
}

bool Scene::setCameraLightSet(const char* cameraName, const char* set) {
    if (!requestLightSet(set))
        return engineLog().error("Can't set camera [%s] scene lightset to [%s]: LightSet not found",
                                 cameraName ? cameraName : "", set ? set : "");
    return lighting.setCameraLightSet(cameraName, kCurrentLightMode, set);
}

LightSet* Scene::lightSetForModel(GameObject& model) {
    Matrix34 pose = matrix34Identity();
    model.getWorldMatrix(pose);
    if (LightArea* area = lighting.findAreaContaining(pose.m + 9))
        return lighting.getAreaLightSet(*area, kCurrentLightMode);
    return lighting.getDefault(kCurrentLightMode);
}

void Scene::invalidateLighting() {
    // Lights take their light sets from the scene's current ones, then the
    // models pick theirs (a linked light follows its model's set).
    for (GameObjectLink link : lights)
        if (GameObject* light = resolve(link)) light->invalidateLighting();
    for (GameObjectLink link : models)
        if (GameObject* model = resolve(link)) model->invalidateLighting();
}

bool Scene::updateList(std::vector<GameObjectLink>& list, const UpdateSchedule& schedule, const CurrentTime& time,
                       std::uint32_t group, int phase) {
    bool result = true;
    const bool everyObject = (flags & kSceneUpdateAll) != 0;
    for (std::size_t i = 0; i < list.size(); ++i) {
        const std::uint8_t mask = schedule.mask(static_cast<std::int32_t>(i), everyObject);
        GameObject* object = resolve(list[i]);
        if (!object) continue;
        auto* state = dynamic_cast<SceneObjectFlags*>(object);
        const std::uint32_t objectGroup = state && state->updateGroup() ? 1 : 0;
        if (objectGroup != group) continue;
        bool done = true;
        switch (phase) {
            case 0: done = object->updatePhase0(time, mask); break;
            case 1: done = object->updatePhase1(time, mask); break;
            case 2: done = object->updatePhase2(time, mask); break;
            default: done = object->updatePhase3(time, mask); break;
        }
        if (!done) result = false;
    }
    return result;
}

bool Scene::updatePhase(const CurrentTime& time, int phase) {
    bool result = true;
    const bool objects = objectsUpdateInState(scene_detail::stateIndex());
    for (std::uint32_t group = 0; group < 2; ++group) {
        if (objects) {
            if (!updateList(models, schedules[ScheduleModels], time, group, phase)) result = false;
            if (!updateList(lights, schedules[ScheduleLights], time, group, phase)) result = false;
            if (!updateList(particles, schedules[ScheduleParticles], time, group, phase)) result = false;
            if (!updateList(sprites, schedules[ScheduleSprites], time, group, phase)) result = false;
        }
        for (std::uint32_t list = 0; list < kSceneSoundLists; ++list)
            if (!updateList(sounds[list], schedules[ScheduleSounds + list], time, group, phase)) result = false;
    }
    return result;
}

bool Scene::updatePhase0(const CurrentTime& time, std::int32_t) {
    // The model passes: bits 0x1 and 0x8 on one turn in 40, bit 0x2 on
    // every turn while the display mode can post-process.
    UpdateSchedule& modelSchedule = schedules[ScheduleModels];
    modelSchedule.pairs[0].period = 40;
    modelSchedule.pairs[3].period = 40;
    modelSchedule.pairs[1].period = gameCore.video && gameCore.video->postprocessing ? 1 : -1;
    for (UpdateSchedule& schedule : schedules) schedule.advance();
    const bool result = updatePhase(time, 0);
    flags &= ~kSceneUpdateAll;
    if (objectsUpdateInState(scene_detail::stateIndex())) SoftShadow::render(shadows, time);
    return result;
}

bool Scene::updatePhase1(const CurrentTime& time, std::int32_t) {
    updateAmbientSounds();
    bool result = updateList(dialogs, schedules[ScheduleDialogs], time, 0, 1);
    if (objectsUpdateInState(scene_detail::stateIndex())) updateCameras(time);
    if (!updatePhase(time, 1)) result = false;
    // Deletions asked for during the walk happen after it.
    std::vector<std::string> pending;
    for (GameObjectLink link : models)
        if (GameObject* model = resolve(link); model && dynamic_cast<SceneObjectFlags*>(model) &&
                                               (dynamic_cast<SceneObjectFlags*>(model)->stateFlags() &
                                                kModelPendingDeleteFlag))
            pending.emplace_back(model->getName());
    for (const std::string& modelName : pending) deleteModel(modelName.c_str());
    // The models' motions of this frame reach the physics world, which then
    // steps; the models take its poses at their next update.
    if (PhysicsScene* physics = physicsSceneOf(this); physics && objectsUpdateInState(scene_detail::stateIndex()))
        physics->updatePhase1(time, 0);
    for (std::uint32_t list = 0; list < kSceneSoundLists; ++list) {
        for (std::size_t i = 0; i < sounds[list].size();) {
            auto* sound = dynamic_cast<SceneObjectFlags*>(resolve(sounds[list][i]));
            // A sound that refuses its deletion keeps its place; the walk
            // goes on past it.
            if (sound && (sound->stateFlags() & kSoundPendingDeleteFlag) &&
                deleteSoundAt(list, static_cast<std::int32_t>(i))) {
                i = 0;
            } else {
                ++i;
            }
        }
    }
    return result;
}

bool Scene::updatePhase3(const CurrentTime& time, std::int32_t) {
    if (objectsUpdateInState(scene_detail::stateIndex()) && !gameCore.scene_isDialogActive())
        updateTeleportPoints(time);
    if (sky) sky->update(time);
    updatePhase(time, 3);
    triggers->update();
    return true;
}

bool Scene::updatePhase2(const CurrentTime& time, std::int32_t) {
    bool result = true;
    if (objectsUpdateInState(scene_detail::stateIndex()) && (flags & 0x00600000u)) {
        invalidateLighting();
        flags &= ~kSceneLightingDirty;
    }
    if (!updatePhase(time, 2)) result = false;
    dropFinishedBlendLists();
    // The bit set when the scene initialised asks its particles, once, to
    // pre-simulate a period at their next update.
    if (flags & kSceneParticleRefresh) {
        for (GameObjectLink link : particles)
            if (auto* particle = dynamic_cast<SceneObjectFlags*>(resolve(link)))
                particle->stateFlags() |= kParticlePreSimulate;
        flags &= ~kSceneParticleRefresh;
    }
    refreshGridObstacles(time);
    return result;
}

void Scene::refreshGridObstacles(const CurrentTime& time) {
    const double now = time.game.time;
    if (lastGridRefresh < 0.0) {
        lastGridRefresh = now;
        return;
    }
    if (now - lastGridRefresh < static_cast<double>(sceneSettings.gridUpdatePeriod)) return;
    lastGridRefresh = now;
    PhysicsScene* physics = physicsSceneOf(this);
    // Without a physics scene there is nothing to block, and nothing to free
    // unless an earlier refresh blocked cells.
    if (!physics && gridObstacles[0].empty()) return;
    // Only a grid something has loaded: a scene without one is not asked
    // for its file every period.
    if (!gameCore.pathGrids) return;
    char resource[sizeof(name) + 8];
    std::snprintf(resource, sizeof(resource), "%s%s", "grid_", name);
    auto* record = static_cast<PathGridRecord*>(gameCore.pathGrids->findRecord(resource));
    Y3GridData* grid = record ? record->grid() : nullptr;
    if (!grid) return;
    std::vector<std::uint32_t>& blocked = gridObstacles[0];
    std::vector<std::uint32_t>& found = gridObstacles[1];
    // Cells listed for grid data read again since hold nothing of ours.
    if (gridObstacleData != grid) blocked.clear();
    gridObstacleData = grid;
    found.clear();
    if (physics) physics->gridObstacleCells(*grid, found);
    // Only cells free in the grid's own data, or blocked by the last
    // refresh, are taken: an obstacle over a cell blocked by the grid never
    // frees it when it goes.
    std::vector<std::uint32_t> kept;
    kept.reserve(found.size());
    for (std::uint32_t id : found) {
        const GridCell* cell = grid->cellOf(id);
        if (!cell) continue;
        if (!(cell->height & kGridBlockedBit) || std::binary_search(blocked.begin(), blocked.end(), id))
            kept.push_back(id);
    }
    std::vector<std::uint32_t> freed;
    std::set_difference(blocked.begin(), blocked.end(), kept.begin(), kept.end(), std::back_inserter(freed));
    grid->setBlocked(freed, false);
    grid->setBlocked(kept, true);
    blocked.swap(kept);
    found.clear();
}
