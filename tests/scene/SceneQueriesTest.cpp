// The scene's look-ups over waypoints and models, and its light areas
// placed on trigger waypoints.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "model/Model.h"
#include "scene/CameraFixture.h"
#include "scene/SceneObjectFlags.h"
#include "scene/SceneWriter.h"
#include "support/TestSupport.h"

using testing_support::CameraScene;
using testing_support::poseAt;
using testing_support::ScopedGameCore;

namespace {

template <class Pose>
Pose& addWaypoint(Scene& scene, const char* id, float x, float z) {
    auto pose = std::make_unique<Pose>(id);
    pose->pose = poseAt(x, 0.0f, z);
    Pose& added = *pose;
    scene.addWaypoint(std::move(pose));
    return added;
}

TEST(SceneQueries, WaypointSearchesTakeRunTimePointsForPointKindsOnly) {
    ScopedGameCore core;
    CameraScene world;
    Scene& scene = *world.scene;
    addWaypoint<Y3Pose>(scene, "gate", 1.0f, 0.0f);
    addWaypoint<Y3Pose_Trigger>(scene, "door", 2.0f, 0.0f);
    addWaypoint<Y3Pose_Model>(scene, "guard.1", 8.0f, 0.0f);
    addWaypoint<Y3Pose_Model>(scene, "guard.2", 4.0f, 0.0f);
    ASSERT_TRUE(scene.setDynamicWaypoint("mark", poseAt(5.0f, 0.0f, 0.0f)));
    ASSERT_TRUE(scene.setDynamicWaypoint("door", poseAt(6.0f, 0.0f, 0.0f)));

    struct Case {
        const char* name;
        std::int32_t kind;
        float x;  // of the pose found; 0 for none
    };
    const Case cases[] = {
        {"mark", PosePoint, 5.0f},    {"mark", kPoseAnyKind, 5.0f}, {"mark", PoseModel, 0.0f},
        {"gate", PosePoint, 1.0f},    {"door", PoseTrigger, 2.0f},  {"door", kPoseAnyKind, 6.0f},
        {"door", PosePoint, 6.0f},    {"guard.1", PoseModel, 8.0f}, {"guard.1", PoseCamera, 0.0f},
        {"nobody", kPoseAnyKind, 0.0f},
    };
    for (const Case& c : cases) {
        const Y3Pose* found = scene.searchWaypoints(c.name, c.kind);
        EXPECT_EQ(found ? found->pose.m[9] : 0.0f, c.x) << c.name << " " << c.kind;
    }

    // The nearest point or model waypoint, static or run-time, by prefix.
    const float near[3] = {4.6f, 0.0f, 0.0f};
    EXPECT_STREQ(scene.searchNearestWaypoints("guard", near)->id, "guard.2");
    EXPECT_STREQ(scene.searchNearestWaypoints(nullptr, near)->id, "mark");
    const float far[3] = {20.0f, 0.0f, 0.0f};
    EXPECT_STREQ(scene.searchNearestWaypoints("", far)->id, "guard.1");
    // The run-time point, not the trigger of that name.
    EXPECT_EQ(scene.searchNearestWaypoints("door", far)->pose.m[9], 6.0f);
    EXPECT_EQ(scene.searchNearestWaypoints("gat", near)->pose.m[9], 1.0f);
    EXPECT_EQ(scene.searchNearestWaypoints("nobody", near), nullptr);
}

TEST(SceneQueries, ModelsByLinkByDistanceAndTheirRefreshMark) {
    ScopedGameCore core;
    CameraScene world;
    Scene& scene = *world.scene;
    auto* hero = static_cast<Model*>(scene.createModel("box", "hero", poseAt(0, 0, 0), 0));
    auto* sword = static_cast<Model*>(scene.createModel("box", "sword", poseAt(0, 1, 0), 0));
    auto* near = static_cast<Model*>(scene.createModel("box", "near", poseAt(2, 0, 0), 0));
    auto* far = static_cast<Model*>(scene.createModel("box", "far", poseAt(5, 0, 0), 0));
    ASSERT_TRUE(hero && sword && near && far);

    EXPECT_EQ(scene.findLinkedChild(hero), nullptr);
    sword->link.set(nullptr, hero, matrix34Identity());
    EXPECT_EQ(scene.findLinkedChild(hero), sword);
    EXPECT_EQ(scene.findLinkedChild(near), nullptr);

    // Only models with a head are looked at.
    const float at[3] = {0.0f, 0.0f, 0.0f};
    EXPECT_EQ(scene.findNearestModel(at, hero, 100.0f), nullptr);
    for (Model* model : {hero, near, far}) model->stateWords[0] |= kLookTargetKind | kModelVisible;
    EXPECT_EQ(scene.findNearestModel(at, hero, 100.0f), near);
    EXPECT_EQ(scene.findNearestModel(at, near, 100.0f), hero);
    EXPECT_EQ(scene.findNearestModel(at, hero, 4.0f), nullptr);  // squared distance 4 is not below 4
    EXPECT_EQ(scene.findNearestModel(at, hero, 4.5f), near);

    scene.markModelsDirty();
    for (Model* model : {hero, sword, near, far}) EXPECT_NE(model->stateWords[0] & kModelRefreshFlag, 0u);
}

TEST(SceneQueries, LightAreasTakeTheBoxesOfTheirTriggerWaypoints) {
    ScopedGameCore core;
    CameraScene world;
    Scene& scene = *world.scene;
    scene.lighting.setCameraLightSet("porch", 0, "dusk");
    scene.lighting.setCameraLightSet("cellar", 0, "dark");
    Y3Pose_Trigger& porch = addWaypoint<Y3Pose_Trigger>(scene, "porch", 10.0f, 0.0f);
    const float size[3] = {2.0f, 2.0f, 2.0f};
    std::memcpy(porch.size, size, sizeof(size));
    const float inside[3] = {11.0f, 0.0f, 1.0f};
    EXPECT_EQ(scene.lighting.findAreaContaining(inside), nullptr);
    scene.flags &= ~kSceneLightingDirty;

    scene.placeLightAreasOnWaypoints();
    EXPECT_EQ(scene.lighting.findAreaContaining(inside), scene.lighting.findArea("porch"));
    const float outside[3] = {13.0f, 0.0f, 0.0f};
    EXPECT_EQ(scene.lighting.findAreaContaining(outside), nullptr);
    EXPECT_EQ(scene.flags & kSceneLightingDirty, kSceneLightingDirty);
}

}  // namespace
