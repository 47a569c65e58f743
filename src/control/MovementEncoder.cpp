#include "control/MovementEncoder.h"

#include <cmath>
#include <cstring>

#include "app/GameCore.h"
#include "app/SaveGame.h"
#include "control/Character.h"
#include "control/CharacterAnimator.h"
#include "control/PhysicsModel.h"
#include "foundation/DataStream.h"
#include "foundation/IniFile.h"
#include "foundation/Log.h"
#include "foundation/Quaternion.h"
#include "foundation/SettingsReader.h"
#include "foundation/TimeCore.h"
#include "input/InputCore.h"
#include "model/Model.h"
#include "scene/CameraCore.h"
#include "scene/Scene.h"

namespace {

// The unit direction (forward, side) of each AC_DIRECTION value.
const float kDirectionTable[9][2] = {{0.0f, 0.0f},       {1.0f, 0.0f},     {-1.0f, 0.0f},
                                     {0.0f, -1.0f},      {0.0f, 1.0f},     {0.707f, -0.707f},
                                     {0.707f, 0.707f},   {-0.707f, -0.707f}, {-0.707f, 0.707f}};

// The camera kind of a first-person view.
constexpr std::uint32_t kFirstPersonCamera = 4;

}  // namespace

bool isMainCharacterModel(const Model& model) {
    if (model.stateWords[0] & kModelMainCharacter) return true;
    const Scene* scene = model.scene();
    return scene && scene->mainCharacter.value && scene->mainCharacter.value == GameObjectLink::fromObject(&model).value;
}

bool firstPersonControl(bool mainCharacter) {
    if (!mainCharacter || (gameCore.game && gameCore.game->loading)) return false;
    Scene* scene = gameCore.currentScene();
    CameraCore* camera = scene ? scene->camera() : nullptr;
    // The dialog modes show the first-person view without handing the keys
    // to the player: a scripted walk moves him there.
    return camera && scene->onStack() && camera->effectiveMode() == kFirstPersonCamera &&
           inputModeOf(gameCore.cameraModeIndex()) == 0;
}

void aimMainViewBehind(const Matrix34& pose, double time) {
    if (!gameCore.input) return;
    Matrix34 facing = pose;
    for (int k = 0; k < 3; ++k) {
        facing.m[k] = pose.m[6 + k];
        facing.m[6 + k] = -pose.m[k];
    }
    gameCore.input->viewSmoother.aimAt(facing, time);
}

MovementEncoder::MovementEncoder(Character& character) : owner(&character) {
    if (gameCore.settings) {
        IniCategory& section = gameCore.settings->getCategory("character");
        readSetting(section, "fps_walk_step_length", walkStep, 1.0f);
        readSetting(section, "fps_run_step_length", runStep, 1.5f);
        readSetting(section, "fps_crouch_step_length", crouchStep, 0.5f);
    }
}

void MovementEncoder::addMotion(const float* d, const float* r) {
    if (!hasMotion) {
        std::memcpy(displacement, d, sizeof(displacement));
        std::memcpy(rotationDelta, r, sizeof(rotationDelta));
        hasMotion = 1;
        return;
    }
    for (int k = 0; k < 3; ++k) displacement[k] += d[k];
    for (int k = 0; k < 4; ++k) rotationDelta[k] += r[k];
}

void MovementEncoder::clearDisplacement() { displacement[0] = displacement[1] = displacement[2] = 0.0f; }

void MovementEncoder::firstPersonStep(const CurrentTime& time) {
    Character& character = *owner;
    Model& model = character.owner();
    const float dt = static_cast<float>(time.game.step);
    hasMotion = 1;
    rotationDelta[0] = rotationDelta[1] = rotationDelta[2] = rotationDelta[3] = 0.0f;
    if (gameCore.cameraMode == 1 && !(gameCore.flags & kGameFlagCameraOverride) && gameCore.input) {
        Matrix34 view;
        gameCore.input->viewSmoother.getViewMatrix(time.real.time, view);
        const float facing[3] = {-view.m[6], 0.0f, -view.m[8]};
        const float length = std::sqrt(facing[0] * facing[0] + facing[2] * facing[2]);
        if (length > 1e-6f && std::isfinite(length)) {
            model.setFacingDirection(facing);
            Quaternion turned;
            quaternionFromMatrix(model.worldMatrix, turned);
            quaternionStepTo(character.orientation, turned, rotationDelta);
        }
    }
    const std::int32_t direction = character.control().state(AC_DIRECTION);
    const float* pair = kDirectionTable[direction >= 0 && direction < 9 ? direction : 0];
    Matrix33 axes;
    quaternionToMatrix33(character.orientation, axes);
    float world[3];
    for (int k = 0; k < 3; ++k) world[k] = pair[0] * axes.m[k] + pair[1] * axes.m[6 + k];
    const float length = std::sqrt(world[0] * world[0] + world[1] * world[1] + world[2] * world[2]);
    const float scale = length > 0.0f ? character.speed() * dt / length : 0.0f;
    for (int k = 0; k < 3; ++k) displacement[k] = world[k] * scale;

    const CharacterAnimator& animator = character.animator();
    if (animator.target && animator.state != kAnimatorDisabled) return;
    float step = walkStep;
    if (character.isRun()) step = runStep;
    if (character.isCrouch()) step = crouchStep;
    stepDistance += std::sqrt(displacement[0] * displacement[0] + displacement[1] * displacement[1] +
                              displacement[2] * displacement[2]);
    if (!(step > 0.0f) || stepDistance < step) return;
    stepDistance -= step;
    if (stepDistance > step) stepDistance = 0.0f;
    leftFoot = leftFoot ? 0 : 1;
    Model::onAnimationEvent(nullptr, &model, leftFoot ? "footstep=left" : "footstep=right", time, 0, false);
}

void MovementEncoder::update(const CurrentTime& time) {
    Character& character = *owner;
    Model& model = character.owner();
    // A model that gave up its controller waits for its removal.
    if (model.controllerRemovalPending()) return;
    const bool mainCharacter = character.isMainCharacter();
    if (mainCharacter && gameCore.game && gameCore.game->loading) return;
    Scene* scene = gameCore.currentScene();
    CameraCore* camera = scene ? scene->camera() : nullptr;
    if (!camera) return;
    if (firstPersonControl(mainCharacter)) firstPersonStep(time);
    if (!hasMotion) return;
    Quaternion& q = character.orientation;
    q.x += rotationDelta[0];
    q.y += rotationDelta[1];
    q.z += rotationDelta[2];
    q.w += rotationDelta[3];
    const float norm = std::sqrt(q.x * q.x + q.y * q.y + q.z * q.z + q.w * q.w);
    if (norm > 1e-6f && std::isfinite(norm)) quaternionNormalize(q);
    else q = quaternionIdentity();
    PhysicsModel* physics = model.attachedPhysics();
    if (!physics) {
        engineLog().error(" Try to walk model [%s] without physics: Movement encoder failed", model.getName());
        // The controller (and this encoder) is still running: the model
        // removes it once its update has returned.
        model.requestControllerRemoval();
        return;
    }
    const float dt = static_cast<float>(time.game.step);
    if (falling) {
        if (verticalSpeed <= 0.0f && physics->onGround)
            falling = 0;
        else
            verticalSpeed -= 9.81f * dt;
    }
    physics->move(displacement);
    hasMotion = 0;
}

std::int32_t MovementEncoder::write(DataStream& stream) const {
    std::int32_t total = 0;
    if (!addField(total, writeU8(stream, hasMotion))) return total;
    if (writeFloats(stream, displacement, 3, total) < 0 || writeFloats(stream, rotationDelta, 4, total) < 0)
        return total;
    const std::uint8_t padded[4] = {falling, 0, 0, 0};
    if (!addField(total, stream.write(padded, 4)) || !addField(total, writeF32(stream, verticalSpeed))) return total;
    if (writeFloats(stream, velocity, 3, total) < 0) return total;
    addField(total, writeU8(stream, leftFoot));
    return total;
}

std::int32_t MovementEncoder::read(DataStream& stream) {
    MovementEncoder staged(*this);
    std::int32_t total = 0;
    if (!addField(total, readU8(stream, staged.hasMotion))) return total;
    if (readFloats(stream, staged.displacement, 3, total) < 0 || readFloats(stream, staged.rotationDelta, 4, total) < 0)
        return total;
    std::uint8_t padded[4] = {};
    if (!addField(total, readExact(stream, padded, 4)) || !addField(total, readF32(stream, staged.verticalSpeed)))
        return total;
    staged.falling = padded[0] ? 1 : 0;
    if (readFloats(stream, staged.velocity, 3, total) < 0) return total;
    if (!addField(total, readU8(stream, staged.leftFoot))) return total;
    staged.hasMotion = staged.hasMotion ? 1 : 0;
    staged.leftFoot = staged.leftFoot ? 1 : 0;
    *this = staged;
    return total;
}
