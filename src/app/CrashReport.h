// Exception guards and the crash report.
//
// Every phase of the game runs inside a guard that names it. A fault (bad
// memory access, division by zero, illegal instruction, breakpoint) or a C++
// exception that escapes a guarded phase writes a crash report into the log:
// the phase's title, the executable, its build time, the exception's name
// and address, the registers (when no debugger is attached) and the call
// stack. Only the first exception of the process is reported, whichever
// thread raises it; a fault then ends the process by its signal.
#pragma once

#include <cstdint>
#include <exception>
#include <utility>

namespace platform {
struct CpuRegisters;
}

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

struct CrashException {
    std::uint32_t code = 0;      // an exception code (platform/Faults.h)
    std::uintptr_t address = 0;  // the faulting instruction; 0 for a C++ exception
    const platform::CpuRegisters* registers = nullptr;
    const char* text = nullptr;  // a C++ exception's own text, when any
};

// Writes the report of the process's first exception and answers -1; answers
// 0 without writing anything once a report was written. Safe while another
// thread holds the log's lock, and from the thread that was stopped inside
// the log.
int writeCrashReport(const char* title, const CrashException& exception);
// The name of an exception code; "Exception[%08X]" for an unknown one.
const char* exceptionName(std::uint32_t code);
// The register dump of the report, through Log::message.
void logRegisters(const platform::CpuRegisters& registers);
// True once a report was written.
bool crashReported();

// Catches the process's faults for the guards and gives the debug trap its
// stack walker. Call once at start, before any guard runs.
bool installCrashReporter();

// Runs the rest of its scope as a guarded phase of the calling thread: a
// fault in it is reported under its title (the innermost guard's title
// wins), and so is a C++ exception that leaves the scope.
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
