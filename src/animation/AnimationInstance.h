// One animation played on one model: its play position and speed, its
// blend envelope, the map from the model's skeleton bones to the
// animation's tracks, its events and its root motion.
//
// The position is a fraction 0 to 1 of the animation, advanced at 25 frames
// a second; the blender's level is the instance's blend weight. Every frame
// the owner's stack calls update (time, envelope, events) and then samples
// each bone through sampleBone. An instance registers itself with its
// animation resource (push) while its model is in the scene; stop undoes
// everything initialize and push did. Main thread only.
#pragma once

#include <cstdint>
#include <vector>

#include "animation/BoneTransform.h"
#include "foundation/BlenderHeader.h"
#include "resources/Y3ResourceManager.h"

class AnimationSequence;
class DataStream;
class Model;
class Y3AnimData;
struct AnimationData;
struct CurrentTime;

// Instance flag bits.
constexpr std::uint32_t kInstanceLoop = 0x1;
constexpr std::uint32_t kInstanceRandomStart = 0x2;
constexpr std::uint32_t kInstanceRandomDirection = 0x4;
constexpr std::uint32_t kInstanceReverse = 0x8;
constexpr std::uint32_t kInstanceHold = 0x10;
constexpr std::uint32_t kInstanceChanged = 0x20;
constexpr std::uint32_t kInstanceBit8 = 0x100;
constexpr std::uint32_t kInstancePushed = 0x200;
constexpr std::uint32_t kInstanceInitialized = 0x400;
constexpr std::uint32_t kInstanceRestored = 0x800;
constexpr std::uint32_t kInstanceHasEvents = 0x100000;
constexpr std::uint32_t kInstanceHasParticles = 0x200000;
constexpr std::uint32_t kInstanceSoundsPlaying = 0x400000;
constexpr std::uint32_t kInstanceInvalid = 0x800000;
// Kept beside the instance flags, never saved with them: the sound release
// is re-armed and fired through its own bit, not through event 63's.
constexpr std::uint32_t kInstanceStartFlags = 0x1F;

// Mode bits of sampleBone and AnimationStack::evaluateBone.
constexpr std::uint32_t kSampleAdditive = 0x1;
constexpr std::uint32_t kSampleRootMotion = 0x2;
constexpr std::uint32_t kSampleMasked = 0x4;

// 64 event bits. A bit past 63 is refused with a message on every test,
// set and clear.
struct BitSet64 {
    std::uint32_t words[2] = {0, 0};

    bool test(std::int32_t bit) const;
    void set(std::int32_t bit);
    void clear(std::int32_t bit);
    void clearAll() { words[0] = words[1] = 0; }
    std::uint64_t value() const { return words[0] | (std::uint64_t(words[1]) << 32); }
    void setValue(std::uint64_t v) {
        words[0] = std::uint32_t(v);
        words[1] = std::uint32_t(v >> 32);
    }
};

// The root motion of an instance: where the last extraction sampled and
// the weighted motion gathered since the stack last took it.
struct RootMotionState {
    std::uint8_t valid = 0;
    float weight = 0.0f;
    std::int32_t frameA = -1;
    std::int32_t frameB = -1;
    double fraction = 0.0;
    BoneTransform last = BoneTransform::zero();
    BoneTransform accumulated = BoneTransform::zero();

    void clear() { *this = RootMotionState(); }
};

// The values of one track at one whole frame: rotation starts as the
// identity; translation and scale keep what out held for channels without
// keys.
void sampleTrackFrame(std::int32_t frame, std::int32_t track, BoneTransform& out, const AnimationData& data);

class AnimationInstance : public ResourceUser {
public:
    AnimationInstance(Model* owner, Y3AnimData* animation, const char* name, std::uint32_t flags);
    // Reports an instance still initialized or pushed, and pops a pushed
    // one, so that its animation keeps no reference to it.
    ~AnimationInstance();
    AnimationInstance(const AnimationInstance&) = delete;
    AnimationInstance& operator=(const AnimationInstance&) = delete;

    const char* resourceUserName() const override { return name; }
    bool resourcePushed() const override { return (flags & kInstancePushed) != 0; }
    void setResourcePushed(bool pushed) override {
        flags = pushed ? flags | kInstancePushed : flags & ~kInstancePushed;
    }

    // One frame: envelope, initialisation, events, the advance. False only
    // when the instance cannot be initialized.
    bool update(const CurrentTime& time, bool suppressEvents);
    // The bone's sample at the current frames, the weight scaled by
    // invTotal first; false when the animation does not drive the bone.
    bool sampleBone(std::int32_t bone, BoneTransform& sample, float invTotal, std::uint32_t mode);

    bool initialize();
    bool bindBones();
    bool push();
    bool pop();
    void stop();

    // Rewinds to the start of the direction of play (1 backward, else 0).
    void rewind();
    // A speed that is not a finite number is refused (logged, false).
    bool setSpeed(float value);
    bool isInitialized() const { return (flags & kInstanceInitialized) != 0; }
    // Enabled with a level above 0 (the instance takes part in the blend).
    bool isPlaying() const { return blender.enabled && blender.level != 0.0f; }
    // The envelope's end less its elapsed time (when that is positive).
    double remainingTime() const;
    // The loaded data of the animation, loading it on demand; null when it
    // cannot be had.
    AnimationData* data() const;

    // Event sounds: played in this instance's group and stopped together.
    bool playEventSound(const char* sound, const float* position);
    void stopEventSounds();
    const char* soundGroup() const { return soundGroup_; }

    std::int32_t writeState(DataStream& stream) const;
    std::int32_t readState(DataStream& stream);
    // u16 name length, the name, then the state when the name is not empty.
    std::int32_t write(DataStream& stream) const;
    // Reads a saved instance into slot (null for an empty record). A name
    // no instance can be made of is read into a throw-away instance and
    // dropped, so that the stream stays aligned.
    static std::int32_t read(DataStream& stream, AnimationInstance*& slot, Model* owner);
    void copyState(const AnimationInstance& other);

    float weight = 0.0f;
    Model* owner = nullptr;
    Y3AnimData* animation = nullptr;
    char name[128] = {};
    double previousPosition = 0.0;
    double position = 0.0;
    float direction = 1.0f;
    float speed = 1.0f;
    std::int32_t lastFrame = 0;
    double frameStep = 0.0;
    std::int32_t frameA = -1;
    std::int32_t frameB = -1;
    double fraction = 0.0;
    BlenderHeader blender;
    std::int32_t part = 0;
    std::uint32_t flags = 0;
    BitSet64 pendingStart;
    BitSet64 pendingEnd;
    BitSet64 fired;
    // The sound release's own pending and fired bits (start, end, fired).
    std::uint8_t releaseBits = 0;
    // The last frame the event pass examined going forward (-1: none), so
    // that a frame is entered once; not saved.
    std::int32_t lastEventFrame = -1;
    std::vector<std::int32_t> boneMap;
    RootMotionState rootMotion;
    // The alignment bytes of the play block, written back as they were read.
    std::uint8_t padding[4] = {};
    std::uint8_t rootPadding[3] = {};

private:
    void eventPass(const CurrentTime& time, bool suppressEvents);
    void releaseSoundsPass(const CurrentTime& time);
    void dispatch(const char* text, const CurrentTime& time, std::int32_t phase);
    // The sample at frames a and b (fraction t) without root motion.
    bool sampleAt(std::int32_t track, std::int32_t a, std::int32_t b, double t, BoneTransform& sample,
                  const AnimationData& data) const;
    void extractRootMotion(std::int32_t track, const BoneTransform& sample, const AnimationData& data);
    void reportState(const char* what) const;
    // The animation's particle attachments made on the owner (paused until
    // a "particle" event starts them, unless named "bg_...").
    void createAttachedParticles(const AnimationData& loaded);
    // Whether another running instance of the owner attaches the particle.
    bool particleHeldByOther(const char* particleName) const;

    char soundGroup_[12] = {};
};
