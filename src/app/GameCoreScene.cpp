// The game core's services on the current scene: every call finds the
// current scene of the save game again, so a service acts on the scene that
// is current at that moment, and answers a neutral value with its message
// when there is none.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "control/PhysicsModel.h"
#include "control/PhysicsScene.h"
#include "app/GameCore.h"
#include "app/SaveGame.h"
#include "control/PhysicsModel.h"
#include "control/PhysicsScene.h"
#include "effects/Particle.h"
#include "effects/Sprite.h"
#include "game/Dialog.h"
#include "game/SceneActionDataManager.h"
#include "game/WaypointDataManager.h"
#include "foundation/TimeCore.h"
#include "input/InputCore.h"
#include "model/Model.h"
#include "foundation/IniFile.h"
#include "foundation/Log.h"
#include "scene/GameObject.h"
#include "scene/ObjectRepository.h"
#include "scene/CameraCore.h"
#include "scene/CameraStack.h"
#include "scene/Scene.h"
#include "scene/Trigger.h"
#include "scene/Y3Pose.h"
#include "sound/Sound.h"
#include "sound/SoundBank.h"
#include "sound/SoundCore.h"
#include "sound/SoundSettings.h"

namespace {

// The scene, or null after the message (when one is given).
Scene* sceneOr(const char* message) {
    Scene* scene = gameCore.currentScene();
    if (!scene && message) engineLog().error("%s", message);
    return scene;
}

GameObject* resolve(GameObjectLink link) {
    return gameCore.objects && link.index() ? gameCore.objects->getObject(link) : nullptr;
}

// The name cut to 127 characters and lowered, as scene names are stored.
std::string loweredName(const char* name) {
    std::string text(name ? name : "");
    if (text.size() > 127) text.resize(127);
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::uint32_t handleOf(const GameObject* object) { return object ? object->id & kGameObjectHandleMask : 0; }

// An object that a command does not support: the type name and its name.
// A command the object's type does not take; format is the command's message.
bool unsupported(const GameObject* object, const char* format) {
    return engineLog().error(format, gameObjectTypeName(object->getType()), object->getName());
}

}  // namespace

Scene* GameCore::currentScene() const { return game ? game->currentScene() : nullptr; }

bool GameCore::scene_setMainCharacter(GameObjectLink link) {
    Scene* scene = sceneOr("Can't set main character: load scene first");
    if (!scene) return false;
    return scene->setMainCharacter(link);
}

bool GameCore::scene_setMainCharacterByName(const char* name) {
    Scene* scene = currentScene();
    GameObject* model = scene ? scene->lookupModel(name) : nullptr;
    if (!model) {
        engineLog().error("Can't find game object with name [%s]", name ? name : "");
        return engineLog().error("Can't set main character to object [%s]: Object NOT found", name ? name : "");
    }
    return scene_setMainCharacter(GameObjectLink::fromObject(model));
}

GameObjectLink GameCore::scene_getMainCharacter() {
    Scene* scene = sceneOr("Can't get main character: load scene first");
    return scene ? scene->mainCharacter : GameObjectLink{};
}

ModelController* GameCore::scene_getMainController() {
    Scene* scene = currentScene();
    if (!scene || !resolve(scene->mainCharacter)) {
        engineLog().error("Can't get main controller: Set main character first");
        return nullptr;
    }
    auto* model = dynamic_cast<Model*>(resolve(scene->mainCharacter));
    return model ? model->controller.get() : nullptr;
}

bool GameCore::scene_isDialogActive() {
    Scene* scene = currentScene();
    auto* dialog = scene ? dynamic_cast<Dialog*>(resolve(scene->mainDialog)) : nullptr;
    return dialog && dialog->phraseIndex >= 0;
}

bool GameCore::onScreenSwitched() {
    if (!currentScene()) return engineLog().error("Invalid screen switch signal");
    if (debugFlags & DebugCameraLog) engineLog().message("Switch current screen to [%s]", scene_getActionsName());
    return true;
}

bool GameCore::onMainCharacterSelected() {
    // The character chosen so far stops being the main character.
    Scene* scene = currentScene();
    GameObject* character = scene ? resolve(scene->mainCharacter) : nullptr;
    if (auto* model = dynamic_cast<Model*>(character)) model->setMainCharacter(false);
    else if (character) engineLog().message("Select main character [%s]", character->getName());
    return true;
}

bool GameCore::scene_resetMainCharacterView() {
    Scene* scene = currentScene();
    GameObject* character = scene ? resolve(scene->mainCharacter) : nullptr;
    if (!character) return false;
    auto* model = dynamic_cast<Model*>(character);
    if (model) model->setMainCharacter(true);
    // The views start over behind the new main character's facing.
    if (input) input->resetView(CurrentTime(-1.0));
    // Still the main character: its footsteps and tracking go on, only
    // the player cannot steer it.
    if (!model || !model->controller) engineLog().warning("Main character without controller: Attach conroller first");
    return true;
}

CameraCore* GameCore::scene_getCamera(const char* name) {
    Scene* scene = currentScene();
    if (!scene || (game && game->loading)) return nullptr;
    if (name && *name) return scene->findCamera(name);
    return scene->camera();
}

bool GameCore::scene_setFixedCameraToWaypoint(const char* waypoint, float) {
    if (scene_findWaypointOfKind(waypoint, 3)) return true;
    return engineLog().error("Can't setup fixed camera position to camera waypoint [%s]: Waypoint not found",
                             waypoint ? waypoint : "");
}

bool GameCore::scene_cameraStackCommand(const char* camera, const char* argument) {
    return scene_cameraStackText(argument, camera);
}

bool GameCore::scene_cameraStackText(const char* text, const char* camera) {
    CameraCore* target = scene_getCamera(camera);
    if (!target) return false;
    CameraStack stack;
    const bool played = stack.parseCommands(text) && target->playStack(stack, false);
    stack.clear();
    return played;
}

bool GameCore::scene_getPose(const char* entity, std::uint32_t, Matrix34& out) {
    const std::string name = loweredName(entity);
    if (name == "%camera%") {
        CameraCore* camera = scene_getCamera();
        if (!camera) return false;
        out = camera->pose;
        return true;
    }
    if (name.empty()) return engineLog().error("Can't map entity pose [%s]", name.c_str());
    const std::size_t colon = name.find(':');
    const std::string objectName = name.substr(0, colon);
    const GameObjectLink link = scene_isDialogActive() ? scene_dialogAlias(objectName.c_str(), 0)
                                                       : GameObjectLink{scene_findObject(objectName.c_str(), false)};
    if (GameObject* object = resolve(link)) {
        if (colon == std::string::npos) return object->getWorldMatrix(out);
        const std::string bone = name.substr(colon + 1);
        const std::int32_t index = object->findBone(bone.c_str());
        if (index < 0)
            return engineLog().error("get_pose: Can't find bone [%s] in model [%s]", bone.c_str(), object->getName());
        return object->getBoneWorldMatrix(index, out);
    }
    if (Y3Pose* waypoint = currentScene() ? scene_findWaypoint(name.c_str()) : nullptr) {
        out = waypoint->pose;
        return true;
    }
    return engineLog().error("Can't find object or waypoint position with name [%s]", name.c_str());
}

std::uint32_t GameCore::scene_findObject(const char* name, bool log) {
    Scene* scene = currentScene();
    GameObject* object = scene ? scene->lookupModel(name) : nullptr;
    if (!object && log) engineLog().error("Can't find game object with name [%s]", name ? name : "");
    return handleOf(object);
}

std::uint32_t GameCore::scene_findParticle(const char* name, bool log) {
    Scene* scene = currentScene();
    GameObject* object = scene ? scene->lookupParticle(name) : nullptr;
    if (!object && log) engineLog().error("Can't find particle with name [%s]", name ? name : "");
    return handleOf(object);
}

bool GameCore::scene_findSprite(const char* name, bool log, GameObjectLink& out) {
    Scene* scene = currentScene();
    GameObject* object = scene ? scene->lookupSprite(name) : nullptr;
    out = GameObjectLink{handleOf(object)};
    if (!object && log) engineLog().error("Can't find game sprite with name [%s]", name ? name : "");
    return object != nullptr;
}

GameObject* GameCore::scene_findLight(const char* name, bool log) {
    Scene* scene = currentScene();
    GameObject* object = scene ? scene->lookupLight(name) : nullptr;
    if (!object && log) engineLog().error("Can't find game light with name [%s]", name ? name : "");
    return object;
}

std::int32_t GameCore::scene_findTrigger(const char* name) {
    Scene* scene = currentScene();
    if (!scene) return 0;
    const std::int32_t index = scene->triggers->findTrigger(name);
    return index < 0 ? 0 : static_cast<std::int32_t>(scene->triggers->handles()[static_cast<std::size_t>(index)].index());
}

const char* GameCore::scene_modelTriggerName(const char* model) {
    if (!currentScene()) return "";
    return SceneTriggers::makeCaretName(model);
}

GameObject* GameCore::scene_addModelTrigger(const char* name, const Matrix34& pose) {
    Scene* scene = sceneOr("Can't add model trigger: load scene first");
    if (!scene) return nullptr;
    TriggerDescription description;
    description.name = name;
    description.pose = pose;
    description.actionMode = '^';
    return scene->triggers->addModelTrigger(description);
}

GameObject* GameCore::scene_createParticle(const char* effect, const char* name, const Matrix34& pose) {
    Scene* scene = sceneOr("Can't create particle: load scene first");
    return scene ? scene->createParticle(name, effect, pose) : nullptr;
}

// Lights are not made here by this build's scenes.
GameObject* GameCore::scene_addLight(const char*, const char*, const Matrix34&) { return nullptr; }

GameObject* GameCore::scene_createModel(const char* resource, const char* name, const Matrix34& placement,
                                        std::uint32_t flags) {
    Scene* scene = sceneOr("Can't create model: load scene first");
    return scene ? scene->createModel(resource, name, placement, flags) : nullptr;
}

const char* GameCore::scene_dialogName(std::int32_t index) {
    Scene* scene = currentScene();
    if (!scene) return "NULL SCENE PTR";
    if (index < 0 || index >= static_cast<std::int32_t>(scene->dialogs.size())) return "INVALID DIALOG INDEX";
    GameObject* dialog = resolve(scene->dialogs[static_cast<std::size_t>(index)]);
    return dialog ? dialog->getName() : "NULL DIALOG PTR";
}

GameObjectLink GameCore::scene_dialogAlias(const char* name, std::int32_t) {
    Scene* scene = currentScene();
    auto* dialog = scene ? dynamic_cast<Dialog*>(resolve(scene->mainDialog)) : nullptr;
    return dialog ? dialog->addAlias(name) : GameObjectLink{};
}

const std::vector<GameObjectLink>* GameCore::scene_getObjectArray(std::uint32_t type) {
    Scene* scene = currentScene();
    if (!scene) return nullptr;
    switch (type) {
    case ObjectParticle: return &scene->particles;
    case ObjectModel: return &scene->models;
    case ObjectSprite: return &scene->sprites;
    default: return nullptr;
    }
}

std::int32_t GameCore::scene_enumFind(const char* name, std::uint32_t type) {
    const std::string wanted = loweredName(name);
    if (type == 14) return scene_findWaypointOfKind(wanted.c_str(), 0) ? 0 : -1;
    const std::vector<GameObjectLink>* list = scene_getObjectArray(type);
    if (!list) {
        engineLog().error("Can't enum  obj find [%s]: requested type is empty", wanted.c_str());
        return -1;
    }
    for (std::size_t i = 0; i < list->size(); ++i) {
        const GameObject* object = resolve((*list)[i]);
        if (object && wanted == object->getName()) return static_cast<std::int32_t>(i);
    }
    return -1;
}

const char* GameCore::scene_enumObjectName(std::int32_t index, std::uint32_t type) {
    const std::vector<GameObjectLink>* list = scene_getObjectArray(type);
    if (!list) {
        engineLog().error("Can't enum  obj name for index [%i]", index);
        return "INVALID";
    }
    if (index < 0 || index >= static_cast<std::int32_t>(list->size())) {
        engineLog().error("Can't enum  obj name for index [%i]: INDEX IS INVALID", index);
        return "INVALID";
    }
    const GameObject* object = resolve((*list)[static_cast<std::size_t>(index)]);
    return object ? object->getName() : "NULL";
}

Y3Pose* GameCore::scene_findWaypoint(const char* name) {
    Scene* scene = sceneOr("Can't search waypoints: Create scene first");
    return scene ? scene->findWaypoint(name) : nullptr;
}

Y3Pose* GameCore::scene_findWaypointOfKind(const char* name, std::int32_t kind) {
    Scene* scene = sceneOr("Can't search waypoints: Create scene first");
    return scene ? scene->searchWaypoints(name, kind) : nullptr;
}

Y3Pose* GameCore::scene_findNearestWaypoint(const char* name, const float* position) {
    Scene* scene = sceneOr("Can't search nearest waypoints: Create scene first");
    return scene && position ? scene->searchNearestWaypoints(name, position) : nullptr;
}

bool GameCore::teleportObject(GameObjectLink link, const char* waypoint, float offset) {
    GameObject* object = resolve(link);
    if (!object) return engineLog().error("Can't teleport zero object");
    switch (object->getType()) {
    case ObjectSound: {
        auto* sound = dynamic_cast<Sound*>(object);
        return sound && sound->teleport(waypoint);
    }
    case ObjectParticle: return static_cast<Particle*>(object)->teleport(waypoint, offset);
    case ObjectModel: return false;  // its teleport comes with its code
    default: return unsupported(object, "Object type [%s] (%s) not support teleport command");
    }
}

bool GameCore::customizeObject(GameObjectLink link, const char* element, bool) {
    GameObject* object = resolve(link);
    if (!object) return engineLog().error("Can't customize zero object");
    // Models have no elements yet, so no element is ever found; the model
    // resource's name comes with the model code.
    if (object->getType() == ObjectModel)
        return engineLog().error("Can't find element with name [%s] in model [%s] object [%s]",
                                 element ? element : "", "", object->getName());
    if (object->getType() == ObjectSprite) return false;
    return unsupported(object, "Object type [%s] (%s) not support customize command");
}

bool GameCore::customizeObjectsByName(std::uint32_t type, const char* namePart, const char* element, bool show) {
    const std::vector<GameObjectLink>* list = scene_getObjectArray(type);
    if (!list) return false;
    const std::vector<GameObjectLink> handles = *list;
    for (GameObjectLink link : handles) {
        const GameObject* object = resolve(link);
        if (object && std::strstr(object->getName(), namePart ? namePart : "")) customizeObject(link, element, show);
    }
    return true;
}

bool GameCore::resetObject(GameObjectLink link) {
    GameObject* object = resolve(link);
    if (!object) return engineLog().error("Can't reset zero object");
    if (object->getType() == ObjectParticle) {
        static_cast<Particle*>(object)->restart(CurrentTime(-1.0));
        return true;
    }
    return unsupported(object, "Object type [%s] (%s) not support reset command");
}

bool GameCore::setObjectPlay(GameObjectLink link, bool play) {
    GameObject* object = resolve(link);
    if (!object) return engineLog().error("Can't change play for zero object");
    if (object->getType() == ObjectParticle) return static_cast<Particle*>(object)->setPaused(!play, false);
    return unsupported(object, "Object type [%s] (%s) not support customize command");
}

bool GameCore::linkObjects(GameObjectLink slave, GameObjectLink master) {
    GameObject* object = resolve(slave);
    if (!object) return engineLog().error("Can't link game objects: set slave model first");
    return object->link.set(nullptr, resolve(master), matrix34Identity());
}

bool GameCore::scene_attachSprite(GameObjectLink link) {
    Scene* scene = currentScene();
    GameObject* found = scene ? scene->lookupSprite(scene_getActionsName()) : nullptr;
    GameObject* object = resolve(link);
    if (!found || found->getType() != ObjectSprite || !object) return true;
    const auto* sprite = static_cast<const Sprite*>(found);
    const std::vector<std::uint32_t>* hidden = nullptr;
    if (object->getType() == ObjectParticle) hidden = &sprite->hideParticles;
    else if (object->getType() == ObjectModel) hidden = &sprite->hideObjects;
    if (!hidden) return true;
    const std::uint32_t handle = link.value & 0xFFFFFFu;
    return std::find(hidden->begin(), hidden->end(), handle) == hidden->end();
}

bool GameCore::scene_dialogLook(Matrix34& out, GameObjectLink looking) {
    Scene* scene = currentScene();
    return scene && scene->findLookTarget(out, resolve(looking));
}

namespace {

// The name of a model's voice sound.
std::string voiceName(const GameObject& model) { return std::string(model.getName()) + ".morph"; }

Sound* asSound(GameObject* object) { return dynamic_cast<Sound*>(object); }

}  // namespace

bool GameCore::object_voice(GameObjectLink model, const char* voice) {
    GameObject* object = resolve(model);
    if (!object) return engineLog().error("object_voice: Can't find model link [%08X] object", model.value);
    if (object->getType() != ObjectModel) return false;
    Scene* scene = sceneOr("Can't play voice: load scene first");
    if (!scene) return false;
    const std::string name = voiceName(*object);
    if (scene->findSound(SoundChannelVoice, name.c_str()) >= 0) scene->deleteSound(SoundChannelVoice, name.c_str());
    Sound* sound = asSound(scene->addSound(SoundChannelVoice, name.c_str(), voice, 0));
    if (!sound || !sound->play(false, false)) return false;
    return sound->getDuration() > 0.0;
}

bool GameCore::test_voice(GameObjectLink model) {
    GameObject* object = resolve(model);
    if (!object) return engineLog().error("test_voice: Can't find model link [%08X] object", model.value);
    Scene* scene = currentScene();
    Sound* sound = scene ? asSound(scene_findSound(SoundChannelVoice, voiceName(*object).c_str())) : nullptr;
    return sound && sound->playing();
}

void GameCore::stop_voice(GameObjectLink model) {
    GameObject* object = resolve(model);
    if (!object) {
        engineLog().error("stop_voice: Can't find model link [%08X] object", model.value);
        return;
    }
    Scene* scene = currentScene();
    const std::string name = voiceName(*object);
    if (scene && scene->findSound(SoundChannelVoice, name.c_str()) >= 0)
        scene->deleteSound(SoundChannelVoice, name.c_str());
}

namespace {

// An automatic global effect of the alias that plays once and is deleted
// when it has ended; null when it cannot be made.
Sound* playAutomatic(const char* alias, const D3DVECTOR* position, const char* group) {
    SoundCore* core = gameCore.sound;
    if (!core) return nullptr;
    EngineLock lock(*core);
    Sound* sound = core->createGlobalSound(nullptr, SoundChannelEffect, alias, position ? 1u : 0u);
    if (!sound) return nullptr;
    core->addAutomaticSound(sound, group);
    if (position) sound->setPosition(*position, false);
    sound->startBlend(0.0f, 0.0f);
    sound->flags |= Sound::kAutoRelease;
    return sound;
}

}  // namespace

bool GameCore::playAutoSound(const char* alias, GameObjectLink object) {
    GameObject* target = resolve(object);
    Matrix34 pose{};
    const bool placed = target && target->getWorldMatrix(pose);
    const D3DVECTOR at{pose.m[9], pose.m[10], pose.m[11]};
    return playAutomatic(alias, placed ? &at : nullptr, nullptr) != nullptr;
}

bool GameCore::playSoundAt(const char* alias, const float* position, const char* group) {
    if (!position) return false;
    const D3DVECTOR at{position[0], position[1], position[2]};
    if (soundSettings.useSoft3dAttenuation) {
        D3DVECTOR listener{};
        if (sound) listener = sound->listenerParameters().vPosition;
        const float dx = at.x - listener.x, dy = at.y - listener.y, dz = at.z - listener.z;
        if (Sound::distanceFactor(std::sqrt(dx * dx + dy * dy + dz * dz)) == 0.0f) return true;
    }
    return playAutomatic(alias, &at, group) != nullptr;
}

bool GameCore::stopSoundEffects(const char* group) {
    if (!group || !group[0]) return engineLog().error("Can't stop sound effects: required unique group name");
    return !sound || sound->deleteAutomaticGroup(group);
}

GameObject* GameCore::scene_createSound(std::int32_t channel, const char* name, const char* alias) {
    Scene* scene = currentScene();
    if (!scene) {
        engineLog().error("Can't create sound [%s]: Create scene first", name ? name : "");
        return nullptr;
    }
    if (channel < 0 || channel >= kSoundChannelCount) {
        engineLog().error("Use valid sound channel");
        return nullptr;
    }
    return scene->addSound(static_cast<std::uint32_t>(channel), name, alias, 0);
}

bool GameCore::scene_deleteSound(std::int32_t channel, const char* name) {
    Scene* scene = currentScene();
    if (!scene) return engineLog().error("Can't delete sound [%s]: Create scene first", name ? name : "");
    if (channel < 0 || channel >= kSoundChannelCount) return engineLog().error("Use valid sound channel");
    return scene->deleteSound(static_cast<std::uint32_t>(channel), name);
}

bool GameCore::scene_playSound(const char* name, const char* resource, std::int32_t channel, bool looped) {
    Scene* scene = currentScene();
    Sound* sound = nullptr;
    if (!scene) {
        engineLog().error("Can't create sound [%s]: Create scene first", name ? name : "");
    } else if (channel >= 0 && channel < kSoundChannelCount) {
        sound = asSound(scene->addSound(static_cast<std::uint32_t>(channel), name, resource, looped ? 2u : 0u));
    } else {
        engineLog().error("Use valid sound channel");
    }
    if (!sound) return engineLog().error("can't play sound [%s]: Sound not created", name ? name : "");
    return sound->play(false, false);
}

GameObject* GameCore::scene_findSound(std::int32_t channel, const char* name) {
    Scene* scene = sceneOr("Can't search scene sounds: Create scene first");
    if (!scene || channel < 0 || channel >= kSoundChannelCount) return nullptr;
    const std::int32_t index = scene->findSound(static_cast<std::uint32_t>(channel), name);
    return index >= 0 ? resolve(scene->sounds[channel][static_cast<std::size_t>(index)]) : nullptr;
}

void GameCore::visible_rain(bool visible) {
    if (Scene* scene = sceneOr("Can't change rain visibility: load scene first")) scene->showRain(visible);
}

bool GameCore::scene_generateRainMap() {
    Scene* scene = sceneOr("Can't generate rain map: load scene first");
    if (!scene) return false;
    return scene->generateRainMap() || engineLog().error("Fail to generate rain map");
}

void GameCore::scene_setSkyWeather(std::int32_t weather) {
    if (Scene* scene = sceneOr("Can't set sky weather: load scene first")) scene->setSkyWeather(weather);
}

void GameCore::scene_setSkyLightMode(std::int32_t mode) {
    Scene* scene = sceneOr("Can't set sky light mode: load scene first");
    if (!scene) return;
    scene->setSkyLightMode(mode);
    scene->flags |= kSceneLightingDirty;
    scene->lastWaypointRefresh = CurrentTime(-1.0).game.time;
    scene->waypointData->refreshLinkedModels(true, true);
}

std::int32_t GameCore::scene_getSkyLightMode() {
    Scene* scene = currentScene();
    return scene ? scene->skyLightMode() : 1;
}

bool GameCore::scene_setLightSet(std::int32_t kind, const char* name) {
    if (!sceneOr("Can't set scene lightset: Create scene first")) return false;
    if (kind == 0)
        return engineLog().error("Can't set default scene lightset to [%s]: LightSet not found", name ? name : "");
    return false;
}

bool GameCore::scene_moveAimPoint(const float*) {
    sceneOr("Can't move current scene aim point: load scene first");
    return false;
}

bool GameCore::scene_alignAimPoint(const float*) {
    sceneOr("Can't align current scene aim point: load scene first");
    return false;
}

bool GameCore::scene_updateAimPoint(const float*) {
    sceneOr("Can't update current scene aim point: load scene first");
    return false;
}

TimerCore* GameCore::scene_getTimers() {
    Scene* scene = sceneOr("Can't get timers interface: Create scene first");
    return scene ? &scene->timers : nullptr;
}

GameObject* GameCore::scene_getPhysicsScene() {
    Scene* scene = currentScene();
    return scene ? resolve(scene->physicsScene) : nullptr;
}

float GameCore::scene_physicsScale(float value) { return value; }

bool GameCore::scene_setPhysicsElementsVisible(bool visible) {
    Scene* scene = sceneOr("Can't change scene physics elements visibility: Create scene first");
    if (!scene) return false;
    PhysicsScene* physics = physicsSceneOf(scene);
    if (!physics || physics->models.empty())
        return engineLog().error("Can't change scene physics elements visibility: Create scene physics model first");
    for (GameObjectLink link : physics->models)
        if (GameObject* model = resolve(link); model && model->getType() == ObjectPhysicsModel)
            static_cast<PhysicsModel*>(model)->setVisible(nullptr, visible);
    return true;
}

SceneActionData* GameCore::scene_getActionsData() {
    Scene* scene = currentScene();
    return scene ? scene->screenActions->data() : nullptr;
}

WaypointData* GameCore::scene_getWaypointsData() {
    Scene* scene = currentScene();
    return scene ? scene->waypointData->data() : nullptr;
}

const char* GameCore::scene_getActionsName() {
    Scene* scene = currentScene();
    return scene ? scene->screenActions->selected : "";
}

bool GameCore::scene_selectActionsScreen(const char* screen) {
    Scene* scene = sceneOr("Can't select actions screen: load scene first");
    return scene && scene->screenActions->selectScreen(screen);
}

ActionScreen* GameCore::scene_getActionsScreen() {
    Scene* scene = currentScene();
    return scene ? scene->screenActions->currentScreen() : nullptr;
}

std::int32_t GameCore::scene_actionAtCursor() {
    Scene* scene = currentScene();
    const ActionScreen* screen = scene && input ? scene->screenActions->currentScreen() : nullptr;
    if (!screen) return -1;
    const InputVirtualPointer& pointer = input->virtualDevices.pointer;
    return screenActionAt(*screen, static_cast<std::int32_t>(pointer.x * 0.25f),
                          static_cast<std::int32_t>(pointer.y * 0.25f));
}

bool GameCore::scene_beginActionDraw(bool mode) {
    Scene* scene = sceneOr("Can't begin action draw: load scene first");
    if (!scene) return false;
    std::uint32_t& state = scene->screenActions->state;
    state = mode ? ((state | kScreenActionsDrawSet) & ~kScreenActionsDrawClear)
                 : ((state & ~kScreenActionsDrawSet) | kScreenActionsDrawClear);
    return true;
}

bool GameCore::scene_finishActionDraw() {
    Scene* scene = sceneOr("Can't finish action draw: load scene first");
    if (!scene) return false;
    scene->screenActions->state &= ~(kScreenActionsDrawSet | kScreenActionsDrawClear);
    return true;
}

bool GameCore::scene_setScreenCursor(std::int32_t cursor) {
    Scene* scene = sceneOr("Can't set screen cursor: load scene first");
    if (!scene) return false;
    scene->screenActions->cursor = cursor;
    return true;
}

bool GameCore::scene_showActionsScreen(bool show) {
    Scene* scene = sceneOr("Can't show actions screen: load scene first");
    if (!scene) return false;
    std::uint32_t& state = scene->screenActions->state;
    state = show ? (state | kScreenActionsShown) : (state & ~kScreenActionsShown);
    return true;
}
