// A time-driven envelope: a level fades in from low to high along a start
// ramp and later out again along an end ramp, each with its own start time,
// duration and curve. Sounds, scene objects and animation blends own one,
// advance it once a frame with the frame's time sample and save it with the
// game. The end ramp is kept in the inverted form 1 - level.
#pragma once

#include <cstdint>

class DataStream;
struct CurrentTime;

// One ramp.
struct BlenderFade {
    double rate = 0.0;      // 1 / duration, or -1.0 for a jump (duration 0)
    float exponent = 1.0f;  // 1 / curve coefficient
    float from = 0.0f;
    float to = 0.0f;

    // Stores a ramp. A coefficient outside 0 to 20 leaves a linear curve
    // (exponent 1.0), is logged and reports false.
    bool set(float coefficient, float fromLevel, float toLevel, double duration);
    // The ramp's position x (0 to 1) bent by the curve.
    float curve(float x) const;
};

class BlenderHeader {
public:
    // The start ramp begins t seconds after the run began and lasts d
    // seconds, from the current level (or low) to high; the end ramp becomes
    // the way back and is unscheduled. Does not start the run.
    bool setStart(double t, double d);
    // The end ramp begins t seconds after the run began (after now while
    // running) and lasts d seconds, from the current level (or high) to low.
    bool setEnd(double t, double d);
    bool setLow(float value);
    bool setHigh(float value);

    // Starts a run at level 0; false when one runs with a level already.
    bool run();
    void stop();
    bool isEnabled() const;
    // Restarts the run; a running envelope starts the new run from its
    // current level.
    void restart();
    // Advances by the sample's game step and computes the level; true.
    bool update(const CurrentTime& sample);

    // The 81-byte record: bytes, or the first negative field result.
    std::int32_t write(DataStream& stream) const;
    std::int32_t read(DataStream& stream);
    static constexpr std::int32_t kRecordSize = 81;

    float level = 0.0f;
    std::uint8_t enabled = 0;
    BlenderFade start;
    BlenderFade end;  // inverted form: from and to are 1 - level
    double startTime = 0.0;
    double endTime = -1.0;  // -1.0: no end ramp
    double elapsed = 0.0;
    float low = 0.0f;
    float high = 0.0f;
    float coefficient = 0.0f;  // 0 to 20; 0 counts as 1.0 when a ramp is set
};
