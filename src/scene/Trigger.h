// Triggers: named box volumes of a scene that notice objects entering and
// leaving them.
//
// `TriggerStatic` is the trigger of this system (type code 5, subtype 0).
// The scene's triggers core `SceneTriggers` owns them through a handle list,
// saves that list with the scene and finds them by their short name. A
// trigger that is switched on watches the scene's models each frame; when
// one enters or leaves its box, the count goes up on entry and the script
// handlers named by the script class "Trigger" (onEnter, onLeave) run with
// the trigger's short name and the object's name.
#pragma once

#include <cstdint>
#include <vector>

#include "foundation/Math.h"
#include "scene/GameObject.h"

class Scene;
struct CurrentTime;

class Trigger : public GameObject {
public:
    // The GameObject name is "<scene>.<trigger>"; the short name is kept apart.
    Trigger(Scene* owner, const char* triggerName);

    std::uint32_t getType() const override { return ObjectTrigger; }
    // The short name.
    const char* getName() const override { return triggerName; }
    // The owner scene's handle; without an owner the object is reported.
    std::uint32_t getSceneLink() const override;
    bool validate() override { return true; }
    bool updatePhase0(const CurrentTime&, std::int32_t) override { return true; }
    bool updatePhase1(const CurrentTime&, std::int32_t) override { return true; }
    bool updatePhase3(const CurrentTime&, std::int32_t) override { return true; }
    bool updatePhase2(const CurrentTime&, std::int32_t) override { return true; }
    void invalidateLighting() override {}
    void release() override {}

    virtual std::uint32_t triggerKind() const = 0;
    // Switches the trigger on or off; false when nothing changed.
    virtual bool setEnabled(bool on) = 0;

    // True when the point lies in the box (pose with half extents `size`).
    bool contains(const float* point) const;

    Scene* owner;
    std::uint8_t enabled = 0;
    Matrix34 pose{};
    float size[3] = {};
    std::uint32_t count = 0;
    char triggerName[kNameSize] = {};
};

// The saved state of a static trigger, as its record holds it.
struct TriggerRecord {
    std::uint32_t physicsTrigger = 0;
    std::uint8_t enabled = 0;
    Matrix34 pose{};
    float size[3] = {};
    std::uint32_t count = 0;
    char name[GameObject::kNameSize] = {};

    // A name of 128 characters or more is refused (-1, logged).
    std::int32_t read(DataStream& stream);
};

class TriggerStatic : public Trigger {
public:
    // The trigger under its name (null: the loader's placeholder "load"),
    // bound to a physics trigger of the scene's physics scene when the
    // scene has one.
    static TriggerStatic* create(Scene* scene, const char* triggerName, const Matrix34& pose, const float* size);
    ~TriggerStatic() override;

    bool push() override { return true; }
    bool pop(std::uint32_t) override { return true; }
    // Physics handle, enabled, pose, size, count, name (u8 length).
    std::int32_t write(DataStream& stream) override;
    std::int32_t read(DataStream& stream) override;
    std::uint32_t triggerKind() const override { return 0; }
    bool setEnabled(bool on) override;

    // One frame of watching: every model of the owner scene is tested
    // against the box; entries and exits run the script handlers. A
    // trigger backed by a physics volume leaves this to its contacts.
    void watch();
    // A model's actors began (entered) or stopped touching the physics
    // volume: counted and reported as watch() does, when switched on.
    void physicsContact(bool entered, const GameObject& object);

    GameObjectLink physicsTrigger;
    // Handles of the objects inside the box at the last watch.
    std::vector<std::uint32_t> inside;

private:
    TriggerStatic(Scene* owner, const char* triggerName) : Trigger(owner, triggerName) {}
};

// What a trigger is made from (a trigger waypoint or a script).
struct TriggerDescription {
    const char* name = nullptr;
    Matrix34 pose{};
    float size[3] = {1.0f, 1.0f, 1.0f};
    // '^' for the trigger of a model waypoint (action mode).
    char actionMode = 0;
};

class SceneTriggers {
public:
    explicit SceneTriggers(Scene* owner) : owner_(owner) {}
    // Complains when triggers are still listed (release() was not called).
    ~SceneTriggers();
    SceneTriggers(const SceneTriggers&) = delete;
    SceneTriggers& operator=(const SceneTriggers&) = delete;

    // Index of the trigger with exactly this short name, or -1.
    std::int32_t findTrigger(const char* triggerName) const;
    // The live trigger at an index of the list, or null.
    TriggerStatic* triggerAt(std::int32_t index) const;
    TriggerStatic* addTrigger(const TriggerDescription& description);
    // A trigger named "^<name>", size 1, switched on.
    TriggerStatic* addModelTrigger(const TriggerDescription& description);
    bool deleteTrigger(Trigger* trigger);
    bool pushAll();
    bool popAll();
    // The handle list as a u32 count and the handles.
    std::int32_t write(DataStream& stream) const;
    std::int32_t read(DataStream& stream);
    // Pops, releases and deletes every trigger and empties the list.
    void release();
    // The frame's watch of every trigger that is switched on.
    void update();

    const std::vector<GameObjectLink>& handles() const { return handles_; }

    // "<scene>.<text>" and "^<text>" in process-wide buffers of 512 bytes.
    static const char* makeObjectName(const Scene* scene, const char* text);
    static const char* makeCaretName(const char* text);

private:
    Scene* owner_;
    std::vector<GameObjectLink> handles_;
};

// Removes a trigger object from its scene's triggers and deletes it; false
// when it is no trigger or its scene does not hold it.
bool deleteSceneTrigger(GameObject* object);
