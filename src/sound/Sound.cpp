#include "sound/Sound.h"

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include <lua.hpp>
#include <luabind/luabind.hpp>
#include <luabind/std_shared_ptr_converter.hpp>

#include "app/GameCore.h"
#include "app/SaveGame.h"
#include "foundation/DataStream.h"
#include "foundation/Log.h"
#include "foundation/TimeCore.h"
#include "scene/Y3Pose.h"
#include "sound/BankSound.h"
#include "sound/SoundBank.h"
#include "sound/SoundBuffer.h"
#include "sound/SoundCore.h"
#include "sound/SoundSettings.h"

namespace {

std::atomic<std::uint32_t> autoNameCounter{0};
// The start of the names the sound core gives sounds made without one.
constexpr char kAutoNamePrefix[] = "AUTO-";

constexpr std::uint32_t kLiveBits = Sound::kConnected | Sound::kPushed | Sound::kInEvent | Sound::kMuted;

std::int32_t writeVector(DataStream& stream, const D3DVECTOR& v) {
    std::int32_t total = 0;
    if (!addField(total, writeF32(stream, v.x))) return total;
    if (!addField(total, writeF32(stream, v.y))) return total;
    addField(total, writeF32(stream, v.z));
    return total;
}

std::int32_t readVector(DataStream& stream, D3DVECTOR& v) {
    std::int32_t total = 0;
    if (!addField(total, readF32(stream, v.x))) return total;
    if (!addField(total, readF32(stream, v.y))) return total;
    addField(total, readF32(stream, v.z));
    return total;
}

// The 64-byte 3D record, field by field.
std::int32_t write3d(DataStream& stream, const DS3DBUFFER& p) {
    std::int32_t total = 0;
    if (!addField(total, writeU32(stream, p.dwSize))) return total;
    if (!addField(total, writeVector(stream, p.vPosition))) return total;
    if (!addField(total, writeVector(stream, p.vVelocity))) return total;
    if (!addField(total, writeU32(stream, p.dwInsideConeAngle))) return total;
    if (!addField(total, writeU32(stream, p.dwOutsideConeAngle))) return total;
    if (!addField(total, writeVector(stream, p.vConeOrientation))) return total;
    if (!addField(total, writeI32(stream, p.lConeOutsideVolume))) return total;
    if (!addField(total, writeF32(stream, p.flMinDistance))) return total;
    if (!addField(total, writeF32(stream, p.flMaxDistance))) return total;
    addField(total, writeU32(stream, p.dwMode));
    return total;
}

std::int32_t read3d(DataStream& stream, DS3DBUFFER& p) {
    std::int32_t total = 0;
    std::uint32_t size = 0, inside = 0, outside = 0, mode = 0;
    std::int32_t coneVolume = 0;
    if (!addField(total, readU32(stream, size))) return total;
    if (!addField(total, readVector(stream, p.vPosition))) return total;
    if (!addField(total, readVector(stream, p.vVelocity))) return total;
    if (!addField(total, readU32(stream, inside))) return total;
    if (!addField(total, readU32(stream, outside))) return total;
    if (!addField(total, readVector(stream, p.vConeOrientation))) return total;
    if (!addField(total, readI32(stream, coneVolume))) return total;
    if (!addField(total, readF32(stream, p.flMinDistance))) return total;
    if (!addField(total, readF32(stream, p.flMaxDistance))) return total;
    if (!addField(total, readU32(stream, mode))) return total;
    p.dwSize = size;
    p.dwInsideConeAngle = inside;
    p.dwOutsideConeAngle = outside;
    p.lConeOutsideVolume = coneVolume;
    p.dwMode = mode;
    return total;
}

// One saved sound record, read whole before anything is applied.
struct SavedSound {
    DS3DBUFFER parameters{};
    std::uint32_t flags = 0;
    float volume = 0.0f;
    char name[GameObject::kNameSize] = {};
    BlenderHeader blend;
    ScriptEventTable events;

    std::int32_t read(DataStream& stream) {
        std::int32_t total = 0;
        if (!addField(total, read3d(stream, parameters))) return total;
        if (!addField(total, readU32(stream, flags))) return total;
        if (!addField(total, readF32(stream, volume))) return total;
        std::uint8_t length = 0;
        if (!addField(total, readU8(stream, length))) return total;
        if (length >= GameObject::kNameSize) {
            engineLog().systemError("Can't load sound: its name of %u bytes does not fit its field",
                                    static_cast<unsigned>(length));
            return -1;
        }
        if (length && !addField(total, readExact(stream, name, length))) return total;
        name[length] = 0;
        if (!addField(total, blend.read(stream))) return total;
        addField(total, events.read(stream));
        return total;
    }
};

}  // namespace

SoundScript::SoundScript(Sound* owner_) : owner(owner_) { blend.high = 1.0f; }

bool SoundScript::callEvent(std::int32_t event) {
    std::shared_ptr<SoundScript> self = shared_from_this();
    return events.call(event, "class SoundScript", owner ? owner->getName() : "", owner != nullptr,
                       [&self](lua_State* state, const char* name) { luabind::call_function<void>(state, name, self); });
}

Sound::Sound(BankSound* bankSound, const char* name_, bool looped, bool want3D)
    : GameObject(name_), bank_(bankSound), script_(std::make_shared<SoundScript>(this)) {
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
    release();
    script_->owner = nullptr;
    // A sound deleted by another owner (the repository's last release)
    // leaves the global lists.
    if (gameCore.sound) gameCore.sound->forget(this);
}

std::uint32_t Sound::getSubtype() const { return bank_ ? static_cast<std::uint32_t>(bank_->channel()) : 0u; }

void Sound::release() {
    GameSoundLock lock;
    if (instance_) {
        engineLog().systemError("Sound Release: The sound instance [%s] is allocated. Deallocate before releasing",
                                name);
        disconnect();
    }
    if (flags & kPushed) pop();
}

bool Sound::push() {
    if (flags & kPushed) return engineLog().error("Sound [%s] already registered: Cant push twice", name);
    if (!bank_ || !bank_->push(this)) return false;
    flags |= kPushed;
    return true;
}

bool Sound::pop(std::uint32_t) {
    if (flags & kConnected) disconnect();
    if (!(flags & kPushed)) return engineLog().error("Sound [%s] not registered: Can't pop", name);
    bank_->pop(this);
    flags &= ~(kConnected | kPushed);
    return true;
}

std::int32_t Sound::write(DataStream& stream) {
    std::int32_t total = 0;
    const std::size_t length = std::strlen(name);
    if (!addField(total, write3d(stream, parameters))) return total;
    // The live state (connection, push, handler, mute, a pending restore)
    // is not saved: a load marks every sound for restore.
    if (!addField(total, writeU32(stream, flags & ~(kLiveBits | kRestorePending | kVolumeFromPlay)))) return total;
    if (!addField(total, writeF32(stream, volume))) return total;
    if (!addField(total, writeU8(stream, static_cast<std::uint8_t>(length)))) return total;
    if (length && !addField(total, stream.write(name, static_cast<std::int32_t>(length)))) return total;
    if (!addField(total, script_->blend.write(stream))) return total;
    addField(total, script_->events.write(stream));
    return total;
}

std::int32_t Sound::checkRecord(DataStream& stream) {
    SavedSound saved;
    return saved.read(stream);
}

std::int32_t Sound::read(DataStream& stream) {
    SavedSound saved;
    const std::int32_t total = saved.read(stream);
    if (total < 0) return total;
    GameSoundLock lock;
    // What the sound holds now gives way to the saved state.
    if (instance_) disconnect();
    if (flags & kPushed) pop();
    parameters = saved.parameters;
    flags = (saved.flags & ~kLiveBits) | kRestorePending;
    volume = saved.volume;
    applied_ = -1.0f;
    if (std::strcmp(name, saved.name) != 0) {
        copyName(name, sizeof(name), saved.name);
        nameChanged();
    }
    script_->blend = saved.blend;
    script_->events = saved.events;
    return total;
}

void Sound::raise(std::int32_t event) {
    flags |= kInEvent;
    script_->callEvent(event);
    flags &= ~kInEvent;
}

bool Sound::connect(bool allocate, double startTime) {
    if (flags & kConnected) return engineLog().error("Sound [%s] already connected: Try to connect twice", name);
    GameSoundLock lock;
    instance_ = bank_ ? bank_->newInstance(allocate, (flags & k3D) != 0) : nullptr;
    if (!instance_) return engineLog().error("Can't connect sound [%s]", name);
    if (startTime > 0.0) instance_->setStart(startTime);
    flags |= kConnected;
    applied_ = -1.0f;
    return true;
}

bool Sound::disconnect() {
    if ((flags & kConnected) && !instance_) return engineLog().error("Sound [%s] not connected: Try to disconnect", name);
    GameSoundLock lock;
    if (instance_) bank_->releaseInstance(instance_);
    instance_ = nullptr;
    // Being 3D is the sound's own: the next connection (a play after a
    // stop, an unmute) makes a 3D voice again, which the frame places.
    flags &= ~kConnected;
    return true;
}

bool Sound::play(bool allocate, bool autorelease) {
    if (flags & kAutoReleaseArmed)
        return engineLog().error("Can't play sound [%s]: This sound in AUTORELEASE mode", name);
    GameSoundLock lock;
    if (autorelease) flags |= kAutoRelease;
    if (flags & kAutoRelease) flags |= kAutoReleaseArmed;
    flags &= ~kRestorePending;
    if (!(flags & kConnected) && !connect(allocate, 0.0))
        return engineLog().error("Can't play sound [%s]: Delete this sound object from script", name);
    if (playing() && instance_) instance_->buffer->stop();
    flags |= kPlaying;
    flags &= ~kMuted;
    raise(onPlay);
    flags |= kVolumeFromPlay;
    refreshMute();
    flags &= ~kVolumeFromPlay;
    if (!instance_) {
        // Muted by the volume: the instance comes back when it is audible.
        if (muted()) return true;
        return engineLog().error("Can't play sound buffer [%s]: not allocated", name);
    }
    if (instance_->buffer->device3D()) instance_->buffer->set3dParameters(&parameters, true);
    if (!instance_->buffer->play((flags & kLooped) != 0)) return engineLog().error("Can't play sound [%s]", name);
    return true;
}

bool Sound::restore() {
    flags &= ~(kPlaying | kAutoReleaseArmed);
    // A global sound comes back listed as in use with its bank sound, as a
    // script's is made (a scene's sounds are listed by the scene's push):
    // else the next load would take its buffer while it plays.
    if (!getSceneLink() && !(flags & kPushed)) push();
    if (play(false, false)) return true;
    return engineLog().error("Can't restore sound [%s]", name);
}

bool Sound::stop(bool withEvent) {
    GameSoundLock lock;
    if (!(flags & (kConnected | kMuted))) return false;
    if (!playing()) return engineLog().error("The sound [%s] is not played. Can't stop", name);
    if ((flags & kConnected) && !disconnect()) return engineLog().error("Can't stop sound [%s]", name);
    flags &= ~(kPlaying | kMuted);
    if (withEvent && script_->events.get(onStop)[0]) raise(onStop);
    fade(0.0f);
    return true;
}

float Sound::distanceFactor(float d) {
    // The share of the attenuation range that the distance has covered. An
    // empty range divides nothing, and a share that is not positive (a
    // distance before the range, or a NaN) is held just above 0, so that the
    // logarithm is always taken of a positive number.
    const SoundSettings& s = soundSettings;
    if (d <= s.attenMinDistance) return s.attenMaxValue;
    constexpr float kSmallest = 1e-6f;
    const float range = s.attenMaxDistance - s.attenMinDistance;
    float share = range != 0.0f ? (d - s.attenMinDistance) / range : (d > s.attenMinDistance ? 1.0f : kSmallest);
    if (!(share >= kSmallest)) share = kSmallest;
    float f = -std::log(share);
    if (f < s.attenMinValue) f = s.attenMinValue;
    if (f > s.attenMaxValue) f = s.attenMaxValue;
    return f;
}

bool Sound::setVolume(float v) { return applyVolume(v, false); }

bool Sound::refreshMute() {
    if (!playing()) return true;
    // A loaded sound waiting for its first update to play again has no
    // buffer yet; that play applies the volume in force then.
    if ((flags & kRestorePending) && !(flags & kConnected) && !muted()) return true;
    return applyVolume(volume, true);
}

bool Sound::applyVolume(float v, bool force) {
    GameSoundLock lock;
    if (!force && std::fabs(applied_ - v) < 0.001f && std::fabs(volume - v) < 0.001f) return true;
    if (!(v >= 0.0f && v <= 100.0f)) {
        engineLog().error("The sound [%s] volume is invalid (%s) expected in range 0..100%%: Can't set sound volume",
                          name, std::to_string(v).c_str());
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
                    return engineLog().error("Can't unMUTE sound [%s]: Delete this sound object from script", name);
                if (instance_->buffer->device3D()) instance_->buffer->set3dParameters(&parameters, true);
                if (playing() && !instance_->buffer->play((flags & kLooped) != 0))
                    return engineLog().error("Can't play unMUTED sound [%s]", name);
            }
        } else if (level <= DSBVOLUME_MIN && !muted()) {
            keptPosition = instance_ ? instance_->buffer->startTime : 0.0;
            if ((flags & kConnected) && playing()) {
                if (!disconnect()) return engineLog().error("Can't MUTE sound [%s]", name);
                flags |= kMuted;
            } else if (flags & kConnected) {
                return engineLog().error("The sound [%s] is not played. Can't MUTE", name);
            } else {
                return engineLog().error("The sound [%s] is not allocated. Can't MUTE", name);
            }
        }
        if (muted()) return true;
    }
    if (!(flags & kConnected) || muted() || !instance_)
        return engineLog().error("Can't set volume for sound [%s]: Not allocated", name);
    if (!instance_->buffer->setVolume(level)) return engineLog().error("Can't set sound [%s] volume", name);
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

void Sound::apply3d(bool immediate) {
    if (!instance_ || !instance_->buffer->device3D() || !(flags & (kPositioned | kPositionedToo))) return;
    instance_->buffer->set3dParameters(&parameters, immediate);
    flags &= ~(kMoved | k3dChanged);
}

bool Sound::teleport(const char* waypoint) {
    if (!waypoint || !waypoint[0])
        return engineLog().scriptError("Fail teleport sound to empty destination: [%s]->NULL", name);
    Y3Pose* pose = gameCore.scene_findWaypointOfKind(waypoint, 0);
    if (!pose)
        return engineLog().error("Required waypoint with name [%s] to execute TELEPORT for Sound object [%s]", waypoint,
                                 name);
    setPosition({pose->pose.m[9], pose->pose.m[10], pose->pose.m[11]}, false);
    return true;
}

bool Sound::updateLink() {
    if (flags & kFinished) return true;
    if (!link.parent().index()) return true;
    Matrix34 world{};
    if (!link.evaluate(world)) return engineLog().error("Can't update sound link [%s]: link not initialized", name);
    setPosition({world.m[9], world.m[10], world.m[11]}, false);
    return true;
}

bool Sound::loadRunning() {
    // While a load runs, the bank gives its buffers back and takes them
    // again: a voice made now would lose its buffer and stay silent.
    return gameCore.game && gameCore.game->loading;
}

bool Sound::updatePhase1(const CurrentTime&, std::int32_t) { return updateLink(); }

bool Sound::updatePhase0(const CurrentTime& time, std::int32_t) { return updateEnvelope(time); }

bool Sound::updateEnvelope(const CurrentTime& time) {
    if (flags & kFinished) return true;
    if ((flags & kAutoReleaseArmed) && !playing()) {
        flags &= ~kAutoReleaseArmed;
        flags |= kFinished;
        release();
        return true;
    }
    GameSoundLock lock;
    BlenderHeader& blend = script_->blend;
    if (!blend.enabled && !playing()) return true;
    bool restored = false;
    if (playing()) {
        if (flags & k3D) apply3d(false);
        if (instance_ && !instance_->buffer->playing() && !(flags & kRestorePending)) {
            stop(true);
            return true;
        }
        if (flags & kRestorePending) {
            // The restore waits for the load's end and its buffers.
            if (loadRunning() || (bank_ && bank_->bankOwner && !bank_->bankOwner->buffersAllocated)) return true;
            restored = true;
            restore();
        }
    } else if (blend.enabled && loadRunning()) {
        // An envelope about to start the sound (an automatic sound a
        // progress tick of a load runs) waits for the load's end too.
        return true;
    }
    const CurrentTime sample =
        blend.enabled && blend.level == 0.0f && !playing() && time.game.step > 0.1 ? CurrentTime::copyWithStep(time, 0.01)
                                                                                   : time;
    const bool wasOn = blend.enabled != 0;
    const float before = blend.level;
    if (!blend.update(sample)) engineLog().error("Scene sound [%s] can't be updated: blender not initialized", name);
    if (!blend.enabled) {
        // The envelope has just ended: a sound that would go on by itself
        // stops with it. A buffer loops when it plays looped or streams (a
        // streamed buffer plays round its ring until the sound has ended).
        if (wasOn && playing()) {
            const std::int32_t channel = bank_ ? bank_->channel() : 0;
            const SoundBuffer* buffer = instance_ ? instance_->buffer : nullptr;
            if (channel == SoundChannelAmbient || channel == SoundChannelMusic || !buffer || buffer->streamed() ||
                (buffer->flags & SoundBuffer::kLooped) || !buffer->playing())
                stop(true);
        }
        return true;
    }
    if (blend.level > 0.0f) {
        if ((blend.level != before || restored) && (flags & (kConnected | kMuted))) setVolume(blend.level * 100.0f);
        if (!muted() && !(playing() && (flags & kConnected))) {
            if (play(false, false))
                blend.restart();
            else
                blend.stop();
        }
    }
    return true;
}

void Sound::startBlend(float fadeIn, float blendSeconds) {
    BlenderHeader& blend = script_->blend;
    if (!(blend.enabled && blend.level > 0.0f)) {
        blend.setStart(fadeIn, blendSeconds);
        if (!(flags & kLooped)) blend.setEnd(getDuration() + fadeIn + 0.2, 0.0);
    }
    blend.enabled = 1;
    blend.level = 0.0f;
    blend.elapsed = 0.0;
}

void Sound::fade(float seconds) {
    BlenderHeader& blend = script_->blend;
    if (!(seconds > 0.0f)) {
        blend.stop();
        return;
    }
    if (!blend.enabled || (blend.level == 0.0f && playing())) {
        // A sound playing without an envelope fades from its full level, and
        // so does one whose envelope waits at level 0 before its ramp (as it
        // does again after a play restarts it): an envelope at level 0 never
        // begins its end ramp, so the fade would never end the sound.
        blend.setStart(0.0, 0.0);
        blend.enabled = 1;
        blend.elapsed = 0.0;
        blend.level = blend.high;
    }
    if (blend.endTime < 0.0 || blend.endTime - blend.elapsed > seconds) blend.setEnd(0.0, seconds);
}

double Sound::getDuration() { return bank_ ? bank_->getDuration() : 0.0; }

const char* Sound::recordName() const { return bank_ ? bank_->name() : name; }

std::string Sound::makeAutoName() const {
    char text[160];
    std::snprintf(text, sizeof text, "%s%s-%08X", kAutoNamePrefix, soundChannelListName(bank_ ? bank_->channel() : 0),
                  autoNameCounter.fetch_add(1) + 1u);
    return text;
}

void fadeMovieSound(Sound* sound, float seconds) {
    if (!sound) return;
    sound->fade(seconds);
    sound->flags |= Sound::kAutoRelease | Sound::kAutoReleaseArmed;
}
