// The sound bank: per channel, every sound resource the game has asked for,
// each one BankSound, in a list sorted by resource name (byte-wise).
//
// Bank sounds are created closed and live until the release phase; the
// sound thread's tick keeps them: it refills and ends play instances, drops
// cached ones and closes a sound nobody used for 30 seconds of game time.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sound/BankSound.h"

class Sound;

class SoundBank {
public:
    SoundBank() = default;
    // Releases the packages and frees the lists.
    ~SoundBank();
    SoundBank(const SoundBank&) = delete;
    SoundBank& operator=(const SoundBank&) = delete;

    // The channel's bank sound of that resource name, created (closed) at its
    // sorted place when absent. Null only for a channel outside 0..4.
    BankSound* acquire(std::int32_t channel, const char* name, const char* aliasText);
    // The resource an alias names on a channel: a resource of that exact
    // name in the channel's source ("direct"), else the alias variable of
    // the scene being loaded, else the shared one, else the alias itself.
    // A name ending in "##" becomes one of its numbered variants at random.
    // Names are cut to 127 characters, alias paths to 511.
    static void resolveAlias(std::int32_t channel, const char* alias, std::string& name, std::string& aliasText);
    // Resolves an alias and acquires its bank sound.
    BankSound* findByAlias(std::int32_t channel, const char* alias);
    // A sound object of a bank sound (flags bit 0: 3D, bit 1: looped; the
    // looping channels always loop), pushed on it when asked. Without a
    // device or at master volume 0: a silent placeholder when makeIfSilent,
    // else null. Null (logged) when the resource is missing.
    Sound* createSound(BankSound* bankSound, std::uint32_t flags, const char* name, bool push, bool makeIfSilent);
    // Before a load: new instances wait for their buffers, and every open
    // bank sound no longer pushed gives its buffers back (progress stage 6).
    // True when all were given back.
    bool deallocateAll();
    // After a load: every bank sound with pushed sounds and a closed source
    // gets buffers for its instances (progress stage 12); new instances get
    // their buffer at once again when all succeeded.
    bool allocateAll();
    // Releases every bank sound; a channel whose sounds all closed is freed,
    // any other stays (logged). True when all channels were freed.
    bool releasePackages();

    const std::vector<BankSound*>& channel(std::int32_t index) const { return lists_[index]; }

    // New instances get their buffer at once while true (false during a load).
    bool buffersAllocated = true;

private:
    friend void updateSoundBank(SoundBank& bank, double now);
    std::vector<BankSound*> lists_[kSoundChannelCount];
};

// The channel's list and settings name ("effect" … "music"), "master" for 6.
const char* soundChannelListName(std::int32_t channel);

// Seconds an unused open bank sound stays open.
constexpr double kBankSoundIdleSeconds = 30.0;

// The sound thread's tick at game time now, under the engine lock: upkeep of
// the instances of every open sound with users; an open sound with neither
// instances nor pushed sounds is closed once idle over 30 s.
void updateSoundBank(SoundBank& bank, double now);
