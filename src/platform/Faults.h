// Hardware faults and traps of the host, as the engine's crash reporter sees
// them.
//
// The host's fault signals (segmentation and bus faults, arithmetic faults,
// illegal instructions, traps) are caught on a per-thread alternate stack and
// handed to one engine handler as a FaultRecord that carries the exception
// code the engine names, the faulting instruction's address, the x86-64
// register set and the fault's context for the stack walk. The handler
// decides whether the fault ends the process by its signal's default action
// or goes on to the action that was installed before.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// Exception codes of the system the engine was written for; the crash
// report names them, so the values are fixed.
constexpr std::uint32_t kExceptionDatatypeMisalignment = 0x80000002u;
constexpr std::uint32_t kExceptionBreakpoint = 0x80000003u;
constexpr std::uint32_t kExceptionAccessViolation = 0xC0000005u;
constexpr std::uint32_t kExceptionInPageError = 0xC0000006u;
constexpr std::uint32_t kExceptionIllegalInstruction = 0xC000001Du;
constexpr std::uint32_t kExceptionFltDenormalOperand = 0xC000008Du;
constexpr std::uint32_t kExceptionFltDivideByZero = 0xC000008Eu;
constexpr std::uint32_t kExceptionFltInexactResult = 0xC000008Fu;
constexpr std::uint32_t kExceptionFltInvalidOperation = 0xC0000090u;
constexpr std::uint32_t kExceptionFltOverflow = 0xC0000091u;
constexpr std::uint32_t kExceptionFltStackCheck = 0xC0000092u;
constexpr std::uint32_t kExceptionFltUnderflow = 0xC0000093u;
constexpr std::uint32_t kExceptionIntDivideByZero = 0xC0000094u;
constexpr std::uint32_t kExceptionIntOverflow = 0xC0000095u;
constexpr std::uint32_t kExceptionStackOverflow = 0xC00000FDu;
// A C++ exception, in the same code space.
constexpr std::uint32_t kExceptionCpp = 0xE06D7363u;

// The integer registers of the interrupted thread (x86-64 set); valid is
// false on other processors or when no context is at hand.
struct CpuRegisters {
    bool valid = false;
    std::uint64_t rax = 0, rbx = 0, rcx = 0, rdx = 0, rsi = 0, rdi = 0, rbp = 0, rsp = 0;
    std::uint64_t r8 = 0, r9 = 0, r10 = 0, r11 = 0, r12 = 0, r13 = 0, r14 = 0, r15 = 0;
    std::uint64_t rip = 0, eflags = 0;
};

struct FaultRecord {
    int signal = 0;
    std::uint32_t exceptionCode = 0;
    std::uintptr_t address = 0;      // the faulting instruction
    std::uintptr_t dataAddress = 0;  // the memory the fault touched, when any
    CpuRegisters registers;
};

enum class FaultAction {
    Decline,  // not ours: the earlier action of the signal takes it
    End,      // end the process by the signal's default action
};

// Runs on the faulting thread, on its alternate stack.
using FaultHandler = FaultAction (*)(const FaultRecord& fault);

// Installs the handler for the fault signals (once per process; a second call
// only replaces the handler). False when the host refuses.
bool installFaultHandler(FaultHandler handler);
// Gives the calling thread an alternate signal stack, so that a stack
// overflow can still be reported; released when the thread ends. Cheap when
// the thread already has one.
bool prepareThreadForFaults();

// Raises a breakpoint trap on the calling thread.
void raiseBreakpoint();
// True when a tracer (a debugger) is attached to the process.
bool debuggerAttached();
// Reads one machine word of this process without faulting; false when the
// address cannot be read.
bool readMemoryWord(std::uintptr_t address, std::uint64_t& value);
// Last modification time of a file (seconds since the epoch), -1 when it
// cannot be read.
std::int64_t fileModifiedTime(const std::string& hostPath);
// The login name of the user running the process; empty when unknown.
std::string userName();
// Kernel release numbers and the version text; false when unknown.
bool systemVersion(int& major, int& minor, int& build, std::string& text);
// The current working folder; empty when unknown.
std::string currentFolder();

}  // namespace platform
