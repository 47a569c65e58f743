// The scene's look-ups over waypoints and models, and its light areas
// placed on trigger waypoints.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "app/SceneLoadFixture.h"
#include "foundation/DataStream.h"
#include "game/WaypointDataManager.h"
#include "model/Model.h"
#include "scene/CameraFixture.h"
#include "scene/SceneObjectFlags.h"
#include "scene/SceneWriter.h"
#include "support/PackageFixture.h"
#include "support/TestSupport.h"

using testing_support::CameraScene;
using testing_support::poseAt;
using testing_support::ScopedGameCore;

namespace {

// A scene loaded by the game whose waypoint resource holds the set.
class WaypointScene {
public:
    explicit WaypointScene(const scene_tools::WaypointSet& set) {
        MemoryStream compiled(true);
        EXPECT_GT(set.writeCompiled(compiled), 0);
        testing_support::FixturePackage package;
        package.files = {{".wp", "quay",
                          std::string(reinterpret_cast<const char*>(compiled.data()),
                                      static_cast<std::size_t>(compiled.size())),
                          ""}};
        EXPECT_TRUE(testing_support::writeDataRoot(dir_.path(), {package}));
        EXPECT_TRUE(packages_.build());
        load_ = std::make_unique<testing_support::SceneLoadFixture>();
        load_->game->flags |= kSaveGameLoadAllowed;
        load_->game->loadScene("quay");
    }
    ~WaypointScene() { load_.reset(); }

    Scene* scene() const { return gameCore.currentScene(); }
    bool logged(const std::string& text) { return load_->logged(text); }

private:
    testing_support::TempDir dir_;
    testing_support::ScopedPackageDatabase packages_{dir_.path()};
    WaypointDataManager waypoints_;
    testing_support::ScopedCoreMember<WaypointDataManager> use_{gameCore.waypoints, &waypoints_};
    std::unique_ptr<testing_support::SceneLoadFixture> load_;
};

TEST(SceneQueries, WaypointSearchesTakeRunTimePointsForPointKindsOnly) {
    scene_tools::WaypointSet set;
    set.add(PosePoint, "gate", poseAt(1.0f, 0.0f, 0.0f));
    set.add(PoseTrigger, "door", poseAt(2.0f, 0.0f, 0.0f));
    set.add(PoseModel, "guard.1", poseAt(8.0f, 0.0f, 0.0f));
    set.add(PoseModel, "guard.2", poseAt(4.0f, 0.0f, 0.0f));
    WaypointScene world(set);
    ASSERT_NE(world.scene(), nullptr);
    Scene& scene = *world.scene();
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
    scene_tools::WaypointSet set;
    auto& porch = static_cast<Y3Pose_Trigger&>(set.add(PoseTrigger, "porch", poseAt(10.0f, 0.0f, 0.0f)));
    const float size[3] = {2.0f, 2.0f, 2.0f};
    std::memcpy(porch.size, size, sizeof(size));
    WaypointScene world(set);
    ASSERT_NE(world.scene(), nullptr);
    Scene& scene = *world.scene();
    scene.lighting.setCameraLightSet("porch", 0, "dusk");
    scene.lighting.setCameraLightSet("cellar", 0, "dark");
    const float inside[3] = {11.0f, 0.0f, 1.0f};
    EXPECT_EQ(scene.lighting.findAreaContaining(inside), nullptr);
    scene.flags &= ~kSceneLightingDirty;

    scene.placeLightAreasOnWaypoints();
    EXPECT_EQ(scene.lighting.findAreaContaining(inside), scene.lighting.findArea("porch"));
    const float outside[3] = {13.0f, 0.0f, 0.0f};
    EXPECT_EQ(scene.lighting.findAreaContaining(outside), nullptr);
    EXPECT_EQ(scene.flags & kSceneLightingDirty, kSceneLightingDirty);
}

TEST(SceneQueries, DynamicWaypointsComeFirstAndLeaveStaticPointsAlone) {
    scene_tools::WaypointSet set;
    set.add(PosePoint, "aimPoint", matrix34Identity());
    set.add(PoseCamera, "view", matrix34Identity());
    WaypointScene world(set);
    ASSERT_NE(world.scene(), nullptr);
    Scene& scene = *world.scene();
    Matrix34 pose = matrix34Identity();
    pose.m[9] = 4.0f;
    EXPECT_FALSE(scene.setAimPoint(pose));
    EXPECT_TRUE(world.logged("Can't create dynamic waypoint [aimPoint]: Already used in static waypoints"));
    EXPECT_TRUE(scene.dynamicWaypoints.empty());
    // A camera waypoint's name may be taken; the dynamic one is found first.
    EXPECT_TRUE(scene.setDynamicWaypoint("view", pose));
    pose.m[9] = 5.0f;
    EXPECT_TRUE(scene.setDynamicWaypoint("view", pose));
    ASSERT_EQ(scene.dynamicWaypoints.size(), 1u);
    EXPECT_FLOAT_EQ(scene.findWaypoint("view")->pose.m[9], 5.0f);
    EXPECT_NE(scene.findWaypoint("view", PoseCamera), nullptr);
    EXPECT_TRUE(scene.setDynamicWaypoint("beacon", pose));
    EXPECT_TRUE(scene.setDynamicWaypoint("anchor", pose));
    EXPECT_STREQ(scene.dynamicWaypoints.front()->id, "anchor");
}

}  // namespace
