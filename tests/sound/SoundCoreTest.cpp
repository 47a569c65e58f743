#include "sound/SoundCore.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

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
