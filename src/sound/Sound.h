// A sound that plays: a bank sound with looping, a 3D position, a volume
// 0..100 and a fade. It borrows a play instance of its bank sound only while
// it is audible: it connects on play, disconnects on stop, and mutes (gives
// the instance back) when its effective volume falls to silence.
//
// The volume kept is the script's (0..100, what a save holds); the distance
// factor of a 3D sound and the channel volumes are applied at each apply, so
// refreshing never compounds them.
#pragma once

#include <cstdint>
#include <string>

#include "platform/sound/DirectSound.h"

class BankSound;
class SoundInstance;

class Sound {
public:
    static constexpr std::uint32_t kLooped = 1u << 0;
    static constexpr std::uint32_t kPlaying = 1u << 1;
    static constexpr std::uint32_t kConnected = 1u << 2;
    static constexpr std::uint32_t kPushed = 1u << 3;
    static constexpr std::uint32_t kInEvent = 1u << 4;
    static constexpr std::uint32_t kMuted = 1u << 5;
    static constexpr std::uint32_t k3D = 1u << 6;
    static constexpr std::uint32_t kPositioned = 1u << 7;
    static constexpr std::uint32_t kMoved = 1u << 9;
    static constexpr std::uint32_t k3dChanged = 1u << 10;
    static constexpr std::uint32_t kRestorePending = 1u << 11;
    static constexpr std::uint32_t kVolumeFromPlay = 1u << 12;
    // Released by the sound code once it has ended (automatic sounds, a
    // stopped movie's sound).
    static constexpr std::uint32_t kAutoRelease = 1u << 13;
    static constexpr std::uint32_t kAutoReleaseArmed = 1u << 14;
    static constexpr std::uint32_t kFinished = 1u << 15;
    static constexpr std::uint32_t kSoftAttenuation = 1u << 20;

    Sound() = default;
    Sound(BankSound* bankSound, const char* name, bool looped, bool want3D);
    // Disconnects and pops what is still held.
    ~Sound();
    Sound(const Sound&) = delete;
    Sound& operator=(const Sound&) = delete;

    // Lists the sound on its bank sound, and unlists it (disconnecting first).
    bool push();
    bool pop();
    bool connect(bool allocate, double startTime);
    bool disconnect();
    bool play(bool allocate, bool autorelease);
    bool stop(bool withEvent);
    // The script's volume 0..100; applied with the distance factor and the
    // channel volumes, muting or unmuting as the result is silent or not.
    bool setVolume(float volume);
    // Re-applies the stored volume of a playing sound.
    bool refreshMute();
    // Stores a new position unless it is within 0.05 of the stored one and
    // no move is pending; true when it changed.
    bool setPosition(const D3DVECTOR& position, bool keep);
    // The soft distance factor at distance d (1.0 at or below the minimum).
    static float distanceFactor(float distance);
    // The bank sound's length in seconds; 0.0 when it cannot be opened.
    double getDuration();
    // "AUTO-<channel list name>-<8 hex digits>" from a 32-bit counter.
    std::string makeAutoName() const;

    // Starts a volume fade to silence over the given seconds.
    void fade(float seconds);

    bool playing() const { return (flags & kPlaying) != 0; }
    bool muted() const { return (flags & kMuted) != 0; }
    SoundInstance* instance() const { return instance_; }
    BankSound* bankSound() const { return bank_; }

    // The object's name, used in the sound messages.
    std::string name;
    std::uint32_t flags = 0;
    double keptPosition = 0.0;
    float volume = 100.0f;
    DS3DBUFFER parameters{};
    bool fading = false;
    float fadeSeconds = 0.0f;

private:
    // Applies the script volume v; force skips the unchanged test.
    bool applyVolume(float v, bool force);

    BankSound* bank_ = nullptr;
    SoundInstance* instance_ = nullptr;
    // The volume last applied, -1 when none.
    float applied_ = -1.0f;
};

// The movie code's fade of a stopped movie's sound: fades it over the
// seconds given and leaves it to the sound code to release.
void fadeMovieSound(Sound* sound, float seconds);
