// The controller of a walking character (type 1). It answers its type and
// keeps its speed table (index = 4 x running + 2 x crouching + k, k = 0
// forward and backward, 1 sideways; entry 8 is accepted and never read);
// every other operation keeps the base behaviour.
#pragma once

#include "control/ModelController.h"

class Character : public ModelController {
public:
    static constexpr std::int32_t kSpeedEntries = 9;

    explicit Character(Model& owner) : ModelController(owner) {}

    std::int32_t getType() const override { return 1; }
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
    float speeds[kSpeedEntries] = {2.5f, 0.4f, 2.5f, 0.4f, 5.0f, 0.8f, 5.0f, 0.8f, 0.0f};
};
