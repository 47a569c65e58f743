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
    // The output format the decoder gives (zero while closed or silent).
    const WAVEFORMATEX& format() const { return source.format(); }
    // Opens the decoder with the channel's mono rule.
    bool open() { return source.open(soundChannelNeedsMono(channel_)); }

    OggSource source;
    std::vector<SoundInstance*> instances;

private:
    std::string name_;
    std::int32_t channel_;
    std::string alias_;
};
