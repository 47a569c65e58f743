#include "control/PositionController.h"

#include <algorithm>
#include <cmath>

#include "foundation/DataStream.h"
#include "foundation/Log.h"
#include "foundation/Math.h"
#include "foundation/TimeCore.h"
#include "model/Model.h"

PositionController::PositionController(Model& owner) : ModelController(owner) {
    basePose = owner.worldMatrix;
    offsetSmoother.setStages(3, 0.3f, 0.1f);
    const float origin[3] = {0.0f, 0.0f, 0.0f};
    offsetSmoother.reset(origin, CurrentTime(-1.0).game.time);
}

PositionController::~PositionController() { offsetSmoother.release(); }

bool PositionController::update(const CurrentTime& time) {
    const double t = time.game.time;
    float a = 0.0f;
    if (forward) a = 1.0f;
    if (back) a = -1.0f;
    float b = 0.0f;
    if (left) b = -1.0f;
    if (right) b = 1.0f;
    const float s = static_cast<float>(time.game.step * 150.0);
    const float v[3] = {b * s * rates[0], a * s * rates[1], 0.0f};
    if (!offsetSmoother.stages.empty()) {
        VectorSmoothStage& first = offsetSmoother.stages.front();
        for (int k = 0; k < 3; ++k) {
            first.value[k] += v[k];
            first.value[k] = std::max(first.value[k], -limits[k]);
            first.value[k] = std::min(first.value[k], limits[k]);
        }
        first.time = t;
    }
    offsetSmoother.update(t);
    Matrix34 world = matrix34Identity();
    for (int k = 0; k < 3; ++k) world.m[9 + k] = offsetSmoother.output[k];
    matrix34Multiply(world, basePose);
    owner().setWorldMatrix(world);
    return true;
}

bool PositionController::setPose(const Matrix34& pose, double) {
    basePose = pose;
    return true;
}

void PositionController::getOrientation(Matrix33& out) const { std::copy(basePose.m, basePose.m + 9, out.m); }

void PositionController::onMainCharacter() { forward = back = left = right = false; }

void PositionController::detach() { offsetSmoother.release(); }

std::int32_t PositionController::write(DataStream& s) {
    std::int32_t total = 0;
    if (writeFloats(s, basePose.m, 12, total) < 0) return total;
    if (writeFloats(s, limits, 3, total) < 0) return total;
    if (!addField(total, offsetSmoother.write(s))) return total;
    for (std::uint32_t word : reservedWords)
        if (!addField(total, writeU32(s, word))) return total;
    return total;
}

std::int32_t PositionController::read(DataStream& s) {
    forward = back = left = right = false;
    std::int32_t total = 0;
    if (readFloats(s, basePose.m, 12, total) < 0) return total;
    if (readFloats(s, limits, 3, total) < 0) return total;
    // A damaged record would carry the model off to no place at all.
    if (!allFinite(basePose.m, 12) || !allFinite(limits, 3)) {
        engineLog().error("Can't read position controller of [%s]: its pose or limits are not numbers",
                          owner().getName());
        return -1;
    }
    // The smoother is read aside: a value that is not a number would move
    // the model to no place on the first update.
    VectorSmoother saved;
    const std::int32_t smoother = saved.read(s);
    bool finite = smoother >= 0 && std::isfinite(saved.time) && allFinite(saved.output, 3);
    for (const VectorSmoothStage& stage : saved.stages)
        finite = finite && std::isfinite(stage.timeConstant) && allFinite(stage.value, 3);
    if (smoother >= 0 && !finite) {
        saved.release();
        engineLog().error("Can't read position controller of [%s]: its smoother holds values that are not numbers",
                          owner().getName());
        return -1;
    }
    offsetSmoother.release();
    offsetSmoother = saved;
    saved.release();
    if (!addField(total, smoother)) return total;
    for (std::uint32_t& word : reservedWords)
        if (!addField(total, readU32(s, word))) return total;
    return total;
}

void PositionController::addPosition(Matrix34& matrix) {
    matrix = matrix34Identity();
    matrix.m[10] = -1.0f;
    matrix.m[11] = 6.0f;
}

void PositionController::setLimits(const float* values) { std::copy(values, values + 3, limits); }
