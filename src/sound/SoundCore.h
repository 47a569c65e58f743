// The sound engine of the game, one member of the game-core record.
//
// Besides sound, the core owns the engine lock: the one recursive lock that
// keeps the sound thread and the main thread apart. Most callers take it by
// polling (a try-lock with 1 ms sleeps between tries); a few take it with a
// blocking enter. Both kinds nest on one thread.
#pragma once

#include <mutex>

class SoundCore {
public:
    SoundCore() = default;
    ~SoundCore() = default;
    SoundCore(const SoundCore&) = delete;
    SoundCore& operator=(const SoundCore&) = delete;

    // Engine lock: polls a try-lock, sleeping 1 ms between tries.
    void lock();
    // Engine lock: blocking enter.
    void lockBlocking();
    // One try, no wait; true when the lock is now held by this thread.
    bool tryLock();
    void unlock();

private:
    std::recursive_mutex engineLock_;
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
