// The character controller, its movement encoder and its animator in a
// loaded scene: keys, speeds, script handlers and state queries, the save
// record, first-person footsteps, and walks to targets on the tests'
// physics backend and on the game's simulation.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "animation/AnimationControl.h"
#include "app/GameCore.h"
#include "control/Character.h"
#include "control/CharacterAnimator.h"
#include "control/ControllerFixture.h"
#include "control/PhysicsCore.h"
#include "control/Grid.h"
#include "control/PathGridDataManager.h"
#include "grid/GridWriter.h"
#include "control/MovementEncoder.h"
#include "control/PhysicsModel.h"
#include "control/PhysicsTestBackend.h"
#include "control/PhysicsTestPackage.h"
#include "foundation/DataStream.h"
#include "foundation/TimeCore.h"
#include "input/InputFixture.h"
#include "scene/CameraCore.h"
#include "scene/Y3Pose.h"

using testing_support::BulletWorlds;
using testing_support::ControllerWorld;

namespace {

constexpr const char* kWalkerPhysics =
    "model walker\nactor capsule body flags controller height 1.8 radius 0.3\n"
    "model floor\nactor box ground flags static group 0 size 20 0.5 20\n"
    "model wall\nactor box stone flags static group 0 size 0.25 2 2\n";

Character* characterOf(Model* model) {
    return model ? dynamic_cast<Character*>(model->controller.get()) : nullptr;
}

Character* makeCharacter(Model* model) {
    return model ? static_cast<Character*>(model->setController(ModelController::TypeCharacter)) : nullptr;
}

std::vector<char> recordOf(Character& character) {
    MemoryStream stream;
    EXPECT_GT(character.write(stream), 0);
    const std::int32_t size = stream.tell();
    std::vector<char> bytes(static_cast<std::size_t>(size));
    stream.setPosition(0);
    stream.read(bytes.data(), size);
    return bytes;
}

std::int32_t readRecord(Character& character, std::vector<char> bytes) {
    MemoryStream stream(bytes.data(), static_cast<std::int32_t>(bytes.size()));
    return character.read(stream);
}

// A scene with physics descriptions for a walking character, a floor and
// a wall; the scene's physics scene comes with its load, so the data is
// installed first.
struct WalkWorld {
    // more: further files of the data root (the scene's path grid).
    explicit WalkWorld(std::vector<testing_support::FixtureFile> more = {}) : w{withPhysics(std::move(more))} {}
    static std::vector<testing_support::FixtureFile> withPhysics(std::vector<testing_support::FixtureFile> files) {
        for (testing_support::FixtureFile& file : testing_support::physicsPackage(kWalkerPhysics).files)
            files.push_back(std::move(file));
        return files;
    }

    PhysicsCore physics;
    testing_support::ScopedCoreMember<PhysicsCore> usePhysics{gameCore.physics, &physics};
    PathGridDataManager grids;
    testing_support::ScopedCoreMember<PathGridDataManager> useGrids{gameCore.pathGrids, &grids};
    ControllerWorld w;

    // A character standing on the floor with its capsule.
    Model* walker(const char* name, float x, float z) {
        Model* model = w.place(name, x, 1.25f, z);
        if (model) model->attachPhysics("walker");
        return model;
    }
    Model* solid(const char* name, const char* physics, float x, float y, float z) {
        Model* model = w.place(name, x, y, z);
        if (model) model->attachPhysics(physics);
        return model;
    }
    // Frames as the scene runs them, with the posted script events after
    // each.
    void frames(int count, double step = 1.0 / 60.0) {
        for (int i = 0; i < count; ++i) {
            w.scene->updatePhase0(CurrentTime(step), 0);
            w.scene->updatePhase1(CurrentTime(step), 0);
            w.f.runEvents();
        }
    }
    // Frames until the animator rests (at most limit).
    int walkUntilResting(Character& character, int limit) {
        for (int i = 0; i < limit; ++i) {
            frames(1);
            if (character.animator().state == kAnimatorSkip) return i;
        }
        return -1;
    }
};

float horizontalDistance(const Model& model, float x, float z) {
    const float dx = model.worldMatrix.m[9] - x, dz = model.worldMatrix.m[11] - z;
    return std::sqrt(dx * dx + dz * dz);
}

// ---- Character

TEST(Character, KeysGiveDirectionsAndRunIsTheKeyAgainstTheToggle) {
    ControllerWorld w;
    Character* c = makeCharacter(w.place("hero"));
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->getCurrentState("action"), "none");
    EXPECT_EQ(c->getCurrentState("movement"), "idle");
    struct Case {
        bool forward, backward, left, right;
        const char* direction;
    } cases[] = {
        {true, true, false, false, "none"},   {true, true, true, false, "left"},
        {true, true, true, true, "none"},     {true, false, true, false, "fw+left"},
        {false, true, false, true, "bk+right"}, {false, false, true, true, "none"},
        {false, true, false, false, "bk"},    {false, false, false, true, "right"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.direction);
        c->resetInput();
        c->setForwardKey(k.forward);
        c->setBackwardKey(k.backward);
        c->setLeftKey(k.left);
        c->setRightKey(k.right);
        EXPECT_EQ(c->getCurrentState("direction"), k.direction);
        EXPECT_EQ(c->getCurrentState("Movement"), std::strcmp(k.direction, "none") ? "walk" : "idle");
    }
    c->resetInput();
    c->setForwardKey(true);
    c->flipRun();
    EXPECT_TRUE(c->isRun());
    EXPECT_EQ(c->getCurrentState("movement"), "run");
    c->setRun(true);
    EXPECT_FALSE(c->isRun());
    EXPECT_EQ(c->getCurrentState("movement"), "walk");
    // Auto-walk pushes forward until the forward key is pressed.
    c->resetInput();
    c->setAutoWalk(false);
    EXPECT_EQ(c->getCurrentState("direction"), "fw");
    c->setForwardKey(true);
    c->setForwardKey(false);
    EXPECT_EQ(c->getCurrentState("direction"), "none");
}

TEST(Character, SpeedsFollowRunCrouchAndDirection) {
    ControllerWorld w;
    Character* c = makeCharacter(w.place("hero"));
    ASSERT_NE(c, nullptr);
    for (std::int32_t i = 0; i < 8; ++i) c->setCharacterSpeed(i, static_cast<float>(10 * (i + 1)));
    struct Case {
        bool run, crouch, forward, left;
        float expected;
    } cases[] = {
        {false, false, true, false, 10.0f},  {false, false, false, true, 20.0f},
        {false, true, true, false, 30.0f},   {true, false, true, false, 50.0f},
        {true, true, false, true, 80.0f},    {false, false, true, true, 0.4f * 10.0f + 0.6f * 20.0f},
        {true, true, true, true, 0.4f * 70.0f + 0.6f * 80.0f}, {false, false, false, false, 0.0f},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(testing::Message() << k.run << k.crouch << k.forward << k.left);
        c->resetInput();
        c->setCrouch(k.crouch);
        c->setRun(k.run);
        c->setForwardKey(k.forward);
        c->setLeftKey(k.left);
        EXPECT_FLOAT_EQ(c->speed(), k.expected);
    }
}

TEST(Character, ScriptsSetHandlersAndQueryStatesByLowerCasedNames) {
    ControllerWorld w;
    Model* hero = w.place("hero");
    ASSERT_NE(makeCharacter(hero), nullptr);
    w.point("spot", 3.0f, 0.0f, 0.0f);
    ASSERT_TRUE(w.f.lua.load(R"(
        local c = world:object("hero"):control()
        stored = c:setEvent("OnMoveDone", "arrived")
        refused = c:setEvent("onArrive", "arrived")
        bad = "[" .. c:getState("speed") .. "]"
        stance = c:getState("STANCE")
    )"));
    Character* c = characterOf(hero);
    EXPECT_EQ(w.f.value("stored"), "true");
    EXPECT_STREQ(c->handlers[Character::kOnMoveDone], "arrived");
    EXPECT_EQ(w.f.value("refused"), "false");
    EXPECT_TRUE(w.logged("Controller not support event with name [onArrive]"));
    EXPECT_EQ(w.f.value("bad"), "[]");
    EXPECT_TRUE(w.logged("Invalid CONTROLLER_ATTRIBUTES map name [speed]"));
    EXPECT_TRUE(w.logged("Unsupported character controller state value."));
    EXPECT_EQ(w.f.value("stance"), "stand");
    // Choosing a target clears the handlers: scripts set them afterwards.
    ASSERT_TRUE(w.f.lua.load(R"(world:object("hero"):control():go2waypoint("spot"))"));
    for (const char* handler : c->handlers) EXPECT_STREQ(handler, "");
    EXPECT_TRUE(c->isBusy());
    // Outside "Execute action" an action's end changes nothing; an unknown
    // action name is reported.
    EXPECT_FALSE(c->onActionDone("Dance"));
    EXPECT_TRUE(w.logged("Invalid AC_ACTION map name [Dance]"));
    // World and local targets are not walked: the old target is gone.
    EXPECT_FALSE(c->animator().go(kTargetWorld, "spot", 0.0f, 0.0f, 0));
    EXPECT_TRUE(w.logged("Invalid character animation go() function call."));
    EXPECT_FALSE(c->isBusy());
}

TEST(Character, ARecordKeepsStanceAndSpeedsButNoKeys) {
    ControllerWorld w;
    Character* saved = makeCharacter(w.place("hero"));
    Character* loaded = makeCharacter(w.place("twin"));
    ASSERT_TRUE(saved && loaded);
    saved->setCrouch(true);
    saved->setForwardKey(true);
    saved->setLeftKey(true);
    saved->setCharacterSpeed(3, 7.0f);
    saved->setEvent("onactiondone", "acted");
    const std::vector<char> before = recordOf(*saved);
    // Entry 8 is accepted but never saved.
    EXPECT_TRUE(saved->setCharacterSpeed(8, 99.0f));
    EXPECT_EQ(recordOf(*saved), before);
    ASSERT_EQ(readRecord(*loaded, before), static_cast<std::int32_t>(before.size()));
    EXPECT_TRUE(loaded->isCrouch());
    EXPECT_EQ(loaded->getCurrentState("stance"), "crouch");
    EXPECT_EQ(loaded->getCurrentState("direction"), "none");
    EXPECT_EQ(loaded->directions, 0u);
    EXPECT_EQ(loaded->flags & (Character::kForwardKey | Character::kLeftKey | Character::kMoving), 0u);
    EXPECT_FLOAT_EQ(loaded->speeds[3], 7.0f);
    EXPECT_STREQ(loaded->handlers[Character::kOnActionDone], "acted");
}

TEST(Character, ADamagedRecordIsRefusedBeforeAnythingChanges) {
    ControllerWorld w;
    Character* source = makeCharacter(w.place("hero"));
    Character* target = makeCharacter(w.place("twin"));
    ASSERT_TRUE(source && target);
    source->setEvent("onmovedone", "done");
    const std::vector<char> good = recordOf(*source);
    // flags, directions, orientation and eye height (28 bytes), the
    // encoder (50), the animator's state and flags, its time, path and walk
    // direction (32), the control block (90), eight speeds (32), handlers.
    constexpr std::size_t kAnimator = 78, kControl = 110, kStance = kControl + 4, kHandlers = 232;
    ASSERT_EQ(good.size(), kHandlers + 2 + 4 + 2 + 2);
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
        {"short", std::vector<char>(good.begin(), good.begin() + 150), nullptr},
        {"animator state 16", patch(kAnimator, 16, 4), "state 16 is outside 0..15"},
        {"unknown target kind", patch(kAnimator + 4, kAnimatorHasTarget, 4), "Can't create INVALID controller type"},
        {"stance 3", patch(kStance, 3, 4), "invalid animation state AC_STANCE value"},
        {"handler over its field", patch(kHandlers, 200, 2), "a handler name is longer than 127 characters"},
    };
    for (Case& k : cases) {
        SCOPED_TRACE(k.what);
        if (std::strcmp(k.what, "unknown target kind") == 0) std::memset(k.bytes.data() + kAnimator + 8, 9, 1);
        target->resetInput();
        target->setCrouch(true);
        target->setEvent("onmovedone", "keep");
        target->go2waypoint("anywhere", false);
        target->setEvent("onmovedone", "keep");
        w.log().clear();
        EXPECT_LT(readRecord(*target, k.bytes), 0);
        if (k.message) EXPECT_TRUE(w.logged(k.message));
        EXPECT_TRUE(target->isCrouch());
        EXPECT_STREQ(target->handlers[Character::kOnMoveDone], "keep");
        ASSERT_NE(target->animator().target, nullptr);
        EXPECT_STREQ(target->animator().target->getName(), "anywhere");
    }
}

// ---- Movement encoder

TEST(MovementEncoder, FirstPersonWalkingCountsFootstepsByItsStepLength) {
    struct Case {
        const char* what;
        bool crouch, run;
        int frames;  // of 0.1 s
        float left;
        std::uint8_t leftFoot;
    } cases[] = {
        {"walking 2.5 a second for 0.5 s", false, false, 5, 0.25f, 1},
        {"a crouching runner steps at the crouch length", true, true, 1, 0.0f, 1},
        {"a runner steps at the run length", false, true, 1, 0.5f, 0},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        testing_support::TestBackend backend;
        WalkWorld world;
        Model* hero = world.walker("hero", 0.0f, 0.0f);
        Character* c = characterOf(hero);
        ASSERT_NE(c, nullptr);
        gameCore.scene_setMainCharacter(GameObjectLink::fromObject(hero));
        gameCore.cameraMode = 1;
        c->setCrouch(k.crouch);
        if (k.run) c->flipRun();
        c->setForwardKey(true);
        const float x = hero->worldMatrix.m[9];
        world.frames(k.frames, 0.1);
        EXPECT_NEAR(c->encoder().stepDistance, k.left, 1e-4f);
        EXPECT_EQ(c->encoder().leftFoot, k.leftFoot);
        // The physics model carried the walk along the character's heading;
        // the model takes it at its next update.
        world.frames(1, 0.0);
        EXPECT_NEAR(hero->worldMatrix.m[9] - x, c->speed() * 0.1f * static_cast<float>(k.frames), 1e-3f);
        EXPECT_NEAR(hero->worldMatrix.m[11], 0.0f, 1e-3f);
    }
}

TEST(MovementEncoder, AModelWithoutPhysicsLosesItsControllerAfterItsUpdate) {
    ControllerWorld w;
    Model* hero = w.place("hero");
    Character* c = makeCharacter(hero);
    ASSERT_NE(c, nullptr);
    const float step[3] = {0.1f, 0.0f, 0.0f};
    const float none[4] = {0.0f, 0.0f, 0.0f, 0.0f};
    c->moveLocal(step, none);
    w.scene->updatePhase1(CurrentTime(0.1), 0);
    EXPECT_TRUE(w.logged(" Try to walk model [hero] without physics: Movement encoder failed"));
    EXPECT_EQ(hero->controller, nullptr);
    EXPECT_EQ(hero->stateWords[0] & kModelHasController, 0u);
    EXPECT_FALSE(hero->controllerRemovalPending());
}

TEST(MovementEncoder, ARecordIsFiftyBytesAndAShortOneChangesNothing) {
    ControllerWorld w;
    Character* c = makeCharacter(w.place("hero"));
    ASSERT_NE(c, nullptr);
    MovementEncoder& encoder = c->encoder();
    const float d[3] = {1.0f, 2.0f, 3.0f};
    const float r[4] = {0.0f, 0.5f, 0.0f, 0.0f};
    encoder.addMotion(d, r);
    encoder.addMotion(d, r);
    EXPECT_FLOAT_EQ(encoder.displacement[2], 6.0f);
    encoder.falling = 1;
    encoder.verticalSpeed = -2.0f;
    encoder.leftFoot = 1;
    MemoryStream stream;
    ASSERT_EQ(encoder.write(stream), MovementEncoder::kRecordSize);
    MovementEncoder copy(*c);
    stream.setPosition(0);
    ASSERT_EQ(copy.read(stream), MovementEncoder::kRecordSize);
    EXPECT_EQ(copy.falling, 1);
    EXPECT_FLOAT_EQ(copy.verticalSpeed, -2.0f);
    EXPECT_FLOAT_EQ(copy.rotationDelta[1], 1.0f);
    MovementEncoder untouched(*c);
    std::vector<char> bytes(20);
    MemoryStream shortStream(bytes.data(), 20);
    EXPECT_LT(untouched.read(shortStream), 0);
    EXPECT_EQ(untouched.hasMotion, 0);
    EXPECT_FLOAT_EQ(untouched.displacement[0], 0.0f);
}

// ---- Character animator

TEST(CharacterAnimator, TheTurnStepWrapsAndClampsItsAngle) {
    const auto direction = [](float degrees) {
        const float h = degrees * 3.14159265f / 180.0f;
        return std::vector<float>{std::sin(h), 0.0f, -std::cos(h)};
    };
    struct Case {
        float from, to, speed, step;
        float difference, turned;
    } cases[] = {
        {0.0f, 170.0f, 3.0f, 0.1f, 170.0f, 0.3f},
        {100.0f, -90.0f, 3.0f, 0.1f, 170.0f, 0.3f},  // -190 wraps to +170
        {0.0f, -30.0f, 5.0f, 1.0f, -30.0f, -0.5236f},  // within reach: all of it
        {45.0f, 45.0f, 3.0f, 0.1f, 0.0f, 0.0f},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(testing::Message() << k.from << " to " << k.to);
        const std::vector<float> current = direction(k.from), wanted = direction(k.to);
        float out[3];
        const float difference = animatorTurnStep(current.data(), wanted.data(), k.speed, k.step, out);
        EXPECT_NEAR(difference, k.difference * 3.14159265f / 180.0f, 2e-3f);
        const float turned = std::atan2(out[0], -out[2]) - std::atan2(current[0], -current[2]);
        EXPECT_NEAR(std::remainder(turned, 2.0f * 3.14159265f), k.turned, 1e-3f);
    }
}

TEST(CharacterAnimator, AnAimWithinSkipDistanceIsReachedWithoutAWalk) {
    ControllerWorld w;
    Model* hero = w.place("hero");
    Character* c = makeCharacter(hero);
    ASSERT_NE(c, nullptr);
    w.point("near", 0.2f, 0.0f, 0.0f);
    ASSERT_TRUE(w.f.lua.load(R"(
        before = ""
        function almost(name) before = before .. name end
        local c = world:object("hero"):control()
        c:go2waypoint("near")
        c:setEvent("onbeforemovedone", "almost")
    )"));
    gameCore.debugFlags |= DebugCharacterAnimatorLog;
    w.scene->updatePhase1(CurrentTime(0.1), 0);
    w.f.runEvents();
    gameCore.debugFlags &= ~DebugCharacterAnimatorLog;
    EXPECT_EQ(c->animator().state, kAnimatorReached);
    EXPECT_EQ(w.f.value("before"), "hero");
    EXPECT_TRUE(w.logged("Character [hero] animator :  (Begin walking)->(Aim position reached)"));
    EXPECT_FALSE(w.logged("(Walk far)"));
    EXPECT_EQ(c->getCurrentState("movement"), "idle");
    // The controller is still the model's: nothing moved.
    EXPECT_EQ(hero->controller.get(), c);
}

TEST(CharacterAnimator, StayWhileWalkingStopsAndWaits) {
    testing_support::TestBackend backend;
    WalkWorld world;
    Model* hero = world.walker("hero", 0.0f, 0.0f);
    Character* c = characterOf(hero);
    ASSERT_NE(c, nullptr);
    world.w.point("far", 6.0f, 0.0f, 0.0f);
    c->go2waypoint("far", false);
    world.frames(5);
    EXPECT_EQ(c->animator().state, kAnimatorWalkFar);
    EXPECT_EQ(c->getCurrentState("movement"), "walk");
    EXPECT_EQ(c->getCurrentState("direction"), "fw");
    // The walk plays what the model's rules choose: its control block is on
    // while it moves, and the stop switches it off again.
    EXPECT_TRUE(c->control().enabled());
    ASSERT_NE(c->animator().pathObject(), nullptr);
    c->stay();
    EXPECT_FALSE(c->control().enabled());
    EXPECT_EQ(c->animator().state, kAnimatorWait);
    EXPECT_EQ(c->getCurrentState("movement"), "idle");
    EXPECT_EQ(c->getCurrentState("direction"), "none");
    EXPECT_EQ(c->getCurrentState("action"), "none");
    EXPECT_EQ(c->animator().pathObject(), nullptr);
    EXPECT_EQ(world.w.scene->lookupGrid("hero"), nullptr);
    // Its path object was never shown: it goes without a pop.
    EXPECT_FALSE(world.w.logged("Can't pop grid [hero]: push first"));
    EXPECT_FALSE(c->isBusy());
    // The model takes the capsule's last step at its next update.
    world.frames(1);
    const float x = hero->worldMatrix.m[9];
    world.frames(5);
    EXPECT_EQ(c->animator().state, kAnimatorSkip);
    EXPECT_FLOAT_EQ(hero->worldMatrix.m[9], x);
}

TEST(CharacterAnimator, ArrivalRaisesTheMoveDoneEventOnlyWithAHandler) {
    for (const char* handler : {"", "arrived"}) {
        SCOPED_TRACE(handler);
        testing_support::TestBackend backend;
        WalkWorld world;
        Model* hero = world.walker("hero", 0.0f, 0.0f);
        Character* c = characterOf(hero);
        ASSERT_NE(c, nullptr);
        world.w.point("goal", 0.0f, 0.0f, 3.0f);
        ASSERT_TRUE(world.w.f.lua.load(R"(
            calls = 0
            function arrived(name) calls = calls + 1 end
        )"));
        c->go2waypoint("goal", false);
        c->setEvent("onmovedone", handler);
        ASSERT_GE(world.walkUntilResting(*c, 600), 0);
        world.frames(3);
        EXPECT_EQ(world.w.f.value("calls"), handler[0] ? "1" : "0");
        EXPECT_LT(horizontalDistance(*hero, 0.0f, 3.0f), 0.15f + 1e-3f);
        // The waypoint's facing (its first row) is taken on arrival.
        EXPECT_NEAR(hero->worldMatrix.m[0], 1.0f, 1e-3f);
        // Resting with its target kept: busy until it stays.
        EXPECT_EQ(c->animator().state, kAnimatorSkip);
        EXPECT_TRUE(c->isBusy());
        c->stay();
        EXPECT_FALSE(c->isBusy());
    }
}

TEST(CharacterAnimator, ASaveMidWalkRestoresItsWalkAndChecksItsPathLink) {
    testing_support::TestBackend backend;
    WalkWorld world;
    Model* hero = world.walker("hero", 0.0f, 0.0f);
    Model* twin = world.walker("twin", 0.0f, 4.0f);
    Character* c = characterOf(hero);
    Character* other = characterOf(twin);
    ASSERT_TRUE(c && other);
    world.w.point("far", 8.0f, 0.0f, 0.0f);
    c->go2waypoint("far", false);
    world.frames(10);
    ASSERT_EQ(c->animator().state, kAnimatorWalkFar);
    MemoryStream stream;
    const std::int32_t size = c->animator().write(stream);
    ASSERT_GT(size, 0);
    std::vector<char> bytes(static_cast<std::size_t>(size));
    stream.setPosition(0);
    stream.read(bytes.data(), size);

    const auto load = [&](std::vector<char> record) {
        MemoryStream in(record.data(), static_cast<std::int32_t>(record.size()));
        return other->animator().read(in);
    };
    ASSERT_EQ(load(bytes), size);
    CharacterAnimator& restored = other->animator();
    EXPECT_EQ(restored.state, kAnimatorWalkFar);
    EXPECT_DOUBLE_EQ(restored.stateTime, c->animator().stateTime);
    ASSERT_NE(restored.target, nullptr);
    EXPECT_EQ(restored.target->getType(), kTargetWaypoint);
    EXPECT_STREQ(restored.target->getName(), "far");
    EXPECT_EQ(restored.path.value, c->animator().path.value);
    EXPECT_EQ(restored.pathObject(), c->animator().pathObject());

    // A link that names a model after the load is dropped at the next step,
    // and a path object of the walker's own is made.
    std::vector<char> wrong = bytes;
    const std::uint32_t model = GameObjectLink::fromObject(twin).value;
    std::memcpy(wrong.data() + wrong.size() - 90 - 12 - 4, &model, 4);
    ASSERT_EQ(load(wrong), size);
    EXPECT_EQ(other->animator().path.value, model);
    world.frames(1);
    EXPECT_TRUE(world.w.logged("Character [twin]: its path link names no grid of its scene: dropped"));
    Grid* own = other->animator().pathObject();
    ASSERT_NE(own, nullptr);
    EXPECT_STREQ(own->getName(), "twin");
}

// ---- On the game's simulation

TEST(CharacterWalk, ACharacterWalksToAWaypointAndStopsAtAWall) {
    struct Case {
        const char* what;
        bool wall;
    } cases[] = {{"open floor", false}, {"a wall across the way", true}};
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        BulletWorlds simulation;
        WalkWorld world;
        ASSERT_NE(world.solid("ground", "floor", 0.0f, -0.5f, 0.0f), nullptr);
        if (k.wall) ASSERT_NE(world.solid("barrier", "wall", 2.5f, 1.0f, 0.0f), nullptr);
        Model* hero = world.walker("hero", 0.0f, 0.0f);
        Character* c = characterOf(hero);
        ASSERT_NE(c, nullptr);
        world.frames(10);
        world.w.point("goal", 5.0f, 0.0f, 0.0f);
        ASSERT_TRUE(world.w.f.lua.load(R"(
            finished = 0
            function arrived(name) finished = finished + 1 end
        )"));
        c->go2waypoint("goal", false);
        c->setEvent("onmovedone", "arrived");
        const int frames = world.walkUntilResting(*c, 600);
        if (!k.wall) {
            ASSERT_GE(frames, 0);
            world.frames(30);
            EXPECT_EQ(world.w.f.value("finished"), "1");
            EXPECT_LT(horizontalDistance(*hero, 5.0f, 0.0f), 0.15f + 0.02f);
            EXPECT_NEAR(hero->worldMatrix.m[0], 1.0f, 1e-3f);
            EXPECT_TRUE(c->isBusy());
        } else {
            EXPECT_LT(frames, 0);
            // The wall's face is at 2.25, the capsule's radius 0.3.
            EXPECT_LT(hero->worldMatrix.m[9], 2.25f - 0.2f);
            EXPECT_GT(hero->worldMatrix.m[9], 1.5f);
            EXPECT_TRUE(c->isBusy());
            EXPECT_EQ(world.w.f.value("finished"), "0");
            c->stay();
            EXPECT_FALSE(c->isBusy());
        }
        // The model stands where its capsule stands.
        EXPECT_GT(hero->worldMatrix.m[10], 1.0f);
    }
}

// The file of the scene's path grid from its description.
testing_support::FixtureFile sceneGrid(const std::string& text) {
    Y3GridData grid;
    std::string error;
    EXPECT_TRUE(grid_tools::parseGridDescription(text, grid, error)) << error;
    return {".grid", "grid_intro", grid_tools::gridFileBytes(grid), ""};
}

// The scene's path grid: x from -5 to 5 and z from -5 to 5, one cell a
// unit, with a wall of blocked cells at x 0..1 from z -5 to 2.
constexpr const char* kWalledGrid =
    "cell 1\norigin -5\ncolumn -5\nheight 0 32\nfloor 0\n"
    "|.....#....\n|.....#....\n|.....#....\n|.....#....\n|.....#....\n|.....#....\n|.....#....\n"
    "|..........\n|..........\n|..........\n";

TEST(CharacterWalk, AWalkOnTheScenesGridGoesRoundItsBlockedCells) {
    BulletWorlds simulation;
    WalkWorld world({sceneGrid(kWalledGrid)});
    ASSERT_NE(world.solid("ground", "floor", 0.0f, -0.5f, 0.0f), nullptr);
    Model* hero = world.walker("hero", -3.0f, 0.0f);
    Character* c = characterOf(hero);
    ASSERT_NE(c, nullptr);
    world.frames(10);
    world.w.point("goal", 3.0f, 0.0f, 0.0f);
    c->go2waypoint("goal", false);
    float highest = -10.0f;
    std::size_t routeNodes = 0;
    int frames = -1;
    for (int frame = 0; frame < 1200 && frames < 0; ++frame) {
        world.frames(1);
        const float x = hero->worldMatrix.m[9], z = hero->worldMatrix.m[11];
        // It passes round the wall's end: the smoothed route may round the
        // end cell's corner, never cross the wall's middle.
        EXPECT_FALSE(x > 0.2f && x < 0.8f && z < 1.25f) << "frame " << frame << " at " << x << ", " << z;
        highest = std::max(highest, z);
        if (const Grid* route = c->animator().pathObject()) routeNodes = std::max(routeNodes, route->nodes.size());
        if (c->animator().state == kAnimatorSkip) frames = frame;
    }
    ASSERT_GE(frames, 0) << "the walk never ended";
    EXPECT_GT(highest, 1.5f);
    EXPECT_LT(horizontalDistance(*hero, 3.0f, 0.0f), 0.15f + 0.02f);
    // A searched route: more cells than the straight line's six, its node
    // count logged when it was found.
    EXPECT_GT(routeNodes, 6u);
    EXPECT_TRUE(world.w.f.lua.log().contains("Route [hero]: " + std::to_string(routeNodes) + " nodes"));
}

// A follower's aim round the followed object is a point with free cells
// all round it on the scene's grid: the post faces the wall's end, so its
// first candidates lie in the wall and the aim is one further round.
TEST(CharacterWalk, AFollowersAimLiesAmongFreeCellsOfTheGrid) {
    BulletWorlds simulation;
    std::string text = "cell 1\norigin -10\ncolumn -10\nheight 0 32\nfloor 0\n";
    for (int row = -10; row < 10; ++row) text += row < 2 ? "|..........#.........\n" : "|....................\n";
    WalkWorld world({sceneGrid(text)});
    ASSERT_NE(world.solid("ground", "floor", 0.0f, -0.5f, 0.0f), nullptr);
    Matrix34 facingSouth = testing_support::poseAtPoint(0.5f, 0.0f, 5.0f);
    facingSouth.m[0] = -1.0f;
    facingSouth.m[8] = -1.0f;
    ASSERT_NE(world.w.scene->createModel("box", "post", facingSouth, 0), nullptr);
    Model* hero = world.walker("hero", -6.0f, -6.0f);
    Character* c = characterOf(hero);
    ASSERT_NE(c, nullptr);
    world.frames(10);
    ASSERT_TRUE(c->follow2model("post", 2.0f, 3.0f));
    const auto inWall = [](float x, float z, float margin) {
        return x > -margin && x < 1.0f + margin && z < 2.0f + margin;
    };
    bool aimed = false;
    for (int frame = 0; frame < 900; ++frame) {
        world.frames(1);
        const Grid* route = c->animator().pathObject();
        if (!route || !(route->flags & kGridRoutePresent)) continue;
        aimed = true;
        // Three free cells on every side of the aim.
        EXPECT_FALSE(inWall(route->endPose[9], route->endPose[11], 3.0f))
            << "aim at " << route->endPose[9] << ", " << route->endPose[11];
        const float hx = hero->worldMatrix.m[9], hz = hero->worldMatrix.m[11];
        EXPECT_FALSE(hx > 0.2f && hx < 0.8f && hz < 1.25f) << "frame " << frame << " at " << hx << ", " << hz;
    }
    EXPECT_TRUE(aimed);
    EXPECT_LT(horizontalDistance(*hero, 0.5f, 5.0f), 3.0f);
}

// A follower keeps its target when it arrives: once the followed figure
// has moved off farther than 0.6 x (near + far), it is followed again.
TEST(CharacterWalk, AFollowerFollowsAgainWhenTheFollowedFigureMovesOff) {
    BulletWorlds simulation;
    std::string text = "cell 1\norigin -10\ncolumn -10\nheight 0 32\nfloor 0\n";
    for (int row = -10; row < 10; ++row) text += "|....................\n";
    WalkWorld world({sceneGrid(text)});
    ASSERT_NE(world.solid("ground", "floor", 0.0f, -0.5f, 0.0f), nullptr);
    ASSERT_NE(world.w.scene->createModel("box", "post", testing_support::poseAtPoint(-3.0f, 0.0f, -3.0f), 0), nullptr);
    Model* hero = world.walker("hero", 0.0f, 0.0f);
    Character* c = characterOf(hero);
    ASSERT_NE(c, nullptr);
    world.frames(10);
    world.w.point("east", 4.0f, 0.0f, 4.0f);
    ASSERT_TRUE(world.w.f.lua.load(R"(
        arrivals = 0
        function arrived(name) arrivals = arrivals + 1 end
        local c = world:object("hero"):control()
        c:follow2model("post", 1.5, 2.5)
        c:setEvent("onmovedone", "arrived")
    )"));
    const auto* post =
        static_cast<const Model*>(world.w.scene->lookupModel("post", static_cast<std::int32_t*>(nullptr)));
    ASSERT_NE(post, nullptr);
    const auto nearPost = [&] {
        return horizontalDistance(*hero, post->worldMatrix.m[9], post->worldMatrix.m[11]) < 2.5f;
    };
    const auto walkUntilNear = [&](int limit) {
        for (int frame = 0; frame < limit; ++frame) {
            world.frames(1);
            if (nearPost() && c->animator().state == kAnimatorSkip) return frame;
        }
        return -1;
    };
    ASSERT_GE(walkUntilNear(1200), 0);
    EXPECT_EQ(world.w.f.value("arrivals"), "1");
    EXPECT_TRUE(c->isBusy());
    // The post moves off: the follower sets out again within its update
    // period and arrives by it once more.
    ASSERT_TRUE(world.w.f.lua.load(R"(world:object("post"):teleport("east", 0))"));
    ASSERT_FALSE(nearPost());
    ASSERT_GE(walkUntilNear(1800), 0);
    EXPECT_EQ(world.w.f.value("arrivals"), "2");
}

TEST(CharacterWalk, ATrajectoryIsWalkedPointByPoint) {
    BulletWorlds simulation;
    WalkWorld world;
    ASSERT_NE(world.solid("ground", "floor", 0.0f, -0.5f, 0.0f), nullptr);
    // The route's own pose, then its points; the walker stands by the
    // second leg and walks back along the route to its pose.
    auto route = std::make_unique<Y3Pose_Model>("route");
    route->pose = testing_support::poseAtPoint(0.0f, 0.0f, 0.0f);
    const float points[][3] = {{0, 0, 3}, {3, 0, 3}, {3, 0, 6}, {6, 0, 6}, {9, 0, 6}, {12, 0, 6}};
    for (const auto& p : points) {
        PoseVector3 v;
        std::copy(p, p + 3, v.v);
        route->trajectory.push_back(v);
    }
    ASSERT_TRUE(world.w.scene->addWaypoint(std::move(route)));
    Model* hero = world.walker("hero", 3.0f, 4.5f);
    Character* c = characterOf(hero);
    ASSERT_NE(c, nullptr);
    world.frames(10);
    ASSERT_TRUE(c->go2trajectory("route", 0));
    const float marks[][2] = {{3, 3}, {0, 3}, {0, 0}};
    int reached[3] = {-1, -1, -1};
    for (int frame = 0; frame < 900 && reached[2] < 0; ++frame) {
        world.frames(1);
        for (int i = 0; i < 3; ++i)
            if (reached[i] < 0 && horizontalDistance(*hero, marks[i][0], marks[i][1]) < 0.5f) reached[i] = frame;
    }
    ASSERT_GE(reached[0], 0);
    EXPECT_GT(reached[1], reached[0]);
    EXPECT_GT(reached[2], reached[1]);
}

// The dialog camera modes show the first-person view without handing the
// keys to the player: a scripted walk of the main character moves him.
TEST(CharacterWalk, TheMainCharacterWalksHisScriptedWayInTheDialogModes) {
    for (const int mode : {2, 3}) {
        SCOPED_TRACE(mode);
        BulletWorlds simulation;
        WalkWorld world;
        ASSERT_NE(world.solid("ground", "floor", 0.0f, -0.5f, 0.0f), nullptr);
        Model* hero = world.walker("hero", 0.0f, 0.0f);
        Character* c = characterOf(hero);
        ASSERT_NE(c, nullptr);
        world.frames(20);
        ASSERT_TRUE(gameCore.scene_setMainCharacter(GameObjectLink::fromObject(hero)));
        world.w.point("goal", 4.0f, 0.0f, 0.0f);
        ASSERT_TRUE(world.w.f.lua.load("world.camera = " + std::to_string(mode) + R"(
            world:object("hero"):control():go2waypoint("goal")
        )"));
        ASSERT_EQ(gameCore.cameraMode, mode);
        ASSERT_GE(world.walkUntilResting(*c, 900), 0);
        EXPECT_LT(horizontalDistance(*hero, 4.0f, 0.0f), 0.15f + 0.02f);
    }
}

TEST(CharacterWalk, ForwardHeldForASecondWalksTheMainCharacterWithFootsteps) {
    BulletWorlds simulation;
    testing_support::InputFixture input;
    const int keyboard = input.scripted->addDevice(platform::dinput8::DI8DEVTYPE_KEYBOARD, "Keyboard");
    ASSERT_TRUE(input.input.Initialize());
    input.frame();
    WalkWorld world;
    ASSERT_NE(world.solid("ground", "floor", 0.0f, -0.5f, 0.0f), nullptr);
    Model* hero = world.walker("hero", 0.0f, 0.0f);
    Character* c = characterOf(hero);
    ASSERT_NE(c, nullptr);
    world.frames(20);
    ASSERT_TRUE(gameCore.scene_setMainCharacter(GameObjectLink::fromObject(hero)));
    gameCore.setCameraMode(1, CurrentTime{});
    const float start[3] = {hero->worldMatrix.m[9], hero->worldMatrix.m[10], hero->worldMatrix.m[11]};
    // The first-person view stands at the character's eye.
    EXPECT_NEAR(c->getEyeHeight(false), 0.93f * hero->getEyeHeight(false), 1e-5f);
    double now = 1.0;
    const auto frame = [&] {
        input.poll();
        CurrentTime sample;
        sample.real.time = now;
        input.input.update(sample);
        world.frames(1);
        now += 1.0 / 60.0;
    };
    input.scripted->queue(keyboard, 0, platform::dinput8::DIK_W, 0x80);
    frame();  // the device reads the press
    int footsteps = 0;
    for (int i = 0; i < 60; ++i) {
        const std::uint8_t foot = c->encoder().leftFoot;
        frame();
        if (c->encoder().leftFoot != foot) ++footsteps;
    }
    input.scripted->queue(keyboard, 0, platform::dinput8::DIK_W, 0);
    for (int i = 0; i < 4; ++i) frame();
    EXPECT_EQ(c->getCurrentState("direction"), "none");
    const float dx = hero->worldMatrix.m[9] - start[0], dz = hero->worldMatrix.m[11] - start[2];
    EXPECT_NEAR(std::sqrt(dx * dx + dz * dz), 2.5f, 0.15f);
    EXPECT_NEAR(dx, 2.5f, 0.15f);  // along its facing
    EXPECT_EQ(footsteps, 2);
    EXPECT_NEAR(hero->worldMatrix.m[10], start[1], 0.05f);
}

}  // namespace
