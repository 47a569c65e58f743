// Inside the DirectSound layer: the mixer, its voices and the outputs.
#pragma once

#include "platform/sound/DirectSound.h"

#include <memory>
#include <mutex>
#include <vector>

namespace platform::dsound {

// One secondary buffer's state as the mixer reads it. Guarded by the
// mixer's lock.
struct Voice {
    std::shared_ptr<std::vector<std::uint8_t>> data;  // the ring, shared by duplicates
    WAVEFORMATEX format{};
    DWORD flags = 0;       // DSBCAPS_*
    DWORD frames = 0;      // ring length in frames
    double position = 0;   // play position in frames (fractional while resampling)
    bool playing = false;
    bool looping = false;
    bool lost = false;
    LONG volume = 0;
    LONG pan = 0;
    DWORD frequency = 0;   // 0: the format's rate
    DS3DBUFFER params{};   // in effect
    DS3DBUFFER pending{};  // set deferred, applied at commit
    bool hasPending = false;
    // The gains the mixer last worked out, with what they were worked out
    // from: they are worked out again only when one of these changed.
    struct Gains {
        bool valid = false;
        LONG volume = 0;
        LONG pan = 0;
        DS3DBUFFER params{};
        std::uint64_t listener = 0;  // the mixer's listener version (3D only)
        float left = 0.0f;
        float right = 0.0f;
        bool down = false;
    } gains;
};

// The output format the mixer writes: 16-bit samples, 1 or 2 channels.
struct OutputFormat {
    DWORD rate = 44100;
    WORD channels = 2;
    WORD bits = 16;
};

class Mixer;

// What plays the mix: the null output (clock moved by tests) or SDL audio.
class Output {
public:
    virtual ~Output() = default;
    virtual OutputKind kind() const = 0;
    // Opens (or reopens) at the format, paused until start when it was not
    // started yet; false when the host refuses. The format the output took
    // becomes the mixer's before the output's thread mixes with it.
    virtual bool open(const OutputFormat& format) = 0;
    virtual void start() = 0;
    virtual void close() = 0;
};

std::unique_ptr<Output> createNullOutput(Mixer& mixer);
// SDL audio pulling from the mixer in its callback; null when SDL's audio
// cannot start.
std::unique_ptr<Output> createSdlOutput(Mixer& mixer);

class Mixer {
public:
    Mixer();
    ~Mixer();

    std::mutex mutex;
    std::vector<Voice*> voices;  // every secondary buffer, playing or not
    DS3DLISTENER listener{};
    DS3DLISTENER pendingListener{};
    bool listenerPending = false;
    OutputFormat format;
    std::unique_ptr<Output> output;
    // Frames of the null clock not yet mixed (fractions of a millisecond).
    std::uint64_t clockMicroFrames = 0;

    // Mixes frames frames into out (format.channels interleaved); takes the
    // lock.
    void mix(std::int16_t* out, std::uint32_t frames);
    // Applies the deferred listener and 3D settings; caller holds the lock.
    void commitLocked();

private:
    // A voice's gains, worked out again only when its volume, pan or 3D
    // parameters, or (for a 3D voice) the listener, changed.
    void gainsOf(Voice& voice, float& left, float& right, bool& down);

    std::vector<float> accumulator_;
    // The listener the gains were last worked out for, and its version.
    DS3DLISTENER gainListener_{};
    std::uint64_t listenerVersion_ = 0;
};

void report(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace platform::dsound
