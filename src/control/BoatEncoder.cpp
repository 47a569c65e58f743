#include "control/BoatEncoder.h"

#include <cmath>
#include <cstring>

#include "animation/AnimationControl.h"
#include "app/GameCore.h"
#include "control/BoatControl.h"
#include "control/MovementEncoder.h"
#include "control/PhysicsModel.h"
#include "foundation/DataStream.h"
#include "foundation/Log.h"
#include "foundation/TimeCore.h"
#include "input/InputCore.h"
#include "model/Model.h"

namespace {

// The unit direction (forward, side) of each AC_DIRECTION value.
const float kDirectionTable[9][2] = {{0.0f, 0.0f},     {1.0f, 0.0f},       {-1.0f, 0.0f},
                                     {0.0f, -1.0f},    {0.0f, 1.0f},       {0.707f, -0.707f},
                                     {0.707f, 0.707f}, {-0.707f, -0.707f}, {-0.707f, 0.707f}};

bool stepFinite(const float* v, int count) {
    for (int i = 0; i < count; ++i)
        if (!std::isfinite(v[i])) return false;
    return true;
}

}  // namespace

void BoatEncoder::addMotion(const float* rotation, const float* linearStep) {
    if (!active) {
        std::memcpy(rotationDelta, rotation, sizeof(rotationDelta));
        std::memcpy(step, linearStep, sizeof(step));
    } else {
        for (int k = 0; k < 4; ++k) rotationDelta[k] += rotation[k];
        for (int k = 0; k < 3; ++k) step[k] += linearStep[k];
    }
    active = 1;
}

void BoatEncoder::setTurn(const float* vector, const CurrentTime& time) {
    active = 1;
    const std::int32_t direction = controller->control().state(AC_DIRECTION);
    float rate = 0.0f;
    if (direction == kDirectionLeft) rate = -controller->speeds[2];
    if (direction == kDirectionRight) rate = controller->speeds[2];
    const float dt = static_cast<float>(time.game.step);
    for (int k = 0; k < 3; ++k) angularStep[k] = vector[k] * rate * dt;
}

void BoatEncoder::setThrust(const float* vector, const CurrentTime& time) {
    active = 1;
    const std::int32_t direction = controller->control().state(AC_DIRECTION);
    const float rate = direction == kDirectionForward || direction == kDirectionBack ? controller->speeds[0] : 0.0f;
    const float dt = static_cast<float>(time.game.step);
    for (int k = 0; k < 3; ++k) step[k] = vector[k] * rate * dt;
}

void BoatEncoder::steerFromView(const CurrentTime& time) {
    active = 1;
    BoatControl& boat = *controller;
    Matrix34 view;
    gameCore.input->viewSmoother.getViewMatrix(time.real.time, view);
    float x[3] = {-view.m[6], 0.0f, -view.m[8]};
    const float length = std::sqrt(x[0] * x[0] + x[2] * x[2]);
    if (length > 1e-6f && std::isfinite(length)) {
        x[0] /= length, x[2] /= length;
        // X forward, Y up, Z = X x Y.
        const float frame[9] = {x[0], 0.0f, x[2], 0.0f, 1.0f, 0.0f, -x[2], 0.0f, x[0]};
        Quaternion wanted;
        quaternionFromMatrix(frame, wanted);
        quaternionStepTo(boat.orientation, wanted, rotationDelta);
    }
    const float up[3] = {0.0f, 2.0f, 0.0f};
    setTurn(up, time);
    const std::int32_t direction = boat.control().state(AC_DIRECTION);
    const float* pair = kDirectionTable[direction >= 0 && direction < 9 ? direction : 0];
    Matrix33 axes;
    quaternionToMatrix33(boat.orientation, axes);
    float travel[3];
    for (int k = 0; k < 3; ++k) travel[k] = pair[0] * axes.m[k] + pair[1] * axes.m[6 + k];
    const float travelLength = std::sqrt(travel[0] * travel[0] + travel[1] * travel[1] + travel[2] * travel[2]);
    if (travelLength > 1e-6f)
        for (float& v : travel) v /= travelLength;
    else
        travel[0] = travel[1] = travel[2] = 0.0f;
    setThrust(travel, time);
}

void BoatEncoder::apply(const CurrentTime& time) {
    BoatControl& boat = *controller;
    Model& model = boat.owner();
    // A boat that gave up its controller waits for its removal.
    if (model.controllerRemovalPending()) return;
    if (gameCore.input && firstPersonControl(isMainCharacterModel(model))) steerFromView(time);
    PhysicsModel* physics = model.attachedPhysics();
    if (active) {
        Quaternion& q = boat.orientation;
        q.x += rotationDelta[0];
        q.y += rotationDelta[1];
        q.z += rotationDelta[2];
        q.w += rotationDelta[3];
        const float norm = std::sqrt(q.x * q.x + q.y * q.y + q.z * q.z + q.w * q.w);
        if (norm > 1e-6f && std::isfinite(norm)) quaternionNormalize(q);
        else q = quaternionIdentity();
        // The delta is spent: a later frame's turn request does not add it again.
        std::memset(rotationDelta, 0, sizeof(rotationDelta));
        if (!physics) {
            engineLog().error(" Try to walk model [%s] without physics: Movement encoder failed", model.getName());
            // The controller (and this encoder) is still running: the model
            // removes it once its update has returned.
            model.requestControllerRemoval();
            return;
        }
    }
    if (physics) {
        // The hull is driven every frame, so it rides the water from the
        // first one: a frame without a request brakes it.
        float linear[3] = {0.0f, 0.0f, 0.0f};
        float turn[3] = {0.0f, 0.0f, 0.0f};
        if (active && stepFinite(step, 3) && stepFinite(angularStep, 3))
            for (int k = 0; k < 3; ++k) linear[k] = step[k], turn[k] = angularStep[k] * kHullTurnShare;
        if (!physics->drive(linear, turn) && !hullReported) {
            engineLog().error("Boat [%s]: its physics model has no dynamic body to drive: the boat cannot move",
                              model.getName());
            hullReported = true;
        }
        if (angularStep[0] != 0.0f || angularStep[1] != 0.0f || angularStep[2] != 0.0f)
            angularStep[0] = angularStep[1] = angularStep[2] = 0.0f;
    }
    active = 0;
}

std::int32_t BoatEncoder::write(DataStream& stream) const {
    std::int32_t total = 0;
    if (writeFloats(stream, reserved, 3, total) < 0 || !addField(total, writeU8(stream, active))) return total;
    if (writeFloats(stream, step, 3, total) < 0 || writeFloats(stream, rotationDelta, 4, total) < 0) return total;
    writeFloats(stream, angularStep, 3, total);
    return total;
}

std::int32_t BoatEncoder::read(DataStream& stream) {
    BoatEncoder staged(*this);
    std::int32_t total = 0;
    if (readFloats(stream, staged.reserved, 3, total) < 0 || !addField(total, readU8(stream, staged.active)))
        return total;
    if (readFloats(stream, staged.step, 3, total) < 0 || readFloats(stream, staged.rotationDelta, 4, total) < 0)
        return total;
    if (readFloats(stream, staged.angularStep, 3, total) < 0) return total;
    staged.active = staged.active ? 1 : 0;
    *this = staged;
    return total;
}
