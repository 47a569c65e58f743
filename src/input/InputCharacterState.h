// The free-flying view of the observer and editor camera modes: mouse motion
// turns it, the wheel travels along the view (or changes the view distance),
// the movement keys fly it. Positions and turns are eased toward their
// targets for a second after the last input.
#pragma once

#include <cstdint>

#include "foundation/Math.h"

// Bits of InputCharacterState::flags.
enum InputCharacterFlag : std::uint32_t {
    InputCharacterFrameBuilt = 2,   // yaw frame and pitch derived from the pose
    InputCharacterPoseMode = 4,     // travel moves the position, not the distance
    InputCharacterSlow = 8,
    InputCharacterFast = 16,
    InputCharacterForward = 256,
    InputCharacterBack = 512,
    InputCharacterLeft = 1024,
    InputCharacterRight = 2048,
    InputCharacterBothWays = 4096,  // forward and back together: 0.2 of the speed
    InputCharacterForwardActive = 8192,
};

class InputCharacterState {
public:
    void turn(float dx, float dy, double time);
    void speed(float wheel, double time);
    // flag: one of the four movement key bits.
    void setKey(std::uint32_t flag, bool pressed, double time);
    void setPose(const Matrix34& pose);
    // Looks down -z from (0, height, -distance).
    void startPose(float distance, float height);
    // Advances to the time; the smoothed view, moved back by the distance in
    // use unless in pose mode.
    void getMatrix(double time, Matrix34& out);
    // Drops the pending turn and travel and both times.
    void clearPending();

    float slowSpeed = 0.05f, normalSpeed = 8.0f, fastSpeed = 40.0f;
    double previousYaw[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    double yaw[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    double previousPitch = 0.0, pitch = 0.0;
    Matrix34 previousView = matrix34Identity();
    Matrix34 targetView = matrix34Identity();
    Matrix34 smoothedView = matrix34Identity();
    double previousDistance = 3.0, targetDistance = 3.0, distance = 3.0;
    Matrix34 pose = matrix34Identity();
    double lastStepTime = 0.0, lastInputTime = 0.0;
    float turnX = 0.0f, turnY = 0.0f, travel = 0.0f;
    std::uint32_t flags = 0;

private:
    float currentSpeed() const;
    void buildFrame();
    void advance(double time);
    void step(double time);
};
