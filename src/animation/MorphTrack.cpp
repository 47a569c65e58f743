#include "animation/MorphTrack.h"

#include <cmath>

#include "foundation/DataStream.h"
#include "foundation/Log.h"

const char* const kMorphChannelNames[kMorphChannelCount] = {"A", "Z", "U", "TH", "E", "MBP", "VF", "SH"};

void MorphTrack::clear() {
    std::vector<MorphFrame>().swap(frames);
    rate = 0.0;
    step = 0.0;
}

std::int32_t MorphTrack::read(DataStream& stream, const char* name) {
    std::vector<MorphFrame>().swap(frames);
    Log& log = engineLog();
    std::int32_t total = 0;
    std::int32_t count = readF64(stream, rate);
    if (count < 0) return count;
    total += count;
    if ((count = readF64(stream, step)) < 0) return count;
    total += count;
    std::uint32_t n = 0;
    if ((count = readU32(stream, n)) < 0) return count;
    total += count;
    // A track without frames would sample frame -1, a zero or damaged
    // rate never ends.
    if (n == 0) {
        log.error("Lip track [%s] has no frames", name ? name : "");
        return -1;
    }
    // The track's length (1 / rate) is kept as a float: a rate so small
    // that it overflows would never end.
    if (!(std::isfinite(rate) && rate > 0.0 && std::isfinite(static_cast<float>(1.0 / rate)))) {
        log.error("Lip track [%s] has invalid rate %g", name ? name : "", rate);
        return -1;
    }
    // The step is 1 / the frame count: anything else blends frames with
    // weights outside 0 to 1, or with not-a-number ones.
    if (!(step > 0.0 && step <= 1.0)) {
        log.error("Lip track [%s] has invalid step %g", name ? name : "", step);
        return -1;
    }
    const std::int32_t left = bytesLeft(stream);
    if (n > kMorphMaxFrames || left < 0 || static_cast<std::uint64_t>(left) < std::uint64_t{n} * 32u) {
        log.error("Lip track [%s] frame count %u exceeds its data", name ? name : "", n);
        return -1;
    }
    frames.resize(n);
    for (MorphFrame& frame : frames)
        for (float& value : frame) {
            if ((count = readF32(stream, value)) < 0) {
                std::vector<MorphFrame>().swap(frames);
                return count;
            }
            if (!std::isfinite(value)) {
                log.error("Lip track [%s] has an invalid weight %g", name ? name : "", double(value));
                std::vector<MorphFrame>().swap(frames);
                return -1;
            }
            total += count;
        }
    return total;
}

std::int32_t MorphTrack::write(DataStream& stream) const {
    std::int32_t total = 0;
    std::int32_t count = writeF64(stream, rate);
    if (count < 0) return count;
    total += count;
    if ((count = writeF64(stream, step)) < 0) return count;
    total += count;
    if ((count = writeU32(stream, static_cast<std::uint32_t>(frames.size()))) < 0) return count;
    total += count;
    for (const MorphFrame& frame : frames)
        for (float value : frame) {
            if ((count = writeF32(stream, value)) < 0) return count;
            total += count;
        }
    return total;
}

MorphFrame blendMorphFrames(const MorphFrame& next, const MorphFrame& current, double w) {
    MorphFrame out{};
    for (int k = 0; k < kMorphChannelCount; ++k)
        out[k] = static_cast<float>(w * double(next[k]) + (1.0 - w) * double(current[k]));
    return out;
}
