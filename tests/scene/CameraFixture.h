// A debug scene with its default camera, camera waypoints and a main
// character whose pose the test sets, for the camera tests.
#pragma once

#include <memory>
#include <string>

#include "app/GameCore.h"
#include "foundation/Math.h"
#include "foundation/TimeCore.h"
#include "game/WaypointDataManager.h"
#include "model/ModelResourceSupport.h"
#include "scene/CameraCore.h"
#include "scene/GameObject.h"
#include "scene/ObjectRepository.h"
#include "scene/Scene.h"
#include "scene/SceneContext.h"
#include "scene/SceneDataManager.h"
#include "scene/Y3Pose.h"

namespace testing_support {

// A scene object that only has a world matrix.
class PoseObject : public GameObject {
public:
    explicit PoseObject(const char* objectName) : GameObject(objectName) { pose = matrix34Identity(); }
    std::uint32_t getType() const override { return ObjectModel; }
    const char* getName() const override { return name; }
    std::uint32_t getSceneLink() const override { return 0; }
    bool push() override { return true; }
    bool pop(std::uint32_t) override { return true; }
    std::int32_t write(DataStream&) override { return 0; }
    std::int32_t read(DataStream&) override { return 0; }
    bool validate() override { return true; }
    bool getWorldMatrix(Matrix34& out) override {
        out = pose;
        return true;
    }
    bool updatePhase0(const CurrentTime&, std::int32_t) override { return true; }
    bool updatePhase1(const CurrentTime&, std::int32_t) override { return true; }
    bool updatePhase3(const CurrentTime&, std::int32_t) override { return true; }
    bool updatePhase2(const CurrentTime&, std::int32_t) override { return true; }
    void invalidateLighting() override {}
    void release() override {}

    Matrix34 pose;
};

// A frame-time sample at time t with step dt.
inline CurrentTime frameAt(double t, double dt) {
    CurrentTime sample;
    sample.game.time = t;
    sample.game.step = dt;
    return sample;
}

// A camera pose at a position looking along minus z (third axis +z).
inline Matrix34 poseAt(float x, float y, float z) {
    Matrix34 pose = matrix34Identity();
    pose.m[9] = x;
    pose.m[10] = y;
    pose.m[11] = z;
    return pose;
}

// The files with an empty waypoint file of the camera room unless they
// bring one.
inline std::vector<testing_support::FixtureFile> withWaypoints(std::vector<testing_support::FixtureFile> files) {
    for (const testing_support::FixtureFile& file : files)
        if (file.mask == ".wp") return files;
    files.push_back({".wp", "camroom", std::string(4, '\0'), ""});
    return files;
}

class CameraScene {
public:
    // Beside the box models, the models of the descriptions. An empty
    // waypoint file stands beside the scene; files may add more.
    explicit CameraScene(std::initializer_list<std::string> descriptions = {},
                         std::vector<testing_support::FixtureFile> files = {})
        : models({"box", "door", "hero", "prop", "walker", "crate"}, descriptions, withWaypoints(std::move(files))) {
        gameCore.objects = &objects;
        gameCore.waypoints = &waypoints;
        setSceneDataManager(&manager);
        scene.reset(SceneContext::createScene(manager.get("camroom", false)));
        scene->initialize(matrix34Identity());
    }
    ~CameraScene() {
        scene->release();
        scene.reset();
        setSceneDataManager(savedManager);
        gameCore.waypoints = savedWaypoints;
        gameCore.objects = savedObjects;
    }
    CameraScene(const CameraScene&) = delete;
    CameraScene& operator=(const CameraScene&) = delete;

    CameraCore& camera() { return *scene->camera(); }
    // The scene's waypoint set starts empty (an empty ".wp" in the
    // packages); the tests add the poses they need.
    Y3Pose_Camera& addCamera(const std::string& name, const Matrix34& pose) {
        auto waypoint = std::make_unique<Y3Pose_Camera>(name.c_str());
        waypoint->pose = pose;
        Y3Pose_Camera& added = *waypoint;
        scene->addWaypoint(std::move(waypoint));
        return added;
    }
    PoseObject& character() {
        // The scene's release deletes it with its other models.
        if (!hero) {
            hero = new PoseObject("hero");
            scene->mainCharacter = GameObjectLink::fromObject(hero);
            scene->models.push_back(GameObjectLink::fromObject(hero));
        }
        return *hero;
    }

    // The models the scene tests place.
    model_test::ScopedModelResources models;
    ObjectRepository* savedObjects = gameCore.objects;
    SceneDataManager* savedManager = sceneDataManager();
    ObjectRepository objects;
    SceneDataManager manager;
    WaypointDataManager* savedWaypoints = gameCore.waypoints;
    WaypointDataManager waypoints;
    PoseObject* hero = nullptr;
    std::unique_ptr<Scene> scene;
};

}  // namespace testing_support
