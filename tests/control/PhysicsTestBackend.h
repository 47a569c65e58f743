// A physics backend of the tests: worlds, actors, joints and triggers kept
// in memory, controller moves recorded and applied to the actor's position.
// It installs itself while it exists. And a stand-in for the model a
// physics model drives.
#pragma once

#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <vector>

#include "foundation/Math.h"
#include "scene/GameObject.h"
#include "platform/physics/PhysicsBackend.h"

namespace testing_support {

class TestBackend : public platform::physics::Backend {
public:
    struct Actor {
        bool controller = false;
        platform::physics::ActorDesc desc;
        platform::physics::ControllerDesc controllerDesc;
        Matrix34 pose{};
        bool visible = true;
        std::vector<std::vector<float>> moves;
    };

    TestBackend() { previous_ = platform::physics::installBackend(this); }
    ~TestBackend() override { platform::physics::installBackend(previous_); }

    bool open() override { return true; }
    platform::physics::Handle createWorld() override { return ++worlds; }
    void releaseWorld(platform::physics::Handle) override { ++releasedWorlds; }
    void step(platform::physics::Handle, float) override {
        ++steps;
        if (duringStep) duringStep();
    }
    platform::physics::Handle createActor(platform::physics::Handle world, const platform::physics::ActorDesc& desc, const float* pose) override {
        if (!world) return 0;
        Actor& actor = actors[++next_];
        actor.desc = desc;
        std::memcpy(actor.pose.m, pose, sizeof(actor.pose.m));
        return next_;
    }
    platform::physics::Handle createController(platform::physics::Handle world, const platform::physics::ControllerDesc& desc,
                                     const float* pose) override {
        platform::physics::Handle handle = createActor(world, platform::physics::ActorDesc{}, pose);
        if (handle) {
            actors[handle].controller = true;
            actors[handle].controllerDesc = desc;
        }
        return handle;
    }
    void releaseActor(platform::physics::Handle, platform::physics::Handle actor) override { actors.erase(actor); }
    bool moveController(platform::physics::Handle, platform::physics::Handle actor, const float* delta, bool& onGround) override {
        actors[actor].moves.push_back({delta[0], delta[1], delta[2]});
        for (int i = 0; i < 3; ++i) actors[actor].pose.m[9 + i] += delta[i];
        onGround = true;
        return true;
    }
    bool getActorPose(platform::physics::Handle, platform::physics::Handle actor, float* pose) override {
        std::memcpy(pose, actors[actor].pose.m, sizeof(float) * 12);
        return true;
    }
    bool setActorPose(platform::physics::Handle, platform::physics::Handle actor, const float* pose) override {
        std::memcpy(actors[actor].pose.m, pose, sizeof(float) * 12);
        return true;
    }
    void setActorVisible(platform::physics::Handle, platform::physics::Handle actor, bool visible) override {
        actors[actor].visible = visible;
    }
    platform::physics::Shape* actorShape(platform::physics::Handle, platform::physics::Handle) override { return nullptr; }
    platform::physics::Handle createJoint(platform::physics::Handle, const platform::physics::JointDesc&, const float*) override {
        return ++next_;
    }
    void releaseJoint(platform::physics::Handle, platform::physics::Handle) override {}
    platform::physics::Handle createTrigger(platform::physics::Handle, const platform::physics::TriggerDesc&) override { return ++next_; }
    void releaseTrigger(platform::physics::Handle, platform::physics::Handle) override {}
    void takeTriggerEvents(platform::physics::Handle, std::vector<platform::physics::TriggerEvent>& out) override { out.clear(); }
    bool sweepBox(platform::physics::Handle, const double*, const float*, const float*, platform::physics::QueryHit&) override {
        return false;
    }
    bool overlapBox(platform::physics::Handle, const double*, const float*, platform::physics::QueryHit&) override { return false; }

    platform::physics::Handle worlds = 0;
    int releasedWorlds = 0;
    int steps = 0;
    // Runs inside each step, as game code reached from the simulation would.
    std::function<void()> duringStep;
    std::map<platform::physics::Handle, Actor> actors;

private:
    platform::physics::Backend* previous_;
    platform::physics::Handle next_ = 100;
};

// A model stand-in: a world matrix and one bone.
class SourceModel : public GameObject {
public:
    explicit SourceModel(const char* name) : GameObject(name), world(matrix34Identity()), bone(matrix34Identity()) {}
    std::uint32_t getType() const override { return ObjectModel; }
    const char* getName() const override { return name; }
    std::uint32_t getSceneLink() const override { return scene; }
    bool push() override { return true; }
    bool pop(std::uint32_t) override { return true; }
    std::int32_t write(DataStream&) override { return 0; }
    std::int32_t read(DataStream&) override { return 0; }
    bool validate() override { return true; }
    bool getWorldMatrix(Matrix34& out) override {
        out = world;
        return true;
    }
    bool getBoneWorldMatrix(std::int32_t index, Matrix34& out) override {
        if (index != 0) return false;
        out = bone;
        return true;
    }
    std::int32_t findBone(const char* boneName) override { return std::strcmp(boneName, "hand") == 0 ? 0 : -1; }
    bool updatePhase0(const CurrentTime&, std::int32_t) override { return true; }
    bool updatePhase1(const CurrentTime&, std::int32_t) override { return true; }
    bool updatePhase3(const CurrentTime&, std::int32_t) override { return true; }
    bool updatePhase2(const CurrentTime&, std::int32_t) override { return true; }
    void invalidateLighting() override {}
    void release() override {}

    Matrix34 world;
    Matrix34 bone;
    std::uint32_t scene = 0;
};

}  // namespace testing_support
