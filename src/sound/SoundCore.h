// The sound engine of the game, one member of the game-core record.
//
// Besides sound, the core owns the engine lock: the one recursive lock that
// keeps the sound thread and the main thread apart. Most callers take it by
// polling (a try-lock with 1 ms sleeps between tries); a few take it with a
// blocking enter. Both kinds nest on one thread.
//
// initialize opens the DirectSound device (our mixer over SDL2 audio, or the
// null output in tests), sets the primary buffer's format from the quality
// table and keeps the 3D listener, which updateListener places at the
// current scene's active camera once a frame. Without a device the game runs
// silent.
//
// The sound thread, started by initialize at the highest priority the host
// grants, takes the lock every 50 ms for its tick and updates the bank only
// while the master volume is above 0. It stops on a flag set under the lock,
// is woken from its wait at once and joined, by releaseAll or at the latest
// by the destructor, before anything it uses is freed.
#pragma once

#include "platform/sound/DirectSound.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class Scene;
class Sound;
class SoundBank;
struct CurrentTime;

// The sound options of the player's setup.
struct SoundSetup {
    std::uint8_t disabled = 0;
    // Row of the output quality table: 0 11,025 Hz, 1 22,050 Hz, 2 44,100 Hz.
    std::int32_t quality = 2;
};

// A pair of volumes of one channel, each 0..1: the script's and the
// player's setup.
struct SoundChannelVolume {
    float script = 1.0f;
    float setup = 1.0f;
};

// The channel volumes, 13 words that the game setup copies word for word:
// word 0 the read-from-setup flag, then master (word 2 its setup volume)
// and the five channels Effect, Voice, Ambient, AmbientLoop, Music (setup
// volumes in words 4, 6, 8, 10, 12).
struct SoundVolumes {
    std::uint8_t readFromSetup = 0;
    SoundChannelVolume master{1.0f, 0.8f};
    SoundChannelVolume channels[5];
};
static_assert(sizeof(SoundVolumes) == 13 * 4, "the volume record is 13 words");

// The default setup volumes (section "setup-defaults").
struct SoundVolumeDefaults {
    float master = 0.8f;
    float effect = 0.6f;
    float voice = 0.7f;
    float ambient = 0.6f;  // Ambient and AmbientLoop
    float music = 0.4f;
};

// The name of a DirectSound result for the log; "Unknown DSound Error" for
// codes without one.
const char* soundErrorName(HRESULT result);

// A row of the output quality table.
struct SoundQuality {
    std::int32_t channels;
    std::int32_t bits;
    std::int32_t frequency;
};
// Rows 0..2; an index outside the table gives row 2 with a warning.
const SoundQuality& soundQuality(std::int32_t index);

class SoundCore {
public:
    SoundCore();
    // Stops and joins the sound thread, then reports the interfaces still
    // held (unless the game core says the process is going down) and
    // releases them.
    ~SoundCore();
    SoundCore(const SoundCore&) = delete;
    SoundCore& operator=(const SoundCore&) = delete;

    // Installs the DirectSound environment the game runs on: the SDL2 audio
    // output, refusals into the log. Run by the program's entry before the
    // sound core is initialised; tests install their own.
    static void installGamePlatform();
    // Starts sound: device, primary buffer and listener, then the sound
    // thread. A second call logs "Sound device already initialized" and
    // fails; with sound disabled in the setup it logs "Sound disabled" and
    // succeeds without a device or thread. False when the device or the
    // primary buffer fails (the caller goes on silent).
    bool initialize();
    // Nothing to do: true.
    bool initializeResources();
    // Opens the device: logs the start lines, creates it (DSERR_NODRIVER
    // when "disable_sound_device" is set), reports its capabilities and sets
    // the cooperative level, falling back from level to exclusive, normal
    // and priority.
    bool initDevice(DWORD level);
    // Sets the output format through the primary buffer, reads back what the
    // device took, plays it looping and sets the listener's parameters.
    bool SetPrimaryBufferFormat(std::int32_t channels, std::int32_t frequency, std::int32_t bits);
    // The listener of the primary buffer.
    bool Get3DListenerInterface(IDirectSoundBuffer* primary);
    // The release phase: stops the sound thread, then releases the listener,
    // the primary buffer and the device.
    void releaseAll();
    // Once a frame on the main thread: the listener from the current scene's
    // active camera, set deferred and committed; the global sounds' two
    // per-frame updates; finished automatic sounds deleted. The frame's game
    // time becomes the sound thread's clock.
    void updateListener(const CurrentTime& time, std::int32_t flag);
    // The scene whose camera places the listener; blocking lock.
    void setScene(Scene* scene);
    Scene* currentScene() const { return currentScene_; }
    // True while the sound thread runs.
    bool running() const { return running_.load(); }
    // Ticks the sound thread has completed (each under the engine lock), and
    // of those the ones that updated the bank (master volume above 0).
    std::uint64_t ticks() const { return ticks_.load(); }
    std::uint64_t bankTicks() const { return bankTicks_.load(); }

    IDirectSound8* device() const { return device_; }
    IDirectSound3DListener* listener() const { return listener_; }
    const DSCAPS& caps() const { return caps_; }
    // The primary buffer's format as the device took it.
    const WAVEFORMATEX& primaryFormat() const { return primaryFormat_; }
    // The listener's parameters kept between frames.
    const DS3DLISTENER& listenerParameters() const { return listenerParameters_; }

    SoundSetup setup;
    SoundVolumes volumes;
    // Every sound resource asked for, per channel (owned).
    std::unique_ptr<SoundBank> bank;
    // Sound buffers allocated and playing, by kind: streamed 2D, streamed
    // 3D, whole 2D, whole 3D.
    std::int32_t allocatedBuffers[4] = {};
    std::int32_t playingBuffers[4] = {};
    SoundVolumeDefaults defaultVolumes;

    // Reads the default setup volumes from section "setup-defaults" (an
    // empty or unusable value keeps the built-in one) and, until the setup
    // file has given volumes, makes them the setup volumes.
    void readDefaultVolumes();
    // Read and write the setup volumes of a record from and to a section of
    // the settings store ("master", "effect", "voice", "ambient",
    // "ambient_loop", "music"; "%.02f"). A value outside 0..1 is refused and
    // the record keeps its own. False without a settings store.
    static bool readVolumes(SoundVolumes& record, const char* section);
    static bool writeVolumes(const SoundVolumes& record, const char* section);
    // Refreshes the volume and mute state of every playing sound after the
    // volumes changed (blocking lock); true when all succeeded.
    bool refreshMuteAll(bool skipGlobal);

    // Global sounds (sounds of no scene), one list per channel.
    // createGlobalSound: name null names the sound automatically; flags bit
    // 0 3D, bit 1 looped, bit 2 a scene's sound (not listed here, nor global
    // in the repository), bit 3 a name already listed is allowed. Null when
    // the name exists, the alias names nothing or the sound cannot be made.
    Sound* createGlobalSound(const char* name, std::int32_t channel, const char* alias, std::uint32_t flags);
    // Index of the first sound of that name (exact compare), or -1.
    std::int32_t findGlobalSound(std::int32_t channel, const char* name) const;
    // Stops (with its event), releases and deletes a listed sound; refused
    // while the sound runs one of its own event handlers.
    bool deleteGlobalSound(std::int32_t channel, const char* name);
    // Deletes every listed sound of that name; stops at the first failure.
    bool deleteGlobalSounds(std::int32_t channel, const char* name, bool mustExist);
    bool deleteGlobalSoundObject(Sound* sound);
    // Lists a sound made elsewhere (a loaded one) as a global sound of its
    // bank sound's channel.
    void adoptGlobalSound(Sound* sound);
    // Drops a sound being destroyed from the global and automatic lists.
    void forget(const Sound* sound);
    // Stops every global sound with its events (handlers run meanwhile may
    // add or delete sounds), then releases and deletes them all.
    void releaseGlobalSounds();
    // The automatic sounds of a group ("" for none) played through the game
    // core; deleting a group deletes its sounds still listed.
    void addAutomaticSound(Sound* sound, const char* group);
    bool deleteAutomaticGroup(const char* group);
    const std::vector<Sound*>& globalSounds(std::int32_t channel) const { return globalSounds_[channel]; }

    // Engine lock: polls a try-lock, sleeping 1 ms between tries.
    void lock();
    // Engine lock: blocking enter.
    void lockBlocking();
    // One try, no wait; true when the lock is now held by this thread.
    bool tryLock();
    void unlock();

private:
    void threadMain();
    // Sets the running flag off under the lock, wakes the thread, joins it.
    void stopThread();
    void releaseInterfaces();

    IDirectSound8* device_ = nullptr;
    IDirectSoundBuffer* primary_ = nullptr;
    IDirectSound3DListener* listener_ = nullptr;
    DSCAPS caps_{};
    WAVEFORMATEX primaryFormat_{};
    DS3DLISTENER listenerParameters_{};

    std::recursive_mutex engineLock_;
    // Deletes the sound at index of a channel's list.
    bool deleteGlobalAt(std::int32_t channel, std::size_t index);
    // Whether the sound is still in a channel's list.
    bool listed(const Sound* sound) const;

    std::vector<Sound*> globalSounds_[5];
    // Sounds taken out of the lists so far (the frame's walk tells by it
    // whether its snapshot may hold sounds that are gone).
    std::uint64_t removals_ = 0;
    struct AutomaticSound {
        Sound* sound;
        std::string group;
    };
    std::vector<AutomaticSound> automaticSounds_;
    // The game time of the last frame, for the sound thread (which never
    // reads the game clocks the main thread moves on).
    std::atomic<double> gameTime_{0.0};

    std::atomic<bool> running_{false};
    std::atomic<std::uint64_t> ticks_{0};
    std::atomic<std::uint64_t> bankTicks_{0};
    std::thread thread_;
    // Wakes the sound thread from its wait between ticks when it must stop.
    std::mutex wakeMutex_;
    std::condition_variable wake_;
    Scene* currentScene_ = nullptr;
};

// Holds the engine lock for a scope, taken by polling.
class EngineLock {
public:
    explicit EngineLock(SoundCore& core) : core_(core) { core_.lock(); }
    ~EngineLock() { core_.unlock(); }
    EngineLock(const EngineLock&) = delete;
    EngineLock& operator=(const EngineLock&) = delete;

private:
    SoundCore& core_;
};

// Holds the engine lock of the game's sound core for a scope, taken by
// polling; nothing to hold when the game has no sound core (the sound
// records also work alone, as the tools and tests use them).
class GameSoundLock {
public:
    GameSoundLock();
    ~GameSoundLock();
    GameSoundLock(const GameSoundLock&) = delete;
    GameSoundLock& operator=(const GameSoundLock&) = delete;

private:
    SoundCore* core_;
};

// Holds the engine lock for a scope, taken with a blocking enter.
class EngineLockBlocking {
public:
    explicit EngineLockBlocking(SoundCore& core) : core_(core) { core_.lockBlocking(); }
    ~EngineLockBlocking() { core_.unlock(); }
    EngineLockBlocking(const EngineLockBlocking&) = delete;
    EngineLockBlocking& operator=(const EngineLockBlocking&) = delete;

private:
    SoundCore& core_;
};
