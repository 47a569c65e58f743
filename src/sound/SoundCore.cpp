#include "sound/SoundCore.h"

#include "foundation/Log.h"
#include "platform/Time.h"

SoundCore::~SoundCore() { releaseAll(); }

bool SoundCore::initialize() {
    if (thread_.joinable()) return engineLog().error("Sound device already initialized");
    if (setup.disabled) {
        running_ = false;
        engineLog().info("Sound disabled");
        return true;
    }
    running_ = true;
    thread_ = std::thread(&SoundCore::threadMain, this);
    return true;
}

void SoundCore::threadMain() {
    for (;;) {
        lock();
        if (!running_) {
            unlock();
            return;
        }
        ++ticks_;
        unlock();
        platform::sleepMilliseconds(50);
    }
}

void SoundCore::releaseAll() {
    running_ = false;
    if (thread_.joinable()) thread_.join();
}

void SoundCore::updateListener(const CurrentTime&, std::int32_t) {}

void SoundCore::setCurrentScene(Scene* scene) {
    std::lock_guard<std::recursive_mutex> hold(engineLock_);
    currentScene_ = scene;
}

void SoundCore::lock() {
    while (!engineLock_.try_lock()) platform::sleepMilliseconds(1);
}

void SoundCore::lockBlocking() { engineLock_.lock(); }

bool SoundCore::tryLock() { return engineLock_.try_lock(); }

void SoundCore::unlock() { engineLock_.unlock(); }
