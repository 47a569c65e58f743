// A small program that crashes on purpose under the crash guards; the crash
// report tests run it and read its log. The first argument picks the fault.
#include <atomic>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <thread>

#include "app/CrashReport.h"
#include "app/GameCore.h"
#include "foundation/AppPaths.h"
#include "foundation/DebugTrap.h"
#include "foundation/Log.h"

// Kept out of line and not in tail position, so each is a frame of its own.
__attribute__((noinline)) int crashProbeLevel3(int* target, int divisor) {
    volatile int value = 1000;
    *target = value / divisor;
    return *target + 1;
}

__attribute__((noinline)) int crashProbeLevel2(int* target, int divisor) {
    return crashProbeLevel3(target, divisor) + 1;
}

__attribute__((noinline)) int crashProbeLevel1(int* target, int divisor) {
    return crashProbeLevel2(target, divisor) + 1;
}

volatile bool g_recurse = true;

// Recurses until the stack runs out.
__attribute__((noinline)) int crashProbeRecurse(int depth) {
    if (!g_recurse) return 0;
    volatile char frame[256];
    frame[depth % 256] = static_cast<char>(depth);
    return crashProbeRecurse(depth + 1) + frame[0];
}

namespace {

int* volatile g_null = nullptr;
int g_cell = 0;

int faultOnNull() { return crashProbeLevel1(g_null, 1); }
int divideByZero() { return crashProbeLevel1(&g_cell, 0); }

}  // namespace

int main(int argc, char** argv) {
    const char* mode = argc > 1 ? argv[1] : "";
    RunModeRecord runMode;
    gameCore.log = new Log;
    gameCore.paths = new AppPaths;
    gameCore.paths->initialize(runMode);
    gameCore.log->setOutput(true);
    if (!installCrashReporter()) std::fputs("crash reporter not installed\n", stderr);
    gameCore.log->info("probe mode [%s]", mode);

    if (std::strcmp(mode, "null") == 0) {
        CrashGuard guard(kGuardMainLoop);
        return faultOnNull();
    }
    if (std::strcmp(mode, "divide") == 0) {
        CrashGuard guard(kGuardGameLoop);
        return divideByZero();
    }
    if (std::strcmp(mode, "exception-then-fault") == 0) {
        try {
            runGuarded(kGuardGameInitialize, []() -> int { throw std::runtime_error("probe failure"); });
        } catch (const std::exception&) {
            gameCore.log->info("exception passed on");
        }
        CrashGuard guard(kGuardMainLoop);
        return faultOnNull();
    }
    if (std::strcmp(mode, "log-held") == 0) {
        // Another thread is stopped half-way through a record and keeps the
        // log's lock for ever.
        std::atomic<bool> held{false};
        std::thread holder([&held] {
            gameCore.log->mutex().lock();
            held = true;
            for (;;) std::this_thread::sleep_for(std::chrono::seconds(1));
        });
        holder.detach();
        while (!held) std::this_thread::yield();
        CrashGuard guard(kGuardMainLoop);
        return faultOnNull();
    }
    if (std::strcmp(mode, "two-threads") == 0) {
        std::atomic<bool> go{false};
        std::thread sound([&go] {
            CrashGuard guard(kGuardSoundBuffers);
            while (!go) {
            }
            faultOnNull();
        });
        CrashGuard guard(kGuardMainLoop);
        go = true;
        faultOnNull();
        sound.join();
        return 0;
    }
    if (std::strcmp(mode, "trap") == 0) {
        CrashGuard guard(kGuardGameState);
        debugTrap();
        return 0;
    }
    if (std::strcmp(mode, "overflow") == 0) {
        CrashGuard guard(kGuardLoadScene);
        return crashProbeRecurse(0);
    }
    if (std::strcmp(mode, "unguarded") == 0) return faultOnNull();
    return 3;
}
