// The sound engine of the game, one member of the game-core record.
//
// Besides sound, the core owns the engine lock: the one recursive lock that
// keeps the sound thread and the main thread apart. Most callers take it by
// polling (a try-lock with 1 ms sleeps between tries); a few take it with a
// blocking enter. Both kinds nest on one thread.
//
// The sound thread, started by initialize, takes the lock every 50 ms for
// its tick; it stops on a flag and is joined by releaseAll or at the
// latest by the destructor. No output device is built in yet: the game runs
// silent, with no global sounds and no listener to update.
#pragma once

#include <atomic>
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
