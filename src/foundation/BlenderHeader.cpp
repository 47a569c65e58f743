#include "foundation/BlenderHeader.h"

#include <cmath>

#include "foundation/DataStream.h"
#include "foundation/Log.h"
#include "foundation/TimeCore.h"

bool BlenderFade::set(float coefficient, float fromLevel, float toLevel, double duration) {
    rate = duration == 0.0 ? -1.0 : 1.0 / duration;
    exponent = 1.0f / coefficient;
    from = fromLevel;
    to = toLevel;
    if (!(coefficient >= 0.0f && coefficient <= 20.0f)) {
        exponent = 1.0f;
        return engineLog().error(
            "Try to set invalid BlenderFade function coefficient support only [0..0.2..1..20]. Down to 1.");
    }
    return true;
}

float BlenderFade::curve(float x) const {
    float y = 2.0f * x - 1.0f;
    y = y > 0.0f ? std::pow(y, exponent) : -std::pow(-y, exponent);
    return (y + 1.0f) * 0.5f;
}

bool BlenderHeader::setStart(double t, double d) {
    if (coefficient == 0.0f) coefficient = 1.0f;
    startTime = t;
    // Not-a-number times are refused with the negative ones.
    if (!(t >= 0.0)) return engineLog().error("BlenderHeader: start must be more than 0");
    if (!(d >= 0.0)) return engineLog().error("BlenderHeader: start blend must be positive or zero");
    const float from = enabled ? level : low;
    if (!start.set(coefficient, from, high, d)) return false;
    end.from = 1.0f - high;
    end.to = 1.0f - from;
    endTime = -1.0;
    return true;
}

bool BlenderHeader::setEnd(double t, double d) {
    if (coefficient == 0.0f) coefficient = 1.0f;
    // A refused end leaves the envelope as it was.
    const double at = enabled ? t + elapsed : t;
    if (!(at >= 0.0)) return engineLog().error("BlenderHeader: end must be more than 0");
    if (!(d >= 0.0)) return engineLog().error("BlenderHeader: end blend must be positive or zero");
    endTime = at;
    const float from = enabled ? level : high;
    if (!end.set(coefficient, 1.0f - from, 1.0f - low, d)) return false;
    start.from = low;
    start.to = from;
    if (enabled) startTime = -1.0;
    return true;
}

bool BlenderHeader::setLow(float value) {
    low = value;
    return true;
}

bool BlenderHeader::setHigh(float value) {
    high = value;
    return true;
}

bool BlenderHeader::run() {
    if (level != 0.0f && enabled) return false;
    elapsed = 0.0;
    enabled = 1;
    level = 0.0f;
    return true;
}

void BlenderHeader::stop() {
    level = 0.0f;
    enabled = 0;
}

bool BlenderHeader::isEnabled() const { return enabled && level != 0.0f; }

void BlenderHeader::restart() {
    elapsed = 0.0;
    if (level != 0.0f && enabled) low = level;
    enabled = 1;
}

bool BlenderHeader::update(const CurrentTime& sample) {
    if (!enabled) return true;
    elapsed += sample.game.step;
    if (elapsed < startTime) {
        level = 0.0f;
        return true;
    }
    if (endTime >= 0.0) {
        if (endTime <= elapsed && level != 0.0f) {
            // The run ends once the ramp has been completed: a frame that
            // lands exactly on the ramp's end disables it too, or the next
            // frame (level 0) would fall back to the held level.
            if (elapsed >= endTime + 1.0 / end.rate) enabled = 0;
            float x = 1.0f;
            if (end.rate >= 0.0) {
                x = static_cast<float>((elapsed - endTime) * end.rate);
                if (x < 0.0f) {
                    level = 1.0f - end.from;
                    return true;
                }
                if (x > 1.0f) {
                    level = 1.0f - end.to;
                    return true;
                }
            }
            if (end.exponent != 1.0f) x = end.curve(x);
            level = 1.0f - (end.to * x + (1.0f - x) * end.from);
            return true;
        }
        if (startTime < 0.0) {
            level = 1.0f - end.from;
            return true;
        }
    }
    float x = 1.0f;
    if (start.rate >= 0.0) {
        x = static_cast<float>((elapsed - startTime) * start.rate);
        if (x < 0.0f) {
            level = start.from;
            return true;
        }
        if (x > 1.0f) {
            level = start.to;
            return true;
        }
    }
    if (start.exponent != 1.0f) x = start.curve(x);
    level = start.to * x + (1.0f - x) * start.from;
    return true;
}

std::int32_t BlenderHeader::write(DataStream& s) const {
    std::int32_t total = 0;
    if (!addField(total, writeF64(s, start.rate))) return total;
    if (!addField(total, writeF32(s, start.exponent))) return total;
    if (!addField(total, writeF32(s, start.from))) return total;
    if (!addField(total, writeF32(s, start.to))) return total;
    if (!addField(total, writeF64(s, end.rate))) return total;
    if (!addField(total, writeF32(s, end.exponent))) return total;
    if (!addField(total, writeF32(s, end.from))) return total;
    if (!addField(total, writeF32(s, end.to))) return total;
    if (!addField(total, writeF32(s, level))) return total;
    if (!addField(total, writeU8(s, enabled))) return total;
    if (!addField(total, writeF64(s, startTime))) return total;
    if (!addField(total, writeF64(s, endTime))) return total;
    if (!addField(total, writeF64(s, elapsed))) return total;
    if (!addField(total, writeF32(s, low))) return total;
    if (!addField(total, writeF32(s, high))) return total;
    addField(total, writeF32(s, coefficient));
    return total;
}

std::int32_t BlenderHeader::read(DataStream& s) {
    std::int32_t total = 0;
    if (!addField(total, readF64(s, start.rate))) return total;
    if (!addField(total, readF32(s, start.exponent))) return total;
    if (!addField(total, readF32(s, start.from))) return total;
    if (!addField(total, readF32(s, start.to))) return total;
    if (!addField(total, readF64(s, end.rate))) return total;
    if (!addField(total, readF32(s, end.exponent))) return total;
    if (!addField(total, readF32(s, end.from))) return total;
    if (!addField(total, readF32(s, end.to))) return total;
    if (!addField(total, readF32(s, level))) return total;
    if (!addField(total, readU8(s, enabled))) return total;
    if (!addField(total, readF64(s, startTime))) return total;
    if (!addField(total, readF64(s, endTime))) return total;
    if (!addField(total, readF64(s, elapsed))) return total;
    if (!addField(total, readF32(s, low))) return total;
    if (!addField(total, readF32(s, high))) return total;
    addField(total, readF32(s, coefficient));
    return total;
}
