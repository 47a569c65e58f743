// The physics world of one scene (game object type 4) and the physics
// trigger (type 6).
//
// `PhysicsSceneManager::Create` makes a physics scene only when the
// installed physics backend gives it a world: with the null backend no
// scene has one, and models, triggers and characters go on without
// physics. A physics scene keeps the handles of its physics models and
// physics triggers, pushes and pops them with itself, and steps its world
// with the scene's updates (the controller actors' motions first).
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "platform/physics/PhysicsBackend.h"
#include "scene/GameObject.h"

class PhysicsModel;
class PhysicsModelDataManager;
class PhysicsModelRecord;
class PhysicsTrigger;
class Scene;
class Y3GridData;

// Bits of PhysicsScene::flags.
constexpr std::uint32_t kPhysicsScenePushed = 0x1;
constexpr std::uint32_t kPhysicsSceneSimulating = 0x4;

class PhysicsScene : public GameObject {
public:
    PhysicsScene(const char* name, std::uint32_t sceneLink);
    // Releases what it still holds.
    ~PhysicsScene() override;

    // Makes the backend world; false when the backend has none.
    bool initialize(bool, bool);

    std::uint32_t getType() const override { return ObjectPhysicsScene; }
    const char* getName() const override { return name; }
    std::uint32_t getSceneLink() const override { return sceneLink_; }
    void setSceneLink(std::uint32_t link) { sceneLink_ = link; }
    bool push() override;
    bool pop(std::uint32_t) override;
    // Flags and the two handle lists.
    std::int32_t write(DataStream& stream) override;
    std::int32_t read(DataStream& stream) override;
    bool validate() override { return true; }
    bool updatePhase0(const CurrentTime&, std::int32_t) override { return true; }
    // Moves the controller actors by their motions and steps the world;
    // the first step after a load first makes the backend actors, joints
    // and trigger volumes of what was restored.
    bool updatePhase1(const CurrentTime& time, std::int32_t) override;
    bool updatePhase3(const CurrentTime&, std::int32_t) override { return true; }
    bool updatePhase2(const CurrentTime&, std::int32_t) override { return true; }
    void invalidateLighting() override {}
    // Releases and deletes every physics model and trigger, then the world.
    void release() override;

    // A physics model of the description of that name driving source;
    // null (logged at the failing step) when it cannot be made.
    PhysicsModel* createModel(const char* name, GameObject* source, const float* scale = nullptr);
    // Takes the model out of the list, pops, releases and deletes it.
    bool removeModel(PhysicsModel* model);
    // A physics trigger for a source object (its name), or null.
    PhysicsTrigger* addTrigger(const char* name, GameObject* source);
    bool removeTrigger(PhysicsTrigger* trigger);
    // Reports what the trigger volumes overlap now, outside the step (a
    // trigger switched on hears of what already lies in it).
    void updateTriggers();
    // The physics model driven by a source object, or null.
    PhysicsModel* modelOf(const GameObject* source) const;
    // The physics trigger of a source object, or null.
    PhysicsTrigger* triggerOf(const GameObject* source) const;
    // True when no physics model in the list holds actors.
    bool allModelsReleased() const;
    // The grid cells (node ids, sorted, once each) under the actors flagged
    // "lock-pathfind": those whose square meets the actor's horizontal
    // bounds and whose height lies from half a unit below its bottom up to
    // its top. Box, sphere and capsule actors; "overwrite-pathfind" has no
    // effect.
    void gridObstacleCells(const Y3GridData& grid, std::vector<std::uint32_t>& out) const;
    // The description record of that name, inserted when absent.
    static PhysicsModelRecord* addModelRecord(PhysicsModelDataManager& manager, const char* name, bool report);

    std::uint32_t flags = 0;
    std::uint32_t world = 0;
    std::vector<GameObjectLink> models;
    std::vector<GameObjectLink> triggers;

private:
    std::uint32_t sceneLink_;
    // Hands the backend's trigger events of the step to the triggers.
    void dispatchTriggerEvents();

    // Set by a load: the next step restores the backend objects.
    bool restorePending_ = false;
};

class PhysicsSceneManager {
public:
    // The physics scene of a scene, or of a name; null when the backend
    // makes no world.
    static PhysicsScene* Create(const Scene& scene);
    static PhysicsScene* Create(const char* name);
};

// The physics scene of a scene, or of the scene a handle names; null
// without one.
PhysicsScene* physicsSceneOf(const Scene* scene);
PhysicsScene* physicsSceneOf(GameObjectLink scene);

// A model takes its physics model: the physics scene of the model's scene
// makes one from the description of that name, placed at the model with a
// scale; a hidden model's actors start hidden. Without a physics scene
// "Cant attach physics: Physics Scene not defined in object [%s]" is
// logged. The physics model, or null (the model goes on without one).
PhysicsModel* attachPhysicsModel(GameObject& model, const char* name, const float* scale, bool shown);
// A model hands its physics model back: popped, released and deleted by
// the physics scene. Without one "Cant remove physics: Physics Scene not
// defined in object [%s]" is logged and the physics model is left alone.
void detachPhysicsModel(GameObject& model, GameObjectLink physicsModel);

class PhysicsTrigger : public GameObject {
public:
    // Named after its source; both links may be 0 (the loader's case).
    PhysicsTrigger(const char* name, GameObjectLink source, GameObjectLink scene);
    ~PhysicsTrigger() override;

    std::uint32_t getType() const override { return ObjectPhysicsTrigger; }
    // The source's name, or "Broken physic trigger" when it is gone.
    const char* getName() const override;
    // The source's handle; 0 when it is gone.
    std::uint32_t getSceneLink() const override;
    bool push() override;
    bool pop(std::uint32_t) override;
    // The source link and the scene link.
    std::int32_t write(DataStream& stream) override;
    std::int32_t read(DataStream& stream) override;
    bool validate() override { return true; }
    bool updatePhase0(const CurrentTime&, std::int32_t) override { return true; }
    bool updatePhase1(const CurrentTime&, std::int32_t) override { return true; }
    bool updatePhase3(const CurrentTime&, std::int32_t) override { return true; }
    bool updatePhase2(const CurrentTime&, std::int32_t) override { return true; }
    void invalidateLighting() override {}
    // Drops the backend volume.
    void release() override;

    // Makes the backend volume of a source trigger in a world.
    void createVolume(std::uint32_t world);
    // One actor of a model began or stopped touching the volume: the
    // source trigger hears of the model's first actor in and last out.
    void actorContact(GameObject& model, bool entered);

    std::uint8_t pushed = 0;
    GameObjectLink source;
    GameObjectLink scene;
    // The backend volume's handle; 0 after construction and loading.
    std::uint32_t volume = 0;
    // Models touching the volume: handle and the number of their actors.
    std::vector<std::pair<std::uint32_t, std::uint32_t>> touching;
};

// The fields of the two physics records as a save holds them; read() is
// the check of a restore (counts bounded by the bytes left).
struct PhysicsModelSaveRecord {
    float scale[3] = {};
    std::uint32_t scene = 0;
    std::uint32_t source = 0;
    std::uint32_t flags = 0;
    std::int32_t controllerIndex = -1;
    std::vector<std::uint32_t> actorFlags;
    std::vector<Matrix34> actorPoses;
    std::vector<std::uint32_t> joints;
    std::int32_t read(DataStream& stream);
};

// The check of a restore over the saved physics objects: each record is
// read as its load would take it, and once the whole table is read every
// link of a physics scene's lists must name a saved physics model (or
// trigger) linked back to that scene, listed once in all.
class PhysicsSaveCheck {
public:
    // The object's record from the stream: byte count or negative.
    std::int32_t checkScene(std::uint32_t handle, DataStream& stream);
    std::int32_t checkModel(std::uint32_t handle, DataStream& stream);
    std::int32_t checkTrigger(std::uint32_t handle, DataStream& stream);
    // False (logged) when a link names anything else.
    bool linksHold() const;

private:
    struct SceneLists {
        std::uint32_t handle = 0;
        std::vector<std::uint32_t> models;
        std::vector<std::uint32_t> triggers;
    };
    struct Owner {
        std::uint32_t handle, type, scene;
    };
    std::vector<SceneLists> scenes_;
    std::vector<Owner> owners_;
};

// The collision queries of a box against the shape of one actor of a
// world, one per pair of query (a sweep, an overlap) and shape kind (box,
// capsule, sphere, convex, mesh, cloth), at index kind * 2 + (1 for the
// overlap). Each takes the world and the actor, the box's two corners, its
// position, the motion (not read by an overlap) and the hit record, which
// it replaces when it hits nearer (feature index -1); true when it did. An
// actor of another kind is not hit.
using PhysicsQueryCallback = bool (*)(std::uint32_t world, std::uint32_t actor, const double* corners,
                                      const float* position, const float* motion,
                                      platform::physics::QueryHit& hit);
extern const PhysicsQueryCallback physicsQueryCallbacks[12];
