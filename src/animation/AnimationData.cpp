#include "animation/AnimationData.h"

#include <climits>
#include <cstring>

#include "foundation/DataStream.h"
#include "foundation/Log.h"
#include "resources/FilePackageDBData.h"
#include "resources/PackageDatabase.h"

namespace {

// The stored size of a track entry without its name bytes.
constexpr std::int32_t kTrackEntrySize = 136;

const char* orEmpty(const char* text) { return text ? text : ""; }

// Reads a u32 count and that many raw records; the count is refused when
// the bytes left cannot hold its records.
template <class Array>
bool readCountedBlock(DataStream& stream, std::int32_t& total, Array& array, std::int32_t recordSize,
                      const char* what, const char* name) {
    using T = typename Array::value_type;
    Array().swap(array);
    std::uint32_t count = 0;
    if (!addField(total, readU32(stream, count))) return false;
    if (count > static_cast<std::uint32_t>(bytesLeft(stream) / recordSize)) {
        engineLog().error("Invalid animation file [%s]: %u %s do not fit in the file", name, count, what);
        total = -1;
        return false;
    }
    const std::int32_t bytes = static_cast<std::int32_t>(count) * recordSize;
    array.resize(static_cast<std::size_t>(bytes) / sizeof(T));
    if (bytes == 0 || addField(total, readExact(stream, array.data(), bytes))) return true;
    Array().swap(array);
    return false;
}

std::int32_t readChannels(DataStream& stream, AnimationChannel* channels, std::int32_t count) {
    return readExact(stream, channels, count * static_cast<std::int32_t>(sizeof(AnimationChannel)));
}

// The track as the file stores it: translation, rotation, scale, the three
// words, the u16 name and the trailing u16.
bool readTrack(DataStream& stream, std::int32_t& total, AnimationTrack& track, const char* name) {
    std::int32_t words[3] = {};
    if (!addField(total, readChannels(stream, track.translation, 3)) ||
        !addField(total, readChannels(stream, track.rotation, 4)) ||
        !addField(total, readChannels(stream, track.scale, 3)) || !addField(total, readExact(stream, words, 12)))
        return false;
    track.reserved = words[0];
    track.firstFrame = words[1];
    track.lastFrame = words[2];
    std::memset(track.boneName, 0, sizeof(track.boneName));
    const std::int32_t result = readString16(stream, track.boneName, sizeof(track.boneName));
    if (result < 0) {
        if (bytesLeft(stream) > 0)
            engineLog().error("Invalid animation file [%s]: a bone name is longer than 127 characters", name);
        total = result;
        return false;
    }
    total += result;
    return addField(total, readU16(stream, track.trailing));
}

// Every animated channel's indices must lie inside the pool, first before
// last: the sampler reads pool[first + d] without further checks.
bool channelsInPool(const AnimationTrack& track, std::size_t poolSize, const char* name) {
    const AnimationChannel* groups[3] = {track.translation, track.scale, track.rotation};
    const std::int32_t sizes[3] = {3, 3, 4};
    for (std::int32_t g = 0; g < 3; ++g) {
        for (std::int32_t i = 0; i < sizes[g]; ++i) {
            const AnimationChannel& channel = groups[g][i];
            if (!channel.animated()) continue;
            if (channel.lastValue < channel.firstValue ||
                static_cast<std::size_t>(channel.lastValue) >= poolSize)
                return engineLog().error(
                    "Invalid animation file [%s]: bone [%s] reads values %i..%i of a pool of %u", name,
                    track.boneName, channel.firstValue, channel.lastValue, static_cast<unsigned>(poolSize));
        }
    }
    return true;
}

void clampEventFrame(std::int32_t& value, const char* field, const AnimationEvent& event, std::int32_t index,
                     std::int32_t last, const char* name) {
    const auto change = [&](std::int32_t to) {
        engineLog().error(
            "Invalid animation event range [%s][%i:%s] range: %s=%i, but must be in range [0..%i]. Changed to %i",
            name, index, event.name, field, value, last, to);
        value = to;
    };
    if (value < 0) change(0);
    if (value > last) change(last);
}

// The decimal digits at text[p...] as a number (saturated); the position
// after them, or p when there is none.
std::size_t readDigits(std::string_view text, std::size_t p, std::int32_t& value) {
    std::int64_t number = 0;
    std::size_t q = p;
    while (q < text.size() && text[q] >= '0' && text[q] <= '9') {
        number = number * 10 + (text[q] - '0');
        if (number > INT_MAX) number = INT_MAX;
        ++q;
    }
    value = static_cast<std::int32_t>(number);
    return q;
}

// One line "<from>..<to> <name>" (without its line feed) as an event; false
// for a line that breaks the form.
bool parseEventLine(std::string_view line, AnimationEvent& event) {
    std::size_t p = readDigits(line, 0, event.from);
    if (p == 0 || line.substr(p, 2) != "..") return false;
    const std::size_t toAt = p + 2;
    p = readDigits(line, toAt, event.to);
    if (p == toAt || p >= line.size() || line[p] != ' ') return false;
    ++p;
    const unsigned char first = p < line.size() ? static_cast<unsigned char>(line[p]) : 0;
    if (first < 33 || first > 127) return false;
    std::size_t length = 0;
    while (p + length < line.size()) {
        const unsigned char c = static_cast<unsigned char>(line[p + length]);
        if (c < 32 || c >= 128) break;
        ++length;
    }
    if (length > sizeof(event.name) - 1) length = sizeof(event.name) - 1;
    std::memset(event.name, 0, sizeof(event.name));
    std::memcpy(event.name, line.data() + p, length);
    return true;
}

}  // namespace

std::int32_t AnimationTrack::valueIndex(const AnimationChannel& channel, std::int32_t frame) const {
    if (!channel.animated()) return -1;
    std::int64_t local = 0;
    if (frame < firstFrame)
        local = 0;
    else if (frame <= lastFrame)
        local = static_cast<std::int64_t>(frame) - firstFrame;
    else
        local = static_cast<std::int64_t>(lastFrame) - firstFrame;
    const std::int64_t d = local - channel.startFrame;
    if (d < 0) return channel.firstValue;
    if (d > static_cast<std::int64_t>(channel.lastValue) - channel.firstValue) return channel.lastValue;
    return static_cast<std::int32_t>(channel.firstValue + d);
}

bool AnimationData::channelValue(const AnimationTrack& track, const AnimationChannel& channel, std::int32_t frame,
                                 float& value) const {
    const std::int32_t index = track.valueIndex(channel, frame);
    if (index < 0 || static_cast<std::size_t>(index) >= values.size()) return false;
    value = values[static_cast<std::size_t>(index)];
    return true;
}

void AnimationData::buildFrameKeys() {
    std::vector<float>().swap(frameKeys);
    frameKeyStart.assign(tracks.size(), -1);
    // Channels in the transform's order: rotation x y z w, translation,
    // scale.
    for (std::size_t t = 0; t < tracks.size(); ++t) {
        const AnimationTrack& track = tracks[t];
        const AnimationChannel* channels[10] = {&track.rotation[0],    &track.rotation[1],    &track.rotation[2],
                                                &track.rotation[3],    &track.translation[0], &track.translation[1],
                                                &track.translation[2], &track.scale[0],       &track.scale[1],
                                                &track.scale[2]};
        const std::int64_t frames = std::int64_t{track.lastFrame} - track.firstFrame + 1;
        bool full = frames >= 1 && frames <= frameCount &&
                    static_cast<std::int64_t>(frameKeys.size()) + frames * 10 < 0x7FFFFFFF;
        for (const AnimationChannel* channel : channels) full = full && channel->animated();
        if (!full) continue;
        frameKeyStart[t] = static_cast<std::int32_t>(frameKeys.size());
        for (std::int64_t local = 0; local < frames; ++local)
            for (const AnimationChannel* channel : channels) {
                const std::int32_t frame = track.firstFrame + static_cast<std::int32_t>(local);
                const std::int32_t index = track.valueIndex(*channel, frame);
                frameKeys.push_back(index >= 0 && static_cast<std::size_t>(index) < values.size()
                                        ? values[static_cast<std::size_t>(index)]
                                        : 0.0f);
            }
    }
}

void AnimationData::release() {
    std::vector<float>().swap(frameKeys);
    std::vector<std::int32_t>().swap(frameKeyStart);
    std::vector<AnimationTrack>().swap(tracks);
    decltype(values)().swap(values);
    std::vector<std::uint8_t>().swap(elements);
    std::vector<AnimationEvent>().swap(events);
    std::vector<AnimationParticleRecord>().swap(particles);
    std::vector<AnimationParticleRecord>().swap(secondParticles);
}

std::int32_t AnimationData::read(DataStream& stream, const char* animationName) {
    const char* name = orEmpty(animationName);
    Log& log = engineLog();
    std::int32_t total = 0;
    if (!addField(total, readI32(stream, frameCount)) || !addField(total, readU32(stream, flags))) return total;
    if (flags & ~kAnimationFlagsMask) {
        log.error("Animation flags format invalid. Please re-export this animation");
        return -1;
    }
    if (frameCount < 0) {
        log.error("Invalid animation file [%s]: frame count %i", name, frameCount);
        return -1;
    }
    std::uint32_t trackCount = 0;
    if (!addField(total, readU32(stream, trackCount))) return total;
    if (trackCount > static_cast<std::uint32_t>(bytesLeft(stream) / kTrackEntrySize)) {
        log.error("Invalid animation file [%s]: %u tracks do not fit in the file", name, trackCount);
        return -1;
    }
    tracks.assign(trackCount, AnimationTrack{});
    for (AnimationTrack& track : tracks)
        if (!readTrack(stream, total, track, name)) return total;
    if (!readCountedBlock(stream, total, values, 4, "values", name)) return total;
    for (const AnimationTrack& track : tracks)
        if (!channelsInPool(track, values.size(), name)) return -1;
    buildFrameKeys();
    if (!readCountedBlock(stream, total, elements, kSequenceElementSize, "sequence elements", name) ||
        !readCountedBlock(stream, total, events, static_cast<std::int32_t>(sizeof(AnimationEvent)), "events",
                          name) ||
        !readCountedBlock(stream, total, particles, static_cast<std::int32_t>(sizeof(AnimationParticleRecord)),
                          "particle attachments", name) ||
        !readCountedBlock(stream, total, secondParticles,
                          static_cast<std::int32_t>(sizeof(AnimationParticleRecord)), "particle attachments", name))
        return total;

    // Raw names end inside their fields, whatever the file held.
    for (std::int32_t i = 0; i < elementCount(); ++i)
        elements[static_cast<std::size_t>(i) * kSequenceElementSize + 4 + 127] = 0;
    for (AnimationEvent& event : events) event.name[sizeof(event.name) - 1] = 0;
    for (std::vector<AnimationParticleRecord>* list : {&particles, &secondParticles})
        for (AnimationParticleRecord& record : *list)
            for (char* field : record.names) field[127] = 0;

    const std::int32_t last = frameCount - 1;
    for (std::size_t i = 0; i < events.size(); ++i) {
        AnimationEvent& event = events[i];
        clampEventFrame(event.from, "from", event, static_cast<std::int32_t>(i), last, name);
        clampEventFrame(event.to, "to", event, static_cast<std::int32_t>(i), last, name);
    }
    return total;
}

void AnimationData::parseEvents(std::string_view text) {
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find('\n', start);
        // A last line without its line feed is not taken.
        if (end == std::string_view::npos) return;
        AnimationEvent event;
        if (parseEventLine(text.substr(start, end - start), event)) events.push_back(event);
        start = end + 1;
    }
}

void AnimationData::readEvents(const char* name) {
    FilePackageDBData* packages = packageData();
    if (!packages || !name || packages->find(".events", name, "") == 0) return;
    MemoryStream text;
    if (!loadResource(".events", name, "", text)) return;
    parseEvents(std::string_view(reinterpret_cast<const char*>(text.data()), static_cast<std::size_t>(text.size())));
}

std::int32_t loadAnimationData(AnimationData*& slot, const char* name, DataStream& stream) {
    delete slot;
    slot = nullptr;
    try {
        slot = new AnimationData;
        const std::int32_t result = slot->read(stream, name);
        if (result >= 0) {
            slot->readEvents(name);
            return result;
        }
    } catch (...) {
        engineLog().error("Invalid animation file [%s] data format. please re-export this animation", orEmpty(name));
    }
    delete slot;
    slot = nullptr;
    return -1;
}
