// The game core's camera mode and camera mask.
#include <cstring>

#include "app/GameCore.h"
#include "app/SaveGame.h"
#include "control/PhysicsScene.h"
#include "foundation/Log.h"
#include "foundation/TimeCore.h"
#include "input/InputCore.h"
#include "platform/physics/PhysicsBackend.h"
#include "scene/CameraCore.h"
#include "scene/GameObject.h"
#include "scene/Scene.h"

namespace {

constexpr std::int32_t kHighestCameraMode = 11;

const char* const kCameraModeNames[kHighestCameraMode + 1] = {
    "Observer", "Game", "Dialog", "DialogCursor", "Fixed", "Movie", "Stillframe", "Editor", "EditorFly", "2d", "3d",
    "Player"};

// The radius of the sphere the flyer camera's scene test sweeps.
constexpr float kCameraProbeRadius = 0.2f;

bool inputReady() { return gameCore.input && (gameCore.input->flags & kInputCoreInitialized); }

// The game core's services to the cameras.
const bool kCameraServicesSet = [] {
    cameraServices.selectCameraMode = [] { return gameCore.selectCameraMode(true, CurrentTime(-1.0)); };
    cameraServices.actionAtCursor = [] { return gameCore.scene_actionAtCursor(); };
    // The current scene's static actors stop the camera's line.
    cameraServices.physicsDistance = [](const float* from, const float* direction, float distance) {
        const PhysicsScene* physics = physicsSceneOf(gameCore.currentScene());
        if (!physics || !physics->world) return distance;
        return platform::physics::backend().freeDistance(physics->world, from, direction, distance,
                                                         kCameraProbeRadius);
    };
    cameraServices.screenPose = [](Matrix34& out) {
        Scene* scene = gameCore.currentScene();
        GameObject* sprite = scene ? scene->lookupSprite(gameCore.scene_getActionsName()) : nullptr;
        return sprite && sprite->getWorldMatrix(out);
    };
    // The views come from an input core that has found its devices.
    cameraServices.freeView = [](double time, Matrix34& out) {
        if (!inputReady()) return false;
        gameCore.input->characterState.getMatrix(time, out);
        return true;
    };
    cameraServices.smoothedView = [](double time, Matrix34& out) {
        if (!inputReady()) return false;
        gameCore.input->viewSmoother.getViewMatrix(time, out);
        return true;
    };
    cameraServices.fixedView = [](double time, Matrix34& out) {
        if (!inputReady()) return false;
        gameCore.input->fixedViewSmoother.getMatrix(time, out);
        return true;
    };
    cameraServices.startViewsAt = [](const Matrix34& pose, double time) {
        if (!inputReady()) return;
        gameCore.input->characterState.setPose(pose);
        gameCore.input->viewSmoother.reset(time);
    };
    return true;
}();

}  // namespace

void GameCore::setCameraMode(std::int32_t mode, const CurrentTime& sample) {
    if (mode == cameraMode) return;
    if (mode < 0 || mode > kHighestCameraMode) {
        engineLog().error("Can't set game camera mode to invalid value [%i]. Valid range is 0..%i", mode,
                          kHighestCameraMode);
        return;
    }
    const std::int32_t previous = cameraMode;
    cameraMode = mode;
    const bool smooth = cameraChangeIsSmooth(previous);
    // The sprites of a scene leave and come back with the still-frame mode;
    // scenes hold no sprites yet.
    selectCameraMode(smooth, sample);
}

bool GameCore::cameraChangeIsSmooth(std::int32_t previousMode) {
    return !(previousMode == 1 || previousMode == 2 || previousMode == 3 || previousMode == 6);
}

bool GameCore::selectCameraMode(bool smooth, const CurrentTime& sample) {
    if (input) input->updateStateMode();
    if (debugFlags & DebugCameraLog)
        engineLog().scriptInfo("Set camera mode to [%s]. Now camera in [%s]", kCameraModeNames[cameraMode],
                               kCameraModeNames[cameraModeIndex()]);
    // Without a current scene (a menu before the first scene) there is no
    // main character to ask for: asking would only report its absence.
    if (((flags & kGameFlagCameraOverride) || cameraMode != 1) && currentScene()) scene_getMainController();
    Scene* scene = currentScene();
    CameraCore* camera = scene && !(game && game->loading) ? scene->camera() : nullptr;
    if (camera) camera->restart(smooth, sample);
    // Set in the 2d mode or while the camera shows the screen sprite.
    if (camera && (cameraModeIndex() == 9 || camera->effectiveMode() == 7))
        flags |= kGameFlagScreenView;
    else
        flags &= ~kGameFlagScreenView;
    if (!(flags & kGameFlagCameraOverride) && cameraMode == 9) {
        GameObjectLink sprite;
        if (!scene_findSprite(scene_getActionsName(), false, sprite))
            engineLog().error("Fail assign camera position to NULL screen");
        else if (debugFlags & DebugCameraLog)
            engineLog().scriptInfo("Assign camera position to screen [%s]", scene_getActionsName());
    }
    return true;
}

bool GameCore::setCameraMask(const char* name) {
    const char* text = name ? name : "";
    if (std::strncmp(text, cameraMask, sizeof(cameraMask) - 1) != 0) {
        std::strncpy(cameraMask, text, sizeof(cameraMask) - 1);
        cameraMask[sizeof(cameraMask) - 1] = 0;
        if (debugFlags & DebugCameraLog) engineLog().scriptInfo("Set camera mask to [%s]", cameraMask);
    }
    return true;
}
