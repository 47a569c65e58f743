// A loaded scene with box models, a script engine that knows "World",
// "Game", "Object" and "Controller", and helpers to place models and
// waypoints, for the controller and target tests.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "app/SceneLoadFixture.h"
#include "control/lua/ControllerScript.h"
#include "foundation/Math.h"
#include "model/Model.h"
#include "model/ModelResourceSupport.h"
#include "model/lua/ObjectScript.h"
#include "scene/Scene.h"
#include "scene/Y3Pose.h"

namespace testing_support {

inline Matrix34 poseAtPoint(float x, float y, float z) {
    Matrix34 pose = matrix34Identity();
    pose.m[9] = x;
    pose.m[10] = y;
    pose.m[11] = z;
    return pose;
}

class ControllerWorld {
public:
    // extra: more files for the data root (physics descriptions).
    explicit ControllerWorld(std::vector<FixtureFile> extra = {}) : models{{"box"}, {}, withWaypoints(std::move(extra))} {
        f.game->flags |= kSaveGameLoadAllowed;
        f.game->loadScene("intro");
        scene = f.game->currentScene();
        registerObjectClass(f.lua.state, f.lua.engine);
        registerControllerClass(f.lua.state, f.lua.engine);
        f.lua.log().clear();
    }
    ~ControllerWorld() { sceneFactories().gridBlockFree = savedGrid; }

    Model* place(const char* name, float x = 0.0f, float y = 0.0f, float z = 0.0f) {
        return static_cast<Model*>(scene->createModel("box", name, poseAtPoint(x, y, z), 0));
    }
    // A run-time point waypoint.
    void point(const char* name, float x, float y, float z) { scene->setDynamicWaypoint(name, poseAtPoint(x, y, z)); }
    bool logged(const std::string& text) { return f.logged(text); }
    Log& log() { return f.lua.log(); }

    // The model resources outlive the scenes that use them; the scene's
    // waypoint set starts empty.
    static std::vector<FixtureFile> withWaypoints(std::vector<FixtureFile> files) {
        files.push_back({".wp", "intro", std::string(4, '\0'), ""});
        return files;
    }
    model_test::ScopedModelResources models;
    SceneLoadFixture f;
    Scene* scene = nullptr;
    bool (*savedGrid)(const Scene&, const float*) = sceneFactories().gridBlockFree;
};

}  // namespace testing_support
