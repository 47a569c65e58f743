// The controller of a boat (type 2). It answers its type and keeps its speed
// table (index 0 the linear speed in metres a second, index 2 the turning
// speed in radians a second); every other operation keeps the base
// behaviour.
#pragma once

#include "control/ModelController.h"

class BoatControl : public ModelController {
public:
    static constexpr std::int32_t kSpeedEntries = 8;

    explicit BoatControl(Model& owner) : ModelController(owner) {}

    std::int32_t getType() const override { return 2; }
    // Nothing moves the model yet: true.
    bool update(const CurrentTime&) override { return true; }
    void moveLocal(const float*, const float*) override {}
    // The position smoother restarts at the pose.
    bool setPose(const Matrix34& pose, double time) override;
    // The rotation rows of the model's world matrix.
    void getOrientation(Matrix33& out) const override;
    void stopSilently() override {}
    void stopTarget() override {}
    void copyControlState(const AnimationControl&) override {}
    void bindAnimationRules(const char*) override {}
    bool isBusy() const override { return false; }
    void onMainCharacter() override {}
    // No record of its own yet: nothing written or read.
    std::int32_t write(DataStream&) override { return 0; }
    std::int32_t read(DataStream&) override { return 0; }

    // Set through setCharacterSpeed.
    float speeds[kSpeedEntries] = {2.0f, 0.0f, 2.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f};
};
