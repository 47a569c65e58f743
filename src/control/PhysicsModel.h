// The physics model (game object type 2): the physics counterpart of one
// model, made by its physics scene from the physics model description of
// a name. It holds one actor instance per actor description and one joint
// handle per joint description, places the actors at the model's pose,
// follows the model or its bones each frame, and carries the character's
// motion when one of its actors is the controller capsule.
//
// The first actor flagged "controller" becomes the controller actor: the
// model is then a controller model (flag bit 3) and its source model is
// given a character controller through the installed hooks.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "foundation/Math.h"
#include "resources/Y3ResourceManager.h"
#include "scene/GameObject.h"

class PhysicsModelRecord;
class PhysicsScene;
class Y3PhysicsRigit;
class Y3PhysicsModelData;

// Bits of PhysicsModel::flags.
constexpr std::uint32_t kPhysicsModelInitialising = 0x001;
constexpr std::uint32_t kPhysicsModelController = 0x008;
constexpr std::uint32_t kPhysicsModelDriven = 0x010;
constexpr std::uint32_t kPhysicsModelFollows = 0x020;
constexpr std::uint32_t kPhysicsModelTransformChanged = 0x040;
constexpr std::uint32_t kPhysicsModelFollowsOnSync = 0x080;
constexpr std::uint32_t kPhysicsModelPushed = 0x200;
constexpr std::uint32_t kPhysicsModelInitialised = 0x400;
constexpr std::uint32_t kPhysicsModelJump = 0x800;

// Bits of PhysicsActorInstance::flags.
constexpr std::uint32_t kPhysicsActorHeld = 0x001;
constexpr std::uint32_t kPhysicsActorFollowsModel = 0x010;
constexpr std::uint32_t kPhysicsActorFollowsOnSync = 0x080;
constexpr std::uint32_t kPhysicsActorVisible = 0x100;
constexpr std::uint32_t kPhysicsActorScaledShape = 0x200;
constexpr std::uint32_t kPhysicsActorShapeInstance = 0x1000000;

struct PhysicsActorInstance {
    std::uint32_t flags = 0;
    // The controller actor's accumulated motion, handed to the backend at
    // the scene's next step.
    float move[3] = {};
    Matrix34 pose{};
    std::uint32_t handle = 0;
};

// What a physics model needs of the model it drives beyond GameObject.
// The model subsystem installs them; until then they do nothing.
struct PhysicsModelHooks {
    // The type of the model's controller; -1 when it has none.
    std::function<std::int32_t(GameObject&)> controllerType;
    // Gives the model a new controller of the type (1: Character).
    std::function<void(GameObject&, std::int32_t)> setController;
    // Physics drives the model (physics flag bit 4); a controller model
    // sets two more transform flags.
    std::function<void(GameObject&, bool driven, bool controller)> setTransformFlags;
    // The model's transform changed (bit 6 of the physics flags).
    std::function<void(GameObject&)> markTransformChanged;
};
PhysicsModelHooks& physicsModelHooks();

class PhysicsModel : public GameObject, public ResourceUser {
public:
    static constexpr std::int32_t kControllerType = 1;

    // The save-game loader's empty model for its record: both links 0,
    // scale 1, no actors; null when the record is unavailable.
    static PhysicsModel* create(PhysicsModelRecord* record);
    PhysicsModel(PhysicsModelRecord* record, GameObjectLink scene, GameObjectLink source);
    // Reports actors and joints still held, releases, leaves the repository.
    ~PhysicsModel() override;

    std::uint32_t getType() const override { return ObjectPhysicsModel; }
    // The description's name: the object table stores it, so a restore
    // finds its description again. Messages use displayName().
    const char* getName() const override { return name; }
    // The physics scene's handle; 0 when that link is dead.
    std::uint32_t getSceneLink() const override;
    bool push() override;
    bool pop(std::uint32_t) override;
    std::int32_t write(DataStream& stream) override;
    std::int32_t read(DataStream& stream) override;
    bool validate() override { return true; }
    bool updatePhase0(const CurrentTime&, std::int32_t) override { return true; }
    bool updatePhase1(const CurrentTime&, std::int32_t) override { return true; }
    bool updatePhase3(const CurrentTime&, std::int32_t) override { return true; }
    bool updatePhase2(const CurrentTime&, std::int32_t) override { return true; }
    void invalidateLighting() override {}
    // When initialised: pops, frees actors and joints, and releases the
    // description record once it has no users left.
    void release() override;

    // The source model's name ("LOOP OBJ LINK", "NULL OBJ PTR"), else the
    // scene's ("LOOP SCENE LINK", "NULL SCENE PTR"), else "Unlinked
    // physics model".
    const char* displayName() const;
    const char* resourceUserName() const override { return displayName(); }
    bool resourcePushed() const override { return (flags & kPhysicsModelPushed) != 0; }
    void setResourcePushed(bool pushed) override;

    // Builds the actors and joints at the source model's pose with a scale.
    bool initialize(const float* scale);
    // Rescales every actor's shape; false at the first actor without a
    // backend actor or description.
    bool applyVectorToActors(const float* scale);
    // Places the actors (the controller actor alone when there is one) at
    // a model pose; true only when there are no actors.
    bool applyPoseToActors(const Matrix34& pose);
    // A controller model takes its controller actor's pose from the
    // backend into pose, a driven model the model pose its driven body
    // stands for; false when there is nothing to take.
    bool syncModelPose(Matrix34& pose);
    // The pose of a controller model from its capsule: the model keeps its
    // own rotation (the capsule stays upright) and takes the capsule's
    // position less the capsule's offset in the model. False when there
    // is nothing to take.
    bool syncControllerModelPose(const Matrix34& modelPose, Matrix34& pose);
    // Per-frame: actors that follow the model take its pose or their
    // bone's (resync: also those that follow on a re-sync).
    void updateActors(bool resync);
    // Adds a motion to the controller actor; refused unless controller.
    bool move(const float* delta);
    // Shows or hides one actor by its description name, or every actor.
    bool setVisible(const char* element, bool visible);
    // The source model, or null when unlinked or dead.
    GameObject* sourceObject() const;
    // Hands the controller actor's accumulated motion to the backend.
    void applyMotion(std::uint32_t world);
    // The first dynamic actor of the description (not static, trigger,
    // controller or following its model, with a mass): the body a boat
    // drives; -1 when there is none.
    std::int32_t drivenActorIndex() const;
    // Drives that body through the scene's next step, held to the water
    // plane: a linear step (metres) and an angular step (radians about Y).
    // The model becomes driven (flag bit 4) and takes the body's pose
    // back each frame. False when there is no body to drive.
    bool drive(const float* linearStep, const float* angularStep);
    // After a step: whether the controller capsule stands on the ground
    // (it may have fallen or landed during the step).
    void takeGroundContact(std::uint32_t world);
    // After a restore: makes the backend actors (at their saved poses) and
    // joints that the model lost; false when its world or description
    // cannot give them.
    bool restoreActors();

    PhysicsModelRecord* record() const { return record_; }
    Y3PhysicsModelData* description() const;

    std::uint32_t flags = 0;
    float scale[3] = {1.0f, 1.0f, 1.0f};
    GameObjectLink scene;
    GameObjectLink source;
    std::int32_t controllerIndex = -1;
    // The controller capsule stood on the ground after its last move.
    bool onGround = false;
    std::vector<PhysicsActorInstance> actors;
    std::vector<std::uint32_t> joints;

private:
    PhysicsScene* physicsScene() const;
    std::uint32_t world() const;
    // The header, loaded when needed; null when it cannot be.
    Y3PhysicsModelData* loadedDescription() const;
    bool createActors();
    std::uint32_t createBackendActor(std::uint32_t world, std::size_t index, const Y3PhysicsRigit& rigit) const;
    void createJoint(std::size_t index);
    void freeActors();
    void freeJoints();
    bool syncDrivenPose(Matrix34& pose);

    PhysicsModelRecord* record_;
};
