// The engine's clocks and the frame's time sample.
//
// Every clock is advanced once a frame by TimeCore::step. The world clocks
// measure real time through the performance counter (a frame longer than
// 2 s counts as 0, and the first step after a start or a reset is 0); the
// fixed clock advances a constant step a frame; the game clock follows the
// world or the fixed clock and can be paused. Each clock also keeps a
// wrapped time that stays within 0 to 300 s. CurrentTime is the sample that
// per-frame updates receive; limitStep and nextSubStep cut a long frame into
// simulation sub-steps. Main thread only.
#pragma once

#include <cstdint>

class DataStream;

// Wrapped times stay within 0 to this many seconds.
constexpr double kWrappedTimePeriod = 300.0;
// The advance of one pending frame (restored clocks), in seconds.
constexpr double kPendingFrameStep = 0.04;
// A world-clock frame longer than this counts as 0.
constexpr double kMaxWorldStep = 2.0;

class Time {
public:
    virtual ~Time() = default;
    // The clock's current time, without advancing it.
    virtual double now(double scale) = 0;
    // Advances the clock by delta(scale).
    virtual void step(double scale) = 0;
    // The length of this frame for this clock, in seconds.
    virtual double delta(double scale) = 0;

    std::int64_t counterFrequency = 0;  // 0: the counter is not started (world clocks)
    std::int64_t lastCounter = 0;
    double time = 0.0;
    double wrappedTime = 0.0;
    double stepLength = 0.0;  // the last frame's advance
    std::uint8_t paused = 0;
    std::int32_t pendingFrames = 0;
    std::int32_t rateOrSource = 0;  // fixed clock: steps a second; game clock: source

protected:
    // step of the fixed and world clocks: time, wrapped time and step advance by d.
    void advance(double d);
};

class FixedTime : public Time {
public:
    FixedTime() { rateOrSource = 40; }
    double now(double scale) override;
    void step(double scale) override { advance(delta(scale)); }
    double delta(double scale) override;
};

class WorldTime : public Time {
public:
    double now(double scale) override;
    void step(double scale) override { advance(delta(scale)); }
    double delta(double scale) override;
    // Restarts the counter: the next delta is 0 (after a load, nothing of the
    // time spent loading is passed on).
    void reset();

private:
    // The last step was longer than the longest frame.
    bool stalled_ = false;
};

class GameTime : public Time {
public:
    // The clocks that sources 0 (world) and 1 (fixed) name.
    GameTime(Time* world, Time* fixed);
    double now(double scale) override;
    void step(double scale) override;
    double delta(double scale) override;

private:
    Time* world_;
    Time* fixed_;
};

class TimeCore {
public:
    TimeCore();
    TimeCore(const TimeCore&) = delete;
    TimeCore& operator=(const TimeCore&) = delete;

    // The per-frame advance: world, fixed, game, world 2, real.
    void step();

    // The save record of the game, fixed and world clocks (95 bytes): bytes
    // or the first negative field result. Reading restarts every restored
    // clock (step 0, counter stopped) and refuses a fixed rate of 0 or less.
    std::int32_t write(DataStream& stream) const;
    std::int32_t read(DataStream& stream);

    static constexpr std::int32_t kRecordSize = 95;

    GameTime gameTime;
    FixedTime fixedTime;
    WorldTime worldTime;
    WorldTime worldTime2;
    WorldTime realTime;
};

// The frame's time sample: the game, world and real triples.
struct CurrentTime {
    struct Triple {
        double time = 0.0;
        double step = 0.0;
        double pending = 0.0;  // the part of step not yet paid out by sub-stepping
    };

    CurrentTime() = default;
    // Times and steps of gameCore's clocks (zeros without them); a step of 0
    // or more replaces all three steps (-1.0 keeps them).
    explicit CurrentTime(double step);
    CurrentTime(const TimeCore& clocks, double step);

    // A copy of source; a step of 0 or more replaces the three steps.
    static CurrentTime copyWithStep(const CurrentTime& source, double step);
    // A copy of source whose game step is lowered to the time left in a span:
    // end, or end - start when start is above 0.
    static CurrentTime clipStep(const CurrentTime& source, double start, double end);

    // Scales each step by factor and keeps at most maxStep * factor of it,
    // the rest pending. A maxStep that is not a positive number counts as
    // 1 s and one below 1 ms as 1 ms, so the sub-steps always drain. True.
    bool limitStep(double maxStep, double factor);
    // Pays out the next sub-step of every triple with time pending; true
    // when any had some.
    bool nextSubStep();

    Triple game;
    Triple world;
    Triple real;
};

// The sub-step limit of the simulation for a minimum rate in frames a second
// (min_simulation_fps), the rate clamped into 1 to 1,000.
double simulationStepLimit(double minSimulationFps);
