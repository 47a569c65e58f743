// The boat controller, its animator and its encoder in a loaded scene: the
// keys and their directions, handlers, state queries and the save record;
// the animator's states on a manual clock; a boat without physics; and
// boats sailing on the game's simulation, to a waypoint, into the pier and
// under the player's keys.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "animation/AnimationControl.h"
#include "app/GameCore.h"
#include "control/BoatAnimator.h"
#include "control/BoatControl.h"
#include "control/BoatEncoder.h"
#include "control/ControlSettings.h"
#include "control/ControllerFixture.h"
#include "control/Grid.h"
#include "control/PhysicsCore.h"
#include "control/PhysicsModel.h"
#include "control/PhysicsTestPackage.h"
#include "foundation/DataStream.h"
#include "foundation/TimeCore.h"
#include "input/InputFixture.h"

using testing_support::BulletWorlds;
using testing_support::ControllerWorld;

namespace {

constexpr double kFrame = 1.0 / 60.0;
constexpr float kDegree = 0.017453292f;

// A rowboat's hull (long along the boat's forward X axis), a hull that
// follows its model (nothing to drive) and a pier's stone block.
constexpr const char* kBoatPhysics =
    "model hull\nactor box keel size 1 0.25 0.5 at 0 0.25 0 mass 80\n"
    "model fixed\nactor box keel flags modelLink size 1 0.25 0.5 mass 80\n"
    "model pier\nactor box stone flags static group 0 size 6 1 1\n";

BoatControl* makeBoat(Model* model) {
    return model ? static_cast<BoatControl*>(model->setController(ModelController::TypeBoat)) : nullptr;
}

BoatControl* boatOf(Model* model) { return model ? dynamic_cast<BoatControl*>(model->controller.get()) : nullptr; }

std::vector<char> recordOf(ModelController& controller) {
    MemoryStream stream;
    EXPECT_GT(controller.write(stream), 0);
    const std::int32_t size = stream.tell();
    std::vector<char> bytes(static_cast<std::size_t>(size));
    stream.setPosition(0);
    stream.read(bytes.data(), size);
    return bytes;
}

std::int32_t readRecord(ModelController& controller, std::vector<char> bytes) {
    MemoryStream stream(bytes.data(), static_cast<std::int32_t>(bytes.size()));
    return controller.read(stream);
}

// A waypoint whose facing (first row) points at a heading in degrees from
// +X toward -Z.
Matrix34 facingPose(float x, float z, float degrees) {
    const float a = degrees * kDegree;
    Matrix34 pose = testing_support::poseAtPoint(x, 0.0f, z);
    pose.m[0] = std::cos(a), pose.m[1] = 0.0f, pose.m[2] = -std::sin(a);
    pose.m[6] = std::sin(a), pose.m[7] = 0.0f, pose.m[8] = std::cos(a);
    return pose;
}

float headingOf(const Model& model) { return std::atan2(-model.worldMatrix.m[2], model.worldMatrix.m[0]) / kDegree; }

// A scene with the boat descriptions; boats on the water at y = 0.
struct Harbour {
    PhysicsCore physics;
    testing_support::ScopedCoreMember<PhysicsCore> usePhysics{gameCore.physics, &physics};
    ControllerWorld w{testing_support::physicsPackage(kBoatPhysics).files};

    Model* boat(const char* name, const char* hull, float x, float z) {
        Model* model = w.place(name, x, 0.0f, z);
        if (!model) return nullptr;
        model->attachPhysics(hull);
        makeBoat(model);
        return model;
    }
    // Frames as the scene runs them, with the posted script events after each.
    void frames(int count, double step = kFrame) {
        for (int i = 0; i < count; ++i) {
            w.scene->updatePhase0(CurrentTime(step), 0);
            w.scene->updatePhase1(CurrentTime(step), 0);
            w.f.runEvents();
        }
    }
    // Script handlers counting the boat's events.
    void countEvents(BoatControl& boat) {
        ASSERT_TRUE(w.f.lua.load(R"(
            before, finished = 0, 0
            function nearly(handler, name) before = before + 1 end
            function arrived(handler, name) finished = finished + 1 end
        )"));
        boat.setEvent("onbeforemovedone", "nearly");
        boat.setEvent("onmovedone", "arrived");
    }
};

// ---- Controller

TEST(BoatControl, KeysGiveBoatDirectionsWithoutDiagonals) {
    ControllerWorld w;
    BoatControl* b = makeBoat(w.place("boat"));
    ASSERT_NE(b, nullptr);
    EXPECT_FALSE(b->control().enabled());
    struct Case {
        bool forward, backward, left, right;
        const char* direction;
        const char* movement;
    } cases[] = {
        {false, false, true, false, "right", "rotate"}, {false, false, false, true, "left", "rotate"},
        {true, true, false, false, "none", "idle"},     {true, false, true, false, "fw", "walk"},
        {false, true, false, true, "bk", "walk"},       {false, false, true, true, "none", "idle"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(testing::Message() << k.forward << k.backward << k.left << k.right);
        b->resetInput();
        b->setForwardKey(k.forward);
        b->setBackwardKey(k.backward);
        b->setLeftKey(k.left);
        b->setRightKey(k.right);
        EXPECT_EQ(b->getCurrentState("direction"), k.direction);
        EXPECT_EQ(b->getCurrentState("movement"), k.movement);
        // The first direction switched the control block on.
        EXPECT_TRUE(b->control().enabled());
    }
    b->resetInput();
    b->setRightKey(true);
    EXPECT_EQ(b->getCurrentState("Direction"), "left");
    w.log().clear();
    EXPECT_EQ(b->getCurrentState("speed"), "");
    EXPECT_TRUE(w.logged("Invalid CONTROLLER_ATTRIBUTES map name [speed]"));
    EXPECT_TRUE(w.logged("Unsupported Boat controller state value. Possible values is: [action, stance, movement, "
                         "direction and look]"));
    EXPECT_EQ(b->getCurrentState("look"), "middle");
    EXPECT_EQ(b->getCurrentState("action"), "none");
}

TEST(BoatControl, HandlersAreCutAndEmptiedByANewMove) {
    ControllerWorld w;
    Model* model = w.place("boat");
    ASSERT_NE(makeBoat(model), nullptr);
    w.point("buoy", 10.0f, 0.0f, 0.0f);
    ASSERT_TRUE(w.f.lua.load(R"(
        local c = world:object("boat"):control()
        stored = c:setEvent("OnMoveDone", string.rep("h", 200))
        refused = c:setEvent("onArrive", "arrived")
        action = c:getState("action")
    )"));
    BoatControl* b = boatOf(model);
    EXPECT_EQ(w.f.value("stored"), "true");
    EXPECT_EQ(std::string(b->handlers[BoatControl::kOnMoveDone]), std::string(127, 'h'));
    EXPECT_EQ(w.f.value("refused"), "false");
    EXPECT_TRUE(w.logged("Controller not support event with name [onArrive]"));
    EXPECT_EQ(w.f.value("action"), "none");
    EXPECT_FALSE(w.logged("Controller NOT support getCUrrentState()"));
    ASSERT_TRUE(w.f.lua.load(R"(world:object("boat"):control():go2waypoint("buoy"))"));
    EXPECT_STREQ(b->handlers[BoatControl::kOnMoveDone], "");
    EXPECT_TRUE(b->isBusy());
    // World and local targets are refused, and the old target is gone; a
    // direct waypoint makes none.
    EXPECT_FALSE(b->animator().go(kTargetWorld, "buoy", 0.0f, 0.0f));
    EXPECT_TRUE(w.logged("Invalid character animation go() function call."));
    EXPECT_FALSE(b->isBusy());
    EXPECT_TRUE(b->go2waypoint("buoy", true));
    EXPECT_FALSE(b->isBusy());
}

TEST(BoatControl, ARecordKeepsTheRunFlipButNotTheRunKey) {
    ControllerWorld w;
    BoatControl* saved = makeBoat(w.place("boat"));
    BoatControl* loaded = makeBoat(w.place("twin"));
    ASSERT_TRUE(saved && loaded);
    saved->setRun(true);
    saved->flipRun();
    EXPECT_FALSE(saved->isRun());
    saved->setCharacterSpeed(0, 3.0f);
    saved->setEvent("onactiondone", "acted");
    const std::vector<char> record = recordOf(*saved);
    ASSERT_EQ(readRecord(*loaded, record), static_cast<std::int32_t>(record.size()));
    EXPECT_TRUE(loaded->isRun());
    EXPECT_FLOAT_EQ(loaded->speeds[0], 3.0f);
    EXPECT_STREQ(loaded->handlers[BoatControl::kOnActionDone], "acted");
    EXPECT_EQ(loaded->savedInt, 4);
}

TEST(BoatControl, ADamagedRecordIsRefusedBeforeAnythingChanges) {
    ControllerWorld w;
    BoatControl* source = makeBoat(w.place("boat"));
    BoatControl* target = makeBoat(w.place("twin"));
    ASSERT_TRUE(source && target);
    const std::vector<char> good = recordOf(*source);
    // orientation, flags, eye height, the double and the int (40 bytes),
    // the encoder (53), then the animator's state and flags.
    constexpr std::size_t kAnimator = 93;
    const std::size_t handlers = good.size() - 32 - 6;
    const auto patch = [&](std::size_t at, std::uint32_t value, std::size_t bytes) {
        std::vector<char> out = good;
        std::memcpy(out.data() + at, &value, bytes);
        return out;
    };
    struct Case {
        const char* what;
        std::vector<char> bytes;
        const char* message;
    } cases[] = {
        {"short", std::vector<char>(good.begin(), good.begin() + 120), nullptr},
        {"animator state 14", patch(kAnimator, 14, 4), "state 14 is outside 0..13"},
        {"unknown target kind", patch(kAnimator + 4, kBoatHasTarget, 4), "Can't create INVALID controller type"},
        {"handler over its field", patch(handlers, 200, 2), "longer than 127 characters"},
    };
    for (Case& k : cases) {
        SCOPED_TRACE(k.what);
        if (std::strcmp(k.what, "unknown target kind") == 0) std::memset(k.bytes.data() + kAnimator + 8, 9, 1);
        target->setCrouch(true);
        target->go2waypoint("anywhere", false);
        target->setEvent("onmovedone", "keep");
        w.log().clear();
        EXPECT_LT(readRecord(*target, k.bytes), 0);
        if (k.message) EXPECT_TRUE(w.logged(k.message));
        EXPECT_TRUE(target->isCrouch());
        EXPECT_STREQ(target->handlers[BoatControl::kOnMoveDone], "keep");
        ASSERT_NE(target->animator().target, nullptr);
        EXPECT_STREQ(target->animator().target->getName(), "anywhere");
    }
}

// ---- Animator, on a manual clock (the encoder's requests read before the
// encoder applies them)

TEST(BoatAnimator, ANearWaypointIsReachedWithoutSwimming) {
    ControllerWorld w;
    BoatControl* b = makeBoat(w.place("boat"));
    ASSERT_NE(b, nullptr);
    w.point("mooring", 0.2f, 0.0f, 0.0f);
    ASSERT_TRUE(w.f.lua.load("before = 0\nfunction nearly(handler, name) before = before + 1 end"));
    b->go2waypoint("mooring", false);
    b->setEvent("onbeforemovedone", "nearly");
    EXPECT_EQ(b->animator().state, kBoatStart);
    const CurrentTime tick(kFrame);
    b->animator().update(tick);
    w.f.runEvents();
    EXPECT_EQ(b->animator().state, kBoatArrived);
    EXPECT_EQ(w.f.value("before"), "1");
    b->animator().update(tick);
    EXPECT_EQ(b->animator().state, kBoatFinalTurn);
    EXPECT_NE(b->animator().pathGrid(), nullptr);
}

TEST(BoatAnimator, TenDegreesEndTheFirstTurnAtOnceButTheFinalTurnKeepsTurning) {
    ControllerWorld w;
    BoatControl* b = makeBoat(w.place("boat"));
    ASSERT_NE(b, nullptr);
    const CurrentTime tick(kFrame);
    // Far away, 10 degrees off the boat's heading (+X).
    w.scene->setDynamicWaypoint("far", facingPose(8.0f * std::cos(10 * kDegree), -8.0f * std::sin(10 * kDegree), 0));
    b->go2waypoint("far", false);
    b->animator().update(tick);
    ASSERT_EQ(b->animator().state, kBoatFirstTurn);
    b->animator().update(tick);
    EXPECT_EQ(b->animator().state, kBoatSwim);
    EXPECT_NE(b->encoder().angularStep[1], 0.0f);
    // Near, facing 10 degrees off: the final turn turns with torque at once.
    w.scene->setDynamicWaypoint("near", facingPose(0.1f, 0.0f, 10.0f));
    b->go2waypoint("near", false);
    for (int i = 0; i < 3; ++i) b->animator().update(tick);
    ASSERT_EQ(b->animator().state, kBoatFinalTurn);
    b->animator().update(tick);
    EXPECT_EQ(b->animator().state, kBoatFinalTurn);
    EXPECT_EQ(b->getCurrentState("movement"), "rotate");
    // Toward the facing (a turn about +Y), at the turning speed x the stay
    // torque power.
    EXPECT_NEAR(b->encoder().angularStep[1], 2.0f * boatSettings.stayTorquePower * kFrame, 1e-5f);
}

TEST(BoatAnimator, AMoveWithoutActionFinishesAndStaysBusyUntilStay) {
    ControllerWorld w;
    BoatControl* b = makeBoat(w.place("boat"));
    ASSERT_NE(b, nullptr);
    w.point("mooring", 0.1f, 0.0f, 0.0f);
    ASSERT_TRUE(w.f.lua.load("finished = 0\nfunction arrived(handler, name) finished = finished + 1 end"));
    b->go2waypoint("mooring", false);
    b->setEvent("onmovedone", "arrived");
    const CurrentTime tick(kFrame);
    std::vector<std::int32_t> states;
    for (int i = 0; i < 7; ++i) {
        b->animator().update(tick);
        if (states.empty() || states.back() != b->animator().state) states.push_back(b->animator().state);
    }
    w.f.runEvents();
    const std::vector<std::int32_t> expected{kBoatArrived, kBoatFinalTurn, kBoatAction, kBoatFinishing,
                                             kBoatFinished};
    EXPECT_EQ(states, expected);
    EXPECT_EQ(w.f.value("finished"), "1");
    EXPECT_TRUE(b->isBusy());
    EXPECT_FALSE(b->control().enabled());
    b->stay();
    EXPECT_FALSE(b->isBusy());
}

TEST(BoatAnimator, ANewMoveDuringTheFirstTurnKeepsTheTurnAndItsTime) {
    ControllerWorld w;
    BoatControl* b = makeBoat(w.place("boat"));
    ASSERT_NE(b, nullptr);
    w.point("north", 0.0f, 0.0f, -10.0f);
    w.point("south", 0.0f, 0.0f, 10.0f);
    b->go2waypoint("north", false);
    const CurrentTime tick(kFrame);
    for (int i = 0; i < 4; ++i) b->animator().update(tick);
    ASSERT_EQ(b->animator().state, kBoatFirstTurn);
    const double time = b->animator().timeInState;
    EXPECT_GT(time, 0.0);
    EXPECT_TRUE(b->go2waypoint("south", false));
    EXPECT_EQ(b->animator().state, kBoatFirstTurn);
    EXPECT_EQ(b->animator().timeInState, time);
    EXPECT_STREQ(b->animator().target->getName(), "south");
}

TEST(BoatAnimator, ASaveWhileSwimmingRestoresTheMoveExactly) {
    ControllerWorld w;
    Model* model = w.place("boat");
    BoatControl* b = makeBoat(model);
    ASSERT_NE(b, nullptr);
    w.point("far", 10.0f, 0.0f, 0.0f);
    b->go2waypoint("far", false);
    b->setEvent("onmovedone", "arrived");
    const CurrentTime tick(kFrame);
    for (int i = 0; i < 5; ++i) b->animator().update(tick);
    ASSERT_EQ(b->animator().state, kBoatSwim);
    MemoryStream encoderRecord;
    EXPECT_EQ(b->encoder().write(encoderRecord), BoatEncoder::kRecordSize);
    const std::vector<char> record = recordOf(*b);
    const std::uint32_t grid = b->animator().pathLink.value;
    const double time = b->animator().timeInState;
    ASSERT_NE(grid, 0u);
    // The boat goes on elsewhere, then the save is read back.
    b->stay();
    b->setLeftKey(true);
    EXPECT_EQ(b->animator().state, kBoatStopped);
    ASSERT_EQ(readRecord(*b, record), static_cast<std::int32_t>(record.size()));
    EXPECT_EQ(b->animator().state, kBoatSwim);
    EXPECT_EQ(b->animator().timeInState, time);
    EXPECT_EQ(b->animator().pathLink.value, grid);
    ASSERT_NE(b->animator().target, nullptr);
    EXPECT_STREQ(b->animator().target->getName(), "far");
    EXPECT_STREQ(b->handlers[BoatControl::kOnMoveDone], "arrived");
    EXPECT_EQ(b->getCurrentState("direction"), "fw");
    EXPECT_EQ(b->getCurrentState("movement"), "walk");
    EXPECT_EQ(recordOf(*b), record);
    // The grid is still the boat's: the next update keeps it.
    b->animator().update(tick);
    EXPECT_EQ(b->animator().pathLink.value, grid);
    EXPECT_FALSE(w.logged("its path link names no grid"));
}

// ---- Encoder

TEST(BoatEncoder, ABoatWithoutPhysicsLosesItsControllerAfterItsUpdate) {
    ControllerWorld w;
    Model* model = w.place("boat");
    ASSERT_NE(makeBoat(model), nullptr);
    w.point("far", 10.0f, 0.0f, 0.0f);
    boatOf(model)->go2waypoint("far", false);
    // The start asks for no motion, the first turn does.
    for (int i = 0; i < 3; ++i) w.scene->updatePhase1(CurrentTime(kFrame), 0);
    EXPECT_TRUE(w.logged(" Try to walk model [boat] without physics: Movement encoder failed"));
    EXPECT_EQ(model->controller, nullptr);
    EXPECT_FALSE(model->controllerRemovalPending());
}

// ---- On the game's simulation

TEST(BoatSail, ABoatCrossesTwentyMetresToItsWaypointOrStopsAtThePier) {
    struct Case {
        const char* what;
        bool pier;
    } cases[] = {{"open water", false}, {"the pier across the way", true}};
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        BulletWorlds simulation;
        Harbour harbour;
        if (k.pier) {
            Model* pier = harbour.w.place("pier", 0.0f, 0.0f, -10.0f);
            ASSERT_NE(pier, nullptr);
            pier->attachPhysics("pier");
        }
        Model* model = harbour.boat("boat", "hull", 0.0f, 0.0f);
        BoatControl* b = boatOf(model);
        ASSERT_NE(b, nullptr);
        // Across the water to the north, to moor facing west.
        harbour.w.scene->setDynamicWaypoint("quay", facingPose(0.0f, -20.0f, 180.0f));
        b->go2waypoint("quay", false);
        harbour.countEvents(*b);
        for (int frame = 0; frame < 1500 && b->animator().state != kBoatFinished; ++frame) {
            harbour.frames(1, 1.0 / 30.0);
            // Never through the pier's south face (z = -9): the hull's bow
            // lies a metre ahead of the boat.
            if (k.pier) ASSERT_GT(model->worldMatrix.m[11], -8.05f);
        }
        const float dx = model->worldMatrix.m[9], dz = model->worldMatrix.m[11] + 20.0f;
        if (!k.pier) {
            ASSERT_EQ(b->animator().state, kBoatFinished);
            harbour.frames(30, 1.0 / 30.0);
            EXPECT_LT(std::sqrt(dx * dx + dz * dz), boatSettings.distanceNear);
            EXPECT_NEAR(std::fabs(headingOf(*model)), 180.0f, boatSettings.stopAnglePrecision);
            EXPECT_EQ(harbour.w.f.value("before"), "1");
            EXPECT_EQ(harbour.w.f.value("finished"), "1");
        } else {
            EXPECT_EQ(b->animator().state, kBoatSwim);
            EXPECT_NEAR(model->worldMatrix.m[11], -8.0f, 0.15f);
            EXPECT_EQ(harbour.w.f.value("finished"), "0");
        }
        // Held on the water, upright.
        EXPECT_NEAR(model->worldMatrix.m[10], 0.0f, 1e-3f);
        EXPECT_NEAR(model->worldMatrix.m[4], 1.0f, 1e-3f);
    }
}

TEST(BoatSail, AHullThatFollowsItsModelCannotBeDrivenAndSaysSoOnce) {
    BulletWorlds simulation;
    Harbour harbour;
    Model* model = harbour.boat("boat", "fixed", 0.0f, 0.0f);
    BoatControl* b = boatOf(model);
    ASSERT_NE(b, nullptr);
    harbour.w.point("far", 10.0f, 0.0f, 0.0f);
    b->go2waypoint("far", false);
    harbour.frames(30);
    EXPECT_EQ(boatOf(model), b);
    EXPECT_TRUE(harbour.w.logged("Boat [boat]: its physics model has no dynamic body to drive"));
    EXPECT_NEAR(model->worldMatrix.m[9], 0.0f, 1e-4f);
}

TEST(BoatSail, ThePlayerSteersTheMainCharacterBoatForwardAndRound) {
    BulletWorlds simulation;
    testing_support::InputFixture input;
    const int keyboard = input.scripted->addDevice(platform::dinput8::DI8DEVTYPE_KEYBOARD, "Keyboard");
    ASSERT_TRUE(input.input.Initialize());
    input.frame();
    Harbour harbour;
    Model* model = harbour.boat("boat", "hull", 0.0f, 0.0f);
    BoatControl* b = boatOf(model);
    ASSERT_NE(b, nullptr);
    ASSERT_TRUE(gameCore.scene_setMainCharacter(GameObjectLink::fromObject(model)));
    gameCore.setCameraMode(1, CurrentTime{});
    double now = 1.0;
    CurrentTime placed;
    placed.real.time = now;
    placed.game.time = now;
    // Placed as a teleport places it: the view starts behind the boat.
    model->setPose(model->worldMatrix, placed);
    const auto frame = [&] {
        input.poll();
        CurrentTime sample;
        sample.real.time = now;
        input.input.update(sample);
        harbour.frames(1);
        now += kFrame;
    };
    const auto hold = [&](std::uint8_t key, int frames) {
        input.scripted->queue(keyboard, 0, key, 0x80);
        for (int i = 0; i < frames; ++i) frame();
        input.scripted->queue(keyboard, 0, key, 0);
        for (int i = 0; i < 60; ++i) frame();
    };
    hold(platform::dinput8::DIK_W, 60);
    EXPECT_EQ(b->getCurrentState("direction"), "none");
    // Forward along its facing: up to speed (2 m/s) with the hull's drag.
    EXPECT_GT(model->worldMatrix.m[9], 1.0f);
    EXPECT_NEAR(model->worldMatrix.m[11], 0.0f, 0.1f);
    EXPECT_NEAR(headingOf(*model), 0.0f, 2.0f);
    const float x = model->worldMatrix.m[9];
    // The left key turns it on the spot.
    hold(platform::dinput8::DIK_A, 60);
    EXPECT_GT(std::fabs(headingOf(*model)), 20.0f);
    EXPECT_NEAR(model->worldMatrix.m[9], x, 0.3f);
}

}  // namespace
