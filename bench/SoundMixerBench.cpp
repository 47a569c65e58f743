// The software mixer beside a bare loop in the same run (see PairedRun.h):
// one second of output at 44,100 Hz, 16-bit stereo, mixed from 8, 32 or 128
// looping voices, half of them 2D stereo buffers (each with its volume and
// pan), half 3D mono buffers placed around the listener (each with its
// volume, minimum distance and direction). The mixer is pulled in 10 ms
// steps into the second's samples, as an output pulls it; the bare loop
// sums the same samples with the same gains in the same 441-frame blocks
// into floats and clips them to 16 bits. Argument 0 is the number of
// voices; argument 1 is 0 when every voice plays at the output's rate (no
// resampling) and 1 for mixed rates (11,025 to 48,000 Hz), where the bare
// loop resamples linearly as the mixer does. Before timing, the first second
// of both is checked equal within two steps of 16 bits.
//
// Counters besides the pair's: realtime_x, seconds of audio mixed per second
// of the mixer's time (the inverse of its median time for one second).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "PairedRun.h"
#include "platform/sound/DirectSound.h"

namespace {

namespace ds = platform::dsound;

constexpr DWORD kOutputRate = 44100;
constexpr std::uint32_t kStepMilliseconds = 10;
constexpr std::uint32_t kStepFrames = kOutputRate * kStepMilliseconds / 1000;
constexpr std::uint32_t kSteps = 1000 / kStepMilliseconds;
constexpr DWORD kMixedRates[] = {22050, 32000, 48000, 11025, 44100};

// One voice as the bare loop reads it: its own copy of the samples, its
// gains and its place in the ring.
struct BareVoice {
    std::vector<std::int16_t> samples;  // interleaved, channels per frame
    int channels = 1;
    std::uint32_t frames = 0;
    double step = 1.0;
    double position = 0.0;
    float left = 0.0f;
    float right = 0.0f;
};

float gainOf(LONG volume) { return std::pow(10.0f, static_cast<float>(volume) / 2000.0f); }

// A deterministic signal: a sum of two tones with a little noise, so that
// neighbouring voices differ and interpolation has work to do.
std::vector<std::int16_t> signal(std::uint32_t frames, int channels, int seed, double amplitude) {
    std::vector<std::int16_t> samples(std::size_t(frames) * channels);
    std::uint32_t noise = 2463534242u + std::uint32_t(seed) * 7919u;
    for (std::uint32_t i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c) {
            noise ^= noise << 13;
            noise ^= noise >> 17;
            noise ^= noise << 5;
            const double t = double(i) / frames;
            const double value = 0.6 * std::sin(2 * M_PI * (37 + seed % 11 + c) * t) +
                                 0.3 * std::sin(2 * M_PI * (211 + 3 * seed) * t) +
                                 0.1 * (double(noise % 2001) / 1000.0 - 1.0);
            samples[std::size_t(i) * channels + c] = static_cast<std::int16_t>(amplitude * value);
        }
    return samples;
}

// The bare loop: every voice summed into the block's floats, then clipped.
void bareMix(std::vector<BareVoice>& voices, std::vector<float>& sum, std::int16_t* out) {
    std::fill(sum.begin(), sum.end(), 0.0f);
    float* target = sum.data();
    for (BareVoice& voice : voices) {
        const std::int16_t* data = voice.samples.data();
        const std::uint32_t length = voice.frames;
        const float gl = voice.left;
        const float gr = voice.right;
        if (voice.step == 1.0) {
            std::uint32_t index = static_cast<std::uint32_t>(voice.position);
            for (std::uint32_t n = 0; n < kStepFrames; ++n) {
                const float l = data[std::size_t(index) * voice.channels];
                const float r = voice.channels == 2 ? data[std::size_t(index) * 2 + 1] : l;
                target[2 * n] += l * gl;
                target[2 * n + 1] += r * gr;
                if (++index == length) index = 0;
            }
            voice.position = index;
            continue;
        }
        double position = voice.position;
        for (std::uint32_t n = 0; n < kStepFrames; ++n) {
            const std::uint32_t index = static_cast<std::uint32_t>(position);
            const float fraction = static_cast<float>(position - index);
            const std::uint32_t next = index + 1 < length ? index + 1 : 0;
            const std::size_t a = std::size_t(index) * voice.channels;
            const std::size_t b = std::size_t(next) * voice.channels;
            const float l0 = data[a];
            const float l1 = data[b];
            const float r0 = voice.channels == 2 ? data[a + 1] : l0;
            const float r1 = voice.channels == 2 ? data[b + 1] : l1;
            target[2 * n] += (l0 + (l1 - l0) * fraction) * gl;
            target[2 * n + 1] += (r0 + (r1 - r0) * fraction) * gr;
            position += voice.step;
            if (position >= length) position = std::fmod(position, double(length));
        }
        voice.position = position;
    }
    for (std::uint32_t i = 0; i < 2 * kStepFrames; ++i) {
        const float clamped = std::min(32767.0f, std::max(-32768.0f, sum[i]));
        out[i] = static_cast<std::int16_t>(clamped + (clamped >= 0.0f ? 0.5f : -0.5f));
    }
}

void BM_SoundMixerVsBareLoop(benchmark::State& state) {
    bench_pairs::fixAllocator();
    const int count = static_cast<int>(state.range(0));
    const bool mixedRates = state.range(1) != 0;
    ds::Environment environment;
    environment.output = ds::OutputKind::Null;
    std::string refused;
    environment.sink = [&refused](const char* line) { refused = line; };
    ds::setEnvironment(environment);

    IDirectSound8* device = nullptr;
    IDirectSoundBuffer* primary = nullptr;
    IDirectSound3DListener* listener = nullptr;
    std::vector<IDirectSoundBuffer*> buffers;
    std::vector<BareVoice> bare;
    auto release = [&] {
        for (IDirectSoundBuffer* buffer : buffers) buffer->Release();
        if (listener) listener->Release();
        if (primary) primary->Release();
        if (device) device->Release();
        ds::setEnvironment(ds::Environment());
    };
    auto fail = [&](const std::string& why) {
        state.SkipWithError((why + (refused.empty() ? "" : ": " + refused)).c_str());
        release();
    };

    // The device as the sound core opens it: exclusive, a 44.1 kHz 16-bit
    // stereo primary buffer playing, the listener at the origin looking
    // along +z.
    if (DirectSoundCreate8(nullptr, &device, nullptr) != DS_OK) return fail("no device");
    if (device->SetCooperativeLevel(nullptr, DSSCL_EXCLUSIVE) != DS_OK) return fail("no cooperative level");
    DSBUFFERDESC primaryDescription{36, DSBCAPS_PRIMARYBUFFER | DSBCAPS_CTRL3D, 0, 0, nullptr, DS3DALG_DEFAULT};
    if (device->CreateSoundBuffer(&primaryDescription, &primary, nullptr) != DS_OK) return fail("no primary buffer");
    const WAVEFORMATEX outputFormat{WAVE_FORMAT_PCM, 2, kOutputRate, kOutputRate * 4, 4, 16, 0};
    if (primary->SetFormat(&outputFormat) != DS_OK || primary->Play(0, 0, DSBPLAY_LOOPING) != DS_OK)
        return fail("no primary format");
    void* object = nullptr;
    if (primary->QueryInterface(IID_IDirectSound3DListener, &object) != DS_OK) return fail("no listener");
    listener = static_cast<IDirectSound3DListener*>(object);
    DS3DLISTENER listenerState{};
    listener->GetAllParameters(&listenerState);

    // The voices: even ones 2D stereo, odd ones 3D mono; rings of 0.3 to
    // 0.7 s so that they wrap at different places. Each voice's amplitude
    // keeps the sum mostly below clipping.
    const double amplitude = 32767.0 / std::sqrt(double(count));
    for (int v = 0; v < count; ++v) {
        const bool threeD = v % 2 == 1;
        const WORD channels = threeD ? 1 : 2;
        const DWORD rate = mixedRates ? kMixedRates[v % 5] : kOutputRate;
        const std::uint32_t frames = rate * (30 + (v * 7) % 41) / 100;
        BareVoice voice;
        voice.channels = channels;
        voice.frames = frames;
        voice.step = double(rate) / kOutputRate;
        voice.samples = signal(frames, channels, v, amplitude);

        const WAVEFORMATEX format{WAVE_FORMAT_PCM, channels, rate, rate * channels * 2u, WORD(channels * 2), 16, 0};
        const DWORD flags = DSBCAPS_CTRLVOLUME | DSBCAPS_GETCURRENTPOSITION2 |
                            (threeD ? DSBCAPS_CTRL3D : DSBCAPS_CTRLPAN);
        const DWORD bytes = frames * channels * 2u;
        DSBUFFERDESC description{36, flags, bytes, 0, &format, DS3DALG_DEFAULT};
        IDirectSoundBuffer* buffer = nullptr;
        if (device->CreateSoundBuffer(&description, &buffer, nullptr) != DS_OK) return fail("no voice buffer");
        buffers.push_back(buffer);
        void* part1 = nullptr;
        void* part2 = nullptr;
        DWORD bytes1 = 0, bytes2 = 0;
        if (buffer->Lock(0, bytes, &part1, &bytes1, &part2, &bytes2, 0) != DS_OK || bytes1 != bytes)
            return fail("no lock");
        std::copy(voice.samples.begin(), voice.samples.end(), static_cast<std::int16_t*>(part1));
        buffer->Unlock(part1, bytes1, part2, bytes2);

        const LONG volume = -(v * 37 % 1500);
        buffer->SetVolume(volume);
        const float gain = gainOf(volume);
        if (!threeD) {
            const LONG pan = (v * 613 % 4001) - 2000;
            buffer->SetPan(pan);
            voice.left = gain * (pan > 0 ? gainOf(-pan) : 1.0f);
            voice.right = gain * (pan < 0 ? gainOf(pan) : 1.0f);
        } else {
            // Around the listener, from 0.5 to about 20 units away, with a
            // minimum distance of 2: the near ones at full level, the far
            // ones attenuated by the inverse distance law (roll-off 1).
            const float angle = float(v) * 0.7f;
            const float distance = 0.5f + float(v % 13) * 1.5f;
            DS3DBUFFER parameters{};
            parameters.dwSize = sizeof(DS3DBUFFER);
            parameters.vPosition = {distance * std::sin(angle), 0.3f, distance * std::cos(angle)};
            parameters.dwInsideConeAngle = 360;
            parameters.dwOutsideConeAngle = 360;
            parameters.vConeOrientation = {0.0f, 0.0f, 1.0f};
            parameters.flMinDistance = 2.0f;
            parameters.flMaxDistance = 1000.0f;
            parameters.dwMode = DS3DMODE_NORMAL;
            object = nullptr;
            if (buffer->QueryInterface(IID_IDirectSound3DBuffer, &object) != DS_OK) return fail("no 3D buffer");
            auto* buffer3D = static_cast<IDirectSound3DBuffer*>(object);
            const HRESULT set = buffer3D->SetAllParameters(&parameters, DS3D_IMMEDIATE);
            buffer3D->Release();
            if (set != DS_OK) return fail("3D parameters refused");
            // The listener is at the origin with the right axis +x.
            const D3DVECTOR& p = parameters.vPosition;
            const float d = std::sqrt(p.x * p.x + p.y * p.y + p.z * p.z);
            const float clamped = std::min(d, parameters.flMaxDistance);
            const float minimum = parameters.flMinDistance;
            float attenuation = 1.0f;
            if (clamped > minimum)
                attenuation = minimum / (minimum + listenerState.flRolloffFactor * (clamped - minimum));
            const float side = std::clamp(p.x / d, -1.0f, 1.0f);
            const float pan = (side + 1.0f) * 0.5f * 1.57079632679f;
            voice.left = gain * attenuation * std::cos(pan);
            voice.right = gain * attenuation * std::sin(pan);
        }
        if (buffer->Play(0, 0, DSBPLAY_LOOPING) != DS_OK) return fail("no play");
        bare.push_back(std::move(voice));
    }

    // The mixer writes each step into the second's samples, as the bare
    // loop does: no copy or allocation on one side only.
    std::vector<std::int16_t> mixed(std::size_t(kOutputRate) * 2);
    auto throughMixer = [&] {
        for (std::uint32_t s = 0; s < kSteps; ++s)
            ds::mix(device, kStepFrames, mixed.data() + std::size_t(s) * kStepFrames * 2);
        benchmark::DoNotOptimize(mixed.data());
    };
    std::vector<float> sum(std::size_t(kStepFrames) * 2);
    std::vector<std::int16_t> bareOut(std::size_t(kOutputRate) * 2);
    auto bareLoop = [&] {
        for (std::uint32_t s = 0; s < kSteps; ++s) bareMix(bare, sum, bareOut.data() + std::size_t(s) * kStepFrames * 2);
        benchmark::DoNotOptimize(bareOut.data());
    };

    // The first second of both, compared sample by sample.
    throughMixer();
    bareLoop();
    if (mixed.size() != bareOut.size()) return fail("the mixer gave " + std::to_string(mixed.size()) + " samples");
    int worst = 0;
    std::size_t at = 0;
    for (std::size_t i = 0; i < mixed.size(); ++i) {
        const int difference = std::abs(int(mixed[i]) - int(bareOut[i]));
        if (difference > worst) worst = difference, at = i;
    }
    // A silent or saturated mix would match whatever was summed: the
    // signals keep both rare.
    std::size_t clipped = 0, silent = 0;
    for (const std::int16_t sample : mixed) {
        clipped += sample == 32767 || sample == -32768;
        silent += sample == 0;
    }
    if (clipped + silent > mixed.size() / 100) return fail("the mix is mostly silent or clipped");
    if (worst > 2)
        return fail("the mix differs from the bare loop by " + std::to_string(worst) + " at sample " +
                    std::to_string(at));

    bench_pairs::runPaired(state, throughMixer, bareLoop);
    state.counters["max_difference"] = worst;
    state.counters["clipped"] = double(clipped) / double(mixed.size());
    const double seconds = state.counters["project_ns"] / 1e9;
    state.counters["realtime_x"] = seconds > 0.0 ? 1.0 / seconds : 0.0;
    release();
}
BENCHMARK(BM_SoundMixerVsBareLoop)
    ->ArgNames({"voices", "mixed_rates"})
    ->ArgsProduct({{8, 32, 128}, {0, 1}})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
