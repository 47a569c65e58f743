// The bone tracker on small characters in a scene: whom a character looks
// at, how far its head turns (hands, angle limit, the camera) and which
// bones are tracked, through the model's per-frame passes as the scene
// runs them.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "animation/AnimationCore.h"
#include "animation/AnimationTestSupport.h"
#include "animation/AnimationTracker.h"
#include "animation/ModelAnimation.h"
#include "control/ControllerFixture.h"
#include "control/ModelController.h"
#include "control/PathGridDataManager.h"
#include "control/PhysicsCore.h"
#include "control/PhysicsTestBackend.h"
#include "control/PhysicsTestPackage.h"
#include "foundation/IniFile.h"
#include "foundation/TimeCore.h"
#include "model/Model.h"
#include "render/RenderCore.h"
#include "scene/CameraFixture.h"
#include "support/TestSupport.h"

namespace {

using testing_support::CameraScene;

std::string trackerAnimations() {
    using namespace animation_tests;
    return stillAnimation("looker.still") + lookerMap("looker") + lookerMap("near") + lookerMap("mid") +
           lookerMap("stiff", "0");
}

Matrix34 placedAt(float x, float z) {
    Matrix34 pose = matrix34Identity();
    pose.m[9] = x;
    pose.m[11] = z;
    return pose;
}

class AnimationTrackerTest : public ::testing::Test {
protected:
    ~AnimationTrackerTest() override { trackerSettings = TrackerSettings(); }

    // A character placed in the scene and pushed, playing its still loop;
    // on screen as the culling leaves it.
    Model* place(const char* name, const char* resource, float x, float z = 0.0f) {
        auto* model = static_cast<Model*>(world.scene->createModel(resource, name, placedAt(x, z), 0));
        EXPECT_NE(model, nullptr) << name;
        if (!model) return nullptr;
        EXPECT_TRUE(model->push());
        EXPECT_TRUE(model->playSequence("[looker.still]"));
        model->stateWords[0] |= kModelDrawnThisFrame;
        return model;
    }
    void move(Model& model, float x, float z = 0.0f) { model.setWorldMatrix(placedAt(x, z)); }
    // Seconds of frames through slots 15, 16 and 17 of every model.
    void run(double seconds) {
        for (double t = 0.0; t < seconds; t += 0.04) {
            const CurrentTime time(0.04);
            for (Model* model : models) model->prepareFrame(time, 0);
            for (Model* model : models) model->updateFrame(time, 0);
            for (Model* model : models) model->updateTracking(time);
        }
    }
    static SkeletonBone& head(Model& model) {
        const std::int32_t index = model.findBone("bip01 head");
        EXPECT_GE(index, 0);
        return model.animation.skeleton.bones.at(static_cast<std::size_t>(std::max(index, 0)));
    }
    // The head's turn away from its rest, in radians.
    static double turn(Model& model) {
        const Quaternion& q = head(model).local.rotation;
        return 2.0 * std::acos(std::fmin(1.0, std::fabs(double(q.w))));
    }
    // The horizontal direction the head faces (its +z axis), x component.
    static float facingX(Model& model) { return head(model).world.m[6]; }
    // Start-up's read of the settings with one key of section "tracker" set.
    void setTracker(const char* key, const char* value) {
        settings.getCategory("tracker").getVariable(key).setString(value);
        ASSERT_TRUE(animations.initialize());
    }

    testing_support::ScopedGameCore core;
    IniFile settings;
    testing_support::ScopedCoreMember<IniFile> useSettings{gameCore.settings, &settings};
    RenderCore render;
    testing_support::ScopedCoreMember<RenderCore> useRender{gameCore.render, &render};
    AnimationCore animations;
    testing_support::ScopedCoreMember<AnimationCore> useAnimations{gameCore.animation, &animations};
    CameraScene world{{animation_tests::lookerModel("looker", "0.5"), animation_tests::lookerModel("near", "0.3"),
                       animation_tests::lookerModel("mid", "0.375"), animation_tests::lookerModel("stiff", "0.5")},
                      animation_tests::animationFiles(trackerAnimations())};
    std::vector<Model*> models;
};

TEST_F(AnimationTrackerTest, TheMainCharacterCloseByIsLookedAtElseTheNearestModel) {
    Model* looker = place("looker1", "looker", 0.0f);
    Model* main = place("main", "looker", 1.5f);
    Model* other = place("other", "looker", -1.0f);
    ASSERT_TRUE(looker && main && other);
    models = {looker, main, other};
    ASSERT_TRUE(world.scene->setMainCharacter(GameObjectLink::fromObject(main)));
    ASSERT_FALSE(looker->animation.skeleton.tracked.empty());

    run(0.2);
    const float* target = looker->animation.tracker.target;
    ASSERT_TRUE(looker->animation.tracker.hasTarget);
    EXPECT_TRUE(looker->animation.tracker.automaticTarget);
    // The main character's head, 1.5 units away.
    EXPECT_NEAR(target[0], 1.5f, 1e-4f);
    EXPECT_NEAR(target[1], 1.6f, 1e-4f);

    move(*main, 3.0f);
    run(0.2);
    EXPECT_NEAR(target[0], -1.0f, 1e-4f);  // the nearest model's head
    EXPECT_NEAR(target[1], 1.6f, 1e-4f);
    run(3.0);
    EXPECT_LT(facingX(*looker), -0.3f);  // the head turned towards it
    // Each new model looked at is named once in the log.
    for (const char* line : {"Object [looker1] looks at [main]", "Object [looker1] looks at [other]"}) {
        std::size_t lines = 0;
        for (const LogRecord& record : core.log().records()) lines += record.text.find(line) != std::string::npos;
        EXPECT_EQ(lines, 1u) << line;
    }

    // Off screen there is no target.
    looker->stateWords[0] &= ~kModelDrawnThisFrame;
    run(0.04);
    EXPECT_FALSE(looker->animation.tracker.hasTarget);
}

TEST_F(AnimationTrackerTest, ABoneWithoutTrackerWeightIsNeverTurned) {
    Model* stiff = place("stiff1", "stiff", 0.0f);
    Model* main = place("main", "looker", 1.2f);
    ASSERT_TRUE(stiff && main);
    models = {stiff, main};
    ASSERT_TRUE(world.scene->setMainCharacter(GameObjectLink::fromObject(main)));
    EXPECT_EQ(head(*stiff).tracked, -1);
    EXPECT_TRUE(stiff->animation.skeleton.tracked.empty());
    run(3.0);
    EXPECT_EQ(turn(*stiff), 0.0);
}

TEST_F(AnimationTrackerTest, HandsCloseToTheHeadHoldItsTurn) {
    // Each character has the main character 1.2 units to its right.
    Model* far = place("far", "looker", 0.0f, 0.0f);
    Model* mid = place("mid1", "mid", 0.0f, 10.0f);
    Model* near = place("near1", "near", 0.0f, 20.0f);
    Model* main = place("main", "looker", 1.2f, 0.0f);
    Model* second = place("second", "looker", 1.2f, 10.0f);
    Model* third = place("third", "looker", 1.2f, 20.0f);
    ASSERT_TRUE(far && mid && near && main && second && third);
    models = {far, mid, near, main, second, third};
    run(6.0);
    const double full = turn(*far);
    EXPECT_GT(full, 0.5);  // near half of the quarter turn the wander leaves
    EXPECT_GT(facingX(*far), 0.5f);
    EXPECT_NEAR(turn(*mid), full / 2.0, 0.03);
    EXPECT_LT(turn(*near), 0.02);  // the wander alone
}

TEST_F(AnimationTrackerTest, ATurnPastTheAngleLimitLeavesTheBone) {
    Model* looker = place("looker1", "looker", 0.0f);
    // Behind and a little to the right, within 1.5 units of the head.
    Model* main = place("main", "looker", 0.3f, -1.0f);
    ASSERT_TRUE(looker && main);
    models = {looker, main};
    ASSERT_TRUE(world.scene->setMainCharacter(GameObjectLink::fromObject(main)));
    run(4.0);
    ASSERT_TRUE(looker->animation.tracker.hasTarget);
    EXPECT_LT(turn(*looker), 0.02);
    // A wider limit lets it turn.
    setTracker("angle_limit", "0.6");
    run(4.0);
    EXPECT_GT(turn(*looker), 1.0);
}

TEST_F(AnimationTrackerTest, ANegativeLookDistanceLooksAtTheCamera) {
    Model* looker = place("looker1", "looker", 0.0f);
    Model* main = place("main", "looker", -1.2f);
    ASSERT_TRUE(looker && main);
    models = {looker, main};
    ASSERT_TRUE(world.scene->setMainCharacter(GameObjectLink::fromObject(main)));
    run(3.0);
    EXPECT_LT(facingX(*looker), -0.5f);  // at the main character on its left
    // The camera stands at +x with its third axis along -x: the point looked
    // at lies 100 units behind it, far to the right.
    Matrix34 pose = matrix34Identity();
    const float rows[9] = {0, 0, 1, 0, 1, 0, -1, 0, 0};
    std::copy(rows, rows + 9, pose.m);
    pose.m[9] = 3.0f;
    world.camera().pose = pose;
    looker->interestDistance = -1.0f;
    run(3.0);
    EXPECT_GT(facingX(*looker), 0.5f);
}

TEST_F(AnimationTrackerTest, TheSmoothersRestartOnlyWhenAResetTimeIsSet) {
    Model* looker = place("looker1", "looker", 0.0f);
    Model* main = place("main", "looker", 1.2f);
    ASSERT_TRUE(looker && main);
    models = {looker, main};
    for (const char* resetTime : {"0", "0.5"}) {
        SCOPED_TRACE(resetTime);
        setTracker("tracker_reset_time", resetTime);
        // The head has turned towards the main character.
        run(3.0);
        const double turned = turn(*looker);
        ASSERT_GT(turned, 0.3);
        // A second instance blending in over 0.1 s.
        ASSERT_TRUE(looker->playSequence("0.1[looker.still]"));
        run(0.04);
        const bool reset = (looker->animation.flags & kAnimationTrackerReset) != 0;
        EXPECT_EQ(reset, std::string(resetTime) != "0");
        // The next update restarts a reset smoother from the animated
        // (unturned) pose; otherwise the head keeps its turn.
        run(0.04);
        if (reset) EXPECT_LT(turn(*looker), 0.5 * turned);
        else EXPECT_GT(turn(*looker), 0.8 * turned);
    }
    EXPECT_FLOAT_EQ(trackerSettings.resetTime, 0.5f);
    EXPECT_TRUE(settings.getCategory("tracker").findVariable("head_PhaseY.z"));
}

// A character walking alone, with nobody to look at: its head follows the
// point its controller looks at (one unit ahead on its way) when
// "trace_controller_target" says so, and has no target otherwise.
TEST(AnimationTrackerWalk, AWalkerAloneFollowsItsControllersLookPointWhenAsked) {
    for (const char* trace : {"no", "yes"}) {
        SCOPED_TRACE(trace);
        struct Defaults {
            ~Defaults() { trackerSettings = TrackerSettings(); }
        } defaults;
        testing_support::ScopedGameCore core;
        testing_support::TestBackend backend;
        RenderCore render;
        testing_support::ScopedCoreMember<RenderCore> useRender{gameCore.render, &render};
        AnimationCore animations;
        testing_support::ScopedCoreMember<AnimationCore> useAnimations{gameCore.animation, &animations};
        PhysicsCore physics;
        testing_support::ScopedCoreMember<PhysicsCore> usePhysics{gameCore.physics, &physics};
        PathGridDataManager grids;
        testing_support::ScopedCoreMember<PathGridDataManager> useGrids{gameCore.pathGrids, &grids};
        std::vector<testing_support::FixtureFile> files =
            model_test::modelFiles(animation_tests::lookerModel("looker", "0.5"));
        for (auto& file : animation_tests::animationFiles(trackerAnimations())) files.push_back(file);
        for (auto& file : testing_support::physicsPackage(
                              "model walker\nactor capsule body flags controller height 1.8 radius 0.3\n"
                              "model floor\nactor box ground flags static group 0 size 20 0.5 20\n")
                              .files)
            files.push_back(file);
        testing_support::ControllerWorld w{files};
        // Start-up's read of the settings the scene's world holds.
        ASSERT_NE(gameCore.settings, nullptr);
        gameCore.settings->getCategory("tracker").getVariable("trace_controller_target").setString(trace);
        ASSERT_TRUE(animations.initialize());
        w.place("floor", 0.0f, 0.0f, 0.0f)->attachPhysics("floor");
        auto* hero = static_cast<Model*>(w.scene->createModel("looker", "hero", placedAt(0.0f, 0.0f), 0));
        ASSERT_NE(hero, nullptr);
        ASSERT_TRUE(hero->push());
        hero->setWorldMatrix(testing_support::poseAtPoint(0.0f, 1.25f, 0.0f));
        hero->attachPhysics("walker");
        ASSERT_NE(hero->controller, nullptr);
        ASSERT_FALSE(hero->animation.skeleton.tracked.empty());
        w.point("far", 6.0f, 0.0f, 0.0f);
        ASSERT_TRUE(hero->controller->go2waypoint("far", false));
        for (int i = 0; i < 30; ++i) {
            w.scene->updatePhase0(CurrentTime(1.0 / 60.0), 0);
            w.scene->updatePhase1(CurrentTime(1.0 / 60.0), 0);
        }
        // The tracking slot of a frame in which the walker is on screen (as
        // the culling leaves it).
        hero->stateWords[0] |= kModelDrawnThisFrame;
        hero->updateTracking(CurrentTime(1.0 / 60.0));
        const BoneTrackerState& tracker = hero->animation.tracker;
        if (std::string(trace) == "no") {
            EXPECT_FALSE(tracker.hasTarget);
            continue;
        }
        ASSERT_TRUE(tracker.hasTarget);
        EXPECT_TRUE(tracker.automaticTarget);
        // One unit ahead of the walker, towards the waypoint.
        EXPECT_NEAR(tracker.target[0], hero->worldMatrix.m[9] + 1.0f, 0.05f);
        EXPECT_NEAR(tracker.target[2], hero->worldMatrix.m[11], 0.05f);
    }
}

}  // namespace
