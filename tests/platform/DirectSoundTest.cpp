#include "platform/sound/DirectSound.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <thread>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

namespace ds = platform::dsound;

// A device over the null output at 44,100 Hz, 16-bit stereo, as the game
// opens it; refused calls are collected.
class DirectSoundTest : public ::testing::Test {
protected:
    void SetUp() override {
        faults = std::make_shared<ds::FaultPlan>();
        ds::Environment environment;
        environment.output = ds::OutputKind::Null;
        environment.sink = [this](const char* line) { lines.emplace_back(line); };
        environment.faults = faults;
        ds::setEnvironment(environment);
        ASSERT_EQ(DirectSoundCreate8(nullptr, &device, nullptr), DS_OK);
        ASSERT_EQ(device->SetCooperativeLevel(nullptr, DSSCL_EXCLUSIVE), DS_OK);
        DSBUFFERDESC description{36, DSBCAPS_PRIMARYBUFFER | DSBCAPS_CTRL3D, 0, 0, nullptr, DS3DALG_DEFAULT};
        ASSERT_EQ(device->CreateSoundBuffer(&description, &primary, nullptr), DS_OK);
        const WAVEFORMATEX format = pcm(44100, 2, 16);
        ASSERT_EQ(primary->SetFormat(&format), DS_OK);
        ASSERT_EQ(primary->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
        void* object = nullptr;
        ASSERT_EQ(primary->QueryInterface(IID_IDirectSound3DListener, &object), DS_OK);
        listener = static_cast<IDirectSound3DListener*>(object);
    }
    void TearDown() override {
        for (IDirectSoundBuffer* buffer : buffers) buffer->Release();
        if (listener) listener->Release();
        if (primary) primary->Release();
        if (device) device->Release();
        ds::setEnvironment(ds::Environment());
    }

    static WAVEFORMATEX pcm(DWORD rate, WORD channels, WORD bits) {
        const WORD align = static_cast<WORD>(channels * bits / 8);
        return WAVEFORMATEX{WAVE_FORMAT_PCM, channels, rate, rate * align, align, bits, 0};
    }

    IDirectSoundBuffer* create(DWORD rate, WORD channels, WORD bits, DWORD bytes,
                               DWORD flags = DSBCAPS_CTRLVOLUME | DSBCAPS_GETCURRENTPOSITION2) {
        const WAVEFORMATEX format = pcm(rate, channels, bits);
        DSBUFFERDESC description{36, flags, bytes, 0, &format, DS3DALG_DEFAULT};
        IDirectSoundBuffer* buffer = nullptr;
        EXPECT_EQ(device->CreateSoundBuffer(&description, &buffer, nullptr), DS_OK);
        if (buffer) buffers.push_back(buffer);
        return buffer;
    }

    // Fills a 16-bit buffer with a sine of the given frequency on every
    // channel, through Lock and Unlock.
    static void fillSine(IDirectSoundBuffer* buffer, DWORD rate, WORD channels, DWORD bytes, double frequency,
                         double amplitude) {
        void* part1 = nullptr;
        void* part2 = nullptr;
        DWORD bytes1 = 0, bytes2 = 0;
        ASSERT_EQ(buffer->Lock(0, bytes, &part1, &bytes1, &part2, &bytes2, 0), DS_OK);
        ASSERT_EQ(bytes1, bytes);
        auto* samples = static_cast<std::int16_t*>(part1);
        const DWORD frames = bytes / (2 * channels);
        for (DWORD i = 0; i < frames; ++i)
            for (WORD c = 0; c < channels; ++c)
                samples[i * channels + c] =
                    static_cast<std::int16_t>(amplitude * std::sin(2 * M_PI * frequency * i / rate));
        ASSERT_EQ(buffer->Unlock(part1, bytes1, part2, bytes2), DS_OK);
    }

    static double rms(const std::vector<std::int16_t>& mixed, int channel) {
        double sum = 0;
        std::size_t count = 0;
        for (std::size_t i = channel; i < mixed.size(); i += 2, ++count) sum += double(mixed[i]) * mixed[i];
        return count ? std::sqrt(sum / count) : 0.0;
    }

    std::vector<std::int16_t> advance(std::uint32_t milliseconds) {
        std::vector<std::int16_t> mixed;
        EXPECT_TRUE(ds::advance(device, milliseconds, &mixed));
        return mixed;
    }

    std::shared_ptr<ds::FaultPlan> faults;
    std::vector<std::string> lines;
    IDirectSound8* device = nullptr;
    IDirectSoundBuffer* primary = nullptr;
    IDirectSound3DListener* listener = nullptr;
    std::vector<IDirectSoundBuffer*> buffers;
};

TEST_F(DirectSoundTest, CapabilitiesDescribeASoftwareMixer) {
    DSCAPS caps{};
    caps.dwSize = sizeof(DSCAPS);
    ASSERT_EQ(device->GetCaps(&caps), DS_OK);
    const DWORD wanted = DSCAPS_PRIMARYMONO | DSCAPS_PRIMARY16BIT | DSCAPS_SECONDARYMONO | DSCAPS_SECONDARYSTEREO |
                         DSCAPS_SECONDARY16BIT;
    EXPECT_EQ(caps.dwFlags & wanted, wanted);
    EXPECT_EQ(caps.dwFlags & DSCAPS_EMULDRIVER, 0u);
    EXPECT_GE(caps.dwMaxSecondarySampleRate, 96000u);
    EXPECT_EQ(caps.dwFreeHwMixingAllBuffers, 0u);
    WAVEFORMATEX format{};
    DWORD written = 0;
    ASSERT_EQ(primary->GetFormat(&format, sizeof(format), &written), DS_OK);
    EXPECT_EQ(format.nSamplesPerSec, 44100u);
    EXPECT_EQ(format.nChannels, 2);
    EXPECT_EQ(format.wBitsPerSample, 16);
    EXPECT_EQ(format.nBlockAlign, 4);
}

TEST_F(DirectSoundTest, CursorsFollowTheClockAndEndsWrapOrStop) {
    struct Case {
        bool loop;
        std::uint32_t milliseconds;
        DWORD playCursor;
        bool playing;
    };
    // A one-second 44.1 kHz 16-bit stereo buffer (176,400 bytes).
    const Case cases[] = {
        {false, 250, 44100, true},
        {true, 250, 44100, true},
        {true, 1250, 44100, true},   // wrapped once
        {false, 1250, 0, false},     // stopped at its end, rewound
        {false, 1000, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "loop " << c.loop << ", " << c.milliseconds << " ms");
        IDirectSoundBuffer* buffer = create(44100, 2, 16, 176400);
        ASSERT_NE(buffer, nullptr);
        ASSERT_EQ(buffer->Play(0, 0, c.loop ? DSBPLAY_LOOPING : 0), DS_OK);
        // The clock moves in uneven steps that add up.
        advance(c.milliseconds / 2);
        advance(c.milliseconds - c.milliseconds / 2);
        DWORD play = 1, write = 1, status = 0;
        ASSERT_EQ(buffer->GetCurrentPosition(&play, &write), DS_OK);
        ASSERT_EQ(buffer->GetStatus(&status), DS_OK);
        EXPECT_EQ(play, c.playCursor);
        EXPECT_EQ((status & DSBSTATUS_PLAYING) != 0, c.playing);
        // Playing, the write cursor is 10 ms of data ahead; stopped, on it.
        EXPECT_EQ(write, c.playing ? (c.playCursor + 1764) % 176400 : c.playCursor);
        EXPECT_EQ(buffer->Stop(), DS_OK);
    }
}

TEST_F(DirectSoundTest, LockGivesTwoSpansAcrossTheEndAndRefusesSpansOutside) {
    IDirectSoundBuffer* buffer = create(22050, 1, 16, 1000);
    ASSERT_NE(buffer, nullptr);
    struct Case {
        DWORD offset, bytes, flags;
        HRESULT result;
        DWORD bytes1, bytes2;
    };
    const Case cases[] = {
        {0, 1000, 0, DS_OK, 1000, 0},
        {900, 300, 0, DS_OK, 100, 200},
        {999, 1000, 0, DS_OK, 1, 999},
        {500, 0, DSBLOCK_ENTIREBUFFER, DS_OK, 500, 500},
        {1000, 10, 0, DSERR_INVALIDPARAM, 0, 0},
        {0, 1001, 0, DSERR_INVALIDPARAM, 0, 0},
        {10, 0, 0, DSERR_INVALIDPARAM, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.offset << "+" << c.bytes);
        void* part1 = nullptr;
        void* part2 = nullptr;
        DWORD bytes1 = 7, bytes2 = 7;
        lines.clear();
        EXPECT_EQ(buffer->Lock(c.offset, c.bytes, &part1, &bytes1, &part2, &bytes2, c.flags), c.result);
        EXPECT_EQ(bytes1, c.bytes1);
        EXPECT_EQ(bytes2, c.bytes2);
        if (c.result != DS_OK) {
            EXPECT_EQ(lines.size(), 1u);
            continue;
        }
        EXPECT_EQ(part2 != nullptr, c.bytes2 != 0);
        if (part2) {
            EXPECT_EQ(static_cast<char*>(part1) + bytes1 - 1000, part2);
        }
        EXPECT_EQ(buffer->Unlock(part1, bytes1, part2, bytes2), DS_OK);
    }
    // A span that is not the buffer's is refused at unlock.
    char elsewhere[4];
    EXPECT_EQ(buffer->Unlock(elsewhere, 4, nullptr, 0), DSERR_INVALIDPARAM);
}

TEST_F(DirectSoundTest, ADuplicateSharesTheDataButNotCursorsOrVolume) {
    IDirectSoundBuffer* original = create(44100, 2, 16, 176400);
    ASSERT_NE(original, nullptr);
    fillSine(original, 44100, 2, 176400, 1000.0, 8000.0);
    IDirectSoundBuffer* duplicate = nullptr;
    ASSERT_EQ(device->DuplicateSoundBuffer(original, &duplicate), DS_OK);
    buffers.push_back(duplicate);

    void* part1 = nullptr;
    DWORD bytes1 = 0;
    ASSERT_EQ(duplicate->Lock(0, 4, &part1, &bytes1, nullptr, nullptr, 0), DS_OK);
    std::int16_t frame[2];
    std::memcpy(frame, part1, 4);
    void* originalPart = nullptr;
    ASSERT_EQ(original->Lock(0, 4, &originalPart, &bytes1, nullptr, nullptr, 0), DS_OK);
    EXPECT_EQ(part1, originalPart);

    ASSERT_EQ(original->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
    ASSERT_EQ(duplicate->SetVolume(-2000), DS_OK);
    advance(100);
    DWORD play = 0, duplicatePlay = 1;
    original->GetCurrentPosition(&play, nullptr);
    duplicate->GetCurrentPosition(&duplicatePlay, nullptr);
    EXPECT_EQ(play, 17640u);
    EXPECT_EQ(duplicatePlay, 0u);
    LONG volume = 1;
    original->GetVolume(&volume);
    EXPECT_EQ(volume, 0);
}

TEST_F(DirectSoundTest, VolumeInMillibelsScalesTheSignal) {
    struct Case {
        LONG volume;
        double ratio;
    };
    const Case cases[] = {{0, 1.0}, {-1000, 0.316}, {-2000, 0.1}, {-10000, 0.0}};
    double reference = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.volume);
        IDirectSoundBuffer* buffer = create(44100, 2, 16, 176400);
        ASSERT_NE(buffer, nullptr);
        fillSine(buffer, 44100, 2, 176400, 1000.0, 10000.0);
        ASSERT_EQ(buffer->SetVolume(c.volume), DS_OK);
        ASSERT_EQ(buffer->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
        const std::vector<std::int16_t> mixed = advance(500);
        ASSERT_EQ(buffer->Stop(), DS_OK);
        const double level = rms(mixed, 0);
        if (c.volume == 0) reference = level;
        ASSERT_GT(reference, 7000.0);
        if (c.ratio == 0.0)
            EXPECT_EQ(level, 0.0);
        else
            EXPECT_NEAR(level / reference, c.ratio, c.ratio * 0.01);
    }
}

TEST_F(DirectSoundTest, EightBitSamplesAreUnsignedAndMonoFeedsBothSides) {
    struct Case {
        std::uint8_t sample;
        std::int16_t mixed;
    };
    const Case cases[] = {{0x80, 0}, {0xC0, 16384}, {0x40, -16384}, {0x00, -32768}};
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.sample));
        IDirectSoundBuffer* buffer = create(44100, 1, 8, 4410);
        ASSERT_NE(buffer, nullptr);
        void* part1 = nullptr;
        DWORD bytes1 = 0;
        ASSERT_EQ(buffer->Lock(0, 4410, &part1, &bytes1, nullptr, nullptr, 0), DS_OK);
        std::memset(part1, c.sample, bytes1);
        ASSERT_EQ(buffer->Unlock(part1, bytes1, nullptr, 0), DS_OK);
        ASSERT_EQ(buffer->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
        const std::vector<std::int16_t> mixed = advance(10);
        ASSERT_EQ(mixed.size(), 2u * 441);
        EXPECT_EQ(mixed[0], c.mixed);
        EXPECT_EQ(mixed[1], c.mixed);
        EXPECT_EQ(mixed[880], c.mixed);
        ASSERT_EQ(buffer->Stop(), DS_OK);
    }
}

TEST_F(DirectSoundTest, ALowerRateBufferKeepsItsPitch) {
    // A 1 kHz tone at 22,050 Hz in the 44,100 Hz output.
    IDirectSoundBuffer* buffer = create(22050, 1, 16, 44100);
    ASSERT_NE(buffer, nullptr);
    fillSine(buffer, 22050, 1, 44100, 1000.0, 12000.0);
    ASSERT_EQ(buffer->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
    const std::vector<std::int16_t> mixed = advance(1000);
    ASSERT_EQ(mixed.size(), 2u * 44100);
    int crossings = 0;
    for (std::size_t i = 2; i < mixed.size(); i += 2)
        if ((mixed[i - 2] < 0) != (mixed[i] < 0)) ++crossings;
    EXPECT_NEAR(crossings, 2000, 4);
    DWORD play = 0;
    buffer->GetCurrentPosition(&play, nullptr);
    EXPECT_EQ(play, 0u);  // one second of a one-second ring
}

TEST_F(DirectSoundTest, ThreeDSourcesPanByTheListenerAndDeferredMovesWaitForCommit) {
    IDirectSoundBuffer* buffer = create(44100, 1, 16, 88200, DSBCAPS_CTRL3D | DSBCAPS_CTRLVOLUME);
    ASSERT_NE(buffer, nullptr);
    fillSine(buffer, 44100, 1, 88200, 500.0, 10000.0);
    void* object = nullptr;
    ASSERT_EQ(buffer->QueryInterface(IID_IDirectSound3DBuffer, &object), DS_OK);
    auto* buffer3d = static_cast<IDirectSound3DBuffer*>(object);
    DS3DBUFFER parameters{};
    ASSERT_EQ(buffer3d->GetAllParameters(&parameters), DS_OK);
    parameters.vPosition = {5.0f, 0.0f, 0.0f};
    parameters.flMinDistance = 1e9f;  // soft attenuation: only the pan applies
    ASSERT_EQ(buffer3d->SetAllParameters(&parameters, DS3D_IMMEDIATE), DS_OK);
    ASSERT_EQ(buffer->Play(0, 0, DSBPLAY_LOOPING), DS_OK);

    std::vector<std::int16_t> mixed = advance(200);
    EXPECT_GT(rms(mixed, 1), 2 * rms(mixed, 0));

    // The listener walks past the source, deferred: nothing changes until
    // the commit.
    DS3DLISTENER moved{};
    ASSERT_EQ(listener->GetAllParameters(&moved), DS_OK);
    moved.vPosition = {10.0f, 0.0f, 0.0f};
    ASSERT_EQ(listener->SetAllParameters(&moved, DS3D_DEFERRED), DS_OK);
    mixed = advance(200);
    EXPECT_GT(rms(mixed, 1), 2 * rms(mixed, 0));
    ASSERT_EQ(listener->CommitDeferredSettings(), DS_OK);
    mixed = advance(200);
    EXPECT_GT(rms(mixed, 0), 2 * rms(mixed, 1));

    // Turned round (front -z), the listener hears the same source on the
    // other side.
    moved.vOrientFront = {0.0f, 0.0f, -1.0f};
    ASSERT_EQ(listener->SetAllParameters(&moved, DS3D_IMMEDIATE), DS_OK);
    mixed = advance(200);
    EXPECT_GT(rms(mixed, 1), 2 * rms(mixed, 0));

    // With a near minimum distance the inverse law attenuates: 5 units at
    // minimum 1 and roll-off 1 is a fifth.
    const double loud = rms(mixed, 1);
    parameters.flMinDistance = 1.0f;
    ASSERT_EQ(buffer3d->SetAllParameters(&parameters, DS3D_IMMEDIATE), DS_OK);
    mixed = advance(200);
    EXPECT_NEAR(rms(mixed, 1) / loud, 0.2, 0.01);
    buffer3d->Release();
}

TEST_F(DirectSoundTest, ALostBufferRefusesLocksUntilRestored) {
    IDirectSoundBuffer* buffer = create(44100, 2, 16, 4000);
    ASSERT_NE(buffer, nullptr);
    ASSERT_EQ(buffer->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
    ds::loseBuffer(buffer);
    DWORD status = 0;
    ASSERT_EQ(buffer->GetStatus(&status), DS_OK);
    EXPECT_EQ(status, DSBSTATUS_BUFFERLOST);
    void* part1 = nullptr;
    DWORD bytes1 = 0;
    EXPECT_EQ(buffer->Lock(0, 100, &part1, &bytes1, nullptr, nullptr, 0), DSERR_BUFFERLOST);
    EXPECT_EQ(buffer->Play(0, 0, 0), DSERR_BUFFERLOST);
    ASSERT_EQ(buffer->Restore(), DS_OK);
    ASSERT_EQ(buffer->GetStatus(&status), DS_OK);
    EXPECT_EQ(status, 0u);
    EXPECT_EQ(buffer->Lock(0, 100, &part1, &bytes1, nullptr, nullptr, 0), DS_OK);
}

TEST_F(DirectSoundTest, BadDescriptionsAreRefusedWithOneLine) {
    struct Case {
        const char* what;
        WAVEFORMATEX format;
        DWORD bytes;
    };
    const Case cases[] = {
        {"size 0", pcm(44100, 2, 16), 0},
        {"size above the cap", pcm(44100, 2, 16), kMaxBufferBytes + 4},
        {"three channels", pcm(44100, 3, 16), 6000},
        {"24 bits", pcm(44100, 2, 24), 6000},
        {"rate 0", pcm(0, 2, 16), 6000},
        {"rate above the cap", pcm(kMaxBufferRate + 1, 2, 16), 6000},
        {"block align wrong", WAVEFORMATEX{WAVE_FORMAT_PCM, 2, 44100, 176400, 2, 16, 0}, 6000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        lines.clear();
        DSBUFFERDESC description{36, DSBCAPS_CTRLVOLUME, c.bytes, 0, &c.format, DS3DALG_DEFAULT};
        IDirectSoundBuffer* buffer = reinterpret_cast<IDirectSoundBuffer*>(1);
        EXPECT_EQ(device->CreateSoundBuffer(&description, &buffer, nullptr), DSERR_INVALIDPARAM);
        EXPECT_EQ(buffer, nullptr);
        EXPECT_EQ(lines.size(), 1u);
    }
}

TEST_F(DirectSoundTest, InjectedFaultsFailTheChosenCalls) {
    faults->failCreation(2, DSERR_OUTOFMEMORY);
    EXPECT_NE(create(44100, 2, 16, 4000), nullptr);
    const WAVEFORMATEX format = pcm(44100, 2, 16);
    DSBUFFERDESC description{36, DSBCAPS_CTRLVOLUME, 4000, 0, &format, DS3DALG_DEFAULT};
    IDirectSoundBuffer* buffer = nullptr;
    EXPECT_EQ(device->CreateSoundBuffer(&description, &buffer, nullptr), DSERR_OUTOFMEMORY);
    EXPECT_NE(create(44100, 2, 16, 4000), nullptr);

    faults->refusedLevels = {DSSCL_EXCLUSIVE};
    EXPECT_EQ(device->SetCooperativeLevel(nullptr, DSSCL_EXCLUSIVE), DSERR_ALLOCATED);
    EXPECT_EQ(device->SetCooperativeLevel(nullptr, DSSCL_NORMAL), DS_OK);

    faults->createResult = DSERR_NODRIVER;
    IDirectSound8* second = nullptr;
    EXPECT_EQ(DirectSoundCreate8(nullptr, &second, nullptr), DSERR_NODRIVER);
    EXPECT_EQ(second, nullptr);
}

TEST(DirectSoundSdl, TheOutputPlaysTheMixAndAMissingDriverIsNoDriver) {
    ds::setEnvironment(ds::Environment());
    IDirectSound8* device = nullptr;
    ASSERT_EQ(DirectSoundCreate8(nullptr, &device, nullptr), DS_OK);
    // The SDL output's clock is its own: advance is for the null output.
    EXPECT_FALSE(ds::advance(device, 10));
    device->Release();

    const char* driver = std::getenv("SDL_AUDIODRIVER");
    const std::string saved = driver ? driver : "";

    // The disk driver captures what SDL's callback pulled from the mixer: a
    // looping buffer of one constant frame at full volume.
    const std::string capture =
        (std::filesystem::temp_directory_path() / ("dsound-capture-" + std::to_string(getpid()) + ".raw")).string();
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", capture.c_str(), 1);
    ASSERT_EQ(DirectSoundCreate8(nullptr, &device, nullptr), DS_OK);
    DSBUFFERDESC primaryDescription{36, DSBCAPS_PRIMARYBUFFER, 0, 0, nullptr, DS3DALG_DEFAULT};
    IDirectSoundBuffer* primary = nullptr;
    ASSERT_EQ(device->CreateSoundBuffer(&primaryDescription, &primary, nullptr), DS_OK);
    const WAVEFORMATEX format{WAVE_FORMAT_PCM, 2, 44100, 176400, 4, 16, 0};
    ASSERT_EQ(primary->SetFormat(&format), DS_OK);
    DSBUFFERDESC description{36, DSBCAPS_CTRLVOLUME, 4000, 0, &format, DS3DALG_DEFAULT};
    IDirectSoundBuffer* buffer = nullptr;
    ASSERT_EQ(device->CreateSoundBuffer(&description, &buffer, nullptr), DS_OK);
    void* data = nullptr;
    DWORD bytes = 0;
    ASSERT_EQ(buffer->Lock(0, 4000, &data, &bytes, nullptr, nullptr, 0), DS_OK);
    for (DWORD i = 0; i < bytes / 2; ++i) static_cast<std::int16_t*>(data)[i] = i % 2 ? -1234 : 1234;
    buffer->Unlock(data, bytes, nullptr, 0);
    ASSERT_EQ(buffer->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
    ASSERT_EQ(primary->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    buffer->Release();
    primary->Release();
    device->Release();
    unsetenv("SDL_DISKAUDIOFILE");
    std::ifstream file(capture, std::ios::binary);
    std::vector<std::int16_t> captured(4096);
    file.read(reinterpret_cast<char*>(captured.data()), static_cast<std::streamsize>(captured.size() * 2));
    captured.resize(static_cast<std::size_t>(file.gcount()) / 2);
    file.close();
    std::filesystem::remove(capture);
    ASSERT_FALSE(captured.empty());
    int frames = 0;
    for (std::size_t i = 0; i + 1 < captured.size(); i += 2)
        frames += captured[i] == 1234 && captured[i + 1] == -1234;
    EXPECT_GT(frames, 0);

    // An SDL that cannot open a device is a failed creation.
    setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
    device = nullptr;
    EXPECT_EQ(DirectSoundCreate8(nullptr, &device, nullptr), DSERR_NODRIVER);
    EXPECT_EQ(device, nullptr);
    if (driver)
        setenv("SDL_AUDIODRIVER", saved.c_str(), 1);
    else
        unsetenv("SDL_AUDIODRIVER");
}

}  // namespace
