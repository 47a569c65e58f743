// The physics simulation behind the game's physics objects.
//
// The game's physics layer (physics scenes, models and triggers) asks a
// backend for what a simulation gives: a world per scene and its step;
// actors made from an actor description, a pose, a scale and the surfaces
// of its materials; the character controller (a capsule with the character
// settings) with its move, ground contact and pose; actor poses in and out
// and visibility; the shape of an actor to rescale; joints between actors;
// trigger volumes that report objects entering and leaving; box sweeps and
// overlaps against the world.
//
// Everything is named by 32-bit handles, 0 meaning none; poses are 3x4
// matrices of floats (the three rotation rows, then the position). The
// backend is chosen at creation and installed process-wide: the null
// backend makes no world, so every caller ends as a game without a
// simulation does. Main thread only.
#pragma once

#include <cstdint>
#include <vector>

namespace platform::physics {

using Handle = std::uint32_t;

// What a backend shape offers to be rescaled.
class Shape {
public:
    virtual ~Shape() = default;
    virtual void setDimensions(const float* size) = 0;
    virtual void setRadius(float radius) = 0;
    virtual void setHeight(float height) = 0;
};

// How a material behaves in contact (the stored surface fields).
struct SurfaceDesc {
    float dynamicFriction = 1.0f;
    float staticFriction = 1.0f;
    float restitution = 0.0f;
    float dynamicFrictionV = 0.0f;
    float staticFrictionV = 0.0f;
    float anisotropy[3] = {1.0f, 0.0f, 0.0f};
    std::uint32_t flags = 0;
    std::uint32_t frictionCombine = 0;
    std::uint32_t restitutionCombine = 0;
    float spring[3] = {};
};

// Actor shape kinds (the description's codes).
enum class ShapeKind : std::uint32_t { Box = 0, Capsule = 1, Sphere = 2, Convex = 3, Mesh = 4, Cloth = 5 };

struct ActorDesc {
    ShapeKind kind = ShapeKind::Box;
    // The description's flag bits ("static" 0x1, "trigger" 0x2, ...).
    std::uint32_t flags = 0;
    std::uint32_t collisionGroup = 4;
    float mass = 0.0f;
    float size[3] = {};
    float radius = 0.0f;
    float height = 0.0f;
    float scale[3] = {1.0f, 1.0f, 1.0f};
    // Convex and mesh geometry: vertices (three floats each) and triangles
    // (three vertex indices, a material index and a flags word each).
    const float* vertices = nullptr;
    std::uint32_t vertexCount = 0;
    const std::uint32_t* triangles = nullptr;
    std::uint32_t triangleCount = 0;
    std::vector<SurfaceDesc> surfaces;
};

// The character capsule and the "physics" settings it moves by.
struct ControllerDesc {
    float radius = 0.5f;
    float height = 1.0f;
    float skinWidth = 0.05f;
    float stepHeight = 0.4f;
    float minStep = 0.001f;
    float slopeCosine = 0.0871557f;
    float teleportStep[3] = {-0.002f, -0.002f, 0.0f};
};

struct JointEndDesc {
    Handle actor = 0;
    float anchor[3] = {};
    float normal[3] = {};
    float axis[3] = {};
};

struct JointDesc {
    // The description's kind code (0 spherical ... 8 pulley).
    std::uint32_t kind = 0;
    std::uint32_t flags = 0;
    JointEndDesc ends[2];
    float maxForce = 0.0f;
    float maxTorque = 0.0f;
};

// A box volume; the owner tag comes back in its events.
struct TriggerDesc {
    float pose[12] = {};
    float halfSize[3] = {};
    std::uint32_t owner = 0;
};

struct TriggerEvent {
    std::uint32_t owner = 0;  // the trigger's owner tag
    Handle actor = 0;
    bool entered = false;
};

// A query hit: the point, the normal, the distance along the motion and a
// feature index (-1 when unknown). A query replaces it only when it hits
// nearer than its distance.
struct QueryHit {
    double point[3] = {};
    float normal[3] = {};
    float distance = 0.0f;
    std::int32_t feature = -1;
};

class Backend {
public:
    virtual ~Backend() = default;

    // Whether a simulation library is present.
    virtual bool open() = 0;

    virtual Handle createWorld() = 0;
    virtual void releaseWorld(Handle world) = 0;
    // Advances the world by seconds.
    virtual void step(Handle world, float seconds) = 0;

    virtual Handle createActor(Handle world, const ActorDesc& desc, const float* pose) = 0;
    virtual Handle createController(Handle world, const ControllerDesc& desc, const float* pose) = 0;
    virtual void releaseActor(Handle world, Handle actor) = 0;
    // Moves the character by a displacement; false when it cannot.
    virtual bool moveController(Handle world, Handle actor, const float* delta, bool& onGround) = 0;
    // Whether the character stands on walkable ground now; false without a
    // simulation.
    virtual bool controllerOnGround(Handle, Handle) { return false; }
    virtual bool getActorPose(Handle world, Handle actor, float* pose) = 0;
    virtual bool setActorPose(Handle world, Handle actor, const float* pose) = 0;
    virtual void setActorVisible(Handle world, Handle actor, bool visible) = 0;
    // The actor's shape to rescale; null when it has none.
    virtual Shape* actorShape(Handle world, Handle actor) = 0;

    virtual Handle createJoint(Handle world, const JointDesc& desc, const float* pose) = 0;
    virtual void releaseJoint(Handle world, Handle joint) = 0;

    virtual Handle createTrigger(Handle world, const TriggerDesc& desc) = 0;
    virtual void releaseTrigger(Handle world, Handle trigger) = 0;
    // Hands over the enter and leave events since the last call.
    virtual void takeTriggerEvents(Handle world, std::vector<TriggerEvent>& out) = 0;
    // Compares the trigger volumes with what they overlap now, outside a
    // step, queuing the events; without a simulation nothing happens.
    virtual void updateTriggers(Handle) {}

    // A box (two corners) at a position swept along a motion, or tested
    // where it stands (overlap); true when the hit record was replaced.
    virtual bool sweepBox(Handle world, const double* corners, const float* position, const float* motion,
                          QueryHit& hit) = 0;
    virtual bool overlapBox(Handle world, const double* corners, const float* position, QueryHit& hit) = 0;
    // The same box tested against one actor whose shape is of a kind: swept
    // along a motion, or (motion null) where it stands. False when the
    // actor's shape is of another kind, or without a hit nearer than the
    // record's; without a simulation nothing is hit.
    virtual bool queryActor(Handle, Handle, ShapeKind, const double*, const float*, const float*, QueryHit&) {
        return false;
    }
    // How far a sphere of a radius travels from a point along a unit
    // direction before it meets a static actor, at most distance; without
    // a simulation nothing is in the way.
    virtual float freeDistance(Handle, const float*, const float*, float distance, float) { return distance; }

    // Drives a dynamic actor through the world's next step: linearStep is
    // the displacement wanted over that step (metres), angularStep the turn
    // wanted (radians about each world axis; Y is taken). They act as a
    // force and a torque against a damping, so a step repeated every frame
    // settles at its speed; a frame without a drive brakes the body to
    // rest. planar holds it to its plane: no vertical motion, no roll or
    // pitch. False for anything but a dynamic body, or without a simulation.
    virtual bool driveActor(Handle, Handle, const float*, const float*, bool) { return false; }
};

// The backend without a simulation: no world is ever made, and every
// operation on a world fails or does nothing.
class NullBackend : public Backend {
public:
    bool open() override { return false; }
    Handle createWorld() override { return 0; }
    void releaseWorld(Handle) override {}
    void step(Handle, float) override {}
    Handle createActor(Handle, const ActorDesc&, const float*) override { return 0; }
    Handle createController(Handle, const ControllerDesc&, const float*) override { return 0; }
    void releaseActor(Handle, Handle) override {}
    bool moveController(Handle, Handle, const float*, bool& onGround) override {
        onGround = false;
        return false;
    }
    bool getActorPose(Handle, Handle, float*) override { return false; }
    bool setActorPose(Handle, Handle, const float*) override { return false; }
    void setActorVisible(Handle, Handle, bool) override {}
    Shape* actorShape(Handle, Handle) override { return nullptr; }
    Handle createJoint(Handle, const JointDesc&, const float*) override { return 0; }
    void releaseJoint(Handle, Handle) override {}
    Handle createTrigger(Handle, const TriggerDesc&) override { return 0; }
    void releaseTrigger(Handle, Handle) override {}
    void takeTriggerEvents(Handle, std::vector<TriggerEvent>& out) override { out.clear(); }
    bool sweepBox(Handle, const double*, const float*, const float*, QueryHit&) override { return false; }
    bool overlapBox(Handle, const double*, const float*, QueryHit&) override { return false; }
};

// The installed backend; the null backend until another is installed.
Backend& backend();
// Installs a backend (null: the null backend again); the caller keeps it
// alive while installed. Returns the one installed before.
Backend* installBackend(Backend* backend);

}  // namespace platform::physics
