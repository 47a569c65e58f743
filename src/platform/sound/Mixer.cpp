// The software mixer: every playing voice read from its ring at its own
// rate, resampled linearly to the output rate, gained, panned and summed in
// floats, then clipped to 16 bits.
#include "platform/sound/SoundLocal.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace platform::dsound {

namespace {

constexpr float kHalfPi = 1.57079632679f;

// The gain of a volume in hundredths of a decibel; DSBVOLUME_MIN is silence.
float volumeGain(LONG volume) {
    if (volume <= DSBVOLUME_MIN) return 0.0f;
    if (volume >= 0) return 1.0f;
    return std::pow(10.0f, static_cast<float>(volume) / 2000.0f);
}

float dot(const D3DVECTOR& a, const D3DVECTOR& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }

D3DVECTOR cross(const D3DVECTOR& a, const D3DVECTOR& b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

D3DVECTOR normalized(const D3DVECTOR& v) {
    const float length = std::sqrt(dot(v, v));
    if (length < 1e-12f) return {0.0f, 0.0f, 0.0f};
    return {v.x / length, v.y / length, v.z / length};
}

// Left and right gains of a voice; down is set when the voice is mixed down
// to mono first (3D).
void voiceGains(const Voice& voice, const DS3DLISTENER& listener, float& left, float& right, bool& down) {
    const float gain = volumeGain(voice.volume);
    down = (voice.flags & DSBCAPS_CTRL3D) && voice.params.dwMode != DS3DMODE_DISABLE;
    if (!down) {
        left = gain * (voice.pan > 0 ? volumeGain(-voice.pan) : 1.0f);
        right = gain * (voice.pan < 0 ? volumeGain(voice.pan) : 1.0f);
        return;
    }
    D3DVECTOR relative = voice.params.vPosition;
    float x = relative.x;
    if (voice.params.dwMode == DS3DMODE_NORMAL) {
        relative = {relative.x - listener.vPosition.x, relative.y - listener.vPosition.y,
                    relative.z - listener.vPosition.z};
        const D3DVECTOR front = normalized(listener.vOrientFront);
        const D3DVECTOR rightAxis = normalized(cross(listener.vOrientTop, front));
        x = dot(relative, rightAxis);
    }
    const float distance = std::sqrt(dot(relative, relative));
    const float minimum = std::max(voice.params.flMinDistance, 1e-6f);
    const float clamped = std::min(distance, std::max(voice.params.flMaxDistance, minimum));
    float attenuation = 1.0f;
    if (clamped > minimum) attenuation = minimum / (minimum + listener.flRolloffFactor * (clamped - minimum));
    const float side = distance > 1e-6f ? std::clamp(x / distance, -1.0f, 1.0f) : 0.0f;
    const float angle = (side + 1.0f) * 0.5f * kHalfPi;
    left = gain * attenuation * std::cos(angle);
    right = gain * attenuation * std::sin(angle);
}

template <int Bits, int Channels>
inline void frameAt(const std::uint8_t* data, DWORD index, float& left, float& right) {
    if constexpr (Bits == 16) {
        const std::int16_t* sample = reinterpret_cast<const std::int16_t*>(data) + index * Channels;
        left = sample[0];
        right = Channels == 2 ? sample[1] : left;
    } else {
        const std::uint8_t* sample = data + index * Channels;
        left = (static_cast<int>(sample[0]) - 128) * 256.0f;
        right = Channels == 2 ? (static_cast<int>(sample[1]) - 128) * 256.0f : left;
    }
}

// Ends a voice that ran off the end of its ring without looping.
void endVoice(Voice& voice) {
    voice.playing = false;
    voice.position = 0;
}

template <int Bits, int Channels, bool Down>
void mixVoice(Voice& voice, float* out, std::uint32_t frames, double step, float gainLeft, float gainRight) {
    constexpr bool down = Down;
    const std::uint8_t* data = voice.data->data();
    const DWORD length = voice.frames;
    if constexpr (down) {
        gainLeft *= 0.5f;
        gainRight *= 0.5f;
    }
    std::uint32_t n = 0;
    if (step == 1.0 && voice.position == std::floor(voice.position)) {
        // Same rate: straight copies, in runs up to the ring's end.
        while (n < frames) {
            const DWORD index = static_cast<DWORD>(voice.position);
            const std::uint32_t run = std::min<std::uint32_t>(length - index, frames - n);
            float* target = out + 2 * n;
            for (std::uint32_t k = 0; k < run; ++k) {
                float left, right;
                frameAt<Bits, Channels>(data, index + k, left, right);
                if constexpr (down) left = right = left + right;
                target[2 * k] += left * gainLeft;
                target[2 * k + 1] += right * gainRight;
            }
            n += run;
            voice.position += run;
            if (voice.position >= length) {
                if (!voice.looping) return endVoice(voice);
                voice.position = 0;
            }
        }
        return;
    }
    // The position and the loop flag are kept in locals while resampling.
    double position = voice.position;
    const bool looping = voice.looping;
    for (; n < frames; ++n) {
        const DWORD index = static_cast<DWORD>(position);
        const float fraction = static_cast<float>(position - index);
        DWORD next = index + 1;
        if (next >= length) next = looping ? 0 : index;
        float left0, right0, left1, right1;
        frameAt<Bits, Channels>(data, index, left0, right0);
        frameAt<Bits, Channels>(data, next, left1, right1);
        float left = left0 + (left1 - left0) * fraction;
        float right = right0 + (right1 - right0) * fraction;
        if constexpr (down) left = right = left + right;
        out[2 * n] += left * gainLeft;
        out[2 * n + 1] += right * gainRight;
        position += step;
        if (position >= length) {
            if (!looping) return endVoice(voice);
            position = std::fmod(position, static_cast<double>(length));
        }
    }
    voice.position = position;
}

std::int16_t clip(float value) {
    const float clamped = std::min(32767.0f, std::max(-32768.0f, value));
    return static_cast<std::int16_t>(clamped + (clamped >= 0.0f ? 0.5f : -0.5f));
}

template <int Bits, int Channels>
void mixVoiceOf(Voice& voice, float* out, std::uint32_t frames, double step, float left, float right, bool down) {
    if (down)
        mixVoice<Bits, Channels, true>(voice, out, frames, step, left, right);
    else
        mixVoice<Bits, Channels, false>(voice, out, frames, step, left, right);
}

}  // namespace

Mixer::Mixer() {
    listener.dwSize = sizeof(DS3DLISTENER);
    listener.vOrientFront = {0.0f, 0.0f, 1.0f};
    listener.vOrientTop = {0.0f, 1.0f, 0.0f};
    listener.flDistanceFactor = 1.0f;
    listener.flRolloffFactor = 1.0f;
    listener.flDopplerFactor = 1.0f;
    pendingListener = listener;
}

Mixer::~Mixer() {
    // The output's thread stops before the voices and the mixer go.
    if (output) output->close();
}

void Mixer::gainsOf(Voice& voice, float& left, float& right, bool& down) {
    Voice::Gains& kept = voice.gains;
    const bool threeD = (voice.flags & DSBCAPS_CTRL3D) != 0;
    if (!kept.valid || kept.volume != voice.volume || kept.pan != voice.pan ||
        std::memcmp(&kept.params, &voice.params, sizeof(DS3DBUFFER)) != 0 ||
        (threeD && kept.listener != listenerVersion_)) {
        voiceGains(voice, listener, kept.left, kept.right, kept.down);
        kept.valid = true;
        kept.volume = voice.volume;
        kept.pan = voice.pan;
        kept.params = voice.params;
        kept.listener = listenerVersion_;
    }
    left = kept.left;
    right = kept.right;
    down = kept.down;
}

void Mixer::mix(std::int16_t* out, std::uint32_t frames) {
    std::lock_guard<std::mutex> hold(mutex);
    accumulator_.assign(static_cast<std::size_t>(frames) * 2, 0.0f);
    float* sum = accumulator_.data();
    if (std::memcmp(&gainListener_, &listener, sizeof(DS3DLISTENER)) != 0) {
        gainListener_ = listener;
        ++listenerVersion_;
    }
    for (Voice* voice : voices) {
        if (!voice->playing || voice->lost || voice->frames == 0) continue;
        float left, right;
        bool down;
        gainsOf(*voice, left, right, down);
        const DWORD rate = voice->frequency ? voice->frequency : voice->format.nSamplesPerSec;
        const double step = static_cast<double>(rate) / format.rate;
        const bool wide = voice->format.wBitsPerSample == 16;
        if (voice->format.nChannels == 2) {
            if (wide) mixVoiceOf<16, 2>(*voice, sum, frames, step, left, right, down);
            else mixVoiceOf<8, 2>(*voice, sum, frames, step, left, right, down);
        } else {
            if (wide) mixVoiceOf<16, 1>(*voice, sum, frames, step, left, right, down);
            else mixVoiceOf<8, 1>(*voice, sum, frames, step, left, right, down);
        }
    }
    if (format.channels == 2) {
        for (std::uint32_t i = 0; i < frames * 2; ++i) out[i] = clip(sum[i]);
    } else {
        for (std::uint32_t i = 0; i < frames; ++i) out[i] = clip((sum[2 * i] + sum[2 * i + 1]) * 0.5f);
    }
}

void Mixer::commitLocked() {
    if (listenerPending) listener = pendingListener;
    listenerPending = false;
    for (Voice* voice : voices) {
        if (!voice->hasPending) continue;
        voice->params = voice->pending;
        voice->hasPending = false;
    }
}

void report(const char* format, ...) {
    const MessageSink& sink = environment().sink;
    if (!sink) return;
    char line[512];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(line, sizeof(line), format, arguments);
    va_end(arguments);
    sink(line);
}

}  // namespace platform::dsound
