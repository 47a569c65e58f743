#include "scene/Scene.h"

#include <algorithm>
#include <cstring>

#include "app/GameCore.h"
#include "foundation/Log.h"
#include "foundation/TimeCore.h"
#include "resources/LoadingProgress.h"
#include "scene/CameraCore.h"
#include "scene/ObjectRepository.h"
#include "scene/SceneContext.h"
#include "scene/SceneDataManager.h"
#include "scene/Y3Pose.h"
#include "foundation/DataStream.h"
#include "game/WaypointDataManager.h"
#include "model/Model.h"

namespace {

const char* const kSoundListNames[5] = {"effect", "voice", "ambient", "ambient_loop", "music"};

// A progress report that only keeps the loading screen alive.
void tick() { reportLoadingProgress(kProgressRefreshStage, 0.0f); }

GameObject* resolve(GameObjectLink link) {
    return gameCore.objects && link.index() ? gameCore.objects->getObject(link) : nullptr;
}

GameObject* lookupIn(const std::vector<GameObjectLink>& list, const char* objectName, std::uint32_t start) {
    if (!objectName) return nullptr;
    for (std::size_t i = start; i < list.size(); ++i) {
        GameObject* object = resolve(list[i]);
        if (object && std::strcmp(object->getName(), objectName) == 0) return object;
    }
    return nullptr;
}

// Deletes the objects of a handle list and empties it.
void releaseList(std::vector<GameObjectLink>& list) {
    for (GameObjectLink link : list) {
        if (GameObject* object = resolve(link)) {
            object->release();
            delete object;
        }
    }
    list.clear();
}

}  // namespace

const char* sceneSoundListName(std::uint32_t list) { return list < 5 ? kSoundListNames[list] : ""; }

Scene::Scene(Y3SceneDataInstance* resource)
    : GameObject(resource ? resource->name : ""), resource(resource), startPose(matrix34Identity()) {}

Scene::~Scene() {
    Log& log = engineLog();
    for (std::uint32_t i = 0; i < 5; ++i)
        if (!sounds[i].empty())
            log.systemError(" Scene [%s] required call release() before destructor (sound->%s)", name,
                            kSoundListNames[i]);
    if (!models.empty()) log.systemError(" Scene [%s] required call release() before destructor (models)", name);
    if (!particles.empty())
        log.systemError(" Scene [%s] required call release() before destructor (particles)", name);
    if (!lights.empty()) log.systemError(" Scene [%s] required call release() before destructor (lights)", name);
    if (physicsScene.index())
        log.systemError(" Scene [%s] required call release() before destructor (Physics)", name);
    if (timers.count() > 0) log.systemError(" Scene [%s] required call release() before destructor (timers)", name);
    // A scene destroyed on stack leaves its resource, so that the record and
    // its context never hold a freed scene.
    if (onStack()) SceneContext::popInstance(resource, this);
    flags = 0;
}

bool Scene::loadSceneData() {
    if (!resource || isDebugScene()) return false;
    if (resource->has(kResourceHeaderLoaded)) return resource->hasObject();
    if (resource->has(kResourceUnavailable)) return false;
    SceneDataManager* manager = sceneDataManager();
    return manager && manager->loadHeader(resource, nullptr) && resource->hasObject();
}

bool Scene::isDebugScene() const { return resource && resource->has(kResourcePlaceholder); }

bool Scene::initialize(const Matrix34& pose) {
    startPose = pose;
    flags |= kSceneLightingDirty;
    invalidateLighting();
    // A scene with data would place its objects here; the data records of
    // this build hold none (see SceneData).
    loadSceneData();
    bool result = loadWaypoints();
    if (cameras.empty()) {
        auto camera = std::make_unique<CameraCore>(this, "default");
        if (camera->initialize(-1.0f)) {
            cameras.push_back(std::move(camera));
            currentCamera = static_cast<std::int32_t>(cameras.size()) - 1;
        } else {
            result = engineLog().error("Can't initialize default camera");
        }
    }
    flags |= kSceneLightingDirty | kSceneInitialised;
    invalidateLighting();
    return result;
}

bool Scene::push() {
    Log& log = engineLog();
    if (onStack()) return log.error("Can't push scene [%s]: Already on stack", name);
    if (!SceneContext::pushInstance(resource, this)) return log.error("Can't push scene data [%s]", name);
    tick();
    if (isDebugScene()) return true;
    if (!loadSceneData()) {
        // Undo the instance push, so that a scene whose data cannot be read
        // is not left on stack where no later push could reach it.
        SceneContext::popInstance(resource, this);
        return log.error("Can't load scene source data [%s]", name);
    }
    tick();
    tick();
    return true;
}

bool Scene::pop(std::uint32_t) {
    Log& log = engineLog();
    if (!onStack()) return log.error("Can't pop scene [%s]: push first", name);
    if (!SceneContext::popInstance(resource, this)) return log.error("Can't pop scene data [%s]", name);
    for (const std::unique_ptr<CameraCore>& camera : cameras) camera->onScenePopped();
    flags |= kSceneLightingDirty;
    log.flush();
    return true;
}

void Scene::release() {
    releaseList(dialogs);
    for (std::vector<GameObjectLink>& list : sounds) releaseList(list);
    releaseList(particles);
    releaseList(lights);
    releaseList(sprites);
    releaseList(models);
    timers.deleteAll();
    mainCharacter = GameObjectLink{};
}

bool Scene::restoreSounds(const CurrentTime&) { return true; }

bool Scene::setMainCharacter(GameObjectLink link) {
    mainCharacter = link;
    return true;
}

GameObject* Scene::lookupModel(const char* objectName, std::uint32_t start) const {
    return lookupIn(models, objectName, start);
}
GameObject* Scene::lookupParticle(const char* objectName) const { return lookupIn(particles, objectName, 0); }
GameObject* Scene::lookupSprite(const char* objectName) const { return lookupIn(sprites, objectName, 0); }
GameObject* Scene::lookupLight(const char* objectName) const { return lookupIn(lights, objectName, 0); }

void Scene::updateTimers(const CurrentTime& sample) {
    CurrentTime frame = sample;
    if (gameCore.gameState == 6) frame.game.step = 0.0;
    timers.update(frame);
}

CameraCore* Scene::camera() const {
    if (currentCamera < 0 || currentCamera >= static_cast<std::int32_t>(cameras.size())) return nullptr;
    return cameras[static_cast<std::size_t>(currentCamera)].get();
}

CameraCore* Scene::findCamera(const char* cameraName) {
    for (std::size_t i = 0; i < cameras.size(); ++i)
        if (cameraName && std::strcmp(cameras[i]->getName(), cameraName) == 0) {
            currentCamera = static_cast<std::int32_t>(i);
            return cameras[i].get();
        }
    return nullptr;
}

bool Scene::updateCameras(const CurrentTime& time) {
    // Scene time stands still in the still-frame mode (unless a stack plays).
    if (gameCore.cameraModeIndex() == 6) return true;
    for (const std::unique_ptr<CameraCore>& camera : cameras) camera->update(time);
    return true;
}

GameObject* Scene::mainCharacterObject() const { return resolve(mainCharacter); }

Y3Pose* Scene::findWaypoint(const char* poseName, std::int32_t kind) const {
    if (!poseName) return nullptr;
    auto at = std::lower_bound(waypoints.begin(), waypoints.end(), poseName,
                               [](const std::unique_ptr<Y3Pose>& pose, const char* wanted) {
                                   return std::strcmp(pose->id, wanted) < 0;
                               });
    if (at == waypoints.end() || std::strcmp((*at)->id, poseName) != 0) return nullptr;
    if (kind >= 0 && (*at)->type() != static_cast<std::uint32_t>(kind)) return nullptr;
    return at->get();
}

void Scene::addWaypoint(std::unique_ptr<Y3Pose> waypoint) {
    auto at = std::upper_bound(waypoints.begin(), waypoints.end(), waypoint,
                               [](const std::unique_ptr<Y3Pose>& a, const std::unique_ptr<Y3Pose>& b) {
                                   return std::strcmp(a->id, b->id) < 0;
                               });
    waypoints.insert(at, std::move(waypoint));
}

bool Scene::loadWaypoints() {
    const std::string* bytes = gameCore.waypoints ? gameCore.waypoints->resourceBytes(name) : nullptr;
    if (!bytes) return true;
    // The compiled form: a u32 pose count, then the binary pose records.
    MemoryStream stream(const_cast<char*>(bytes->data()), static_cast<std::int32_t>(bytes->size()));
    std::uint32_t count = 0;
    if (readU32(stream, count) < 0 || count > static_cast<std::uint32_t>(bytesLeft(stream)) / 8u)
        return engineLog().error("Waypoints initialize: Can't load WP [%s] data", name);
    for (std::uint32_t i = 0; i < count; ++i) {
        std::unique_ptr<Y3Pose> pose;
        if (Y3Pose::readBinary(stream, pose) < 0 || !pose)
            return engineLog().error("Waypoints initialize: Can't load WP [%s] data", name);
        addWaypoint(std::move(pose));
    }
    return true;
}

GameObject* Scene::createModel(const char* resourceName, const char* objectName, const Matrix34& placement,
                               std::uint32_t) {
    if (lookupModel(objectName)) {
        engineLog().error("Model with name [%s] already exist in this scene", objectName ? objectName : "");
        return nullptr;
    }
    auto* model = new Model(objectName, resourceName, id);
    model->setPose(placement);
    models.push_back(GameObjectLink::fromObject(model));
    pvs.registerObject(model);
    if (CameraCore* current = camera(); current && model->pvsIndex >= 0)
        pvs.computeVisibility(*pvs.objects[static_cast<std::size_t>(model->pvsIndex)], current->pvs);
    return model;
}

namespace {

bool deleteFrom(std::vector<GameObjectLink>& list, GameObject* object) {
    const GameObjectLink link = GameObjectLink::fromObject(object);
    auto at = std::find_if(list.begin(), list.end(), [link](GameObjectLink entry) { return entry.index() == link.index(); });
    if (!object || at == list.end()) return false;
    list.erase(at);
    object->release();
    delete object;
    return true;
}

}  // namespace

bool Scene::deleteModel(GameObject* object) {
    if (object && object->getType() == ObjectModel) pvs.unregisterObject(object);
    return deleteFrom(models, object);
}
bool Scene::deleteParticle(GameObject* object) { return deleteFrom(particles, object); }
bool Scene::deleteLight(GameObject* object) { return deleteFrom(lights, object); }
