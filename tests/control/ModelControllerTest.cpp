// The model controller: the controllers made by type, the base behaviour of
// every operation with its "not supported" message, the speed table setter
// and the position smoother that follows the model.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <iterator>
#include <memory>
#include <string>

#include "control/BoatControl.h"
#include "control/Character.h"
#include "control/ControllerFixture.h"
#include "control/ModelController.h"
#include "control/PositionController.h"

using testing_support::ControllerWorld;

namespace {

TEST(ModelController, CreateMakesTheThreeTypesAndNothingElse) {
    ControllerWorld w;
    Model* boat = w.place("boat", 3.0f, 1.0f, -2.0f);
    ASSERT_NE(boat, nullptr);
    w.log().clear();
    for (std::int32_t type : {0, 4, -1, 99}) {
        EXPECT_EQ(ModelController::create(*boat, type), nullptr) << type;
        EXPECT_EQ(boat->setController(type), nullptr) << type;
        EXPECT_FALSE(boat->stateWords[0] & kModelHasController);
    }
    EXPECT_TRUE(w.log().records().empty());
    struct Case {
        std::int32_t type;
        std::function<bool(ModelController*)> isClass;
    };
    const Case cases[] = {
        {1, [](ModelController* c) { return dynamic_cast<Character*>(c) != nullptr; }},
        {2, [](ModelController* c) { return dynamic_cast<BoatControl*>(c) != nullptr; }},
        {3, [](ModelController* c) { return dynamic_cast<PositionController*>(c) != nullptr; }},
    };
    for (const Case& c : cases) {
        ModelController* made = boat->setController(c.type);
        ASSERT_NE(made, nullptr) << c.type;
        EXPECT_EQ(made->getType(), c.type);
        EXPECT_TRUE(c.isClass(made)) << c.type;
        EXPECT_EQ(&made->owner(), boat);
        EXPECT_TRUE(boat->stateWords[0] & kModelHasController);
        // The smoother starts at the model's position: two stages, 0.05 s
        // and 0.10 s.
        ASSERT_EQ(made->positionSmoother.stages.size(), 2u);
        EXPECT_FLOAT_EQ(made->positionSmoother.stages[0].timeConstant, 0.05f);
        EXPECT_FLOAT_EQ(made->positionSmoother.stages[1].timeConstant, 0.10f);
        EXPECT_FLOAT_EQ(made->positionSmoother.output[0], 3.0f);
        EXPECT_FLOAT_EQ(made->positionSmoother.output[1], 1.0f);
        EXPECT_FLOAT_EQ(made->positionSmoother.output[2], -2.0f);
    }
    // The main character's controller is the model's.
    ASSERT_TRUE(gameCore.scene_setMainCharacterByName("boat"));
    EXPECT_EQ(gameCore.scene_getMainController(), boat->controller.get());
    boat->removeController();
    EXPECT_EQ(boat->controller, nullptr);
    EXPECT_FALSE(boat->stateWords[0] & kModelHasController);
    EXPECT_EQ(gameCore.scene_getMainController(), nullptr);
    // Releasing a controller leaves no smoother behind.
    EXPECT_FALSE(w.logged("Release vector smoother before destructor call"));
}

// The base body of every operation, through a position controller, which
// supplies none of its own.
TEST(ModelController, EveryBaseOperationAnswersWithItsMessage) {
    ControllerWorld w;
    Model* post = w.place("post", 1.0f, 2.0f, 3.0f);
    ASSERT_NE(post, nullptr);
    ModelController& c = *post->setController(ModelController::TypePosition);
    Matrix34 matrix = matrix34Identity();
    const float limits[3] = {1.0f, 2.0f, 3.0f};
    struct Case {
        const char* slot;
        std::function<std::string()> call;
        const char* result;
        const char* message;  // "" when the operation logs nothing
    };
    auto flag = [](bool value) { return std::string(value ? "true" : "false"); };
    auto none = [](std::function<void()> f) {
        return [f] {
            f();
            return std::string("-");
        };
    };
    const Case cases[] = {
        {"isCrouch", [&] { return flag(c.isCrouch()); }, "false", ""},
        {"isItem", [&] { return flag(c.isItem()); }, "false", ""},
        {"isRun", [&] { return flag(c.isRun()); }, "false", ""},
        {"detach", none([&] { c.detach(); }), "-", ""},
        {"setEvent", [&] { return flag(c.setEvent("onmovedone", "f")); }, "false",
         "Controller not support optional EVENTS"},
        {"onActionDone", [&] { return flag(c.onActionDone("open")); }, "true", ""},
        {"getCurrentState", [&] { return "[" + c.getCurrentState("action") + "]"; }, "[]",
         "Controller NOT support getCUrrentState()"},
        {"run", none([&] { c.run(1); }), "-", "Controller NOT support RUN"},
        {"EyeGET", [&] { return flag(c.EyeGET(matrix)); }, "false", "Controller NOT support EyeGET method()"},
        {"stay", [&] { return flag(c.stay()); }, "false", "Controller NOT support NONE target type"},
        {"go2waypoint", [&] { return flag(c.go2waypoint("a", true)); }, "false",
         "Controller NOT support WAYPOINT target type"},
        {"follow2model", [&] { return flag(c.follow2model("hero", 1.0f, 2.0f)); }, "false",
         "Controller NOT support FOLLOW target type"},
        {"go2trajectory", [&] { return flag(c.go2trajectory("route", 1)); }, "false",
         "Controller NOT support TRAJECTORY target type"},
        {"onPush", [&] { return flag(c.onPush()); }, "true", ""},
        {"onPop", [&] { return flag(c.onPop()); }, "true", ""},
        {"getEyeHeight", [&] { return std::to_string(c.getEyeHeight(true)); }, "0.000000", ""},
        {"addPosition", [&] {
             c.addPosition(matrix);
             return std::to_string(matrix.m[9] + matrix.m[10] + matrix.m[11]);
         }, "0.000000", ""},
        {"setLimits", none([&] { c.setLimits(limits); }), "-", ""},
        {"resetInput", none([&] { c.resetInput(); }), "-", ""},
        {"onLookMotion", none([&] { c.onLookMotion(1.0f, -1.0f, 0.5f); }), "-", ""},
        {"keys", none([&] {
             c.setForwardKey(true);
             c.setBackwardKey(true);
             c.setLeftKey(true);
             c.setRightKey(false);
         }), "-", ""},
        {"stance", none([&] {
             c.flipCrouch();
             c.flipItem();
             c.setCrouch(true);
             c.setItem(true);
         }), "-", ""},
        {"running", none([&] {
             c.stopRun();
             c.setRun(true);
             c.flipRun();
             c.setAutoWalk(false);
             c.reserved();
         }), "-", ""},
    };
    for (const Case& k : cases) {
        w.log().clear();
        EXPECT_EQ(k.call(), k.result) << k.slot;
        const auto records = w.log().records();
        if (k.message[0]) {
            ASSERT_EQ(records.size(), 1u) << k.slot;
            EXPECT_EQ(records[0].text, k.message) << k.slot;
        } else {
            EXPECT_TRUE(records.empty()) << k.slot;
        }
    }
    // The do-nothing operations changed nothing a script can see.
    EXPECT_FALSE(c.isCrouch() || c.isItem() || c.isRun());
}

TEST(ModelController, SpeedTableAcceptsItsRangeByControllerType) {
    ControllerWorld w;
    Model* hero = w.place("hero");
    Model* boat = w.place("boat");
    Model* post = w.place("post");
    ASSERT_TRUE(hero && boat && post);
    auto* character = static_cast<Character*>(hero->setController(1));
    auto* rowboat = static_cast<BoatControl*>(boat->setController(2));
    post->setController(3);
    struct Case {
        Model* model;
        std::int32_t index;
        bool accepted;
        const char* message;
    };
    const Case cases[] = {
        {hero, 8, true, "Set character [hero] speed [8] to [7.500000]"},
        {hero, 0, true, "Set character [hero] speed [0] to [7.500000]"},
        {hero, 9, false, "Invalid controller speed target type 9"},
        {hero, -1, false, "Invalid controller speed target type -1"},
        {boat, 2, true, "Set boat [boat] speed [2] to [7.500000]"},
        {boat, 7, true, "Set boat [boat] speed [7] to [7.500000]"},
        // A boat's table has eight entries: index 8 would lie past it.
        {boat, 8, false, "Invalid controller speed target type 8"},
        {post, 0, false, "Invalid controller type"},
        {post, 8, false, "Invalid controller type"},
    };
    for (const Case& c : cases) {
        float heroBefore[Character::kSpeedEntries];
        float boatBefore[BoatControl::kSpeedEntries];
        std::copy(std::begin(character->speeds), std::end(character->speeds), heroBefore);
        std::copy(std::begin(rowboat->speeds), std::end(rowboat->speeds), boatBefore);
        w.log().clear();
        EXPECT_EQ(c.model->controller->setCharacterSpeed(c.index, 7.5f), c.accepted) << c.message;
        EXPECT_TRUE(w.logged(c.message)) << c.message;
        // A refusal writes the script's call position; a success does not.
        EXPECT_EQ(w.logged("------------------"), !c.accepted) << c.message;
        for (std::int32_t i = 0; i < Character::kSpeedEntries; ++i) {
            const bool stored = c.accepted && c.model == hero && i == c.index;
            EXPECT_FLOAT_EQ(character->speeds[i], stored ? 7.5f : heroBefore[i]) << c.message << " " << i;
        }
        for (std::int32_t i = 0; i < BoatControl::kSpeedEntries; ++i) {
            const bool stored = c.accepted && c.model == boat && i == c.index;
            EXPECT_FLOAT_EQ(rowboat->speeds[i], stored ? 7.5f : boatBefore[i]) << c.message << " " << i;
        }
    }
}

// Direct control: only a character is directed; with the waypoint flag a
// model waypoint's own sequence is appended, anything else is reported.
TEST(ModelController, DirectControlTargetsAreForCharactersOnly) {
    ControllerWorld w;
    auto bench = std::make_unique<Y3Pose_Model>("bench");
    std::snprintf(bench->animation, sizeof(bench->animation), "%s", "[sit_down]");
    w.scene->addWaypoint(std::move(bench));
    w.point("spot", 1.0f, 0.0f, 1.0f);
    Model* hero = w.place("hero");
    ASSERT_NE(hero, nullptr);
    EXPECT_FALSE(hero->checkDirectControlTarget("bench", true));
    hero->setController(ModelController::TypeBoat);
    EXPECT_FALSE(hero->checkDirectControlTarget("bench", true));
    EXPECT_TRUE(hero->animation.body().instances().empty());

    hero->setController(ModelController::TypeCharacter);
    w.log().clear();
    EXPECT_TRUE(hero->checkDirectControlTarget("bench", true));
    // The waypoint's sequence reached the animation stack (the test
    // packages hold no such animation).
    EXPECT_TRUE(w.logged("Can't load animation [sit_down] data"));
    EXPECT_FALSE(w.logged("for direct control target"));
    EXPECT_TRUE(hero->checkDirectControlTarget("spot", true));
    EXPECT_TRUE(w.logged("Model [hero]: Expected model waypoint destination (spot) for direct control target"));
    EXPECT_TRUE(hero->checkDirectControlTarget("nowhere", true));
    EXPECT_TRUE(w.logged("Model [hero]: Expected model waypoint destination (nowhere) for direct control target"));
    // Without the flag the controller is sent to the target.
    w.log().clear();
    EXPECT_TRUE(hero->checkDirectControlTarget("bench", false));
    EXPECT_TRUE(w.logged("Controller NOT support WAYPOINT target type"));
}

}  // namespace
