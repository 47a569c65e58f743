#include "scene/Trigger.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "app/GameCore.h"
#include "control/PhysicsScene.h"
#include "foundation/DataStream.h"
#include "foundation/Log.h"
#include "scene/ObjectRepository.h"
#include "scene/Scene.h"
#include "script/ScriptCall.h"
#include "script/ScriptEngine.h"

namespace {

GameObject* resolve(GameObjectLink link) {
    return gameCore.objects && link.index() ? gameCore.objects->getObject(link) : nullptr;
}

const char* text(const char* name) { return name ? name : ""; }

// Runs the script handler named by the "Trigger" record for an entry or exit.
void raiseTriggerEvent(bool entered, const Trigger& trigger, const GameObject& object) {
    if (gameCore.debugFlags & DebugTriggersLog)
        engineLog().info("Trigger [%s]: object [%s] %s", trigger.triggerName, object.getName(),
                         entered ? "entered" : "left");
    const TriggerHandlerNames* names = gameCore.script ? gameCore.script->triggerHandlers() : nullptr;
    if (!names) return;
    const std::string& handler = entered ? names->onEnter : names->onLeave;
    if (handler.empty()) return;
    ScriptEventArgs args(handler.c_str());
    args.append(trigger.triggerName);
    args.append(object.getName());
    postScriptEventWithArgs(args, entered ? "Trigger.onEnter" : "Trigger.onLeave");
}

// Pops a pushed physics trigger and releases it.
void dropPhysicsTrigger(GameObject& physics) {
    if (physics.getType() == ObjectPhysicsTrigger && static_cast<PhysicsTrigger&>(physics).pushed) physics.pop(0);
    physics.release();
}

}  // namespace

// ---- Trigger ---------------------------------------------------------------

Trigger::Trigger(Scene* owner, const char* name)
    : GameObject(SceneTriggers::makeObjectName(owner, text(name))), owner(owner), pose(matrix34Identity()) {
    copyName(triggerName, sizeof(triggerName), text(name));
}

std::uint32_t Trigger::getSceneLink() const {
    if (!owner) {
        GameObject::error(this, "Memory broken in GameObject index access");
        return 0;
    }
    return objectHandle(owner);
}

bool Trigger::contains(const float* point) const {
    const float delta[3] = {point[0] - pose.m[9], point[1] - pose.m[10], point[2] - pose.m[11]};
    for (int axis = 0; axis < 3; ++axis) {
        const float* row = &pose.m[axis * 3];
        const float lengthSquared = vector3Dot(row, row);
        if (lengthSquared <= 0.0f) return false;
        const float local = vector3Dot(delta, row) / lengthSquared;
        if (std::fabs(local) > size[axis]) return false;
    }
    return true;
}

// ---- TriggerStatic ---------------------------------------------------------

TriggerStatic* TriggerStatic::create(Scene* scene, const char* triggerName, const Matrix34& pose, const float* size) {
    auto* trigger = new TriggerStatic(scene, triggerName ? triggerName : "load");
    trigger->pose = pose;
    if (size) std::memcpy(trigger->size, size, sizeof(trigger->size));
    // The trigger watches its box itself (watch()); with a physics scene it
    // also gets a physics trigger, the volume of the simulation.
    PhysicsScene* physics = physicsSceneOf(scene);
    if (!physics)
        engineLog().warning(" Cannot create static trigger [%s]: physics scene not found", trigger->triggerName);
    else if (triggerName)
        trigger->physicsTrigger = GameObjectLink::fromObject(physics->addTrigger(trigger->triggerName, trigger));
    return trigger;
}

TriggerStatic::~TriggerStatic() {
    if (physicsTrigger.index()) {
        GameObject* physics = resolve(physicsTrigger);
        if (physics) dropPhysicsTrigger(*physics);
        PhysicsScene* scene = physicsSceneOf(owner);
        if (!scene)
            engineLog().error(" Cannot create static trigger [%s]: physics scene not found", triggerName);
        else if (physics && physics->getType() == ObjectPhysicsTrigger)
            scene->removeTrigger(static_cast<PhysicsTrigger*>(physics));
        physicsTrigger = GameObjectLink{};
    }
}

bool TriggerStatic::setEnabled(bool on) {
    if ((enabled != 0) == on) return false;
    GameObject* physics = resolve(physicsTrigger);
    if (physicsTrigger.index() && !physics)
        return engineLog().error(" Can't find assigned physics trigger object for trigger [%s]", triggerName);
    if (on) {
        // Switching on gives the trigger its physics volume again, and
        // reports the models already touching it.
        PhysicsScene* scene = physicsSceneOf(owner);
        if (!physicsTrigger.index() && scene) {
            PhysicsTrigger* again = scene->triggerOf(this);
            if (again) again->createVolume(scene->world);
            else again = scene->addTrigger(triggerName, this);
            physicsTrigger = GameObjectLink::fromObject(again);
        }
        enabled = 1;
        const GameObject* linked = resolve(physicsTrigger);
        if (linked && linked->getType() == ObjectPhysicsTrigger) {
            const auto touching = static_cast<const PhysicsTrigger*>(linked)->touching;
            for (const auto& [handle, actors] : touching)
                if (GameObject* model = resolve(GameObjectLink{handle})) physicsContact(true, *model);
            // What the world has not stepped into the volume yet.
            if (scene) scene->updateTriggers();
        }
        return true;
    }
    if (physics) {
        dropPhysicsTrigger(*physics);
        physicsTrigger = GameObjectLink{};
    }
    enabled = 0;
    inside.clear();
    return true;
}

void TriggerStatic::watch() {
    if (!enabled || !owner) return;
    // With a physics volume, the models that have physics models are
    // reported by its contacts alone; the others are still watched here.
    const GameObject* physics = resolve(physicsTrigger);
    const bool backed = physics && physics->getType() == ObjectPhysicsTrigger &&
                        static_cast<const PhysicsTrigger*>(physics)->volume;
    const PhysicsScene* scene = backed ? physicsSceneOf(owner) : nullptr;
    const auto byContacts = [scene](const GameObject* object) { return scene && scene->modelOf(object); };
    std::vector<std::uint32_t> now;
    for (GameObjectLink link : owner->models) {
        GameObject* object = resolve(link);
        Matrix34 world;
        if (!object || byContacts(object) || !object->getWorldMatrix(world) || !contains(&world.m[9])) continue;
        now.push_back(link.index());
        if (std::find(inside.begin(), inside.end(), link.index()) == inside.end()) {
            ++count;
            raiseTriggerEvent(true, *this, *object);
        }
    }
    for (std::uint32_t handle : inside) {
        if (std::find(now.begin(), now.end(), handle) != now.end()) continue;
        GameObject* object = resolve(GameObjectLink{handle});
        if (object && byContacts(object)) {
            now.push_back(handle);
            continue;
        }
        if (object) raiseTriggerEvent(false, *this, *object);
    }
    inside = std::move(now);
}

void TriggerStatic::physicsContact(bool entered, const GameObject& object) {
    if (!enabled) return;
    const std::uint32_t handle = GameObjectLink::fromObject(&object).index();
    auto at = std::find(inside.begin(), inside.end(), handle);
    if (entered) {
        if (at != inside.end()) return;
        inside.push_back(handle);
        ++count;
    } else {
        if (at == inside.end()) return;
        inside.erase(at);
    }
    raiseTriggerEvent(entered, *this, object);
}

std::int32_t TriggerStatic::write(DataStream& stream) {
    std::int32_t total = 0;
    if (!addField(total, writeU32(stream, physicsTrigger.value))) return total;
    if (!addField(total, writeU8(stream, enabled))) return total;
    if (!addField(total, stream.write(pose.m, sizeof(pose.m)))) return total;
    if (!addField(total, stream.write(size, sizeof(size)))) return total;
    if (!addField(total, writeU32(stream, count))) return total;
    const auto length = static_cast<std::uint8_t>(std::strlen(triggerName));
    if (!addField(total, writeU8(stream, length))) return total;
    if (length) addField(total, stream.write(triggerName, length));
    return total;
}

std::int32_t TriggerRecord::read(DataStream& stream) {
    std::int32_t total = 0;
    if (!addField(total, readU32(stream, physicsTrigger))) return total;
    if (!addField(total, readU8(stream, enabled))) return total;
    if (!addField(total, readExact(stream, pose.m, sizeof(pose.m)))) return total;
    if (!addField(total, readExact(stream, size, sizeof(size)))) return total;
    if (!addField(total, readU32(stream, count))) return total;
    std::uint8_t length = 0;
    if (!addField(total, readU8(stream, length))) return total;
    if (length >= sizeof(name)) {
        engineLog().error("Can't read trigger: name of %u characters is too long", length);
        return -1;
    }
    std::memset(name, 0, sizeof(name));
    if (length) addField(total, readExact(stream, name, length));
    return total;
}

std::int32_t TriggerStatic::read(DataStream& stream) {
    TriggerRecord record;
    const std::int32_t total = record.read(stream);
    if (total < 0) return total;
    physicsTrigger = GameObjectLink{record.physicsTrigger};
    enabled = record.enabled;
    pose = record.pose;
    std::memcpy(size, record.size, sizeof(size));
    count = record.count;
    copyName(triggerName, sizeof(triggerName), record.name);
    copyName(name, sizeof(name), SceneTriggers::makeObjectName(owner, triggerName));
    nameChanged();
    inside.clear();
    return total;
}

// ---- SceneTriggers ---------------------------------------------------------

SceneTriggers::~SceneTriggers() {
    if (!handles_.empty())
        engineLog().systemError(
            " Triggers core for scene [%s] contain triggers. Required release call before descrutor",
            owner_ ? owner_->getName() : "");
}

const char* SceneTriggers::makeObjectName(const Scene* scene, const char* text) {
    static char buffer[512];
    std::snprintf(buffer, sizeof(buffer), "%s.%s", scene ? scene->getName() : "", text ? text : "");
    return buffer;
}

const char* SceneTriggers::makeCaretName(const char* text) {
    static char buffer[512];
    std::snprintf(buffer, sizeof(buffer), "^%s", text ? text : "");
    return buffer;
}

std::int32_t SceneTriggers::findTrigger(const char* triggerName) const {
    if (!triggerName) return -1;
    for (std::size_t i = 0; i < handles_.size(); ++i) {
        GameObject* object = resolve(handles_[i]);
        if (object && std::strcmp(object->getName(), triggerName) == 0) return static_cast<std::int32_t>(i);
    }
    return -1;
}

TriggerStatic* SceneTriggers::triggerAt(std::int32_t index) const {
    if (index < 0 || index >= static_cast<std::int32_t>(handles_.size())) return nullptr;
    GameObject* object = resolve(handles_[static_cast<std::size_t>(index)]);
    return object && object->getType() == ObjectTrigger ? static_cast<TriggerStatic*>(object) : nullptr;
}

TriggerStatic* SceneTriggers::addTrigger(const TriggerDescription& description) {
    if (findTrigger(description.name) >= 0) {
        engineLog().error("Can't add new trigger with name [%s]: this name already used", text(description.name));
        return nullptr;
    }
    TriggerStatic* trigger = TriggerStatic::create(owner_, description.name, description.pose, description.size);
    handles_.push_back(GameObjectLink::fromObject(trigger));
    return trigger;
}

TriggerStatic* SceneTriggers::addModelTrigger(const TriggerDescription& description) {
    char caretName[GameObject::kNameSize];
    copyName(caretName, sizeof(caretName), text(description.name));
    const std::size_t length = std::strlen(caretName);
    if (length + 1 < sizeof(caretName)) {
        std::memmove(caretName + 1, caretName, length + 1);
        caretName[0] = '^';
    } else {
        engineLog().error("Can't add string to start : Out of pre-allocated buffer size");
    }
    if (findTrigger(caretName) >= 0) {
        engineLog().error("Can't add new model trigger with name [%s]: this name already used", caretName);
        return nullptr;
    }
    if (description.actionMode != '^') {
        engineLog().error("Can't create model trigger: Expected action mode");
        return nullptr;
    }
    const float unit[3] = {1.0f, 1.0f, 1.0f};
    TriggerStatic* trigger = TriggerStatic::create(owner_, caretName, description.pose, unit);
    trigger->setEnabled(true);
    handles_.push_back(GameObjectLink::fromObject(trigger));
    return trigger;
}

bool SceneTriggers::deleteTrigger(Trigger* trigger) {
    if (!trigger) return GameObject::error(trigger, "Memory broken in GameObject index access");
    const std::uint32_t handle = GameObjectLink::fromObject(trigger).index();
    auto at = std::find_if(handles_.begin(), handles_.end(),
                           [handle](GameObjectLink link) { return link.index() == handle; });
    if (at == handles_.end()) return engineLog().error("Can't find trigger to delete");
    *at = handles_.back();
    handles_.pop_back();
    trigger->setEnabled(false);
    delete trigger;
    return true;
}

bool SceneTriggers::pushAll() {
    bool result = true;
    for (GameObjectLink link : handles_)
        if (GameObject* object = resolve(link); object && !object->push()) result = false;
    return result;
}

bool SceneTriggers::popAll() {
    bool result = true;
    for (GameObjectLink link : handles_)
        if (GameObject* object = resolve(link); object && !object->pop(0)) result = false;
    return result;
}

std::int32_t SceneTriggers::write(DataStream& stream) const {
    std::int32_t total = 0;
    if (!addField(total, writeU32(stream, static_cast<std::uint32_t>(handles_.size())))) return total;
    for (GameObjectLink link : handles_)
        if (!addField(total, writeU32(stream, link.value))) return total;
    return total;
}

std::int32_t SceneTriggers::read(DataStream& stream) {
    handles_.clear();
    std::vector<std::uint32_t> values;
    const std::int32_t result = readUIntArray(stream, values);
    if (result < 0) return result;
    for (std::uint32_t value : values) handles_.push_back(GameObjectLink{value});
    return result;
}

void SceneTriggers::release() {
    for (GameObjectLink link : handles_) {
        if (GameObject* object = resolve(link)) {
            object->pop(0);
            object->release();
            delete object;
        }
    }
    handles_.clear();
}

void SceneTriggers::update() {
    for (std::size_t i = 0; i < handles_.size(); ++i)
        if (TriggerStatic* trigger = triggerAt(static_cast<std::int32_t>(i))) trigger->watch();
}

bool deleteSceneTrigger(GameObject* object) {
    if (!object || object->getType() != ObjectTrigger) return false;
    auto* trigger = static_cast<Trigger*>(object);
    return trigger->owner && trigger->owner->triggers->deleteTrigger(trigger);
}
