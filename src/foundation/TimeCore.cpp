#include "foundation/TimeCore.h"

#include <algorithm>
#include <cmath>

#include "app/GameCore.h"
#include "foundation/DataStream.h"
#include "foundation/Log.h"
#include "platform/Time.h"

namespace {

// Brings a wrapped time back into 0 to 300 s; a non-finite one becomes 0
// (a corrupt save must not leave a clock that can never wrap).
double wrapUp(double wrapped) {
    if (!std::isfinite(wrapped)) return 0.0;
    if (wrapped > kWrappedTimePeriod) {
        wrapped -= kWrappedTimePeriod;
        if (wrapped > kWrappedTimePeriod) wrapped = std::fmod(wrapped, kWrappedTimePeriod);
    }
    return wrapped;
}

double wrapDown(double wrapped) {
    if (!std::isfinite(wrapped)) return 0.0;
    if (wrapped < 0.0) {
        wrapped += kWrappedTimePeriod;
        if (wrapped < 0.0) wrapped = std::fmod(wrapped, kWrappedTimePeriod) + kWrappedTimePeriod;
    }
    return wrapped;
}

constexpr double kMinSubStep = 0.001;
constexpr double kMaxSubStep = 1.0;

}  // namespace

void Time::advance(double d) {
    stepLength = d;
    time += d;
    wrappedTime = wrapUp(wrappedTime + d);
}

// ---- FixedTime

double FixedTime::now(double) { return time; }

double FixedTime::delta(double scale) {
    // A rate of 0 or less (only a damaged record could hold one) stops the clock.
    if (rateOrSource <= 0) return 0.0;
    return scale / rateOrSource;
}

// ---- WorldTime

double WorldTime::delta(double scale) {
    if (counterFrequency == 0) {
        lastCounter = platform::performanceCounter();
        counterFrequency = platform::performanceFrequency();
        return 0.0;
    }
    double d;
    if (pendingFrames != 0) {
        d = pendingFrames * kPendingFrameStep;
        pendingFrames = 0;
    } else {
        const std::int64_t counter = platform::performanceCounter();
        std::int64_t ticks = counter - lastCounter;
        if (ticks < 0) ticks += std::int64_t{1} << 32;
        lastCounter = counter;
        d = static_cast<double>(ticks) / static_cast<double>(counterFrequency);
        // One step longer than the longest frame is a stall (the process was
        // stopped or paused) and passes nothing on. Steps that stay that long
        // are a machine too slow for the view: each passes on the longest
        // frame, so that the game goes on, slowly, instead of standing still
        // for good.
        if (d > kMaxWorldStep) {
            d = stalled_ ? kMaxWorldStep : 0.0;
            stalled_ = true;
        } else {
            stalled_ = false;
        }
    }
    return d * scale;
}

double WorldTime::now(double scale) {
    // Before the counter starts the clock reads 0; the counter itself is
    // started only by a step, so the first step still measures nothing.
    if (counterFrequency == 0) return 0.0;
    if (pendingFrames != 0) {
        const double t = time + pendingFrames * kPendingFrameStep * scale;
        pendingFrames = 0;
        return t;
    }
    const std::int64_t ticks = platform::performanceCounter() - lastCounter;
    return time + static_cast<double>(ticks) / static_cast<double>(counterFrequency) * scale;
}

void WorldTime::reset() {
    stepLength = 0.0;
    counterFrequency = 0;
    stalled_ = false;
}

// ---- GameTime

GameTime::GameTime(Time* world, Time* fixed) : world_(world), fixed_(fixed) {}

double GameTime::delta(double scale) {
    if (pendingFrames != 0) {
        const double d = pendingFrames * scale * kPendingFrameStep;
        pendingFrames = 0;
        return d;
    }
    if (paused) return 0.0;
    if (rateOrSource == 0) return world_ ? world_->stepLength : 0.0;
    if (rateOrSource == 1) return fixed_ ? fixed_->stepLength : 0.0;
    return 0.0;
}

void GameTime::step(double scale) {
    const double d = delta(scale);
    stepLength = d;
    time += d;
    if (time < 0.0) time = 0.0;
    wrappedTime = wrapDown(wrapUp(wrappedTime + d));
}

double GameTime::now(double scale) {
    if (paused || pendingFrames != 0) return 0.0;
    if (rateOrSource == 0) return world_ ? world_->now(scale) : 0.0;
    if (rateOrSource == 1) return fixed_ ? fixed_->now(scale) : 0.0;
    return 0.0;
}

// ---- TimeCore

TimeCore::TimeCore() : gameTime(&worldTime, &fixedTime) {}

void TimeCore::step() {
    worldTime.step(1.0);
    fixedTime.step(1.0);
    gameTime.step(1.0);
    worldTime2.step(1.0);
    realTime.step(1.0);
}

namespace {

std::int32_t writeClock(DataStream& s, const Time& clock, bool withRate, std::int32_t& total) {
    if (!addField(total, writeF64(s, clock.time))) return total;
    if (!addField(total, writeF64(s, clock.wrappedTime))) return total;
    if (!addField(total, writeF64(s, clock.stepLength))) return total;
    if (!addField(total, writeU8(s, clock.paused))) return total;
    if (!addField(total, writeI32(s, clock.pendingFrames))) return total;
    if (withRate && !addField(total, writeI32(s, clock.rateOrSource))) return total;
    return total;
}

std::int32_t readClock(DataStream& s, Time& clock, bool withRate, std::int32_t& total) {
    if (!addField(total, readF64(s, clock.time))) return total;
    if (!addField(total, readF64(s, clock.wrappedTime))) return total;
    if (!addField(total, readF64(s, clock.stepLength))) return total;
    if (!addField(total, readU8(s, clock.paused))) return total;
    if (!addField(total, readI32(s, clock.pendingFrames))) return total;
    if (withRate && !addField(total, readI32(s, clock.rateOrSource))) return total;
    return total;
}

}  // namespace

std::int32_t TimeCore::write(DataStream& stream) const {
    std::int32_t total = 0;
    if (writeClock(stream, gameTime, true, total) < 0) return total;
    if (writeClock(stream, fixedTime, true, total) < 0) return total;
    writeClock(stream, worldTime, false, total);
    return total;
}

std::int32_t TimeCore::read(DataStream& stream) {
    std::int32_t total = 0;
    if (readClock(stream, gameTime, true, total) >= 0 && readClock(stream, fixedTime, true, total) >= 0)
        readClock(stream, worldTime, false, total);
    for (Time* clock : {static_cast<Time*>(&gameTime), static_cast<Time*>(&fixedTime),
                        static_cast<Time*>(&worldTime)}) {
        clock->stepLength = 0.0;
        clock->counterFrequency = 0;
        clock->wrappedTime = wrapDown(wrapUp(clock->wrappedTime));
        if (!std::isfinite(clock->time)) clock->time = 0.0;
    }
    worldTime.paused = 0;
    if (total < 0) return total;
    if (fixedTime.rateOrSource <= 0) {
        engineLog().error("Can't read clocks: bad fixed clock rate %i", fixedTime.rateOrSource);
        fixedTime.rateOrSource = 40;
        return -1;
    }
    return total;
}

// ---- CurrentTime

CurrentTime::CurrentTime(double step) {
    if (gameCore.clocks) *this = CurrentTime(*gameCore.clocks, step);
    else if (step >= 0.0) game.step = world.step = real.step = step;
}

CurrentTime::CurrentTime(const TimeCore& clocks, double step) {
    game.time = clocks.gameTime.time;
    game.step = clocks.gameTime.stepLength;
    world.time = clocks.worldTime.time;
    world.step = clocks.worldTime.stepLength;
    real.time = clocks.realTime.time;
    real.step = clocks.realTime.stepLength;
    if (step >= 0.0) game.step = world.step = real.step = step;
}

CurrentTime CurrentTime::copyWithStep(const CurrentTime& source, double step) {
    CurrentTime copy = source;
    if (step >= 0.0) copy.game.step = copy.world.step = copy.real.step = step;
    return copy;
}

CurrentTime CurrentTime::clipStep(const CurrentTime& source, double start, double end) {
    CurrentTime copy = source;
    const double limit = start > 0.0 ? end - start : end;
    if (limit < copy.game.step) copy.game.step = limit;
    return copy;
}

bool CurrentTime::limitStep(double maxStep, double factor) {
    if (!(maxStep > 0.0) || !std::isfinite(maxStep)) maxStep = kMaxSubStep;
    maxStep = std::clamp(maxStep, kMinSubStep, kMaxSubStep);
    for (Triple* t : {&game, &world, &real}) {
        t->step *= factor;
        t->pending = 0.0;
        const double limit = maxStep * factor;
        if (limit > 0.0 && t->step > limit) {
            t->pending = t->step - limit;
            t->time -= t->pending;
            t->step = limit;
        }
    }
    return true;
}

bool CurrentTime::nextSubStep() {
    bool any = false;
    for (Triple* t : {&game, &world, &real}) {
        if (t->pending == 0.0) continue;
        any = true;
        // A step of 0 or less could never pay the rest out: pay it at once.
        if (t->pending < t->step || !(t->step > 0.0)) t->step = t->pending;
        t->pending -= t->step;
        t->time += t->step;
    }
    return any;
}

double simulationStepLimit(double minSimulationFps) {
    if (!(minSimulationFps >= 1.0)) minSimulationFps = 1.0;
    if (minSimulationFps > 1000.0) minSimulationFps = 1000.0;
    return 1.0 / minSimulationFps;
}
