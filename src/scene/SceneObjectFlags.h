// What the scene reads and writes of its objects beyond GameObject: the
// state-flag word (pending deletion, on stack, playing...) and the update
// group. Object classes that take part in the scene's per-frame walks and
// pending deletions implement it beside GameObject.
#pragma once

#include <cstdint>

// Bits of a model's state word.
constexpr std::uint32_t kModelPendingDeleteFlag = 0x80000000u;
// The drawing data is to be refreshed at the model's next update (after
// the render device was made anew).
constexpr std::uint32_t kModelRefreshFlag = 0x40000;
// Both bits: a model with a head that looks and is looked at.
constexpr std::uint32_t kLookTargetKind = 0x2000008;
constexpr std::uint32_t kModelVisible = 0x2;
// Bits of a sound's state word.
constexpr std::uint32_t kSoundOnStackFlag = 0x8;
constexpr std::uint32_t kSoundAllocatedFlag = 0x4;
constexpr std::uint32_t kSoundAutomaticFlag = 0x2000;
constexpr std::uint32_t kSoundFadeDeleteFlag = 0x4000;
constexpr std::uint32_t kSoundPendingDeleteFlag = 0x8000;
// Bit of a particle's state word: pushed.
constexpr std::uint32_t kParticleOnStack = 0x2000;
// Bits of a light's state word: both of kLightCollectable take part in
// volume collection; kLightOnStack is the pushed bit.
constexpr std::uint32_t kLightOnStack = 0x20000;
constexpr std::uint32_t kLightCollectable = 0x120000;

class SceneObjectFlags {
public:
    virtual std::uint32_t& stateFlags() = 0;
    // 0 for the first update group, non-zero for the second.
    virtual std::uint32_t updateGroup() const { return 0; }
    // Whether the object is pushed; an object without its own pushed flag
    // is taken as pushed while its scene is.
    virtual bool isOnStack() { return true; }

protected:
    ~SceneObjectFlags() = default;
};
