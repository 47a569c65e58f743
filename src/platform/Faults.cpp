#include "platform/Faults.h"

#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <sys/utsname.h>
#include <ucontext.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace platform {

namespace {

constexpr int kFaultSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP};

std::atomic<FaultHandler> g_handler{nullptr};
struct sigaction g_previous[NSIG];
std::atomic<bool> g_installed{false};

std::uint32_t exceptionCodeOf(int signal, int code, std::uintptr_t dataAddress, std::uint64_t sp) {
    switch (signal) {
    case SIGSEGV:
        // A touch just below or at the stack pointer is the stack running out.
        if (dataAddress != 0 && sp != 0 && dataAddress + 65536 > sp && dataAddress < sp + 4096)
            return kExceptionStackOverflow;
        return kExceptionAccessViolation;
    case SIGBUS:
        return code == BUS_ADRALN ? kExceptionDatatypeMisalignment : kExceptionInPageError;
    case SIGILL:
        return kExceptionIllegalInstruction;
    case SIGTRAP:
        return kExceptionBreakpoint;
    case SIGFPE:
        switch (code) {
        case FPE_INTDIV: return kExceptionIntDivideByZero;
        case FPE_INTOVF: return kExceptionIntOverflow;
        case FPE_FLTDIV: return kExceptionFltDivideByZero;
        case FPE_FLTOVF: return kExceptionFltOverflow;
        case FPE_FLTUND: return kExceptionFltUnderflow;
        case FPE_FLTRES: return kExceptionFltInexactResult;
        default: return kExceptionFltInvalidOperation;
        }
    default:
        return 0;
    }
}

void readRegisters(const void* context, CpuRegisters& r) {
#if defined(__x86_64__)
    if (!context) return;
    const auto* uc = static_cast<const ucontext_t*>(context);
    const greg_t* g = uc->uc_mcontext.gregs;
    r.rax = static_cast<std::uint64_t>(g[REG_RAX]);
    r.rbx = static_cast<std::uint64_t>(g[REG_RBX]);
    r.rcx = static_cast<std::uint64_t>(g[REG_RCX]);
    r.rdx = static_cast<std::uint64_t>(g[REG_RDX]);
    r.rsi = static_cast<std::uint64_t>(g[REG_RSI]);
    r.rdi = static_cast<std::uint64_t>(g[REG_RDI]);
    r.rbp = static_cast<std::uint64_t>(g[REG_RBP]);
    r.rsp = static_cast<std::uint64_t>(g[REG_RSP]);
    r.r8 = static_cast<std::uint64_t>(g[REG_R8]);
    r.r9 = static_cast<std::uint64_t>(g[REG_R9]);
    r.r10 = static_cast<std::uint64_t>(g[REG_R10]);
    r.r11 = static_cast<std::uint64_t>(g[REG_R11]);
    r.r12 = static_cast<std::uint64_t>(g[REG_R12]);
    r.r13 = static_cast<std::uint64_t>(g[REG_R13]);
    r.r14 = static_cast<std::uint64_t>(g[REG_R14]);
    r.r15 = static_cast<std::uint64_t>(g[REG_R15]);
    r.rip = static_cast<std::uint64_t>(g[REG_RIP]);
    r.eflags = static_cast<std::uint64_t>(g[REG_EFL]);
    r.valid = true;
#else
    (void)context;
    (void)r;
#endif
}

void onFault(int signal, siginfo_t* info, void* context) {
    const int savedErrno = errno;
    FaultRecord fault;
    fault.signal = signal;
    readRegisters(context, fault.registers);
    fault.dataAddress = reinterpret_cast<std::uintptr_t>(info ? info->si_addr : nullptr);
    fault.address = fault.registers.valid ? fault.registers.rip : fault.dataAddress;
    fault.exceptionCode = exceptionCodeOf(signal, info ? info->si_code : 0, fault.dataAddress, fault.registers.rsp);

    const FaultHandler handler = g_handler.load();
    const FaultAction action = handler ? handler(fault) : FaultAction::Decline;
    if (action == FaultAction::End) {
        struct sigaction dfl {};
        dfl.sa_handler = SIG_DFL;
        sigemptyset(&dfl.sa_mask);
        sigaction(signal, &dfl, nullptr);
    } else {
        sigaction(signal, &g_previous[signal], nullptr);
    }
    // A faulting instruction faults again when it is resumed; a trap or a sent
    // signal does not, so it is sent once more (delivered when this returns).
    if (signal == SIGTRAP || !info || info->si_code <= 0) raise(signal);
    errno = savedErrno;
}

// The calling thread's alternate signal stack, freed when the thread ends.
struct AltStack {
    void* memory = nullptr;
    std::size_t size = 0;
    ~AltStack() {
        if (!memory) return;
        stack_t off{};
        off.ss_flags = SS_DISABLE;
        sigaltstack(&off, nullptr);
        munmap(memory, size);
    }
};

}  // namespace

bool installFaultHandler(FaultHandler handler) {
    g_handler.store(handler);
    if (g_installed.exchange(true)) return true;
    struct sigaction action {};
    action.sa_sigaction = onFault;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    for (int s : kFaultSignals) sigaddset(&action.sa_mask, s);
    bool ok = true;
    for (int s : kFaultSignals) {
        if (sigaction(s, &action, &g_previous[s]) != 0) ok = false;
    }
    return prepareThreadForFaults() && ok;
}

bool prepareThreadForFaults() {
    thread_local AltStack stack;
    if (stack.memory) return true;
    stack_t current{};
    if (sigaltstack(nullptr, &current) == 0 && !(current.ss_flags & SS_DISABLE) && current.ss_sp) return true;
    const std::size_t size = 256 * 1024;
    void* memory = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED) return false;
    stack_t next{};
    next.ss_sp = memory;
    next.ss_size = size;
    if (sigaltstack(&next, nullptr) != 0) {
        munmap(memory, size);
        return false;
    }
    stack.memory = memory;
    stack.size = size;
    return true;
}

void raiseBreakpoint() { raise(SIGTRAP); }

bool debuggerAttached() {
    const int fd = open("/proc/self/status", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    char text[4096];
    const ssize_t n = read(fd, text, sizeof(text) - 1);
    close(fd);
    if (n <= 0) return false;
    text[n] = 0;
    const char* field = std::strstr(text, "TracerPid:");
    if (!field) return false;
    return std::atoi(field + 10) != 0;
}

bool readMemoryWord(std::uintptr_t address, std::uint64_t& value) {
    struct iovec local {
        &value, sizeof(value)
    };
    struct iovec remote {
        reinterpret_cast<void*>(address), sizeof(value)
    };
    return process_vm_readv(getpid(), &local, 1, &remote, 1, 0) == static_cast<ssize_t>(sizeof(value));
}

std::int64_t fileModifiedTime(const std::string& hostPath) {
    struct stat st {};
    if (stat(hostPath.c_str(), &st) != 0) return -1;
    return static_cast<std::int64_t>(st.st_mtime);
}

std::string userName() {
    struct passwd entry {};
    struct passwd* found = nullptr;
    char buffer[1024];
    if (getpwuid_r(geteuid(), &entry, buffer, sizeof(buffer), &found) == 0 && found && found->pw_name)
        return found->pw_name;
    const char* env = std::getenv("USER");
    return env ? env : "";
}

bool systemVersion(int& major, int& minor, int& build, std::string& text) {
    struct utsname name {};
    if (uname(&name) != 0) return false;
    major = minor = build = 0;
    std::sscanf(name.release, "%d.%d.%d", &major, &minor, &build);
    text = name.version;
    return true;
}

std::string currentFolder() {
    char buffer[4096];
    return getcwd(buffer, sizeof(buffer)) ? buffer : "";
}

}  // namespace platform
