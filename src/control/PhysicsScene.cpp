#include "control/PhysicsScene.h"

#include <algorithm>
#include <cstring>

#include "app/GameCore.h"
#include "app/SaveGame.h"
#include "control/PhysicsCore.h"
#include "control/PhysicsModel.h"
#include "control/Y3PhysicsModelData.h"
#include "foundation/DataStream.h"
#include "foundation/Log.h"
#include "foundation/TimeCore.h"
#include "platform/physics/PhysicsBackend.h"
#include "resources/PackageDatabase.h"
#include "scene/ObjectRepository.h"
#include "scene/Scene.h"
#include "scene/Trigger.h"

namespace backend = platform::physics;

namespace {

GameObject* resolve(GameObjectLink link) {
    return gameCore.objects && link.index() ? gameCore.objects->getObject(link) : nullptr;
}

template <typename T>
T* resolveAs(GameObjectLink link, std::uint32_t type) {
    GameObject* object = resolve(link);
    return object && object->getType() == type ? static_cast<T*>(object) : nullptr;
}

const char* text(const char* name) { return name ? name : ""; }

// A physics model or trigger of a scene's lists that this scene owns: of
// that type and linked back to it. A damaged save may list anything there.
PhysicsModel* ownedModel(GameObjectLink link, const PhysicsScene& owner) {
    auto* model = resolveAs<PhysicsModel>(link, ObjectPhysicsModel);
    return model && model->scene.index() == GameObjectLink::fromObject(&owner).index() ? model : nullptr;
}

PhysicsTrigger* ownedTrigger(GameObjectLink link, const PhysicsScene& owner) {
    auto* trigger = resolveAs<PhysicsTrigger>(link, ObjectPhysicsTrigger);
    return trigger && trigger->scene.index() == GameObjectLink::fromObject(&owner).index() ? trigger : nullptr;
}

// Removes a handle by moving the last one into its place; false when absent.
bool removeLink(std::vector<GameObjectLink>& links, const GameObject* object) {
    const std::uint32_t handle = GameObjectLink::fromObject(object).index();
    auto at = std::find_if(links.begin(), links.end(), [handle](GameObjectLink l) { return l.index() == handle; });
    if (at == links.end()) return false;
    *at = links.back();
    links.pop_back();
    return true;
}

std::int32_t writeLinks(DataStream& stream, const std::vector<GameObjectLink>& links) {
    std::vector<std::uint32_t> values;
    for (GameObjectLink link : links) values.push_back(link.value);
    return writeUIntArray(stream, values);
}

std::int32_t readLinks(DataStream& stream, std::vector<GameObjectLink>& links) {
    std::vector<std::uint32_t> values;
    const std::int32_t result = readUIntArray(stream, values);
    if (result < 0) return result;
    links.clear();
    for (std::uint32_t value : values) links.push_back(GameObjectLink{value});
    return result;
}

bool gameClockStands() {
    if (gameCore.clocks && gameCore.clocks->gameTime.paused) return true;
    return gameCore.game && gameCore.game->loading;
}

}  // namespace

// ---- PhysicsScene ----------------------------------------------------------

PhysicsScene::PhysicsScene(const char* sceneName, std::uint32_t sceneLink)
    : GameObject(text(sceneName)), sceneLink_(sceneLink) {}

PhysicsScene::~PhysicsScene() { release(); }

bool PhysicsScene::initialize(bool, bool) {
    if (!world) world = backend::backend().createWorld();
    return world != 0;
}

bool PhysicsScene::push() {
    if (flags & kPhysicsScenePushed) return true;
    flags |= kPhysicsScenePushed;
    bool result = true;
    for (GameObjectLink link : models)
        if (PhysicsModel* model = ownedModel(link, *this); model && !model->push()) result = false;
    for (GameObjectLink link : triggers)
        if (PhysicsTrigger* trigger = ownedTrigger(link, *this); trigger && !trigger->push()) result = false;
    return result;
}

bool PhysicsScene::pop(std::uint32_t word) {
    if (!(flags & kPhysicsScenePushed)) return true;
    flags &= ~kPhysicsScenePushed;
    bool result = true;
    for (GameObjectLink link : models)
        if (PhysicsModel* model = ownedModel(link, *this); model && !model->pop(word)) result = false;
    // A trigger its scene trigger switched off was popped then.
    for (GameObjectLink link : triggers)
        if (PhysicsTrigger* trigger = ownedTrigger(link, *this); trigger && trigger->pushed && !trigger->pop(word))
            result = false;
    return result;
}

std::int32_t PhysicsScene::write(DataStream& stream) {
    std::int32_t total = 0;
    if (!addField(total, writeU32(stream, flags & ~kPhysicsSceneSimulating))) return total;
    if (!addField(total, writeLinks(stream, models))) return total;
    addField(total, writeLinks(stream, triggers));
    return total;
}

std::int32_t PhysicsSaveCheck::checkScene(std::uint32_t handle, DataStream& stream) {
    std::int32_t total = 0;
    std::uint32_t saved = 0;
    SceneLists lists;
    lists.handle = handle & kGameObjectHandleMask;
    if (!addField(total, readU32(stream, saved))) return total;
    if (!addField(total, readUIntArray(stream, lists.models))) return total;
    if (!addField(total, readUIntArray(stream, lists.triggers))) return total;
    scenes_.push_back(std::move(lists));
    return total;
}

std::int32_t PhysicsSaveCheck::checkModel(std::uint32_t handle, DataStream& stream) {
    PhysicsModelSaveRecord model;
    const std::int32_t total = model.read(stream);
    if (total >= 0)
        owners_.push_back({handle & kGameObjectHandleMask, ObjectPhysicsModel, model.scene & kGameObjectHandleMask});
    return total;
}

std::int32_t PhysicsSaveCheck::checkTrigger(std::uint32_t handle, DataStream& stream) {
    std::int32_t total = 0;
    std::uint32_t source = 0;
    std::uint32_t scene = 0;
    if (!addField(total, readU32(stream, source))) return total;
    if (!addField(total, readU32(stream, scene))) return total;
    owners_.push_back({handle & kGameObjectHandleMask, ObjectPhysicsTrigger, scene & kGameObjectHandleMask});
    return total;
}

bool PhysicsSaveCheck::linksHold() const {
    std::vector<std::uint32_t> listed;
    const auto holds = [&](const SceneLists& scene, const std::vector<std::uint32_t>& links, std::uint32_t type) {
        for (std::uint32_t value : links) {
            const std::uint32_t handle = value & kGameObjectHandleMask;
            const bool owned = std::any_of(owners_.begin(), owners_.end(), [&](const Owner& o) {
                return o.handle == handle && o.type == type && o.scene == scene.handle;
            });
            if (!owned || std::find(listed.begin(), listed.end(), handle) != listed.end()) {
                const bool model = type == ObjectPhysicsModel;
                engineLog().error("Can't load physics scene [%u]: its %s link [%u] names no %s of its own",
                                  scene.handle, model ? "model" : "trigger", handle,
                                  model ? "physics model" : "physics trigger");
                return false;
            }
            listed.push_back(handle);
        }
        return true;
    };
    for (const SceneLists& scene : scenes_)
        if (!holds(scene, scene.models, ObjectPhysicsModel) || !holds(scene, scene.triggers, ObjectPhysicsTrigger))
            return false;
    return true;
}

std::int32_t PhysicsScene::read(DataStream& stream) {
    std::int32_t total = 0;
    std::uint32_t saved = 0;
    if (!addField(total, readU32(stream, saved))) return total;
    if (!addField(total, readLinks(stream, models))) return total;
    if (!addField(total, readLinks(stream, triggers))) return total;
    flags = saved & ~(kPhysicsScenePushed | kPhysicsSceneSimulating);
    restorePending_ = true;
    return total;
}

bool PhysicsScene::updatePhase1(const CurrentTime& time, std::int32_t) {
    if (!world) return true;
    if (restorePending_) {
        // The first step after a restore gives the models and triggers read
        // with the game their backend objects again.
        restorePending_ = false;
        for (GameObjectLink link : models)
            if (auto* model = resolveAs<PhysicsModel>(link, ObjectPhysicsModel); model && !model->restoreActors())
                engineLog().error("Can't restore physics model [%s] in physics scene [%s]", model->displayName(),
                                  getName());
        for (GameObjectLink link : triggers)
            if (auto* trigger = resolveAs<PhysicsTrigger>(link, ObjectPhysicsTrigger)) trigger->createVolume(world);
    }
    // Nothing moves while the game clock stands or a scene or save loads:
    // the motions wait in the models' accumulators.
    if (gameClockStands()) return true;
    for (GameObjectLink link : models)
        if (auto* model = resolveAs<PhysicsModel>(link, ObjectPhysicsModel)) model->applyMotion(world);
    flags |= kPhysicsSceneSimulating;
    backend::backend().step(world, static_cast<float>(time.game.step));
    flags &= ~kPhysicsSceneSimulating;
    for (GameObjectLink link : models)
        if (auto* model = resolveAs<PhysicsModel>(link, ObjectPhysicsModel)) model->takeGroundContact(world);
    dispatchTriggerEvents();
    return true;
}

void PhysicsScene::updateTriggers() {
    if (!world) return;
    backend::backend().updateTriggers(world);
    dispatchTriggerEvents();
}

void PhysicsScene::dispatchTriggerEvents() {
    std::vector<backend::TriggerEvent> events;
    backend::backend().takeTriggerEvents(world, events);
    for (const backend::TriggerEvent& event : events) {
        auto* trigger = resolveAs<PhysicsTrigger>(GameObjectLink{event.owner}, ObjectPhysicsTrigger);
        if (!trigger) continue;
        for (GameObjectLink link : models) {
            auto* model = resolveAs<PhysicsModel>(link, ObjectPhysicsModel);
            if (!model) continue;
            const bool owns = std::any_of(model->actors.begin(), model->actors.end(),
                                          [&](const PhysicsActorInstance& a) { return a.handle == event.actor; });
            if (!owns) continue;
            if (GameObject* source = model->sourceObject()) trigger->actorContact(*source, event.entered);
            break;
        }
    }
}

void PhysicsScene::release() {
    // Only what this scene owns is released and deleted: a link to another
    // object (itself, another scene's model) is dropped with the list.
    for (GameObjectLink link : models) {
        if (PhysicsModel* model = ownedModel(link, *this)) {
            if (model->flags & kPhysicsModelPushed) model->pop(0);
            model->release();
            delete model;
        }
    }
    models.clear();
    for (GameObjectLink link : triggers) {
        if (PhysicsTrigger* trigger = ownedTrigger(link, *this)) {
            if (trigger->pushed) trigger->pop(0);
            trigger->release();
            delete trigger;
        }
    }
    triggers.clear();
    if (world) backend::backend().releaseWorld(world);
    world = 0;
}

PhysicsModelRecord* PhysicsScene::addModelRecord(PhysicsModelDataManager& manager, const char* modelName,
                                                 bool report) {
    return manager.getOrCreate(text(modelName), report);
}

PhysicsModel* PhysicsScene::createModel(const char* modelName, GameObject* sourceModel, const float* scale) {
    Log& log = engineLog();
    if (!gameCore.physics) return nullptr;
    PhysicsModelDataManager& manager = gameCore.physics->modelData();
    modelName = text(modelName);
    if (!manager.findRecord(modelName)) {
        FilePackageDBData* packages = packageData();
        if (!packages || !packages->find(".fh4", modelName, "")) return nullptr;
    }
    PhysicsModelRecord* record = addModelRecord(manager, modelName, true);
    if (!record->has(kResourceAllocated)) {
        const bool header = record->has(kResourceHeaderLoaded) || manager.loadHeader(record, nullptr);
        if (!header || !manager.allocate(record)) {
            log.error("Cannot allocate physics model [%s] data in physics scene [%s]", modelName, getName());
            return nullptr;
        }
    }
    auto* model = new PhysicsModel(record, GameObjectLink::fromObject(this), GameObjectLink::fromObject(sourceModel));
    if (!model->id) {
        delete model;
        log.error("Cannot create physics model [%s] in physics scene [%s]", modelName, getName());
        return nullptr;
    }
    const float unit[3] = {1.0f, 1.0f, 1.0f};
    if (!model->initialize(scale ? scale : unit)) {
        delete model;
        log.error("Cannot initialize physics model [%s] in physics scene [%s]", modelName, getName());
        return nullptr;
    }
    models.push_back(GameObjectLink::fromObject(model));
    if (flags & kPhysicsScenePushed) model->push();
    return model;
}

bool PhysicsScene::removeModel(PhysicsModel* model) {
    if (!model || !removeLink(models, model))
        return engineLog().error("Can't find physics model object [%s] in physics scene [%s]",
                                 model ? model->displayName() : "NULL", getName());
    if (model->flags & kPhysicsModelPushed) model->pop(0);
    model->release();
    delete model;
    return true;
}

PhysicsTrigger* PhysicsScene::addTrigger(const char* triggerName, GameObject* source) {
    triggerName = text(triggerName);
    for (GameObjectLink link : triggers) {
        const GameObject* trigger = resolve(link);
        if (trigger && std::strcmp(trigger->getName(), triggerName) == 0) {
            engineLog().error("Physics trigger with name [%s] already exist", triggerName);
            return nullptr;
        }
    }
    auto* trigger = new PhysicsTrigger(source ? source->getName() : triggerName, GameObjectLink::fromObject(source),
                                       GameObjectLink::fromObject(this));
    trigger->createVolume(world);
    triggers.push_back(GameObjectLink::fromObject(trigger));
    if (flags & kPhysicsScenePushed) trigger->push();
    return trigger;
}

bool PhysicsScene::removeTrigger(PhysicsTrigger* trigger) {
    if (!trigger || !removeLink(triggers, trigger))
        return engineLog().error("Can't find physics trigger object [%s] in physics scene [%s]",
                                 trigger ? trigger->getName() : "NULL", getName());
    trigger->release();
    delete trigger;
    return true;
}

PhysicsModel* PhysicsScene::modelOf(const GameObject* source) const {
    const std::uint32_t handle = GameObjectLink::fromObject(source).index();
    for (GameObjectLink link : models)
        if (auto* model = resolveAs<PhysicsModel>(link, ObjectPhysicsModel); model && model->source.index() == handle)
            return model;
    return nullptr;
}

PhysicsTrigger* PhysicsScene::triggerOf(const GameObject* source) const {
    const std::uint32_t handle = GameObjectLink::fromObject(source).index();
    for (GameObjectLink link : triggers)
        if (auto* trigger = resolveAs<PhysicsTrigger>(link, ObjectPhysicsTrigger); trigger && trigger->source.index() == handle)
            return trigger;
    return nullptr;
}

bool PhysicsScene::allModelsReleased() const {
    for (GameObjectLink link : models)
        if (const auto* model = resolveAs<PhysicsModel>(link, ObjectPhysicsModel); model && !model->actors.empty())
            return false;
    return true;
}

namespace {

// The world is asked for first, so that without one no object (and no
// repository slot) is made.
PhysicsScene* createPhysicsScene(const char* name, std::uint32_t sceneLink) {
    const std::uint32_t world = backend::backend().createWorld();
    if (!world) return nullptr;
    auto* physics = new PhysicsScene(name, sceneLink);
    physics->world = world;
    if (physics->id && physics->initialize(true, true)) return physics;
    delete physics;
    return nullptr;
}

}  // namespace

PhysicsScene* PhysicsSceneManager::Create(const Scene& scene) {
    return createPhysicsScene(scene.getName(), GameObjectLink::fromObject(&scene).value);
}

PhysicsScene* PhysicsSceneManager::Create(const char* name) { return createPhysicsScene(name, 0); }

PhysicsScene* physicsSceneOf(const Scene* scene) {
    return scene ? resolveAs<PhysicsScene>(scene->physicsScene, ObjectPhysicsScene) : nullptr;
}

PhysicsScene* physicsSceneOf(GameObjectLink scene) { return physicsSceneOf(resolveAs<Scene>(scene, ObjectScene)); }

PhysicsModel* attachPhysicsModel(GameObject& model, const char* modelName, const float* scale, bool shown) {
    PhysicsScene* physics = physicsSceneOf(GameObjectLink{model.getSceneLink()});
    if (!physics) {
        engineLog().error("Cant attach physics: Physics Scene not defined in object [%s]", model.getName());
        return nullptr;
    }
    PhysicsModel* created = physics->createModel(modelName, &model, scale);
    if (created && !shown)
        for (PhysicsActorInstance& actor : created->actors) actor.flags &= ~kPhysicsActorVisible;
    return created;
}

void detachPhysicsModel(GameObject& model, GameObjectLink physicsModel) {
    PhysicsScene* physics = physicsSceneOf(GameObjectLink{model.getSceneLink()});
    if (!physics) {
        engineLog().error("Cant remove physics: Physics Scene not defined in object [%s]", model.getName());
        return;
    }
    if (auto* attached = resolveAs<PhysicsModel>(physicsModel, ObjectPhysicsModel)) physics->removeModel(attached);
}

// ---- PhysicsTrigger --------------------------------------------------------

PhysicsTrigger::PhysicsTrigger(const char* triggerName, GameObjectLink sourceLink, GameObjectLink sceneLink)
    : GameObject(text(triggerName)), source(sourceLink), scene(sceneLink) {}

PhysicsTrigger::~PhysicsTrigger() { release(); }

const char* PhysicsTrigger::getName() const {
    const GameObject* object = resolve(source);
    return object ? object->getName() : "Broken physic trigger";
}

std::uint32_t PhysicsTrigger::getSceneLink() const { return resolve(source) ? source.value : 0; }

bool PhysicsTrigger::push() {
    if (pushed) return engineLog().error("Can't push physics trigger [%s]: Already registered", getName());
    pushed = 1;
    return true;
}

bool PhysicsTrigger::pop(std::uint32_t) {
    if (!pushed) return engineLog().error("Can't pop physics trigger [%s]: Push first", getName());
    pushed = 0;
    return true;
}

std::int32_t PhysicsTrigger::write(DataStream& stream) {
    std::int32_t total = 0;
    if (!addField(total, writeU32(stream, source.value))) return total;
    addField(total, writeU32(stream, scene.value));
    return total;
}

std::int32_t PhysicsTrigger::read(DataStream& stream) {
    std::int32_t total = 0;
    std::uint32_t sourceValue = 0;
    std::uint32_t sceneValue = 0;
    if (!addField(total, readU32(stream, sourceValue))) return total;
    if (!addField(total, readU32(stream, sceneValue))) return total;
    source = GameObjectLink{sourceValue};
    scene = GameObjectLink{sceneValue};
    volume = 0;
    return total;
}

void PhysicsTrigger::createVolume(std::uint32_t world) {
    const GameObject* object = resolve(source);
    if (!world || volume || !object || object->getType() != ObjectTrigger) return;
    const auto* trigger = static_cast<const Trigger*>(object);
    backend::TriggerDesc desc;
    std::memcpy(desc.pose, trigger->pose.m, sizeof(desc.pose));
    std::memcpy(desc.halfSize, trigger->size, sizeof(desc.halfSize));
    desc.owner = GameObjectLink::fromObject(this).value;
    volume = backend::backend().createTrigger(world, desc);
}

void PhysicsTrigger::actorContact(GameObject& model, bool entered) {
    const std::uint32_t handle = GameObjectLink::fromObject(&model).index();
    auto at = std::find_if(touching.begin(), touching.end(), [handle](const auto& t) { return t.first == handle; });
    if (entered) {
        if (at != touching.end()) {
            ++at->second;
            return;
        }
        touching.emplace_back(handle, 1);
    } else {
        if (at == touching.end()) return;
        if (--at->second > 0) return;
        touching.erase(at);
    }
    GameObject* object = resolve(source);
    if (object && object->getType() == ObjectTrigger && static_cast<Trigger*>(object)->triggerKind() == 0)
        static_cast<TriggerStatic*>(object)->physicsContact(entered, model);
}

void PhysicsTrigger::release() {
    touching.clear();
    if (!volume) return;
    const auto* owner = resolveAs<PhysicsScene>(scene, ObjectPhysicsScene);
    if (owner && owner->world) backend::backend().releaseTrigger(owner->world, volume);
    volume = 0;
}

// ---- Collision queries -----------------------------------------------------

namespace {

template <backend::ShapeKind Kind, bool Overlap>
bool queryBox(std::uint32_t world, std::uint32_t actor, const double* corners, const float* position,
              const float* motion, backend::QueryHit& hit) {
    if (!Overlap && !motion) return false;
    return backend::backend().queryActor(world, actor, Kind, corners, position, Overlap ? nullptr : motion, hit);
}

}  // namespace

const PhysicsQueryCallback physicsQueryCallbacks[12] = {
    queryBox<backend::ShapeKind::Box, false>,    queryBox<backend::ShapeKind::Box, true>,
    queryBox<backend::ShapeKind::Capsule, false>, queryBox<backend::ShapeKind::Capsule, true>,
    queryBox<backend::ShapeKind::Sphere, false>, queryBox<backend::ShapeKind::Sphere, true>,
    queryBox<backend::ShapeKind::Convex, false>, queryBox<backend::ShapeKind::Convex, true>,
    queryBox<backend::ShapeKind::Mesh, false>,   queryBox<backend::ShapeKind::Mesh, true>,
    queryBox<backend::ShapeKind::Cloth, false>,  queryBox<backend::ShapeKind::Cloth, true>,
};
