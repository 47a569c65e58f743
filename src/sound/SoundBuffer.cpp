#include "sound/SoundBuffer.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "app/GameCore.h"
#include "foundation/Log.h"
#include "sound/BankSound.h"
#include "sound/SoundCore.h"

namespace {

bool soundLog() { return (gameCore.debugFlags & DebugSoundLog) != 0; }

// Buffer flags and lengths by channel.
constexpr DWORD kEffectBufferFlags =
    DSBCAPS_CTRL3D | DSBCAPS_CTRLVOLUME | DSBCAPS_GETCURRENTPOSITION2 | DSBCAPS_LOCSOFTWARE;
constexpr DWORD kStereoBufferFlags = DSBCAPS_CTRLVOLUME | DSBCAPS_GETCURRENTPOSITION2 | DSBCAPS_LOCSOFTWARE;
constexpr double kEffectSeconds = 1.5;
constexpr double kStereoSeconds = 1.0;

}  // namespace

LONG toDirectSoundVolume(float volume) {
    if (!(volume > 0.0f)) return DSBVOLUME_MIN;
    const double hundredths = std::trunc(1000.0 * std::log2(static_cast<double>(volume) / 100.0));
    return static_cast<LONG>(std::clamp(hundredths, static_cast<double>(DSBVOLUME_MIN), static_cast<double>(DSBVOLUME_MAX)));
}

void SoundStreamPosition::advance(std::uint32_t bytes) {
    if (size == 0) return;
    std::uint64_t position64 = static_cast<std::uint64_t>(position) + bytes;
    while (position64 >= size) {
        position64 -= size;
        wraps += size;
    }
    position = static_cast<std::uint32_t>(position64);
}

SoundBuffer::SoundBuffer(SoundInstance* owner_, bool want3D) : owner(owner_) {
    if (want3D) flags |= k3D;
}

SoundBuffer::~SoundBuffer() {
    if (buffer_) deallocate();
}

BankSound& SoundBuffer::bank() const { return *owner->bank; }
const char* SoundBuffer::name() const { return owner && owner->bank ? owner->bank->name() : ""; }

int SoundBuffer::kind() const { return (streamed() ? 0 : 2) + ((flags & k3D) ? 1 : 0); }

void SoundBuffer::clearStream() {
    for (SoundStreamPosition* group : {&decoded, &written, &played}) {
        group->position = 0;
        group->wraps = 0;
    }
    regionOffset = regionLength = 0;
    playCursor = writeCursor = 0;
}

bool SoundBuffer::allocate() {
    Log& log = engineLog();
    if (buffer_) return log.error("Try to twice allocate sound buffer [%s]", name());
    SoundCore* core = gameCore.sound;
    if (!core || !core->device())
        return log.error("Can't allocate sound buffer [%s]: sound device not initialized", name());
    const std::int32_t channel = bank().channel();
    if (channel < SoundChannelEffect || channel > SoundChannelMusic)
        return log.error("Can't allocate sound buffer [%s]: Sound channel is out of bounds", name());
    if ((flags & k3D) && channel >= SoundChannelAmbient)
        return log.error("Can't create sound buffer [%s]: Stereo source can't played as 3D", name());
    const bool effect = channel == SoundChannelEffect;
    const WAVEFORMATEX& format = bank().format();
    DSBUFFERDESC description{};
    description.dwSize = 36;
    description.dwFlags = effect ? kEffectBufferFlags : kStereoBufferFlags;
    description.lpwfxFormat = &format;
    // Only Effect buffers are 3D.
    if (effect) flags |= k3D;
    else flags &= ~k3D;
    description.guid3DAlgorithm = (flags & k3D) ? DS3DALG_NO_VIRTUALIZATION : DS3DALG_DEFAULT;
    if (!(flags & k3D)) description.dwFlags &= ~(DSBCAPS_CTRL3D | DSBCAPS_MUTE3DATMAXDISTANCE);
    auto length = static_cast<DWORD>(format.nAvgBytesPerSec * (effect ? kEffectSeconds : kStereoSeconds));
    const std::uint32_t wholeSize = bank().source.decodedSize();
    if (length > wholeSize) {
        length = wholeSize;
        flags &= ~kStreamed;
    } else {
        flags |= kStreamed;
    }
    description.dwBufferBytes = length;
    decoded.size = written.size = played.size = length;
    const HRESULT result = core->device()->CreateSoundBuffer(&description, &buffer_, nullptr);
    if (FAILED(result)) {
        buffer_ = nullptr;
        return log.error("Can't create sound buffer [%s]: DXSound error [%s]", name(), soundErrorName(result));
    }
    ++core->allocatedBuffers[kind()];
    if (soundLog()) log.info("Allocated sound buffer [%s] for [%i]", name(), static_cast<int>(length));
    return reset();
}

bool SoundBuffer::deallocate() {
    SoundCore* core = gameCore.sound;
    if (!buffer_) return engineLog().error("Can't deallocate sound [%s]: not allocated", name());
    if (core) core->lock();
    if (playing()) stop();
    if (buffer3D_) buffer3D_->Release();
    buffer3D_ = nullptr;
    buffer_->Release();
    buffer_ = nullptr;
    if (soundLog()) engineLog().info("Deallocated sound buffer [%s]", name());
    if (core) {
        --core->allocatedBuffers[kind()];
        core->unlock();
    }
    return true;
}

bool SoundBuffer::duplicateFrom(SoundBuffer& source) {
    Log& log = engineLog();
    if (!source.buffer_ || source.streamed()) return log.error("The sound buffer [%s] can't be duplicated", name());
    SoundCore* core = gameCore.sound;
    if (!core || !core->device()) return log.error("Cant duplicate sound [%s] : can't find sound device", name());
    if (buffer_) deallocate();
    const HRESULT result = core->device()->DuplicateSoundBuffer(source.buffer_, &buffer_);
    if (FAILED(result)) {
        buffer_ = nullptr;
        return log.error("Can't duplicate sound buffer: DSOUND error [%s]", soundErrorName(result));
    }
    status = source.status;
    flags = source.flags & ~(kPlaying | kReleased);
    startTime = source.startTime;
    decoded = source.decoded;
    written = source.written;
    played = source.played;
    regionOffset = source.regionOffset;
    regionLength = source.regionLength;
    playCursor = source.playCursor;
    writeCursor = source.writeCursor;
    // Silent until the owner sets its volume.
    buffer_->SetVolume(DSBVOLUME_MIN);
    ++core->allocatedBuffers[kind()];
    return reset();
}

bool SoundBuffer::reset() {
    if (playing()) return engineLog().error("Can't reset sound buffer [%s]: Stop first", name());
    if (!buffer_) return false;
    buffer_->SetCurrentPosition(0);
    if ((flags & k3D) && !buffer3D_) {
        void* object = nullptr;
        if (SUCCEEDED(buffer_->QueryInterface(IID_IDirectSound3DBuffer, &object)))
            buffer3D_ = static_cast<IDirectSound3DBuffer*>(object);
    }
    return true;
}

bool SoundBuffer::restore(bool refill) {
    if (!gameCore.sound) return false;
    EngineLock guard(*gameCore.sound);
    if (!buffer_) return false;
    flags &= ~kPlayStarted;
    if (FAILED(buffer_->GetStatus(&status))) return false;
    if (!(status & DSBSTATUS_BUFFERLOST)) return true;
    const HRESULT result = buffer_->Restore();
    if (FAILED(result))
        return engineLog().error("Can't restore sound buffer [%s]: %s", name(), soundErrorName(result));
    stop();
    startTime = 0.0;
    if (refill) return bank().source.decodeInto(*this);
    return true;
}

bool SoundBuffer::writeRegion() {
    regionOffset = written.position;
    regionLength = 0;
    const std::int64_t size = written.size;
    if (!playing()) {
        regionLength = written.size;
        return true;
    }
    if (!buffer_ || FAILED(buffer_->GetCurrentPosition(&playCursor, &writeCursor))) return false;
    if (playCursor >= size) playCursor = 0;
    if (writeCursor >= size) writeCursor = 0;
    if (playCursor < played.position) played.wraps += written.size;
    played.position = playCursor;
    std::int64_t free = size - (written.total() - played.total());
    // Less than nothing left to play (free above the size): the player
    // overtook the writer. More than a buffer ahead cannot be right either.
    if (free < 0 || free > size) {
        // The player overtook the writer: what was written is played, and
        // writing goes on at the device's write cursor.
        const bool decodedWithWriter = decoded.total() == written.total();
        written.position = writeCursor;
        written.wraps = played.wraps + (writeCursor < playCursor ? written.size : 0);
        if (decodedWithWriter) decoded = written;
        regionOffset = written.position;
        free = size - (written.total() - played.total());
    }
    if (free - kGuardBytes < 0) return false;
    regionLength = static_cast<std::uint32_t>(std::min(free - kGuardBytes, size));
    return true;
}

bool SoundBuffer::write(const void* data, std::uint32_t bytes, std::uint32_t offset) {
    if (!gameCore.sound) return false;
    EngineLock guard(*gameCore.sound);
    if (!buffer_) return engineLog().error("Can't lock sound buffer [%s]: Allocate first", name());
    void* part1 = nullptr;
    void* part2 = nullptr;
    DWORD bytes1 = 0, bytes2 = 0;
    HRESULT result = buffer_->Lock(offset, bytes, &part1, &bytes1, &part2, &bytes2, 0);
    if (result == DSERR_BUFFERLOST) {
        buffer_->Restore();
        result = buffer_->Lock(offset, bytes, &part1, &bytes1, &part2, &bytes2, 0);
    }
    if (FAILED(result)) {
        flags |= kLost;
        return engineLog().error("Can't write to sound buffer [%s]: lock or restore failed [%s]", name(),
                                 soundErrorName(result));
    }
    const auto* source = static_cast<const std::uint8_t*>(data);
    const DWORD first = std::min<DWORD>(bytes1, bytes);
    std::memcpy(part1, source, first);
    if (part2 && first < bytes) std::memcpy(part2, source + first, std::min<DWORD>(bytes2, bytes - first));
    if (FAILED(buffer_->Unlock(part1, bytes1, part2, bytes2)))
        return engineLog().error("Can't write to sound buffer [%s]: unlock failed", name());
    return true;
}

bool SoundBuffer::play(bool loop) {
    if (!buffer_) return engineLog().error("Can't play sound buffer [%s]: allocate first", name());
    if (playing()) return engineLog().error("Can't play sound buffer [%s] twice", name());
    SoundCore& core = *gameCore.sound;
    EngineLock guard(core);
    bank().source.decodeInto(*this);
    const bool ok = SUCCEEDED(buffer_->Play(0, 0, (streamed() || loop) ? DSBPLAY_LOOPING : 0));
    if (ok) {
        flags |= kPlaying | kPlayStarted;
        ++core.playingBuffers[kind()];
    } else {
        flags &= ~(kPlaying | kPlayStarted);
    }
    if (loop) flags |= kLooped;
    else flags &= ~kLooped;
    if (!restore(true)) return false;
    return ok;
}

bool SoundBuffer::stop() {
    if (!buffer_) return engineLog().error("Can't stop sound buffer: allocate first");
    SoundCore& core = *gameCore.sound;
    EngineLock guard(core);
    const bool ok = SUCCEEDED(buffer_->Stop());
    buffer_->SetCurrentPosition(0);
    startTime = 0.0;
    clearStream();
    if (playing()) --core.playingBuffers[kind()];
    flags &= ~(kPlaying | kPlayStarted);
    if (ok) restore(false);
    return ok;
}

bool SoundBuffer::setVolume(LONG hundredthsOfDecibel) {
    if (!buffer_) return engineLog().error("Can't set volume on sound buffer [%s]: allocate first", name());
    EngineLock guard(*gameCore.sound);
    if (!restore(true)) return false;
    return SUCCEEDED(buffer_->SetVolume(hundredthsOfDecibel));
}

bool SoundBuffer::set3dParameters(const DS3DBUFFER* parameters, bool immediate) {
    if (!buffer_) return engineLog().error("Can't set position of sound buffer [%s]: allocate first", name());
    if (!buffer3D_) return engineLog().error("Can't set position of sound [%s]: this sound is not 3d", name());
    return SUCCEEDED(buffer3D_->SetAllParameters(parameters, immediate ? DS3D_IMMEDIATE : DS3D_DEFERRED));
}

bool SoundBuffer::update() {
    if ((flags & kLost) && buffer_) {
        deallocate();
        const bool ok = allocate();
        if (ok) flags &= ~kLost;
        else flags |= kLost;
        if (!ok) return true;
    }
    if (!buffer_) return false;
    if (!(flags & kLooped) && playing()) {
        if (FAILED(buffer_->GetStatus(&status))) status = 0;
        if (!(status & DSBSTATUS_PLAYING) || played.total() > decoded.total()) stop();
    }
    return true;
}

SoundInstance::SoundInstance(BankSound* bank_, bool want3D) : bank(bank_), buffer(new SoundBuffer(this, want3D)) {}

SoundInstance::~SoundInstance() { delete buffer; }

SoundInstance* SoundInstance::duplicate(SoundInstance& source) {
    auto* instance = new SoundInstance(source.bank, (source.buffer->flags & SoundBuffer::k3D) != 0);
    if (!instance->buffer->duplicateFrom(*source.buffer)) {
        engineLog().systemError("Can't duplicate sound buffer [%s]", source.bank->name());
        delete instance;
        return nullptr;
    }
    return instance;
}

bool SoundInstance::allocate() {
    if (buffer->allocated())
        return engineLog().resourceError("Sound buffer [%s] already allocated: Can't allocate", bank->name());
    if (!buffer->allocate()) {
        if (buffer->allocated()) buffer->deallocate();
        return false;
    }
    buffer->startTime = 0.0;
    return true;
}

bool SoundInstance::setStart(double seconds) {
    EngineLock guard(*gameCore.sound);
    if (buffer->playing()) buffer->stop();
    buffer->startTime = seconds;
    return true;
}

void SoundInstance::tick() {
    EngineLock guard(*gameCore.sound);
    if (!buffer->playing()) return;
    buffer->update();
    if (buffer->streamed() && buffer->playing()) bank->source.decodeInto(*buffer);
}
