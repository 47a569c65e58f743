// The animation instances of one stack of a model (0 body, 1 face), played
// in order, the newest last. Pushing a sequence fades out what plays and
// appends one instance per element, each with a blend envelope that fades
// it in after its predecessor; an idle sequence is kept and pushed again
// whenever it ends. Every frame the stack advances its instances, drops
// the finished ones, and blends their samples bone by bone into the
// skeleton's local poses.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "animation/AnimationInstance.h"
#include "animation/AnimationSequence.h"
#include "foundation/BlenderHeader.h"

class DataStream;
class Model;
struct CurrentTime;

// The animation part of the body and of the face.
constexpr std::int32_t kBodyPart = 0;

class AnimationStack {
public:
    explicit AnimationStack(Model* owner) : owner_(owner) {}
    ~AnimationStack();
    AnimationStack(const AnimationStack&) = delete;
    AnimationStack& operator=(const AnimationStack&) = delete;

    // Pushes every element of a compiled sequence; false when one failed
    // (the others are still pushed).
    bool pushSequence(const AnimationSequence& sequence, std::int32_t part, bool append, bool idleRestart,
                      bool control);
    bool pushElement(const SequenceElement& element, const SequenceElement* next, bool first, std::int32_t part,
                     bool append, bool control);
    // Makes the instance of a slot at its start position and speed.
    bool createInstance(std::unique_ptr<AnimationInstance>& slot, const char* name, float speed, double position,
                        std::uint32_t startFlags, std::int32_t part);

    // The frame step: sequence clock, idle restart, the instances' update
    // and the clean-up. True when an instance changed.
    bool update(const CurrentTime& time, bool idle);
    // True when the model's state asks for a refresh or an instance changed
    // (the changed bits are cleared).
    bool takeChanged();
    // The blend of one bone over every instance into pose; false (pose
    // untouched) when no instance has weight.
    bool evaluateBone(BoneTransform& pose, BoneTransform& motion, const BoneTransform& additive, std::int32_t bone,
                      const float* partWeights, std::uint32_t mode);

    bool push();
    bool pop();
    // Stops and destroys every instance and forgets the idle sequence.
    void clear();

    float getSpeed(std::int32_t part) const;
    float getDirection(std::int32_t part) const;
    float getPosition(std::int32_t part) const;
    // An initialized instance plays with weight, away from its start and
    // not held.
    bool isPlaying() const;

    std::int32_t write(DataStream& stream) const;
    std::int32_t read(DataStream& stream);

    Model* owner() const { return owner_; }
    std::vector<std::unique_ptr<AnimationInstance>>& instances() { return instances_; }
    const std::vector<std::unique_ptr<AnimationInstance>>& instances() const { return instances_; }

    double sequenceClock = 0.0;
    BlenderHeader idleEnvelope;
    std::int32_t storedPart = -1;
    AnimationSequence idleSequence;

private:
    void removeInstance(std::size_t index);

    Model* owner_;
    std::vector<std::unique_ptr<AnimationInstance>> instances_;
};
