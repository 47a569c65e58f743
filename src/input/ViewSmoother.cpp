#include "input/ViewSmoother.h"

#include <algorithm>
#include <cmath>

#include "app/GameCore.h"
#include "control/ModelController.h"
#include "foundation/DataStream.h"
#include "foundation/Matrix.h"
#include "foundation/Quaternion.h"
#include "scene/Scene.h"

namespace {

// m = m x r.
void multiplyInPlace(Matrix33& m, const Matrix33& r) {
    Matrix33 out{};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
            double sum = 0.0;
            for (int k = 0; k < 3; ++k) sum += static_cast<double>(m.m[3 * i + k]) * r.m[3 * k + j];
            out.m[3 * i + j] = static_cast<float>(sum);
        }
    m = out;
}

// Mouse look on a cascade's target orientation and its first stage.
void lookOn(QuadSmooth& smooth, double time, float dx, float dy) {
    if (smooth.stages.empty()) return;
    matrix33RotateYawPitch(smooth.matrix, smooth.stages.front(), dx, dy, time);
}

}  // namespace

void orthonormaliseLevel(float* m) {
    float* side = m;
    float* up = m + 3;
    float* forward = m + 6;
    vector3Normalize(forward);
    side[0] = forward[2];
    side[1] = 0.0f;
    side[2] = -forward[0];
    vector3Normalize(side);
    vector3Cross(forward, side, up);
    vector3Normalize(up);
}

namespace {

void rotationOf(const QuadSmooth& smooth, Matrix34& out) {
    Matrix33 rotation{};
    quaternionToMatrix33(smooth.output, rotation);
    std::copy(rotation.m, rotation.m + 9, out.m);
}

}  // namespace

void matrix33RotateYawPitch(Matrix33& m, QuadSmoothStage& first, float dx, float dy, double time) {
    Matrix33 turn{};
    matrix33FromAxisAngle(turn, dx * -0.01f, 0.0f, 1.0f, 0.0f);
    multiplyInPlace(m, turn);

    const float pitch = std::clamp(dy, -25.0f, 25.0f) * 0.01f;
    Matrix33 pitched = m;
    float axis[3] = {m.m[0], m.m[1], m.m[2]};
    vector3Normalize(axis);
    matrix33FromAxisAngle(turn, pitch, axis[0], axis[1], axis[2]);
    multiplyInPlace(pitched, turn);
    if (std::fabs(pitched.m[7]) < 0.98f) m = pitched;

    orthonormaliseLevel(m.m);
    Quaternion q;
    quaternionFromMatrix(m, q);
    quaternionToMatrix33(q, m);
    first.rotation = q;
    first.time = time;
}

ViewSmoother::ViewSmoother() {
    orientation.setStages(3, 0.2f, 0.1f);
    orientation.resetStages();  // every stage at the identity output
}

void ViewSmoother::update(double time) {
    if (heightStartTime != 0.0f) {
        const float t = static_cast<float>((time - heightStartTime) / heightDuration);
        if (t < 1.0f) {
            heightCurrent = t * heightTarget + (1.0f - t) * heightStart;
        } else {
            heightCurrent = heightTarget;
            heightStartTime = 0.0f;
        }
    }
    orientation.update(time);
}

namespace {

// The current scene's main character's controller; none, silently, when the
// scene has no main character (a handle that no longer resolves is logged
// by the query).
ModelController* mainController() {
    Scene* scene = gameCore.currentScene();
    if (!scene || scene->mainCharacter.value == 0) return nullptr;
    return gameCore.scene_getMainController();
}

}  // namespace

void ViewSmoother::reset(double time) {
    orientation.resetStages();
    orientation.update(time);
    if (gameCore.currentScene()) {
        // The eye height of the main character's controller, at once.
        ModelController* controller = mainController();
        heightCurrent = heightStart = heightTarget = controller ? controller->getEyeHeight(false) : 0.0f;
        heightStartTime = 0.0f;
    }
}

void ViewSmoother::aimAt(const Matrix34& matrix, double time) {
    reset(time);
    Quaternion q;
    quaternionFromMatrix(matrix, q);
    orientation.reset(q, time);
    update(time);
}

void ViewSmoother::followEyeHeight(float height, double time) {
    if (height == heightTarget) return;
    heightTarget = height;
    heightStart = heightCurrent;
    heightStartTime = static_cast<float>(time);
    heightDuration = 0.2f;
}

void ViewSmoother::getViewMatrix(double time, Matrix34& out) {
    update(time);
    rotationOf(orientation, out);
    out.m[9] = position[0];
    out.m[10] = position[1] + heightCurrent;
    out.m[11] = position[2];
    // Without a current scene the query logs why there is no main
    // character. The controller's eye height, when it changes, blends in
    // from the next frame; its model's position moves the eye.
    if (gameCore.scene_getMainCharacter().value != 0) {
        if (ModelController* controller = gameCore.scene_getMainController()) {
            followEyeHeight(controller->getEyeHeight(false), time);
            controller->addPosition(out);
        }
    }
    if (forwardOffset != 0.0f)
        for (int i = 0; i < 3; ++i) out.m[9 + i] += out.m[6 + i] * forwardOffset;
}

void ViewSmoother::mouseLook(double time, float dx, float dy) { lookOn(orientation, time, dx, dy); }

std::int32_t ViewSmoother::write(DataStream& s) const {
    std::int32_t total = 0;
    if (!addField(total, orientation.write(s))) return total;
    if (writeFloats(s, position, 3, total) < 0) return total;
    if (!addField(total, writeF32(s, forwardOffset))) return total;
    const float blend[5] = {heightCurrent, heightStart, heightTarget, heightStartTime, heightDuration};
    writeFloats(s, blend, 5, total);
    return total;
}

std::int32_t ViewSmoother::read(DataStream& s) {
    std::int32_t total = 0;
    if (!addField(total, orientation.read(s))) return total;
    if (readFloats(s, position, 3, total) < 0) return total;
    if (!addField(total, readF32(s, forwardOffset))) return total;
    float blend[5] = {};
    if (readFloats(s, blend, 5, total) < 0) return total;
    heightCurrent = blend[0];
    heightStart = blend[1];
    heightTarget = blend[2];
    heightStartTime = blend[3];
    heightDuration = blend[4];
    return total;
}

FixedViewSmoother::FixedViewSmoother() {
    orientation.setStages(4, 0.1f, 0.1f);
    orientation.resetStages();
}

void FixedViewSmoother::setTargetMatrix(const Matrix34& matrix, double time) {
    std::copy(matrix.m + 9, matrix.m + 12, position);
    Matrix33 rotation{};
    std::copy(matrix.m, matrix.m + 9, rotation.m);
    for (int i = 6; i < 9; ++i) rotation.m[i] = -rotation.m[i];
    Quaternion q;
    quaternionFromMatrix(rotation, q);
    orientation.reset(q, time);
    orientation.update(time);
}

void FixedViewSmoother::getMatrix(double time, Matrix34& out) {
    orientation.update(time);
    rotationOf(orientation, out);
    for (int i = 0; i < 3; ++i) out.m[9 + i] = position[i] + out.m[6 + i] * offsetDistance;
}

void FixedViewSmoother::mouseLook(double time, float dx, float dy) { lookOn(orientation, time, dx, dy); }

std::int32_t FixedViewSmoother::write(DataStream& s) const {
    std::int32_t total = 0;
    if (!addField(total, orientation.write(s))) return total;
    if (!addField(total, writeF32(s, offsetDistance))) return total;
    writeFloats(s, position, 3, total);
    return total;
}

std::int32_t FixedViewSmoother::read(DataStream& s) {
    std::int32_t total = 0;
    if (!addField(total, orientation.read(s))) return total;
    if (!addField(total, readF32(s, offsetDistance))) return total;
    readFloats(s, position, 3, total);
    return total;
}
