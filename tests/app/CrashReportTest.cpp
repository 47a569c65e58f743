#include "app/CrashReport.h"

#include <gtest/gtest.h>

#include <csignal>
#include <string>
#include <vector>

#include "app/StackWalker.h"
#include "foundation/Log.h"
#include "platform/Faults.h"
#include "support/TestSupport.h"

using testing_support::ScopedGameCore;
using testing_support::TempDir;

namespace {

std::size_t countOf(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

struct ProbeRun {
    int status = -1;
    std::string log;
};

ProbeRun runProbe(const std::string& mode) {
    TempDir dir;
    testing_support::makeFolders(dir.file("appdata"));
    const std::vector<std::string> env = {
        "XDG_DATA_HOME=" + dir.file("appdata"),
        // The sanitizers' own fault handlers would report first.
        "ASAN_OPTIONS=handle_segv=0:handle_sigbus=0:handle_sigfpe=0:handle_sigill=0:handle_abort=0",
    };
    ProbeRun run;
    std::string errors;
    run.status = testing_support::runProgram(CRASH_PROBE, {mode}, env, dir.path(), 60, &errors);
    run.log = testing_support::readFile(dir.file("appdata/Games/game/log/crash_probe.log"));
    return run;
}

TEST(CrashReport, FaultUnderGuardIsReportedOnceAndEndsTheProcessBySignal) {
    struct Case {
        const char* mode;
        int signal;
        std::vector<std::string> present;
        std::vector<std::string> absent;
    } cases[] = {
        {"null",
         SIGSEGV,
         {"Exception at main loop", "Fatal exception: [Access violation] at ", "rip: ", "[rsp]:", "eflags: "},
         {}},
        {"divide", SIGFPE, {"Exception at game loop", "Fatal exception: [Int divide by zero] at "}, {}},
        {"exception-then-fault",
         SIGSEGV,
         {"Exception at game initialize", "Fatal exception: [Exception[E06D7363]] at 0", "[probe failure]",
          "exception passed on"},
         {"Exception at main loop", "Access violation"}},
        {"log-held", SIGSEGV, {"Exception at main loop", "Fatal exception: [Access violation] at "}, {}},
        {"trap", SIGTRAP, {"Exception at game state processing", "Fatal exception: [Breakpoint] at "}, {}},
        {"overflow",
         SIGSEGV,
         {"Exception at load scene", "Fatal exception: [Stack overflow] at ", "crashProbeRecurse",
          "StackWalk64-Endless-Callstack!"},
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mode);
        const ProbeRun run = runProbe(c.mode);
        EXPECT_EQ(run.status, 128 + c.signal);
        EXPECT_EQ(countOf(run.log, "Fatal exception: ["), 1u) << run.log;
        EXPECT_NE(run.log.find("Executable: ["), std::string::npos);
        EXPECT_NE(run.log.find("Build from: ["), std::string::npos);
        for (const auto& text : c.present) EXPECT_NE(run.log.find(text), std::string::npos) << text << "\n" << run.log;
        for (const auto& text : c.absent) EXPECT_EQ(run.log.find(text), std::string::npos) << text << "\n" << run.log;
    }
}

TEST(CrashReport, CallStackStartsAtTheFaultAndNamesTheProbeFunctions) {
    for (const char* mode : {"null", "log-held"}) {
        SCOPED_TRACE(mode);
        const ProbeRun run = runProbe(mode);
        const std::size_t report = run.log.find("Fatal exception: [");
        ASSERT_NE(report, std::string::npos) << run.log;
        const std::string stack = run.log.substr(report);
        const std::size_t l3 = stack.find("crashProbeLevel3");
        const std::size_t l2 = stack.find("crashProbeLevel2");
        const std::size_t l1 = stack.find("crashProbeLevel1");
        ASSERT_NE(l3, std::string::npos) << stack;
        ASSERT_NE(l2, std::string::npos) << stack;
        ASSERT_NE(l1, std::string::npos) << stack;
        // Innermost first, with the fault's own function leading.
        EXPECT_LT(l3, l2);
        EXPECT_LT(l2, l1);
        EXPECT_NE(stack.find("CrashProbe.cpp ("), std::string::npos);
        EXPECT_EQ(stack.find("onFault"), std::string::npos) << "handler frames before the fault";
    }
}

TEST(CrashReport, TwoThreadsFaultingTogetherGiveOneReport) {
    const ProbeRun run = runProbe("two-threads");
    EXPECT_EQ(run.status, 128 + SIGSEGV);
    EXPECT_EQ(countOf(run.log, "Fatal exception: ["), 1u) << run.log;
    EXPECT_EQ(countOf(run.log, "Exception at main loop") + countOf(run.log, "decoding sound buffers"), 1u) << run.log;
    EXPECT_NE(run.log.find("crashProbeLevel3"), std::string::npos) << run.log;
}

TEST(CrashReport, FaultOutsideAnyGuardIsLeftToTheHost) {
    const ProbeRun run = runProbe("unguarded");
    EXPECT_EQ(run.status, 128 + SIGSEGV);
    EXPECT_EQ(run.log.find("Fatal exception"), std::string::npos) << run.log;
}

TEST(CrashReport, DebugTrapWritesTheStackBeforeTheReport) {
    const ProbeRun run = runProbe("trap");
    const std::size_t stack = run.log.find("debugTrap");
    const std::size_t report = run.log.find("Exception at game state processing");
    ASSERT_NE(stack, std::string::npos) << run.log;
    ASSERT_NE(report, std::string::npos) << run.log;
    EXPECT_LT(stack, report);
    EXPECT_NE(run.log.find("main"), std::string::npos);
}

TEST(CrashReport, ExceptionNames) {
    const struct {
        std::uint32_t code;
        const char* name;
    } cases[] = {
        {0x80000003u, "Breakpoint"},         {0xC0000005u, "Access violation"},
        {0xC000001Du, "Illegal instruction"}, {0xC000008Eu, "Flt divide by zero"},
        {0xC000008Fu, "Inexact result"},      {0xC0000090u, "Invalid Operation"},
        {0xC0000091u, "Overflow"},            {0xC0000092u, "Stack Check"},
        {0xC0000093u, "floating point"},      {0xC0000094u, "Int divide by zero"},
        {0xC00000FDu, "Stack overflow"},      {0xC0000006u, "Exception[C0000006]"},
        {0x0000ABCDu, "Exception[0000ABCD]"},
    };
    for (const auto& c : cases) EXPECT_STREQ(exceptionName(c.code), c.name);
}

// The one in-process report of this test program: the flag is process-wide.
TEST(CrashReport, InProcessReportHasItsLinesInOrderAndOnlyOnce) {
    ScopedGameCore core;
    std::uint64_t stackWords[16];
    for (int i = 0; i < 16; ++i) stackWords[i] = 0x1111111111111111ull * static_cast<unsigned>(i);
    platform::CpuRegisters registers;
    registers.valid = true;
    registers.rdi = 0xD1;
    registers.rip = 0x401000;
    registers.rsp = reinterpret_cast<std::uintptr_t>(stackWords);
    CrashException exception;
    exception.code = 0xC0000005u;
    exception.address = 0x401000;
    exception.registers = &registers;

    ASSERT_FALSE(crashReported());
    EXPECT_EQ(writeCrashReport("first phase", exception), -1);
    EXPECT_TRUE(crashReported());
    EXPECT_EQ(writeCrashReport("second phase", exception), 0);

    const auto records = core.log().records();
    std::vector<std::string> texts;
    for (const auto& r : records) texts.push_back(r.text);
    ASSERT_GE(texts.size(), 8u);
    EXPECT_EQ(texts[0], "\n\n\n" + std::string(82, '-'));
    EXPECT_EQ(texts[1], "first phase");
    EXPECT_EQ(texts[2].rfind("Executable: [", 0), 0u);
    // The build time keeps the line feed its text ends with.
    EXPECT_EQ(texts[3].rfind("Build from: [", 0), 0u);
    EXPECT_EQ(texts[3].substr(texts[3].size() - 2), "\n]");
    EXPECT_EQ(texts[4], "Fatal exception: [Access violation] at 401000");
    EXPECT_EQ(records[4].level, LevelSysError);
    EXPECT_FALSE(core.log().contains("second phase"));
    if (!platform::debuggerAttached()) {
        EXPECT_EQ(texts[5], "rdi: 00000000000000D1");
        EXPECT_TRUE(core.log().contains("rip: 0000000000401000"));
        char word[64];
        std::snprintf(word, sizeof(word), "\t%016llX:\t2222222222222222",
                      static_cast<unsigned long long>(registers.rsp + 16));
        EXPECT_TRUE(core.log().contains(word));
    }
    EXPECT_TRUE(core.log().contains("SymInit: Symbol-SearchPath: '"));
}

}  // namespace
