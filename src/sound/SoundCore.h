// The sound engine of the game, one member of the game-core record.
//
// Besides sound, the core owns the engine lock: the one recursive lock that
// keeps the sound thread and the main thread apart. Most callers take it by
// polling (a try-lock with 1 ms sleeps between tries); a few take it with a
// blocking enter. Both kinds nest on one thread.
//
// The sound thread, started by initialize, takes the lock every 50 ms for
// its tick; it stops on a flag, woken from its wait at once, and is joined
// by releaseAll or at the latest by the destructor. No output device is built in yet: the game runs
// silent, with no global sounds and no listener to update.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

class Scene;
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

class SoundCore {
public:
    SoundCore() = default;
    // Stops and joins the sound thread.
    ~SoundCore();
    SoundCore(const SoundCore&) = delete;
    SoundCore& operator=(const SoundCore&) = delete;

    // Starts sound and the sound thread. A second call logs "Sound device
    // already initialized" and fails; with sound disabled in the setup it
    // logs "Sound disabled" and succeeds without a thread.
    bool initialize();
    // The release phase: stops the sound thread.
    void releaseAll();
    // Once a frame on the main thread: the listener and the global sounds.
    void updateListener(const CurrentTime& time, std::int32_t flag);
    // The scene whose camera places the listener; blocking lock.
    void setCurrentScene(Scene* scene);
    Scene* currentScene() const { return currentScene_; }
    // True while sound is enabled and the sound thread runs.
    bool running() const { return running_.load(); }
    // Ticks the sound thread has completed (each under the engine lock).
    std::uint64_t ticks() const { return ticks_.load(); }

    SoundSetup setup;
    SoundVolumes volumes;
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

    // Engine lock: polls a try-lock, sleeping 1 ms between tries.
    void lock();
    // Engine lock: blocking enter.
    void lockBlocking();
    // One try, no wait; true when the lock is now held by this thread.
    bool tryLock();
    void unlock();

private:
    void threadMain();

    std::recursive_mutex engineLock_;
    std::atomic<bool> running_{false};
    std::atomic<std::uint64_t> ticks_{0};
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
