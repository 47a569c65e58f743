// The last stage of a boat's motion: each frame it collects what the
// animator, the animation's root motion and the player ask for (a linear
// step, a rotation for the controller's orientation, an angular step) and
// hands the steps to the hull in the boat's physics model.
#pragma once

#include <cstdint>

class BoatControl;
class DataStream;
struct CurrentTime;

class BoatEncoder {
public:
    static constexpr std::int32_t kRecordSize = 53;
    // The hull turns at this share of the asked angular step: the turns on
    // the spot ask for 4 x 2 rad/s, a rowboat turns at 1 rad/s.
    static constexpr float kHullTurnShare = 0.125f;

    explicit BoatEncoder(BoatControl& owner) : controller(&owner) {}

    // Stores the motion when none is pending this frame, else adds it.
    void addMotion(const float* rotation, const float* linearStep);
    // A turn about the vector at the turning speed (speed index 2): to the
    // left (negative) or the right by AC_DIRECTION, else none.
    void setTurn(const float* vector, const CurrentTime& time);
    // A step along the vector at the linear speed (speed index 0) while
    // AC_DIRECTION is "fw" or "bk", else none.
    void setThrust(const float* vector, const CurrentTime& time);
    void clearStep() { step[0] = step[1] = step[2] = 0.0f; }
    // The player's steering: the orientation follows the main view, the
    // keys give the turn and the thrust.
    void steerFromView(const CurrentTime& time);
    // The frame's motion: the orientation turns, the hull is driven. A
    // model without a physics model is logged and loses its controller once
    // its update has returned.
    void apply(const CurrentTime& time);

    // reserved, active, step, rotationDelta, angularStep.
    std::int32_t write(DataStream& stream) const;
    // Reads into a copy first: a short record changes nothing.
    std::int32_t read(DataStream& stream);

    BoatControl* controller;
    float reserved[3] = {2.0f, 0.0f, 0.0f};
    std::uint8_t active = 0;
    float step[3] = {0.0f, 0.0f, 0.0f};
    float rotationDelta[4] = {0.0f, 0.0f, 0.0f, 0.0f};
    float angularStep[3] = {0.0f, 0.0f, 0.0f};
    // The missing hull was reported (not saved).
    bool hullReported = false;
};
