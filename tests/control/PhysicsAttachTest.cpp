// Models taking and handing back their physics models in a loaded scene:
// without a world (the null backend) and with the tests' backend.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "app/SceneLoadFixture.h"
#include "control/PhysicsCore.h"
#include "control/PhysicsModel.h"
#include "control/PhysicsScene.h"
#include "control/PhysicsTestBackend.h"
#include "foundation/AppPaths.h"
#include "model/Model.h"
#include "control/PhysicsTestPackage.h"
#include "platform/physics/bullet/BulletBackend.h"
#include "resources/PackageDatabase.h"
#include "scene/CameraCore.h"
#include "scene/CameraFixture.h"
#include "scene/Scene.h"
#include "scene/Trigger.h"
#include "scene/lua/TriggerScript.h"
#include "support/PackageFixture.h"

namespace {

using testing_support::BulletWorlds;
using testing_support::PhysicsData;

Scene* loadIntro(testing_support::SceneLoadFixture& f) {
    f.game->flags |= kSaveGameLoadAllowed;
    f.game->loadScene("intro");
    return f.game->currentScene();
}

TEST(PhysicsAttach, WithoutAWorldTheModelGoesOnAlone) {
    testing_support::SceneLoadFixture f;
    PhysicsData data("model barrel\nactor box body\n");
    ASSERT_TRUE(data.built);
    Scene* scene = loadIntro(f);
    ASSERT_NE(scene, nullptr);
    EXPECT_EQ(physicsSceneOf(scene), nullptr);
    testing_support::SourceModel barrel("barrel");
    barrel.scene = GameObjectLink::fromObject(scene).value;
    EXPECT_EQ(attachPhysicsModel(barrel, "barrel", nullptr, true), nullptr);
    EXPECT_TRUE(f.logged("Cant attach physics: Physics Scene not defined in object [barrel]"));
    detachPhysicsModel(barrel, GameObjectLink{});
    EXPECT_TRUE(f.logged("Cant remove physics: Physics Scene not defined in object [barrel]"));
}

TEST(PhysicsAttach, AHiddenModelsActorsStartHiddenAndGoBackWithIt) {
    testing_support::TestBackend backend;
    testing_support::SceneLoadFixture f;
    PhysicsData data("model barrel\nactor box body\nactor sphere lid radius 0.2\n");
    ASSERT_TRUE(data.built);
    Scene* scene = loadIntro(f);
    ASSERT_NE(scene, nullptr);
    PhysicsScene* physics = physicsSceneOf(scene);
    ASSERT_NE(physics, nullptr);
    testing_support::SourceModel barrel("barrel");
    barrel.scene = GameObjectLink::fromObject(scene).value;
    barrel.world.m[10] = 2.0f;
    PhysicsModel* model = attachPhysicsModel(barrel, "barrel", nullptr, false);
    ASSERT_NE(model, nullptr);
    ASSERT_EQ(model->actors.size(), 2u);
    for (const PhysicsActorInstance& actor : model->actors) {
        EXPECT_FALSE(actor.flags & kPhysicsActorVisible);
        EXPECT_FLOAT_EQ(backend.actors.at(actor.handle).pose.m[10], 2.0f);
    }
    EXPECT_EQ(backend.actors.at(model->actors[1].handle).desc.kind, platform::physics::ShapeKind::Sphere);
    // The scene's update steps its world (the load's end stepped it once).
    const int before = backend.steps;
    EXPECT_TRUE(scene->updatePhase1(CurrentTime(0.02), 0));
    EXPECT_EQ(backend.steps, before + 1);
    detachPhysicsModel(barrel, GameObjectLink::fromObject(model));
    EXPECT_TRUE(physics->models.empty());
    EXPECT_TRUE(backend.actors.empty());
    EXPECT_EQ(data.physics.modelData().findRecord("barrel")->users.count(), 0u);
}

TEST(PhysicsTriggers, ACharacterWalkingThroughRaisesOneEnterAndOneLeave) {
    struct Case {
        const char* what;
        const char* model;  // what stands or walks at the gate
        bool walks;
        int enabledAt;  // the frame the trigger is switched on; -1 never
        int frames;
        const char* entered;
        const char* left;
    } cases[] = {
        {"a character walking through", "hero", true, 0, 60, "gate<hero", "gate>hero"},
        {"a static actor inside", "rock", false, 0, 60, "", ""},
        {"a disabled trigger", "hero", true, -1, 60, "", ""},
        {"switched on around a boat lying inside", "boat", false, 30, 60, "gate<boat", ""},
        {"switched on around a boat before the world steps", "boat", false, 0, 0, "gate<boat", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        BulletWorlds simulation;
        testing_support::SceneLoadFixture f;
        PhysicsData data(
            "model floor\nactor box ground flags static group 0 size 20 0.5 20\n"
            "model hero\nactor capsule body flags controller height 1.8 radius 0.3\n"
            "model rock\nactor box stone flags static group 0 size 0.2 0.2 0.2\n"
            "model boat\nactor box hull flags modelLink size 0.5 0.25 0.5 mass 80\n");
        ASSERT_TRUE(data.built);
        Scene* scene = loadIntro(f);
        ASSERT_NE(scene, nullptr);
        ASSERT_NE(physicsSceneOf(scene), nullptr);
        registerTriggerClass(f.lua.state, f.lua.engine);
        ASSERT_TRUE(f.lua.load(R"(
            entered = ''
            left = ''
            function on_enter(name, object) entered = entered .. name .. '<' .. object end
            function on_leave(name, object) left = left .. name .. '>' .. object end
            trigger.onEnter = 'on_enter'
            trigger.onLeave = 'on_leave'
        )"));
        TriggerDescription gate;
        gate.name = "gate";
        gate.pose = testing_support::poseAt(1.5f, 1.0f, 0.0f);
        gate.size[0] = 0.5f;
        gate.size[1] = 1.0f;
        gate.size[2] = 1.0f;
        TriggerStatic* trigger = scene->triggers->addTrigger(gate);
        ASSERT_NE(trigger, nullptr);

        testing_support::SourceModel floor("floor");
        floor.scene = GameObjectLink::fromObject(scene).value;
        floor.world = testing_support::poseAt(0, -0.5f, 0);
        PhysicsModel* ground = attachPhysicsModel(floor, "floor", nullptr, true);
        ASSERT_NE(ground, nullptr);
        testing_support::SourceModel mover(c.model);
        mover.scene = GameObjectLink::fromObject(scene).value;
        mover.world = c.walks ? testing_support::poseAt(0, 1.25f, 0) : testing_support::poseAt(1.5f, 1.0f, 0);
        PhysicsModel* model = attachPhysicsModel(mover, c.model, nullptr, true);
        ASSERT_NE(model, nullptr);
        if (c.enabledAt == 0) trigger->setEnabled(true);
        f.runEvents();
        for (int frame = 1; frame <= c.frames; ++frame) {
            if (frame == c.enabledAt) trigger->setEnabled(true);
            const float step[3] = {3.0f / 60.0f, 0.0f, 0.0f};
            if (c.walks) EXPECT_TRUE(model->move(step));
            EXPECT_TRUE(scene->updatePhase1(CurrentTime(1.0 / 60.0), 0));
            f.runEvents();
        }
        if (c.walks) {
            Matrix34 pose{};
            ASSERT_TRUE(model->syncModelPose(pose));
            EXPECT_NEAR(pose.m[9], 3.0f, 0.05f);
        }
        EXPECT_EQ(f.value("entered"), c.entered);
        EXPECT_EQ(f.value("left"), c.left);
        detachPhysicsModel(mover, GameObjectLink::fromObject(model));
        detachPhysicsModel(floor, GameObjectLink::fromObject(ground));
    }
}

TEST(PhysicsCamera, TheFlyersDistanceStopsAtStaticActors) {
    BulletWorlds simulation;
    testing_support::SceneLoadFixture f;
    PhysicsData data(
        "model wall\nactor box stone flags static group 0 size 0.25 2 2\n"
        "model crate\nactor box body mass 1 size 0.25 0.25 0.25\n");
    ASSERT_TRUE(data.built);
    Scene* scene = loadIntro(f);
    ASSERT_NE(scene, nullptr);
    ASSERT_NE(cameraServices.physicsDistance, nullptr);
    testing_support::SourceModel wall("wall");
    wall.scene = GameObjectLink::fromObject(scene).value;
    wall.world = testing_support::poseAt(4.25f, 0, 0);
    PhysicsModel* stone = attachPhysicsModel(wall, "wall", nullptr, true);
    ASSERT_NE(stone, nullptr);
    // A dynamic body on the line does not stop the camera.
    testing_support::SourceModel box("crate");
    box.scene = GameObjectLink::fromObject(scene).value;
    box.world = testing_support::poseAt(2.0f, 0, 0);
    PhysicsModel* crate = attachPhysicsModel(box, "crate", nullptr, true);
    ASSERT_NE(crate, nullptr);
    struct Case {
        float direction[3];
        float distance;
        float expected;
    } cases[] = {
        {{1, 0, 0}, 10.0f, 3.8f},  // the wall's face at 4, less the probe's radius
        {{1, 0, 0}, 2.0f, 2.0f},   // short of the wall
        {{-1, 0, 0}, 10.0f, 10.0f},
    };
    const float from[3] = {0, 0, 0};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.direction[0]);
        EXPECT_NEAR(cameraServices.physicsDistance(from, c.direction, c.distance), c.expected, 0.01f);
    }
    detachPhysicsModel(box, GameObjectLink::fromObject(crate));
    detachPhysicsModel(wall, GameObjectLink::fromObject(stone));
}

}  // namespace

namespace {

// A scene's model takes the physics model named like its resource, hands
// it back when detached, and a physics-driven root takes its pose from the
// simulation in the model's second frame pass.
TEST(PhysicsAttach, AModelTakesItsResourcesPhysicsAndFollowsItsSimulatedRoot) {
    testing_support::TestBackend backend;
    testing_support::SceneLoadFixture f;
    PhysicsData data("model barrel\nactor capsule body flags controller height 2 radius 0.5\n");
    ASSERT_TRUE(data.built);
    Scene* scene = loadIntro(f);
    ASSERT_NE(scene, nullptr);
    PhysicsScene* physics = physicsSceneOf(scene);
    ASSERT_NE(physics, nullptr);
    Model barrel("crate", "barrel", GameObjectLink::fromObject(scene).value);
    EXPECT_TRUE(barrel.attachPhysics(nullptr));
    PhysicsModel* attached = barrel.attachedPhysics();
    ASSERT_NE(attached, nullptr);
    EXPECT_EQ(physics->models.size(), 1u);
    EXPECT_FALSE(barrel.attachPhysics(nullptr));
    EXPECT_TRUE(f.logged("Can't attach physics model to object [crate]: release previous model first"));

    // A controller body makes the model a character moved by its physics
    // root; the simulation moved the body, and the model follows it.
    EXPECT_NE(barrel.controller, nullptr);
    EXPECT_NE(barrel.stateWords[0] & kModelHasRoot, 0u);
    backend.actors.at(attached->actors.at(0).handle).pose.m[9] = 7.0f;
    EXPECT_TRUE(barrel.updateFrame(CurrentTime(0.02), 0));
    Matrix34 pose;
    barrel.getWorldMatrix(pose);
    EXPECT_FLOAT_EQ(pose.m[9], 7.0f);

    barrel.detachPhysics();
    EXPECT_EQ(barrel.attachedPhysics(), nullptr);
    EXPECT_TRUE(physics->models.empty());
    EXPECT_TRUE(backend.actors.empty());
    EXPECT_EQ(barrel.stateWords[0] & (kModelHasRoot | kModelPhysicsRoot), 0u);
}

}  // namespace
