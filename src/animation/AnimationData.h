// The loaded form of an animation: bone tracks over a shared pool of key
// values, stored sequence elements, events and particle attachments, read
// from an ".ani4" file and its optional ".events" text.
//
// Every count of the file is checked against the bytes left before anything
// is sized by it, every name is kept terminated inside its field, and every
// channel's value indices must lie inside the pool: a file that breaks any
// of these is refused with a message, never read past its end.
#pragma once

#include <cstdint>
#include <memory>
#include <new>
#include <string_view>
#include <utility>
#include <vector>

class DataStream;

// Animations play at 25 frames a second.
constexpr double kAnimationFrameTime = 0.04;
// Only the lowest four flag bits may be set; bit 0 makes the animation loop.
constexpr std::uint32_t kAnimationFlagsMask = 0xF;
constexpr std::uint32_t kAnimationLoop = 0x1;

// One animated component: one value a frame from its start frame on, its
// first value before and its last value after. A first index below 0 means
// the component is not animated.
struct AnimationChannel {
    std::int32_t startFrame = 0;
    std::int32_t firstValue = -1;
    std::int32_t lastValue = -1;

    bool animated() const { return firstValue >= 0; }
};
static_assert(sizeof(AnimationChannel) == 12);

struct AnimationTrack {
    AnimationChannel translation[3];
    AnimationChannel scale[3];
    AnimationChannel rotation[4];  // x, y, z, w
    std::int32_t reserved = 0;
    std::int32_t firstFrame = 0;
    std::int32_t lastFrame = 0;
    char boneName[128] = {};
    std::uint16_t trailing = 0;

    // The pool index of a channel's value at animation frame f (the track's
    // range and the channel's start frame applied); -1 for a channel that is
    // not animated.
    std::int32_t valueIndex(const AnimationChannel& channel, std::int32_t frame) const;
};

// 136 bytes as stored.
struct AnimationEvent {
    char name[128] = {};
    std::int32_t from = 0;
    std::int32_t to = 0;
};
static_assert(sizeof(AnimationEvent) == 136);

// A particle system attached to a bone: three names, a local 3x4 matrix and
// a size; 444 bytes as stored.
struct AnimationParticleRecord {
    char names[3][128] = {};
    float matrix[12] = {};
    float size[3] = {};
};
static_assert(sizeof(AnimationParticleRecord) == 444);

// The stored size of one sequence element (its layout: AnimationSequence.h).
constexpr std::int32_t kSequenceElementSize = 176;

// An allocator whose resize leaves new values unset: the value pool is
// read over in one block right after it is sized, so clearing it first
// would only double the work of a load.
template <class T>
struct UnsetAllocator : std::allocator<T> {
    template <class U>
    struct rebind {
        using other = UnsetAllocator<U>;
    };
    UnsetAllocator() = default;
    template <class U>
    UnsetAllocator(const UnsetAllocator<U>&) noexcept {}
    template <class U>
    void construct(U* at) noexcept {
        ::new (static_cast<void*>(at)) U;
    }
    template <class U, class... Args>
    void construct(U* at, Args&&... args) {
        ::new (static_cast<void*>(at)) U(std::forward<Args>(args)...);
    }
};

struct AnimationData {
    std::int32_t frameCount = 0;
    std::uint32_t flags = 0;
    std::vector<AnimationTrack> tracks;
    std::vector<float, UnsetAllocator<float>> values;
    // Raw sequence element images, kept as read.
    std::vector<std::uint8_t> elements;
    std::vector<AnimationEvent> events;
    std::vector<AnimationParticleRecord> particles;
    std::vector<AnimationParticleRecord> secondParticles;
    // The keys of the tracks that key all ten channels, frame by frame in
    // the bone transform's order (rotation, translation, scale), so that
    // sampling finds a frame's keys by index; the start of each track's
    // keys there, or -1 for a track sampled channel by channel.
    std::vector<float> frameKeys;
    std::vector<std::int32_t> frameKeyStart;

    std::int32_t elementCount() const { return static_cast<std::int32_t>(elements.size() / kSequenceElementSize); }
    // (frame count - 1) x 0.04 s.
    double duration() const { return (frameCount - 1) * kAnimationFrameTime; }
    // The value of a channel of a track at a frame; false for a channel that
    // is not animated.
    bool channelValue(const AnimationTrack& track, const AnimationChannel& channel, std::int32_t frame,
                      float& value) const;

    // Reads an ".ani4" stream: the bytes read or negative (logged). Events
    // outside the frame range are moved into it, each change logged with
    // the animation's name.
    std::int32_t read(DataStream& stream, const char* name);
    // Appends the events of an ".events" text, in text order.
    void parseEvents(std::string_view text);
    // Looks the animation's ".events" file up in the packages and appends
    // its events; a missing or unreadable file adds nothing.
    void readEvents(const char* name);
    // Fills frameKeys and frameKeyStart from the tracks and the value pool.
    void buildFrameKeys();
    // Frees every array.
    void release();
};

// Makes a new AnimationData in slot, reads the stream into it and then its
// ".events" file: the bytes read, or -1 with the slot emptied (an exception
// while reading is caught and logged).
std::int32_t loadAnimationData(AnimationData*& slot, const char* name, DataStream& stream);
