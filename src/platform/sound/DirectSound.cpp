// The DirectSound objects: device, primary buffer, listener, secondary
// buffers and their 3D interfaces, all over one shared mixer.
#include "platform/sound/DirectSound.h"

#include <algorithm>
#include <atomic>
#include <cmath>

#include "platform/sound/SoundLocal.h"

namespace platform::dsound {

namespace {

Environment& currentEnvironment() {
    static Environment instance;
    return instance;
}

HRESULT refuse(HRESULT result, const char* call, const char* reason) {
    report("%s: %s", call, reason);
    return result;
}

HRESULT nextCreation() {
    const std::shared_ptr<FaultPlan>& faults = environment().faults;
    return faults ? faults->nextCreation() : DS_OK;
}

template <class Interface>
class Counted : public Interface {
public:
    ULONG AddRef() override { return ++refs_; }
    ULONG Release() override {
        const ULONG left = --refs_;
        if (left == 0) delete this;
        return left;
    }

private:
    std::atomic<ULONG> refs_{1};
};

class Listener final : public Counted<IDirectSound3DListener> {
public:
    explicit Listener(std::shared_ptr<Mixer> mixer) : mixer_(std::move(mixer)) {}

    HRESULT GetAllParameters(DS3DLISTENER* parameters) override {
        if (!parameters) return refuse(DSERR_INVALIDPARAM, "IDirectSound3DListener::GetAllParameters", "no record");
        std::lock_guard<std::mutex> hold(mixer_->mutex);
        // A deferred setting reads back as set.
        *parameters = mixer_->listenerPending ? mixer_->pendingListener : mixer_->listener;
        return DS_OK;
    }
    HRESULT SetAllParameters(const DS3DLISTENER* parameters, DWORD apply) override {
        if (!parameters) return refuse(DSERR_INVALIDPARAM, "IDirectSound3DListener::SetAllParameters", "no record");
        std::lock_guard<std::mutex> hold(mixer_->mutex);
        mixer_->pendingListener = *parameters;
        mixer_->pendingListener.dwSize = sizeof(DS3DLISTENER);
        if (apply == DS3D_DEFERRED) {
            mixer_->listenerPending = true;
        } else {
            mixer_->listener = mixer_->pendingListener;
            mixer_->listenerPending = false;
        }
        return DS_OK;
    }
    HRESULT CommitDeferredSettings() override {
        std::lock_guard<std::mutex> hold(mixer_->mutex);
        mixer_->commitLocked();
        return DS_OK;
    }

private:
    std::shared_ptr<Mixer> mixer_;
};

class SecondaryBuffer;

class Buffer3D final : public Counted<IDirectSound3DBuffer> {
public:
    explicit Buffer3D(SecondaryBuffer* owner);
    ~Buffer3D() override;
    HRESULT GetAllParameters(DS3DBUFFER* parameters) override;
    HRESULT SetAllParameters(const DS3DBUFFER* parameters, DWORD apply) override;

private:
    SecondaryBuffer* owner_;
};

// Calls that a secondary buffer refuses on the primary one and the other
// way round answer DSERR_INVALIDCALL from this base.
class BufferBase : public Counted<IDirectSoundBuffer> {
public:
    explicit BufferBase(std::shared_ptr<Mixer> mixer) : mixer_(std::move(mixer)) {}

    HRESULT GetCurrentPosition(DWORD*, DWORD*) override { return invalid("GetCurrentPosition"); }
    HRESULT SetCurrentPosition(DWORD) override { return invalid("SetCurrentPosition"); }
    HRESULT Lock(DWORD, DWORD, void**, DWORD*, void**, DWORD*, DWORD) override { return invalid("Lock"); }
    HRESULT Unlock(void*, DWORD, void*, DWORD) override { return invalid("Unlock"); }
    HRESULT SetPan(LONG) override { return invalid("SetPan"); }
    HRESULT SetFrequency(DWORD) override { return invalid("SetFrequency"); }
    HRESULT GetFrequency(DWORD*) override { return invalid("GetFrequency"); }
    HRESULT SetFormat(const WAVEFORMATEX*) override { return invalid("SetFormat"); }
    HRESULT GetFormat(WAVEFORMATEX*, DWORD, DWORD*) override { return invalid("GetFormat"); }
    HRESULT Restore() override { return DS_OK; }

    Mixer& mixer() { return *mixer_; }
    const std::shared_ptr<Mixer>& sharedMixer() const { return mixer_; }

protected:
    HRESULT invalid(const char* call) {
        report("IDirectSoundBuffer::%s: not a call of this kind of buffer", call);
        return DSERR_INVALIDCALL;
    }
    std::shared_ptr<Mixer> mixer_;
};

class PrimaryBuffer final : public BufferBase {
public:
    using BufferBase::BufferBase;

    HRESULT GetStatus(DWORD* status) override {
        if (!status) return refuse(DSERR_INVALIDPARAM, "IDirectSoundBuffer::GetStatus", "no status");
        *status = 0;
        return DS_OK;
    }
    // The output runs from device creation on; playing the primary buffer
    // starts it where it waited.
    HRESULT Play(DWORD, DWORD, DWORD) override {
        if (mixer_->output) mixer_->output->start();
        return DS_OK;
    }
    HRESULT Stop() override { return DS_OK; }
    HRESULT SetVolume(LONG) override { return DS_OK; }
    HRESULT GetVolume(LONG* volume) override {
        if (!volume) return refuse(DSERR_INVALIDPARAM, "IDirectSoundBuffer::GetVolume", "no value");
        *volume = 0;
        return DS_OK;
    }
    HRESULT SetFormat(const WAVEFORMATEX* format) override {
        if (!format || format->wFormatTag != WAVE_FORMAT_PCM || (format->nChannels != 1 && format->nChannels != 2) ||
            (format->wBitsPerSample != 8 && format->wBitsPerSample != 16) || format->nSamplesPerSec < 8000 ||
            format->nSamplesPerSec > kMaxBufferRate)
            return refuse(DSERR_BADFORMAT, "IDirectSoundBuffer::SetFormat", "not a PCM format of the output");
        OutputFormat wanted;
        wanted.rate = format->nSamplesPerSec;
        wanted.channels = format->nChannels;
        // The mix is always 16-bit; an 8-bit request reads back as 16.
        wanted.bits = 16;
        if (!mixer_->output) return refuse(DSERR_NODRIVER, "IDirectSoundBuffer::SetFormat", "no output");
        if (!mixer_->output->open(wanted))
            return refuse(DSERR_GENERIC, "IDirectSoundBuffer::SetFormat", "the output refused the format");
        return DS_OK;
    }
    HRESULT GetFormat(WAVEFORMATEX* format, DWORD size, DWORD* written) override {
        if (!format || size < sizeof(WAVEFORMATEX))
            return refuse(DSERR_INVALIDPARAM, "IDirectSoundBuffer::GetFormat", "record too small");
        OutputFormat current;
        {
            std::lock_guard<std::mutex> hold(mixer_->mutex);
            current = mixer_->format;
        }
        format->wFormatTag = WAVE_FORMAT_PCM;
        format->nChannels = current.channels;
        format->nSamplesPerSec = current.rate;
        format->wBitsPerSample = current.bits;
        format->nBlockAlign = static_cast<WORD>(current.channels * current.bits / 8);
        format->nAvgBytesPerSec = format->nBlockAlign * current.rate;
        format->cbSize = 0;
        if (written) *written = sizeof(WAVEFORMATEX);
        return DS_OK;
    }
    HRESULT QueryInterface(SoundInterfaceId id, void** object) override {
        if (!object) return refuse(DSERR_INVALIDPARAM, "IDirectSoundBuffer::QueryInterface", "no slot");
        *object = nullptr;
        if (id != IID_IDirectSound3DListener)
            return refuse(DSERR_NOINTERFACE, "IDirectSoundBuffer::QueryInterface", "the primary buffer has no 3D buffer");
        *object = static_cast<IDirectSound3DListener*>(new Listener(mixer_));
        return DS_OK;
    }
};

class SecondaryBuffer final : public BufferBase {
public:
    SecondaryBuffer(std::shared_ptr<Mixer> mixer, const Voice& voice) : BufferBase(std::move(mixer)), voice_(voice) {
        std::lock_guard<std::mutex> hold(mixer_->mutex);
        mixer_->voices.push_back(&voice_);
    }
    ~SecondaryBuffer() override {
        std::lock_guard<std::mutex> hold(mixer_->mutex);
        mixer_->voices.erase(std::find(mixer_->voices.begin(), mixer_->voices.end(), &voice_));
    }

    HRESULT GetStatus(DWORD* status) override {
        if (!status) return refuse(DSERR_INVALIDPARAM, "IDirectSoundBuffer::GetStatus", "no status");
        std::lock_guard<std::mutex> hold(mixer_->mutex);
        *status = 0;
        if (voice_.playing) *status |= DSBSTATUS_PLAYING | (voice_.looping ? DSBSTATUS_LOOPING : 0);
        if (voice_.lost) *status |= DSBSTATUS_BUFFERLOST;
        return DS_OK;
    }
    HRESULT Play(DWORD, DWORD, DWORD flags) override {
        std::lock_guard<std::mutex> hold(mixer_->mutex);
        if (voice_.lost) return refuse(DSERR_BUFFERLOST, "IDirectSoundBuffer::Play", "buffer lost");
        voice_.playing = true;
        voice_.looping = (flags & DSBPLAY_LOOPING) != 0;
        return DS_OK;
    }
    HRESULT Stop() override {
        std::lock_guard<std::mutex> hold(mixer_->mutex);
        voice_.playing = false;
        return DS_OK;
    }
    HRESULT GetCurrentPosition(DWORD* playCursor, DWORD* writeCursor) override {
        std::lock_guard<std::mutex> hold(mixer_->mutex);
        const DWORD align = voice_.format.nBlockAlign;
        const DWORD size = voice_.frames * align;
        const DWORD play = static_cast<DWORD>(voice_.position) * align;
        if (playCursor) *playCursor = play;
        if (writeCursor) {
            const DWORD margin = voice_.format.nSamplesPerSec * kWriteMarginMilliseconds / 1000 * align;
            *writeCursor = voice_.playing ? (play + margin) % size : play;
        }
        return DS_OK;
    }
    HRESULT SetCurrentPosition(DWORD position) override {
        std::lock_guard<std::mutex> hold(mixer_->mutex);
        if (voice_.lost) return refuse(DSERR_BUFFERLOST, "IDirectSoundBuffer::SetCurrentPosition", "buffer lost");
        if (position >= voice_.frames * voice_.format.nBlockAlign)
            return refuse(DSERR_INVALIDPARAM, "IDirectSoundBuffer::SetCurrentPosition", "beyond the buffer");
        voice_.position = position / voice_.format.nBlockAlign;
        return DS_OK;
    }
    HRESULT Lock(DWORD offset, DWORD bytes, void** part1, DWORD* bytes1, void** part2, DWORD* bytes2,
                 DWORD flags) override {
        if (!part1 || !bytes1) return refuse(DSERR_INVALIDPARAM, "IDirectSoundBuffer::Lock", "no span slots");
        *part1 = nullptr;
        *bytes1 = 0;
        if (part2) *part2 = nullptr;
        if (bytes2) *bytes2 = 0;
        DWORD write = 0;
        GetCurrentPosition(nullptr, &write);
        std::lock_guard<std::mutex> hold(mixer_->mutex);
        if (voice_.lost) return refuse(DSERR_BUFFERLOST, "IDirectSoundBuffer::Lock", "buffer lost");
        const DWORD size = static_cast<DWORD>(voice_.data->size());
        if (flags & DSBLOCK_FROMWRITECURSOR) offset = write;
        if (flags & DSBLOCK_ENTIREBUFFER) bytes = size;
        if (bytes == 0 || offset >= size || bytes > size)
            return refuse(DSERR_INVALIDPARAM, "IDirectSoundBuffer::Lock", "span outside the buffer");
        const DWORD first = std::min(bytes, size - offset);
        if (first < bytes && (!part2 || !bytes2))
            return refuse(DSERR_INVALIDPARAM, "IDirectSoundBuffer::Lock", "span wraps but no second slot");
        *part1 = voice_.data->data() + offset;
        *bytes1 = first;
        if (first < bytes) {
            *part2 = voice_.data->data();
            *bytes2 = bytes - first;
        }
        return DS_OK;
    }
    HRESULT Unlock(void* part1, DWORD bytes1, void* part2, DWORD bytes2) override {
        std::uint8_t* begin = voice_.data->data();
        std::uint8_t* end = begin + voice_.data->size();
        const auto inside = [&](void* part, DWORD bytes) {
            auto* at = static_cast<std::uint8_t*>(part);
            return !part ? bytes == 0 : at >= begin && at <= end && bytes <= static_cast<DWORD>(end - at);
        };
        if (!inside(part1, bytes1) || !inside(part2, bytes2))
            return refuse(DSERR_INVALIDPARAM, "IDirectSoundBuffer::Unlock", "span not from this buffer");
        return DS_OK;
    }
    HRESULT SetVolume(LONG volume) override {
        if (!(voice_.flags & DSBCAPS_CTRLVOLUME))
            return refuse(DSERR_CONTROLUNAVAIL, "IDirectSoundBuffer::SetVolume", "no volume control");
        if (volume < DSBVOLUME_MIN || volume > DSBVOLUME_MAX)
            return refuse(DSERR_INVALIDPARAM, "IDirectSoundBuffer::SetVolume", "volume out of range");
        std::lock_guard<std::mutex> hold(mixer_->mutex);
        voice_.volume = volume;
        return DS_OK;
    }
    HRESULT GetVolume(LONG* volume) override {
        if (!volume) return refuse(DSERR_INVALIDPARAM, "IDirectSoundBuffer::GetVolume", "no value");
        std::lock_guard<std::mutex> hold(mixer_->mutex);
        *volume = voice_.volume;
        return DS_OK;
    }
    HRESULT SetPan(LONG pan) override {
        if (!(voice_.flags & DSBCAPS_CTRLPAN))
            return refuse(DSERR_CONTROLUNAVAIL, "IDirectSoundBuffer::SetPan", "no pan control");
        if (pan < DSBPAN_LEFT || pan > DSBPAN_RIGHT)
            return refuse(DSERR_INVALIDPARAM, "IDirectSoundBuffer::SetPan", "pan out of range");
        std::lock_guard<std::mutex> hold(mixer_->mutex);
        voice_.pan = pan;
        return DS_OK;
    }
    HRESULT SetFrequency(DWORD frequency) override {
        if (!(voice_.flags & DSBCAPS_CTRLFREQUENCY))
            return refuse(DSERR_CONTROLUNAVAIL, "IDirectSoundBuffer::SetFrequency", "no frequency control");
        if (frequency != DSBFREQUENCY_ORIGINAL && (frequency < kMinBufferRate || frequency > kMaxBufferRate))
            return refuse(DSERR_INVALIDPARAM, "IDirectSoundBuffer::SetFrequency", "rate out of range");
        std::lock_guard<std::mutex> hold(mixer_->mutex);
        voice_.frequency = frequency;
        return DS_OK;
    }
    HRESULT GetFrequency(DWORD* frequency) override {
        if (!frequency) return refuse(DSERR_INVALIDPARAM, "IDirectSoundBuffer::GetFrequency", "no value");
        std::lock_guard<std::mutex> hold(mixer_->mutex);
        *frequency = voice_.frequency ? voice_.frequency : voice_.format.nSamplesPerSec;
        return DS_OK;
    }
    HRESULT Restore() override {
        std::lock_guard<std::mutex> hold(mixer_->mutex);
        voice_.lost = false;
        return DS_OK;
    }
    HRESULT QueryInterface(SoundInterfaceId id, void** object) override {
        if (!object) return refuse(DSERR_INVALIDPARAM, "IDirectSoundBuffer::QueryInterface", "no slot");
        *object = nullptr;
        if (id != IID_IDirectSound3DBuffer || !(voice_.flags & DSBCAPS_CTRL3D))
            return refuse(DSERR_NOINTERFACE, "IDirectSoundBuffer::QueryInterface", "not a 3D buffer");
        *object = static_cast<IDirectSound3DBuffer*>(new Buffer3D(this));
        return DS_OK;
    }

    // Guarded by the mixer's lock.
    Voice& voice() { return voice_; }

private:
    Voice voice_;
};

Buffer3D::Buffer3D(SecondaryBuffer* owner) : owner_(owner) { owner_->AddRef(); }
Buffer3D::~Buffer3D() { owner_->Release(); }

HRESULT Buffer3D::GetAllParameters(DS3DBUFFER* parameters) {
    if (!parameters) return refuse(DSERR_INVALIDPARAM, "IDirectSound3DBuffer::GetAllParameters", "no record");
    std::lock_guard<std::mutex> hold(owner_->mixer().mutex);
    const Voice& voice = owner_->voice();
    *parameters = voice.hasPending ? voice.pending : voice.params;
    return DS_OK;
}

HRESULT Buffer3D::SetAllParameters(const DS3DBUFFER* parameters, DWORD apply) {
    if (!parameters) return refuse(DSERR_INVALIDPARAM, "IDirectSound3DBuffer::SetAllParameters", "no record");
    if (parameters->dwMode > DS3DMODE_DISABLE || !(parameters->flMinDistance > 0.0f) ||
        !(parameters->flMaxDistance > 0.0f))
        return refuse(DSERR_INVALIDPARAM, "IDirectSound3DBuffer::SetAllParameters", "bad mode or distance");
    std::lock_guard<std::mutex> hold(owner_->mixer().mutex);
    Voice& voice = owner_->voice();
    voice.pending = *parameters;
    voice.pending.dwSize = sizeof(DS3DBUFFER);
    if (apply == DS3D_DEFERRED) {
        voice.hasPending = true;
    } else {
        voice.params = voice.pending;
        voice.hasPending = false;
    }
    return DS_OK;
}

DS3DBUFFER default3dParameters() {
    DS3DBUFFER parameters{};
    parameters.dwSize = sizeof(DS3DBUFFER);
    parameters.dwInsideConeAngle = 360;
    parameters.dwOutsideConeAngle = 360;
    parameters.vConeOrientation = {0.0f, 0.0f, 1.0f};
    parameters.flMinDistance = 1.0f;
    parameters.flMaxDistance = 1e9f;
    parameters.dwMode = DS3DMODE_NORMAL;
    return parameters;
}

// A secondary buffer's description, checked field by field: it comes from
// decoded files.
HRESULT checkDescription(const DSBUFFERDESC& description) {
    const char* call = "IDirectSound8::CreateSoundBuffer";
    const WAVEFORMATEX* format = description.lpwfxFormat;
    if (!format) return refuse(DSERR_INVALIDPARAM, call, "no format");
    if (format->wFormatTag != WAVE_FORMAT_PCM) return refuse(DSERR_INVALIDPARAM, call, "not PCM");
    if (format->nChannels != 1 && format->nChannels != 2)
        return refuse(DSERR_INVALIDPARAM, call, "channels other than 1 or 2");
    if (format->wBitsPerSample != 8 && format->wBitsPerSample != 16)
        return refuse(DSERR_INVALIDPARAM, call, "bits other than 8 or 16");
    if (format->nSamplesPerSec < kMinBufferRate || format->nSamplesPerSec > kMaxBufferRate)
        return refuse(DSERR_INVALIDPARAM, call, "rate out of range");
    if (format->nBlockAlign != format->nChannels * format->wBitsPerSample / 8)
        return refuse(DSERR_INVALIDPARAM, call, "block align does not match the format");
    if (description.dwBufferBytes < format->nBlockAlign || description.dwBufferBytes > kMaxBufferBytes)
        return refuse(DSERR_INVALIDPARAM, call, "size 0 or above the cap");
    return DS_OK;
}

class Device final : public Counted<IDirectSound8> {
public:
    explicit Device(std::shared_ptr<Mixer> mixer) : mixer_(std::move(mixer)) {}

    HRESULT GetCaps(DSCAPS* caps) override {
        if (!caps || caps->dwSize != sizeof(DSCAPS))
            return refuse(DSERR_INVALIDPARAM, "IDirectSound8::GetCaps", "no record or wrong size");
        *caps = DSCAPS{};
        caps->dwSize = sizeof(DSCAPS);
        caps->dwFlags = DSCAPS_PRIMARYMONO | DSCAPS_PRIMARYSTEREO | DSCAPS_PRIMARY8BIT | DSCAPS_PRIMARY16BIT |
                        DSCAPS_CONTINUOUSRATE | DSCAPS_SECONDARYMONO | DSCAPS_SECONDARYSTEREO |
                        DSCAPS_SECONDARY8BIT | DSCAPS_SECONDARY16BIT;
        caps->dwMinSecondarySampleRate = kMinBufferRate;
        caps->dwMaxSecondarySampleRate = kMaxBufferRate;
        caps->dwPrimaryBuffers = 1;
        const std::shared_ptr<FaultPlan>& faults = environment().faults;
        if (faults && faults->maxSecondaryRate) caps->dwMaxSecondarySampleRate = faults->maxSecondaryRate;
        return DS_OK;
    }
    HRESULT SetCooperativeLevel(HWND, DWORD level) override {
        if (level < DSSCL_NORMAL || level > DSSCL_WRITEPRIMARY)
            return refuse(DSERR_INVALIDPARAM, "IDirectSound8::SetCooperativeLevel", "unknown level");
        const std::shared_ptr<FaultPlan>& faults = environment().faults;
        if (faults && faults->refusedLevels.count(level))
            return refuse(DSERR_ALLOCATED, "IDirectSound8::SetCooperativeLevel", "level refused");
        return DS_OK;
    }
    HRESULT CreateSoundBuffer(const DSBUFFERDESC* description, IDirectSoundBuffer** buffer, void* outer) override {
        const char* call = "IDirectSound8::CreateSoundBuffer";
        if (outer) return refuse(DSERR_NOAGGREGATION, call, "no aggregation");
        if (!description || !buffer) return refuse(DSERR_INVALIDPARAM, call, "no description or slot");
        *buffer = nullptr;
        if (description->dwFlags & DSBCAPS_PRIMARYBUFFER) {
            if (description->dwBufferBytes != 0 || description->lpwfxFormat)
                return refuse(DSERR_INVALIDPARAM, call, "the primary buffer has no size or format");
        } else if (const HRESULT checked = checkDescription(*description); FAILED(checked)) {
            return checked;
        }
        if (const HRESULT injected = nextCreation(); FAILED(injected))
            return refuse(injected, call, "injected failure");
        if (description->dwFlags & DSBCAPS_PRIMARYBUFFER) {
            *buffer = new PrimaryBuffer(mixer_);
            return DS_OK;
        }
        Voice voice;
        voice.format = *description->lpwfxFormat;
        voice.format.nAvgBytesPerSec = voice.format.nBlockAlign * voice.format.nSamplesPerSec;
        voice.flags = description->dwFlags;
        voice.frames = description->dwBufferBytes / voice.format.nBlockAlign;
        voice.data = std::make_shared<std::vector<std::uint8_t>>(description->dwBufferBytes,
                                                                  voice.format.wBitsPerSample == 8 ? 0x80 : 0);
        voice.params = default3dParameters();
        *buffer = new SecondaryBuffer(mixer_, voice);
        return DS_OK;
    }
    HRESULT DuplicateSoundBuffer(IDirectSoundBuffer* original, IDirectSoundBuffer** duplicate) override {
        const char* call = "IDirectSound8::DuplicateSoundBuffer";
        if (!duplicate) return refuse(DSERR_INVALIDPARAM, call, "no slot");
        *duplicate = nullptr;
        auto* source = dynamic_cast<SecondaryBuffer*>(original);
        if (!source || source->sharedMixer() != mixer_)
            return refuse(DSERR_INVALIDPARAM, call, "not a secondary buffer of this device");
        if (const HRESULT injected = nextCreation(); FAILED(injected))
            return refuse(injected, call, "injected failure");
        Voice copy;
        {
            std::lock_guard<std::mutex> hold(mixer_->mutex);
            copy = source->voice();
        }
        copy.position = 0;
        copy.playing = false;
        copy.looping = false;
        copy.lost = false;
        *duplicate = new SecondaryBuffer(mixer_, copy);
        return DS_OK;
    }

    Mixer& mixer() { return *mixer_; }

private:
    std::shared_ptr<Mixer> mixer_;
};

}  // namespace

void setEnvironment(Environment environment) { currentEnvironment() = std::move(environment); }

const Environment& environment() { return currentEnvironment(); }

bool advance(IDirectSound8* device, std::uint32_t milliseconds, std::vector<std::int16_t>* mixed) {
    auto* owner = dynamic_cast<Device*>(device);
    if (!owner || !owner->mixer().output || owner->mixer().output->kind() != OutputKind::Null) return false;
    Mixer& mixer = owner->mixer();
    std::uint32_t frames = 0;
    WORD channels = 2;
    {
        std::lock_guard<std::mutex> hold(mixer.mutex);
        const std::uint64_t total = mixer.clockMicroFrames + std::uint64_t{milliseconds} * mixer.format.rate;
        frames = static_cast<std::uint32_t>(total / 1000);
        mixer.clockMicroFrames = total % 1000;
        channels = mixer.format.channels;
    }
    std::vector<std::int16_t> samples(static_cast<std::size_t>(frames) * channels);
    mixer.mix(samples.data(), frames);
    if (mixed) mixed->insert(mixed->end(), samples.begin(), samples.end());
    return true;
}

bool mix(IDirectSound8* device, std::uint32_t frames, std::int16_t* out) {
    auto* owner = dynamic_cast<Device*>(device);
    if (!owner) return false;
    owner->mixer().mix(out, frames);
    return true;
}

void loseBuffer(IDirectSoundBuffer* buffer) {
    auto* secondary = dynamic_cast<SecondaryBuffer*>(buffer);
    if (!secondary) return;
    std::lock_guard<std::mutex> hold(secondary->mixer().mutex);
    secondary->voice().lost = true;
    secondary->voice().playing = false;
}

}  // namespace platform::dsound

HRESULT DirectSoundCreate8(const void*, IDirectSound8** sound, void* outer) {
    using namespace platform::dsound;
    const char* call = "DirectSoundCreate8";
    if (outer) return refuse(DSERR_NOAGGREGATION, call, "no aggregation");
    if (!sound) return refuse(DSERR_INVALIDPARAM, call, "no slot");
    *sound = nullptr;
    const Environment& current = environment();
    if (current.faults && FAILED(current.faults->createResult))
        return refuse(current.faults->createResult, call, "injected failure");
    auto mixer = std::make_shared<Mixer>();
    std::unique_ptr<Output> output =
        current.output == OutputKind::Null ? createNullOutput(*mixer) : createSdlOutput(*mixer);
    if (!output) return refuse(DSERR_NODRIVER, call, "no audio output");
    if (!output->open(mixer->format)) return refuse(DSERR_NODRIVER, call, "the audio output cannot open");
    mixer->output = std::move(output);
    *sound = new Device(mixer);
    return DS_OK;
}
