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
#include "foundation/Log.h"
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

namespace {

std::size_t loggedTimes(const std::string& text) {
    std::size_t times = 0;
    for (const LogRecord& record : engineLog().records())
        if (record.text.find(text) != std::string::npos) ++times;
    return times;
}

// A character dropped onto the floor: no ground contact while it falls,
// contact once it lands; a move made while the game is paused waits for
// the game to go on.
TEST(PhysicsCharacter, LandsWithGroundContactAndWaitsWhileTheGameIsPaused) {
    BulletWorlds simulation;
    testing_support::SceneLoadFixture f;
    PhysicsData data(
        "model floor\nactor box ground flags static group 0 size 20 0.5 20\n"
        "model hero\nactor capsule body flags controller height 1.8 radius 0.3\n");
    ASSERT_TRUE(data.built);
    Scene* scene = loadIntro(f);
    ASSERT_NE(scene, nullptr);
    testing_support::SourceModel floor("floor");
    floor.scene = GameObjectLink::fromObject(scene).value;
    floor.world = testing_support::poseAt(0, -0.5f, 0);
    PhysicsModel* ground = attachPhysicsModel(floor, "floor", nullptr, true);
    ASSERT_NE(ground, nullptr);
    testing_support::SourceModel hero("hero");
    hero.scene = GameObjectLink::fromObject(scene).value;
    hero.world = testing_support::poseAt(0, 2.25f, 0);
    PhysicsModel* model = attachPhysicsModel(hero, "hero", nullptr, true);
    ASSERT_NE(model, nullptr);

    const CurrentTime frame(1.0 / 60.0);
    EXPECT_TRUE(scene->updatePhase1(frame, 0));
    EXPECT_FALSE(model->onGround);
    for (int i = 0; i < 60; ++i) EXPECT_TRUE(scene->updatePhase1(frame, 0));
    EXPECT_TRUE(model->onGround);
    Matrix34 pose{};
    ASSERT_TRUE(model->syncModelPose(pose));
    EXPECT_NEAR(pose.m[10], 1.25f, 0.05f);

    gameCore.pause(true);
    const float step[3] = {0.5f, 0.0f, 0.0f};
    EXPECT_TRUE(model->move(step));
    for (int i = 0; i < 10; ++i) EXPECT_TRUE(scene->updatePhase1(CurrentTime(0.0), 0));
    ASSERT_TRUE(model->syncModelPose(pose));
    EXPECT_NEAR(pose.m[9], 0.0f, 0.01f);
    gameCore.pause(false);
    EXPECT_TRUE(scene->updatePhase1(frame, 0));
    ASSERT_TRUE(model->syncModelPose(pose));
    EXPECT_NEAR(pose.m[9], 0.5f, 0.02f);
    EXPECT_TRUE(model->onGround);
    detachPhysicsModel(hero, GameObjectLink::fromObject(model));
    detachPhysicsModel(floor, GameObjectLink::fromObject(ground));
}

// Actors take the surfaces their materials name from the packages' ".mat"
// files; a name without one takes "default", said once.
TEST(PhysicsSurfaces, MaterialsNameCompiledSurfacesOrTheDefault) {
    testing_support::TestBackend backend;
    testing_support::SceneLoadFixture f;
    PhysicsData data(
        "model crate\nactor box body material ice\nactor box lid material mud\n"
        "model barrel\nactor box body material mud material ice\n"
        "surface ice dynamic 0.05 static 0.1 restitution 0.5 frictioncombine min restitutioncombine max "
        "anisotropic 0.5 0.6 0 0 1\n");
    ASSERT_TRUE(data.built);
    Scene* scene = loadIntro(f);
    ASSERT_NE(scene, nullptr);
    testing_support::SourceModel crate("crate");
    crate.scene = GameObjectLink::fromObject(scene).value;
    testing_support::SourceModel barrel("barrel");
    barrel.scene = GameObjectLink::fromObject(scene).value;
    PhysicsModel* crateModel = attachPhysicsModel(crate, "crate", nullptr, true);
    PhysicsModel* barrelModel = attachPhysicsModel(barrel, "barrel", nullptr, true);
    ASSERT_NE(crateModel, nullptr);
    ASSERT_NE(barrelModel, nullptr);

    const auto& ice = backend.actors.at(crateModel->actors[0].handle).desc.surfaces;
    ASSERT_EQ(ice.size(), 1u);
    EXPECT_FLOAT_EQ(ice[0].dynamicFriction, 0.05f);
    EXPECT_FLOAT_EQ(ice[0].staticFriction, 0.1f);
    EXPECT_FLOAT_EQ(ice[0].restitution, 0.5f);
    EXPECT_EQ(ice[0].frictionCombine, 1u);
    EXPECT_EQ(ice[0].restitutionCombine, 3u);
    EXPECT_EQ(ice[0].flags, 1u);
    EXPECT_FLOAT_EQ(ice[0].dynamicFrictionV, 0.5f);
    EXPECT_FLOAT_EQ(ice[0].anisotropy[2], 1.0f);
    const auto& mud = backend.actors.at(crateModel->actors[1].handle).desc.surfaces;
    ASSERT_EQ(mud.size(), 1u);
    EXPECT_FLOAT_EQ(mud[0].dynamicFriction, 1.0f);
    EXPECT_FLOAT_EQ(mud[0].restitution, 0.0f);
    const auto& both = backend.actors.at(barrelModel->actors[0].handle).desc.surfaces;
    ASSERT_EQ(both.size(), 2u);
    EXPECT_FLOAT_EQ(both[0].dynamicFriction, 1.0f);
    EXPECT_FLOAT_EQ(both[1].dynamicFriction, 0.05f);
    EXPECT_EQ(loggedTimes("Physics surface [mud] not found: \"default\" used"), 1u);
    EXPECT_EQ(loggedTimes("Physics surface [ice]"), 0u);
    detachPhysicsModel(barrel, GameObjectLink::fromObject(barrelModel));
    detachPhysicsModel(crate, GameObjectLink::fromObject(crateModel));
}

// The box queries, one callback per shape kind and test: a sweep meets
// the actor of its kind at its face, an overlap touches it where it
// stands, and an actor of another kind is never hit.
TEST(PhysicsQueries, EachCallbackTestsTheBoxAgainstItsShapeKind) {
    BulletWorlds simulation;
    testing_support::SceneLoadFixture f;
    PhysicsData data(
        "model things\n"
        "actor box wall flags static group 0 size 0.5 0.5 0.5 at 4 0 0\n"
        "actor capsule pole flags static group 0 height 1 radius 0.5 at -4 0 0\n"
        "actor sphere ball flags static group 0 radius 0.5 at 0 0 4\n"
        "actor convex rock flags static group 0 at 0 0 -4\n"
        "vertex -0.5 -0.5 -0.5\nvertex 0.5 -0.5 -0.5\nvertex 0.5 0.5 -0.5\nvertex -0.5 0.5 -0.5\n"
        "vertex -0.5 -0.5 0.5\nvertex 0.5 -0.5 0.5\nvertex 0.5 0.5 0.5\nvertex -0.5 0.5 0.5\n"
        "actor mesh roof flags static group 0 at 0 4 0\n"
        "vertex -1 0 -1\nvertex 1 0 -1\nvertex 1 0 1\nvertex -1 0 1\n"
        "triangle 0 1 2\ntriangle 0 2 3\n");
    ASSERT_TRUE(data.built);
    Scene* scene = loadIntro(f);
    ASSERT_NE(scene, nullptr);
    PhysicsScene* physics = physicsSceneOf(scene);
    ASSERT_NE(physics, nullptr);
    testing_support::SourceModel things("things");
    things.scene = GameObjectLink::fromObject(scene).value;
    PhysicsModel* model = attachPhysicsModel(things, "things", nullptr, true);
    ASSERT_NE(model, nullptr);
    ASSERT_EQ(model->actors.size(), 5u);

    const double corners[6] = {-0.1, -0.1, -0.1, 0.1, 0.1, 0.1};
    const float origin[3] = {0, 0, 0};
    struct Case {
        int kind;  // shape kind, also the actor's index here
        float motion[3];
        float distance;  // from the origin to the face, less the box's half size
        float centre[3];
    } cases[] = {
        {0, {10, 0, 0}, 3.4f, {4, 0, 0}},  {1, {-10, 0, 0}, 3.4f, {-4, 0, 0}}, {2, {0, 0, 10}, 3.4f, {0, 0, 4}},
        {3, {0, 0, -10}, 3.4f, {0, 0, -4}}, {4, {0, 10, 0}, 3.9f, {0, 4, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.kind);
        const std::uint32_t actor = model->actors[static_cast<std::size_t>(c.kind)].handle;
        platform::physics::QueryHit hit;
        hit.distance = 100.0f;
        hit.feature = 7;
        ASSERT_TRUE(physicsQueryCallbacks[c.kind * 2](physics->world, actor, corners, origin, c.motion, hit));
        EXPECT_NEAR(hit.distance, c.distance, 0.02f);
        EXPECT_EQ(hit.feature, -1);
        const float along = hit.normal[0] * c.motion[0] + hit.normal[1] * c.motion[1] + hit.normal[2] * c.motion[2];
        EXPECT_LT(along, -9.0f);  // the normal faces back along the motion
        // A nearer record stays.
        platform::physics::QueryHit nearer;
        nearer.distance = 1.0f;
        EXPECT_FALSE(physicsQueryCallbacks[c.kind * 2](physics->world, actor, corners, origin, c.motion, nearer));
        EXPECT_FLOAT_EQ(nearer.distance, 1.0f);
        // Where it stands the box touches the actor; far away it does not.
        platform::physics::QueryHit touch;
        touch.distance = 100.0f;
        EXPECT_TRUE(physicsQueryCallbacks[c.kind * 2 + 1](physics->world, actor, corners, c.centre, nullptr, touch));
        EXPECT_EQ(touch.distance, 0.0f);
        platform::physics::QueryHit apart;
        apart.distance = 100.0f;
        EXPECT_FALSE(physicsQueryCallbacks[c.kind * 2 + 1](physics->world, actor, corners, origin, nullptr, apart));
        // The callbacks of the other kinds do not take this actor.
        for (int other = 0; other < 6; ++other) {
            if (other == c.kind) continue;
            platform::physics::QueryHit miss;
            miss.distance = 100.0f;
            EXPECT_FALSE(physicsQueryCallbacks[other * 2](physics->world, actor, corners, origin, c.motion, miss));
            EXPECT_FALSE(physicsQueryCallbacks[other * 2 + 1](physics->world, actor, corners, c.centre, nullptr, miss));
        }
    }
    detachPhysicsModel(things, GameObjectLink::fromObject(model));
}

}  // namespace
