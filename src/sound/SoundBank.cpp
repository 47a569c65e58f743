#include "sound/SoundBank.h"

#include <algorithm>
#include <cstring>

#include "app/GameCore.h"
#include "foundation/Log.h"
#include "sound/SoundBuffer.h"
#include "foundation/TimeCore.h"
#include "sound/Sound.h"
#include "sound/SoundCore.h"
#include "sound/SoundSettings.h"

namespace {

// Holds the engine lock for a scope when sound is installed (the bank also
// works without a core, as the tools use it).
class BankLock {
public:
    BankLock() : core_(gameCore.sound) {
        if (core_) core_->lock();
    }
    ~BankLock() {
        if (core_) core_->unlock();
    }
    BankLock(const BankLock&) = delete;
    BankLock& operator=(const BankLock&) = delete;

private:
    SoundCore* core_;
};

bool shuttingDown() { return (gameCore.flags & 0x80000000u) != 0; }

}  // namespace

const char* soundChannelListName(std::int32_t channel) {
    switch (channel) {
    case SoundChannelEffect: return "effect";
    case SoundChannelVoice: return "voice";
    case SoundChannelAmbient: return "ambient";
    case SoundChannelAmbientLoop: return "ambient_loop";
    case SoundChannelMusic: return "music";
    case 6: return "master";
    default: return "";
    }
}

bool BankSound::open() {
    if (source.isOpen())
        return engineLog().systemError("Fail create sound object [%s] from alias [%s]: Already created", name(), alias());
    BankLock lock;
    if (!source.open(soundChannelNeedsMono(channel_)))
        return engineLog().resourceError("Fail create OGG source for sound [%s] from alias [%s] on channel [%s]", name(),
                                         alias(), soundChannelListName(channel_));
    lastUsed = 0.0;
    return true;
}

bool BankSound::release() {
    if (!shuttingDown()) {
        bool ok = true;
        if (!instances.empty())
            ok = engineLog().systemError(" Not all sounds threads released. Cant release sound [%s] from alias [%s]",
                                         name(), alias());
        if (!sounds.empty())
            ok = engineLog().systemError(" Not all sounds instances released. Cant release sound [%s] from alias [%s]",
                                         name(), alias());
        if (!ok) return false;
    }
    BankLock lock;
    if (source.isOpen()) source.release();
    return true;
}

double BankSound::getDuration() {
    if (!source.isOpen() && !open()) return 0.0;
    return source.length();
}

SoundInstance* BankSound::newInstance(bool allocate, bool want3D) {
    BankLock lock;
    if (!source.isOpen() && !open()) return nullptr;
    SoundInstance* instance = nullptr;
    if (!instances.empty()) instance = SoundInstance::duplicate(*instances.front());
    if (!instance) {
        instance = new SoundInstance(this, want3D);
        const bool bankAllocates = bankOwner ? bankOwner->buffersAllocated : true;
        if ((allocate || bankAllocates) && !instance->allocate()) {
            delete instance;
            return nullptr;
        }
    }
    instances.push_back(instance);
    return instance;
}

bool BankSound::releaseInstance(SoundInstance* instance) {
    BankLock lock;
    const auto found = std::find(instances.begin(), instances.end(), instance);
    if (found == instances.end())
        return engineLog().systemError("Can't release sound [%s] from alias [%s] thread: not found", name(), alias());
    SoundBuffer& buffer = *instance->buffer;
    if (!buffer.allocated() || buffer.streamed()) {
        deleteInstance(static_cast<std::size_t>(found - instances.begin()));
        return true;
    }
    buffer.flags |= SoundBuffer::kReleased;
    buffer.releaseTime = CurrentTime(-1.0).game.time;
    return true;
}

void BankSound::deleteInstance(std::size_t index) {
    if (index >= instances.size()) return;
    SoundInstance* instance = instances[index];
    if (instance->buffer->allocated()) instance->buffer->deallocate();
    delete instance;
    instances[index] = instances.back();
    instances.pop_back();
}

void BankSound::updateInstances(double now) {
    lastUsed = now;
    for (std::size_t i = 0; i < instances.size();) {
        SoundBuffer& buffer = *instances[i]->buffer;
        if (buffer.flags & SoundBuffer::kReleased) {
            if (now - buffer.releaseTime > soundSettings.duplicateThreadCacheTime || instances.size() > 1) {
                deleteInstance(i);
                continue;
            }
        } else {
            instances[i]->tick();
        }
        ++i;
    }
}

bool BankSound::push(Sound* sound) {
    if (std::find(sounds.begin(), sounds.end(), sound) != sounds.end())
        return engineLog().resourceError("Can't push sound [%s] in [%s] from alias [%s]: Already pushed",
                                         sound->name.c_str(), name(), alias());
    if (gameCore.debugFlags & DebugSoundLog) engineLog().resourceInfo("PUSH sound [%s] in [%s]", sound->name.c_str(), name());
    BankLock lock;
    sounds.push_back(sound);
    return true;
}

bool BankSound::pop(Sound* sound) {
    BankLock lock;
    const auto found = std::find(sounds.begin(), sounds.end(), sound);
    if (found == sounds.end()) {
        engineLog().resourceError("Cannot pop sound [%s] from [%s] from alias [%s]: Not pushed now",
                                  sound->name.c_str(), name(), alias());
        return true;
    }
    *found = sounds.back();
    sounds.pop_back();
    return true;
}

bool BankSound::allocateInstances() {
    BankLock lock;
    bool ok = true;
    for (SoundInstance* instance : instances) {
        if (instance->buffer->allocated()) {
            engineLog().resourceError("Sound buffer [%s] already allocated: Can't allocate", name());
            continue;
        }
        instance->buffer->startTime = 0.0;
        if (!instance->allocate()) {
            instance->buffer->deallocate();
            ok = false;
        }
    }
    return ok;
}

bool BankSound::deallocateInstances() {
    BankLock lock;
    bool ok = true;
    for (SoundInstance* instance : instances)
        if (instance->buffer->allocated() && !instance->buffer->deallocate()) ok = false;
    return ok;
}

SoundBank::~SoundBank() {
    releasePackages();
    for (auto& list : lists_) {
        for (BankSound* sound : list) delete sound;
        list.clear();
    }
}

BankSound* SoundBank::acquire(std::int32_t channel, const char* name, const char* aliasText) {
    if (channel < 0 || channel >= kSoundChannelCount) return nullptr;
    if (!name) name = "";
    auto& list = lists_[channel];
    const auto at = std::lower_bound(list.begin(), list.end(), name,
                                     [](const BankSound* sound, const char* key) { return std::strcmp(sound->name(), key) < 0; });
    if (at != list.end() && std::strcmp((*at)->name(), name) == 0) return *at;
    auto* sound = new BankSound(name, channel, aliasText);
    sound->bankOwner = this;
    list.insert(at, sound);
    return sound;
}

bool SoundBank::releasePackages() {
    BankLock lock;
    bool all = true;
    for (std::int32_t channel = 0; channel < kSoundChannelCount; ++channel) {
        auto& list = lists_[channel];
        bool ok = true;
        for (BankSound* sound : list)
            if (!sound->release()) ok = false;
        if (ok) {
            for (BankSound* sound : list) delete sound;
            list.clear();
            list.shrink_to_fit();
        } else {
            engineLog().systemError("Not all sounds released from sound package %s", soundChannelListName(channel));
            all = false;
        }
    }
    return all;
}

void updateSoundBank(SoundBank& bank, double now) {
    BankLock lock;
    for (auto& list : bank.lists_) {
        for (BankSound* sound : list) {
            if (!sound->source.isOpen()) continue;
            if (!sound->instances.empty() || !sound->sounds.empty())
                sound->updateInstances(now);
            else if (now - sound->lastUsed > kBankSoundIdleSeconds)
                sound->release();
        }
    }
}
