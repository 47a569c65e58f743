#include "sound/SoundBank.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/GameCore.h"
#include "foundation/Log.h"
#include "sound/SoundBuffer.h"
#include "app/SaveGame.h"
#include "foundation/TimeCore.h"
#include "resources/FilePackageDBData.h"
#include "resources/LoadingProgress.h"
#include "resources/PackageDatabase.h"
#include "script/ScriptVariable.h"
#include "script/VariablesCore.h"
#include "sound/Sound.h"
#include "sound/SoundCore.h"
#include "sound/SoundSettings.h"

namespace {


constexpr std::size_t kMaxSoundName = 127;
constexpr std::size_t kMaxAliasPath = 511;

std::string cut(std::string text, std::size_t limit) {
    if (text.size() > limit) text.resize(limit);
    return text;
}

bool resourceExists(std::int32_t channel, const std::string& name) {
    FilePackageDBData* data = packageData();
    return data && data->find(".ogg", name, soundChannelSource(channel)) != 0;
}

// The value of the alias variable at path below the globals, as text.
bool aliasVariable(const std::string& path, std::string& value) {
    ScriptVariable* root = gameCore.variables ? gameCore.variables->globals().root() : nullptr;
    if (!root) {
        engineLog().error("\n\nCan't find script variable [%s.%s]", "globals", path.c_str());
        return false;
    }
    // An alias that is no variable is no error: the next place is tried.
    if (!ScriptVariable::test(root, path.c_str())) return false;
    ScriptVariable* node = ScriptVariable::resolvePath(root, path.c_str());
    if (!node) return false;
    value = node->toString();
    return true;
}

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
    GameSoundLock lock;
    if (!source.open(soundChannelNeedsMono(channel_)))
        return engineLog().resourceError("Fail create OGG source for sound [%s] from alias [%s] on channel [%s]", name(),
                                         alias(), soundChannelListName(channel_));
    lastUsed = 0.0;
    return true;
}

bool BankSound::release() {
    // Instances given back and only kept for duplication have no user.
    {
        GameSoundLock lock;
        for (std::size_t i = 0; i < instances.size();) {
            if (instances[i]->buffer->flags & SoundBuffer::kReleased)
                deleteInstance(i);
            else
                ++i;
        }
    }
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
    GameSoundLock lock;
    if (source.isOpen()) source.release();
    return true;
}

double BankSound::getDuration() {
    if (!source.isOpen() && !open()) return 0.0;
    return source.length();
}

SoundInstance* BankSound::newInstance(bool allocate, bool want3D) {
    GameSoundLock lock;
    if (!source.isOpen() && !open()) return nullptr;
    SoundInstance* instance = nullptr;
    // A new voice copies a playing or cached one where it can: only a whole
    // buffer that exists can be duplicated. A streamed or unallocated
    // instance is no failure: the sound gets a buffer of its own instead.
    for (SoundInstance* existing : instances) {
        const SoundBuffer& buffer = *existing->buffer;
        if (!buffer.allocated() || buffer.streamed()) continue;
        instance = SoundInstance::duplicate(*existing);
        break;
    }
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
    GameSoundLock lock;
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
                                         sound->getName(), name(), alias());
    if (gameCore.debugFlags & DebugSoundLog) engineLog().resourceInfo("PUSH sound [%s] in [%s]", sound->getName(), name());
    GameSoundLock lock;
    sounds.push_back(sound);
    return true;
}

bool BankSound::pop(Sound* sound) {
    GameSoundLock lock;
    const auto found = std::find(sounds.begin(), sounds.end(), sound);
    if (found == sounds.end()) {
        engineLog().resourceError("Cannot pop sound [%s] from [%s] from alias [%s]: Not pushed now",
                                  sound->getName(), name(), alias());
        return true;
    }
    *found = sounds.back();
    sounds.pop_back();
    return true;
}

bool BankSound::allocateInstances() {
    GameSoundLock lock;
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
    GameSoundLock lock;
    bool ok = true;
    // Only buffers given back and cached go: one a sound still holds (not
    // released) would leave that sound connected to no buffer.
    for (SoundInstance* instance : instances) {
        SoundBuffer& buffer = *instance->buffer;
        if (buffer.allocated() && (buffer.flags & SoundBuffer::kReleased) && !buffer.deallocate()) ok = false;
    }
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
    // The sound thread walks the lists.
    GameSoundLock lock;
    auto& list = lists_[channel];
    const auto at = std::lower_bound(list.begin(), list.end(), name,
                                     [](const BankSound* sound, const char* key) { return std::strcmp(sound->name(), key) < 0; });
    if (at != list.end() && std::strcmp((*at)->name(), name) == 0) return *at;
    auto* sound = new BankSound(name, channel, aliasText);
    sound->bankOwner = this;
    list.insert(at, sound);
    return sound;
}

void SoundBank::resolveAlias(std::int32_t channel, const char* aliasIn, std::string& name, std::string& aliasText) {
    const std::string alias = cut(aliasIn ? aliasIn : "", kMaxSoundName);
    name = alias;
    aliasText = "direct";
    if (!resourceExists(channel, alias)) {
        const std::string sceneName = gameCore.game ? gameCore.game->scene : std::string();
        const std::string paths[] = {cut("sounds.alias.alias_" + sceneName + "." + alias, kMaxAliasPath),
                                     cut("sounds.alias.alias_shared." + alias, kMaxAliasPath)};
        for (const std::string& path : paths) {
            std::string value;
            if (aliasVariable(path, value)) {
                name = cut(value, kMaxSoundName);
                aliasText = path;
                break;
            }
        }
    }
    if (name.size() > 2 && name.compare(name.size() - 2, 2, "##") == 0) {
        const std::string prefix = name.substr(0, name.size() - 2);
        const std::int32_t variants = countNameVariants(".ogg", prefix, soundChannelSource(channel));
        char number[16];
        if (variants >= 1) {
            std::snprintf(number, sizeof number, "%02i", std::rand() % variants + 1);
            name = cut(prefix + number, kMaxSoundName);
        } else if (variants < 0) {
            name = alias;
        } else {
            name = prefix;
        }
    }
}

BankSound* SoundBank::findByAlias(std::int32_t channel, const char* alias) {
    std::string name, aliasText;
    resolveAlias(channel, alias, name, aliasText);
    return acquire(channel, name.c_str(), aliasText.c_str());
}

Sound* SoundBank::createSound(BankSound* bankSound, std::uint32_t flags, const char* name, bool push, bool makeIfSilent) {
    if (!bankSound) return nullptr;
    if (!name) name = "";
    SoundCore* core = gameCore.sound;
    if (!core || !core->device() || core->volumes.master.script * core->volumes.master.setup == 0.0f)
        return makeIfSilent ? new Sound(bankSound, name, false, false) : nullptr;
    if (!resourceExists(bankSound->channel(), bankSound->name())) {
        engineLog().error("Sound resource [%s] NOT found: Fail create sounds object [%s]", bankSound->name(), name);
        return nullptr;
    }
    GameSoundLock lock;
    const std::int32_t channel = bankSound->channel();
    const bool looped = channel == SoundChannelAmbientLoop || channel == SoundChannelMusic || (flags & 2u) != 0;
    auto* sound = new Sound(bankSound, name, looped, (flags & 1u) != 0);
    if (push && !sound->push()) {
        delete sound;
        engineLog().resourceError("Can't push new sound instance [%s] to [%s] from alias [%s]", name, bankSound->name(),
                                  bankSound->alias());
        return nullptr;
    }
    return sound;
}

namespace {

// Runs work on every bank sound that wants it, reporting the fraction done
// on a progress stage and the stage's end.
template <class Wants, class Work>
bool forEachBankSound(std::vector<BankSound*> (&lists)[kSoundChannelCount], std::int32_t stage, Wants wants,
                      Work work) {
    std::size_t count = 0;
    for (auto& list : lists) count += static_cast<std::size_t>(std::count_if(list.begin(), list.end(), wants));
    bool ok = true;
    std::size_t done = 0;
    for (auto& list : lists)
        for (BankSound* sound : list) {
            if (!wants(sound)) continue;
            reportLoadingProgress(stage, static_cast<float>(done) / static_cast<float>(count));
            ++done;
            // The report runs a frame of the progress screen, whose sounds
            // may have taken this sound into use meanwhile.
            if (wants(sound) && !work(*sound)) ok = false;
        }
    reportLoadingProgress(stage, 1.0f);
    return ok;
}

}  // namespace

bool SoundBank::deallocateAll() {
    GameSoundLock lock;
    buffersAllocated = false;
    return forEachBankSound(
        lists_, 6, [](const BankSound* sound) { return sound->source.isOpen() && sound->sounds.empty(); },
        [](BankSound& sound) { return sound.deallocateInstances(); });
}

bool SoundBank::allocateAll() {
    GameSoundLock lock;
    buffersAllocated = forEachBankSound(
        lists_, 12, [](const BankSound* sound) { return !sound->source.isOpen() && !sound->sounds.empty(); },
        [](BankSound& sound) { return sound.allocateInstances(); });
    return buffersAllocated;
}

bool SoundBank::releasePackages() {
    GameSoundLock lock;
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
    GameSoundLock lock;
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
