// The companions' teleport trail: recording on the grid, the distance bands,
// the out-of-view choice and the save block.
#include <gtest/gtest.h>

#include "model/ModelResourceSupport.h"

#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <cstring>

#include "app/SceneLoadFixture.h"
#include "scene/CameraFixture.h"
#include "control/ControlSettings.h"
#include "control/ModelController.h"
#include "control/RecordingController.h"
#include "foundation/DataStream.h"
#include "model/Model.h"
#include "scene/CameraCore.h"
#include "scene/Scene.h"

using testing_support::poseAt;
using testing_support::SceneLoadFixture;

namespace {

CurrentTime gameTimeAt(double seconds) {
    CurrentTime time;
    time.game.time = seconds;
    return time;
}

// A debug scene whose grid is free everywhere (unless told otherwise), with
// a walking main character.
struct TrailWorld {
    TrailWorld() {
        f.game->flags |= kSaveGameLoadAllowed;
        f.game->loadScene("intro");
        sceneFactories().gridBlockFree = [](const Scene&, const float* position) { return position[0] > -100.0f; };
        hero = static_cast<Model*>(scene().createModel("hero", "hero", poseAt(0, 0, 0), 0));
        hero->setVisible(true, 0.0f);
        scene().setMainCharacter(GameObjectLink::fromObject(hero));
    }
    ~TrailWorld() {
        // The shown hero sits in its resource's context: the scene goes
        // before the resources do.
        f.game->releaseScenes();
        sceneFactories().gridBlockFree = gridHook;
        pathfindSettings = saved;
    }
    Scene& scene() { return *f.game->currentScene(); }
    // The scene's own grid answer, put back afterwards.
    bool (*gridHook)(const Scene&, const float*) = sceneFactories().gridBlockFree;
    void walkTo(float x, double time) {
        hero->setWorldMatrix(poseAt(x, 0, 0));
        EXPECT_TRUE(scene().updateTeleportPoints(gameTimeAt(time)));
    }
    // A point recorded directly, away from the character.
    void plant(float x, double time) { ASSERT_TRUE(scene().recordTeleportPoint(poseAt(x, 0, 0).m + 9, time)); }

    PathfindSettings saved = pathfindSettings;
    SceneLoadFixture f;
    model_test::ScopedModelResources models{"box", "hero", "walker", "crate", "prop"};
    Model* hero = nullptr;
};

}  // namespace

TEST(SceneTeleport, TrailRecordsOnFreeGridOnlyAndKeepsItsSpacing) {
    TrailWorld w;
    w.walkTo(0.0f, 1.0);
    w.walkTo(0.0f, 2.0);
    w.walkTo(0.9f, 3.0);
    EXPECT_EQ(w.scene().teleportPoints.size(), 1u);  // standing still, then within 1.0
    w.walkTo(1.1f, 4.0);
    EXPECT_EQ(w.scene().teleportPoints.size(), 2u);
    // Off the free grid, or without a grid at all, nothing is recorded.
    EXPECT_FALSE(w.scene().recordTeleportPoint(poseAt(-200, 0, 0).m + 9, 5.0));
    sceneFactories().gridBlockFree = nullptr;
    EXPECT_FALSE(w.scene().recordTeleportPoint(poseAt(50, 0, 0).m + 9, 5.0));
    // A hidden character leaves no trail.
    w.hero->setVisible(false, 0.0f);
    EXPECT_FALSE(w.scene().updateTeleportPoints(gameTimeAt(6.0)));
}

TEST(SceneTeleport, DistanceBandsRateDropAndSortThePoints) {
    TrailWorld w;
    sceneFactories().gridBlockFree = [](const Scene&, const float* position) { return position[0] != 0.0f; };
    w.plant(30.0f, 0.0);   // beyond dead_teleport_limit 25: dropped at once
    w.plant(20.0f, 0.0);   // between the limits: dropped once older than 30 s
    w.plant(5.0f, 0.0);    // within the band 2 .. 10: usable
    w.plant(1.5f, 0.0);    // nearer than closest_teleport_limit: kept, not usable
    w.walkTo(0.0f, 10.0);  // the character's own spot is off this grid
    auto& points = w.scene().teleportPoints;
    ASSERT_EQ(points.size(), 3u);
    EXPECT_FLOAT_EQ(points[0].distance, 1.5f);
    EXPECT_EQ(points[0].usable, 0);
    EXPECT_FLOAT_EQ(points[1].distance, 5.0f);
    EXPECT_EQ(points[1].usable, 1);
    EXPECT_FLOAT_EQ(points[2].distance, 20.0f);
    // The usable point faces the character: rows -x, up, and their cross.
    EXPECT_FLOAT_EQ(points[1].orientation[0], -1.0f);
    EXPECT_FLOAT_EQ(points[1].orientation[4], 1.0f);
    EXPECT_FLOAT_EQ(std::fabs(points[1].orientation[8]), 1.0f);

    w.walkTo(0.0f, 30.0);
    EXPECT_EQ(points.size(), 3u);
    w.walkTo(0.0f, 30.5);
    EXPECT_EQ(points.size(), 2u);  // 30.5 s old
    EXPECT_FLOAT_EQ(points.back().distance, 5.0f);
}

TEST(SceneTeleport, ChoiceSkipsPointsTheCameraSeesAndTheBlockReadsBack) {
    TrailWorld w;
    sceneFactories().gridBlockFree = [](const Scene&, const float* position) { return position[0] != 0.0f; };
    w.plant(5.0f, 0.0);
    w.plant(-6.0f, 0.0);
    w.walkTo(0.0f, 1.0);
    CameraCore* camera = w.scene().camera();
    ASSERT_NE(camera, nullptr);

    // Looking at the character from afar, the camera sees both points.
    camera->pose = poseAt(0, 2, -30);
    const float target[3] = {0, 0, 0};
    const float up[3] = {0, 1, 0};
    cameraLookAt(camera->pose, target, up);
    camera->updateFrustum();
    Matrix34 chosen{};
    EXPECT_FALSE(w.scene().findTeleportPoint(chosen));
    // Turned away, the nearest usable point is handed out.
    const float away[3] = {0, 0, -100};
    cameraLookAt(camera->pose, away, up);
    camera->updateFrustum();
    ASSERT_TRUE(w.scene().findTeleportPoint(chosen));
    EXPECT_FLOAT_EQ(chosen.m[9], 5.0f);

    pathfindSettings.nearTeleportRange = 12.0f;
    MemoryStream stream;
    const std::int32_t written = w.scene().writeTeleportPoints(stream);
    EXPECT_EQ(written, 4 + 2 * 64 + 8);
    pathfindSettings.nearTeleportRange = 10.0f;
    const auto before = w.scene().teleportPoints;
    stream.setPosition(0);
    EXPECT_EQ(w.scene().readTeleportPoints(stream), written);
    ASSERT_EQ(w.scene().teleportPoints.size(), 2u);
    EXPECT_EQ(std::memcmp(w.scene().teleportPoints.data(), before.data(), 2 * 64), 0);
    EXPECT_FLOAT_EQ(pathfindSettings.nearTeleportRange, 12.0f);
    // A count beyond the bytes left is refused before anything is allocated.
    MemoryStream damaged;
    writeU32(damaged, 1000);
    damaged.setPosition(0);
    EXPECT_LT(w.scene().readTeleportPoints(damaged), 0);
}

namespace {

// One root bone at the model's origin, as the animation fills the skeleton.
void giveRoot(Model& model) {
    std::vector<SkeletonBone>& bones = model.animation.skeleton.bones;
    bones.resize(1);
    std::snprintf(bones[0].name, sizeof(bones[0].name), "%s", "bip01");
    bones[0].world = matrix34Identity();
}

// A character controller that records what the follow mode tells it; a
// stubborn one refuses to follow.
class FollowRecorder : public testing_support::RecordingController {
public:
    FollowRecorder(Model& owner, std::int32_t type, bool stubborn)
        : RecordingController(owner), type_(type), stubborn_(stubborn) {}
    std::int32_t getType() const override { return type_; }
    bool setPose(const Matrix34&, double) override {
        calls.push_back("setPose");
        return true;
    }
    bool follow2model(const char* o, float speed, float distance) override {
        RecordingController::follow2model(o, speed, distance);
        return !stubborn_;
    }
    std::int32_t count(const std::string& prefix) const {
        std::int32_t n = 0;
        for (const std::string& call : calls) n += call.rfind(prefix, 0) == 0;
        return n;
    }

private:
    std::int32_t type_;
    bool stubborn_;
};

FollowRecorder& recordFollowing(Model& model, std::int32_t type, bool stubborn = false) {
    auto made = std::make_unique<FollowRecorder>(model, type, stubborn);
    FollowRecorder& recorder = *made;
    model.controller = std::move(made);
    model.stateWords[0] |= kModelHasController;
    return recorder;
}

}  // namespace

// A companion left far behind out of view is placed at the trail point the
// camera does not see, facing the main character; drawn, near, or without
// a root bone on either side, it stays where it is.
TEST(SceneTeleport, AFollowingCompanionLeftBehindJoinsAtTheTrail) {
    struct Case {
        const char* what;
        float x;         // the companion's place; the hero stands at 0
        bool drawn;      // drawn this frame
        bool bones;      // both have a root bone
        bool teleported;
    };
    const Case cases[] = {
        {"far behind", -40.0f, false, true, true},
        {"near", -10.0f, false, true, false},
        {"in view", -40.0f, true, true, false},
        {"no bones", -40.0f, false, false, false},
    };
    for (const Case& c : cases) {
        TrailWorld w;
        sceneFactories().gridBlockFree = [](const Scene&, const float* position) { return position[0] != 0.0f; };
        w.plant(5.0f, 0.0);
        w.walkTo(0.0f, 1.0);
        CameraCore* camera = w.scene().camera();
        ASSERT_NE(camera, nullptr);
        camera->pose = poseAt(0, 2, -30);
        const float away[3] = {0, 0, -100};
        const float up[3] = {0, 1, 0};
        cameraLookAt(camera->pose, away, up);
        camera->updateFrustum();

        auto* walker = static_cast<Model*>(w.scene().createModel("walker", "walker", poseAt(c.x, 0, 0), 0));
        ASSERT_NE(walker, nullptr);
        FollowRecorder& recorder = recordFollowing(*walker, ModelController::TypeCharacter);
        if (c.bones) giveRoot(*w.hero), giveRoot(*walker);
        if (c.drawn) walker->stateWords[0] |= kModelDrawnThisFrame;
        walker->walk_distance = 4.0f;
        EXPECT_TRUE(walker->updateFrame(gameTimeAt(2.0), 0)) << c.what;
        Matrix34 pose;
        walker->getWorldMatrix(pose);
        EXPECT_FLOAT_EQ(pose.m[9], c.teleported ? 5.0f : c.x) << c.what;
        // A teleport hands the new pose to the controller.
        EXPECT_EQ(recorder.count("setPose"), c.teleported ? 1 : 0) << c.what;
        if (c.teleported) {
            // Facing the hero from where it stood: along +x, upright.
            EXPECT_FLOAT_EQ(pose.m[0], 1.0f) << c.what;
            EXPECT_FLOAT_EQ(pose.m[4], 1.0f) << c.what;
        }
        // Whether placed or not, the controller follows the hero.
        EXPECT_EQ(recorder.count("follow2model hero " + std::to_string(1.0f) + " " +
                                 std::to_string(characterSettings.distanceWalkCompanionCoeff * 4.0f)),
                  1)
            << c.what;
        EXPECT_FLOAT_EQ(walker->walk_distance, 4.0f) << c.what;
    }
}

// The follow mode's controller side: distance 0 stops the follow and ends
// the mode, a refused follow ends it, the main character never follows, a
// controller kind that does not follow is left alone.
TEST(SceneTeleport, TheFollowModeTellsTheControllerWhatToDo) {
    struct Case {
        const char* what;
        float distance;
        bool stubborn;       // the controller refuses to follow
        std::int32_t type;   // controller type
        bool isHero;         // the model is the main character
        float distanceAfter;
        bool follows;        // the controller is told to follow the hero
    };
    const Case cases[] = {
        {"follows", 4.0f, false, ModelController::TypeCharacter, false, 4.0f, true},
        {"stops", 0.0f, false, ModelController::TypeCharacter, false, -1.0f, false},
        {"refused", 4.0f, true, ModelController::TypeCharacter, false, -1.0f, true},
        {"main character", 4.0f, false, ModelController::TypeCharacter, true, 4.0f, false},
        {"position controller", 4.0f, false, ModelController::TypePosition, false, 4.0f, false},
        {"mode off", -1.0f, false, ModelController::TypeCharacter, false, -1.0f, false},
    };
    for (const Case& c : cases) {
        TrailWorld w;
        Model* model = w.hero;
        if (!c.isHero) model = static_cast<Model*>(w.scene().createModel("walker", "walker", poseAt(-3, 0, 0), 0));
        ASSERT_NE(model, nullptr);
        FollowRecorder& recorder = recordFollowing(*model, c.type, c.stubborn);
        model->walk_distance = c.distance;
        EXPECT_TRUE(model->updateFrame(gameTimeAt(1.0), 0)) << c.what;
        EXPECT_FLOAT_EQ(model->walk_distance, c.distanceAfter) << c.what;
        EXPECT_EQ(recorder.count("follow2model"), c.follows ? 1 : 0) << c.what;
        EXPECT_EQ(recorder.count("stay"), c.distance == 0.0f ? 1 : 0) << c.what;
    }
}
