#include "scene/Scene.h"

#include "model/Model.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>

#include "app/GameCore.h"
#include "control/Grid.h"
#include "control/PathGridDataManager.h"
#include "control/PhysicsScene.h"
#include "effects/Light.h"
#include "effects/LightDataManager.h"
#include "effects/Particle.h"
#include "effects/Sprite.h"
#include "foundation/DataStream.h"
#include "foundation/IniFile.h"
#include "foundation/Log.h"
#include "foundation/TimeCore.h"
#include "game/SceneActionDataManager.h"
#include "game/WaypointDataManager.h"
#include "resources/LoadingProgress.h"
#include "scene/CameraCore.h"
#include "scene/ObjectRepository.h"
#include "scene/SceneContext.h"
#include "scene/SceneDataManager.h"
#include "scene/SceneInternal.h"
#include "scene/SceneObjectFlags.h"
#include "scene/Trigger.h"
#include "effects/RainMap.h"
#include "effects/Y3Sky.h"
#include "scene/Y3Pose.h"

namespace {

const char* const kSoundListNames[kSceneSoundLists] = {"effect", "voice", "ambient", "ambient_loop", "music"};

// One kind of the push and pop walks: which objects it calls, with what,
// and its messages and progress.
struct ListWalk {
    bool push;
    bool (*condition)(GameObject&);
    std::uint32_t word;
    const char* nullMessage;
    const char* failMessage;
    const char* thrownMessage;  // null: a throw is not caught here
    float progressBase;         // < 0: no progress before each entry
    bool tickAfter;
};

bool notHidden(GameObject& object) { return !object.isHidden(); }
bool always(GameObject&) { return true; }

// A particle already pushed (bit 0x2000 of its state word).
bool isPushed(GameObject& object) {
    auto* state = dynamic_cast<SceneObjectFlags*>(&object);
    return state && (state->stateFlags() & kParticleOnStack) != 0;
}

bool runWalk(Scene& scene, std::vector<GameObjectLink>& list, const ListWalk& walk) {
    Log& log = engineLog();
    bool result = true;
    const std::size_t count = list.size();
    for (std::size_t i = 0; i < count && i < list.size(); ++i) {
        if (walk.progressBase >= 0.0f)
            reportLoadingProgress(1, static_cast<float>(i) / static_cast<float>(count) * 0.25f + walk.progressBase);
        GameObject* object = scene_detail::resolve(list[i]);
        if (!object) {
            result = log.error(walk.nullMessage, static_cast<int>(i), scene.name);
            continue;
        }
        if (!walk.condition(*object)) continue;
        bool done = false;
        if (walk.thrownMessage) {
            try {
                done = walk.push ? object->push() : object->pop(walk.word);
            } catch (const std::exception&) {
                result = log.error(walk.thrownMessage, object->getName(), scene.name);
                continue;
            }
        } else {
            done = walk.push ? object->push() : object->pop(walk.word);
        }
        if (!done) result = log.error(walk.failMessage, object->getName(), scene.name);
        if (walk.tickAfter) scene_detail::tick();
    }
    return result;
}

// Whether an object is pushed: objects with a state word say so; others
// are taken as pushed while their scene is.
bool onStackOf(GameObject& object) {
    auto* state = dynamic_cast<SceneObjectFlags*>(&object);
    return !state || state->isOnStack();
}

std::int32_t readLimit(const char* key) {
    if (!gameCore.settings) return 3;
    const std::string& text = gameCore.settings->getCategory("render").getVariable(key).value();
    if (text.empty()) return 3;
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 10);
    return end && *end == '\0' ? static_cast<std::int32_t>(value) : 3;
}

}  // namespace

namespace scene_detail {

void tick() { reportLoadingProgress(kProgressRefreshStage, 0.0f); }

GameObject* resolve(GameObjectLink link) {
    return gameCore.objects && link.index() ? gameCore.objects->getObject(link) : nullptr;
}

void releaseList(std::vector<GameObjectLink>& list) {
    for (GameObjectLink link : list) {
        if (GameObject* object = resolve(link)) {
            object->release();
            delete object;
        }
    }
    list.clear();
}

void removeAt(std::vector<GameObjectLink>& list, std::size_t index) {
    list[index] = list.back();
    list.pop_back();
}

std::int32_t stateIndex() { return gameCore.cameraModeIndex(); }

}  // namespace scene_detail

using scene_detail::resolve;
using scene_detail::tick;

const char* sceneSoundListName(std::uint32_t list) { return list < kSceneSoundLists ? kSoundListNames[list] : ""; }

namespace {

GameObject* makeSprite(Scene& scene, const char* objectName, const char* source, const Matrix34& pose) {
    Sprite* sprite = Sprite::create(scene, source, objectName, false);
    if (sprite) sprite->initialize(pose);
    return sprite;
}

GameObject* makeParticle(Scene& scene, const char* objectName, const char* data, const Matrix34& pose) {
    return Particle::create(scene, data, objectName, pose);
}

GameObject* makeGrid(Scene& scene, const char* objectName) {
    char resource[sizeof(scene.name) + 8];
    std::snprintf(resource, sizeof(resource), "%s%s", "grid_", scene.name);
    // A scene without a grid file still gives path objects: they hold
    // straight routes and find no cells.
    PathGridRecord* record = scene.findGridData();
    if (record && record->has(kResourceUnavailable)) record = nullptr;
    return Grid::create(record, scene.id, resource, objectName);
}

}  // namespace

SceneFactories& sceneFactories() {
    static SceneFactories factories = [] {
        SceneFactories made;
        made.sprite = makeSprite;
        made.particle = makeParticle;
        made.grid = makeGrid;
        made.gridBlockFree = sceneGridBlockFree;
        return made;
    }();
    return factories;
}

Scene::Scene(Y3SceneDataInstance* resource, std::unique_ptr<Y3Sky> sceneSky)
    : GameObject(resource ? resource->name : ""),
      resource(resource),
      startPose(matrix34Identity()),
      triggers(std::make_unique<SceneTriggers>(this)),
      sky(std::move(sceneSky)) {
    shadows.scene = this;
    shadows.sceneName = name;
    // The records of the scene's waypoints and screen actions, found or made
    // (flagged missing when the packages hold none).
    waypointData.reset(
        WaypointDataManager::create(this, gameCore.waypoints ? gameCore.waypoints->getOrCreate(name, false) : nullptr));
    screenActions.reset(SceneActionDataManager::create(
        this, gameCore.screenActions ? gameCore.screenActions->getOrCreate(name, false) : nullptr));
}

const std::vector<std::unique_ptr<Y3Pose>>& Scene::staticWaypoints() const {
    static const std::vector<std::unique_ptr<Y3Pose>> none;
    const WaypointData* set = waypointData ? waypointData->data() : nullptr;
    return set ? set->poses : none;
}

Scene::~Scene() {
    Log& log = engineLog();
    for (std::uint32_t i = 0; i < kSceneSoundLists; ++i)
        if (!sounds[i].empty())
            log.systemError(" Scene [%s] required call release() before destructor (sound->%s)", name,
                            kSoundListNames[i]);
    if (!models.empty()) log.systemError(" Scene [%s] required call release() before destructor (models)", name);
    if (!particles.empty())
        log.systemError(" Scene [%s] required call release() before destructor (particles)", name);
    if (!lights.empty()) log.systemError(" Scene [%s] required call release() before destructor (lights)", name);
    if (physicsScene.index())
        log.systemError(" Scene [%s] required call release() before destructor (Physics)", name);
    if (waypointData && waypointData->resourcePushed()) {
        log.error("Found unreleased waypoint data [%s]", name);
        waypointData->pop();
    }
    if (screenActions && screenActions->resourcePushed()) {
        log.error("Found unreleased scene action data [%s]", name);
        SceneActionDataManager::pop(*screenActions);
    }
    // A scene destroyed on stack leaves its resource, so that the record and
    // its context never hold a freed scene.
    if (onStack()) SceneContext::popInstance(resource, this);
    // Likewise the sky leaves its description's user list; its destructor
    // still reports that it was not popped.
    if (sky && sky->resourcePushed()) ResourceManagerBase::pop(sky->description, sky.get());
    flags = 0;
    if (timers.count() > 0) log.systemError(" Scene [%s] required call release() before destructor (timers)", name);
}

bool Scene::loadSceneData() {
    if (!resource || isDebugScene()) return false;
    if (!resource->has(kResourceHeaderLoaded)) {
        if (resource->has(kResourceUnavailable)) return false;
        SceneDataManager* manager = sceneDataManager();
        if (!manager || !manager->loadHeader(resource, nullptr)) return false;
    }
    if (!resource->hasObject()) return false;
    holdLightRecords();
    return true;
}

void Scene::holdLightRecords() {
    const std::vector<std::unique_ptr<Y3Light>>& data = resource->data->lights;
    for (std::size_t i = 0; i < data.size(); ++i) {
        if (!data[i]) continue;
        std::string recordName = lightRecordName(resource->name, *data[i]);
        // The data's load made the record; a released scene of this name
        // dropped it while the data stayed loaded: made and loaded again.
        const Y3LightData* record = lightDataManager().find(recordName.c_str());
        if ((!record || !record->loaded()) && !loadLightResource(resource->name, *data[i], true)->loaded())
            engineLog().error("Can't load scene [%s] light [%i:%s]", resource->name, static_cast<int>(i),
                              data[i]->name);
        if (std::find(lightRecords.begin(), lightRecords.end(), recordName) == lightRecords.end())
            lightRecords.push_back(std::move(recordName));
    }
}

std::int32_t Scene::skyLightMode() const { return sky ? sky->timeOfDay : 1; }
std::int32_t Scene::skyWeather() const { return sky ? sky->weather : SkyClear; }

void Scene::setSkyLightMode(std::int32_t mode) {
    if (sky) sky->setTimeOfDay(mode);
}

void Scene::setSkyWeather(std::int32_t weather) {
    if (sky) sky->setWeather(weather);
}

bool Scene::isDebugScene() const { return resource && resource->has(kResourcePlaceholder); }

bool Scene::initialize(const Matrix34& pose) {
    Log& log = engineLog();
    startPose = pose;
    if (!lighting.initDefault())
        return log.error("Can't initialize scene [%s]: light sets not initialized", name);
    const bool withData = loadSceneData();
    // The areas first: the default camera sizes its visibility data to them.
    if (withData) pvs.copyFrom(resource->data->pvs);
    bool result = true;
    if (cameras.empty()) {
        auto camera = std::make_unique<CameraCore>(this, "default");
        if (camera->initialize(-1.0f)) {
            cameras.push_back(std::move(camera));
            currentCamera = static_cast<std::int32_t>(cameras.size()) - 1;
        } else {
            result = log.error("Can't initialize default camera");
        }
    }
    flags |= kSceneLightingDirty;
    invalidateLighting();
    if (withData) {
        const SceneData& data = *resource->data;
        lights.reserve(lights.size() + data.lights.size());
        lightNames.reserve(data.lights.size());
        models.reserve(models.size() + data.models.size());
        modelNames.reserve(data.models.size());
        bool created = initLights();
        log.resourceInfo("Scene lights %s", created ? "created" : "failed");
        for (std::size_t i = 0; i < data.models.size(); ++i) {
            const SceneModelPlacement& model = data.models[i];
            // A placement whose model resource is missing or damaged makes
            // no model (logged) and the scene loads on without it; a name
            // used twice fails the scene.
            const bool taken = !model.name[0] || lookupModel(model.name) != nullptr;
            GameObject* made = createModel(model.model, model.name, model.pose, 0);
            if (!made && taken) created = false;
            // The placement's property block: texture set, light sets, rules.
            if (auto* placed = dynamic_cast<Model*>(made)) placed->applyProperties(model.properties);
            reportLoadingProgress(1, static_cast<float>(i) / static_cast<float>(data.models.size()) * 0.25f);
        }
        log.resourceInfo("Scene objects %s", created ? "created" : "failed");
        bool spritesCreated = true;
        for (const SceneSpritePlacement& sprite : data.sprites)
            if (!createSprite(sprite.name, sprite.sprite, sprite.pose)) spritesCreated = false;
        log.resourceInfo("Scene sprites %s", spritesCreated ? "created" : "failed");
        if (!created || !spritesCreated) return false;
    }
    // The waypoint resource stands beside the scene data: a debug scene
    // reads it too when the packages hold it, and makes the objects of its
    // waypoints; a scene with data needs it.
    const WaypointDataInstance* waypoints = waypointData->record;
    if (waypoints && (withData || !waypoints->has(kResourceUnavailable)) && !waypointData->initialize()) return false;
    flags |= kSceneLightingDirty | kSceneInitialised;
    invalidateLighting();
    return result;
}

bool Scene::push() {
    Log& log = engineLog();
    const char* const keys[3] = {"lodLightsLimits[0]", "lodLightsLimits[1]", "lodLightsLimits[2]"};
    for (int i = 0; i < 3; ++i) lodLightsLimits[i] = readLimit(keys[i]);
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
    bool result = true;
    tick();
    // The scene's screen actions and waypoints: a scene whose resources are
    // missing from the packages does not push whole.
    if (screenActions->record && !SceneActionDataManager::push(*screenActions))
        result = log.error("Can't push scene [%s] actions data", name);
    tick();
    if (waypointData->record && !waypointData->push())
        result = log.error("Can't push scene [%s] waypoints data", name);
    tick();
    tick();
    if (!pushSounds()) result = log.error("Can't push scene sounds");
    if (!triggers->pushAll()) result = log.error("Can't push scene triggers data");
    if (PhysicsScene* physics = physicsSceneOf(this); physics && !physics->push())
        result = log.error("Can't push scene [%s] physics", name);
    tick();
    if (!pushLights()) log.error("Can't right push scene lights");
    if (!pushModels()) result = log.error("Can't push scene models");
    if (!pushSprites()) result = log.error("Can't push scene sprites");
    if (!pushParticles()) result = log.error("Can't push scene particles");
    if (!pushDialogs()) result = log.error("Can't push scene dialogs");
    if (sky && !sky->push()) result = log.error("Can't push scene [%s] sky", name);
    tick();
    tick();
    return result;
}

bool Scene::pop(std::uint32_t word) {
    Log& log = engineLog();
    if (!onStack()) return log.error("Can't pop scene [%s]: push first", name);
    if (!SceneContext::popInstance(resource, this)) return log.error("Can't pop scene data [%s]", name);
    bool result = true;
    if (screenActions->resourcePushed() && !SceneActionDataManager::pop(*screenActions))
        log.error("Can't pop scene [%s] actions data", name);
    if (waypointData->resourcePushed() && !waypointData->pop())
        log.error("Can't pop scene [%s] waypoints data", name);
    // The rain gives back its textures and buffers; shown, it is pushed
    // again by its first frame after the scene's next push.
    if (rainMap && (rainMap->flags & kRainMapLoaded)) rainMap->release();
    for (const std::unique_ptr<CameraCore>& camera : cameras) camera->onScenePopped();
    if (!popLights()) result = false;
    if (!popModels(word)) result = false;
    if (!popSprites()) result = false;
    if (!popParticles(word)) result = false;
    if (!popDialogs()) result = false;
    if (!triggers->popAll()) result = log.error("Can't pop scene triggers data");
    if (PhysicsScene* physics = physicsSceneOf(this)) physics->pop(word);
    // A debug scene's push ends before its sky: then there is none to pop.
    const bool skyPushed = sky && (sky->state & kSkyAllocated);
    if (sky && (skyPushed || !isDebugScene()) && !sky->pop()) log.error("Can't pop scene [%s] sky data", name);
    if (!popSounds()) result = false;
    flags |= kSceneLightingDirty;
    log.flush();
    return result;
}

bool Scene::pushModels() {
    return runWalk(*this, models,
                   {true, notHidden, 0, " Model %i in scene [%s] has NULL ptr", " Cannot push model [%s] to scene [%s]",
                    "Exception Cannot push model [%s] to scene [%s]", 0.5f, false});
}

bool Scene::pushSprites() {
    return runWalk(*this, sprites,
                   {true, notHidden, 0, "Sprite %i in scene [%s] has NULL ptr", " Cannot push sprite [%s] to scene [%s]",
                    "Exception Cannot push sprite [%s] to scene [%s]", -1.0f, true});
}

bool Scene::pushParticles() {
    return runWalk(*this, particles,
                   {true, [](GameObject& object) { return !object.isHidden() && !isPushed(object); }, 0,
                    " Particle [%i] in scene [%s] has NULL ptr", " Cannot push particle [%s] to scene [%s]", nullptr,
                    0.75f, true});
}

bool Scene::pushDialogs() {
    return runWalk(*this, dialogs,
                   {true, always, 0, " Dialog [%i] in scene [%s] has NULL ptr", " Cannot push dialog [%s] to scene [%s]",
                    nullptr, -1.0f, true});
}

bool Scene::popModels(std::uint32_t word) {
    return runWalk(*this, models,
                   {false, onStackOf, word, "POP: Model [%i] in scene [%s] has NULL ptr",
                    "Fail pop model [%s] from  scene [%s]", nullptr, -1.0f, true});
}

bool Scene::popSprites() {
    return runWalk(*this, sprites,
                   {false, notHidden, 1, "POP: Sprite [%i] in scene [%s] has NULL ptr",
                    "Fail pop sprite [%s] from  scene [%s]", nullptr, -1.0f, true});
}

bool Scene::popParticles(std::uint32_t word) {
    return runWalk(*this, particles,
                   {false, onStackOf, word, " Particle [%i] in scene [%s] has NULL ptr",
                    " Cannot pop particle [%s] to scene [%s]", nullptr, -1.0f, false});
}

bool Scene::popDialogs() {
    return runWalk(*this, dialogs,
                   {false, onStackOf, 0, " Dialog [%i] in scene [%s] has NULL ptr",
                    " Cannot pop dialog [%s] to scene [%s]", nullptr, -1.0f, false});
}

void Scene::release() {
    if (onStack()) pop(0);
    cameras.clear();
    currentCamera = -1;
    triggers->release();
    Log& log = engineLog();
    for (std::vector<GameObjectLink>& list : sounds) {
        for (GameObjectLink link : list)
            if (GameObject* sound = resolve(link); sound && onStackOf(*sound)) {
                log.error("Scene [%s] releasing: Sound [%s] not pop from stack at scene objects pop pass", name,
                          sound->getName());
                sound->pop(0);
            }
        scene_detail::releaseList(list);
    }
    // The objects of the static waypoints go with the scene; a later scene
    // of this name makes them again.
    waypointData->releaseInstances();
    mainDialog = GameObjectLink{};
    scene_detail::releaseList(dialogs);
    scene_detail::releaseList(models);
    scene_detail::releaseList(particles);
    scene_detail::releaseList(sprites);
    scene_detail::releaseList(grids);
    // The light records of the scene go with it: those of its data's lights,
    // and the empty ones its lights were made of (a restored scene that was
    // never pushed made them by name). A record that a light of another
    // scene is made of stays.
    std::vector<std::string> records = std::move(lightRecords);
    lightRecords.clear();
    for (GameObjectLink link : lights)
        if (auto* light = dynamic_cast<Light*>(resolve(link)); light && light->data && !light->data->loaded())
            records.emplace_back(light->data->name);
    deleteAllLights();
    for (const std::string& record : records) lightDataManager().drop(record.c_str());
    lighting.release();
    shadows.freeRecords();
    dynamicWaypoints.clear();
    timers.deleteAll();
    dropRain();
    // After the models and triggers, which hand their physics objects back.
    if (PhysicsScene* physics = physicsSceneOf(this)) {
        physics->release();
        delete physics;
    }
    physicsScene = GameObjectLink{};
    mainCharacter = GameObjectLink{};
}

bool Scene::setMainCharacter(GameObjectLink link) {
    if (this == gameCore.currentScene()) {
        if (!gameCore.onMainCharacterSelected()) return false;
        mainCharacter = link;
        return gameCore.scene_resetMainCharacterView();
    }
    // A scene that is not the game's current one has no views to reset:
    // only its models learn which one is the main character.
    if (auto* before = dynamic_cast<Model*>(resolve(mainCharacter))) before->setMainCharacter(false);
    mainCharacter = link;
    if (auto* chosen = dynamic_cast<Model*>(resolve(link))) chosen->setMainCharacter(true);
    return true;
}

void Scene::updateTimers(const CurrentTime& sample) {
    CurrentTime frame = sample;
    if (!sceneTimeRunsInState(scene_detail::stateIndex())) frame.game.step = 0.0;
    timers.update(frame);
}

CameraCore* Scene::camera() const {
    if (currentCamera < 0 || currentCamera >= static_cast<std::int32_t>(cameras.size())) return nullptr;
    return cameras[static_cast<std::size_t>(currentCamera)].get();
}

CameraCore* Scene::findCamera(const char* cameraName) const {
    for (const std::unique_ptr<CameraCore>& camera : cameras)
        if (cameraName && std::strcmp(camera->getName(), cameraName) == 0) return camera.get();
    engineLog().error("Can't find camera with name [%s] (scene [%s])", cameraName ? cameraName : "", name);
    return nullptr;
}

bool Scene::updateCameras(const CurrentTime& time) {
    if (!sceneTimeRunsInState(scene_detail::stateIndex())) return true;
    for (const std::unique_ptr<CameraCore>& camera : cameras) camera->update(time);
    return true;
}

GameObject* Scene::mainCharacterObject() const { return resolve(mainCharacter); }

namespace {

bool poseNameLess(const std::unique_ptr<Y3Pose>& pose, const char* wanted) { return std::strcmp(pose->id, wanted) < 0; }

Y3Pose* findSorted(const std::vector<std::unique_ptr<Y3Pose>>& list, const char* poseName) {
    auto at = std::lower_bound(list.begin(), list.end(), poseName, poseNameLess);
    return at != list.end() && std::strcmp((*at)->id, poseName) == 0 ? at->get() : nullptr;
}

Y3Pose* insertSorted(std::vector<std::unique_ptr<Y3Pose>>& list, std::unique_ptr<Y3Pose> pose) {
    auto at = std::upper_bound(list.begin(), list.end(), pose->id,
                               [](const char* wanted, const std::unique_ptr<Y3Pose>& other) {
                                   return std::strcmp(wanted, other->id) < 0;
                               });
    return list.insert(at, std::move(pose))->get();
}

}  // namespace

Y3Pose* Scene::findWaypoint(const char* poseName, std::int32_t kind) const {
    if (!poseName) return nullptr;
    Y3Pose* found = findSorted(dynamicWaypoints, poseName);
    if (!found || (kind >= 0 && found->type() != static_cast<std::uint32_t>(kind)))
        found = waypointData->find(kind, poseName, false);
    return found && (kind < 0 || found->type() == static_cast<std::uint32_t>(kind)) ? found : nullptr;
}

bool Scene::addWaypoint(std::unique_ptr<Y3Pose> waypoint) {
    WaypointData* set = waypointData->data();
    return set && set->add(std::move(waypoint));
}

bool Scene::setDynamicWaypoint(const char* poseName, const Matrix34& pose) {
    if (!poseName) return false;
    if (Y3Pose* fixed = waypointData->find(-1, poseName, false);
        fixed && (fixed->type() == PosePoint || fixed->type() == PoseModel))
        return engineLog().error("Can't create dynamic waypoint [%s]: Already used in static waypoints", poseName);
    Y3Pose* dynamic = findSorted(dynamicWaypoints, poseName);
    if (!dynamic) dynamic = insertSorted(dynamicWaypoints, std::make_unique<Y3Pose>(poseName));
    dynamic->pose = pose;
    return true;
}

bool Scene::setAimPoint(const Matrix34& pose) { return setDynamicWaypoint("aimPoint", pose); }

std::int32_t readWaypointResource(DataStream& stream, std::vector<std::unique_ptr<Y3Pose>>& out,
                                  const char* sceneName) {
    out.clear();
    auto fail = [&out, sceneName](const char* why) {
        engineLog().error("Waypoint resource [%s]: %s", sceneName, why);
        out.clear();
        return -1;
    };
    std::int32_t total = 0;
    std::uint32_t count = 0;
    if (!addField(total, readU32(stream, count)) || count > static_cast<std::uint32_t>(bytesLeft(stream)) / 8u)
        return fail("the count does not fit the record");
    for (std::uint32_t i = 0; i < count; ++i) {
        std::unique_ptr<Y3Pose> pose;
        if (!addField(total, Y3Pose::readBinary(stream, pose)) || !pose) return fail("a waypoint record is damaged");
        if (!allFinite(pose->pose.m, 12)) return fail("a waypoint pose holds numbers that are not finite");
        // The searches rely on the writer's order: ids ascending, unique.
        if (!out.empty() && std::strcmp(out.back()->id, pose->id) >= 0)
            return fail("the waypoint ids are out of order or repeated");
        out.push_back(std::move(pose));
    }
    // The resource is the whole record.
    if (bytesLeft(stream) > 0) return fail("bytes are left after the last waypoint");
    return total;
}

