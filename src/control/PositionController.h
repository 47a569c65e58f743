// The position controller (type 3): holds its model at a base pose and lets
// the four movement flags nudge it within a small box around that pose. The
// nudge is a target offset, moved by the held flags and kept within the
// limits, which the model follows through a three-stage smoother. It neither
// walks nor animates; operations it does not list keep the base behaviour.
#pragma once

#include <cstdint>

#include "control/ModelController.h"

class PositionController : public ModelController {
public:
    // Base pose = the model's world matrix; limits (3, 2, 0); rates (0.005,
    // 0.005, 0.01); the offset smoother at (0, 0, 0) now, stages 0.3, 0.4 and
    // 0.5 s; no flag set.
    explicit PositionController(Model& owner);
    ~PositionController() override;

    std::int32_t getType() const override { return TypePosition; }
    // Moves the target offset by the held flags (dt x 150 x rate per axis,
    // forward +y, right +x; back and right win), clamps it to the limits,
    // runs the smoother and sets the model to the offset in the base pose's
    // own axes. True.
    bool update(const CurrentTime& time) override;
    void moveLocal(const float*, const float*) override {}
    // The pose becomes the base pose; the offset stays.
    bool setPose(const Matrix34& pose, double time) override;
    // The base pose's rotation rows.
    void getOrientation(Matrix33& out) const override;
    void stopSilently() override {}
    void stopTarget() override {}
    void copyControlState(const AnimationControl&) override {}
    void bindAnimationRules(const char*) override {}
    bool isBusy() const override { return false; }
    // Clears the four flags.
    void onMainCharacter() override;
    // Frees the smoother's stages: the offset no longer moves.
    void detach() override;
    // Base pose, limits, offset smoother, reserved words; the flags are not
    // saved, and a read clears them. Bytes or the first negative result.
    std::int32_t write(DataStream& stream) override;
    std::int32_t read(DataStream& stream) override;
    // The view offset: identity rotation at (0, -1, 6); the matrix is
    // overwritten.
    void addPosition(Matrix34& matrix) override;
    void setLimits(const float* values) override;
    void setForwardKey(bool pressed) override { forward = pressed; }
    void setBackwardKey(bool pressed) override { back = pressed; }
    void setLeftKey(bool pressed) override { left = pressed; }
    void setRightKey(bool pressed) override { right = pressed; }

    Matrix34 basePose{};
    VectorSmoother offsetSmoother;
    float limits[3] = {3.0f, 2.0f, 0.0f};
    float rates[3] = {0.005f, 0.005f, 0.01f};
    bool forward = false;
    bool back = false;
    bool left = false;
    bool right = false;
    std::uint32_t reservedWords[8] = {};
};
