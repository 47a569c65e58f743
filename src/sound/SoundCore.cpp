#include "sound/SoundCore.h"

#include <chrono>

#include "app/GameCore.h"
#include "foundation/CrashGuard.h"
#include "foundation/IniFile.h"
#include "foundation/Log.h"
#include "foundation/StringHelper.h"
#include "platform/Time.h"
#include "resources/MovieDataManager.h"
#include "sound/Sound.h"

namespace {

// The sound thread's pause between ticks.
constexpr int kTickMilliseconds = 50;

}  // namespace

SoundCore::~SoundCore() { releaseAll(); }

bool SoundCore::initialize() {
    if (thread_.joinable()) return engineLog().error("Sound device already initialized");
    // A stopped movie's sound fades out before the sound code releases it.
    setMovieSoundFade(&fadeMovieSound);
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
        {
            // The bank update of each tick runs under its own crash title.
            CrashGuard guard(kGuardSoundBuffers);
            ++ticks_;
        }
        unlock();
        std::unique_lock<std::mutex> wait(wakeMutex_);
        wake_.wait_for(wait, std::chrono::milliseconds(kTickMilliseconds), [this] { return !running_.load(); });
    }
}

void SoundCore::releaseAll() {
    {
        std::lock_guard<std::mutex> hold(wakeMutex_);
        running_ = false;
    }
    wake_.notify_all();
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

namespace {

const char* const kVolumeKeys[6] = {"master", "effect", "voice", "ambient", "ambient_loop", "music"};

SoundChannelVolume& channelOf(SoundVolumes& record, int index) {
    return index == 0 ? record.master : record.channels[index - 1];
}

// A volume from a key; an empty value keeps the field, text that is no
// number or a value outside 0..1 is reported and keeps it too.
void readVolume(const IniVariable& variable, float& field, float low, float high) {
    if (variable.value().empty()) return;
    const float value = parseFloat(variable.value().c_str());
    if (value >= low && value <= high) {
        field = value;
        return;
    }
    engineLog().warning("Invalid value of sound setting [%s]: %s", variable.name().c_str(), variable.value().c_str());
}

}  // namespace

void SoundCore::readDefaultVolumes() {
    if (!gameCore.settings) return;
    IniCategory& category = gameCore.settings->getCategory("setup-defaults");
    readVolume(category.getVariable("def_volume_efect"), defaultVolumes.effect, 0.0f, 1.0f);
    readVolume(category.getVariable("def_volume_ambient"), defaultVolumes.ambient, 0.0f, 1.0f);
    readVolume(category.getVariable("def_volume_voice"), defaultVolumes.voice, 0.0f, 1.0f);
    readVolume(category.getVariable("def_volume_music"), defaultVolumes.music, 0.0f, 1.0f);
    readVolume(category.getVariable("def_volume_master"), defaultVolumes.master, 0.0f, 1.0f);
    if (volumes.readFromSetup) return;
    volumes.master.setup = defaultVolumes.master;
    volumes.channels[0].setup = defaultVolumes.effect;
    volumes.channels[1].setup = defaultVolumes.voice;
    volumes.channels[2].setup = defaultVolumes.ambient;
    volumes.channels[3].setup = defaultVolumes.ambient;
    volumes.channels[4].setup = defaultVolumes.music;
}

bool SoundCore::readVolumes(SoundVolumes& record, const char* section) {
    if (!gameCore.settings) {
        engineLog().error("Can't read sound volumes: no settings store");
        return false;
    }
    IniCategory& category = gameCore.settings->getCategory(section);
    for (int i = 0; i < 6; ++i) readVolume(category.getVariable(kVolumeKeys[i]), channelOf(record, i).setup, 0.0f, 1.0f);
    record.readFromSetup = 1;
    return true;
}

bool SoundCore::writeVolumes(const SoundVolumes& record, const char* section) {
    if (!gameCore.settings) {
        engineLog().error("Can't write sound volumes: no settings store");
        return false;
    }
    IniCategory& category = gameCore.settings->getCategory(section);
    category.setComment("Set sound channels volumes in range 0..1");
    SoundVolumes copy = record;
    for (int i = 0; i < 6; ++i)
        category.getVariable(kVolumeKeys[i]).setFormatted("%.02f", static_cast<double>(channelOf(copy, i).setup));
    gameCore.settings->savePending = true;
    return true;
}

bool SoundCore::refreshMuteAll(bool) {
    // No sound plays without an output device: nothing to refresh yet.
    EngineLockBlocking hold(*this);
    return true;
}
