#include "sound/SoundCore.h"

#include "platform/Time.h"

void SoundCore::lock() {
    while (!engineLock_.try_lock()) platform::sleepMilliseconds(1);
}

void SoundCore::lockBlocking() { engineLock_.lock(); }

bool SoundCore::tryLock() { return engineLock_.try_lock(); }

void SoundCore::unlock() { engineLock_.unlock(); }
