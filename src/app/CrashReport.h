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

#include "foundation/CrashGuard.h"

namespace platform {
struct CpuRegisters;
}

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

// Catches the process's faults for the guards, reports the C++ exceptions
// that leave them and gives the debug trap its stack walker. Call once at
// start, before any guard runs.
bool installCrashReporter();
