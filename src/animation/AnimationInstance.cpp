#include "animation/AnimationInstance.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "animation/AnimationCore.h"
#include "animation/AnimationDataManager.h"
#include "animation/KeyMath.h"
#include "animation/ModelAnimation.h"
#include "app/GameCore.h"
#include "foundation/DataStream.h"
#include "foundation/Log.h"
#include "foundation/MersenneTwister.h"
#include "foundation/TimeCore.h"
#include "model/Model.h"
#include "model/Y3Model.h"

namespace {

constexpr const char* kReleaseSounds = "release_sounds";
// The sound release's bits in releaseBits.
constexpr std::uint8_t kReleasePendingStart = 0x1;
constexpr std::uint8_t kReleasePendingEnd = 0x2;
constexpr std::uint8_t kReleaseFired = 0x4;

// A number per live instance names its sound group.
std::uint32_t nextSoundGroup = 1;

const char* ownerName(const Model* owner) { return owner ? owner->getName() : "NULL"; }
const char* ownerResource(const Model* owner) { return owner ? owner->resourceName : "NULL"; }

// The keyed channels of a track at one frame written into out; a channel
// without keys leaves its component as it is.
// A track's frames are found once; each channel's key is then its first
// value plus the frame's offset from the channel's start, held at both ends.
std::int64_t localFrame(const AnimationTrack& track, std::int32_t frame) {
    if (frame < track.firstFrame) return 0;
    if (frame <= track.lastFrame) return std::int64_t{frame} - track.firstFrame;
    return std::int64_t{track.lastFrame} - track.firstFrame;
}

std::int64_t keyIndex(const AnimationChannel& channel, std::int64_t local) {
    const std::int64_t d = local - channel.startFrame;
    if (d < 0) return channel.firstValue;
    if (d > std::int64_t{channel.lastValue} - channel.firstValue) return channel.lastValue;
    return channel.firstValue + d;
}

// The channels in track order (translation, scale, rotation) and their
// place among the transform's values (rotation, translation, scale).
constexpr int kChannelPlace[10] = {4, 5, 6, 7, 8, 9, 0, 1, 2, 3};

const AnimationChannel* channelsOf(const AnimationTrack& track) {
    static_assert(offsetof(AnimationTrack, translation) == 0 &&
                  offsetof(AnimationTrack, scale) == 3 * sizeof(AnimationChannel) &&
                  offsetof(AnimationTrack, rotation) == 6 * sizeof(AnimationChannel));
    return reinterpret_cast<const AnimationChannel*>(&track);
}

void writeKeyed(std::int32_t frame, const AnimationTrack& track, BoneTransform& out, const AnimationData& data) {
    const std::int64_t local = localFrame(track, frame);
    const AnimationChannel* channels = channelsOf(track);
    const float* pool = data.values.data();
    const std::size_t size = data.values.size();
    float* v = out.values();
    for (int k = 0; k < 10; ++k) {
        if (channels[k].firstValue < 0) continue;
        const std::int64_t index = keyIndex(channels[k], local);
        if (static_cast<std::uint64_t>(index) < size) v[kChannelPlace[k]] = pool[index];
    }
}

// The keys of two frames in one pass: what sampling between them reads.
void writeKeyedPair(std::int32_t frameA, std::int32_t frameB, const AnimationTrack& track, BoneTransform& first,
                    BoneTransform& second, const AnimationData& data) {
    const std::int64_t localA = localFrame(track, frameA);
    const std::int64_t localB = localFrame(track, frameB);
    const AnimationChannel* channels = channelsOf(track);
    const float* pool = data.values.data();
    const std::size_t size = data.values.size();
    float* a = first.values();
    float* b = second.values();
    for (int k = 0; k < 10; ++k) {
        if (channels[k].firstValue < 0) continue;
        const std::int64_t ia = keyIndex(channels[k], localA);
        const std::int64_t ib = keyIndex(channels[k], localB);
        if (static_cast<std::uint64_t>(ia) < size) a[kChannelPlace[k]] = pool[ia];
        if (static_cast<std::uint64_t>(ib) < size) b[kChannelPlace[k]] = pool[ib];
    }
}

float dot(const Quaternion& a, const Quaternion& b) { return a.x * b.x + a.y * b.y + a.z * b.z + a.w * b.w; }

// to - from, the rotation taken along the shorter arc (the far hemisphere's
// difference is -(to + from)).
BoneTransform delta(const BoneTransform& from, const BoneTransform& to) {
    BoneTransform d;
    for (int c = 0; c < 3; ++c) {
        d.translation[c] = to.translation[c] - from.translation[c];
        d.scale[c] = to.scale[c] - from.scale[c];
    }
    const float* a = &from.rotation.x;
    const float* b = &to.rotation.x;
    float* r = &d.rotation.x;
    const bool far = onFarHemisphere(dot(from.rotation, to.rotation));
    for (int c = 0; c < 4; ++c) r[c] = far ? -(b[c] + a[c]) : b[c] - a[c];
    return d;
}

void addWeighted(BoneTransform& target, const BoneTransform& d, float w) {
    float* t = target.values();
    const float* v = d.values();
    for (int i = 0; i < 10; ++i) t[i] += w * v[i];
}

}  // namespace

bool BitSet64::test(std::int32_t bit) const {
    if (bit < 0 || bit >= 64) {
        engineLog().error("Can't set bit %i: out of data range [0..%i]", bit, 64);
        return false;
    }
    return (words[bit >> 5] >> (bit & 31)) & 1u;
}

void BitSet64::set(std::int32_t bit) {
    if (bit < 0 || bit >= 64) {
        engineLog().error("Can't set bit %i: out of data range", bit);
        return;
    }
    words[bit >> 5] |= 1u << (bit & 31);
}

void BitSet64::clear(std::int32_t bit) {
    if (bit < 0 || bit >= 64) {
        engineLog().error("Can't set bit %i: out of data range", bit);
        return;
    }
    words[bit >> 5] &= ~(1u << (bit & 31));
}

void sampleTrackFrame(std::int32_t frame, std::int32_t track, BoneTransform& out, const AnimationData& data) {
    out.rotation = quaternionIdentity();
    if (track < 0 || static_cast<std::size_t>(track) >= data.tracks.size()) return;
    writeKeyed(frame, data.tracks[static_cast<std::size_t>(track)], out, data);
}

AnimationInstance::AnimationInstance(Model* model, Y3AnimData* resource, const char* animationName,
                                     std::uint32_t startFlags)
    : owner(model), animation(resource), flags(startFlags) {
    copyName(name, sizeof(name), animationName);
    std::snprintf(soundGroup_, sizeof(soundGroup_), "%08X", nextSoundGroup++);
}

AnimationInstance::~AnimationInstance() {
    if (flags & kInstanceInitialized) reportState("Release before desctructor call");
    if (flags & kInstancePushed) {
        reportState("Pop before desctructor call");
        // The animation's reference list would keep a freed instance.
        pop();
    }
}

void AnimationInstance::reportState(const char* what) const {
    engineLog().error("Animation [%s]->[%s] (%s): %s", name, ownerName(owner), ownerResource(owner), what);
}

AnimationData* AnimationInstance::data() const {
    if (!animation) return nullptr;
    if (animation->data) return animation->data;
    if (animation->has(kResourceUnavailable) || !gameCore.animation) return nullptr;
    if (!gameCore.animation->animations().loadHeader(animation)) return nullptr;
    return animation->data;
}

double AnimationInstance::remainingTime() const {
    return blender.elapsed > 0.0 ? blender.endTime - blender.elapsed : blender.endTime;
}

void AnimationInstance::rewind() {
    previousPosition = position = direction <= 0.0f ? 1.0 : 0.0;
    lastEventFrame = -1;
}

bool AnimationInstance::setSpeed(float value) {
    if (!std::isfinite(value))
        return engineLog().error("Animation [%s]->[%s] (%s): invalid speed", name, ownerName(owner),
                                 ownerResource(owner));
    speed = value;
    return true;
}

bool AnimationInstance::update(const CurrentTime& time, bool suppressEvents) {
    const bool restored = (flags & kInstanceRestored) != 0;
    const float oldLevel = blender.level;
    blender.update(time);
    if (!blender.enabled) {
        blender.level = 0.0f;
        rewind();
        rootMotion.clear();
        if ((flags & kInstanceInitialized) && (flags & kInstancePushed)) pop();
        return true;
    }
    if (blender.level != oldLevel) flags |= kInstanceChanged;
    if (!(flags & kInstanceInitialized) && !initialize()) {
        rewind();
        blender.stop();
        rootMotion.clear();
        if ((flags & kInstanceInitialized) && (flags & kInstancePushed)) pop();
        return false;
    }
    if (blender.level == 0.0f) return true;
    eventPass(time, suppressEvents);
    flags &= ~kInstanceRestored;
    // The step stops at the envelope's end; an envelope without an end, or
    // one already past it, gives no negative step.
    double dt = time.game.step;
    if (blender.endTime >= 0.0) dt = std::fmax(0.0, CurrentTime::clipStep(time, blender.elapsed, blender.endTime).game.step);
    const double before = position;
    if (frameA == -1 || frameB == -1 || !(flags & kInstanceHold) || restored) {
        previousPosition = position;
        position += static_cast<double>(speed) * static_cast<double>(direction) * frameStep * dt * 25.0;
        if (!std::isfinite(position)) {
            // Only damaged state gets here (speeds are checked where set).
            engineLog().error("Animation [%s]->[%s] (%s): invalid play position", name, ownerName(owner),
                              ownerResource(owner));
            position = previousPosition;
        }
        if (flags & kInstanceLoop) {
            // Values above 1 wrap to (0, 1], values below 0 to [0, 1).
            if (position > 1.0) {
                position = std::fmod(position, 1.0);
                if (position == 0.0) position = 1.0;
            } else if (position < 0.0) {
                position = std::fmod(position, 1.0);
                if (position < 0.0) position += 1.0;
            }
        } else {
            position = std::fmin(1.0, std::fmax(0.0, position));
        }
        frameA = static_cast<std::int32_t>(position * lastFrame);
        frameB = frameA + 1;
        fraction = (position - frameA * frameStep) * lastFrame;
    }
    if (rootMotion.frameA == -1 || rootMotion.frameB == -1) {
        rootMotion.frameA = frameA;
        rootMotion.frameB = frameB;
        rootMotion.fraction = fraction;
    }
    if (position != before) flags |= kInstanceChanged;
    return true;
}

bool AnimationInstance::sampleAt(std::int32_t track, std::int32_t a, std::int32_t b, double t,
                                 BoneTransform& sample, const AnimationData& data) const {
    if (track < 0 || static_cast<std::size_t>(track) >= data.tracks.size()) return false;
    const AnimationTrack& keys = data.tracks[static_cast<std::size_t>(track)];
    const std::int32_t start =
        static_cast<std::size_t>(track) < data.frameKeyStart.size() ? data.frameKeyStart[std::size_t(track)] : -1;
    if (start >= 0) {
        // All ten channels keyed: the frames' keys lie side by side.
        const float* ka = data.frameKeys.data() + start + localFrame(keys, a) * 10;
        const float* kb = data.frameKeys.data() + start + localFrame(keys, b) * 10;
        float* v = sample.values();
        if (t == 0.0 || a == b) {
            std::copy(ka, ka + 10, v);
        } else if (t == 1.0) {
            std::copy(kb, kb + 10, v);
        } else {
            const float f = static_cast<float>(t);
            for (int c = 4; c < 10; ++c) v[c] = ka[c] * (1.0f - f) + kb[c] * f;
            keySlerp({ka[0], ka[1], ka[2], ka[3]}, {kb[0], kb[1], kb[2], kb[3]}, sample.rotation, f);
        }
        return true;
    }
    if (t == 0.0 || a == b) {
        writeKeyed(a, keys, sample, data);
    } else if (t == 1.0) {
        writeKeyed(b, keys, sample, data);
    } else {
        // Channels without keys keep the incoming sample's translation and
        // scale, and the identity rotation.
        BoneTransform first = sample;
        first.rotation = quaternionIdentity();
        BoneTransform second = first;
        writeKeyedPair(a, b, keys, first, second, data);
        const float f = static_cast<float>(t);
        for (int c = 0; c < 3; ++c) {
            sample.translation[c] = first.translation[c] * (1.0f - f) + second.translation[c] * f;
            sample.scale[c] = first.scale[c] * (1.0f - f) + second.scale[c] * f;
        }
        keySlerp(first.rotation, second.rotation, sample.rotation, f);
    }
    return true;
}

bool AnimationInstance::sampleBone(std::int32_t bone, BoneTransform& sample, float invTotal, std::uint32_t mode) {
    weight *= invTotal;
    if (bone < 0 || static_cast<std::size_t>(bone) >= boneMap.size() || boneMap[static_cast<std::size_t>(bone)] < 0)
        return false;
    // Loaded data is the common case of every frame: no call for it.
    const AnimationData* loaded = animation && animation->data ? animation->data : data();
    if (!loaded) return false;
    const std::int32_t track = boneMap[static_cast<std::size_t>(bone)];
    if (!sampleAt(track, frameA, frameB, fraction, sample, *loaded)) return false;
    if (mode & kSampleRootMotion) extractRootMotion(track, sample, *loaded);
    if (mode & (kSampleRootMotion | kSampleMasked)) {
        float* v = sample.values();
        for (int i = 0; i < 10; ++i) v[i] = 0.0f;
    }
    return true;
}

void AnimationInstance::extractRootMotion(std::int32_t track, const BoneTransform& sample, const AnimationData& loaded) {
    RootMotionState& rm = rootMotion;
    if (rm.frameA == -1 || rm.frameB == -1) {
        if (rm.valid) rm.clear();
        return;
    }
    if (!rm.valid) {
        rm.last = BoneTransform::identity();
        rm.valid = sampleAt(track, rm.frameA, rm.frameB, rm.fraction, rm.last, loaded) ? 1 : 0;
        rm.weight = weight;
        if (!rm.valid) {
            rm.clear();
            return;
        }
    }
    const bool forward = direction > 0.0f;
    if ((forward && rm.frameA > frameA) || (!forward && rm.frameA < frameA)) {
        // Looped: the motion up to the end of the old pass counts, the jump
        // back to the start of the new one does not.
        BoneTransform end = BoneTransform::identity();
        const std::int32_t endFrame = forward ? lastFrame + 1 : 0;
        sampleAt(track, endFrame, endFrame, 0.0, end, loaded);
        addWeighted(rm.accumulated, delta(rm.last, end), weight);
        rm.last = end;
        const std::int32_t startFrame = forward ? 0 : lastFrame + 1;
        rm.frameA = rm.frameB = startFrame;
        rm.fraction = 0.0;
        sampleAt(track, startFrame, startFrame, 0.0, rm.last, loaded);
    }
    addWeighted(rm.accumulated, delta(rm.last, sample), weight);
    rm.last = sample;
    rm.frameA = frameA;
    rm.frameB = frameB;
    rm.fraction = fraction;
    rm.weight = weight;
}

bool AnimationInstance::initialize() {
    if (flags & kInstanceInvalid) return false;
    if (flags & kInstanceInitialized) {
        reportState("Can't initialize twice: already initialized");
        return false;
    }
    const AnimationData* loaded = data();
    if (!loaded) {
        flags |= kInstanceInvalid;
        return false;
    }
    if (!bindBones()) return false;
    lastFrame = loaded->frameCount - 1;
    // A one-frame animation holds its frame: there is no step to divide.
    frameStep = lastFrame > 0 ? 1.0 / lastFrame : 0.0;
    direction = 1.0f;
    if (flags & kInstanceRandomDirection) direction = std::rand() % 10 > 5 ? 1.0f : -1.0f;
    if (flags & kInstanceReverse) direction = -direction;
    if (flags & kInstanceRandomStart) {
        const double r = MersenneTwister::nextDouble();
        position = r >= 1.0 ? 0.0 : r;
    }
    flags &= ~kInstanceBit8;
    if (!loaded->particles.empty()) {
        flags |= kInstanceHasParticles;
        createAttachedParticles(*loaded);
    }
    flags |= kInstanceInitialized;
    if (!loaded->events.empty()) flags |= kInstanceHasEvents;
    else flags &= ~kInstanceHasEvents;
    return true;
}

void AnimationInstance::createAttachedParticles(const AnimationData& loaded) {
    if (!owner) return;
    // The owner's placement as it stands now; each particle then follows
    // its bone through its link.
    const Matrix34 pose = owner->worldMatrix;
    for (const AnimationParticleRecord& stored : loaded.particles) {
        ModelParticleAttachment record;
        static_assert(sizeof(record) == sizeof(stored));
        std::memcpy(&record, &stored, sizeof(record));
        GameObjectLink made;
        owner->addParticle(record, pose, made);
    }
}

// Attached particles are named after their model and record, so an
// instance that replaces one of the same animation shares its particle: it
// stays while another running instance of the model still attaches it.
bool AnimationInstance::particleHeldByOther(const char* particleName) const {
    if (!owner) return false;
    for (AnimationStack* stack : {&owner->animation.body(), &owner->animation.face()})
        for (const std::unique_ptr<AnimationInstance>& other : stack->instances()) {
            if (other.get() == this || !(other->flags & kInstanceHasParticles)) continue;
            const AnimationData* loaded = other->data();
            if (!loaded) continue;
            for (const AnimationParticleRecord& record : loaded->particles)
                if (std::strncmp(record.names[0], particleName, sizeof(record.names[0])) == 0) return true;
        }
    return false;
}

bool AnimationInstance::bindBones() {
    const AnimationData* loaded = data();
    if (!loaded || !owner) return false;
    return ModelAnimation::bindTrackerMapOrDefault(owner->animation.skeleton, *loaded, boneMap, part);
}

bool AnimationInstance::push() {
    if (!(flags & kInstanceInitialized) && !initialize()) {
        reportState("Can't push animation on stack: Initialize first");
        return false;
    }
    if (flags & kInstancePushed) {
        reportState("Can't push animation on stack: Already registered");
        return false;
    }
    return animation && animation->pushReference(this);
}

bool AnimationInstance::pop() {
    if (!(flags & kInstancePushed)) {
        reportState("Can't pop animation from stack: Push first");
        return false;
    }
    if (!animation) {
        flags &= ~kInstancePushed;
        return true;
    }
    return animation->popReference(this);
}

void AnimationInstance::stop() {
    if (!(flags & kInstanceInitialized)) return;
    if (flags & kInstancePushed) pop();
    if (flags & kInstanceHasParticles) {
        flags &= ~kInstanceHasParticles;
        if (const AnimationData* loaded = data(); loaded && owner)
            for (const AnimationParticleRecord& record : loaded->particles)
                if (!particleHeldByOther(record.names[0])) owner->removeParticle(record.names[0]);
    }
    stopEventSounds();
    std::vector<std::int32_t>().swap(boneMap);
    flags &= ~kInstanceInitialized;
}

bool AnimationInstance::playEventSound(const char* sound, const float* at) {
    const bool played = gameCore.playSoundAt(sound, at, soundGroup_);
    flags |= kInstanceSoundsPlaying;
    return played;
}

void AnimationInstance::stopEventSounds() {
    if ((flags & kInstanceHasEvents) && (flags & kInstanceSoundsPlaying)) {
        gameCore.stopSoundEffects(soundGroup_);
        flags &= ~kInstanceSoundsPlaying;
    }
}

void AnimationInstance::dispatch(const char* text, const CurrentTime& time, std::int32_t phase) {
    Model::onAnimationEvent(this, owner, text, time, phase, true);
}

void AnimationInstance::eventPass(const CurrentTime& time, bool suppressEvents) {
    if (!(flags & kInstanceInitialized) || !blender.enabled || blender.level == 0.0f || !(flags & kInstanceHasEvents))
        return;
    const AnimationData* loaded = data();
    if (!loaded || loaded->events.empty()) return;
    const std::int32_t prev = static_cast<std::int32_t>(previousPosition * lastFrame);
    const std::int32_t cur = static_cast<std::int32_t>(position * lastFrame);
    auto crossed = [&](std::int32_t f) { return f >= prev && (f <= cur || prev > cur); };
    // A forward interval begins on the frame the one before ended on: that
    // frame was examined already, so an event that starts and ends on it
    // fires once, not once for every update spent on it.
    const bool seen = prev <= cur && prev == lastEventFrame;
    auto entered = [&](std::int32_t f) { return crossed(f) && !(seen && f == prev); };
    lastEventFrame = prev <= cur ? cur : -1;
    const bool allowed = !suppressEvents && blender.enabled && blender.level > 0.7f;
    const std::int32_t count = static_cast<std::int32_t>(loaded->events.size());
    for (std::int32_t i = 0; i < count; ++i) {
        const AnimationEvent& event = loaded->events[static_cast<std::size_t>(i)];
        if (i >= 64) {
            // Only 64 events are tracked: the rest are reported, not fired.
            pendingStart.test(i);
            continue;
        }
        bool s = entered(event.from);
        bool e = entered(event.to);
        if (allowed) {
            if (pendingStart.test(i)) s = true, pendingStart.clear(i);
            if (pendingEnd.test(i)) e = true, pendingEnd.clear(i);
            if (s && !fired.test(i)) {
                dispatch(event.name, time, 0);
                fired.set(i);
            }
            if (e && fired.test(i)) {
                dispatch(event.name, time, 1);
                fired.clear(i);
            }
        } else {
            if (s) pendingEnd.clear(i), pendingStart.set(i);
            if (e) pendingStart.clear(i), pendingEnd.set(i);
        }
    }
    if (!(flags & kInstanceSoundsPlaying)) return;
    bool a = crossed(lastFrame);
    bool b = crossed(0);
    if (releaseBits & kReleasePendingStart) releaseBits &= ~kReleasePendingStart, a = true;
    if (releaseBits & kReleasePendingEnd) releaseBits &= ~kReleasePendingEnd, b = true;
    if (a && !(releaseBits & kReleaseFired)) {
        dispatch(kReleaseSounds, time, 0);
        releaseBits |= kReleaseFired;
    }
    if (b && (releaseBits & kReleaseFired)) {
        dispatch(kReleaseSounds, time, 1);
        releaseBits &= ~kReleaseFired;
    }
}

std::int32_t AnimationInstance::writeState(DataStream& s) const {
    std::int32_t total = 0;
    if (!addField(total, writeF64(s, previousPosition))) return total;
    if (!addField(total, writeF64(s, position))) return total;
    if (!addField(total, writeF32(s, direction))) return total;
    if (!addField(total, writeF32(s, speed))) return total;
    if (!addField(total, writeI32(s, lastFrame))) return total;
    if (!addField(total, s.write(padding, 4))) return total;
    if (!addField(total, writeF64(s, frameStep))) return total;
    if (!addField(total, writeI32(s, frameA))) return total;
    if (!addField(total, writeI32(s, frameB))) return total;
    if (!addField(total, writeF64(s, fraction))) return total;
    if (!addField(total, blender.write(s))) return total;
    if (!addField(total, writeI32(s, part))) return total;
    // Registration and the restored mark are run-time state: a loaded game
    // saved again writes the same bytes.
    if (!addField(total, writeU32(s, flags & ~(kInstancePushed | kInstanceRestored)))) return total;
    if (!addField(total, writeU32(s, fired.words[0]))) return total;
    if (!addField(total, writeU32(s, fired.words[1]))) return total;
    if (!addField(total, writeU8(s, rootMotion.valid))) return total;
    if (!addField(total, s.write(rootPadding, 3))) return total;
    if (!addField(total, writeF32(s, rootMotion.weight))) return total;
    if (!addField(total, writeI32(s, rootMotion.frameA))) return total;
    if (!addField(total, writeI32(s, rootMotion.frameB))) return total;
    if (!addField(total, writeF64(s, rootMotion.fraction))) return total;
    for (const BoneTransform* t : {&rootMotion.last, &rootMotion.accumulated})
        for (int i = 0; i < 10; ++i)
            if (!addField(total, writeF32(s, t->values()[i]))) return total;
    return total;
}

std::int32_t AnimationInstance::readState(DataStream& s) {
    std::int32_t total = 0;
    if (!addField(total, readF64(s, previousPosition))) return total;
    if (!addField(total, readF64(s, position))) return total;
    if (!addField(total, readF32(s, direction))) return total;
    if (!addField(total, readF32(s, speed))) return total;
    if (!addField(total, readI32(s, lastFrame))) return total;
    if (!addField(total, readExact(s, padding, 4))) return total;
    if (!addField(total, readF64(s, frameStep))) return total;
    if (!addField(total, readI32(s, frameA))) return total;
    if (!addField(total, readI32(s, frameB))) return total;
    if (!addField(total, readF64(s, fraction))) return total;
    if (!addField(total, blender.read(s))) return total;
    if (!addField(total, readI32(s, part))) return total;
    if (!addField(total, readU32(s, flags))) return total;
    if (!addField(total, readU32(s, fired.words[0]))) return total;
    if (!addField(total, readU32(s, fired.words[1]))) return total;
    if (!addField(total, readU8(s, rootMotion.valid))) return total;
    if (!addField(total, readExact(s, rootPadding, 3))) return total;
    if (!addField(total, readF32(s, rootMotion.weight))) return total;
    if (!addField(total, readI32(s, rootMotion.frameA))) return total;
    if (!addField(total, readI32(s, rootMotion.frameB))) return total;
    if (!addField(total, readF64(s, rootMotion.fraction))) return total;
    for (BoneTransform* t : {&rootMotion.last, &rootMotion.accumulated})
        for (int i = 0; i < 10; ++i)
            if (!addField(total, readF32(s, t->values()[i]))) return total;
    flags &= ~kInstancePushed;
    flags |= kInstanceRestored;
    pendingStart.clearAll();
    pendingEnd.clearAll();
    // Positions, speed and steps that no play could make are damaged input:
    // the instance keeps its saved flags but starts from a rewound state.
    const bool sound = std::isfinite(previousPosition) && std::isfinite(position) && std::isfinite(direction) &&
                       std::isfinite(speed) && std::isfinite(frameStep) && std::isfinite(fraction);
    if (!sound) {
        engineLog().error("Animation [%s]->[%s] (%s): invalid saved play state", name, ownerName(owner),
                          ownerResource(owner));
        if (!std::isfinite(speed)) speed = 1.0f;
        if (!std::isfinite(direction)) direction = 1.0f;
        frameStep = lastFrame > 0 ? 1.0 / lastFrame : 0.0;
        fraction = 0.0;
        frameA = frameB = -1;
        rewind();
    }
    return total;
}

std::int32_t AnimationInstance::write(DataStream& s) const {
    const std::size_t length = strnlen(name, sizeof(name) - 1);
    std::int32_t total = 0;
    if (!addField(total, writeU16(s, static_cast<std::uint16_t>(length)))) return total;
    if (length == 0) return total;
    if (!addField(total, s.write(name, static_cast<std::int32_t>(length)))) return total;
    addField(total, writeState(s));
    return total;
}

std::int32_t AnimationInstance::read(DataStream& s, AnimationInstance*& slot, Model* owner) {
    char saved[128] = {};
    std::int32_t total = 0;
    // A name of 128 characters or more is refused before its bytes are read.
    if (!addField(total, readString16(s, saved, sizeof(saved)))) {
        engineLog().error("Can't load animation instance: damaged name");
        return total;
    }
    if (!saved[0]) return total;
    Y3AnimData* record = gameCore.animation ? gameCore.animation->animations().getOrCreate(saved, false) : nullptr;
    if (record && !slot) slot = new AnimationInstance(owner, record, record->name, 0);
    if (!slot) {
        engineLog().error("Can't load animation %s. Ignored", saved);
        AnimationInstance dummy(owner, nullptr, "dummy", 0);
        addField(total, dummy.readState(s));
        dummy.flags = 0;
        return total;
    }
    if (!addField(total, slot->readState(s))) return total;
    // An animation the packages no longer hold makes the restored instance
    // invalid, whatever it was saved as: it takes no part in the blend, and
    // the rest of the game restores.
    if (!slot->data()) {
        engineLog().error("Animation [%s]->[%s] (%s): its data can't be loaded, the restored instance is invalid",
                          slot->name, ownerName(owner), ownerResource(owner));
        slot->flags = (slot->flags & ~(kInstanceInitialized | kInstancePushed)) | kInstanceInvalid;
    }
    return total;
}

void AnimationInstance::copyState(const AnimationInstance& other) {
    previousPosition = other.previousPosition;
    position = other.position;
    direction = other.direction;
    speed = other.speed;
    lastFrame = other.lastFrame;
    frameStep = other.frameStep;
    frameA = other.frameA;
    frameB = other.frameB;
    fraction = other.fraction;
    blender = other.blender;
    rootMotion = other.rootMotion;
}
