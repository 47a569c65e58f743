#include "sound/SoundCore.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>
#include <unordered_set>

#include "app/GameCore.h"
#include "foundation/CrashGuard.h"
#include "foundation/IniFile.h"
#include "foundation/Log.h"
#include "foundation/StringHelper.h"
#include "foundation/TimeCore.h"
#include "platform/Process.h"
#include "platform/Time.h"
#include "resources/MovieDataManager.h"
#include "scene/CameraCore.h"
#include "scene/Scene.h"
#include "script/ScriptEngine.h"
#include "sound/Sound.h"
#include "sound/SoundBank.h"
#include "sound/SoundSettings.h"

namespace {

// The sound thread's pause between ticks.
constexpr int kTickMilliseconds = 50;

// Bit 31 of the game core's flags: the process is going down, interfaces
// still held are not reported.
constexpr std::uint32_t kGameFlagQuietRelease = 0x80000000u;

// Channels, bits and frequency of each quality row.
constexpr SoundQuality kQualityTable[3] = {{2, 16, 11025}, {2, 16, 22050}, {2, 16, 44100}};

Sound* asSound(GameObject& object) { return dynamic_cast<Sound*>(&object); }

// The scene reads and sets these bits of a sound's state word by its own
// names: an ambient sound it starts is automatic (its play is its last),
// one it fades out is armed to be released once the fade has stopped it,
// and the sound then marks itself finished for the scene to delete.
static_assert(Sound::kAutoRelease == kSoundAutomaticFlag);
static_assert(Sound::kAutoReleaseArmed == kSoundFadeDeleteFlag);
static_assert(Sound::kFinished == kSoundPendingDeleteFlag);
static_assert(Sound::kPushed == kSoundOnStackFlag);

// The scene makes, stops and restores its sounds through these.
void installSceneSoundHooks() {
    SceneFactories& hooks = sceneFactories();
    hooks.sound = [](Scene& scene, std::uint32_t list, const char* alias, const char* name,
                     std::uint32_t flags) -> GameObject* {
        SoundCore* core = gameCore.sound;
        Sound* sound = core ? core->createGlobalSound(name, static_cast<std::int32_t>(list), alias, flags | 4u) : nullptr;
        if (sound) sound->setSceneLink(scene.id);
        return sound;
    };
    hooks.soundPlaying = [](GameObject& object) {
        Sound* sound = asSound(object);
        return sound && sound->playing();
    };
    // Objects of other kinds (the tests' stand-ins) have nothing to play.
    hooks.soundPlay = [](GameObject& object) {
        Sound* sound = asSound(object);
        return !sound || sound->play(false, false);
    };
    hooks.soundStop = [](GameObject& object) {
        if (Sound* sound = asSound(object)) sound->stop(true);
    };
    hooks.soundDuration = [](GameObject& object) {
        Sound* sound = asSound(object);
        return sound ? sound->getDuration() : 0.0;
    };
    hooks.soundInHandler = [](GameObject& object) {
        Sound* sound = asSound(object);
        return sound && (sound->flags & Sound::kInEvent) != 0;
    };
    // A sound that was playing when its scene left, or when the game was
    // saved, plays again from its start.
    hooks.soundRestore = [](GameObject& object, const CurrentTime&) {
        Sound* sound = asSound(object);
        if (!sound || !sound->playing() || (sound->flags & Sound::kConnected) || sound->muted()) return;
        sound->restore();
    };
    hooks.soundStartBlend = [](GameObject& object, float fadeIn, float blend) {
        if (Sound* sound = asSound(object)) sound->startBlend(fadeIn, blend);
    };
    hooks.soundFade = [](GameObject& object, float seconds) {
        if (Sound* sound = asSound(object)) sound->fade(seconds);
    };
    hooks.soundRefresh = [](GameObject& object) {
        Sound* sound = asSound(object);
        return !sound || sound->refreshMute();
    };
}

}  // namespace

const char* soundErrorName(HRESULT result) {
    switch (result) {
    case DSERR_UNSUPPORTED: return "DSERR_UNSUPPORTED";
    case DSERR_NOAGGREGATION: return "DSERR_NOAGGREGATION";
    case DSERR_OUTOFMEMORY: return "DSERR_OUTOFMEMORY";
    case DSERR_INVALIDPARAM: return "DSERR_INVALIDPARAM";
    case DSERR_ALLOCATED: return "DSERR_ALLOCATED";
    case DSERR_CONTROLUNAVAIL: return "DSERR_CONTROLUNAVAIL";
    case DSERR_INVALIDCALL: return "DSERR_INVALIDCALL";
    case DSERR_BADFORMAT: return "DSERR_BADFORMAT";
    case DSERR_NODRIVER: return "DSERR_NODRIVER";
    case DSERR_UNINITIALIZED: return "DSERR_UNINITIALIZED";
    case DSERR_BUFFERTOOSMALL: return "DSERR_BUFFERTOOSMALL";
    case DSERR_DS8_REQUIRED: return "DSERR_DS8_REQUIRED";
    default: return "Unknown DSound Error";
    }
}

const SoundQuality& soundQuality(std::int32_t index) {
    if (index >= 0 && index < 3) return kQualityTable[index];
    engineLog().warning("Invalid sound quality [%i]: using 44100Hz", index);
    return kQualityTable[2];
}

GameSoundLock::GameSoundLock() : core_(gameCore.sound) {
    if (core_) core_->lock();
}

GameSoundLock::~GameSoundLock() {
    if (core_) core_->unlock();
}

SoundCore::SoundCore() : bank(std::make_unique<SoundBank>()) {
    listenerParameters_.dwSize = sizeof(DS3DLISTENER);
    listenerParameters_.vOrientFront = {0.0f, 0.0f, 1.0f};
    listenerParameters_.vOrientTop = {0.0f, 1.0f, 0.0f};
    listenerParameters_.flDistanceFactor = 1.0f;
    listenerParameters_.flRolloffFactor = 0.2f;
    listenerParameters_.flDopplerFactor = 1.0f;
    caps_.dwSize = sizeof(DSCAPS);
}

SoundCore::~SoundCore() {
    stopThread();
    for (std::vector<Sound*>& list : globalSounds_)
        while (!list.empty()) {
            Sound* sound = list.back();
            list.pop_back();
            delete sound;
        }
    bank.reset();
    if (!(gameCore.flags & kGameFlagQuietRelease)) {
        if (listener_) engineLog().error("Primary Sound buffer Listener not released");
        if (primary_) engineLog().error("Primary Sound buffer not released");
        if (device_) engineLog().error("Sound device not released.");
    }
    releaseInterfaces();
}

bool SoundCore::initialize() {
    const bool enabled = !setup.disabled;
    if (device_ || thread_.joinable()) return engineLog().error("Sound device already initialized");
    // A stopped movie's sound fades out before the sound code releases it.
    setMovieSoundFade(&fadeMovieSound);
    installSceneSoundHooks();
    if (!enabled) {
        running_ = false;
        engineLog().info("Sound disabled");
        return true;
    }
    if (!initDevice(DSSCL_EXCLUSIVE)) return false;
    const SoundQuality& quality = soundQuality(setup.quality);
    if (!SetPrimaryBufferFormat(2, quality.frequency, quality.bits)) return false;
    running_ = true;
    thread_ = std::thread(&SoundCore::threadMain, this);
    return true;
}

bool SoundCore::initializeResources() { return true; }

void SoundCore::installGamePlatform() {
    platform::dsound::Environment environment;
    environment.output = platform::dsound::OutputKind::Sdl;
    environment.sink = [](const char* line) { engineLog().systemError("DirectSound: %s", line); };
    platform::dsound::setEnvironment(std::move(environment));
}

bool SoundCore::initDevice(DWORD level) {
    Log& log = engineLog();
    log.info("%s", std::string(100, '-').c_str());
    log.info("Initialize sound:");
    if (device_) device_->Release();
    device_ = nullptr;
    HRESULT result = DirectSoundCreate8(nullptr, &device_, nullptr);
    // The device obtained before the check stays held until the release
    // phase.
    if (soundSettings.disableSoundDevice) result = DSERR_NODRIVER;
    if (FAILED(result)) return log.error("Can't create DirectSound8 interface: [%s]", soundErrorName(result));

    caps_ = DSCAPS{};
    caps_.dwSize = sizeof(DSCAPS);
    if (FAILED(device_->GetCaps(&caps_))) {
        caps_ = DSCAPS{};
        log.error("Sound: can't get current device CAPS");
    }
    if (caps_.dwFlags & DSCAPS_EMULDRIVER)
        log.warning("Sound: The device does not have a DirectSound driver installed, so it is being emulated through "
                    "the waveform-audio functions. Performance degradation should be expected");
    if (!(caps_.dwFlags & DSCAPS_PRIMARYMONO)) log.error("Sound: Device not support primary mono buffer");
    if (!(caps_.dwFlags & DSCAPS_SECONDARYMONO)) log.error("Sound: Device not support secondary mono buffer");
    if (!(caps_.dwFlags & DSCAPS_SECONDARYSTEREO)) log.error("Sound: Device not support secondary stereo buffer");
    if (!(caps_.dwFlags & DSCAPS_SECONDARY16BIT)) log.error("Sound: Device not support secondary 16 bit buffer");
    if (!(caps_.dwFlags & DSCAPS_PRIMARY16BIT)) log.error("Sound: Device not support primary 16 bit buffer");
    const SoundQuality& quality = soundQuality(setup.quality);
    if (caps_.dwMaxSecondarySampleRate < static_cast<DWORD>(quality.frequency))
        log.error("Sound: Current sound frequency not supported: %i (max=%i)", quality.frequency,
                  static_cast<int>(caps_.dwMaxSecondarySampleRate));
    if (caps_.dwFreeHwMixingAllBuffers)
        log.info("Sound: Found hardware sound memory: Try use hardware sound card");
    else
        log.info("Sound: Use S/W sound");
    log.info("Total HW 3d buffers: %i\nTotal HW 3d streaming buffers: %i\nFree HW mem bytes: %i\nFree HW mixing all "
             "buffers: %i\nPlay CPU overhead SW buffers: %i\nTotal HW memory: %i\n",
             static_cast<int>(caps_.dwFreeHw3DAllBuffers), static_cast<int>(caps_.dwFreeHw3DStreamingBuffers),
             static_cast<int>(caps_.dwFreeHwMemBytes), static_cast<int>(caps_.dwFreeHwMixingAllBuffers),
             static_cast<int>(caps_.dwPlayCpuOverheadSwBuffers), static_cast<int>(caps_.dwTotalHwMemBytes));

    // Our output needs no window: the level is asked for without one.
    if (SUCCEEDED(device_->SetCooperativeLevel(nullptr, level))) return true;
    log.error("Can't set DirectSound8 device cooperative level");
    if (SUCCEEDED(device_->SetCooperativeLevel(nullptr, DSSCL_EXCLUSIVE))) return true;
    log.error("Can't set DirectSound8 device EXCLUSIVE cooperative level");
    if (SUCCEEDED(device_->SetCooperativeLevel(nullptr, DSSCL_NORMAL))) return true;
    log.error("Can't set DirectSound8 device NORMAL cooperative level");
    if (SUCCEEDED(device_->SetCooperativeLevel(nullptr, DSSCL_PRIORITY))) return true;
    return log.error("Can't set DirectSound8 device NORMAL cooperative level");
}

bool SoundCore::SetPrimaryBufferFormat(std::int32_t channels, std::int32_t frequency, std::int32_t bits) {
    Log& log = engineLog();
    log.info("Set sound primary buffer quality to %iHz/%iBit/%iCh", frequency, bits, channels);
    if (!device_) return log.error("Can't set DirectSound8 format: Initialize first");
    DSBUFFERDESC description{36, DSBCAPS_PRIMARYBUFFER | DSBCAPS_CTRL3D, 0, 0, nullptr, DS3DALG_DEFAULT};
    if (FAILED(device_->CreateSoundBuffer(&description, &primary_, nullptr)))
        return log.error("SetPrimaryBufferFormat: Can't access primary sound buffer");
    WAVEFORMATEX format{};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = static_cast<WORD>(channels);
    format.nSamplesPerSec = static_cast<DWORD>(frequency);
    format.wBitsPerSample = static_cast<WORD>(bits);
    format.nBlockAlign = static_cast<WORD>(bits / 8 * channels);
    format.nAvgBytesPerSec = format.nBlockAlign * format.nSamplesPerSec;
    format.cbSize = 0;
    if (FAILED(primary_->SetFormat(&format))) return log.error("SetPrimaryBufferFormat: Can't set format");
    primary_->GetFormat(&primaryFormat_, sizeof(primaryFormat_), nullptr);
    primary_->Play(0, 0, DSBPLAY_LOOPING);
    if (!Get3DListenerInterface(primary_)) return log.error("SetPrimaryBufferFormat: Can't set 3d listener");
    listener_->SetAllParameters(&listenerParameters_, DS3D_IMMEDIATE);
    // The listener keeps the output running.
    primary_->Release();
    primary_ = nullptr;
    return true;
}

bool SoundCore::Get3DListenerInterface(IDirectSoundBuffer* primary) {
    void* object = nullptr;
    if (!primary || FAILED(primary->QueryInterface(IID_IDirectSound3DListener, &object)))
        return engineLog().error("Get3DListenerInterface: Can't get 3d interface");
    listener_ = static_cast<IDirectSound3DListener*>(object);
    return true;
}

void SoundCore::threadMain() {
    platform::raiseCurrentThreadPriority();
    for (;;) {
        lock();
        if (!running_) {
            unlock();
            return;
        }
        {
            // The bank update of each tick runs under its own crash title.
            CrashGuard guard(kGuardSoundBuffers);
            if (volumes.master.script * volumes.master.setup > 0.0f) {
                updateSoundBank(*bank, gameTime_.load());
                ++bankTicks_;
            }
            ++ticks_;
        }
        unlock();
        std::unique_lock<std::mutex> wait(wakeMutex_);
        wake_.wait_for(wait, std::chrono::milliseconds(kTickMilliseconds), [this] { return !running_.load(); });
    }
}

void SoundCore::stopThread() {
    {
        // Under the engine lock: the thread is outside its tick when it
        // learns to stop.
        std::lock_guard<std::recursive_mutex> hold(engineLock_);
        std::lock_guard<std::mutex> wake(wakeMutex_);
        running_ = false;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
}

void SoundCore::releaseInterfaces() {
    if (listener_) listener_->Release();
    listener_ = nullptr;
    if (primary_) {
        primary_->Stop();
        primary_->Release();
    }
    primary_ = nullptr;
    if (device_) device_->Release();
    device_ = nullptr;
}

void SoundCore::releaseAll() {
    releaseGlobalSounds();
    stopThread();
    bank->releasePackages();
    releaseInterfaces();
}

void SoundCore::updateListener(const CurrentTime& time, std::int32_t) {
    gameTime_ = time.game.time;
    EngineLock hold(*this);
    const bool placed = listener_ && currentScene_;
    if (placed) {
        listener_->GetAllParameters(&listenerParameters_);
        const Scene& scene = *currentScene_;
        if (scene.currentCamera >= 0 && static_cast<std::size_t>(scene.currentCamera) < scene.cameras.size() &&
            scene.cameras[scene.currentCamera]) {
            const float* m = scene.cameras[scene.currentCamera]->pose.m;
            listenerParameters_.vPosition = {m[9], m[10], m[11]};
            listenerParameters_.vOrientFront = {-m[6], -m[7], -m[8]};
            listenerParameters_.vOrientTop = {-m[3], -m[4], -m[5]};
            listenerParameters_.vVelocity = {0.0f, 0.0f, 0.0f};
        }
        listener_->SetAllParameters(&listenerParameters_, DS3D_DEFERRED);
    }
    // The updates may add or delete global sounds: a snapshot is walked and
    // each sound is checked to be still listed. While nothing left the lists
    // every sound of the snapshot is; after a removal, the check asks a set
    // of the listed sounds, made again after each further removal.
    const std::uint64_t removalsBefore = removals_;
    std::uint64_t membersAt = removalsBefore;
    std::unordered_set<const Sound*> members;
    const auto stillListed = [&](const Sound* sound) {
        if (removals_ == removalsBefore) return true;
        if (removals_ != membersAt) {
            members.clear();
            for (const std::vector<Sound*>& list : globalSounds_) members.insert(list.begin(), list.end());
            membersAt = removals_;
        }
        return members.count(sound) != 0;
    };
    for (const std::vector<Sound*>& list : globalSounds_) {
        const std::vector<Sound*> snapshot = list;
        for (Sound* sound : snapshot) {
            if (!stillListed(sound)) continue;
            sound->updatePhase1(time, 0);
            if (stillListed(sound)) sound->updatePhase0(time, 0);
        }
    }
    // Finished sounds are deleted, each the object itself; one that refuses
    // (it runs its own handler) waits for the next frame.
    for (std::int32_t channel = 0; channel < kSoundChannelCount; ++channel) {
        std::vector<Sound*>& list = globalSounds_[channel];
        for (std::size_t i = 0; i < list.size();) {
            Sound* sound = list[i];
            if (sound && (sound->flags & Sound::kFinished) && deleteGlobalAt(channel, i)) continue;
            ++i;
        }
    }
    if (placed) listener_->CommitDeferredSettings();
}

bool SoundCore::listed(const Sound* sound) const {
    for (const std::vector<Sound*>& list : globalSounds_)
        if (std::find(list.begin(), list.end(), sound) != list.end()) return true;
    return false;
}

Sound* SoundCore::createGlobalSound(const char* name, std::int32_t channel, const char* alias, std::uint32_t flags) {
    if (channel < 0 || channel >= kSoundChannelCount) {
        engineLog().error("Use valid sound channel");
        return nullptr;
    }
    if (name && !(flags & 8u) && findGlobalSound(channel, name) >= 0) {
        engineLog().error("Global sound [%s] already exist", name);
        return nullptr;
    }
    std::string resource, aliasText;
    SoundBank::resolveAlias(channel, alias, resource, aliasText);
    if (resource.empty()) return nullptr;
    EngineLock hold(*this);
    BankSound* bankSound = bank->acquire(channel, resource.c_str(), aliasText.c_str());
    Sound* sound = bank->createSound(bankSound, flags, name ? name : "AUTO", true, false);
    if (!sound) return nullptr;
    if (!name) {
        copyName(sound->name, sizeof(sound->name), sound->makeAutoName().c_str());
        GameObject::nameChanged();
    }
    if (!(flags & 4u)) globalSounds_[channel].push_back(sound);
    return sound;
}

std::int32_t SoundCore::findGlobalSound(std::int32_t channel, const char* name) const {
    if (channel < 0 || channel >= kSoundChannelCount || !name) return -1;
    const std::vector<Sound*>& list = globalSounds_[channel];
    for (std::size_t i = 0; i < list.size(); ++i)
        if (list[i] && std::strcmp(list[i]->getName(), name) == 0) return static_cast<std::int32_t>(i);
    return -1;
}

bool SoundCore::deleteGlobalAt(std::int32_t channel, std::size_t index) {
    EngineLock hold(*this);
    std::vector<Sound*>& list = globalSounds_[channel];
    Sound* sound = list[index];
    if (!sound) return engineLog().error("Can't delete sound [%s]: already released", "");
    if (sound->flags & Sound::kInEvent)
        return engineLog().error("Global Sound [%s] try to delete self from our event handler", sound->getName());
    if (sound->playing()) sound->stop(true);
    // The stop's handler may have changed the list.
    const auto at = std::find(list.begin(), list.end(), sound);
    if (at == list.end()) return true;
    *at = list.back();
    list.pop_back();
    ++removals_;
    sound->release();
    delete sound;  // leaves the automatic list too
    return true;
}

bool SoundCore::deleteGlobalSound(std::int32_t channel, const char* name) {
    const std::int32_t index = findGlobalSound(channel, name);
    if (index < 0) return engineLog().error("Can't find global sound [%s]: Sound Delete failed", name ? name : "");
    return deleteGlobalAt(channel, static_cast<std::size_t>(index));
}

bool SoundCore::deleteGlobalSounds(std::int32_t channel, const char* name, bool mustExist) {
    if (mustExist && findGlobalSound(channel, name) < 0)
        return engineLog().error("Can't find global sound [%s]: Sound Delete failed", name ? name : "");
    while (findGlobalSound(channel, name) >= 0)
        if (!deleteGlobalSound(channel, name)) return false;
    return true;
}

bool SoundCore::deleteGlobalSoundObject(Sound* sound) {
    for (std::int32_t channel = 0; channel < kSoundChannelCount; ++channel) {
        const std::vector<Sound*>& list = globalSounds_[channel];
        const auto at = std::find(list.begin(), list.end(), sound);
        if (at != list.end()) return deleteGlobalAt(channel, static_cast<std::size_t>(at - list.begin()));
    }
    return engineLog().error("Can't find global sound [%s]: Sound Delete failed", sound ? sound->getName() : "");
}

void SoundCore::adoptGlobalSound(Sound* sound) {
    if (!sound || listed(sound)) return;
    EngineLock hold(*this);
    globalSounds_[sound->getSubtype() < kSoundChannelCount ? sound->getSubtype() : 0].push_back(sound);
}

void SoundCore::forget(const Sound* sound) {
    EngineLock hold(*this);
    for (std::vector<Sound*>& list : globalSounds_) {
        const auto at = std::find(list.begin(), list.end(), sound);
        if (at == list.end()) continue;
        *at = list.back();
        list.pop_back();
        ++removals_;
    }
    automaticSounds_.erase(std::remove_if(automaticSounds_.begin(), automaticSounds_.end(),
                                          [sound](const AutomaticSound& a) { return a.sound == sound; }),
                           automaticSounds_.end());
}

void SoundCore::addAutomaticSound(Sound* sound, const char* group) {
    automaticSounds_.push_back({sound, group ? group : ""});
}

bool SoundCore::deleteAutomaticGroup(const char* group) {
    EngineLock hold(*this);
    std::vector<Sound*> members;
    for (const AutomaticSound& a : automaticSounds_)
        if (a.group == group) members.push_back(a.sound);
    bool ok = true;
    for (Sound* sound : members)
        if (listed(sound) && !deleteGlobalSoundObject(sound)) ok = false;
    return ok;
}

void SoundCore::releaseGlobalSounds() {
    EngineLock hold(*this);
    ScriptEngine* engine = gameCore.script;
    const std::uint8_t blocked = engine ? engine->eventsBlocked : 0;
    if (engine) engine->eventsBlocked = 0;
    for (std::vector<Sound*>& list : globalSounds_) {
        // The stop handlers may add or delete sounds of the lists.
        const std::vector<Sound*> snapshot = list;
        for (Sound* sound : snapshot) {
            if (!listed(sound) || !sound->playing()) continue;
            sound->stop(true);
            if (engine && engine->context) engine->context->processEvents();
        }
    }
    for (std::vector<Sound*>& list : globalSounds_) {
        while (!list.empty()) {
            Sound* sound = list.back();
            list.pop_back();
            ++removals_;
            if (sound->playing()) sound->stop(false);
            sound->release();
            delete sound;
        }
        list.shrink_to_fit();
    }
    automaticSounds_.clear();
    if (engine) engine->eventsBlocked = blocked;
}

void SoundCore::setScene(Scene* scene) {
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

bool SoundCore::refreshMuteAll(bool skipGlobal) {
    EngineLockBlocking hold(*this);
    bool ok = true;
    if (!skipGlobal)
        for (const std::vector<Sound*>& list : globalSounds_)
            for (Sound* sound : list)
                if (sound && !sound->refreshMute()) ok = false;
    if (currentScene_ && !currentScene_->refreshSounds(false)) ok = false;
    return ok;
}
