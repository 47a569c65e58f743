#include "sound/SoundCore.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <tuple>
#include <utility>
#include <memory>
#include <set>
#include <string>
#include <vector>
#include <thread>

#include "foundation/Log.h"
#include "platform/Time.h"
#include "resources/MovieDataManager.h"
#include "app/GameCore.h"
#include "platform/sound/DirectSound.h"
#include "sound/Sound.h"
#include "sound/SoundBank.h"
#include "sound/SoundFixture.h"
#include "sound/SoundSettings.h"
#include "scene/CameraFixture.h"
#include "support/TestSupport.h"

TEST(SoundCore, EngineLockNestsOnOneThreadAndExcludesOthers) {
    SoundCore core;
    {
        EngineLock outer(core);
        EngineLockBlocking inner(core);
        EXPECT_TRUE(core.tryLock());
        core.unlock();
        bool otherGotIt = true;
        std::thread([&] { otherGotIt = core.tryLock(); }).join();
        EXPECT_FALSE(otherGotIt);
    }
    bool freeAfterScopes = false;
    std::thread([&] {
        freeAfterScopes = core.tryLock();
        if (freeAfterScopes) core.unlock();
    }).join();
    EXPECT_TRUE(freeAfterScopes);
}

TEST(SoundCore, PollingLockWaitsForTheHolder) {
    SoundCore core;
    std::atomic<bool> held{false}, released{false}, entered{false};
    std::thread holder([&] {
        EngineLockBlocking guard(core);
        held = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        released = true;
    });
    while (!held) std::this_thread::yield();
    {
        EngineLock guard(core);
        entered = true;
        EXPECT_TRUE(released.load());
    }
    holder.join();
    EXPECT_TRUE(entered.load());
}

namespace {

namespace ds = platform::dsound;

// The sound core's tests run on the null output; faults are chosen per test.
class NullSoundOutput {
public:
    NullSoundOutput() {
        ds::Environment environment;
        environment.output = ds::OutputKind::Null;
        environment.faults = faults;
        ds::setEnvironment(environment);
    }
    ~NullSoundOutput() { ds::setEnvironment(ds::Environment()); }
    std::shared_ptr<ds::FaultPlan> faults = std::make_shared<ds::FaultPlan>();
};

// The texts of the log's records from the first one containing from.
std::vector<std::string> linesFrom(const Log& log, const std::string& from) {
    std::vector<std::string> lines;
    for (const LogRecord& record : log.records())
        if (!lines.empty() || record.text.find(from) != std::string::npos) lines.push_back(record.text);
    return lines;
}

std::size_t indexOf(const std::vector<std::string>& lines, const std::string& text) {
    for (std::size_t i = 0; i < lines.size(); ++i)
        if (lines[i].find(text) != std::string::npos) return i;
    return lines.size();
}

// Waits up to three seconds for the sound thread to complete more ticks.
bool tickedBeyond(const SoundCore& core, std::uint64_t ticks) {
    for (int i = 0; i < 300 && core.ticks() <= ticks; ++i) platform::sleepMilliseconds(10);
    return core.ticks() > ticks;
}

TEST(SoundCore, SoundThreadTicksUnderTheEngineLockUntilReleased) {
    testing_support::ScopedGameCore scoped;
    NullSoundOutput output;
    SoundCore core;
    ASSERT_TRUE(core.initialize());
    EXPECT_TRUE(core.running());
    EXPECT_TRUE(tickedBeyond(core, 0));
    EXPECT_FALSE(core.initialize());
    EXPECT_TRUE(scoped.log().contains("Sound device already initialized"));

    // While the main thread holds the lock, the thread cannot tick.
    core.lock();
    const std::uint64_t held = core.ticks();
    platform::sleepMilliseconds(120);
    EXPECT_EQ(core.ticks(), held);
    core.unlock();
    EXPECT_TRUE(tickedBeyond(core, held));

    core.releaseAll();
    EXPECT_FALSE(core.running());
    const std::uint64_t stopped = core.ticks();
    platform::sleepMilliseconds(120);
    EXPECT_EQ(core.ticks(), stopped);
}

TEST(SoundCore, DisabledSoundStartsNoThread) {
    testing_support::ScopedGameCore scoped;
    SoundCore core;
    core.setup.disabled = 1;
    EXPECT_TRUE(core.initialize());
    EXPECT_TRUE(scoped.log().contains("Sound disabled"));
    platform::sleepMilliseconds(60);
    EXPECT_FALSE(core.running());
    EXPECT_EQ(core.ticks(), 0u);
}

TEST(SoundCore, StartOpensTheDevicePrimaryFormatAndListener) {
    testing_support::ScopedGameCore scoped;
    NullSoundOutput output;
    SoundCore core;
    ASSERT_TRUE(core.initialize());
    const std::vector<std::string> lines = linesFrom(scoped.log(), std::string(100, '-'));
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(lines[0], std::string(100, '-'));
    EXPECT_EQ(lines[1], "Initialize sound:");
    const std::size_t software = indexOf(lines, "Sound: Use S/W sound");
    const std::size_t quality = indexOf(lines, "Set sound primary buffer quality to 44100Hz/16Bit/2Ch");
    EXPECT_LT(software, quality);
    EXPECT_LT(quality, lines.size());
    for (const LogRecord& record : scoped.log().records()) EXPECT_EQ(record.text.find("Can't"), std::string::npos);
    EXPECT_FALSE(scoped.log().contains("not support"));
    EXPECT_EQ(core.primaryFormat().nSamplesPerSec, 44100u);
    EXPECT_EQ(core.primaryFormat().wBitsPerSample, 16);
    ASSERT_NE(core.listener(), nullptr);
    DS3DLISTENER listener{};
    ASSERT_EQ(core.listener()->GetAllParameters(&listener), DS_OK);
    EXPECT_FLOAT_EQ(listener.flRolloffFactor, 0.2f);
    EXPECT_FLOAT_EQ(listener.vOrientFront.z, 1.0f);
    EXPECT_TRUE(core.running());
    core.releaseAll();
    EXPECT_EQ(core.device(), nullptr);
    EXPECT_EQ(core.listener(), nullptr);
}

// A device that refuses to open is named in the log by its result; a
// result without a name says so.
TEST(SoundCore, ARefusingDeviceIsNamedInTheLogByItsResult) {
    const std::pair<HRESULT, const char*> cases[] = {{DSERR_NODRIVER, "DSERR_NODRIVER"},
                                                     {DSERR_ALLOCATED, "DSERR_ALLOCATED"},
                                                     {DSERR_INVALIDPARAM, "DSERR_INVALIDPARAM"},
                                                     {DSERR_BUFFERLOST, "Unknown DSound Error"}};
    for (const auto& [result, name] : cases) {
        SCOPED_TRACE(name);
        testing_support::ScopedGameCore scoped;
        NullSoundOutput output;
        output.faults->createResult = result;
        SoundCore core;
        EXPECT_FALSE(core.initialize());
        EXPECT_TRUE(scoped.log().contains(std::string("Can't create DirectSound8 interface: [") + name + "]"));
        EXPECT_FALSE(core.running());
    }
}

TEST(SoundCore, AQualityOutsideTheTableUsesTheLastRow) {
    testing_support::ScopedGameCore scoped;
    NullSoundOutput output;
    SoundCore core;
    core.setup.quality = 7;
    ASSERT_TRUE(core.initialize());
    EXPECT_TRUE(scoped.log().contains("Set sound primary buffer quality to 44100Hz/16Bit/2Ch"));
    EXPECT_TRUE(scoped.log().contains("Invalid sound quality [7]"));
    core.releaseAll();
    core.setup.quality = 0;
    ASSERT_TRUE(core.initialize());
    EXPECT_TRUE(scoped.log().contains("Set sound primary buffer quality to 11025Hz/16Bit/2Ch"));
    EXPECT_EQ(core.primaryFormat().nSamplesPerSec, 11025u);
}

TEST(SoundCore, ADeviceBelowTheQualityRateIsReportedAndStillStarts) {
    testing_support::ScopedGameCore scoped;
    NullSoundOutput output;
    output.faults->maxSecondaryRate = 22050;
    SoundCore core;
    EXPECT_TRUE(core.initialize());
    EXPECT_TRUE(scoped.log().contains("Sound: Current sound frequency not supported: 44100 (max=22050)"));
    EXPECT_TRUE(core.running());
}

TEST(SoundCore, ADisabledDeviceIsNoDriverAndStartsNoThread) {
    testing_support::ScopedGameCore scoped;
    NullSoundOutput output;
    soundSettings.disableSoundDevice = true;
    {
        SoundCore core;
        EXPECT_FALSE(core.initialize());
        EXPECT_TRUE(scoped.log().contains("Can't create DirectSound8 interface: [DSERR_NODRIVER]"));
        EXPECT_FALSE(core.running());
        platform::sleepMilliseconds(60);
        EXPECT_EQ(core.ticks(), 0u);
        // The device obtained before the check is still held: the
        // destructor reports it.
    }
    soundSettings.disableSoundDevice = false;
    EXPECT_TRUE(scoped.log().contains("Sound device not released."));
    EXPECT_FALSE(scoped.log().contains("Primary Sound buffer not released"));
}

TEST(SoundCore, AFailingDeviceNamesItsError) {
    testing_support::ScopedGameCore scoped;
    NullSoundOutput output;
    output.faults->createResult = DSERR_OUTOFMEMORY;
    SoundCore core;
    EXPECT_FALSE(core.initialize());
    EXPECT_TRUE(scoped.log().contains("Can't create DirectSound8 interface: [DSERR_OUTOFMEMORY]"));
    EXPECT_EQ(core.device(), nullptr);
}

TEST(SoundCore, TheDestructorReportsHeldInterfacesUnlessTheProcessIsGoingDown) {
    testing_support::ScopedGameCore scoped;
    NullSoundOutput output;
    {
        SoundCore core;
        ASSERT_TRUE(core.initialize());
    }
    EXPECT_TRUE(scoped.log().contains("Primary Sound buffer Listener not released"));
    EXPECT_TRUE(scoped.log().contains("Sound device not released."));
    const auto reports = [&] {
        int count = 0;
        for (const LogRecord& record : scoped.log().records())
            count += record.text.find("not released") != std::string::npos;
        return count;
    };
    const int before = reports();
    EXPECT_EQ(before, 2);  // the primary buffer is let go after its setup
    gameCore.flags |= 0x80000000u;
    {
        SoundCore core;
        ASSERT_TRUE(core.initialize());
    }
    gameCore.flags &= ~0x80000000u;
    EXPECT_EQ(reports(), before);
}

TEST(SoundCore, RefusedCooperativeLevelsFallBackInOrder) {
    struct Case {
        std::set<DWORD> refused;
        bool result;
        std::vector<std::string> messages;
    };
    const std::string any = "Can't set DirectSound8 device cooperative level";
    const std::string exclusive = "Can't set DirectSound8 device EXCLUSIVE cooperative level";
    const std::string normal = "Can't set DirectSound8 device NORMAL cooperative level";
    const Case cases[] = {
        {{}, true, {}},
        {{DSSCL_EXCLUSIVE}, true, {any, exclusive}},
        {{DSSCL_EXCLUSIVE, DSSCL_NORMAL}, true, {any, exclusive, normal}},
        {{DSSCL_EXCLUSIVE, DSSCL_NORMAL, DSSCL_PRIORITY}, false, {any, exclusive, normal, normal}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.refused.size());
        testing_support::ScopedGameCore scoped;
        NullSoundOutput output;
        output.faults->refusedLevels = c.refused;
        SoundCore core;
        EXPECT_EQ(core.initialize(), c.result);
        EXPECT_EQ(core.running(), c.result);
        std::vector<std::string> messages;
        for (const LogRecord& record : scoped.log().records())
            if (record.text.find("cooperative level") != std::string::npos) messages.push_back(record.text);
        EXPECT_EQ(messages, c.messages);
        core.releaseAll();
    }
}

TEST(SoundCore, WithMasterVolumeZeroTheThreadTicksButSkipsTheBank) {
    struct Case {
        float script, setup;
        bool bank;
    };
    const Case cases[] = {{1.0f, 0.8f, true}, {0.0f, 0.8f, false}, {1.0f, 0.0f, false}};
    for (const Case& c : cases) {
        testing_support::ScopedGameCore scoped;
        NullSoundOutput output;
        SoundCore core;
        core.volumes.master = {c.script, c.setup};
        ASSERT_TRUE(core.initialize());
        ASSERT_TRUE(tickedBeyond(core, 2));
        core.releaseAll();
        EXPECT_EQ(core.bankTicks() > 0, c.bank);
        if (c.bank) {
            EXPECT_EQ(core.bankTicks(), core.ticks());
        }
    }
}

TEST(SoundCore, StartAndReleaseManyTimesWhileTheThreadTicks) {
    testing_support::ScopedGameCore scoped;
    NullSoundOutput output;
    for (int round = 0; round < 40; ++round) {
        auto core = std::make_unique<SoundCore>();
        ASSERT_TRUE(core->initialize());
        // The main thread takes the lock as the frame step does, while the
        // sound thread ticks.
        for (int i = 0; i < 3; ++i) {
            EngineLock hold(*core);
            platform::sleepMilliseconds(1);
        }
        if (round % 2) core->releaseAll();
        core.reset();
    }
}

TEST(SoundCore, TheListenerFollowsTheCurrentScenesActiveCamera) {
    testing_support::ScopedGameCore scoped;
    NullSoundOutput output;
    testing_support::CameraScene room;
    SoundCore core;
    ASSERT_TRUE(core.initialize());
    core.setScene(room.scene.get());
    EXPECT_EQ(core.currentScene(), room.scene.get());

    // A 3D tone five units along the camera's first axis.
    WAVEFORMATEX format{WAVE_FORMAT_PCM, 1, 44100, 88200, 2, 16, 0};
    DSBUFFERDESC description{36, DSBCAPS_CTRL3D | DSBCAPS_CTRLVOLUME, 88200, 0, &format, DS3DALG_NO_VIRTUALIZATION};
    IDirectSoundBuffer* buffer = nullptr;
    ASSERT_EQ(core.device()->CreateSoundBuffer(&description, &buffer, nullptr), DS_OK);
    void* data = nullptr;
    DWORD bytes = 0;
    ASSERT_EQ(buffer->Lock(0, 88200, &data, &bytes, nullptr, nullptr, 0), DS_OK);
    for (DWORD i = 0; i < bytes / 2; ++i)
        static_cast<std::int16_t*>(data)[i] = static_cast<std::int16_t>(9000 * std::sin(i * 0.05));
    buffer->Unlock(data, bytes, nullptr, 0);
    void* object = nullptr;
    ASSERT_EQ(buffer->QueryInterface(IID_IDirectSound3DBuffer, &object), DS_OK);
    auto* buffer3d = static_cast<IDirectSound3DBuffer*>(object);
    DS3DBUFFER parameters{};
    buffer3d->GetAllParameters(&parameters);
    parameters.vPosition = {5.0f, 0.0f, 0.0f};
    parameters.flMinDistance = 1e9f;
    ASSERT_EQ(buffer3d->SetAllParameters(&parameters, DS3D_IMMEDIATE), DS_OK);
    ASSERT_EQ(buffer->Play(0, 0, DSBPLAY_LOOPING), DS_OK);

    const auto sides = [&] {
        std::vector<std::int16_t> mixed;
        EXPECT_TRUE(ds::advance(core.device(), 100, &mixed));
        double left = 0, right = 0;
        for (std::size_t i = 0; i + 1 < mixed.size(); i += 2) {
            left += double(mixed[i]) * mixed[i];
            right += double(mixed[i + 1]) * mixed[i + 1];
        }
        return std::make_pair(left, right);
    };
    room.camera().pose = testing_support::poseAt(0.0f, 0.0f, 0.0f);
    core.updateListener(testing_support::frameAt(0.0, 0.0), 1);
    DS3DLISTENER listener{};
    ASSERT_EQ(core.listener()->GetAllParameters(&listener), DS_OK);
    EXPECT_FLOAT_EQ(listener.vOrientFront.z, -1.0f);  // the negated third row
    EXPECT_FLOAT_EQ(listener.vOrientTop.y, -1.0f);    // the negated second row
    auto [left, right] = sides();
    EXPECT_GT(right, 2 * left);

    // The camera moves past the source: the listener follows at the next
    // frame's update.
    room.camera().pose = testing_support::poseAt(10.0f, 0.0f, 0.0f);
    std::tie(left, right) = sides();
    EXPECT_GT(right, 2 * left);
    core.updateListener(testing_support::frameAt(0.1, 0.1), 1);
    ASSERT_EQ(core.listener()->GetAllParameters(&listener), DS_OK);
    EXPECT_FLOAT_EQ(listener.vPosition.x, 10.0f);
    std::tie(left, right) = sides();
    EXPECT_GT(left, 2 * right);

    buffer3d->Release();
    buffer->Release();
    core.setScene(nullptr);
    core.releaseAll();
}

}  // namespace

TEST(SoundCore, AStoppedMoviesSoundFadesOutAndIsLeftToTheSoundCode) {
    SoundCore core;
    core.setup.disabled = true;
    ASSERT_TRUE(core.initialize());
    movieSettings().soundFadeInTime = 2.5f;
    Sound sound(nullptr, "intro", false, false);
    MovieInstance instance("intro");
    instance.sound = &sound;
    instance.flags |= kMoviePlaying;
    EXPECT_TRUE(stopMovieInstance(&instance));
    EXPECT_EQ(instance.sound, nullptr);
    // The envelope runs from full level down to silence over 2.5 s.
    EXPECT_TRUE(sound.blend().isEnabled());
    EXPECT_FLOAT_EQ(sound.blend().level, 1.0f);
    EXPECT_NEAR(1.0 / sound.blend().end.rate, 2.5, 1e-6);
    EXPECT_NE(sound.flags & Sound::kAutoRelease, 0u);
    movieSettings() = MovieSettings();
    setMovieSoundFade(nullptr);
}

TEST(SoundCore, TheSoundThreadKeepsTheBankOnTheGameTimeOfTheLastFrame) {
    // The thread never reads the clocks the main thread moves on: the frame
    // hands it the game time. An unused open sound closes once that time is
    // 30 s past its last use.
    sound_fixture::SoundWorld world({sound_fixture::oggFile(
        "click", "effect", sound_fixture::oggBytes("length 0.2\ntone 440 0.2\n"))});
    BankSound* click = world.core.bank->acquire(SoundChannelEffect, "click", "direct");
    ASSERT_TRUE(click->open());
    const auto openNow = [&] {
        EngineLock hold(world.core);
        return click->source.isOpen();
    };
    const auto waitTicks = [&](std::uint64_t count) {
        const std::uint64_t until = world.core.bankTicks() + count;
        for (int i = 0; i < 400 && world.core.bankTicks() < until; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    };
    world.core.updateListener(testing_support::frameAt(20.0, 0.05), 1);
    waitTicks(2);
    EXPECT_TRUE(openNow());
    world.core.updateListener(testing_support::frameAt(31.0, 0.05), 1);
    waitTicks(2);
    EXPECT_FALSE(openNow());
}
