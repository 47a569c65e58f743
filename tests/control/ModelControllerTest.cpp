// The model controller: the controllers made by type, the base behaviour of
// every operation with its "not supported" message, the speed table setter
// and the position smoother that follows the model.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <iterator>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "control/BoatControl.h"
#include "control/Character.h"
#include "control/ControllerFixture.h"
#include "control/ModelController.h"
#include "control/PositionController.h"
#include "foundation/DataStream.h"
#include "input/ViewSmoother.h"
#include "scene/CameraFixture.h"

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

// A controller that supplies only the operations every controller must
// have, so that all others keep the base body.
class BareController : public ModelController {
public:
    explicit BareController(Model& owner) : ModelController(owner) {}
    std::int32_t getType() const override { return TypePosition; }
    bool update(const CurrentTime&) override { return true; }
    void moveLocal(const float*, const float*) override {}
    bool setPose(const Matrix34&, double) override { return true; }
    void getOrientation(Matrix33&) const override {}
    void stopSilently() override {}
    void stopTarget() override {}
    void copyControlState(const AnimationControl&) override {}
    void bindAnimationRules(const char*) override {}
    bool isBusy() const override { return false; }
    void onMainCharacter() override {}
    std::int32_t write(DataStream&) override { return 0; }
    std::int32_t read(DataStream&) override { return 0; }
};

// The base body of every operation.
TEST(ModelController, EveryBaseOperationAnswersWithItsMessage) {
    ControllerWorld w;
    Model* post = w.place("post", 1.0f, 2.0f, 3.0f);
    ASSERT_NE(post, nullptr);
    BareController c(*post);
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
        float value = 7.5f;
    };
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const Case cases[] = {
        {hero, 8, true, "Set character [hero] speed [8] to [7.500000]"},
        {hero, 0, true, "Set character [hero] speed [0] to [7.500000]"},
        {hero, 9, false, "Invalid controller speed target type 9"},
        {hero, -1, false, "Invalid controller speed target type -1"},
        {boat, 2, true, "Set boat [boat] speed [2] to [7.500000]"},
        {boat, 7, true, "Set boat [boat] speed [7] to [7.500000]"},
        {boat, 8, true, "Set boat [boat] speed [8] to [7.500000]"},
        {boat, 9, false, "Invalid controller speed target type 9"},
        {hero, 0, false, "Can't set controller speed [0] to [nan]: not a number", nan},
        {boat, 2, false, "Can't set controller speed [2] to [inf]: not a number", inf},
        {post, 0, false, "Invalid controller type"},
        {post, 8, false, "Invalid controller type"},
    };
    for (const Case& c : cases) {
        float heroBefore[Character::kSpeedEntries];
        float boatBefore[BoatControl::kSpeedEntries];
        std::copy(std::begin(character->speeds), std::end(character->speeds), heroBefore);
        std::copy(std::begin(rowboat->speeds), std::end(rowboat->speeds), boatBefore);
        w.log().clear();
        EXPECT_EQ(c.model->controller->setCharacterSpeed(c.index, c.value), c.accepted) << c.message;
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
    EXPECT_TRUE(hero->controller->isBusy());
}

// ---- The position controller

// A base pose whose own axes differ from the world's: x row along world +z,
// y row along world +x, z row along world +y, standing at (1, 2, 3).
Matrix34 turnedPose() {
    Matrix34 pose{};
    const float rows[12] = {0, 0, 1, 1, 0, 0, 0, 1, 0, 1, 2, 3};
    std::copy(rows, rows + 12, pose.m);
    return pose;
}

TEST(PositionController, HeldFlagsMoveTheTargetOffsetWithBackAndRightWinning) {
    struct Case {
        bool forward, back, left, right;
        float x, y;  // sign of the target offset after one frame
    };
    const Case cases[] = {
        {false, false, false, false, 0.0f, 0.0f},
        {true, false, false, false, 0.0f, 1.0f},
        {true, true, false, false, 0.0f, -1.0f},
        {false, false, true, false, -1.0f, 0.0f},
        {false, false, true, true, 1.0f, 0.0f},
        {true, false, false, true, 1.0f, 1.0f},
    };
    for (const Case& c : cases) {
        ControllerWorld w;
        Model* post = w.place("post", 1.0f, 2.0f, 3.0f);
        ASSERT_NE(post, nullptr);
        auto* p = static_cast<PositionController*>(post->setController(ModelController::TypePosition));
        p->setForwardKey(c.forward);
        p->setBackwardKey(c.back);
        p->setLeftKey(c.left);
        p->setRightKey(c.right);
        post->updateFrame(testing_support::frameAt(1.0, 0.1), 0);
        // 0.1 x 150 x 0.005 per held axis; z never moves.
        const float* target = p->offsetSmoother.stages.front().value;
        EXPECT_NEAR(target[0], c.x * 0.075f, 1e-6f) << c.forward << c.back << c.left << c.right;
        EXPECT_NEAR(target[1], c.y * 0.075f, 1e-6f) << c.forward << c.back << c.left << c.right;
        EXPECT_EQ(target[2], 0.0f);
        post->removeController();
    }
}

TEST(PositionController, ForwardHeldSettlesAtTheLimitAlongThePosesOwnAxis) {
    ControllerWorld w;
    Model* post = w.place("post", 1.0f, 2.0f, 3.0f);
    ASSERT_NE(post, nullptr);
    auto* p = static_cast<PositionController*>(post->setController(ModelController::TypePosition));
    // Defaults: limits (3, 2, 0), rates (0.005, 0.005, 0.01), stages 0.3,
    // 0.4 and 0.5 s, the offset at 0.
    ASSERT_EQ(p->offsetSmoother.stages.size(), 3u);
    const float constants[3] = {0.3f, 0.4f, 0.5f};
    for (int i = 0; i < 3; ++i) EXPECT_FLOAT_EQ(p->offsetSmoother.stages[i].timeConstant, constants[i]);
    EXPECT_EQ(p->limits[0], 3.0f);
    EXPECT_EQ(p->limits[1], 2.0f);
    EXPECT_EQ(p->limits[2], 0.0f);
    EXPECT_FLOAT_EQ(post->worldMatrix.m[10], 2.0f);

    // The model hands every new pose to its controller.
    p->setPose(turnedPose(), 0.0);
    p->setForwardKey(true);
    double t = 1.0;
    for (; t < 11.0; t += 0.1) post->updateFrame(testing_support::frameAt(t, 0.1), 0);
    EXPECT_FLOAT_EQ(p->offsetSmoother.stages.front().value[1], 2.0f);
    p->setForwardKey(false);
    for (; t < 21.0; t += 0.1) post->updateFrame(testing_support::frameAt(t, 0.1), 0);
    // 2 along the pose's y row (world +x); rotation as the pose.
    const float expected[12] = {0, 0, 1, 1, 0, 0, 0, 1, 0, 3, 2, 3};
    for (int i = 0; i < 12; ++i) EXPECT_NEAR(post->worldMatrix.m[i], expected[i], 1e-3f) << i;
    // Get pose answers the base pose's rotation, not the moved model's.
    Matrix33 rotation{};
    p->getOrientation(rotation);
    for (int i = 0; i < 9; ++i) EXPECT_EQ(rotation.m[i], expected[i]) << i;

    // Limits from a script bound the offset on each axis; a zero limit pins it.
    ASSERT_TRUE(w.f.lua.load("world:object('post'):control():setLimits(0.5, 0.25, 0)"));
    p->setLeftKey(true);
    p->setBackwardKey(true);
    for (; t < 31.0; t += 0.1) post->updateFrame(testing_support::frameAt(t, 0.1), 0);
    const float* target = p->offsetSmoother.stages.front().value;
    EXPECT_FLOAT_EQ(target[0], -0.5f);
    EXPECT_FLOAT_EQ(target[1], -0.25f);
    EXPECT_EQ(target[2], 0.0f);
}

TEST(PositionController, SaveRecordLeavesTheFlagsOutAndAReadClearsThem) {
    ControllerWorld w;
    Model* post = w.place("post", 1.0f, 2.0f, 3.0f);
    ASSERT_NE(post, nullptr);
    auto* p = static_cast<PositionController*>(post->setController(ModelController::TypePosition));
    p->setPose(turnedPose(), 0.0);
    const float limits[3] = {1.5f, 0.5f, 0.25f};
    p->setLimits(limits);
    p->setForwardKey(true);
    p->setRightKey(true);
    post->updateFrame(testing_support::frameAt(1.0, 0.1), 0);

    MemoryStream first(true);
    const std::int32_t bytes = p->write(first);
    // Pose, limits, the smoother (time, output, count, 3 stages of 24), the
    // reserved words.
    EXPECT_EQ(bytes, 48 + 12 + (8 + 12 + 4 + 3 * 24) + 32);
    ASSERT_EQ(first.size(), bytes);

    Model* other = w.place("other");
    ASSERT_NE(other, nullptr);
    auto* q = static_cast<PositionController*>(other->setController(ModelController::TypePosition));
    q->setBackwardKey(true);
    q->setLeftKey(true);
    first.setPosition(0);
    EXPECT_EQ(q->read(first), bytes);
    EXPECT_FALSE(q->forward || q->back || q->left || q->right);
    for (int i = 0; i < 12; ++i) EXPECT_EQ(q->basePose.m[i], p->basePose.m[i]) << i;
    for (int i = 0; i < 3; ++i) EXPECT_EQ(q->limits[i], limits[i]) << i;
    MemoryStream second(true);
    ASSERT_EQ(q->write(second), bytes);
    // Stage times are cleared by a read; everything else is the same.
    for (std::int32_t i = 0; i < 60; ++i) EXPECT_EQ(second.data()[i], first.data()[i]) << i;

    // A record cut short fails the read; so do a pose or limits that are
    // not numbers.
    MemoryStream cut(first.data(), bytes - 10);
    EXPECT_LT(q->read(cut), 0);
    for (std::int32_t offset : {36, 52}) {
        std::vector<std::uint8_t> damaged(first.data(), first.data() + bytes);
        const float nan = std::numeric_limits<float>::quiet_NaN();
        std::memcpy(damaged.data() + offset, &nan, sizeof(nan));
        MemoryStream in(damaged.data(), bytes);
        w.log().clear();
        EXPECT_LT(q->read(in), 0) << offset;
        EXPECT_TRUE(w.logged("Can't read position controller of [other]: its pose or limits are not numbers"))
            << offset;
    }
    // Nor does a smoother value that is not a number: its time (a double),
    // its output, a stage's constant or value. The refused record leaves
    // the controller as it was.
    for (std::int32_t offset : {60, 68, 84, 92, 136}) {
        std::vector<std::uint8_t> damaged(first.data(), first.data() + bytes);
        if (offset == 60) {
            const double nan = std::numeric_limits<double>::quiet_NaN();
            std::memcpy(damaged.data() + offset, &nan, sizeof(nan));
        } else {
            const float nan = std::numeric_limits<float>::quiet_NaN();
            std::memcpy(damaged.data() + offset, &nan, sizeof(nan));
        }
        MemoryStream in(damaged.data(), bytes);
        w.log().clear();
        EXPECT_LT(q->read(in), 0) << offset;
        EXPECT_TRUE(w.logged("Can't read position controller of [other]: its smoother holds values that are not "
                             "numbers"))
            << offset;
        MemoryStream again(true);
        ASSERT_EQ(q->write(again), bytes);
        for (std::int32_t i = 60; i < bytes; ++i) EXPECT_EQ(again.data()[i], second.data()[i]) << offset << " " << i;
    }
}

TEST(PositionController, TheViewOfItsMainCharacterTakesItsViewOffset) {
    ControllerWorld w;
    Model* post = w.place("post", 5.0f, 0.0f, 5.0f);
    ASSERT_NE(post, nullptr);
    PositionController* p = nullptr;
    {
        auto* made = post->setController(ModelController::TypePosition);
        p = static_cast<PositionController*>(made);
    }
    Matrix34 offset = turnedPose();
    p->addPosition(offset);
    const float expected[12] = {1, 0, 0, 0, 1, 0, 0, 0, 1, 0, -1, 6};
    for (int i = 0; i < 12; ++i) EXPECT_EQ(offset.m[i], expected[i]) << i;

    ASSERT_TRUE(gameCore.scene_setMainCharacterByName("post"));
    ViewSmoother view;
    view.position[0] = 4.0f;
    view.forwardOffset = 0.5f;
    Matrix34 out{};
    view.getViewMatrix(1.0, out);
    EXPECT_EQ(out.m[9], 0.0f);
    EXPECT_EQ(out.m[10], -1.0f);
    EXPECT_EQ(out.m[11], 6.5f);
    view.release();

    // Stop frees the offset smoother; the model then stays where it is.
    post->updateFrame(testing_support::frameAt(1.0, 0.1), 0);
    const Matrix34 before = post->worldMatrix;
    p->detach();
    EXPECT_TRUE(p->offsetSmoother.stages.empty());
    p->setForwardKey(true);
    post->updateFrame(testing_support::frameAt(2.0, 0.1), 0);
    for (int i = 0; i < 12; ++i) EXPECT_EQ(post->worldMatrix.m[i], before.m[i]) << i;
    // Becoming the main character clears the flags.
    p->onMainCharacter();
    EXPECT_FALSE(p->forward);
    post->removeController();
    EXPECT_FALSE(w.logged("Release vector smoother before destructor call"));
}

}  // namespace
