#include "sound/SoundCore.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "foundation/Log.h"
#include "platform/Time.h"
#include "resources/MovieDataManager.h"
#include "sound/Sound.h"
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

// Waits up to three seconds for the sound thread to complete more ticks.
bool tickedBeyond(const SoundCore& core, std::uint64_t ticks) {
    for (int i = 0; i < 300 && core.ticks() <= ticks; ++i) platform::sleepMilliseconds(10);
    return core.ticks() > ticks;
}

TEST(SoundCore, SoundThreadTicksUnderTheEngineLockUntilReleased) {
    testing_support::ScopedGameCore scoped;
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

}  // namespace

TEST(SoundCore, AStoppedMoviesSoundFadesOutAndIsLeftToTheSoundCode) {
    SoundCore core;
    core.setup.disabled = true;
    ASSERT_TRUE(core.initialize());
    movieSettings().soundFadeInTime = 2.5f;
    Sound sound;
    MovieInstance instance("intro");
    instance.sound = &sound;
    instance.flags |= kMoviePlaying;
    EXPECT_TRUE(stopMovieInstance(&instance));
    EXPECT_EQ(instance.sound, nullptr);
    EXPECT_TRUE(sound.fading);
    EXPECT_FLOAT_EQ(sound.fadeSeconds, 2.5f);
    EXPECT_NE(sound.flags & Sound::kAutoRelease, 0u);
    movieSettings() = MovieSettings();
    setMovieSoundFade(nullptr);
}
