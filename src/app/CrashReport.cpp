#include "app/CrashReport.h"

#include <atomic>
#include <cstdio>
#include <ctime>
#include <string>

#include "app/GameCore.h"
#include "app/StackWalker.h"
#include "foundation/AppPaths.h"
#include "foundation/DebugTrap.h"
#include "foundation/Log.h"
#include "platform/FileSystem.h"
#include "platform/Faults.h"
#include "platform/StackTrace.h"
#include "platform/Time.h"

namespace {

// Set by the first report, never cleared. Exchanged, not just tested: the
// sound thread may report at the same time as the main thread.
std::atomic<std::uint32_t> g_crashReported{0};
std::atomic<bool> g_reportDone{false};

// How long the report waits for the log's lock before it writes around it,
// and how long a second faulting thread waits for the first one's report.
constexpr int kLogWaitMilliseconds = 500;
constexpr int kOtherReportWaitMilliseconds = 5000;

std::string executablePath() {
    if (gameCore.paths) {
        const std::string& path = gameCore.paths->get(PathExecutable);
        if (!path.empty()) return path;
    }
    return platform::executablePath();
}

void waitForOtherReport() {
    for (int waited = 0; waited < kOtherReportWaitMilliseconds && !g_reportDone.load(); ++waited)
        platform::sleepMilliseconds(1);
}

platform::FaultAction onFault(const platform::FaultRecord& fault) {
    const char* title = currentCrashGuardTitle();
    if (!title) return platform::FaultAction::Decline;
    CrashException exception;
    exception.code = fault.exceptionCode;
    exception.address = fault.address;
    exception.registers = &fault.registers;
    if (writeCrashReport(title, exception) == 0) waitForOtherReport();
    return platform::FaultAction::End;
}

void reportGuardException(const char* title, const char* text) {
    CrashException exception;
    exception.code = platform::kExceptionCpp;
    exception.text = text;
    writeCrashReport(title, exception);
}

void logCurrentStack() {
    GameStackWalker walker(StackWalker::OptionsAll);
    walker.walkStack();
}

}  // namespace

const char* exceptionName(std::uint32_t code) {
    switch (code) {
    case 0x80000003u: return "Breakpoint";
    case 0xC0000005u: return "Access violation";
    case 0xC000001Du: return "Illegal instruction";
    case 0xC000008Eu: return "Flt divide by zero";
    case 0xC000008Fu: return "Inexact result";
    case 0xC0000090u: return "Invalid Operation";
    case 0xC0000091u: return "Overflow";
    case 0xC0000092u: return "Stack Check";
    case 0xC0000093u: return "floating point";
    case 0xC0000094u: return "Int divide by zero";
    case 0xC00000FDu: return "Stack overflow";
    default: break;
    }
    thread_local char unknown[128];
    std::snprintf(unknown, sizeof(unknown), "Exception[%08X]", code);
    return unknown;
}

void logRegisters(const platform::CpuRegisters& r) {
    Log& log = engineLog();
    const struct {
        const char* name;
        std::uint64_t value;
    } words[] = {{"rdi", r.rdi}, {"rsi", r.rsi}, {"rbx", r.rbx}, {"rdx", r.rdx}, {"rcx", r.rcx}, {"rax", r.rax},
                 {"rbp", r.rbp}, {"rsp", r.rsp}, {"r8", r.r8},   {"r9", r.r9},   {"r10", r.r10}, {"r11", r.r11},
                 {"r12", r.r12}, {"r13", r.r13}, {"r14", r.r14}, {"r15", r.r15}, {"rip", r.rip}};
    for (const auto& w : words) log.message("%s: %016llX", w.name, static_cast<unsigned long long>(w.value));
    log.message("eflags: %08X", static_cast<unsigned>(r.eflags));
    log.message("[rsp]:");
    for (int i = 0; i < 16; ++i) {
        const std::uint64_t address = r.rsp + 8u * static_cast<unsigned>(i);
        std::uint64_t word = 0;
        if (platform::readMemoryWord(static_cast<std::uintptr_t>(address), word))
            log.message("\t%016llX:\t%016llX", static_cast<unsigned long long>(address),
                        static_cast<unsigned long long>(word));
        else
            log.message("\t%016llX:\t????????????????", static_cast<unsigned long long>(address));
    }
}

int writeCrashReport(const char* title, const CrashException& exception) {
    if (g_crashReported.exchange(1) != 0) return 0;
    Log& log = engineLog();
    log.beginCrashReport(kLogWaitMilliseconds);
    log.message("\n\n\n----------------------------------------------------------------------------------");
    log.systemError("%s", title ? title : "");
    log.systemError("Executable: [%s]", executablePath().c_str());
    const std::int64_t built = platform::fileModifiedTime(platform::executablePath());
    if (built < 0) {
        log.systemError("Invalid window time value");
    } else {
        const std::time_t stamp = static_cast<std::time_t>(built);
        const char* text = std::ctime(&stamp);
        log.systemError("Build from: [%s]", text ? text : "");
    }
    log.systemError("Fatal exception: [%s] at %llx", exceptionName(exception.code),
                    static_cast<unsigned long long>(exception.address));
    if (exception.text) log.systemError("Exception text: [%s]", exception.text);
    if (exception.registers && exception.registers->valid && !platform::debuggerAttached())
        logRegisters(*exception.registers);
    log.flush();
    {
        GameStackWalker walker(StackWalker::OptionsAll);
        walker.walkStack(exception.address);
    }
    log.flush();
    log.endCrashReport();
    g_reportDone.store(true);
    return -1;
}

bool crashReported() { return g_crashReported.load() != 0; }

bool installCrashReporter() {
    platform::initializeSymbols();
    setDebugTrapStackLogger(logCurrentStack);
    setCrashGuardReporter(reportGuardException);
    return platform::installFaultHandler(onFault);
}
