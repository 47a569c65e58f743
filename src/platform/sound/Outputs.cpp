// The two outputs: null (the mix is pulled only by tests through the manual
// clock) and SDL2 audio (its callback pulls from the mixer). The SDL output
// starts SDL's audio subsystem itself, so it works beside the window
// layer's video or without it (the headless window backend).
#include "platform/sound/SoundLocal.h"

#include <SDL.h>

namespace platform::dsound {

namespace {

class NullOutput final : public Output {
public:
    explicit NullOutput(Mixer& mixer) : mixer_(mixer) {}
    OutputKind kind() const override { return OutputKind::Null; }
    bool open(const OutputFormat& format) override {
        const OutputFormat taken = format;
        std::lock_guard<std::mutex> hold(mixer_.mutex);
        mixer_.format = taken;
        mixer_.clockMicroFrames = 0;
        return true;
    }
    void start() override {}
    void close() override {}

private:
    Mixer& mixer_;
};

class SdlOutput final : public Output {
public:
    explicit SdlOutput(Mixer& mixer) : mixer_(mixer) {}
    ~SdlOutput() override {
        close();
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
    }

    OutputKind kind() const override { return OutputKind::Sdl; }

    bool open(const OutputFormat& format) override {
        const OutputFormat wanted = format;
        // Reopening costs the device thread's stop: the same format keeps
        // the device that is open.
        if (device_ && wanted.rate == open_.rate && wanted.channels == open_.channels) return true;
        close();
        SDL_AudioSpec want{};
        want.freq = static_cast<int>(wanted.rate);
        want.format = AUDIO_S16SYS;
        want.channels = static_cast<Uint8>(wanted.channels);
        want.samples = 1024;
        want.callback = &SdlOutput::pull;
        want.userdata = &mixer_;
        SDL_AudioSpec have{};
        // No changes allowed: SDL converts to what the device plays, so the
        // mix keeps the format asked for.
        const SDL_AudioDeviceID device = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
        if (device == 0) {
            report("SDL audio: can't open a device: %s", SDL_GetError());
            return false;
        }
        {
            std::lock_guard<std::mutex> hold(mixer_.mutex);
            mixer_.format = wanted;
        }
        device_ = device;
        open_ = wanted;
        if (started_) SDL_PauseAudioDevice(device_, 0);
        return true;
    }
    void start() override {
        started_ = true;
        if (device_) SDL_PauseAudioDevice(device_, 0);
    }
    // Waits for a running callback to end.
    void close() override {
        if (device_) SDL_CloseAudioDevice(device_);
        device_ = 0;
    }

private:
    // SDL's audio thread: only the mixer's lock, never one of the engine.
    static void pull(void* userdata, Uint8* stream, int length) {
        auto& mixer = *static_cast<Mixer*>(userdata);
        const std::uint32_t channels = mixer.format.channels;
        mixer.mix(reinterpret_cast<std::int16_t*>(stream),
                  static_cast<std::uint32_t>(length) / (2 * channels));
    }

    Mixer& mixer_;
    SDL_AudioDeviceID device_ = 0;
    OutputFormat open_;
    bool started_ = false;
};

}  // namespace

std::unique_ptr<Output> createNullOutput(Mixer& mixer) { return std::make_unique<NullOutput>(mixer); }

std::unique_ptr<Output> createSdlOutput(Mixer& mixer) {
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
        report("SDL audio: can't start: %s", SDL_GetError());
        return nullptr;
    }
    // The output quits the subsystem again when it goes.
    return std::make_unique<SdlOutput>(mixer);
}

}  // namespace platform::dsound
