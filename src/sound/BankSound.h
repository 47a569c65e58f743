// One sound resource of the sound bank: the ".ogg" file of a channel's
// package source, its decoder and its play instances.
//
// This holds the record's fields that decoding and the buffers reach; the
// bank's own operations (acquire, open, instance upkeep, release) work on
// the same record.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sound/OggSource.h"

class Sound;
class SoundInstance;

// The sound channels (indexes of the channel lists and volumes).
enum SOUND_CHANNEL : std::int32_t {
    SoundChannelEffect = 0,
    SoundChannelVoice = 1,
    SoundChannelAmbient = 2,
    SoundChannelAmbientLoop = 3,
    SoundChannelMusic = 4,
};
constexpr std::int32_t kSoundChannelCount = 5;

// The package source a channel's sounds are found in ("effect", "voice",
// "ambient" for both ambient channels, "music"); empty outside 0..4.
const char* soundChannelSource(std::int32_t channel);
// Only Voice sounds must be mono.
bool soundChannelNeedsMono(std::int32_t channel);

class BankSound {
public:
    BankSound(const char* name, std::int32_t channel, const char* alias);
    // Frees the instances still listed (their buffers deallocated).
    ~BankSound();
    BankSound(const BankSound&) = delete;
    BankSound& operator=(const BankSound&) = delete;

    // The resource name (without ".ogg"), used in every message.
    const char* name() const { return name_.c_str(); }
    std::int32_t channel() const { return channel_; }
    const char* alias() const { return alias_.c_str(); }
    // The output format the decoder gives (zero while closed).
    const WAVEFORMATEX& format() const { return source.format(); }
    // Opens the decoder with the channel's mono rule.
    // Opens the decoder with the channel's mono rule under the engine lock;
    // a sound already open is refused.
    bool open();
    // Closes the decoder; refused (the source stays) while instances or
    // pushed sounds are left, unless the game is shutting down.
    bool release();
    // The sound's length in seconds, opening it when needed; 0.0 when it
    // cannot be opened.
    double getDuration();

    // A new play instance: a duplicate of the first one when there is one
    // (whole buffers only), else a new buffer, allocated at once when
    // allocate is asked or the bank's buffers are allocated. Null on failure.
    SoundInstance* newInstance(bool allocate, bool want3D);
    // Gives an instance back: a whole allocated buffer stays cached (released
    // bit and time) for duplication, any other instance is deleted at once.
    bool releaseInstance(SoundInstance* instance);
    // Deletes the instance at index; the last one moves into its slot.
    void deleteInstance(std::size_t index);
    // The sound thread's upkeep of the instances at game time now.
    void updateInstances(double now);

    // Lists and unlists a sound object that uses this sound.
    bool push(Sound* sound);
    bool pop(Sound* sound);

    bool allocateInstances();
    // Deallocates the cached buffers; those sounds hold stay.
    bool deallocateInstances();

    OggSource source;
    std::vector<SoundInstance*> instances;
    std::vector<Sound*> sounds;
    // Game time of the last upkeep with users; 0 after opening.
    double lastUsed = 0.0;
    // The bank whose buffers-allocated state new instances follow.
    class SoundBank* bankOwner = nullptr;

private:
    std::string name_;
    std::int32_t channel_;
    std::string alias_;
};
