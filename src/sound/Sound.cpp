#include "sound/Sound.h"

#include <atomic>
#include <cmath>
#include <cstdio>
#include <string>

#include "app/GameCore.h"
#include "foundation/Log.h"
#include "sound/BankSound.h"
#include "sound/SoundBank.h"
#include "sound/SoundBuffer.h"
#include "sound/SoundCore.h"
#include "sound/SoundSettings.h"

namespace {

std::atomic<std::uint32_t> autoNameCounter{0};

}  // namespace

Sound::Sound(BankSound* bankSound, const char* name_, bool looped, bool want3D) : bank_(bankSound) {
    name = name_ ? name_ : "";
    if (name.size() > 127) name.resize(127);
    if (looped) flags |= kLooped;
    if (want3D) flags |= k3D | kSoftAttenuation;
    parameters.dwSize = sizeof(DS3DBUFFER);
    parameters.dwInsideConeAngle = 360;
    parameters.dwOutsideConeAngle = 360;
    parameters.vConeOrientation = {0.0f, 0.0f, 1.0f};
    parameters.flMinDistance = soundSettings.useSoft3dAttenuation ? 1.0e9f : 1.0f;
    parameters.flMaxDistance = 1.0e9f;
    parameters.dwMode = DS3DMODE_NORMAL;
}

Sound::~Sound() {
    GameSoundLock lock;
    if (instance_) {
        engineLog().systemError("Sound Release: The sound instance [%s] is allocated. Deallocate before releasing",
                                name.c_str());
        disconnect();
    }
    if (flags & kPushed) pop();
}

bool Sound::push() {
    if (flags & kPushed) return engineLog().error("Sound [%s] already registered: Cant push twice", name.c_str());
    if (!bank_ || !bank_->push(this)) return false;
    flags |= kPushed;
    return true;
}

bool Sound::pop() {
    if (flags & kConnected) disconnect();
    if (!(flags & kPushed)) return engineLog().error("Sound [%s] not registered: Can't pop", name.c_str());
    bank_->pop(this);
    flags &= ~(kConnected | kPushed);
    return true;
}

bool Sound::connect(bool allocate, double startTime) {
    if (flags & kConnected) return engineLog().error("Sound [%s] already connected: Try to connect twice", name.c_str());
    GameSoundLock lock;
    instance_ = bank_ ? bank_->newInstance(allocate, (flags & k3D) != 0) : nullptr;
    if (!instance_) return engineLog().error("Can't connect sound [%s]", name.c_str());
    if (startTime > 0.0) instance_->setStart(startTime);
    flags |= kConnected;
    applied_ = -1.0f;
    return true;
}

bool Sound::disconnect() {
    if ((flags & kConnected) && !instance_)
        return engineLog().error("Sound [%s] not connected: Try to disconnect", name.c_str());
    GameSoundLock lock;
    if (instance_) bank_->releaseInstance(instance_);
    instance_ = nullptr;
    flags &= ~(kConnected | k3D);
    return true;
}

bool Sound::play(bool allocate, bool autorelease) {
    if (flags & kAutoReleaseArmed)
        return engineLog().error("Can't play sound [%s]: This sound in AUTORELEASE mode", name.c_str());
    GameSoundLock lock;
    if (autorelease) flags |= kAutoRelease;
    if (flags & kAutoRelease) flags |= kAutoReleaseArmed;
    flags &= ~kRestorePending;
    if (!(flags & kConnected) && !connect(allocate, 0.0))
        return engineLog().error("Can't play sound [%s]: Delete this sound object from script", name.c_str());
    if (playing() && instance_) instance_->buffer->stop();
    flags |= kPlaying;
    flags &= ~kMuted;
    flags |= kVolumeFromPlay;
    refreshMute();
    flags &= ~kVolumeFromPlay;
    if (!instance_) {
        // Muted by the volume: the instance comes back when it is audible.
        if (muted()) return true;
        return engineLog().error("Can't play sound buffer [%s]: not allocated", name.c_str());
    }
    if (instance_->buffer->device3D()) instance_->buffer->set3dParameters(&parameters, true);
    if (!instance_->buffer->play((flags & kLooped) != 0)) return engineLog().error("Can't play sound [%s]", name.c_str());
    return true;
}

bool Sound::stop(bool) {
    GameSoundLock lock;
    if (!(flags & (kConnected | kMuted))) return false;
    if (!playing()) return engineLog().error("The sound [%s] is not played. Can't stop", name.c_str());
    if ((flags & kConnected) && !disconnect()) return engineLog().error("Can't stop sound [%s]", name.c_str());
    flags &= ~(kPlaying | kMuted);
    fade(0.0f);
    return true;
}

float Sound::distanceFactor(float d) {
    const SoundSettings& s = soundSettings;
    if (d <= s.attenMinDistance) return s.attenMaxValue;
    const float span = s.attenMaxDistance - s.attenMinDistance;
    float f = span > 0.0f ? -std::log((d - s.attenMinDistance) / span) : s.attenMaxValue;
    if (!(f >= s.attenMinValue)) f = s.attenMinValue;
    if (f > s.attenMaxValue) f = s.attenMaxValue;
    return f;
}

bool Sound::setVolume(float v) { return applyVolume(v, false); }

bool Sound::refreshMute() {
    if (!playing()) return true;
    return applyVolume(volume, true);
}

bool Sound::applyVolume(float v, bool force) {
    GameSoundLock lock;
    if (!force && std::fabs(applied_ - v) < 0.001f && std::fabs(volume - v) < 0.001f) return true;
    if (!(v >= 0.0f && v <= 100.0f)) {
        engineLog().error("The sound [%s] volume is invalid (%s) expected in range 0..100%%: Can't set sound volume",
                          name.c_str(), std::to_string(v).c_str());
        return false;
    }
    volume = v;
    applied_ = v;
    float factor = 1.0f;
    SoundCore* core = gameCore.sound;
    if ((flags & kSoftAttenuation) && soundSettings.useSoft3dAttenuation && core) {
        const D3DVECTOR& l = core->listenerParameters().vPosition;
        const D3DVECTOR& p = parameters.vPosition;
        const float dx = p.x - l.x, dy = p.y - l.y, dz = p.z - l.z;
        factor = distanceFactor(std::sqrt(dx * dx + dy * dy + dz * dz));
    }
    float channelProduct = 1.0f;
    if (core && bank_) {
        const SoundVolumes& vol = core->volumes;
        const SoundChannelVolume& channel = vol.channels[bank_->channel()];
        channelProduct = vol.master.setup * channel.setup * vol.master.script * channel.script;
    }
    const float effective = v * factor * channelProduct;
    const LONG level = toDirectSoundVolume(effective);
    if ((flags & (kPlaying | kMuted)) && (channelProduct == 0.0f || !(flags & kVolumeFromPlay))) {
        if (level > DSBVOLUME_MIN && muted()) {
            flags &= ~kMuted;
            if (!(flags & kConnected)) {
                if (!connect(false, keptPosition))
                    return engineLog().error("Can't unMUTE sound [%s]: Delete this sound object from script", name.c_str());
                if (instance_->buffer->device3D()) instance_->buffer->set3dParameters(&parameters, true);
                if (playing() && !instance_->buffer->play((flags & kLooped) != 0))
                    return engineLog().error("Can't play unMUTED sound [%s]", name.c_str());
            }
        } else if (level <= DSBVOLUME_MIN && !muted()) {
            keptPosition = instance_ ? instance_->buffer->startTime : 0.0;
            if ((flags & kConnected) && playing()) {
                if (!disconnect()) return engineLog().error("Can't MUTE sound [%s]", name.c_str());
                flags |= kMuted;
            } else if (flags & kConnected) {
                return engineLog().error("The sound [%s] is not played. Can't MUTE", name.c_str());
            } else {
                return engineLog().error("The sound [%s] is not allocated. Can't MUTE", name.c_str());
            }
        }
        if (muted()) return true;
    }
    if (!(flags & kConnected) || muted() || !instance_)
        return engineLog().error("Can't set volume for sound [%s]: Not allocated", name.c_str());
    if (!instance_->buffer->setVolume(level)) return engineLog().error("Can't set sound [%s] volume", name.c_str());
    return true;
}

bool Sound::setPosition(const D3DVECTOR& p, bool keep) {
    if (!keep) flags |= kPositioned;
    const D3DVECTOR& s = parameters.vPosition;
    const float dx = p.x - s.x, dy = p.y - s.y, dz = p.z - s.z;
    if (std::sqrt(dx * dx + dy * dy + dz * dz) < 0.05f && !(flags & kMoved)) return false;
    parameters.vPosition = p;
    flags |= kMoved;
    return true;
}

double Sound::getDuration() { return bank_ ? bank_->getDuration() : 0.0; }

std::string Sound::makeAutoName() const {
    char text[160];
    std::snprintf(text, sizeof text, "AUTO-%s-%08X", soundChannelListName(bank_ ? bank_->channel() : 0),
                  autoNameCounter.fetch_add(1) + 1u);
    return text;
}

void Sound::fade(float seconds) {
    fading = seconds > 0.0f;
    fadeSeconds = seconds > 0.0f ? seconds : 0.0f;
}

void fadeMovieSound(Sound* sound, float seconds) {
    if (!sound) return;
    sound->fade(seconds);
    sound->flags |= Sound::kAutoRelease;
}
