// A controller that records which of its operations each call reached,
// for the tests of what scripts and input hand to a model's controller.
#pragma once

#include <string>
#include <vector>

#include "control/ModelController.h"

namespace testing_support {

class RecordingController : public ModelController {
public:
    explicit RecordingController(Model& owner) : ModelController(owner) {}
    std::int32_t getType() const override { return 1; }
    bool update(const CurrentTime&) override { return true; }
    void moveLocal(const float*, const float*) override {}
    bool setPose(const Matrix34&, double) override { return true; }
    void getOrientation(Matrix33&) const override {}
    void stopSilently() override {}
    void stopTarget() override {}
    void copyControlState(const AnimationControl&) override {}
    void bindAnimationRules(const char*) override {}
    bool isBusy() const override { return false; }
    void onMainCharacter() override { note("onMainCharacter"); }
    std::int32_t write(DataStream&) override { return 0; }
    std::int32_t read(DataStream&) override { return 0; }

    bool isCrouch() const override { return note("isCrouch"); }
    bool isItem() const override { return note("isItem"); }
    bool isRun() const override { return note("isRun"); }
    void setLimits(const float* l) override {
        note("setLimits " + std::to_string(l[0]) + " " + std::to_string(l[1]) + " " + std::to_string(l[2]));
    }
    bool setEvent(const char* e, const char* h) override { return note(std::string("setEvent ") + e + " " + h); }
    bool stay() override { return note("stay"); }
    bool go2waypoint(const char* t, bool direct) override {
        return note(std::string("go2waypoint ") + t + (direct ? " direct" : " list"));
    }
    bool go2trajectory(const char* w, std::int32_t random) override {
        return note(std::string("go2trajectory ") + w + " " + std::to_string(random));
    }
    bool follow2model(const char* o, float n, float f) override {
        return note(std::string("follow2model ") + o + " " + std::to_string(n) + " " + std::to_string(f));
    }
    std::string getCurrentState(const char* a) override {
        note(std::string("getCurrentState ") + a);
        return "walk";
    }
    void setCrouch(bool on) override { note(std::string("setCrouch ") + (on ? "1" : "0")); }
    void flipCrouch() override { note("flipCrouch"); }
    void setItem(bool on) override { note(std::string("setItem ") + (on ? "1" : "0")); }
    void flipItem() override { note("flipItem"); }
    void setRun(bool on) override { note(std::string("setRun ") + (on ? "1" : "0")); }
    void flipRun() override { note("flipRun"); }
    void setForwardKey(bool on) override { note(std::string("setForwardKey ") + (on ? "1" : "0")); }
    void setBackwardKey(bool on) override { note(std::string("setBackwardKey ") + (on ? "1" : "0")); }
    void setLeftKey(bool on) override { note(std::string("setLeftKey ") + (on ? "1" : "0")); }
    void setRightKey(bool on) override { note(std::string("setRightKey ") + (on ? "1" : "0")); }
    void setAutoWalk(bool clear) override { note(std::string("setAutoWalk ") + (clear ? "1" : "0")); }
    void reserved() override { note("reserved"); }
    void onLookMotion(float dx, float dy, float wheel) override {
        note("onLookMotion " + std::to_string(dx) + " " + std::to_string(dy) + " " + std::to_string(wheel));
    }

    // The eye height it answers and the position it adds to a matrix,
    // unrecorded: the views ask for them every frame.
    float getEyeHeight(bool) override { return eyeHeight; }
    void addPosition(Matrix34& matrix) override {
        for (int i = 0; i < 3; ++i) matrix.m[9 + i] += position[i];
    }

    mutable std::vector<std::string> calls;
    float eyeHeight = 0.0f;
    float position[3] = {0.0f, 0.0f, 0.0f};

private:
    bool note(const std::string& call) const {
        calls.push_back(call);
        return true;
    }
};

}  // namespace testing_support
