// The automatic camera: the camera list by mask prefix, the choice of the
// nearest candidate, its script events and the flyer.
#include "scene/CameraAuto.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "scene/CameraFixture.h"
#include "script/ScriptEngine.h"
#include "script/ScriptTestFixture.h"

using testing_support::CameraScene;
using testing_support::frameAt;
using testing_support::poseAt;
using testing_support::ScriptFixture;

namespace {

// The labels and first slots of the queued events, then the queue emptied.
std::vector<std::string> takeEvents(ScriptFixture& f) {
    std::vector<std::string> events;
    ScriptEventQueue& queue = f.context().queue;
    while (!queue.empty()) {
        std::unique_ptr<ScriptEventArgs> args = queue.takeFront();
        events.push_back(std::string(args->name) + ":" + (args->function() ? args->function() : ""));
        queue.recycle(std::move(args));
    }
    return events;
}

const std::string kChanged = "CameraAuto camera changed:signal_area_camera_changed";

struct AutoWorld {
    AutoWorld() { gameCore.cameraMode = 10; }  // "3d": the automatic camera
    ScriptFixture f;
    CameraScene world;
    CameraAuto& automatic() { return *world.camera().autoCamera; }
};

TEST(CameraAuto, MaskIsAPrefixAndCaseCounts) {
    AutoWorld w;
    w.world.addCamera("room1.fixed", poseAt(2.0f, 0.0f, 0.0f));
    w.world.addCamera("room1b", poseAt(3.0f, 0.0f, 0.0f));
    w.world.addCamera("Room1.fixed", poseAt(1.0f, 0.0f, 0.0f));
    w.world.addCamera("room2", poseAt(1.0f, 0.0f, 0.0f));
    gameCore.setCameraMask("auto;room1");
    Matrix34 pose;
    ASSERT_TRUE(w.automatic().step(pose, frameAt(0.1, 0.1)));
    std::vector<std::string> listed;
    for (const Y3Pose_Camera* camera : w.automatic().cameras) listed.push_back(camera->id);
    EXPECT_EQ(listed, (std::vector<std::string>{"room1.fixed", "room1b"}));
    EXPECT_STREQ(w.automatic().currentName, "room1.fixed");
    // A ".fixed" camera shows the waypoint's view.
    EXPECT_FLOAT_EQ(pose.m[9], 2.0f);
    EXPECT_FLOAT_EQ(pose.m[8], -1.0f);
}

// A ground volume "2d+<part>:<name>" that holds the main character makes
// "2d><part>:<name>" the prefix of the cameras; outside it the part itself
// is the prefix. In the area mode ("auto") every "2d+" volume counts.
TEST(CameraAuto, VolumesHoldingTheCharacterNameTheCameras) {
    AutoWorld w;
    testing_support::PoseObject& hero = w.world.character();
    auto volume = std::make_unique<Y3Pose_Volume>("2d+hall:left#1");
    volume->pose = poseAt(0.0f, 0.0f, 0.0f);
    for (const auto& corner : {std::array<float, 3>{-5, 0, -5}, {5, 0, -5}, {5, 0, 5}, {-5, 0, 5}}) {
        PoseVector3 point;
        for (int k = 0; k < 3; ++k) point.v[k] = corner[static_cast<std::size_t>(k)];
        volume->polygon.push_back(point);
    }
    w.world.scene->addWaypoint(std::move(volume));
    w.world.addCamera("2d>hall:left.fixed", poseAt(2.0f, 0.0f, 0.0f));
    w.world.addCamera("hall.fixed", poseAt(3.0f, 0.0f, 0.0f));
    const auto listed = [&w] {
        Matrix34 pose;
        EXPECT_TRUE(w.automatic().step(pose, frameAt(0.1, 0.1)));
        std::vector<std::string> names;
        for (const Y3Pose_Camera* camera : w.automatic().cameras) names.push_back(camera->id);
        return names;
    };
    hero.pose = poseAt(1.0f, 0.5f, 2.0f);
    for (const char* mask : {"hall", "auto"}) {
        gameCore.setCameraMask(mask);
        EXPECT_EQ(listed(), std::vector<std::string>{"2d>hall:left.fixed"}) << mask;
        EXPECT_STREQ(w.automatic().mask, "2d>hall:left");
    }
    gameCore.setCameraMask("yard;hall");
    EXPECT_EQ(listed(), std::vector<std::string>{"2d>hall:left.fixed"});
    gameCore.setCameraMask("yard");
    EXPECT_EQ(listed(), std::vector<std::string>{});
    // Too far above the ground, or beside the polygon: outside the volume.
    gameCore.setCameraMask("hall");
    for (const Matrix34& outside : {poseAt(1.0f, 3.0f, 2.0f), poseAt(9.0f, 0.5f, 2.0f)}) {
        hero.pose = outside;
        EXPECT_EQ(listed(), std::vector<std::string>{"hall.fixed"});
    }
}

// A step toward a given target (a model asking whether it stands in a
// camera area) tests that target against the volumes, not the main
// character, and says so in its in-area bit.
TEST(CameraAuto, AGivenTargetStandsInAnAreaOrNot) {
    AutoWorld w;
    w.world.character().pose = poseAt(40.0f, 0.5f, 0.0f);
    auto volume = std::make_unique<Y3Pose_Volume>("2d+hall:left");
    volume->pose = poseAt(0.0f, 0.0f, 0.0f);
    for (const auto& corner : {std::array<float, 3>{-5, 0, -5}, {5, 0, -5}, {5, 0, 5}, {-5, 0, 5}}) {
        PoseVector3 point;
        for (int k = 0; k < 3; ++k) point.v[k] = corner[static_cast<std::size_t>(k)];
        volume->polygon.push_back(point);
    }
    w.world.scene->addWaypoint(std::move(volume));
    w.world.addCamera("2d>hall:left.fixed", poseAt(2.0f, 0.0f, 0.0f));
    w.world.addCamera("hall.fixed", poseAt(3.0f, 0.0f, 0.0f));
    gameCore.setCameraMask("auto;hall");
    Matrix34 pose;
    ASSERT_TRUE(w.automatic().step(pose, frameAt(0.1, 0.1)));
    EXPECT_FALSE(w.automatic().flags & kCameraAutoInArea);
    const Matrix34 inside = poseAt(1.0f, 0.5f, 2.0f);
    ASSERT_TRUE(w.automatic().step(pose, frameAt(0.2, 0.1), &inside));
    EXPECT_TRUE(w.automatic().flags & kCameraAutoInArea);
    EXPECT_STREQ(w.automatic().mask, "2d>hall:left");
    const Matrix34 beside = poseAt(9.0f, 0.5f, 2.0f);
    ASSERT_TRUE(w.automatic().step(pose, frameAt(0.3, 0.1), &beside));
    EXPECT_FALSE(w.automatic().flags & kCameraAutoInArea);
}

TEST(CameraAuto, ChangesRaiseTheirEventExceptFromFlyerToFlyer) {
    AutoWorld w;
    Y3Pose_Camera& a = w.world.addCamera("r.a.flyer", poseAt(3.0f, 0.0f, 0.0f));
    w.world.addCamera("r.b.flyer=2", poseAt(6.0f, 0.0f, 0.0f));
    Y3Pose_Camera& c = w.world.addCamera("s.a.fixed", poseAt(3.0f, 0.0f, 0.0f));
    w.world.addCamera("s.b", poseAt(6.0f, 0.0f, 0.0f));
    w.world.character();
    gameCore.setCameraMask("r.");
    double t = 0.0;
    w.world.camera().update(frameAt(t += 0.1, 0.1));
    EXPECT_EQ(takeEvents(w.f), std::vector<std::string>{kChanged});
    EXPECT_STREQ(w.automatic().currentName, "r.a.flyer");
    w.world.camera().update(frameAt(t += 0.1, 0.1));
    EXPECT_TRUE(takeEvents(w.f).empty());

    a.pose = poseAt(9.0f, 0.0f, 0.0f);
    w.world.camera().update(frameAt(t += 0.1, 0.1));
    EXPECT_STREQ(w.automatic().currentName, "r.b.flyer=2");
    EXPECT_FLOAT_EQ(w.automatic().current.parameter, 2.0f);
    EXPECT_TRUE(takeEvents(w.f).empty());

    // Leaving the flyers, and then between other kinds, raises it.
    gameCore.setCameraMask("s.");
    w.world.camera().update(frameAt(t += 0.1, 0.1));
    EXPECT_STREQ(w.automatic().currentName, "s.a.fixed");
    EXPECT_EQ(takeEvents(w.f), std::vector<std::string>{kChanged});
    c.pose = poseAt(9.0f, 0.0f, 0.0f);
    w.world.camera().update(frameAt(t += 0.1, 0.1));
    EXPECT_STREQ(w.automatic().currentName, "s.b");
    EXPECT_EQ(takeEvents(w.f), std::vector<std::string>{kChanged});

    // A new camera mode reports a change on the next step.
    w.world.camera().restart(false, frameAt(t, 0.0));
    w.world.camera().update(frameAt(t += 0.1, 0.1));
    EXPECT_EQ(takeEvents(w.f), std::vector<std::string>{kChanged});
}

TEST(CameraAuto, PairIsNeverChosenAmongSeveral) {
    AutoWorld w;
    w.world.addCamera("hall.pair", poseAt(1.0f, 0.0f, 0.0f));
    w.world.addCamera("hall.far.fixed", poseAt(8.0f, 0.0f, 0.0f));
    gameCore.setCameraMask("hall");
    Matrix34 pose;
    ASSERT_TRUE(w.automatic().step(pose, frameAt(0.1, 0.1)));
    EXPECT_STREQ(w.automatic().currentName, "hall.far.fixed");

    // Alone in the list it is taken.
    gameCore.setCameraMask("hall.pair");
    ASSERT_TRUE(w.automatic().step(pose, frameAt(0.2, 0.1)));
    EXPECT_STREQ(w.automatic().currentName, "hall.pair");
}

TEST(CameraAuto, LineDistanceRunsToItsPair) {
    AutoWorld w;
    w.world.addCamera("yard.line", poseAt(-10.0f, 0.0f, 5.0f));
    w.world.addCamera("yard.pair", poseAt(10.0f, 0.0f, 5.0f));
    w.world.addCamera("yard.gate", poseAt(0.0f, 0.0f, 6.0f));
    gameCore.setCameraMask("yard");
    Matrix34 pose;
    ASSERT_TRUE(w.automatic().step(pose, frameAt(0.1, 0.1)));
    // The segment passes 5 units from the character; the gate is 6 away.
    EXPECT_STREQ(w.automatic().currentName, "yard.line");
    EXPECT_FLOAT_EQ(w.automatic().bestDistance, 5.0f);
    EXPECT_FLOAT_EQ(pose.m[11], 5.0f);
    EXPECT_NEAR(pose.m[9], 0.0f, 1e-4f);
}

TEST(CameraAuto, EmptyMaskOrNoWaypointsFailTheStep) {
    AutoWorld w;
    for (const char* mask : {"", "auto"}) {
        gameCore.setCameraMask(mask);
        w.world.camera().update(frameAt(0.1, 0.1));
        EXPECT_TRUE(w.f.logged("AutoCamera mask MUST be defined. NOW MASK IS EMPTY.")) << mask;
        w.f.log().clear();
    }
    gameCore.setCameraMask("room");
    Matrix34 pose;
    EXPECT_FALSE(w.automatic().step(pose, frameAt(0.2, 0.1)));
    EXPECT_TRUE(w.f.logged("CameraAuto: Waypoint not loaded. Fail to build current camera's list"));
}

TEST(CameraAuto, CursorHintChangesAreSignalled) {
    AutoWorld w;
    w.world.addCamera("room", poseAt(1.0f, 0.0f, 0.0f));
    gameCore.setCameraMask("room");
    Matrix34 pose;
    w.automatic().step(pose, frameAt(0.1, 0.1));
    takeEvents(w.f);
    w.automatic().flags |= kCameraAutoHint;
    w.automatic().step(pose, frameAt(0.2, 0.1));
    EXPECT_EQ(takeEvents(w.f),
              std::vector<std::string>{"CameraAuto cursor hint signal:signal_cursor_hint_leave"});
    w.automatic().flags &= ~kCameraAutoHint;
    w.automatic().step(pose, frameAt(0.3, 0.1));
    EXPECT_EQ(takeEvents(w.f),
              std::vector<std::string>{"CameraAuto cursor hint signal:signal_cursor_hint_enter"});
}

TEST(CameraAuto, FlyerFollowsBehindTheCharacter) {
    AutoWorld w;
    testing_support::PoseObject& hero = w.world.character();
    gameCore.setCameraMask("nothing-matches");
    w.world.addCamera("other", poseAt(1.0f, 0.0f, 0.0f));
    Matrix34 pose;
    ASSERT_TRUE(w.automatic().step(pose, frameAt(0.1, 0.1)));
    // No camera in the list: the built-in flyer, behind the character
    // (its third axis is the facing) at flyer_max_distance x flyer_offset,
    // above it at eye height, then moved back by its parameter.
    EXPECT_STREQ(w.automatic().currentName, "flyer_camera");
    const float distance = std::hypot(pose.m[9], pose.m[11]);
    EXPECT_GT(distance, 1.5f);
    EXPECT_LT(distance, 2.5f);
    EXPECT_NEAR(pose.m[9], 0.0f, 1e-4f);
    EXPECT_LT(pose.m[11], 0.0f);
    EXPECT_GT(pose.m[10], 1.0f);
    // The character walks away: the flyer is pulled after it.
    for (int i = 1; i <= 30; ++i) {
        hero.pose.m[11] = 0.2f * static_cast<float>(i);
        w.automatic().step(pose, frameAt(0.1 + 0.1 * i, 0.1));
    }
    EXPECT_GT(pose.m[11], 2.0f);
    EXPECT_LT(pose.m[11], hero.pose.m[11]);
}


TEST(CameraAuto, PlainCameraTurnsToTheCharacterAndKeepsItsTilt) {
    AutoWorld w;
    // Looking along +z and 30 degrees down, with a parameter of 2.
    Matrix34 pose = poseAt(10.0f, 3.0f, 0.0f);
    const float s = 0.5f, c = 0.8660254f;
    const float axes[9] = {1, 0, 0, 0, c, s, 0, -s, c};
    for (int i = 0; i < 9; ++i) pose.m[i] = axes[i];
    w.world.addCamera("room=2", pose);
    gameCore.setCameraMask("room");
    Matrix34 out;
    ASSERT_TRUE(w.automatic().step(out, frameAt(0.1, 0.1)));
    // Its view (minus the third axis) turns toward the character at the
    // origin and still falls by 30 degrees; then it backs off by 2.
    EXPECT_NEAR(out.m[6], c, 1e-4f);
    EXPECT_NEAR(out.m[7], s, 1e-4f);
    EXPECT_NEAR(out.m[8], 0.0f, 1e-4f);
    EXPECT_NEAR(out.m[9], 10.0f + 2.0f * c, 1e-4f);
    EXPECT_NEAR(out.m[10], 3.0f + 2.0f * s, 1e-4f);
}

}  // namespace
