#include "input/InputCharacterState.h"

#include <algorithm>
#include <cmath>

#include "app/GameCore.h"
#include "foundation/Matrix.h"
#include "input/ViewSmoother.h"

namespace {

// m = m x r over 3-by-3 doubles.
void multiply(double* m, const double* r) {
    double out[9];
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) out[3 * i + j] = m[3 * i] * r[j] + m[3 * i + 1] * r[3 + j] + m[3 * i + 2] * r[6 + j];
    std::copy(out, out + 9, m);
}

void rotation(double* out, double angle, float x, float y, float z) {
    Matrix33 r{};
    matrix33FromAxisAngle(r, static_cast<float>(angle), x, y, z);
    std::copy(r.m, r.m + 9, out);
}

// The rotation by -pitch about x, times the yaw frame, into a view.
void pitchedYaw(double pitch, const double* yaw, Matrix34& view) {
    double m[9];
    rotation(m, -pitch, 1.0f, 0.0f, 0.0f);
    multiply(m, yaw);
    for (int i = 0; i < 9; ++i) view.m[i] = static_cast<float>(m[i]);
}

}  // namespace

float InputCharacterState::currentSpeed() const {
    if (flags & InputCharacterSlow) return slowSpeed;
    if (flags & InputCharacterFast) return fastSpeed;
    return normalSpeed;
}

void InputCharacterState::turn(float dx, float dy, double time) {
    turnX += dx;
    turnY += dy;
    if (turnX != 0.0f || turnY != 0.0f) lastInputTime = time;
}

void InputCharacterState::speed(float wheel, double time) {
    travel += currentSpeed() * wheel * 0.1f;
    if (wheel != 0.0f) lastInputTime = time;
}

void InputCharacterState::setKey(std::uint32_t flag, bool pressed, double time) {
    if (((flags & flag) != 0) == pressed) return;
    const bool forwardHeld = flags & InputCharacterForward;
    const bool backHeld = flags & InputCharacterBack;
    if (pressed && ((flag == InputCharacterBack && forwardHeld) || (flag == InputCharacterForward && backHeld)))
        flags |= InputCharacterBothWays;
    if (!forwardHeld && !backHeld) flags &= ~InputCharacterBothWays;
    if (pressed && flag == InputCharacterForward && !backHeld) flags |= InputCharacterForwardActive;
    if (!pressed && flag == InputCharacterBack && forwardHeld) flags |= InputCharacterForwardActive;
    if (!pressed && flag == InputCharacterForward) flags &= ~InputCharacterForwardActive;
    if (pressed)
        flags |= flag;
    else
        flags &= ~flag;
    lastInputTime = time;
}

void InputCharacterState::setPose(const Matrix34& newPose) {
    pose = newPose;
    flags |= InputCharacterPoseMode;
    flags &= ~InputCharacterFrameBuilt;
}

void InputCharacterState::startPose(float viewDistance, float height) {
    const Matrix34 start{{1, 0, 0, 0, 1, 0, 0, 0, -1, 0, height, -viewDistance}};
    pose = smoothedView = start;
    flags |= InputCharacterPoseMode;
    flags &= ~InputCharacterFrameBuilt;
}

void InputCharacterState::clearPending() {
    turnX = turnY = travel = 0.0f;
    lastStepTime = lastInputTime = 0.0;
}

void InputCharacterState::getMatrix(double time, Matrix34& out) {
    advance(time);
    out = smoothedView;
    if (!(flags & InputCharacterPoseMode))
        for (int i = 0; i < 3; ++i) out.m[9 + i] += out.m[6 + i] * static_cast<float>(distance);
}

void InputCharacterState::buildFrame() {
    float forward[3] = {pose.m[6], 0.0f, pose.m[8]};
    vector3Normalize(forward);
    float side[3] = {forward[2], 0.0f, -forward[0]};
    vector3Normalize(side);
    float up[3];
    vector3Cross(forward, side, up);
    for (int i = 0; i < 3; ++i) {
        yaw[i] = side[i];
        yaw[3 + i] = up[i];
        yaw[6 + i] = forward[i];
    }
    std::copy(yaw, yaw + 9, previousYaw);
    pitch = previousPitch = std::asin(std::clamp(pose.m[7], -1.0f, 1.0f));
    pitchedYaw(pitch, yaw, previousView);
    std::copy(pose.m + 9, pose.m + 12, previousView.m + 9);
    targetView = smoothedView = previousView;
    flags |= InputCharacterFrameBuilt;
}

void InputCharacterState::advance(double time) {
    if (!(flags & InputCharacterFrameBuilt)) buildFrame();
    step(time);
    previousPitch = pitch;
    previousDistance = distance;
    previousView = smoothedView;
    std::copy(yaw, yaw + 9, previousYaw);
    lastStepTime = time;
}

void InputCharacterState::step(double time) {
    double dt = time - lastStepTime;
    if (dt == 0.0) return;
    if (dt > 0.5) dt = 0.1;
    double k1 = 1.0, k2 = 1.0, k3 = 1.0;
    if (time - lastInputTime < 1.0) {
        k1 = dt < 0.2 ? 1.0 - std::exp(-10.0 * dt) : 1.0;
        k2 = dt < 0.1 ? 1.0 - std::exp(-33.33 * dt) : 1.0;
        k3 = dt < 1.0 ? 1.0 - std::exp(-10.0 * dt) : 1.0;
    }
    double turnYaw[9];
    rotation(turnYaw, -turnX * 0.01, 0.0f, 1.0f, 0.0f);
    multiply(yaw, turnYaw);
    pitch = std::clamp(previousPitch - turnY * 0.01, -1.56, 1.56);
    pitchedYaw(pitch, yaw, targetView);

    for (int i = 0; i < 12; ++i) {
        const double k = i < 9 ? k2 : k1;
        smoothedView.m[i] = static_cast<float>((1.0 - k) * previousView.m[i] + k * targetView.m[i]);
    }
    orthonormaliseLevel(smoothedView.m);

    double forward = 0.0;
    if ((flags & InputCharacterForward) && (flags & InputCharacterForwardActive))
        forward = 1.0;
    else if (flags & InputCharacterBack)
        forward = -1.0;
    double side = ((flags & InputCharacterLeft) ? -1.0 : 0.0) + ((flags & InputCharacterRight) ? 1.0 : 0.0);
    if (flags & InputCharacterBothWays) {
        forward *= 0.2;
        side *= 0.2;
    }
    const double speed = currentSpeed();
    const double forwardStep = travel * 0.01 - speed * forward * dt;
    const double sideStep = speed * side * dt;

    float forwardAxis[3] = {smoothedView.m[6], smoothedView.m[7], smoothedView.m[8]};
    float sideAxis[3] = {smoothedView.m[0], smoothedView.m[1], smoothedView.m[2]};
    if (gameCore.cameraMode == 7 && !(gameCore.flags & kGameFlagCameraOverride)) {
        forwardAxis[1] = sideAxis[1] = 0.0f;
        vector3Normalize(forwardAxis);
        vector3Normalize(sideAxis);
    }
    if (flags & InputCharacterPoseMode) {
        for (int i = 0; i < 3; ++i)
            targetView.m[9 + i] += static_cast<float>(forwardStep * forwardAxis[i] + sideStep * sideAxis[i]);
    } else {
        targetDistance += forwardStep;
        distance = (1.0 - k3) * previousDistance + k3 * targetDistance;
    }
    turnX = turnY = travel = 0.0f;
}
