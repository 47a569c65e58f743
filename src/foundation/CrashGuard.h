// Guarded phases.
//
// Every phase of the game runs inside a guard that names it: the title of the
// innermost guard of the faulting thread heads the crash report. A fault
// inside a guard is reported by the crash reporter the app installs; a C++
// exception that leaves a guard's scope is handed to the same reporter. Any
// layer may open a guard (the sound thread opens one around its bank update).
#pragma once

#include <exception>
#include <utility>

// Titles of the guarded phases.
inline constexpr const char* kGuardGameRelease = "Exception at game release";
inline constexpr const char* kGuardLoadGame = "Exception at load game";
inline constexpr const char* kGuardLoadScene = "Exception at load scene";
inline constexpr const char* kGuardGameState = "Exception at game state processing";
inline constexpr const char* kGuardSystemInitialize = "Exception at game system initialize";
inline constexpr const char* kGuardGameInitialize = "Exception at game initialize";
inline constexpr const char* kGuardMainLoop = "Exception at main loop";
inline constexpr const char* kGuardGameLoop = "Exception at game loop";
inline constexpr const char* kGuardProgressBar = "update progress bar";
inline constexpr const char* kGuardSoundBuffers = "decoding sound buffers";

// Reports a C++ exception that left a guarded phase (text may be null).
using GuardExceptionReporter = void (*)(const char* title, const char* text);
void setCrashGuardReporter(GuardExceptionReporter reporter);

// The innermost guard's title on the calling thread; null outside guards.
const char* currentCrashGuardTitle();

// Runs the rest of its scope as a guarded phase of the calling thread.
class CrashGuard {
public:
    explicit CrashGuard(const char* title);
    ~CrashGuard();
    CrashGuard(const CrashGuard&) = delete;
    CrashGuard& operator=(const CrashGuard&) = delete;

    // Reports a C++ exception caught at the guard's edge (text may be null).
    void reportException(const char* text);

private:
    const char* title_;
    int uncaught_;
    bool reported_ = false;
};

// Runs an operation as a guarded phase and returns its result. A C++
// exception is reported with its text and passed on.
template <class Operation>
decltype(auto) runGuarded(const char* title, Operation&& operation) {
    CrashGuard guard(title);
    try {
        return std::forward<Operation>(operation)();
    } catch (const std::exception& e) {
        guard.reportException(e.what());
        throw;
    } catch (...) {
        guard.reportException(nullptr);
        throw;
    }
}

// Runs an operation as a guarded phase; a C++ exception is reported with its
// text and stops there. False when one was caught.
template <class Operation>
bool runGuardedCaught(const char* title, Operation&& operation) {
    CrashGuard guard(title);
    try {
        std::forward<Operation>(operation)();
        return true;
    } catch (const std::exception& e) {
        guard.reportException(e.what());
    } catch (...) {
        guard.reportException(nullptr);
    }
    return false;
}
