// Sound buffers: one DirectSound secondary buffer per play instance of a
// bank sound.
//
// A sound short enough to fit the channel's buffer length (Effect 1.5 s,
// the others 1.0 s) is decoded whole into its buffer; a longer one plays
// through the buffer as a ring that the decoder refills on every tick of the
// sound thread. Whole buffers can be duplicated, so several instances of one
// sound share its data.
//
// The stream state counts bytes in the ring: the decoded sound data, all
// data written (sound and closing silence) and the play cursor last seen,
// each as a position, a wrap total and the buffer size. The write region
// between them is computed with signed 64-bit values, so a writer overtaken
// by the player and a full buffer are both seen.
//
// Every operation that touches the device takes the engine lock.
#pragma once

#include <cstdint>

#include "platform/sound/DirectSound.h"

class BankSound;
class SoundCore;
class SoundInstance;

// The effective volume 0..100 in hundredths of a decibel: 0 for 100, -1000
// for 50, DSBVOLUME_MIN for 0 and everything below it.
LONG toDirectSoundVolume(float volume);

// One group of the stream state.
struct SoundStreamPosition {
    std::uint32_t position = 0;
    std::uint32_t wraps = 0;  // bytes added by every wrap at the buffer's end
    std::uint32_t size = 0;
    std::int64_t total() const { return static_cast<std::int64_t>(wraps) + position; }
    // Moves on by bytes, wrapping at the size.
    void advance(std::uint32_t bytes);
};

class SoundBuffer {
public:
    static constexpr std::uint32_t kPlaying = 0x01;
    static constexpr std::uint32_t kLooped = 0x04;
    static constexpr std::uint32_t k3D = 0x08;
    static constexpr std::uint32_t kStreamed = 0x10;
    static constexpr std::uint32_t kLost = 0x20;
    static constexpr std::uint32_t kPlayStarted = 0x40;
    static constexpr std::uint32_t kReleased = 0x80;
    // Bytes kept free before the play cursor.
    static constexpr std::int64_t kGuardBytes = 32;

    SoundBuffer(SoundInstance* owner, bool want3D);
    ~SoundBuffer();
    SoundBuffer(const SoundBuffer&) = delete;
    SoundBuffer& operator=(const SoundBuffer&) = delete;

    bool allocate();
    bool deallocate();
    bool duplicateFrom(SoundBuffer& source);
    bool reset();
    bool restore(bool refill);
    bool update();
    bool writeRegion();
    bool write(const void* data, std::uint32_t bytes, std::uint32_t offset);
    bool play(bool loop);
    bool stop();
    bool setVolume(LONG hundredthsOfDecibel);
    bool set3dParameters(const DS3DBUFFER* parameters, bool immediate);

    bool allocated() const { return buffer_ != nullptr; }
    bool playing() const { return (flags & kPlaying) != 0; }
    bool streamed() const { return (flags & kStreamed) != 0; }
    IDirectSoundBuffer* device() const { return buffer_; }
    IDirectSound3DBuffer* device3D() const { return buffer3D_; }
    const char* name() const;
    BankSound& bank() const;

    SoundInstance* owner;
    DWORD status = 0;
    double startTime = 0.0;
    SoundStreamPosition decoded;
    SoundStreamPosition written;
    SoundStreamPosition played;
    std::uint32_t regionOffset = 0;
    std::uint32_t regionLength = 0;
    DWORD playCursor = 0;
    DWORD writeCursor = 0;
    std::uint32_t flags = 0;
    double releaseTime = 0.0;

private:
    // Index of the buffer's kind in the core's counters.
    int kind() const;
    void clearStream();

    IDirectSoundBuffer* buffer_ = nullptr;
    IDirectSound3DBuffer* buffer3D_ = nullptr;
};

// One voice of a bank sound: the sound and a buffer of its own.
class SoundInstance {
public:
    SoundInstance(BankSound* bank, bool want3D);
    ~SoundInstance();
    SoundInstance(const SoundInstance&) = delete;
    SoundInstance& operator=(const SoundInstance&) = delete;

    // A new instance of the source's sound over a duplicate of its buffer;
    // null (logged) when the buffer cannot be duplicated.
    static SoundInstance* duplicate(SoundInstance& source);
    bool allocate();
    // Stops a playing buffer; the next play starts at seconds.
    bool setStart(double seconds);
    // The sound thread's tick: ends a finished buffer and refills a
    // streamed one.
    void tick();

    BankSound* bank;
    SoundBuffer* buffer;
};
